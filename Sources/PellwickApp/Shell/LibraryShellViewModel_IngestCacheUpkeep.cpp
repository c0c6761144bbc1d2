#include "LibraryShellViewModel_p.h"

#include <PellwickApp/Workflows/UserManagedIngestCacheRefreshWorker.h>

#include <QDir>
#include <QFile>
#include <QPromise>
#include <QThread>
#include <QtConcurrent>

#include <malloc.h>
#include <sys/stat.h>

namespace Pellwick {

namespace {

using ArchivedCacheCleanup = LibraryShellViewModel::ArchivedCacheCleanup;

constexpr std::chrono::seconds cacheCleanupRetryInterval{30};

const QString reconciliationFailedMessage
    = QStringLiteral("Ingest Cache reconciliation needs attention");
const QString changedFilesMessage = QStringLiteral("Changed Ingest Cache files need attention");

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

/// The hashes of the files of one pass, taken ahead on as many threads as there are cores. A
/// package check takes a hash from here only while its file is unchanged since it was hashed;
/// otherwise, and for a file that could not be hashed ahead, it hashes the file anew.
class HashesTakenAhead final : public ContentHashing
{
public:
    HashesTakenAhead(std::shared_ptr<const ContentHashing> hasher, const QStringList &paths)
        : m_hasher(std::move(hasher))
    {
        static QThreadPool pool;
        pool.setMaxThreadCount(QThread::idealThreadCount());
        using Taken = std::optional<std::pair<FileStamp, QString>>;
        const QList<Taken> taken = QtConcurrent::blockingMapped<QList<Taken>>(
            &pool, paths, [hasher = m_hasher](const QString &path) -> Taken {
                const std::optional<FileStamp> stamp = stampOf(path);
                const Result<QString> hash = hasher->contentHash(path);
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

/// One cleanup pass, on a worker thread (see `cleanupArchivedCachePackages`).
Result<ArchivedCacheCleanup>
cleanUpArchivedPackages(const std::optional<QList<LocalLibraryItem>> &given,
                        IngestCache cache,
                        const LocalLibraryCache &library,
                        const StagingArea &staging)
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
            std::make_shared<HashesTakenAhead>(cache.sharedContentHasher(), paths));
    }

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
};

} // namespace

QCoro::Task<Result<LibraryShellViewModel::ArchivedCacheCleanup>>
LibraryShellViewModel::cleanupArchivedCachePackages(std::optional<QList<LocalLibraryItem>> items)
{
    if (isIngestCacheMigrationPending())
        co_return ArchivedCacheCleanup{};
    QFuture<Result<ArchivedCacheCleanup>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [items = std::move(items),
                         cache = m_d->services.ingestCache,
                         library = m_d->services.localLibraryCache,
                         staging = m_d->services.verifiedBackupImporter.stagingArea(),
                         passLock = m_d->imports.cacheCleanupPassLock] {
                            const std::lock_guard pass(*passLock);
                            return cleanUpArchivedPackages(items, cache, library, staging);
                        });
    // Nothing of the view model is touched once the job is started.
    co_return co_await job;
}

void LibraryShellViewModel::scheduleCacheCleanupRetryIfNeeded(qint64 pendingCount)
{
    if (pendingCount <= 0 || m_d->imports.cacheCleanupRetryTask)
        return;
    m_d->imports.cacheCleanupRetryTask.emplace();
    const QPointer<LibraryShellViewModel> self(this);
    const std::stop_token stop = m_d->imports.cacheCleanupRetryTask->token();
    runCacheCleanupRetryLoop(self, stop);
}

const std::optional<WorkflowTaskHandle> &LibraryShellViewModel::cacheCleanupRetryTask() const
{
    return m_d->imports.cacheCleanupRetryTask;
}

QCoro::Task<>
LibraryShellViewModel::runCacheCleanupRetryLoop(QPointer<LibraryShellViewModel> viewModel,
                                                std::stop_token stop)
{
    const SingleShotTimerFactory timers = viewModel->m_d->services.timers;
    const std::chrono::milliseconds interval = cacheCleanupRetryInterval;
    while (!stop.stop_requested()) {
        co_await sleepOn(timers, interval);
        if (stop.stop_requested() || !viewModel)
            break;
        const std::optional<QList<LocalLibraryItem>> everyRecord;
        const Result<ArchivedCacheCleanup> cleanup
            = co_await viewModel->cleanupArchivedCachePackages(everyRecord);
        if (!viewModel)
            co_return;
        if (!cleanup)
            continue;
        viewModel->m_library->refreshVisibleLocalLibraryItems(true);
        if (cleanup->pendingCount <= 0)
            break;
    }
    if (viewModel)
        viewModel->m_d->imports.cacheCleanupRetryTask.reset();
}

QCoro::Task<> LibraryShellViewModel::reconcileUserManagedIngestCache()
{
    // The move holds the library for its whole copy, and its cache is not this one's.
    if (isIngestCacheMigrationPending())
        co_return;
    const QPointer<LibraryShellViewModel> self(this);
    QFuture<Result<std::optional<ReconciledCache>>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [cache = m_d->services.ingestCache,
         library = m_d->services.localLibraryCache,
         builder = m_d->services.importReviewBuilder,
         hasher = m_d->services.contentHasher,
         extractor = m_d->services.verifiedBackupImporter.metadataExtractor(),
         staging = m_d->services.verifiedBackupImporter.stagingArea(),
         passLock = m_d->imports.cacheCleanupPassLock]() -> Result<std::optional<ReconciledCache>> {
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
                PELLWICK_TRY_ASSIGN(ArchivedCacheCleanup cleanup,
                                    cleanUpArchivedPackages(std::nullopt, cache, library, staging));
                return std::optional<ReconciledCache>(ReconciledCache{reconciliation, cleanup});
            });
        });
    const std::optional<Result<std::optional<ReconciledCache>>> outcome
        = co_await Workflow::resumeIn(self, {}, job);
    if (!outcome)
        co_return;
    if (!*outcome) {
        m_importState->setImportRecoveryMessage(reconciliationFailedMessage);
        co_return;
    }
    if (!**outcome)
        co_return;
    const ReconciledCache &reconciled = ***outcome;
    scheduleCacheCleanupRetryIfNeeded(reconciled.cleanup.pendingCount);
    if (reconciled.reconciliation.needsAttentionCount > 0)
        m_importState->setImportRecoveryMessage(changedFilesMessage);
}

