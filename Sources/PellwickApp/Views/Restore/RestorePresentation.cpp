#include "RestorePresentation.h"

#include <PellwickApp/Shell/Operations/RestoreOperations.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>

#include <algorithm>

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

std::optional<QString> attentionReason(const std::optional<RestoreRequest> &request)
{
    if (!request)
        return std::nullopt;
    if (request->attentionReason)
        return request->attentionReason;
    const auto item = std::find_if(
        request->items.cbegin(), request->items.cend(), [](const RestoreRequestItem &each) {
            return each.attentionReason.has_value();
        });
    if (item != request->items.cend())
        return item->attentionReason;
    if (request->status == RestoreRequestStatus::NeedsAttention) {
        return QStringLiteral(
            "Archive Storage preparation needs attention, but Pellwick did not receive a detailed "
            "reason. Retry preparation or cancel this Restore Request.");
    }
    return std::nullopt;
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
    presentation.restoreAttentionReason = attentionReason(request);
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
        summary.requestByteCount = request->byteCount;
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
    summary.messageTone = presentation.hasTransferFailures ? LibraryPresentationTone::Attention
                                                           : presentation.restoreStatusTone;
    summary.errorMessage = state.restoreErrorMessage;
    summary.helpText = presentation.actionAvailability.transferHelpText;
    summary.completedDestination = state.lastCompletedRestoreDestination;
    return presentation;
}

} // namespace Pellwick
