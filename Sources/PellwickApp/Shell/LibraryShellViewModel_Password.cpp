#include "LibraryShellViewModel_p.h"

namespace Pellwick {

QCoro::Task<> LibraryShellViewModel::requestPasswordReset()
{
    const QPointer<LibraryShellViewModel> self(this);
    const std::stop_token never;
    m_sessionState->setErrorMessage(std::nullopt);
    m_sessionState->setAuthMessage(std::nullopt);
    QFuture<Result<void>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [client = m_d->services.sessionClient, email = m_sessionState->email()] {
                            return client->requestPasswordReset(email);
                        });
    const std::optional<Result<void>> outcome = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return;
    if (*outcome)
        m_sessionState->setAuthMessage(
            QStringLiteral("If that email is registered, a password reset link is on its way."));
    else
        m_sessionState->setErrorMessage(QStringLiteral("Password reset request failed"));
}

QCoro::Task<bool> LibraryShellViewModel::changePassword()
{
    const QPointer<LibraryShellViewModel> self(this);
    const std::stop_token never;
    if (!m_sessionState->session())
        co_return false;
    m_sessionState->setPasswordChangeErrorMessage(std::nullopt);
    m_sessionState->setAuthMessage(std::nullopt);
    QFuture<Result<void>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [client = m_d->services.sessionClient,
                         token = m_sessionState->session()->token,
                         current = m_sessionState->currentPassword(),
                         password = m_sessionState->newPassword(),
                         confirmation = m_sessionState->newPasswordConfirmation()] {
                            return client->changePassword(token, current, password, confirmation);
                        });
    const std::optional<Result<void>> outcome = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return false;
    if (!*outcome) {
        m_sessionState->setPasswordChangeErrorMessage(QStringLiteral("Password change failed"));
        co_return false;
    }
    resetPasswordChangeForm();
    m_sessionState->setPassword(QString());
    m_sessionState->setSession(std::nullopt);
    m_sessionState->setAuthMessage(
        QStringLiteral("Password changed. Sign in again with your new password."));
    co_return true;
}

void LibraryShellViewModel::resetPasswordChangeForm()
{
    m_sessionState->setCurrentPassword(QString());
    m_sessionState->setNewPassword(QString());
    m_sessionState->setNewPasswordConfirmation(QString());
    m_sessionState->setPasswordChangeErrorMessage(std::nullopt);
}

} // namespace Pellwick
