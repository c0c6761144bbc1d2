#include "LibraryShellViewModel_p.h"

#include <PellwickApp/Feedback/ImportFeedback.h>
#include <PellwickCore/Backend/ImportCapacityReservationPackage.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>

namespace Pellwick {

namespace {

const QString importOperationName = QStringLiteral("Import to Archive");
const QString recoveringMessage = QStringLiteral("Recovering interrupted Import");
const QString recoveryNeedsAttentionMessage = QStringLiteral("Import recovery needs attention");

/// The importer's status callback: a queued refresh of the visible items on the main thread,
/// dropped once the view model is gone.
StatusDidChange refreshingOnStatusChange(LibraryShellViewModel *viewModel)
{
    // The weak pointer is made here, on the main thread, and only read there.
    return [self = QPointer<LibraryShellViewModel>(viewModel)] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self)
                    self->libraryWorkflows().refreshVisibleLocalLibraryItems(true);
            },
            Qt::QueuedConnection);
    };
}

bool isArchived(const LocalLibraryItem &item)
{
    return item.importStatus == LibraryItemImportStatus::VerifiedBackup
           || item.importStatus == LibraryItemImportStatus::Duplicate;
}

bool mayBelongToUnfinishedImport(const LocalLibraryItem &item)
{
    return item.importStatus == LibraryItemImportStatus::LocalCacheReady
           || item.importStatus == LibraryItemImportStatus::Uploading
           || item.importStatus == LibraryItemImportStatus::Verifying;
}

} // namespace

bool LibraryShellViewModel::isStartingImport() const
{
    return m_importState->isStartingImport();
}

bool LibraryShellViewModel::isImporterBusy() const
{
    return m_importState->isImporterBusy();
}

