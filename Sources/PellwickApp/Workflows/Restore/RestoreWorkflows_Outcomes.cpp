#include "RestoreWorkflows_p.h"

#include <PellwickApp/Feedback/RestoreFeedback.h>
#include <PellwickCore/Support/Overloaded.h>

#include <algorithm>
#include <variant>

namespace Pellwick {

namespace {

/// The outcomes of a run, sorted.
struct RestoreOutcomeSummary
{
    QList<RestoreTransferManifest> completedManifests;
    QList<RestoreTransfer> failedTransfers; ///< a paused transfer included
    QHash<qint64, QString> attentionReasons;
    bool wasPaused = false;
    bool wasCancelled = false;
};

/// The outcomes sorted; a failure in a folder names `destinationFolder` or `stateFolder`.
RestoreOutcomeSummary restoreOutcomeSummary(const QList<RestoreTransferOutcome> &outcomes,
                                            const QString &destinationFolder,
                                            const QString &stateFolder)
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
                        RestoreFeedback::restoreTransferFailureReason(
                            failed.error, destinationFolder, stateFolder));
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

} // namespace

RestoreRequest withStoredRunOutcome(const RestoreTransferEngine *engine, RestoreRequest request)
{
    if (!engine)
        return request;
    if (request.status != RestoreRequestStatus::Ready) {
        (void) engine->removeRunOutcome(request.id);
        return request;
    }
    const Result<std::optional<RestoreRunOutcome>> stored = engine->runOutcome(request.id);
    if (stored && *stored)
        return (*stored)->appliedTo(std::move(request));
    if (!stored || !engine->isRunOutcomeUnsaved(request.id))
        return request;
    // The last run left items unsaved and could not store which: the files saved tell the
    // rest, which need attention for a reason no longer known.
    RestoreRunOutcome unsaved;
    unsaved.restoreRequestID = request.id;
    for (const RestoreRequestItem &item : std::as_const(request.items)) {
        const auto isComplete = [&](RestoreTransferArtifact artifact, bool whenMissing) {
            const Result<std::optional<RestoreTransferManifest>> manifest
                = engine->manifest({request.id, item.libraryItemID, artifact});
            return manifest && (*manifest ? (*manifest)->isComplete : whenMissing);
        };
        if (isComplete(RestoreTransferArtifact::Raw, false)
            && isComplete(RestoreTransferArtifact::Sidecar, true))
            unsaved.savedItemIDs.append(item.libraryItemID);
        else
            unsaved.failedItems.insert(item.libraryItemID, QString());
    }
    return unsaved.appliedTo(std::move(request));
}

