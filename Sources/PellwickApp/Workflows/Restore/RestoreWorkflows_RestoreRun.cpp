#include "RestoreWorkflows_p.h"

#include <PellwickApp/Feedback/DiskFeedback.h>
#include <PellwickApp/Feedback/RestoreFeedback.h>
#include <PellwickCore/Support/FileIdentity.h>
#include <PellwickCore/Support/Overloaded.h>

#include <algorithm>
#include <variant>

namespace Pellwick {

namespace {

const QString restoreTransferOperation = QStringLiteral("Restore Transfer");

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
        PELLWICK_TRY_ASSIGN(const RestoreWorkflows::RestoreTransferManifests manifests,
                            RestoreWorkflows::completedTransferManifests(*engine, request));
        return coordinator.restoreTransfers(
            token, request.id, destinationDirectory, destinationFilenames, manifests, stop);
    }
};

/// A folder the run must write to that cannot take a file.
struct UnwritableFolder
{
    Error error;
};

/// The transfers still to do, the managed folder that holds the destination (the innermost, when
/// one lies inside another), the first folder the run could not write to, or the first without
/// room for what the run would write there.
using RestorePlan
    = std::variant<QList<RestoreTransfer>, ManagedFolder, UnwritableFolder, RestoreSpaceShortfall>;

/// The planned transfers whose item the request does not hold saved, in the planned order.
QList<RestoreTransfer> transfersToDo(const QList<RestoreTransfer> &planned,
                                     const RestoreRequest &request)
{
    QList<RestoreTransfer> transfers;
    for (const RestoreTransfer &transfer : planned) {
        const auto item = std::find_if(
            request.items.cbegin(), request.items.cend(), [&](const RestoreRequestItem &candidate) {
                return candidate.libraryItemID == transfer.id.libraryItemID;
            });
        if (item != request.items.cend() && item->status != RestoreRequestStatus::Downloaded)
            transfers.append(transfer);
    }
    return transfers;
}

Result<RestorePlan> planRestore(const RestorePlanning &planning,
                                const FileManager &files,
                                const QList<std::pair<ManagedFolder, QString>> &managedFolders,
                                std::stop_token stop)
{
    // By identity: a bind mount of a managed folder is that folder under another name.
    std::optional<std::pair<ManagedFolder, int>> holder;
    for (const auto &[kind, folder] : managedFolders) {
        const std::optional<int> depth
            = sameOrInsideDepth(files, planning.destinationDirectory, folder);
        if (depth && (!holder || *depth < holder->second))
            holder = std::pair(kind, *depth);
    }
    if (holder)
        return RestorePlan(holder->first);
    // Before anything is downloaded, so that a folder that says no costs no download.
    for (const QString &folder : {planning.destinationDirectory, planning.engine->rootPath()}) {
        if (Result<void> writable = checkFolderTakesFiles(files, folder); !writable)
            return RestorePlan(UnwritableFolder{std::move(writable).error()});
    }
    PELLWICK_TRY_ASSIGN(const QList<RestoreTransfer> planned, planning.plan(std::move(stop)));
    QList<RestoreTransfer> transfers = transfersToDo(planned, planning.request);
    // Also before anything is downloaded: a disk without room would take parts it cannot keep.
    PELLWICK_TRY_ASSIGN(std::optional<RestoreSpaceShortfall> shortfall,
                        planning.engine->spaceShortfall(transfers, planning.destinationDirectory));
    if (shortfall)
        return RestorePlan(std::move(*shortfall));
    // Also before anything is downloaded: the outcome of a run that fills the disk still fits.
    // Room that cannot be had costs the run nothing: its outcome is then written as it can be.
    if (!transfers.isEmpty())
        (void) planning.engine->reserveRunOutcome(planning.request.id,
                                                  planning.request.items.size());
    return RestorePlan(std::move(transfers));
}

} // namespace

