#include "ImportWorkflows.h"

#include <PellwickApp/Feedback/ImportFeedback.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Library/LibrarySelection.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/TransferProgressBoard.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <utility>

namespace Pellwick {

namespace {

const QString importOperationName = QStringLiteral("Import to Archive");

/// The importer's status callback: a queued refresh of the visible items on the main thread,
/// dropped once the library workflows are gone.
StatusDidChange refreshingOnStatusChange(LibraryWorkflows &library)
{
    // The weak pointer is made here, on the main thread, and only read there.
    return [self = QPointer<LibraryWorkflows>(&library)] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self)
                    self->refreshVisibleLocalLibraryItems(true);
            },
            Qt::QueuedConnection);
    };
}

bool isArchived(const LocalLibraryItem &item)
{
    return item.importStatus == LibraryItemImportStatus::VerifiedBackup
           || item.importStatus == LibraryItemImportStatus::Duplicate;
}

/// The items whose staged packages a resumption took up, and what it answered.
struct Resumption
{
    QSet<QUuid> items;
    Result<QList<LocalLibraryItem>> outcome;
};

/// What a run reports as safely archived: how many files, and how many of their cache cleanups
/// wait for a retry.
struct ArchivedCount
{
    qsizetype archived = 0;
    qint64 pendingCleanups = 0;
};

/// `run`, what the run itself archived and left pending, with every package of `named` outside
/// the run's own that `records` hold archived (its cleanup pending or not).
ArchivedCount countingNamed(ArchivedCount run,
                            const QSet<QUuid> &named,
                            const QSet<QUuid> &carried,
                            const QList<LocalLibraryItem> &records)
{
    for (const LocalLibraryItem &record : records) {
        if (!named.contains(record.id) || carried.contains(record.id))
            continue;
        const bool pending = record.importStatus == LibraryItemImportStatus::CleanupPending;
        run.archived += isArchived(record) || pending ? 1 : 0;
        run.pendingCleanups += pending ? 1 : 0;
    }
    return run;
}

bool mayBelongToUnfinishedImport(const LocalLibraryItem &item)
{
    return item.importStatus == LibraryItemImportStatus::LocalCacheReady
           || item.importStatus == LibraryItemImportStatus::Uploading
           || item.importStatus == LibraryItemImportStatus::Verifying;
}

} // namespace

bool ImportWorkflows::isStartingImport() const
{
    return m_state.isStartingImport();
}

RunningWork ImportWorkflows::runningWork() const
{
    return RunningWork::of(m_state, m_ingestCacheState)
        .with(Work::AddToIngestCache, m_isAddingReviewToIngestCache);
}

bool ImportWorkflows::canStartImport(const LocalLibraryItem &item) const
{
    // `selectedImportItems` keeps its result while the records, the selection and the Ingest
    // Cache root stay the same: whatever else this reads must join its memo's key.
    if (isIngestCacheMigrationPending())
        return false;
    return item.importStatus == LibraryItemImportStatus::LocalCacheReady
           && m_ingestCache.isInActiveIngestCache(item);
}

QList<LocalLibraryItem> ImportWorkflows::selectedImportItems() const
{
    if (isIngestCacheMigrationPending())
        return {};
    const LocalLibraryCacheRecords records = m_libraryWorkflows.allLocalLibraryRecords();
    return LibrarySelection::memoised(
        m_selectedImportItemsMemo,
        records,
        std::pair(m_libraryState.selectedLibraryItemIDs(), m_ingestCache.ingestCache().rootURL()),
        [&] {
            return LibrarySelection::selectedRecords(
                records,
                m_libraryState.selectedLibraryItemIDs(),
                [this](const LocalLibraryItem &item) { return canStartImport(item); });
        });
}

