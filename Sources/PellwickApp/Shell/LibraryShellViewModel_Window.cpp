#include "LibraryShellViewModel.h"

namespace Pellwick {

void LibraryShellViewModel::cancelRestorePolling()
{
    if (m_restorePollingTask)
        m_restorePollingTask->cancel();
    m_restorePollingTask.reset();
}

void LibraryShellViewModel::pauseRestoreTransferForClose()
{
    if (m_activeRestoreTransferID && m_restoreTransferEngine)
        m_restoreTransferEngine->pause(*m_activeRestoreTransferID);
}

} // namespace Pellwick