bool LibraryShellViewModel::isBusyWithIngestCache() const
{
    return m_importState->isImporting() || isIngestCacheMigrationPending();
}

void LibraryShellViewModel::scheduleUserManagedIngestCacheRefresh()
{
    if (isBusyWithIngestCache() || m_d->ingestCache.ingestCacheRefreshTask) {
        m_d->ingestCache.isIngestCacheRefreshPending = true;
        return;
    }
    const LibraryShellViewModelPrivate::Services &services = m_d->services;
    const auto worker = std::make_shared<const UserManagedIngestCacheRefreshWorker>(
        services.ingestCache,
        services.localLibraryCache,
        services.importReviewBuilder,
        services.verifiedBackupImporter.metadataExtractor(),
        m_d->ingestCache.ingestCacheRefreshGeneration,
        m_d->ingestCache.ingestCacheRefreshGeneration->value());
    m_d->ingestCache.ingestCacheRefreshTask.emplace();
    const QPointer<LibraryShellViewModel> self(this);
    runIngestCacheRefresh(self, worker);
}

QCoro::Task<> LibraryShellViewModel::runIngestCacheRefresh(
    QPointer<LibraryShellViewModel> viewModel,
    std::shared_ptr<const UserManagedIngestCacheRefreshWorker> worker)
{
    QFuture<Result<IngestCacheReconciliation>> job
        = Workflow::run(WorkflowPools::utility(), [worker = std::move(worker)] {
              Result<IngestCacheReconciliation> reconciled = worker->reconcile();
              // A scan and reconciliation of a large cache free hundreds of megabytes in the heaps
              // of the pool's threads: they go back now, not under the window's next allocations.
              malloc_trim(0);
              return reconciled;
          });
    const std::optional<Result<IngestCacheReconciliation>> outcome
        = co_await Workflow::resumeIn(viewModel, {}, job);
    if (!outcome)
        co_return;
    if (!*outcome) {
        viewModel->m_importState->setImportRecoveryMessage(reconciliationFailedMessage);
    } else if (!(*outcome)->didApply) {
        viewModel->m_d->ingestCache.isIngestCacheRefreshPending = true;
    } else {
        if ((*outcome)->needsAttentionCount > 0)
            viewModel->m_importState->setImportRecoveryMessage(changedFilesMessage);
        if (!viewModel->isBusyWithIngestCache()) {
            const std::optional<QList<LocalLibraryItem>> everyRecord;
            const Result<ArchivedCacheCleanup> cleanup
                = co_await viewModel->cleanupArchivedCachePackages(everyRecord);
            if (!viewModel)
                co_return;
            viewModel->scheduleCacheCleanupRetryIfNeeded(cleanup ? cleanup->pendingCount : 0);
        }
        viewModel->m_library->refreshVisibleLocalLibraryItems(true);
    }
    // Held to the end, cleanup included: one refresh at a time.
    viewModel->m_d->ingestCache.ingestCacheRefreshTask.reset();
    if (viewModel->m_d->ingestCache.isIngestCacheRefreshPending)
        viewModel->drainPendingIngestCacheRefresh();
}

void LibraryShellViewModel::drainPendingIngestCacheRefresh()
{
    if (!m_d->ingestCache.isIngestCacheRefreshPending || isBusyWithIngestCache())
        return;
    m_d->ingestCache.isIngestCacheRefreshPending = false;
    scheduleUserManagedIngestCacheRefresh();
}

bool LibraryShellViewModel::isIngestCacheRefreshRunning() const
{
    return m_d->ingestCache.ingestCacheRefreshTask.has_value();
}

bool LibraryShellViewModel::isIngestCacheRefreshPending() const
{
    return m_d->ingestCache.isIngestCacheRefreshPending;
}

} // namespace Pellwick
