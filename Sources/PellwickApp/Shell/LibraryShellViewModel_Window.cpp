#include "LibraryShellViewModel.h"

namespace Pellwick {

void LibraryShellViewModel::cancelRestorePolling()
{
    if (m_restorePollingTask)
        m_restorePollingTask->cancel();
    m_restorePollingTask.reset();
}

} // namespace Pellwick
