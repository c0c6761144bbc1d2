#include "LibraryShellViewModel_p.h"

#include <PellwickApp/Feedback/RestoreFeedback.h>
#include <PellwickCore/Support/Overloaded.h>

#include <algorithm>
#include <variant>

namespace Pellwick {

/// The result of one transfer of a run.
struct RestoreTransferOutcome
{
    /// The transfer finished: its RAW original (and sidecar) saved and verified.
    struct Completed
    {
        RestoreTransferManifest manifest;
    };

    /// Any failure but a cancellation; a pause included.
    struct Failed
    {
        RestoreTransfer transfer;
        Error error;
    };

    /// The transfer was cancelled, or its request was being cancelled when its turn came.
    struct Cancelled
    {};

    std::variant<Completed, Failed, Cancelled> value;
};

namespace {

const QString restoreTransferOperation = QStringLiteral("Restore Transfer");

/// The outcomes of a run, sorted.
struct RestoreOutcomeSummary
{
    QList<RestoreTransferManifest> completedManifests;
    QList<RestoreTransfer> failedTransfers; ///< a paused transfer included
    QHash<qint64, QString> attentionReasons;
    bool wasPaused = false;
    bool wasCancelled = false;
};

template<typename Case>
bool isTransferError(const Error &error)
{
    const auto *transfer = error.as<RestoreTransferError>();
    return transfer && std::holds_alternative<Case>(transfer->value);
}

RestoreOutcomeSummary restoreOutcomeSummary(const QList<RestoreTransferOutcome> &outcomes)
{
    RestoreOutcomeSummary summary;
    for (const RestoreTransferOutcome &outcome : outcomes) {
        std::visit(
            Overloaded{
                [&](const RestoreTransferOutcome::Completed &completed) {
                    summary.completedManifests.append(completed.manifest);
                },
                [&](const RestoreTransferOutcome::Failed &failed) {
                    summary.failedTransfers.append(failed.transfer);
                    summary.attentionReasons.insert(
                        failed.transfer.id.libraryItemID,
                        RestoreFeedback::restoreTransferFailureReason(failed.error));
                    summary.wasPaused
                        = summary.wasPaused
                          || isTransferError<RestoreTransferError::Paused>(failed.error);
                },
                [&](const RestoreTransferOutcome::Cancelled &) { summary.wasCancelled = true; },
            },
            outcome.value);
    }
    return summary;
}

/// The request as this run left it: failed items need attention, every other one is saved.
RestoreRequest updatedRestoreRequest(RestoreRequest request,
                                     const QList<RestoreTransfer> &failedTransfers,
                                     const QHash<qint64, QString> &failedTransferReasons)
{
    QSet<qint64> failedIDs;
    for (const RestoreTransfer &transfer : failedTransfers)
        failedIDs.insert(transfer.id.libraryItemID);
    for (RestoreRequestItem &item : request.items) {
        item.status = failedIDs.contains(item.libraryItemID) ? RestoreRequestStatus::NeedsAttention
                                                             : RestoreRequestStatus::Downloaded;
        if (const auto reason = failedTransferReasons.constFind(item.libraryItemID);
            reason != failedTransferReasons.cend())
            item.attentionReason = *reason;
    }
    return request;
}

/// The run's row between transfers: no current file.
TransferProgress restoreRunRow(const QUuid &progressID,
                               TransferProgressPhase phase,
                               qint64 completedBytes,
                               qint64 totalBytes,
                               qint64 completedPackages,
                               qint64 transferCount)
{
    return {.id = progressID,
            .operationName = restoreTransferOperation,
            .phase = phase,
            .detail = std::nullopt,
            .currentFilename = std::nullopt,
            .currentFileCompletedByteCount = std::nullopt,
            .currentFileTotalByteCount = std::nullopt,
            .completedByteCount = completedBytes,
            .totalByteCount = totalBytes,
            .completedPackageCount = completedPackages,
            .totalPackageCount = transferCount};
}

qint64 transferByteCount(const RestoreTransfer &transfer)
{
    return saturatingByteSum(transfer.expectedByteCount,
                             transfer.sidecar ? transfer.sidecar->expectedByteCount : 0);
}

RestoreTransferCapability capabilityOf(const RestoreTransfer &transfer)
{
    RestoreTransferCapability capability{.libraryItemID = transfer.id.libraryItemID,
                                         .canonicalFilename = transfer.canonicalFilename,
                                         .byteCount = transfer.expectedByteCount,
                                         .transferURL = transfer.transferURL,
                                         .expiresAt = transfer.capabilityExpiresAt,
                                         .sidecar = std::nullopt};
    if (const std::optional<RestoreTransferFile> &sidecar = transfer.sidecar)
        capability.sidecar = RestoreTransferCapabilityFile{sidecar->canonicalFilename,
                                                           sidecar->expectedByteCount,
                                                           sidecar->expectedContentHash,
                                                           sidecar->transferURL,
                                                           sidecar->capabilityExpiresAt};
    return capability;
}

bool isSameOrInside(const QString &path, const QString &folder)
{
    return path == folder
           || path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder
                                                                : folder + QLatin1Char('/'));
}

/// The arguments of one planning of a run, all values.
struct RestorePlanning
{
    RestoreRequestCoordinator coordinator;
    std::shared_ptr<RestoreTransferEngine> engine;
    QString token;
    RestoreRequest request;
    QString destinationDirectory;
    QHash<qint64, QString> destinationFilenames;