QCoro::Task<> ImportWorkflows::startSelectedImports()
{
    if (runningWork().excludes(Work::ConfirmedImport))
        co_return;
    const QPointer<ImportWorkflows> self(this);
    QSet<QUuid> named = std::exchange(m_confirmedImportItemIDs, {});
    // A failed run may have left a package between two library writes, uploading for good: it
    // is finished, or offered again, before the next run. A selected one is not imported again.
    QSet<QUuid> resumed;
    if (m_isImportRecoveryDue) {
        resumed = co_await recoverInterruptedImportsNamingResumed();
        if (!self || runningWork().excludes(Work::ConfirmedImport))
            co_return;
    }
    // Set before `isImporting`: a second start, a confirmation or a recovery's resumption
    // meanwhile would hand the same packages to a second importer.
    m_state.setIsStartingImport(true);
    // A refresh that scanned the cache before now would apply beside the run: one that found a
    // planned package's sidecar edited would split its record, and the cleanup would then delete
    // the RAW original the split-off record names. Its result is dropped; it runs again after.
    m_ingestCache.ingestCacheRefreshGeneration()->advance();
    co_await m_ingestCache.reconcileUserManagedIngestCache();
    if (!self)
        co_return;
    scheduleSourceMediaSafetyRefresh();
    m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
    co_await refreshSourceMediaSafetyNow();
    if (!self)
        co_return;
    const std::optional<SelectedImportPlan> plan = co_await selectedImportPlan(resumed);
    if (!self)
        co_return;
    if (!plan) {
        m_state.setIsStartingImport(false);
        // A refresh asked for while the import was starting waited for it.
        m_ingestCache.drainPendingIngestCacheRefresh();
        co_return;
    }

    const QUuid transferID = QUuid::createUuid();
    m_board.open(transferID);
    m_board.update(TransferProgress{transferID,
                                    importOperationName,
                                    TransferProgressPhase::Preparing,
                                    std::nullopt,
                                    std::nullopt,
                                    std::nullopt,
                                    std::nullopt,
                                    0,
                                    plan->review.totalSupportedBytes(),
                                    0,
                                    plan->review.candidateCount()});
    m_ingestCache.beginImportingWork();

    const std::stop_token stop = m_importerRuns.token();
    // The reservation is given back whatever happens to the import, also when the window closed
    // meanwhile.
    QFuture<Result<QList<LocalLibraryItem>>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [client = m_services.sessionClient,
         importer = m_services.verifiedBackupImporter,
         token = plan->token,
         items = plan->items,
         review = plan->review,
         statusDidChange = refreshingOnStatusChange(m_libraryWorkflows),
         progress = m_board.sink(),
         transferID,
         stop] {
            return importer.importReservingCapacity(
                *client, items, review, token, statusDidChange, progress, transferID, stop);
        });
    const std::optional<Result<QList<LocalLibraryItem>>> imported
        = co_await Workflow::resumeIn(self, stop, job);
    if (!imported)
        co_return; // the view model is gone: the package in flight stays resumable

    std::optional<Error> failed;
    QList<LocalLibraryItem> archived;
    qsizetype needingAttention = 0;
    Result<IngestCacheWorkflows::ArchivedCacheCleanup> cleanup
        = IngestCacheWorkflows::ArchivedCacheCleanup{};
    if (*imported) {
        for (const LocalLibraryItem &item : std::as_const(**imported)) {
            if (isArchived(item))
                archived.append(item);
            else
                ++needingAttention;
        }
        const std::optional<QList<LocalLibraryItem>> archivedItems = archived;
        cleanup = co_await m_ingestCache.cleanupArchivedCachePackages(archivedItems);
        if (!self)
            co_return;
        if (!cleanup)
            failed = cleanup.error();
    } else {
        failed = imported->error();
        m_isImportRecoveryDue = true;
    }
    if (failed) {
        finishConfirmedImport(transferID);
        ImportFeedback::log(*failed);
        m_state.setImportErrorMessage(ImportFeedback::message(
            *failed,
            {.stagingArea = m_services.verifiedBackupImporter.stagingArea().rootURL(),
             .library = m_services.localLibraryCache.rootURL(),
             .ingestCache = m_ingestCache.ingestCache().rootURL()}));
        m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
        co_return;
    }

    m_ingestCache.scheduleCacheCleanupRetryIfNeeded(cleanup->pendingCount);
    // The archived records stay, only their cached copies are gone: they stay selected (a
    // selected folder keeps its items). The refresh below drops the ids of records that are gone.
    co_await refreshSourceMediaSafetyNow();
    if (!self)
        co_return;
    m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
    // What the confirmation counted was archived by this run, by the resumption ahead of it or
    // by a recovery since the confirmation: all of it is told.
    QSet<QUuid> carried;
    for (const LocalLibraryItem &item : std::as_const(**imported))
        carried.insert(item.id);
    const ArchivedCount told = countingNamed(
        {archived.size(), cleanup->pendingCount},
        named.unite(resumed),
        carried,
        m_services.localLibraryCache.readItems().value_or(QList<LocalLibraryItem>()));
    // Packages the importer closed without an error are not archived: not a success.
    if (needingAttention > 0) {
        m_state.setImportErrorMessage(ImportFeedback::archivedNeedingAttentionMessage(
            told.archived, told.pendingCleanups, needingAttention));
    } else {
        m_state.setImportSuccessMessage(
            ImportFeedback::archivedMessage(told.archived, told.pendingCleanups));
    }
    finishConfirmedImport(transferID);
    // Archived files take archive storage: the figures shown are read again.
    if (!archived.isEmpty())
        co_await m_storageFiguresChanged();
}

void ImportWorkflows::finishConfirmedImport(const QUuid &transferID)
{
    m_state.setIsStartingImport(false);
    m_ingestCache.endImportingWork();
    m_board.remove(transferID);
    m_ingestCache.drainPendingIngestCacheRefresh();
}

QCoro::Task<> ImportWorkflows::recoverInterruptedImports()
{
    co_await recoverInterruptedImportsNamingResumed();
}

