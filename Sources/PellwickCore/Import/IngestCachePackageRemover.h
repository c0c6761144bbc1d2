#pragma once

#include <PellwickCore/Import/StagingArea.h>
#include <PellwickCore/Import/VerifiedBackupImportCancelling.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Library/IngestCacheFileUsers.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Support/Result.h>

#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>
#include <stop_token>

namespace Pellwick {

/// Deletes packages that never reached the archive: for each selected library item that is
/// only in the Ingest Cache (ready to import, or needing attention), its import on the backend,
/// its Staging Area folder, its cached files and its library record, in that order. Not
/// coordinated with a running import: do not offer removal while one runs.
class IngestCachePackageRemover
{
public:
    IngestCachePackageRemover(LocalLibraryCache cache,
                              StagingArea stagingArea,
                              IngestCache ingestCache,
                              std::shared_ptr<const VerifiedBackupImportCancelling> api);

    /// The items of `ids` that would be removed, in stored order: ready or needs-attention items
    /// with a cached original. Fails with the store's read error.
    [[nodiscard]] Result<QList<LocalLibraryItem>> removableItems(const QSet<QUuid> &ids) const;

    /// Removes the removable items of `ids` one after the other and returns their ids. An item's
    /// backend import is cancelled first, unless a library record holds that backend item as
    /// archived or a staging record ended verified or duplicate under it (a cancel would ask to
    /// delete an archived backup); a backend answer 404 to the cancel counts as done. Its cached
    /// files and its record then go under the library's exclusive access, decided on the records
    /// as they are then (waiting for a reconciliation under way): a cached file that another
    /// record names, under any spelling of its path, is kept, and an item that is no longer
    /// removable or was linked to a backend item meanwhile keeps its files and record and is
    /// left out of the result. The first other failure ends the call: earlier items stay
    /// removed, the failing one partly (a later call finishes it), later ones untouched. `stop`
    /// is passed to the backend and checked between items (`CancellationError`).
    [[nodiscard]] Result<QSet<QUuid>>
    removePackages(const QSet<QUuid> &ids, const QString &token, std::stop_token stop = {}) const;

private:
    /// Which records name which cached file, as found for `records`, less those removed since.
    struct FileUsers
    {
        LocalLibraryCacheRecords records;
        IngestCacheFileUsers users;
        QSet<QUuid> removedIDs;
    };

    /// Removes the item's cached files that no other record names and its record, as the
    /// library holds them now; false, changing nothing, when it is no longer removable.
    [[nodiscard]] Result<bool> removeCachedPackage(const LocalLibraryItem &item,
                                                   std::optional<FileUsers> &fileUsers) const;

    LocalLibraryCache m_cache;
    StagingArea m_stagingArea;
    IngestCache m_ingestCache;
    std::shared_ptr<const VerifiedBackupImportCancelling> m_api;
};

} // namespace Pellwick