QCoro::Task<> LibraryShellViewModel::startSelectedImports()
{
    if (isImporterBusy())
        co_return;
    // Set before `isImporting`: a second start, a confirmation or a recovery's resumption
    // meanwhile would hand the same packages to a second importer.
    m_importState->setIsStartingImport(true);
    const QPointer<LibraryShellViewModel> self(this);
    co_await reconcileUserManagedIngestCache();
    if (!self)
        co_return;
    scheduleSourceMediaSafetyRefresh();
    m_library->refreshVisibleLocalLibraryItems(true);
    co_await refreshSourceMediaSafetyNow();
    if (!self)
        co_return;
    const std::optional<SelectedImportPlan> plan = co_await selectedImportPlan();
    if (!self)
        co_return;
    if (!plan) {
        m_importState->setIsStartingImport(false);
        co_return;
    }

    const QUuid transferID = QUuid::createUuid();
    m_board->open(transferID);
    m_board->update(TransferProgress{transferID,
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
    beginImportingWork();

    QList<ImportCapacityReservationPackage> packages;
    for (const ImportReviewItem &item : std::as_const(plan->review.items))
        packages.append({item.byteCount, item.sidecar ? item.sidecar->byteCount : 0});
    const std::stop_token stop = m_d->imports.importerRuns.token();
    // Reservation, import and release in one job: the reservation is given back whatever
    // happens to the import, also when the window closed meanwhile.
    QFuture<Result<QList<LocalLibraryItem>>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [client = m_d->services.sessionClient,
         importer = m_d->services.verifiedBackupImporter,
         token = plan->token,
         items = plan->items,
         packages,
         statusDidChange = refreshingOnStatusChange(this),
         progress = m_board->sink(),
         transferID,
         stop]() -> Result<QList<LocalLibraryItem>> {
            PELLWICK_TRY_ASSIGN(const QString reservationID,
                                client->createImportCapacityReservation(token, packages, stop));
            Result<QList<LocalLibraryItem>> imported = importer.importVerifiedBackups(
                items, token, reservationID, statusDidChange, progress, transferID, stop);
            // A failed release only delays the backend's own expiry of the reservation.
            Q_UNUSED(client->releaseImportCapacityReservation(token, reservationID));
            return imported;
        });
    const std::optional<Result<QList<LocalLibraryItem>>> imported
        = co_await Workflow::resumeIn(self, stop, job);
    if (!imported)
        co_return; // the view model is gone: the package in flight stays resumable

    std::optional<Error> failed;
    QList<LocalLibraryItem> archived;
    qsizetype needingAttention = 0;
    Result<ArchivedCacheCleanup> cleanup = ArchivedCacheCleanup{};
    if (*imported) {
        for (const LocalLibraryItem &item : std::as_const(**imported)) {
            if (isArchived(item))
                archived.append(item);
            else
                ++needingAttention;
        }
        const std::optional<QList<LocalLibraryItem>> archivedItems = archived;
        cleanup = co_await cleanupArchivedCachePackages(archivedItems);
        if (!self)
            co_return;
        if (!cleanup)
            failed = cleanup.error();
    } else {
        failed = imported->error();
    }
    if (failed) {
        finishConfirmedImport(transferID);
        ImportFeedback::log(*failed);
        m_importState->setImportErrorMessage(ImportFeedback::message(*failed));
        m_library->refreshVisibleLocalLibraryItems(true);
        co_return;
    }

    scheduleCacheCleanupRetryIfNeeded(cleanup->pendingCount);
    QSet<QUuid> selection = m_libraryState->selectedLibraryItemIDs();
    selection.subtract(cleanup->removedItemIDs);
    m_libraryState->setSelectedLibraryItemIDs(selection);
    co_await refreshSourceMediaSafetyNow();
    if (!self)
        co_return;
    m_library->refreshVisibleLocalLibraryItems(true);
    QString text = QString::number(archived.size()) + QStringLiteral(" files safely archived; ")
                   + (cleanup->pendingCount > 0 ? QString::number(cleanup->pendingCount)
                                                      + QStringLiteral(" cache cleanups will retry")
                                                : QStringLiteral("cache cleanup complete"));
    // Packages the importer closed without an error are not archived: not a success.
    if (needingAttention > 0) {
        m_importState->setImportErrorMessage(text + QStringLiteral("; ")
                                             + QString::number(needingAttention)
                                             + QStringLiteral(" files need attention"));
    } else {
        m_importState->setImportSuccessMessage(text);
    }
    finishConfirmedImport(transferID);
    // Archived files take archive storage: the figures shown are read again.
    if (!archived.isEmpty())
        co_await refreshLibrary();
}

void LibraryShellViewModel::beginImportingWork()
{
    ++m_d->imports.importingWorkCount;
    m_importState->setIsImporting(true);
}

void LibraryShellViewModel::endImportingWork()
{
    Q_ASSERT(m_d->imports.importingWorkCount > 0);
    if (--m_d->imports.importingWorkCount == 0)
        m_importState->setIsImporting(false);
}

void LibraryShellViewModel::finishConfirmedImport(const QUuid &transferID)
{
    m_importState->setIsStartingImport(false);
    endImportingWork();
    m_board->remove(transferID);
    drainPendingIngestCacheRefresh();
}

QCoro::Task<> LibraryShellViewModel::recoverInterruptedImports()
{
    if (!m_sessionState->session())
        co_return;
    const QString token = m_sessionState->session()->token;
    const QPointer<LibraryShellViewModel> self(this);
    co_await reconcileUserManagedIngestCache();
    if (!self)
        co_return;
    const std::optional<QList<LocalLibraryItem>> everyRecord;
    const Result<ArchivedCacheCleanup> cleanup = co_await cleanupArchivedCachePackages(everyRecord);
    if (!self)
        co_return;
    if (!cleanup) {
        m_importState->setImportRecoveryMessage(
            QStringLiteral("Archive verified; cache cleanup needs attention"));
    } else {
        scheduleCacheCleanupRetryIfNeeded(cleanup->pendingCount);
        if (cleanup->pendingCount > 0)
            m_importState->setImportRecoveryMessage(
                QStringLiteral("Archive verified; cache cleanup will retry"));
    }
    m_library->refreshVisibleLocalLibraryItems(true);
    const QList<LocalLibraryItem> records
        = m_d->services.localLibraryCache.readItems().value_or(QList<LocalLibraryItem>());
    if (std::none_of(records.cbegin(), records.cend(), mayBelongToUnfinishedImport))
        co_return;
    // The packages belong to the import that is starting or running (or to a recovery already
    // resuming them); they are resumed after the next sign-in if it leaves them unfinished.
    if (isImporterBusy())
        co_return;

    m_importState->setIsRecoveringInterruptedImports(true);
    m_importState->setImportRecoveryMessage(recoveringMessage);
    const std::stop_token stop = m_d->imports.importerRuns.token();
    QFuture<Result<QList<LocalLibraryItem>>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [importer = m_d->services.verifiedBackupImporter,
                         token,
                         statusDidChange = refreshingOnStatusChange(this),
                         stop] {
                            return importer.resumeInterruptedImports(
                                token, statusDidChange, {}, QUuid::createUuid(), stop);
                        });
    const std::optional<Result<QList<LocalLibraryItem>>> resumed
        = co_await Workflow::resumeIn(self, stop, job);
    if (!resumed)
        co_return;
    std::optional<QList<LocalLibraryItem>> after;
    if (*resumed) {
        m_library->refreshVisibleLocalLibraryItems(true);
        if (const Result<QList<LocalLibraryItem>> read
            = m_d->services.localLibraryCache.readItems())
            after = *read;
    }
    if (!after) {
        m_importState->setIsRecoveringInterruptedImports(false);
        m_library->refreshVisibleLocalLibraryItems(true);
        m_importState->setImportRecoveryMessage(recoveryNeedsAttentionMessage);
        co_return;
    }
    const bool needsAttention
        = std::any_of(after->cbegin(), after->cend(), [](const LocalLibraryItem &item) {
              return item.importStatus == LibraryItemImportStatus::NeedsAttention;
          });
    m_importState->setImportRecoveryMessage(
        needsAttention ? std::optional(recoveryNeedsAttentionMessage) : std::nullopt);
    m_importState->setIsRecoveringInterruptedImports(false);
}

} // namespace Pellwick
