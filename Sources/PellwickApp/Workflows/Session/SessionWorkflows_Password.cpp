#include "SessionWorkflows.h"

#include <PellwickApp/Feedback/SessionFeedback.h>
#include <PellwickApp/Shell/Operations/ImportOperations.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Stores/SessionTokenStoring.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QPointer>

namespace Pellwick {

QCoro::Task<> SessionWorkflows::requestPasswordReset()
{
    const QPointer<SessionWorkflows> self(this);
    const std::stop_token never;
    m_sessionState.setErrorMessage(std::nullopt);
    m_sessionState.setAuthMessage(std::nullopt);
    QFuture<Result<void>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [client = m_services.sessionClient, email = m_sessionState.email()] {
                            return client->requestPasswordReset(email);
                        });
    const std::optional<Result<void>> outcome = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return;
    if (*outcome)
        m_sessionState.setAuthMessage(SessionFeedback::passwordResetRequestedMessage());
    else
        m_sessionState.setErrorMessage(SessionFeedback::passwordResetFailedMessage());
}

QCoro::Task<bool> SessionWorkflows::changePassword()
{
    const QPointer<SessionWorkflows> self(this);
    const std::stop_token never;
    if (!m_sessionState.session())
        co_return false;
    m_sessionState.setPasswordChangeErrorMessage(std::nullopt);
    m_sessionState.setAuthMessage(std::nullopt);
    QFuture<Result<void>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [client = m_services.sessionClient,
                         token = m_sessionState.session()->token,
                         current = m_sessionState.currentPassword(),
                         password = m_sessionState.newPassword(),
                         confirmation = m_sessionState.newPasswordConfirmation()] {
                            return client->changePassword(token, current, password, confirmation);
                        });
    const std::optional<Result<void>> outcome = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return false;
    if (!*outcome) {
        m_sessionState.setPasswordChangeErrorMessage(
            SessionFeedback::passwordChangeFailedMessage());
        co_return false;
    }
    resetPasswordChangeForm();
    m_sessionState.setPassword(QString());
    m_sessionState.setSession(std::nullopt);
    // The backend has ended the session that made the change; a next start must not sign in
    // with it as if the password had never changed.
    queueTokenRemoval();
    m_sessionState.setAuthMessage(SessionFeedback::passwordChangedMessage());
    co_return true;
}

void SessionWorkflows::resetPasswordChangeForm()
{
    m_sessionState.setCurrentPassword(QString());
    m_sessionState.setNewPassword(QString());
    m_sessionState.setNewPasswordConfirmation(QString());
    m_sessionState.setPasswordChangeErrorMessage(std::nullopt);
}

} // namespace Pellwick