    /// Plans with the manifests completed so far, so files saved earlier in the same run are
    /// reused rather than taken for conflicts.
    Result<QList<RestoreTransfer>> plan(std::stop_token stop) const
    {
        PELLWICK_TRY_ASSIGN(const LibraryShellViewModel::RestoreTransferManifests manifests,
                            LibraryShellViewModel::completedTransferManifests(*engine, request));
        return coordinator.restoreTransfers(
            token, request.id, destinationDirectory, destinationFilenames, manifests, stop);
    }
};

/// The transfers, or the managed folder that holds the destination (the innermost, when one
/// lies inside another).
using RestorePlan = std::variant<QList<RestoreTransfer>, ManagedFolder>;

Result<RestorePlan> planRestore(const RestorePlanning &planning,
                                const FileManager &files,
                                const QList<std::pair<ManagedFolder, QString>> &managedFolders,
                                std::stop_token stop)
{
    const QString destination = resolvingSymlinksInPath(files, planning.destinationDirectory);
    std::optional<std::pair<ManagedFolder, QString>> holder;
    for (const auto &[kind, folder] : managedFolders) {
        if (folder.isEmpty())
            continue;
        const QString resolved = resolvingSymlinksInPath(files, folder);
        if (isSameOrInside(destination, resolved)
            && (!holder || resolved.size() > holder->second.size()))
            holder = std::pair(kind, resolved);
    }
    if (holder)
        return RestorePlan(holder->first);
    PELLWICK_TRY_ASSIGN(QList<RestoreTransfer> transfers, planning.plan(std::move(stop)));
    return RestorePlan(std::move(transfers));
}

} // namespace

Result<LibraryShellViewModel::RestoreTransferManifests>
LibraryShellViewModel::completedTransferManifests(const RestoreTransferEngine &engine,
                                                  const RestoreRequest &request)
{
    RestoreTransferManifests manifests;
    for (const RestoreRequestItem &item : request.items) {
        for (const RestoreTransferArtifact artifact :
             {RestoreTransferArtifact::Raw, RestoreTransferArtifact::Sidecar}) {
            const RestoreTransferIdentifier id{request.id, item.libraryItemID, artifact};
            PELLWICK_TRY_ASSIGN(const std::optional<RestoreTransferManifest> manifest,
                                engine.manifest(id));
            if (manifest && manifest->isComplete)
                manifests.insert(id, *manifest);
        }
    }
    return manifests;
}

QList<std::pair<ManagedFolder, QString>> LibraryShellViewModel::managedFolders() const
{
    QList<std::pair<ManagedFolder, QString>> folders{
        {ManagedFolder::IngestCache, m_d->services.ingestCache.rootURL()},
        {ManagedFolder::StagingArea, m_d->services.verifiedBackupImporter.stagingArea().rootURL()}};
    if (const std::optional<QString> &retained = m_ingestCacheState->retainedIngestCacheURL())
        folders.append({ManagedFolder::RetainedIngestCache, *retained});
    if (m_d->services.restoreTransferEngine)
        folders.append(
            {ManagedFolder::RestoreTransferState, m_d->services.restoreTransferEngine->rootPath()});
    return folders;
}

