#include "LibraryShellViewModel_p.h"

namespace Pellwick {

const std::optional<WorkflowTaskHandle> &LibraryShellViewModel::restorePollingTask() const
{
    return m_d->restore.restorePollingTask;
}

const RestoreRequestCoordinator &LibraryShellViewModel::restoreCoordinator() const
{
    return m_d->services.restoreCoordinator;
}

const std::shared_ptr<RestoreTransferEngine> &LibraryShellViewModel::restoreTransferEngine() const
{
    return m_d->services.restoreTransferEngine;
}

const QString &LibraryShellViewModel::restoreDestinationDirectory() const
{
    return m_d->services.restoreDestinationDirectory;
}

const std::optional<RestoreTransferIdentifier> &
LibraryShellViewModel::activeRestoreTransferID() const
{
    return m_d->restore.activeRestoreTransferID;
}

const std::optional<Date> &LibraryShellViewModel::restorePreparingStartedAt() const
{
    return m_d->restore.restorePreparingStartedAt;
}

void LibraryShellViewModel::updateRestorePolling(const std::optional<RestoreRequest> &request)
{
    if (m_d->restore.restorePollingTask)
        m_d->restore.restorePollingTask->cancel();
    m_d->restore.restorePollingTask.reset();
    if (!request || request->status != RestoreRequestStatus::Preparing) {
        m_d->restore.restorePreparingStartedAt.reset();
        return;
    }
    // Kept while the application is inactive: the intervals count from the start of preparation.
    if (!m_d->restore.restorePreparingStartedAt)
        m_d->restore.restorePreparingStartedAt = Date::now();
    if (!m_d->shell.isApplicationActive)
        return;
    m_d->restore.restorePollingTask.emplace();
}

// Not built yet: these belong to the workflows that drive restores, imports and the Ingest Cache.

QCoro::Task<> LibraryShellViewModel::refreshActiveRestoreRequest()
{
    co_return;
}

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
