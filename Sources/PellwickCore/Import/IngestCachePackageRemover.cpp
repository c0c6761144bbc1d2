#include "IngestCachePackageRemover.h"

#include <QDir>
#include <QHash>

#include <algorithm>

namespace Pellwick {

namespace {

bool isNotFound(const Error &error)
{
    const auto *backend = error.as<LibrarySessionClientError>();
    if (!backend)
        return false;
    const auto *status = std::get_if<LibrarySessionClientError::UnexpectedStatus>(&backend->value);
    return status && status->statusCode == 404;
}

bool isRemovable(const LocalLibraryItem &item)
{
    return (item.importStatus == LibraryItemImportStatus::LocalCacheReady
            || item.importStatus == LibraryItemImportStatus::NeedsAttention)
           && item.ingestCacheOriginalURL;
}

} // namespace

IngestCachePackageRemover::IngestCachePackageRemover(
    LocalLibraryCache cache,
    StagingArea stagingArea,
    IngestCache ingestCache,
    std::shared_ptr<const VerifiedBackupImportCancelling> api)
    : m_cache(std::move(cache))
    , m_stagingArea(std::move(stagingArea))
    , m_ingestCache(std::move(ingestCache))
    , m_api(std::move(api))
{}

Result<QList<LocalLibraryItem>>
IngestCachePackageRemover::removableItems(const QSet<QUuid> &ids) const
{
    Result<LocalLibraryCacheRecords> records = m_cache.cachedRecords();
    PELLWICK_TRY(records);
    QList<LocalLibraryItem> removable;
    if (ids.isEmpty())
        return removable;
    records->forEach([&](const LocalLibraryItem &item) {
        if (ids.contains(item.id) && isRemovable(item)) {
            removable.append(item);
        }
    });
    return removable;
}

Result<QSet<QUuid>> IngestCachePackageRemover::removePackages(const QSet<QUuid> &ids,
                                                              const QString &token,
                                                              std::stop_token stop) const
{
    Result<QList<LocalLibraryItem>> items = removableItems(ids);
    PELLWICK_TRY(items);
    // A backend item that a record holds as archived is nobody's import to cancel: the request
    // would ask the backend to delete an archived backup.
    QSet<qint64> archived;
    if (!items->isEmpty()) {
        Result<LocalLibraryCacheRecords> records = m_cache.cachedRecords();
        PELLWICK_TRY(records);
        records->forEach([&](const LocalLibraryItem &record) {
            if (record.backendLibraryItemID && isInTheArchive(record.importStatus))
                archived.insert(*record.backendLibraryItemID);
        });
    }

    // So is one a staging ended verified under, or heard holds its bytes, also when the library
    // missed that: the staging's record is the backend's own word. And an id that no staging of
    // this machine holds is no import of ours (a rebuilt record merged with a fresh copy can
    // carry another machine's): only the local package goes.
    QSet<qint64> staging;
    if (std::any_of(items->cbegin(), items->cend(), [&archived](const LocalLibraryItem &item) {
            return item.backendLibraryItemID && !archived.contains(*item.backendLibraryItemID);
        })) {
        PELLWICK_TRY_ASSIGN(const StagingRecoveryReport staged,
                            m_stagingArea.readRecoverableRecords());
        for (const StagedImportRecord &record : staged.records) {
            if (!record.backendLibraryItemID)
                continue;
            if (record.phase == StagedImportPhase::VerifiedBackup
                || record.phase == StagedImportPhase::Duplicate)
                archived.insert(*record.backendLibraryItemID);
            else
                staging.insert(*record.backendLibraryItemID);
        }
    }

    QSet<QUuid> removed;
    std::optional<FileUsers> fileUsers;
    for (const LocalLibraryItem &item : *items) {
        if (stop.stop_requested())
            return failure(CancellationError{});
        if (item.backendLibraryItemID && staging.contains(*item.backendLibraryItemID)
            && !archived.contains(*item.backendLibraryItemID)) {
            Result<void> cancelled
                = m_api->cancelVerifiedBackupImport(token, *item.backendLibraryItemID, stop);
            if (!cancelled && !isNotFound(cancelled.error()))
                return tl::unexpected<Error>(cancelled.error());
        }
        // Every staging of the item: a leftover one would upload the package after all.
        PELLWICK_TRY(m_stagingArea.removeRecords(item.id));

        PELLWICK_TRY_ASSIGN(const bool gone, removeCachedPackage(item, fileUsers));
        if (gone)
            removed.insert(item.id);
    }
    return removed;
}

Result<bool>
IngestCachePackageRemover::removeCachedPackage(const LocalLibraryItem &item,
                                               std::optional<FileUsers> &fileUsers) const
{
    // Decided on the records as they are while the files go: a reconciliation or a rebuild may
    // have changed them since the items were chosen, and waits meanwhile.
    return m_cache.withExclusiveAccess([&]() -> Result<bool> {
        PELLWICK_TRY_ASSIGN(const LocalLibraryCacheRecords records, m_cache.cachedRecords());
        const QList<qsizetype> positions = records.positions(item.id);
        if (positions.isEmpty())
            return true; // removed meanwhile
        const LocalLibraryItem &current = records.at(positions.last());
        // A record that an import took up or a rebuild linked to its archived item meanwhile is
        // no longer only in the Ingest Cache.
        if (!isRemovable(current) || current.backendLibraryItemID != item.backendLibraryItemID)
            return false;
        if (!fileUsers || !records.sharesRecordsWith(fileUsers->records))
            fileUsers.emplace(
                FileUsers{records, IngestCacheFileUsers(records, m_cache.fileManager()), {}});

        // A file overwritten in place leaves two records naming it (the old one needing
        // attention, a new ready one), perhaps spelled otherwise: removing the old package must
        // not delete the new record's only copy.
        QStringList files;
        for (const auto &url : {current.ingestCacheOriginalURL, current.ingestCacheSidecarURL}) {
            if (!url)
                continue;
            QSet<QUuid> users = fileUsers->users.users(*url);
            users.subtract(fileUsers->removedIDs);
            users.remove(item.id);
            if (users.isEmpty())
                files.append(*url);
        }
        if (!files.isEmpty()) {
            PELLWICK_TRY(m_cache.makeLoadedFilesDurable());
            PELLWICK_TRY(m_ingestCache.removeUnarchivedPackage(
                files.at(0), files.size() > 1 ? std::optional(files.at(1)) : std::nullopt));
        }
        PELLWICK_TRY(m_cache.removeItems({item.id}));
        // Only this removal changed the records since the users were found.
        fileUsers->removedIDs.insert(item.id);
        PELLWICK_TRY_ASSIGN(fileUsers->records, m_cache.cachedRecords());
        return true;
    });
}

} // namespace Pellwick
