#pragma once

#include <PellwickApp/Shell/State/LocalLibraryTreeNode.h>
#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace Pellwick {

/// The library operations the library pages call; the filters are set on `LibraryState`. Main thread only;
/// `LibraryWorkflows` implements it.
class LibraryOperations
{
public:
    LibraryOperations() = default;
    virtual ~LibraryOperations() = default;
    LibraryOperations(const LibraryOperations &) = delete;
    LibraryOperations &operator=(const LibraryOperations &) = delete;

    /// Re-reads the library and publishes the visible items.
    virtual void refreshVisibleLocalLibraryItems(bool pruningRestoreSelection) = 0;
    /// The distinct ingest source names of the records.
    virtual QStringList localLibraryIngestSources() const = 0;
    /// The newest folder tree built of the visible items; none until the first build ends. When
    /// it was built for other items, filters or `visibleFolderCounts`, a build for these starts
    /// off the main thread, and `LibraryState::localLibraryTreeChanged` announces its result.
    virtual std::optional<QList<LocalLibraryTreeNode>>
    localLibraryTree(const QHash<QString, qint64> &visibleFolderCounts) = 0;
    /// The absolute path of `item`'s available preview in the Local Library Cache; none for a
    /// failed preview or a stored path outside the cache's preview folder.
    virtual std::optional<QString> localLibraryPreviewURL(const LocalLibraryItem &item) const = 0;
    /// The visible item with the inspected id.
    virtual std::optional<LocalLibraryItem> inspectedLocalLibraryItem() const = 0;
    /// Inspects `item` (none clears).
    virtual void inspectLocalLibraryItem(const std::optional<LocalLibraryItem> &item) = 0;
    /// Whether the search text or a filter differs from its default.
    virtual bool hasActiveLocalLibraryFilters() const = 0;
    /// Puts the filters back to their defaults with one refresh.
    virtual void resetLocalLibraryFilters() = 0;
    /// Asks for a source-media safety check (run at most every 60 s).
    virtual void scheduleSourceMediaSafetyRefresh() = 0;
    /// Checks that the folders Pellwick writes its own files into can take a file.
    virtual QCoro::Task<> checkDataFolders() = 0;
};

} // namespace Pellwick
