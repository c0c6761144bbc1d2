#pragma once

#include <PellwickCore/Support/Error.h>

#include <QString>

namespace Pellwick {

/// The user texts of sign-in, registration, passwords, the account's library and billing. Pure
/// functions, callable from any thread.
class SessionFeedback
{
public:
    SessionFeedback() = delete;

    /// The sign-in failure text of `error`: a wrong address or password (401), too many attempts
    /// (429), else a failure of the backend.
    static QString signInErrorMessage(const Error &error);
    static QString invalidEmailAddressMessage();
    static QString passwordLengthMessage();
    static QString passwordMismatchMessage();
    static QString accountCreationFailedMessage();
    static QString verificationEmailFailedMessage();
    static QString passwordResetRequestedMessage();
    static QString passwordResetFailedMessage();
    static QString passwordChangeFailedMessage();
    static QString passwordChangedMessage();
    static QString libraryRefreshFailedMessage();
    static QString checkoutFailedMessage();
    static QString billingPortalUnavailableMessage();
    /// Signed out while the stored session waits for the backend to be reached again.
    static QString keptSessionUnreachableMessage();
    /// Signed out because the backend refused the stored session (the account was removed, or
    /// its password changed elsewhere).
    static QString keptSessionRefusedMessage();
};

} // namespace Pellwick
