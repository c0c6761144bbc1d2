#include "RestorePresentation.h"

#include <PellwickApp/Feedback/RestoreFeedback.h>
#include <PellwickApp/Shell/Operations/RestoreOperations.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>

namespace Pellwick {

namespace {

std::optional<QString> allowanceText(const std::optional<PaidPlanState> &plan)
{
    if (!plan)
        return std::nullopt;
    const QString unit = plan->status == PaidPlanStatus::Trial
                             ? QStringLiteral("restored under Trial Quota")
                             : QStringLiteral("restored this plan year");
    return LibraryPresentation::byteProgressText(
        plan->restoreAllowance.usedBytes, plan->restoreAllowance.limitBytes, unit);
}

} // namespace

RestorePageState RestorePageState::read(const RestoreState &restore,
                                        const SessionState &session,
                                        const RestoreOperations &operations)
{
    RestorePageState state;
    state.activeRestoreRequest = restore.activeRestoreRequest();
    if (session.session())
        state.paidPlan = session.session()->library.paidPlan;
    state.isRestoreTransferActive = restore.isRestoreTransferActive();
    state.hasPausedRestoreTransfer = restore.hasPausedRestoreTransfer();
    state.isCancellingRestore = restore.isCancellingRestore();
    state.needsLocalLibraryCacheRebuild = restore.needsLocalLibraryCacheRebuild();
    state.restoreMessage = restore.restoreMessage();
    state.restoreErrorMessage = restore.restoreErrorMessage();
    state.lastCompletedRestoreDestination = restore.lastCompletedRestoreDestination();
    state.selectedRestoreItems = operations.selectedRestoreItems();
    state.restoreWorkflowItems = operations.restoreWorkflowItems();
    return state;
}

RestorePresentation RestorePresentation::derive(const RestorePageState &state)
{
    const std::optional<RestoreRequest> &request = state.activeRestoreRequest;
    const std::optional<RestoreRequestStatus> status
        = request ? std::optional(request->status) : std::nullopt;

    RestorePresentation presentation;
    presentation.restoreStatusText = LibraryPresentation::restoreStatusTitle(status).value_or(
        QStringLiteral("No active Restore Request"));
    presentation.restoreStatusTone = LibraryPresentation::restoreStatusTone(status);
    presentation.restoreAllowanceText = allowanceText(state.paidPlan);
    presentation.restoreAttentionReason
        = request ? RestoreFeedback::restoreAttentionReason(*request) : std::nullopt;
    presentation.hasTransferFailures = request && failsTransfers(*request);
    presentation.actionAvailability
        = LibraryPresentation::restoreActionAvailability(state.selectedRestoreItems.size(),
                                                         status,
                                                         state.isRestoreTransferActive,
                                                         state.hasPausedRestoreTransfer,
                                                         presentation.hasTransferFailures);

    RestoreSummaryFields &summary = presentation.summary;
    summary.itemTitle
        = request ? QStringLiteral("Restore Request items") : QStringLiteral("Selected");
    summary.itemCount = state.restoreWorkflowItems.size();
    if (request) {
        // The figure the confirmation showed for these items, RAW originals and sidecars, while
        // this computer holds a record of each; else the request's own count.
        summary.requestByteCount
            = state.restoreWorkflowItems.size() == request->items.size()
                  ? LibraryPresentation::restoreByteCount(state.restoreWorkflowItems)
                  : request->byteCount;
        summary.preparationEstimate = request->preparationEstimate;
    }
    summary.statusText = presentation.restoreStatusText;
    summary.statusTone = presentation.restoreStatusTone;
    summary.allowanceText = presentation.restoreAllowanceText;
    summary.attentionReason = presentation.restoreAttentionReason;
    summary.timelineStatus = status;
    summary.isCancellingRestore = state.isCancellingRestore;
    summary.canRebuildLocalLibraryCache = state.needsLocalLibraryCacheRebuild;
    summary.message = state.restoreMessage;
    summary.messageTone
        = LibraryPresentation::restoreMessageTone(status, presentation.hasTransferFailures);
    summary.errorMessage = state.restoreErrorMessage;
    summary.helpText = presentation.actionAvailability.transferHelpText;
    summary.completedDestination = state.lastCompletedRestoreDestination;
    return presentation;
}

} // namespace Pellwick
