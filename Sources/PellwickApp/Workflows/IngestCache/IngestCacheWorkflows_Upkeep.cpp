#include "ArchivedCacheCleanupPass.h"
#include "IngestCacheWorkflows.h"

#include <PellwickApp/Feedback/IngestCacheFeedback.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/UserManagedIngestCacheRefreshWorker.h>

#include <QPromise>

#include <utility>

#include <malloc.h>

namespace Pellwick {

namespace {

using ArchivedCacheCleanup = IngestCacheWorkflows::ArchivedCacheCleanup;

constexpr std::chrono::seconds cacheCleanupRetryInterval{30};

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

/// Whether `item` needs attention for a change in the Ingest Cache: it never reached the archive
/// and its cached files changed, or their copy-in was cut short.
bool needsAttentionForCacheChange(const LocalLibraryItem &item)
{
    return item.importStatus == LibraryItemImportStatus::NeedsAttention
           && !item.backendLibraryItemID && item.ingestCacheOriginalURL;
}

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
         hold = m_folderHold,
         stop = m_cacheCleanupPasses.token()]() -> Result<std::optional<ReconciledCache>> {
            if (!cache.fileManager().fileExists(cache.rootURL()))
                return std::optional<ReconciledCache>();
            PELLWICK_TRY_ASSIGN(const bool held,
                                holdIngestCacheFolderIfThere(cache, library, hold));
            const ImportScanVolume source{
                QStringLiteral("Ingest Cache"), cache.rootURL(), std::nullopt};
            PELLWICK_TRY_ASSIGN(const ImportReview review, builder.buildReview({source}));
            PELLWICK_TRY_ASSIGN(const QSet<QString> blocked, cache.incompleteSourceFolderURLs());
            const std::lock_guard pass(*passLock);
            return library.withExclusiveAccess([&]() -> Result<std::optional<ReconciledCache>> {
                PELLWICK_TRY_ASSIGN(IngestCacheReconciliation reconciliation,
                                    library.reconcileIngestCache(
                                        review, blocked, *hasher, *extractor, Date::now()));
                // Archived copies are deleted only from a folder that is there and held.
                if (!held || reconciliation.cacheUnavailable)
                    return std::optional<ReconciledCache>(
                        ReconciledCache{reconciliation, {}, blocked});
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
        m_importState.setImportRecoveryMessage(ingestCacheFolderFailureMessage(
            outcome->error(), IngestCacheFeedback::reconciliationFailedMessage()));
        co_return;
    }
    if (!**outcome) // no cache folder: nothing was reconciled
        co_return;
    if ((**outcome)->reconciliation.cacheUnavailable) {
        m_importState.setImportRecoveryMessage(
            IngestCacheFeedback::folderAwayMessage(m_services.ingestCache.rootURL()));
        co_return;
    }
    const ReconciledCache &reconciled = ***outcome;
    // First: the messages below name the photos of those batches.
    m_state.setUnfinishedIngestCacheBatches(reconciled.unfinishedBatches);
    clearMessagesCuredByReconciliation();
    scheduleCacheCleanupRetryIfNeeded(reconciled.cleanup.pendingCount);
    if (reconciled.reconciliation.needsAttentionCount > 0)
        m_importState.setImportRecoveryMessage(IngestCacheFeedback::changedFilesMessage());
}

QFuture<Result<bool>> IngestCacheWorkflows::holdIngestCacheFolder() const
{
    return Workflow::run(
        WorkflowPools::userInitiated(),
        [cache = m_services.ingestCache,
         library = m_services.localLibraryCache,
         hold = m_folderHold] { return holdIngestCacheFolderIfThere(cache, library, hold); });
}

QString IngestCacheWorkflows::ingestCacheFolderFailureMessage(const Error &error,
                                                              const QString &otherwise) const
{
    return IngestCacheFeedback::isHeldByAnotherCopy(error)
               ? IngestCacheFeedback::folderInUseMessage(m_services.ingestCache.rootURL())
               : otherwise;
}

void IngestCacheWorkflows::clearReconciliationFailure()
{
    // The field holds other upkeep and recovery texts too: only this failure's own goes, or that
    // the cache's folder was away or held by another copy.
    const QString root = m_services.ingestCache.rootURL();
    const std::optional<QString> shown = m_importState.importRecoveryMessage();
    if (shown == IngestCacheFeedback::reconciliationFailedMessage()
        || shown == IngestCacheFeedback::folderAwayMessage(root)
        || shown == IngestCacheFeedback::folderInUseMessage(root))
        m_importState.setImportRecoveryMessage(std::nullopt);
}

void IngestCacheWorkflows::clearSettledChangedFilesMessage()
{
    const std::optional<QString> &shown = m_importState.importRecoveryMessage();
    const bool isOwn = shown == IngestCacheFeedback::changedFilesMessage()
                       || (shown && shown == m_photosNeedingAttentionMessage);
    if (shown && !isOwn)
        return;
    bool changedNeedAttention = false;
    qsizetype interrupted = 0;
    const QSet<QString> &unfinished = m_state.unfinishedIngestCacheBatches();
    m_libraryWorkflows.allLocalLibraryRecords().forEach([&](const LocalLibraryItem &item) {
        if (!needsAttentionForCacheChange(item))
            return;
        changedNeedAttention = true;
        interrupted += liesBelowAnyFolder(*item.ingestCacheOriginalURL, unfinished) ? 1 : 0;
    });
    // The changed-files line stays while it holds; photos of a copy-in cut short are named
    // otherwise, as nothing else on the Overview tells of them.
    if (changedNeedAttention && shown == IngestCacheFeedback::changedFilesMessage())
        return;
    m_photosNeedingAttentionMessage
        = interrupted > 0 ? std::optional(IngestCacheFeedback::interruptedCopyMessage(interrupted))
                          : std::nullopt;
    if (shown != m_photosNeedingAttentionMessage)
        m_importState.setImportRecoveryMessage(m_photosNeedingAttentionMessage);
}

void IngestCacheWorkflows::noteUnrecordedCopiesMessage(const QString &message)
{
    m_unrecordedCopiesMessage = message;
}

void IngestCacheWorkflows::clearMessagesCuredByReconciliation()
{
    clearReconciliationFailure();
    clearSettledChangedFilesMessage();
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
        m_ingestCacheRefreshGeneration->value(),
        m_folderHold);
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
            workflows->ingestCacheFolderFailureMessage(
                outcome->error(), IngestCacheFeedback::reconciliationFailedMessage()));
    } else if (!(*outcome)->reconciliation.didApply) {
        workflows->m_isIngestCacheRefreshPending = true;
    } else if ((*outcome)->reconciliation.cacheUnavailable) {
        workflows->m_importState.setImportRecoveryMessage(
            IngestCacheFeedback::folderAwayMessage(workflows->m_services.ingestCache.rootURL()));
    } else {
        workflows->m_state.setUnfinishedIngestCacheBatches((*outcome)->unfinishedBatches);
        workflows->clearMessagesCuredByReconciliation();
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
