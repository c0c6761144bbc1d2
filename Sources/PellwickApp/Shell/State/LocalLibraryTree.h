#pragma once

#include <PellwickApp/Shell/State/LocalLibraryTreeNode.h>
#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QHash>
#include <QList>
#include <QString>

namespace Pellwick {

class FileManager;

/// Turns library records into the rows of the library folder tree, which mirrors the layout of
/// the Ingest Cache: folders, one row per photo (the records of one content hash, split by their
/// sidecars as the store splits records only where several photos share the content; shown at
/// the path of the group's display item), files without records, and paging rows that reveal more child
/// folders. Pure: no shared state and no Qt Gui, so any thread may build (the file
/// manager is thread-safe); a build makes the rows of its folders on Core's executor as well.
class LocalLibraryTree
{
public:
    LocalLibraryTree() = delete;

    /// How many child folders a folder shows by default, and the most a paging row reveals.
    static constexpr int folderPageSize = 25;

    /// The root folder's rows. With `includePhysicalEntries`, the folders and visible files below
    /// `cacheRoot` get rows too (hidden entries and everything inside hidden folders left out,
    /// symbolic links shown as files and never followed). `visibleFolderCounts` maps a folder row
    /// id ("folder:" + path, the root "folder:") to the number of child folders it shows, 25 when
    /// absent, a negative count as 0. Never fails: what cannot be listed contributes nothing.
    static QList<LocalLibraryTreeNode> build(const QList<LocalLibraryItem> &items,
                                             const QString &cacheRoot,
                                             bool includePhysicalEntries,
                                             const QHash<QString, qint64> &visibleFolderCounts,
                                             const FileManager &fileManager);

    /// The items an Import (ready in the Ingest Cache) or a Restore (a Verified Backup the backend
    /// knows, with its size) can act on, sorted by the upper-case text of their ids.
    static QList<LocalLibraryItem> actionableItems(const LocalLibraryItemRun &items);
};

} // namespace Pellwick