QCoro::Task<QSet<QUuid>> ImportWorkflows::recoverInterruptedImportsNamingResumed()
{
    // Its reconciliation would change records an import has planned.
    if (!m_sessionState.session() || runningWork().excludes(Work::ImportRecovery))
        co_return {};
    const QString token = m_sessionState.session()->token;
    const QPointer<ImportWorkflows> self(this);
    co_await m_ingestCache.reconcileUserManagedIngestCache();
    if (!self)
        co_return {};
    const std::optional<QList<LocalLibraryItem>> everyRecord;
    const Result<IngestCacheWorkflows::ArchivedCacheCleanup> cleanup
        = co_await m_ingestCache.cleanupArchivedCachePackages(everyRecord);
    if (!self)
        co_return {};
    if (!cleanup) {
        m_state.setImportRecoveryMessage(ImportFeedback::recoveryCleanupNeedsAttentionMessage());
    } else {
        m_ingestCache.scheduleCacheCleanupRetryIfNeeded(cleanup->pendingCount);
        if (cleanup->pendingCount > 0)
            m_state.setImportRecoveryMessage(ImportFeedback::recoveryCleanupWillRetryMessage());
    }
    m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
    const QList<LocalLibraryItem> records
        = m_services.localLibraryCache.readItems().value_or(QList<LocalLibraryItem>());
    if (std::none_of(records.cbegin(), records.cend(), mayBelongToUnfinishedImport)) {
        m_isImportRecoveryDue = false;
        co_return {};
    }
    // The packages belong to the import that is starting or running (or to a recovery already
    // resuming them); they are resumed after the next sign-in if it leaves them unfinished.
    if (runningWork().excludes(Work::ImportRecovery))
        co_return {};

    m_state.setIsRecoveringInterruptedImports(true);
    // The field also tells the cache's own upkeep (changed files, a failed reconciliation, a
    // cleanup to retry): a resumption that ends well shows that text again, not nothing.
    std::optional<QString> earlier = m_state.importRecoveryMessage();
    if (earlier == ImportFeedback::recoveryNeedsAttentionMessage()
        || earlier == ImportFeedback::recoveringMessage())
        earlier.reset();
    m_state.setImportRecoveryMessage(ImportFeedback::recoveringMessage());
    const std::stop_token stop = m_importerRuns.token();
    QFuture<Result<Resumption>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [importer = m_services.verifiedBackupImporter,
                         token,
                         statusDidChange = refreshingOnStatusChange(m_libraryWorkflows),
                         stop]() -> Result<Resumption> {
                            Resumption resumption;
                            // Named before the resumption closes them; a failed read names none.
                            for (const StagedImportRecord &record :
                                 importer.resumableRecords().value_or(QList<StagedImportRecord>()))
                                resumption.items.insert(record.localLibraryItemID);
                            resumption.outcome = importer.resumeInterruptedImports(
                                token, statusDidChange, {}, QUuid::createUuid(), stop);
                            return resumption;
                        });
    const std::optional<Result<Resumption>> resumption
        = co_await Workflow::resumeIn(self, stop, job);
    if (!resumption)
        co_return {};
    const QSet<QUuid> taken = *resumption ? (*resumption)->items : QSet<QUuid>();
    const Result<QList<LocalLibraryItem>> resumed
        = *resumption ? (*resumption)->outcome : tl::unexpected<Error>(resumption->error());
    std::optional<QList<LocalLibraryItem>> after;
    if (resumed) {
        m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
        if (const Result<QList<LocalLibraryItem>> read = m_services.localLibraryCache.readItems())
            after = *read;
    }
    if (!after) {
        m_isImportRecoveryDue = true;
        m_state.setIsRecoveringInterruptedImports(false);
        m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
        m_state.setImportRecoveryMessage(ImportFeedback::recoveryNeedsAttentionMessage());
        co_return taken;
    }
    m_isImportRecoveryDue = false;
    // Only the items this recovery handled count: one needing attention for another cause (a
    // changed cache file, an import's refusal) has that cause's text.
    QSet<QUuid> handled;
    for (const LocalLibraryItem &item : *resumed)
        handled.insert(item.id);
    const bool needsAttention
        = std::any_of(after->cbegin(), after->cend(), [&handled](const LocalLibraryItem &item) {
              return handled.contains(item.id)
                     && item.importStatus == LibraryItemImportStatus::NeedsAttention;
          });
    m_state.setImportRecoveryMessage(
        needsAttention ? std::optional(ImportFeedback::recoveryNeedsAttentionMessage()) : earlier);
    m_state.setIsRecoveringInterruptedImports(false);
    co_return taken;
}

void ImportWorkflows::backendReached()
{
    if (m_state.isImporting() || isStartingImport() || m_state.isRecoveringInterruptedImports())
        return;
    if (m_state.importErrorMessage() == ImportFeedback::connectionFailedMessage())
        m_state.setImportErrorMessage(std::nullopt);
}

} // namespace Pellwick
