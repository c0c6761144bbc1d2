#pragma once

#include <QCoro/QCoroTask>
#include <QString>

#include <optional>

namespace Pellwick {

/// The session operations the account, sign-in and password pages and the window call. Main thread only;
/// `SessionWorkflows` implements it.
class SessionOperations
{
public:
    SessionOperations() = default;
    virtual ~SessionOperations() = default;
    SessionOperations(const SessionOperations &) = delete;
    SessionOperations &operator=(const SessionOperations &) = delete;

    /// Checks once whether the backend can be reached; once it can, signs in from the stored
    /// session that could not be checked while it could not.
    virtual QCoro::Task<> refresh() = 0;
    /// Signs in from the stored token, or shows the verification gate, or stays signed out.
    virtual QCoro::Task<> restoreRememberedSession() = 0;
    /// Signs in with the form's address and password.
    virtual QCoro::Task<> signIn() = 0;
    /// Creates an account from the registration form.
    virtual QCoro::Task<> registerAccount() = 0;
    /// Signs a pending account in once it is verified.
    virtual QCoro::Task<> refreshVerification() = 0;
    /// Sends the verification e-mail again.
    virtual QCoro::Task<> resendVerification(QString token) = 0;
    /// Asks for a password-reset e-mail.
    virtual QCoro::Task<> requestPasswordReset() = 0;
    /// True when the password was changed.
    virtual QCoro::Task<bool> changePassword() = 0;
    /// Empties the change-password form and its failure text.
    virtual void resetPasswordChangeForm() = 0;
    /// Ends the session or the pending verification.
    virtual void signOut() = 0;
    /// Reads the account's user and library again.
    virtual QCoro::Task<> refreshLibrary() = 0;
    /// A checkout link, or none.
    virtual QCoro::Task<std::optional<QString>> checkoutURL() = 0;
    /// A customer-portal link, or none.
    virtual QCoro::Task<std::optional<QString>> customerPortalURL() = 0;
};

} // namespace Pellwick
