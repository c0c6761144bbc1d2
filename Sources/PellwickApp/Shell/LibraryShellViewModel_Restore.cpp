#include "LibraryShellViewModel.h"

namespace Pellwick {

void LibraryShellViewModel::updateRestorePolling(const std::optional<RestoreRequest> &request)
{
    if (m_restorePollingTask)
        m_restorePollingTask->cancel();
    m_restorePollingTask.reset();
    if (!request || request->status != RestoreRequestStatus::Preparing) {
        m_restorePreparingStartedAt.reset();
        return;
    }
    // Kept while the application is inactive: the intervals count from the start of preparation.
    if (!m_restorePreparingStartedAt)
        m_restorePreparingStartedAt = Date::now();
    if (!m_isApplicationActive)
        return;
    m_restorePollingTask.emplace();
}

// Not built yet: these belong to the workflows that drive restores, imports and the Ingest Cache.

QCoro::Task<> LibraryShellViewModel::refreshActiveRestoreRequest()
{
    co_return;
}

void LibraryShellViewModel::scheduleUserManagedIngestCacheRefresh() {}

QCoro::Task<> LibraryShellViewModel::performIngestCacheMigration(QString /*newRoot*/)
{
    co_return;
}

QCoro::Task<> LibraryShellViewModel::refreshSourceMediaSafetyNow()
{
    co_return;
}

QCoro::Task<> LibraryShellViewModel::startSelectedImports()
{
    co_return;
}

} // namespace Pellwick