QCoro::Task<> LibraryShellViewModel::restoreReadyItems(QString destinationDirectory,
                                                       QHash<qint64, QString> destinationFilenames)
{
    const QPointer<LibraryShellViewModel> self(this);
    if (!m_sessionState->session() || !m_d->services.restoreTransferEngine)
        co_return;
    const std::optional<RestoreRequest> held = m_restoreState->activeRestoreRequest();
    if (!held || m_restoreState->isRestoreTransferActive()
        || m_d->restore.cancellingRestoreRequestID == held->id)
        co_return;
    const RestoreRequest &request = *held;
    const QString token = m_sessionState->session()->token;
    m_restoreState->setRestoreErrorMessage(std::nullopt);
    m_restoreState->setNeedsLocalLibraryCacheRebuild(false);
    m_d->restore.isRestorePauseRequested = false;
    m_restoreState->setIsRestoreTransferActive(true);
    const auto endRun = [this] {
        m_d->restore.isRestorePauseRequested = false;
        m_restoreState->setIsRestoreTransferActive(false);
    };
    const auto publishFailure = [this, &destinationDirectory](const Error &error) {
        const auto *coordinator = error.as<RestoreRequestCoordinatorError>();
        const auto *conflict
            = coordinator
                  ? std::get_if<RestoreRequestCoordinatorError::DestinationFilenameConflict>(
                      &coordinator->value)
                  : nullptr;
        if (!conflict) {
            recordRestoreError(error, restoreTransferOperation);
            return;
        }
        // The name first: a prompt opened by the conflict shows the suggestion.
        m_restoreState->setRestoreConflictFilename(conflict->suggestedFilename);
        m_restoreState->setRestoreFilenameConflict(
            RestoreFilenameConflict{conflict->libraryItemID,
                                    destinationDirectory,
                                    lastPathComponent(conflict->existingURL)});
    };

    const RestorePlanning planning{m_d->services.restoreCoordinator,
                                   m_d->services.restoreTransferEngine,
                                   token,
                                   request,
                                   destinationDirectory,
                                   destinationFilenames};
    QFuture<Result<RestorePlan>> planningJob
        = Workflow::run(WorkflowPools::userInitiated(),
                        [planning,
                         files = m_d->services.fileManager,
                         folders = managedFolders(),
                         stop = m_d->restore.requestWorkflows.token()] {
                            return planRestore(planning, *files, folders, stop);
                        });
    const std::stop_token never;
    const std::optional<Result<RestorePlan>> planned
        = co_await Workflow::resumeIn(self, never, planningJob);
    if (!planned)
        co_return;
    if (!*planned) {
        endRun();
        publishFailure(planned->error());
        co_return;
    }
    if (const ManagedFolder *holder = std::get_if<ManagedFolder>(&**planned)) {
        endRun();
        m_restoreState->setRestoreErrorMessage(RestoreFeedback::managedDestinationMessage(*holder));
        co_return;
    }

    QList<RestoreTransfer> transfers;
    for (const RestoreTransfer &transfer : std::get<QList<RestoreTransfer>>(**planned)) {
        const auto item = std::find_if(
            request.items.cbegin(), request.items.cend(), [&](const RestoreRequestItem &candidate) {
                return candidate.libraryItemID == transfer.id.libraryItemID;
            });
        if (item != request.items.cend() && item->status != RestoreRequestStatus::Downloaded)
            transfers.append(transfer);
    }
    if (m_d->restore.cancellingRestoreRequestID == request.id) {
        endRun();
        co_return;
    }

    const QList<RestoreTransferOutcome> outcomes = co_await restoreTransfers(
        transfers, token, destinationDirectory, destinationFilenames, request);
    if (!self)
        co_return;
    const Result<void> settled
        = co_await applyRestoreOutcomes(outcomes, request, token, destinationDirectory);
    if (!self)
        co_return;
    endRun();
    if (!settled)
        publishFailure(settled.error());
    // A saved file spent restore allowance: the figures shown are read again.
    if (std::any_of(outcomes.cbegin(), outcomes.cend(), [](const RestoreTransferOutcome &outcome) {
            return std::holds_alternative<RestoreTransferOutcome::Completed>(outcome.value);
        }))
        co_await refreshLibrary();
}

qint64 LibraryShellViewModel::beginRestoreTransferProgress(const QList<RestoreTransfer> &transfers,
                                                           const QUuid &progressID)
{
    qint64 totalBytes = 0;
    for (const RestoreTransfer &transfer : transfers)
        totalBytes = saturatingByteSum(totalBytes, transferByteCount(transfer));
    m_board->open(progressID);
    m_board->update(restoreRunRow(
        progressID, TransferProgressPhase::Preparing, 0, totalBytes, 0, transfers.size()));
    return totalBytes;
}

