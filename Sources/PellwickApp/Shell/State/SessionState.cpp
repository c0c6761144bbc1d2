#include "SessionState.h"

namespace Pellwick {

SessionState::SessionState(QObject *parent)
    : QObject(parent)
{}

void SessionState::setSession(std::optional<AuthenticatedLibrarySession> value)
{
    m_session = std::move(value);
    Q_EMIT sessionChanged();
}

void SessionState::setEmail(QString value)
{
    m_email = std::move(value);
    Q_EMIT emailChanged();
}

void SessionState::setPassword(QString value)
{
    m_password = std::move(value);
    Q_EMIT passwordChanged();
}

void SessionState::setPasswordConfirmation(QString value)
{
    m_passwordConfirmation = std::move(value);
    Q_EMIT passwordConfirmationChanged();
}

void SessionState::setPendingVerificationToken(std::optional<QString> value)
{
    m_pendingVerificationToken = std::move(value);
    Q_EMIT pendingVerificationTokenChanged();
}

void SessionState::setDisplayName(QString value)
{
    m_displayName = std::move(value);
    Q_EMIT displayNameChanged();
}

void SessionState::setCurrentPassword(QString value)
{
    m_currentPassword = std::move(value);
    Q_EMIT currentPasswordChanged();
}

void SessionState::setNewPassword(QString value)
{
    m_newPassword = std::move(value);
    Q_EMIT newPasswordChanged();
}

void SessionState::setNewPasswordConfirmation(QString value)
{
    m_newPasswordConfirmation = std::move(value);
    Q_EMIT newPasswordConfirmationChanged();
}

void SessionState::setPasswordChangeErrorMessage(std::optional<QString> value)
{
    m_passwordChangeErrorMessage = std::move(value);
    Q_EMIT passwordChangeErrorMessageChanged();
}

void SessionState::setAuthMessage(std::optional<QString> value)
{
    m_authMessage = std::move(value);
    Q_EMIT authMessageChanged();
}

void SessionState::setErrorMessage(std::optional<QString> value)
{
    m_errorMessage = std::move(value);
    Q_EMIT errorMessageChanged();
}

} // namespace Pellwick
