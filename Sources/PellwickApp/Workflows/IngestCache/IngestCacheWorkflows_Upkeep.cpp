#include "IngestCacheWorkflows.h"

#include <PellwickApp/Feedback/IngestCacheFeedback.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/UserManagedIngestCacheRefreshWorker.h>
#include <PellwickCore/Ingest/ContentHashing.h>

#include <QDir>
#include <QFile>
#include <QPromise>
#include <QtConcurrent>

#include <utility>

#include <malloc.h>
#include <sys/stat.h>

namespace Pellwick {

namespace {

using ArchivedCacheCleanup = IngestCacheWorkflows::ArchivedCacheCleanup;

constexpr std::chrono::seconds cacheCleanupRetryInterval{30};

bool isEligibleForCleanup(const LocalLibraryItem &item)
{
    return item.ingestCacheOriginalURL
           && (item.importStatus == LibraryItemImportStatus::VerifiedBackup
               || item.importStatus == LibraryItemImportStatus::CleanupPending
               || item.importStatus == LibraryItemImportStatus::Duplicate);
}

/// Whether the cached files are what the archive holds: the RAW original's bytes and, when a
/// sidecar is cached, the archived sidecar's (a duplicate's archived copy may carry another
/// card's sidecar, or none).
bool holdsArchivedPackage(const IngestCache &cache, const LocalLibraryItem &item)
{
    return cache.matchesArchivedPackage(*item.ingestCacheOriginalURL,
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
        if (p >= 0 && isSettledStagedPackage(record, records->at(p)))
            (void) staging.removePackage(record);
    }
}

/// One cleanup pass, on a worker thread (see `cleanupArchivedCachePackages`). Ends with a
/// `CancellationError`, touching nothing, when `stop` was requested by the time the hashes were
/// taken ahead.
Result<ArchivedCacheCleanup>
cleanUpArchivedPackages(const std::optional<QList<LocalLibraryItem>> &given,
                        IngestCache cache,
                        const LocalLibraryCache &library,
                        const StagingArea &staging,
                        std::stop_token stop)
{
    PELLWICK_TRY_ASSIGN(const QList<LocalLibraryItem> records, library.readItems());
    QList<LocalLibraryItem> candidates;
    for (const LocalLibraryItem &item : given ? *given : records) {
        if (isEligibleForCleanup(item))
            candidates.append(item);
    }
    // Two originals of one shot (a CR2 and a DNG) may share one cached sidecar.
    QHash<QString, QList<QUuid>> sidecarUsers;
    for (const LocalLibraryItem &item : records) {
        if (item.ingestCacheSidecarURL)
            sidecarUsers[QDir::cleanPath(*item.ingestCacheSidecarURL)].append(item.id);
    }
    if (cache.contentHasher().allowsConcurrentCalls()) {
        QStringList paths;
        for (const LocalLibraryItem &item : std::as_const(candidates)) {
            paths.append(*item.ingestCacheOriginalURL);
            if (item.ingestCacheSidecarURL)
                paths.append(*item.ingestCacheSidecarURL);
        }
        cache = cache.replacingContentHasher(
            std::make_shared<HashesTakenAhead>(cache.sharedContentHasher(), paths, stop));
    }
    if (stop.stop_requested())
        return failure(CancellationError{});

    ArchivedCacheCleanup cleanup;
    // Records whose link is dropped in this pass (removed, or no longer matching), and those of
    // them that go back from cleanup pending to Verified Backup.
    QSet<QUuid> released, restored;
    for (const LocalLibraryItem &item : std::as_const(candidates)) {
        const bool wasPending = item.importStatus == LibraryItemImportStatus::CleanupPending;
        if (!holdsArchivedPackage(cache, item)) {
            if (wasPending)
                restored.insert(item.id);
            // A package the archive lacks, as the record found it, stays named: only a changed
            // or vanished copy loses its link.
            if (!holdsOwnPackage(cache, item))
                released.insert(item.id);
            continue;
        }
        std::optional<QString> sidecar = item.ingestCacheSidecarURL;
        if (sidecar) {
            const QList<QUuid> users = sidecarUsers.value(QDir::cleanPath(*sidecar));
            if (std::any_of(users.cbegin(), users.cend(), [&](const QUuid &user) {
                    return user != item.id && !released.contains(user);
                }))
                sidecar.reset();
        }
        if (cache.removeArchivedPackage(*item.ingestCacheOriginalURL, sidecar)) {
            if (wasPending)
                restored.insert(item.id);
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

/// Waits `interval` on a timer of `timers`.
QCoro::Task<> sleepOn(SingleShotTimerFactory timers, std::chrono::milliseconds interval)
{
    QPromise<void> expiry;
    QFuture<void> expired = expiry.future();
    expiry.start();
    const std::unique_ptr<SingleShotTimer> timer = timers([&expiry] { expiry.finish(); });
    timer->start(interval);
    co_await expired;
}

/// What a reconciliation before an import found and cleaned up; none without a cache folder.
struct ReconciledCache
{
    IngestCacheReconciliation reconciliation;
    ArchivedCacheCleanup cleanup;
    QSet<QString> unfinishedBatches;
};

/// What a refresh found: the reconciliation and the batches whose copy-in has not finished.
struct RefreshedCache
{
    IngestCacheReconciliation reconciliation;
    QSet<QString> unfinishedBatches;
};

} // namespace

QCoro::Task<Result<IngestCacheWorkflows::ArchivedCacheCleanup>>
IngestCacheWorkflows::cleanupArchivedCachePackages(std::optional<QList<LocalLibraryItem>> items)
{
    if (isIngestCacheMigrationPending())
        co_return ArchivedCacheCleanup{};
    QFuture<Result<ArchivedCacheCleanup>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [items = std::move(items),
                         cache = m_services.ingestCache,
                         library = m_services.localLibraryCache,
                         staging = m_services.stagingArea,
                         passLock = m_cacheCleanupPassLock,
                         stop = m_cacheCleanupPasses.token()] {
                            const std::lock_guard pass(*passLock);
                            return cleanUpArchivedPackages(items, cache, library, staging, stop);
                        });
    // Nothing of the workflows is touched once the job is started.
    co_return co_await job;
}

void IngestCacheWorkflows::scheduleCacheCleanupRetryIfNeeded(qint64 pendingCount)
{
    if (pendingCount <= 0 || m_cacheCleanupRetryTask)
        return;
    m_cacheCleanupRetryTask.emplace();
    const QPointer<IngestCacheWorkflows> self(this);
    const std::stop_token stop = m_cacheCleanupRetryTask->token();
    runCacheCleanupRetryLoop(self, stop);
}

QCoro::Task<>
IngestCacheWorkflows::runCacheCleanupRetryLoop(QPointer<IngestCacheWorkflows> workflows,
                                               std::stop_token stop)
{
    const SingleShotTimerFactory timers = workflows->m_services.timers;
    const std::chrono::milliseconds interval = cacheCleanupRetryInterval;
    while (!stop.stop_requested()) {
        co_await sleepOn(timers, interval);
        if (stop.stop_requested() || !workflows)
            break;
        const std::optional<QList<LocalLibraryItem>> everyRecord;
        const Result<ArchivedCacheCleanup> cleanup
            = co_await workflows->cleanupArchivedCachePackages(everyRecord);
        if (!workflows)
            co_return;
        if (!cleanup)
            continue;
        workflows->m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
        if (cleanup->pendingCount <= 0)
            break;
    }
    if (workflows)
        workflows->m_cacheCleanupRetryTask.reset();
}

QCoro::Task<> IngestCacheWorkflows::reconcileUserManagedIngestCache()
{
    // The move holds the library for its whole copy, and its cache is not this one's.
    if (isIngestCacheMigrationPending())
        co_return;
    const QPointer<IngestCacheWorkflows> self(this);
    QFuture<Result<std::optional<ReconciledCache>>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [cache = m_services.ingestCache,
         library = m_services.localLibraryCache,
         builder = m_services.importReviewBuilder,
         hasher = m_services.contentHasher,
         extractor = m_services.metadataExtractor,
         staging = m_services.stagingArea,
         passLock = m_cacheCleanupPassLock,
         stop = m_cacheCleanupPasses.token()]() -> Result<std::optional<ReconciledCache>> {
            if (!cache.fileManager().fileExists(cache.rootURL()))
                return std::optional<ReconciledCache>();
            const ImportScanVolume source{
                QStringLiteral("Ingest Cache"), cache.rootURL(), std::nullopt};
            PELLWICK_TRY_ASSIGN(const ImportReview review, builder.buildReview({source}));
            PELLWICK_TRY_ASSIGN(const QSet<QString> blocked, cache.incompleteSourceFolderURLs());
            const std::lock_guard pass(*passLock);
            return library.withExclusiveAccess([&]() -> Result<std::optional<ReconciledCache>> {
                PELLWICK_TRY_ASSIGN(IngestCacheReconciliation reconciliation,
                                    library.reconcileIngestCache(
                                        review, blocked, *hasher, *extractor, Date::now()));
                PELLWICK_TRY_ASSIGN(
                    ArchivedCacheCleanup cleanup,
                    cleanUpArchivedPackages(std::nullopt, cache, library, staging, stop));
                return std::optional<ReconciledCache>(
                    ReconciledCache{reconciliation, cleanup, blocked});
            });
        });
    const std::optional<Result<std::optional<ReconciledCache>>> outcome
        = co_await Workflow::resumeIn(self, {}, job);
    if (!outcome)
        co_return;
    if (!*outcome) {
        m_importState.setImportRecoveryMessage(IngestCacheFeedback::reconciliationFailedMessage());
        co_return;
    }
    if (!**outcome) // no cache folder: nothing was reconciled
        co_return;
    clearMessagesCuredByReconciliation();
    const ReconciledCache &reconciled = ***outcome;
    m_state.setUnfinishedIngestCacheBatches(reconciled.unfinishedBatches);
    scheduleCacheCleanupRetryIfNeeded(reconciled.cleanup.pendingCount);
    if (reconciled.reconciliation.needsAttentionCount > 0)
        m_importState.setImportRecoveryMessage(IngestCacheFeedback::changedFilesMessage());
}

void IngestCacheWorkflows::clearReconciliationFailure()
{
    // The field holds other upkeep and recovery texts too: only this failure's own goes.
    if (m_importState.importRecoveryMessage() == IngestCacheFeedback::reconciliationFailedMessage())
        m_importState.setImportRecoveryMessage(std::nullopt);
}

void IngestCacheWorkflows::noteUnrecordedCopiesMessage(const QString &message)
{
    m_unrecordedCopiesMessage = message;
}

void IngestCacheWorkflows::clearMessagesCuredByReconciliation()
{
    clearReconciliationFailure();
    const std::optional<QString> unrecorded
        = std::exchange(m_unrecordedCopiesMessage, std::nullopt);
    if (unrecorded && m_importState.importErrorMessage() == unrecorded)
        m_importState.setImportErrorMessage(std::nullopt);
}

void IngestCacheWorkflows::scheduleUserManagedIngestCacheRefresh()
{
    if (isBusyWithIngestCache() || m_ingestCacheRefreshTask) {
        m_isIngestCacheRefreshPending = true;
        return;
    }
    const auto worker = std::make_shared<const UserManagedIngestCacheRefreshWorker>(
        m_services.ingestCache,
        m_services.localLibraryCache,
        m_services.importReviewBuilder,
        m_services.metadataExtractor,
        m_ingestCacheRefreshGeneration,
        m_ingestCacheRefreshGeneration->value());
    m_ingestCacheRefreshTask.emplace();
    const QPointer<IngestCacheWorkflows> self(this);
    runIngestCacheRefresh(self, worker);
}

QCoro::Task<> IngestCacheWorkflows::runIngestCacheRefresh(
    QPointer<IngestCacheWorkflows> workflows,
    std::shared_ptr<const UserManagedIngestCacheRefreshWorker> worker)
{
    QFuture<Result<RefreshedCache>> job = Workflow::run(
        WorkflowPools::utility(), [worker = std::move(worker)]() -> Result<RefreshedCache> {
            QSet<QString> unfinishedBatches;
            Result<IngestCacheReconciliation> reconciled = worker->reconcile(&unfinishedBatches);
            // A scan and reconciliation of a large cache free hundreds of megabytes in the heaps
            // of the pool's threads: they go back now, not under the window's next allocations.
            malloc_trim(0);
            PELLWICK_TRY(reconciled);
            return RefreshedCache{*reconciled, std::move(unfinishedBatches)};
        });
    const std::optional<Result<RefreshedCache>> outcome
        = co_await Workflow::resumeIn(workflows, {}, job);
    if (!outcome)
        co_return;
    if (!*outcome) {
        workflows->m_importState.setImportRecoveryMessage(
            IngestCacheFeedback::reconciliationFailedMessage());
    } else if (!(*outcome)->reconciliation.didApply) {
        workflows->m_isIngestCacheRefreshPending = true;
    } else {
        workflows->clearMessagesCuredByReconciliation();
        workflows->m_state.setUnfinishedIngestCacheBatches((*outcome)->unfinishedBatches);
        if ((*outcome)->reconciliation.needsAttentionCount > 0)
            workflows->m_importState.setImportRecoveryMessage(
                IngestCacheFeedback::changedFilesMessage());
        if (!workflows->isBusyWithIngestCache()) {
            const std::optional<QList<LocalLibraryItem>> everyRecord;
            const Result<ArchivedCacheCleanup> cleanup
                = co_await workflows->cleanupArchivedCachePackages(everyRecord);
            if (!workflows)
                co_return;
            workflows->scheduleCacheCleanupRetryIfNeeded(cleanup ? cleanup->pendingCount : 0);
        }
        workflows->m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
    }
    // Held to the end, cleanup included: one refresh at a time.
    workflows->m_ingestCacheRefreshTask.reset();
    if (workflows->m_isIngestCacheRefreshPending)
        workflows->drainPendingIngestCacheRefresh();
}

} // namespace Pellwick
