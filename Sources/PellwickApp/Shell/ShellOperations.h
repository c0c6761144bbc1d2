#pragma once

#include <PellwickCore/Restore/RestoreRequest.h>

#include <QCoro/QCoroTask>
#include <QString>

#include <optional>

namespace Pellwick {

/// The view-model operations the root window runs in reaction to the user, to start-up and to
/// the desktop's events, in the order the window gives. Main thread only. The window calls
/// nothing else, so its reactions can be observed by a recording double.
class ShellOperations
{
public:
    ShellOperations() = default;
    virtual ~ShellOperations() = default;
    ShellOperations(const ShellOperations &) = delete;
    ShellOperations &operator=(const ShellOperations &) = delete;

    /// The backend health check.
    virtual QCoro::Task<> refresh() = 0;
    /// Signs in from the stored token, or shows the verification gate, or stays signed out.
    virtual QCoro::Task<> restoreRememberedSession() = 0;
    virtual QCoro::Task<> refreshActiveRestoreRequest() = 0;
    virtual QCoro::Task<> refreshVerification() = 0;
    virtual QCoro::Task<> refreshLibrary() = 0;
    /// The checkout link of the paid plan, as the backend sent it; none when there is none.
    virtual QCoro::Task<std::optional<QString>> checkoutURL() = 0;
    /// The billing portal link, as the backend sent it; none when there is none.
    virtual QCoro::Task<std::optional<QString>> customerPortalURL() = 0;
    virtual void updateRestorePolling(std::optional<RestoreRequest> request) = 0;
    virtual void scheduleUserManagedIngestCacheRefresh() = 0;
    virtual QCoro::Task<> refreshSourceMediaSafetyNow() = 0;
    /// A volume was mounted at `url` (a local path), or at an unknown place.
    virtual void receiveMountedImportSource(std::optional<QString> url) = 0;
    virtual void receiveUnmountedImportSource(std::optional<QString> url) = 0;
    virtual void acceptMountProposal() = 0;
    virtual void dismissMountProposal() = 0;
    /// The application became active (true) or inactive (false).
    virtual void setApplicationActive(bool active) = 0;
    /// Cancels the restore polling task, if one runs, and forgets it. Synchronous.
    virtual void cancelRestorePolling() = 0;
};

} // namespace Pellwick
