// The cleanup pass over archived packages left in the Ingest Cache.
#include "ArchivedCacheCleanupPass.h"

#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Library/IngestCacheFileUsers.h>

#include <QFile>
#include <QtConcurrent>

#include <utility>

#include <sys/stat.h>

namespace Pellwick {

namespace {

bool isEligibleForCleanup(const LocalLibraryItem &item)
{
    return item.ingestCacheOriginalURL && isInTheArchive(item.importStatus);
}

/// The cached files as found holding what the archive holds: the RAW original's bytes and, when
/// a sidecar is cached, the archived sidecar's (a duplicate's archived copy may carry another
/// card's sidecar, or none); none when they do not.
std::optional<CheckedCachePackage> archivedPackage(const IngestCache &cache,
                                                   const LocalLibraryItem &item)
{
    return cache.checkArchivedPackage(*item.ingestCacheOriginalURL,
                                      item.ingestCacheSidecarURL,
                                      item.contentHash,
                                      item.ingestCacheSidecarURL ? item.archiveSidecarContentHash
                                                                 : std::nullopt);
}

/// Whether the cached files, not the archive's, are still those the record was made from.
bool holdsOwnPackage(const IngestCache &cache, const LocalLibraryItem &item)
{
    return item.ingestCacheSidecarContentHash != item.archiveSidecarContentHash
           && cache.matchesArchivedPackage(*item.ingestCacheOriginalURL,
                                           item.ingestCacheSidecarURL,
                                           item.contentHash,
                                           item.ingestCacheSidecarContentHash);
}

/// What tells a file's bytes unchanged since it was hashed: any write changes its change time.
struct FileStamp
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec changed = {};

    bool operator==(const FileStamp &other) const
    {
        return device == other.device && inode == other.inode && size == other.size
               && changed.tv_sec == other.changed.tv_sec
               && changed.tv_nsec == other.changed.tv_nsec;
    }
};

std::optional<FileStamp> stampOf(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return FileStamp{status.st_dev, status.st_ino, status.st_size, status.st_ctim};
}

/// The hashes of the files of one pass, taken ahead on the hashes-ahead pool. A package check
/// takes a hash from here only while its file is unchanged since it was hashed; otherwise, and
/// for a file that could not be hashed ahead, it hashes the file anew. Once `stop` is requested
/// no further file is hashed ahead.
class HashesTakenAhead final : public ContentHashing
{
public:
    HashesTakenAhead(std::shared_ptr<const ContentHashing> hasher,
                     const QStringList &paths,
                     std::stop_token stop)
        : m_hasher(std::move(hasher))
    {
        using Taken = std::optional<std::pair<FileStamp, QString>>;
        const QList<Taken> taken = QtConcurrent::blockingMapped<QList<Taken>>(
            &WorkflowPools::hashesAhead(),
            paths,
            [hasher = m_hasher, stop](const QString &path) -> Taken {
                if (stop.stop_requested())
                    return std::nullopt;
                const std::optional<FileStamp> stamp = stampOf(path);
                const Result<QString> hash = hasher->contentHash(path, stop);
                if (!stamp || !hash)
                    return std::nullopt;
                return std::pair(*stamp, *hash);
            });
        for (qsizetype i = 0; i < paths.size(); ++i) {
            if (taken.at(i))
                m_taken.insert(paths.at(i), *taken.at(i));
        }
    }

    Result<QString> contentHash(const QString &path, std::stop_token stop) const override
    {
        const auto found = m_taken.constFind(path);
        if (found != m_taken.cend() && stampOf(path) == found->first)
            return found->second;
        return m_hasher->contentHash(path, stop);
    }

    bool allowsConcurrentCalls() const override { return true; }

