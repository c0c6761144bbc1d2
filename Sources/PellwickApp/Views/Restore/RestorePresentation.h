#pragma once

#include <PellwickCore/Backend/EntitlementState.h>
#include <PellwickCore/Library/LibraryPresentation.h>
#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Restore/RestoreRequest.h>

#include <QList>
#include <QString>

#include <optional>

namespace Pellwick {

class RestoreOperations;
class RestoreState;
class SessionState;

/// What the Restore page reads of the shell, as one plain value.
struct RestorePageState
{
    std::optional<RestoreRequest> activeRestoreRequest = {};
    /// The signed-in account's plan; none without a session.
    std::optional<PaidPlanState> paidPlan = {};
    bool isRestoreTransferActive = false;
    bool hasPausedRestoreTransfer = false;
    bool isCancellingRestore = false;
    bool needsLocalLibraryCacheRebuild = false;
    std::optional<QString> restoreMessage = {};
    std::optional<QString> restoreErrorMessage = {};
    std::optional<QString> lastCompletedRestoreDestination = {}; ///< an absolute folder path
    QList<LocalLibraryItem> selectedRestoreItems = {};
    QList<LocalLibraryItem> restoreWorkflowItems = {};

    /// The current values of the shell's published state and computed restore items.
    static RestorePageState read(const RestoreState &restore,
                                 const SessionState &session,
                                 const RestoreOperations &operations);

    bool operator==(const RestorePageState &) const = default;
};

/// The values the Restore Request card shows; its three actions are signals of the card.
struct RestoreSummaryFields
{
    QString itemTitle = {};
    qint64 itemCount = 0;
    /// What restoring the held request's items downloads, as the confirmation counted it.
    std::optional<qint64> requestByteCount = {};
    QString statusText = {};
    LibraryPresentationTone statusTone = LibraryPresentationTone::Secondary;
    std::optional<QString> allowanceText = {};
    std::optional<QString> preparationEstimate = {};
    std::optional<QString> attentionReason = {};
    std::optional<RestoreRequestStatus> timelineStatus = {};
    bool isCancellingRestore = false;
    bool canRebuildLocalLibraryCache = false;
    std::optional<QString> message = {};
    /// The tone of `message`: a request with files that were not saved is not shown as a success;
    /// the last word of a finished restore is.
    LibraryPresentationTone messageTone = LibraryPresentationTone::Secondary;
    std::optional<QString> errorMessage = {};
    QString helpText = {};
    std::optional<QString> completedDestination = {};

    bool operator==(const RestoreSummaryFields &) const = default;
};

/// Everything the Restore page derives from its state: the status text and tone, the allowance
/// line, the attention reason, whether a ready request has files that were not saved, the
/// action availability and the card's fields. Pure; any thread.
struct RestorePresentation
{
    QString restoreStatusText = {};
    LibraryPresentationTone restoreStatusTone = LibraryPresentationTone::Secondary;
    std::optional<QString> restoreAllowanceText = {};
    std::optional<QString> restoreAttentionReason = {};
    bool hasTransferFailures = false;
    RestoreActionAvailability actionAvailability = {};
    RestoreSummaryFields summary = {};

    static RestorePresentation derive(const RestorePageState &state);

    bool operator==(const RestorePresentation &) const = default;
};

} // namespace Pellwick