QCoro::Task<Result<void>>
RestoreWorkflows::applyRestoreOutcomes(QList<RestoreTransferOutcome> outcomes,
                                       RestoreRequest request,
                                       QString token,
                                       QString destinationDirectory)
{
    const QPointer<RestoreWorkflows> self(this);
    const RestoreTransferEngine *stateOwner = m_services.restoreTransferEngine.get();
    const RestoreOutcomeSummary summary = restoreOutcomeSummary(
        outcomes, destinationDirectory, stateOwner ? stateOwner->rootPath() : QString());
    // A Stop that overtook the run's end settles it as cancelled too: the cancellation owns the
    // request's texts and statuses.
    const auto isCancelled
        = [&] { return summary.wasCancelled || m_cancellingRestoreRequestID == request.id; };
    if (isCancelled()) {
        m_state.setHasPausedRestoreTransfer(false);
        co_return Result<void>();
    }
    const RestoreRequestCoordinator coordinator = m_services.restoreCoordinator;
    const std::stop_token never;
    // The outcome the library's markings hold is kept beside the manifests as well, where a
    // rebuild of the library cannot end it, in the room the run kept for it before it began.
    const std::shared_ptr<RestoreTransferEngine> engine = m_services.restoreTransferEngine;
    QFuture<Result<void>> marking = Workflow::run(
        WorkflowPools::userInitiated(),
        [coordinator, engine, summary, id = request.id]() -> Result<void> {
            PELLWICK_TRY(coordinator.markRestoreTransfersComplete(summary.completedManifests));
            // A paused run settles nothing else: the items it saved leave the stored failures.
            if (!engine || !summary.wasPaused)
                return {};
            if (Result<std::optional<RestoreRunOutcome>> stored = engine->runOutcome(id);
                stored && *stored) {
                for (const RestoreTransferManifest &manifest : summary.completedManifests)
                    (*stored)->noteSaved(manifest.id.libraryItemID);
                (void) engine->persistRunOutcome(**stored);
            }
            return {};
        });
    const std::optional<Result<void>> marked = co_await Workflow::resumeIn(self, never, marking);
    if (!marked)
        co_return Result<void>();
    if (!*marked)
        co_return *marked;
    if (!summary.completedManifests.isEmpty()) {
        m_lastCompletedRestoreRequestID = request.id;
        m_state.setLastCompletedRestoreDestination(destinationDirectory);
    }
    if (summary.wasPaused) {
        m_state.setRestoreMessage(RestoreFeedback::restoreTransferPausedMessage());
        m_state.setHasPausedRestoreTransfer(true);
        m_library.refreshVisibleLocalLibraryItems(true);
        co_return Result<void>();
    }
    if (isCancelled()) {
        m_state.setHasPausedRestoreTransfer(false);
        co_return Result<void>();
    }

    QFuture<Result<std::optional<RestoreRequest>>> settling = Workflow::run(
        WorkflowPools::userInitiated(),
        [coordinator, engine, summary, token, request, stop = m_requestWorkflows.token()]()
            -> Result<std::optional<RestoreRequest>> {
            PELLWICK_TRY(coordinator.markRestoreTransfersNeedsAttention(summary.failedTransfers,
                                                                        summary.attentionReasons));
            // The backend is not told about failed items: the request stays ready there, so a
            // later run transfers them again.
            if (!summary.failedTransfers.isEmpty()) {
                // Where even the room kept for it takes no outcome, word that it was not stored
                // keeps the next start from taking the run for a pause.
                if (engine
                    && !engine->persistRunOutcome(RestoreRunOutcome::of(updatedRestoreRequest(
                        request, summary.failedTransfers, summary.attentionReasons))))
                    (void) engine->markRunOutcomeUnsaved(request.id);
                return std::optional<RestoreRequest>();
            }
            // Nothing failed: no earlier failure stands, whatever the backend answers.
            if (engine)
                (void) engine->removeRunOutcome(request.id);
            PELLWICK_TRY_ASSIGN(RestoreRequest completed,
                                coordinator.completeRestoreRequest(token, request.id, stop));
            if (engine && completed.status == RestoreRequestStatus::Downloaded)
                engine->removeCompletedManifests(request);
            return std::optional(std::move(completed));
        });
    const std::optional<Result<std::optional<RestoreRequest>>> settled
        = co_await Workflow::resumeIn(self, never, settling);
    if (!settled)
        co_return Result<void>();
    if (!*settled)
        co_return failure(settled->error());
    if (const std::optional<RestoreRequest> &completed = **settled) {
        m_state.setActiveRestoreRequest(
            completed->status == RestoreRequestStatus::Downloaded ? std::nullopt : completed);
        const qint64 savedCount = summary.completedManifests.size();
        m_state.setRestoreMessage(
            savedCount > 0 ? std::optional(RestoreFeedback::restoreCompleteMessage(savedCount))
                           : std::nullopt);
    } else {
        // Not complete: the message counts the whole request, so it never reads as a success,
        // and it is the one warning of the run (the cause is the items' attention reason).
        const RestoreRequest updated
            = updatedRestoreRequest(request, summary.failedTransfers, summary.attentionReasons);
        m_state.setActiveRestoreRequest(updated);
        m_state.setRestoreMessage(RestoreFeedback::partlySavedMessage(updated));
    }
    m_state.setRestoreErrorMessage(std::nullopt);
    m_state.setHasPausedRestoreTransfer(false);
    m_library.refreshVisibleLocalLibraryItems(true);
    co_return Result<void>();
}

} // namespace Pellwick
