#include "ViewModelShellOperations.h"

#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>
#include <PellwickApp/Workflows/Session/SessionWorkflows.h>

namespace Pellwick {

ViewModelShellOperations::ViewModelShellOperations(LibraryShellViewModel &viewModel)
    : m_viewModel(&viewModel)
{}

QCoro::Task<> ViewModelShellOperations::refresh()
{
    if (m_viewModel)
        co_await m_viewModel->sessionWorkflows().refresh();
}

QCoro::Task<> ViewModelShellOperations::restoreRememberedSession()
{
    if (m_viewModel)
        co_await m_viewModel->sessionWorkflows().restoreRememberedSession();
}

QCoro::Task<> ViewModelShellOperations::refreshActiveRestoreRequest()
{
    // Copied first: this object may be gone when the awaited work ends.
    const QPointer<LibraryShellViewModel> viewModel = m_viewModel;
    if (viewModel)
        co_await viewModel->restoreWorkflows().refreshActiveRestoreRequest();
}

QCoro::Task<> ViewModelShellOperations::refreshVerification()
{
    if (m_viewModel)
        co_await m_viewModel->sessionWorkflows().refreshVerification();
}

QCoro::Task<> ViewModelShellOperations::refreshLibrary()
{
    if (m_viewModel)
        co_await m_viewModel->sessionWorkflows().refreshLibrary();
}

QCoro::Task<std::optional<QString>> ViewModelShellOperations::checkoutURL()
{
    if (!m_viewModel)
        co_return std::nullopt;
    co_return co_await m_viewModel->sessionWorkflows().checkoutURL();
}

QCoro::Task<std::optional<QString>> ViewModelShellOperations::customerPortalURL()
{
    if (!m_viewModel)
        co_return std::nullopt;
    co_return co_await m_viewModel->sessionWorkflows().customerPortalURL();
}

void ViewModelShellOperations::updateRestorePolling(std::optional<RestoreRequest> request)
{
    if (m_viewModel)
        m_viewModel->restoreWorkflows().updateRestorePolling(request);
}

void ViewModelShellOperations::scheduleUserManagedIngestCacheRefresh()
{
    if (m_viewModel)
        m_viewModel->ingestCacheWorkflows().scheduleUserManagedIngestCacheRefresh();
}

QCoro::Task<> ViewModelShellOperations::refreshSourceMediaSafetyNow()
{
    const QPointer<LibraryShellViewModel> viewModel = m_viewModel;
    if (viewModel)
        co_await viewModel->importWorkflows().refreshSourceMediaSafetyNow();
}

void ViewModelShellOperations::receiveMountedImportSource(std::optional<QString> url)
{
    if (m_viewModel)
        m_viewModel->importWorkflows().receiveMountedImportSource(url);
}

void ViewModelShellOperations::receiveUnmountedImportSource(std::optional<QString> url)
{
    if (m_viewModel)
        m_viewModel->importWorkflows().receiveUnmountedImportSource(url);
}

void ViewModelShellOperations::acceptMountProposal()
{
    if (m_viewModel)
        m_viewModel->importWorkflows().acceptMountProposal();
}

void ViewModelShellOperations::dismissMountProposal()
{
    if (m_viewModel)
        m_viewModel->importWorkflows().dismissMountProposal();
}

void ViewModelShellOperations::setApplicationActive(bool active)
{
    if (m_viewModel)
        m_viewModel->setApplicationActive(active);
}

void ViewModelShellOperations::cancelRestorePolling()
{
    if (m_viewModel)
        m_viewModel->restoreWorkflows().cancelRestorePolling();
}

} // namespace Pellwick
