#include "LibraryShellViewModel_p.h"

namespace Pellwick {

void LibraryShellViewModel::cancelRestorePolling()
{
    if (m_d->restore.restorePollingTask)
        m_d->restore.restorePollingTask->cancel();
    m_d->restore.restorePollingTask.reset();
}

void LibraryShellViewModel::pauseActiveRestoreTransfer()
{
    // Also while the run plans or is between transfers, when no transfer is on the engine.
    if (m_restoreState->isRestoreTransferActive())
        m_d->restore.isRestorePauseRequested = true;
    if (m_d->restore.activeRestoreTransferID && m_d->services.restoreTransferEngine)
        m_d->services.restoreTransferEngine->pause(*m_d->restore.activeRestoreTransferID);
}

} // namespace Pellwick
