#pragma once

#include <PellwickCore/Backend/LibrarySessionTypes.h>

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace Pellwick {

/// The signed-in session and the sign-in, registration and change-password forms.
/// Service-free: every field has a getter, a setter that notifies on every assignment (also of
/// an equal value) and a change signal. Main thread only.
class SessionState final : public QObject
{
    Q_OBJECT

public:
    explicit SessionState(QObject *parent = nullptr);

    /// The signed-in session; its token goes with every backend call.
    const std::optional<AuthenticatedLibrarySession> &session() const { return m_session; }

    /// Sign-in and registration form.
    const QString &email() const { return m_email; }

    const QString &password() const { return m_password; }

    /// Registration form.
    const QString &passwordConfirmation() const { return m_passwordConfirmation; }

    /// The token of an account that waits for e-mail verification.
    const std::optional<QString> &pendingVerificationToken() const
    {
        return m_pendingVerificationToken;
    }

    /// Registration form.
    const QString &displayName() const { return m_displayName; }

    /// Change-password form.
    const QString &currentPassword() const { return m_currentPassword; }

    const QString &newPassword() const { return m_newPassword; }

    const QString &newPasswordConfirmation() const { return m_newPasswordConfirmation; }

    /// Change-password failure text.
    const std::optional<QString> &passwordChangeErrorMessage() const
    {
        return m_passwordChangeErrorMessage;
    }

    /// Sign-in, registration and verification feedback.
    const std::optional<QString> &authMessage() const { return m_authMessage; }

    /// General failure text of the overview and system status.
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }

    void setSession(std::optional<AuthenticatedLibrarySession> value);
    void setEmail(QString value);
    void setPassword(QString value);
    void setPasswordConfirmation(QString value);
    void setPendingVerificationToken(std::optional<QString> value);
    void setDisplayName(QString value);
    void setCurrentPassword(QString value);
    void setNewPassword(QString value);
    void setNewPasswordConfirmation(QString value);
    void setPasswordChangeErrorMessage(std::optional<QString> value);
    void setAuthMessage(std::optional<QString> value);
    void setErrorMessage(std::optional<QString> value);

Q_SIGNALS:
    void sessionChanged();
    void emailChanged();
    void passwordChanged();
    void passwordConfirmationChanged();
    void pendingVerificationTokenChanged();
    void displayNameChanged();
    void currentPasswordChanged();
    void newPasswordChanged();
    void newPasswordConfirmationChanged();
    void passwordChangeErrorMessageChanged();
    void authMessageChanged();
    void errorMessageChanged();

private:
    std::optional<AuthenticatedLibrarySession> m_session;
    QString m_email;
    QString m_password;
    QString m_passwordConfirmation;
    std::optional<QString> m_pendingVerificationToken;
    QString m_displayName;
    QString m_currentPassword;
    QString m_newPassword;
    QString m_newPasswordConfirmation;
    std::optional<QString> m_passwordChangeErrorMessage;
    std::optional<QString> m_authMessage;
    std::optional<QString> m_errorMessage;
};

} // namespace Pellwick