QCoro::Task<QList<RestoreTransferOutcome>>
LibraryShellViewModel::restoreTransfers(QList<RestoreTransfer> transfers,
                                        QString token,
                                        QString destinationDirectory,
                                        QHash<qint64, QString> destinationFilenames,
                                        RestoreRequest request)
{
    const QPointer<LibraryShellViewModel> self(this);
    const QUuid progressID = QUuid::createUuid();
    const qint64 totalBytes = beginRestoreTransferProgress(transfers, progressID);
    const qint64 transferCount = transfers.size();
    const RestorePlanning planning{m_d->services.restoreCoordinator,
                                   m_d->services.restoreTransferEngine,
                                   token,
                                   request,
                                   destinationDirectory,
                                   destinationFilenames};
    const TransferProgressSink sink = m_board->sink();
    QList<RestoreTransferOutcome> outcomes;
    qint64 completedBytes = 0;
    qint64 completedPackages = 0;
    const std::stop_token never;
    for (const RestoreTransfer &transfer : transfers) {
        if (m_d->restore.cancellingRestoreRequestID == transfer.id.restoreRequestID) {
            outcomes.append(RestoreTransferOutcome{RestoreTransferOutcome::Cancelled{}});
            break;
        }
        if (m_d->restore.isRestorePauseRequested) {
            outcomes.append(RestoreTransferOutcome{RestoreTransferOutcome::Failed{
                transfer, RestoreTransferError{RestoreTransferError::Paused{}}}});
            break;
        }
        m_d->restore.activeRestoreTransferID = transfer.id;
        RestoreTransferExecutor::RefreshCapability refresh
            = [planning,
               id = transfer.id](std::stop_token stop) -> Result<RestoreTransferCapability> {
            PELLWICK_TRY_ASSIGN(const QList<RestoreTransfer> plan, planning.plan(std::move(stop)));
            for (const RestoreTransfer &candidate : plan) {
                if (candidate.id == id)
                    return capabilityOf(candidate);
            }
            return failure(RestoreTransferError{
                RestoreTransferError::MissingLocalLibraryItem{id.libraryItemID}});
        };
        RestoreTransferExecutor::ProgressCallback progress
            = [sink, progressID, totalBytes, transferCount, completedBytes, completedPackages](
                  const TransferProgress &reported) {
                  TransferProgress row = reported;
                  row.id = progressID;
                  row.operationName = restoreTransferOperation;
                  row.completedByteCount
                      = saturatingByteSum(completedBytes, reported.completedByteCount);
                  row.totalByteCount = totalBytes;
                  row.completedPackageCount = completedPackages;
                  row.totalPackageCount = transferCount;
                  sink(row);
              };
        QFuture<Result<RestoreTransferManifest>> job = Workflow::run(
            WorkflowPools::restoreTransfers(),
            [engine = m_d->services.restoreTransferEngine,
             transfer,
             refresh = std::move(refresh),
             progress = std::move(progress),
             progressID] {
                return engine->continueTransfer(transfer, refresh, progress, progressID);
            });
        const std::optional<Result<RestoreTransferManifest>> outcome
            = co_await Workflow::resumeIn(self, never, job);
        if (!outcome)
            co_return outcomes;
        if (*outcome) {
            outcomes.append(RestoreTransferOutcome{RestoreTransferOutcome::Completed{**outcome}});
            completedBytes = saturatingByteSum(completedBytes, transferByteCount(transfer));
            ++completedPackages;
            m_board->update(restoreRunRow(progressID,
                                          TransferProgressPhase::Verifying,
                                          completedBytes,
                                          totalBytes,
                                          completedPackages,
                                          transferCount));
            m_d->restore.activeRestoreTransferID.reset();
            continue;
        }
        m_d->restore.activeRestoreTransferID.reset();
        const Error &error = outcome->error();
        if (isTransferError<RestoreTransferError::Cancelled>(error)) {
            outcomes.append(RestoreTransferOutcome{RestoreTransferOutcome::Cancelled{}});
            break;
        }
        outcomes.append(RestoreTransferOutcome{RestoreTransferOutcome::Failed{transfer, error}});
        if (isTransferError<RestoreTransferError::Paused>(error))
            break;
    }
    m_board->remove(progressID);
    co_return outcomes;
}

