#pragma once

#include <PellwickApp/Shell/ShellOperations.h>

#include <QPointer>

namespace Pellwick {

class LibraryShellViewModel;

/// The window's operations on the application's view model. Does nothing once the view model is
/// gone.
class ViewModelShellOperations final : public ShellOperations
{
public:
    explicit ViewModelShellOperations(LibraryShellViewModel &viewModel);

    QCoro::Task<> refresh() override;
    QCoro::Task<> restoreRememberedSession() override;
    QCoro::Task<> refreshActiveRestoreRequest() override;
    QCoro::Task<> refreshVerification() override;
    QCoro::Task<> refreshLibrary() override;
    QCoro::Task<std::optional<QString>> checkoutURL() override;
    QCoro::Task<std::optional<QString>> customerPortalURL() override;
    void updateRestorePolling(std::optional<RestoreRequest> request) override;
    void scheduleUserManagedIngestCacheRefresh() override;
    QCoro::Task<> refreshSourceMediaSafetyNow() override;
    void receiveMountedImportSource(std::optional<QString> url) override;
    void receiveUnmountedImportSource(std::optional<QString> url) override;
    void acceptMountProposal() override;
    void dismissMountProposal() override;
    void setApplicationActive(bool active) override;
    void cancelRestorePolling() override;

private:
    QPointer<LibraryShellViewModel> m_viewModel;
};

} // namespace Pellwick