Result<RestoreWorkflows::RestoreTransferManifests>
RestoreWorkflows::completedTransferManifests(const RestoreTransferEngine &engine,
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

QList<std::pair<ManagedFolder, QString>> RestoreWorkflows::managedFolders() const
{
    QList<std::pair<ManagedFolder, QString>> folders{
        {ManagedFolder::IngestCache, m_services.ingestCacheRoot()},
        {ManagedFolder::StagingArea, m_services.stagingAreaRoot},
        {ManagedFolder::LocalLibraryCache, m_services.localLibraryCache.rootURL()}};
    if (const std::optional<QString> &retained = m_ingestCache.retainedIngestCacheURL())
        folders.append({ManagedFolder::RetainedIngestCache, *retained});
    // The folder a move is copying the cache into becomes the Ingest Cache: its retry removes
    // what it did not copy, and a restored pair there would be taken for a cached copy.
    if (const auto &pending = m_ingestCache.pendingIngestCacheMigration())
        folders.append({ManagedFolder::IngestCache, pending->newRootURL});
    if (m_services.restoreTransferEngine)
        folders.append(
            {ManagedFolder::RestoreTransferState, m_services.restoreTransferEngine->rootPath()});
    return folders;
}

QCoro::Task<> RestoreWorkflows::restoreReadyItems(QString destinationDirectory,
                                                  QHash<qint64, QString> destinationFilenames)
{
    const QPointer<RestoreWorkflows> self(this);
    if (!m_session.session() || !m_services.restoreTransferEngine)
        co_return;
    const std::optional<RestoreRequest> held = m_state.activeRestoreRequest();
    if (!held || m_state.isRestoreTransferActive() || m_cancellingRestoreRequestID == held->id)
        co_return;
    const RestoreRequest &request = *held;
    const QString token = m_session.session()->token;
    m_state.setRestoreErrorMessage(std::nullopt);
    m_state.setNeedsLocalLibraryCacheRebuild(false);
    m_isRestorePauseRequested = false;
    ++m_restoreRunCount;
    m_runningRestoreDestination = destinationDirectory;
    m_state.setIsRestoreTransferActive(true);
    const auto endRun = [this] {
        m_isRestorePauseRequested = false;
        m_runningRestoreDestination.reset();
        m_state.setIsRestoreTransferActive(false);
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
        m_state.setRestoreConflictFilename(conflict->suggestedFilename);
        m_state.setRestoreFilenameConflict(
            RestoreFilenameConflict{conflict->libraryItemID,
                                    destinationDirectory,
                                    lastPathComponent(conflict->existingURL)});
    };

    const RestorePlanning planning{m_services.restoreCoordinator,
                                   m_services.restoreTransferEngine,
                                   token,
                                   request,
                                   destinationDirectory,
                                   destinationFilenames};
    QFuture<Result<RestorePlan>> planningJob
        = Workflow::run(WorkflowPools::userInitiated(),
                        [planning,
                         files = m_services.fileManager,
                         folders = managedFolders(),
                         stop = m_requestWorkflows.token()] {
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
        m_state.setRestoreErrorMessage(RestoreFeedback::managedDestinationMessage(*holder));
        co_return;
    }
    if (const auto *unwritable = std::get_if<UnwritableFolder>(&**planned)) {
        endRun();
        m_state.setRestoreErrorMessage(RestoreFeedback::restoreTransferFailureReason(
            unwritable->error, destinationDirectory, m_services.restoreTransferEngine->rootPath()));
        co_return;
    }

    if (const auto *shortfall = std::get_if<RestoreSpaceShortfall>(&**planned)) {
        endRun();
        m_state.setRestoreErrorMessage(RestoreFeedback::restoreSpaceShortfallMessage(
            *shortfall, m_services.restoreTransferEngine->rootPath()));
        co_return;
    }
    const QList<RestoreTransfer> &transfers = std::get<QList<RestoreTransfer>>(**planned);
    if (m_cancellingRestoreRequestID == request.id) {
        endRun();
        co_return;
    }

    // This run continues whatever an earlier one left unfinished.
    m_state.setUnfinishedRestoreDestination(std::nullopt);
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
        co_await m_services.refreshLibrary();
}

qint64 RestoreWorkflows::beginRestoreTransferProgress(const QList<RestoreTransfer> &transfers,
                                                      const QUuid &progressID)
{
    qint64 totalBytes = 0;
    for (const RestoreTransfer &transfer : transfers)
        totalBytes = saturatingByteSum(totalBytes, transferByteCount(transfer));
    m_board.open(progressID);
    m_board.update(restoreRunRow(
        progressID, TransferProgressPhase::Preparing, 0, totalBytes, 0, transfers.size()));
    return totalBytes;
}

QCoro::Task<QList<RestoreTransferOutcome>>
RestoreWorkflows::restoreTransfers(QList<RestoreTransfer> transfers,
                                   QString token,
                                   QString destinationDirectory,
                                   QHash<qint64, QString> destinationFilenames,
                                   RestoreRequest request)
{
    const QPointer<RestoreWorkflows> self(this);
    const QUuid progressID = QUuid::createUuid();
    const qint64 totalBytes = beginRestoreTransferProgress(transfers, progressID);
    const qint64 transferCount = transfers.size();
    const RestorePlanning planning{m_services.restoreCoordinator,
                                   m_services.restoreTransferEngine,
                                   token,
                                   request,
                                   destinationDirectory,
                                   destinationFilenames};
    const TransferProgressSink sink = m_board.sink();
    QList<RestoreTransferOutcome> outcomes;
    qint64 completedBytes = 0;
    qint64 completedPackages = 0;
    std::optional<Error> diskFull;
    const std::stop_token never;
    for (const RestoreTransfer &transfer : transfers) {
        if (m_cancellingRestoreRequestID == transfer.id.restoreRequestID) {
            outcomes.append(RestoreTransferOutcome{RestoreTransferOutcome::Cancelled{}});
            break;
        }
        if (m_isRestorePauseRequested) {
            outcomes.append(RestoreTransferOutcome{RestoreTransferOutcome::Failed{
                transfer, RestoreTransferError{RestoreTransferError::Paused{}}}});
            break;
        }
        if (diskFull) {
            // Nothing more is fetched onto a full disk; what was fetched stays for the retry.
            outcomes.append(
                RestoreTransferOutcome{RestoreTransferOutcome::Failed{transfer, *diskFull}});
            continue;
        }
        m_activeRestoreTransferID = transfer.id;
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
            [engine = m_services.restoreTransferEngine,
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
            m_board.update(restoreRunRow(progressID,
                                         TransferProgressPhase::Verifying,
                                         completedBytes,
                                         totalBytes,
                                         completedPackages,
                                         transferCount));
            m_activeRestoreTransferID.reset();
            continue;
        }
        m_activeRestoreTransferID.reset();
        const Error &error = outcome->error();
        if (isTransferError<RestoreTransferError::Cancelled>(error)) {
            outcomes.append(RestoreTransferOutcome{RestoreTransferOutcome::Cancelled{}});
            break;
        }
        outcomes.append(RestoreTransferOutcome{RestoreTransferOutcome::Failed{transfer, error}});
        if (isTransferError<RestoreTransferError::Paused>(error))
            break;
        if (const FileSystemError *cause = DiskFeedback::fileSystemCause(error);
            cause && DiskFeedback::isNoSpace(cause->code))
            diskFull = error;
    }
    m_board.remove(progressID);
    co_return outcomes;
}

QCoro::Task<> RestoreWorkflows::resolveRestoreFilenameConflict(RestoreFilenameConflict conflict,
                                                               QString filename)
{
    // The prompt says why; a name refused here starts nothing.
    if (RestoreFeedback::refusedRestoreFilenameMessage(filename))
        co_return;
    const QString name = filename.trimmed();
    m_state.setRestoreFilenameConflict(std::nullopt);
    const std::optional<RestoreRequest> &request = m_state.activeRestoreRequest();
    const std::optional<qint64> requestID
        = request ? std::optional<qint64>(request->id) : std::nullopt;
    if (m_chosenRestoreFilenamesRequestID != requestID) {
        m_chosenRestoreFilenames.clear();
        m_chosenRestoreFilenamesRequestID = requestID;
    }
    m_chosenRestoreFilenames.insert(conflict.libraryItemID, name);
    const QHash<qint64, QString> filenames = m_chosenRestoreFilenames;
    const QString directory = conflict.destinationDirectory;
    co_await restoreReadyItems(directory, filenames);
}

} // namespace Pellwick