QCoro::Task<Result<void>>
LibraryShellViewModel::applyRestoreOutcomes(QList<RestoreTransferOutcome> outcomes,
                                            RestoreRequest request,
                                            QString token,
                                            QString destinationDirectory)
{
    const QPointer<LibraryShellViewModel> self(this);
    const RestoreOutcomeSummary summary = restoreOutcomeSummary(outcomes);
    // A Stop that overtook the run's end settles it as cancelled too: the cancellation owns the
    // request's texts and statuses.
    const auto isCancelled = [&] {
        return summary.wasCancelled || m_d->restore.cancellingRestoreRequestID == request.id;
    };
    if (isCancelled()) {
        m_restoreState->setHasPausedRestoreTransfer(false);
        co_return Result<void>();
    }
    const RestoreRequestCoordinator coordinator = m_d->services.restoreCoordinator;
    const std::stop_token never;
    QFuture<Result<void>> marking = Workflow::run(
        WorkflowPools::userInitiated(), [coordinator, manifests = summary.completedManifests] {
            return coordinator.markRestoreTransfersComplete(manifests);
        });
    const std::optional<Result<void>> marked = co_await Workflow::resumeIn(self, never, marking);
    if (!marked)
        co_return Result<void>();
    if (!*marked)
        co_return *marked;
    if (!summary.completedManifests.isEmpty())
        m_restoreState->setLastCompletedRestoreDestination(destinationDirectory);
    if (summary.wasPaused) {
        m_restoreState->setRestoreMessage(RestoreFeedback::restoreTransferPausedMessage());
        m_restoreState->setHasPausedRestoreTransfer(true);
        m_library->refreshVisibleLocalLibraryItems(true);
        co_return Result<void>();
    }
    if (isCancelled()) {
        m_restoreState->setHasPausedRestoreTransfer(false);
        co_return Result<void>();
    }

    QFuture<Result<std::optional<RestoreRequest>>> settling = Workflow::run(
        WorkflowPools::userInitiated(),
        [coordinator,
         summary,
         token,
         id = request.id,
         stop = m_d->restore.requestWorkflows.token()]() -> Result<std::optional<RestoreRequest>> {
            PELLWICK_TRY(coordinator.markRestoreTransfersNeedsAttention(summary.failedTransfers,
                                                                        summary.attentionReasons));
            // The backend is not told about failed items: the request stays ready there, so a
            // later run transfers them again.
            if (!summary.failedTransfers.isEmpty())
                return std::optional<RestoreRequest>();
            PELLWICK_TRY_ASSIGN(RestoreRequest completed,
                                coordinator.completeRestoreRequest(token, id, stop));
            return std::optional(std::move(completed));
        });
    const std::optional<Result<std::optional<RestoreRequest>>> settled
        = co_await Workflow::resumeIn(self, never, settling);
    if (!settled)
        co_return Result<void>();
    if (!*settled)
        co_return failure(settled->error());
    if (const std::optional<RestoreRequest> &completed = **settled) {
        m_restoreState->setActiveRestoreRequest(
            completed->status == RestoreRequestStatus::Downloaded ? std::nullopt : completed);
    } else {
        m_restoreState->setActiveRestoreRequest(
            updatedRestoreRequest(request, summary.failedTransfers, summary.attentionReasons));
    }
    const qint64 savedCount = summary.completedManifests.size();
    const qint64 failedCount = summary.failedTransfers.size();
    m_restoreState->setRestoreMessage(
        savedCount > 0 ? std::optional(RestoreFeedback::restoreCompleteMessage(savedCount))
                       : std::nullopt);
    m_restoreState->setRestoreErrorMessage(
        failedCount > 0 ? std::optional(RestoreFeedback::itemsNeedAttentionMessage(failedCount))
                        : std::nullopt);
    m_restoreState->setHasPausedRestoreTransfer(false);
    m_library->refreshVisibleLocalLibraryItems(true);
    co_return Result<void>();
}

QCoro::Task<>
LibraryShellViewModel::resolveRestoreFilenameConflict(RestoreFilenameConflict conflict,
                                                      QString filename)
{
    // The prompt says why; a name refused here starts nothing.
    if (RestoreFeedback::refusedRestoreFilenameMessage(filename))
        co_return;
    const QString name = filename.trimmed();
    m_restoreState->setRestoreFilenameConflict(std::nullopt);
    const std::optional<RestoreRequest> &request = m_restoreState->activeRestoreRequest();
    const std::optional<qint64> requestID
        = request ? std::optional<qint64>(request->id) : std::nullopt;
    if (m_d->restore.chosenRestoreFilenamesRequestID != requestID) {
        m_d->restore.chosenRestoreFilenames.clear();
        m_d->restore.chosenRestoreFilenamesRequestID = requestID;
    }
    m_d->restore.chosenRestoreFilenames.insert(conflict.libraryItemID, name);
    const QHash<qint64, QString> filenames = m_d->restore.chosenRestoreFilenames;
    const QString directory = conflict.destinationDirectory;
    co_await restoreReadyItems(directory, filenames);
}

} // namespace Pellwick
