#include "LibraryShellViewModel_p.h"

namespace Pellwick {

const std::optional<WorkflowTaskHandle> &LibraryShellViewModel::restorePollingTask() const
{
    return d->restore.restorePollingTask;
}

const RestoreRequestCoordinator &LibraryShellViewModel::restoreCoordinator() const
{
    return d->services.restoreCoordinator;
}

const std::shared_ptr<RestoreTransferEngine> &LibraryShellViewModel::restoreTransferEngine() const
{
    return d->services.restoreTransferEngine;
}

const QString &LibraryShellViewModel::restoreDestinationDirectory() const
{
    return d->services.restoreDestinationDirectory;
}

const std::optional<RestoreTransferIdentifier> &
LibraryShellViewModel::activeRestoreTransferID() const
{
    return d->restore.activeRestoreTransferID;
}

const std::optional<Date> &LibraryShellViewModel::restorePreparingStartedAt() const
{
    return d->restore.restorePreparingStartedAt;
}

void LibraryShellViewModel::updateRestorePolling(const std::optional<RestoreRequest> &request)
{
    if (d->restore.restorePollingTask)
        d->restore.restorePollingTask->cancel();
    d->restore.restorePollingTask.reset();
    if (!request || request->status != RestoreRequestStatus::Preparing) {
        d->restore.restorePreparingStartedAt.reset();
        return;
    }
    // Kept while the application is inactive: the intervals count from the start of preparation.
    if (!d->restore.restorePreparingStartedAt)
        d->restore.restorePreparingStartedAt = Date::now();
    if (!d->shell.isApplicationActive)
        return;
    d->restore.restorePollingTask.emplace();
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