    bool hashIsSha256OfContent() const override { return m_hasher->hashIsSha256OfContent(); }

private:
    std::shared_ptr<const ContentHashing> m_hasher;
    QHash<QString, std::pair<FileStamp, QString>> m_taken;
};

/// Whether the staged copies of `record`'s package serve nothing any more: the archive holds the
/// package (a Verified Backup, or a duplicate of what it holds, sidecar included), the library
/// durably records it so, and the package has left the Ingest Cache.
bool isSettledStagedPackage(const StagedImportRecord &record, const LocalLibraryItem &item)
{
    if (item.ingestCacheOriginalURL || item.contentHash != record.contentHash)
        return false;
    if (record.phase == StagedImportPhase::VerifiedBackup)
        return item.importStatus == LibraryItemImportStatus::VerifiedBackup;
    return record.phase == StagedImportPhase::Duplicate
           && item.importStatus == LibraryItemImportStatus::Duplicate
           && item.archiveSidecarContentHash == record.sidecarContentHash;
}

/// Removes the Staging Area folders of settled packages (`isSettledStagedPackage`), this pass's
/// and those earlier passes left. Folders needing attention or unfinished stay, and so does one
/// that cannot be read or removed: the next pass tries again.
void removeSettledStagedPackages(const StagingArea &staging, const LocalLibraryCache &library)
{
    const Result<StagingRecoveryReport> report = staging.readRecoverableRecords();
    if (!report || report->records.isEmpty())
        return;
    const Result<LocalLibraryCacheRecords> records = library.cachedRecords();
    if (!records)
        return;
    QHash<QUuid, qsizetype> positions;
    for (const StagedImportRecord &record : report->records)
        positions.insert(record.localLibraryItemID, -1);
    for (qsizetype p = 0; p < records->size(); ++p) {
        const auto found = positions.find(records->at(p).id);
        if (found != positions.end())
            *found = p;
    }
    for (const StagedImportRecord &record : report->records) {
        const qsizetype p = positions.value(record.localLibraryItemID, -1);
        if (p < 0 || !isSettledStagedPackage(record, records->at(p)))
            continue;
        // Only a library that says so after a power cut lets the staged copies go.
        if (!library.makeLoadedFilesDurable())
            return;
        (void) staging.removePackage(record);
    }
}

/// The eligible records among `records`, or the eligible packages of `given` (in its order) whose
/// records are still archived, with their records' status: a copy that a record took and then left
/// for another copy of the same bytes is one of them.
QList<LocalLibraryItem> candidatesAmong(const LocalLibraryCacheRecords &records,
                                        const std::optional<QList<LocalLibraryItem>> &given)
{
    QList<LocalLibraryItem> candidates;
    if (!given) {
        records.forEach([&](const LocalLibraryItem &item) {
            if (isEligibleForCleanup(item))
                candidates.append(item);
        });
        return candidates;
    }
    for (const LocalLibraryItem &wanted : *given) {
        const QList<qsizetype> positions = records.positions(wanted.id);
        if (positions.isEmpty() || !isEligibleForCleanup(wanted))
            continue;
        const LibraryItemImportStatus status = records.at(positions.last()).importStatus;
        if (isInTheArchive(status))
            candidates.append(wanted.replacingImportStatus(status));
    }
    return candidates;
}

/// The pass over `candidates` with the library's exclusive access held; `records` are the
/// library's.
Result<IngestCacheWorkflows::ArchivedCacheCleanup>
cleanUpLocked(const QList<LocalLibraryItem> &candidates,
              const LocalLibraryCacheRecords &records,
              const IngestCache &cache,
              const LocalLibraryCache &library,
              const StagingArea &staging)
{
    // A file another record names stays: two originals of one shot may share one cached sidecar,
    // and records may spell the cache otherwise (through a symbolic link).
    const IngestCacheFileUsers fileUsers(records, library.fileManager());
    IngestCacheWorkflows::ArchivedCacheCleanup cleanup;
    // Records whose link is dropped in this pass (removed, or no longer matching), and those of
    // them that go back from cleanup pending to Verified Backup.
    QSet<QUuid> released, restored;
    for (const LocalLibraryItem &item : candidates) {
        const bool wasPending = item.importStatus == LibraryItemImportStatus::CleanupPending;
        const std::optional<CheckedCachePackage> checked = archivedPackage(cache, item);
        if (!checked) {
            if (wasPending)
                restored.insert(item.id);
            // A package the archive lacks, as the record found it, stays named: only a changed
            // or vanished copy loses its link.
            if (!holdsOwnPackage(cache, item))
                released.insert(item.id);
            continue;
        }
        CheckedCachePackage unshared;
        for (const CheckedCacheFile &file : checked->files) {
            QSet<QUuid> users = fileUsers.users(file.url);
            users.remove(item.id);
            users.subtract(released);
            if (users.isEmpty())
                unshared.files.append(file);
        }
        const Result<bool> removed = [&]() -> Result<bool> {
            PELLWICK_TRY(library.makeLoadedFilesDurable());
            return cache.removeCheckedPackage(unshared);
        }();
        if (removed) {
            // A file saved anew since the check stays, and the record lets go of what is no
            // longer the archived package.
            if (wasPending)
                restored.insert(item.id);
            if (*removed)
                cleanup.removedItemIDs.insert(item.id);
            released.insert(item.id);
        } else {
            // A duplicate stays a duplicate: a Verified Backup would call its card safe to erase.
            if (item.importStatus != LibraryItemImportStatus::Duplicate)
                PELLWICK_TRY(
                    library.updateImportStatus(item.id, LibraryItemImportStatus::CleanupPending));
            ++cleanup.pendingCount;
        }
    }
    // One journal entry each for the whole pass: a library may hold thousands of records whose
    // copies are gone. What a failed pass left unwritten, the next pass finds and writes again.
    if (!restored.isEmpty())
        PELLWICK_TRY(
            library.updateImportStatuses(restored, LibraryItemImportStatus::VerifiedBackup));
    PELLWICK_TRY(library.removeIngestCachePackages(released));
    removeSettledStagedPackages(staging, library);
    return cleanup;
}

} // namespace

Result<IngestCacheWorkflows::ArchivedCacheCleanup>
cleanUpArchivedPackages(const std::optional<QList<LocalLibraryItem>> &given,
                        IngestCache cache,
                        const LocalLibraryCache &library,
                        const StagingArea &staging,
                        std::stop_token stop)
{
    if (cache.contentHasher().allowsConcurrentCalls()) {
        // Hashed before the library's exclusive access is taken: a pass may read gigabytes.
        PELLWICK_TRY_ASSIGN(const LocalLibraryCacheRecords records, library.cachedRecords());
        QStringList paths;
        for (const LocalLibraryItem &item : candidatesAmong(records, given)) {
            paths.append(*item.ingestCacheOriginalURL);
            if (item.ingestCacheSidecarURL)
                paths.append(*item.ingestCacheSidecarURL);
        }
        cache = cache.replacingContentHasher(
            std::make_shared<HashesTakenAhead>(cache.sharedContentHasher(), paths, stop));
    }
    if (stop.stop_requested())
        return failure(CancellationError{});
    // Decided on the records as they are while the files go, and on a library that says the same
    // after a power cut.
    return library.withExclusiveAccess([&]() -> Result<IngestCacheWorkflows::ArchivedCacheCleanup> {
        PELLWICK_TRY_ASSIGN(const LocalLibraryCacheRecords records, library.cachedRecords());
        return cleanUpLocked(candidatesAmong(records, given), records, cache, library, staging);
    });
}

} // namespace Pellwick
