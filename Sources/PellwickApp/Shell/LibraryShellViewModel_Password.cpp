#include "LibraryShellViewModel.h"

namespace Pellwick {

QCoro::Task<> LibraryShellViewModel::requestPasswordReset()
{
    const QPointer<LibraryShellViewModel> self(this);
    const std::stop_token never;
    setErrorMessage(std::nullopt);
    setAuthMessage(std::nullopt);
    QFuture<Result<void>> job = Workflow::run(WorkflowPools::userInitiated(),
                                              [client = m_sessionClient, email = m_email] {
                                                  return client->requestPasswordReset(email);
                                              });
    const std::optional<Result<void>> outcome = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return;
    if (*outcome)
        setAuthMessage(
            QStringLiteral("If that email is registered, a password reset link is on its way."));
    else
        setErrorMessage(QStringLiteral("Password reset request failed"));
}

QCoro::Task<bool> LibraryShellViewModel::changePassword()
{
    const QPointer<LibraryShellViewModel> self(this);
    const std::stop_token never;
    if (!m_session)
        co_return false;
    setPasswordChangeErrorMessage(std::nullopt);
    setAuthMessage(std::nullopt);
    QFuture<Result<void>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [client = m_sessionClient,
                         token = m_session->token,
                         current = m_currentPassword,
                         password = m_newPassword,
                         confirmation = m_newPasswordConfirmation] {
                            return client->changePassword(token, current, password, confirmation);
                        });
    const std::optional<Result<void>> outcome = co_await Workflow::resumeIn(self, never, job);
    if (!outcome)
        co_return false;
    if (!*outcome) {
        setPasswordChangeErrorMessage(QStringLiteral("Password change failed"));
        co_return false;
    }
    resetPasswordChangeForm();
    setPassword(QString());
    setSession(std::nullopt);
    setAuthMessage(QStringLiteral("Password changed. Sign in again with your new password."));
    co_return true;
}

void LibraryShellViewModel::resetPasswordChangeForm()
{
    setCurrentPassword(QString());
    setNewPassword(QString());
    setNewPasswordConfirmation(QString());
    setPasswordChangeErrorMessage(std::nullopt);
}

} // namespace Pellwick
