#include "LibraryShellViewModel_p.h"

namespace Pellwick {

void LibraryShellViewModel::cancelRestorePolling()
{
    if (d->restore.restorePollingTask)
        d->restore.restorePollingTask->cancel();
    d->restore.restorePollingTask.reset();
}

void LibraryShellViewModel::pauseRestoreTransferForClose()
{
    if (d->restore.activeRestoreTransferID && d->services.restoreTransferEngine)
        d->services.restoreTransferEngine->pause(*d->restore.activeRestoreTransferID);
}

} // namespace Pellwick
