#include "SessionFeedback.h"

#include <PellwickCore/Backend/LibrarySessionClientError.h>

#include <optional>

namespace Pellwick {

QString SessionFeedback::signInErrorMessage(const Error &error)
{
    const auto *client = error.as<LibrarySessionClientError>();
    const std::optional<int> code = client ? client->unexpectedStatusCode() : std::nullopt;
    if (code == 401)
        return QStringLiteral("Email or password is incorrect");
    if (code == 429)
        return QStringLiteral("Too many sign-in attempts. Try again in 15 minutes.");
    return QStringLiteral("Sign-in failed. Check the local backend and try again.");
}

QString SessionFeedback::invalidEmailAddressMessage()
{
    return QStringLiteral("Enter a valid email address");
}

QString SessionFeedback::passwordLengthMessage()
{
    return QStringLiteral("Password must be 12 to 128 characters");
}

QString SessionFeedback::passwordMismatchMessage()
{
    return QStringLiteral("Passwords do not match");
}

QString SessionFeedback::accountCreationFailedMessage()
{
    return QStringLiteral("Account creation failed");
}

QString SessionFeedback::verificationEmailFailedMessage()
{
    return QStringLiteral("Verification email could not be sent");
}

QString SessionFeedback::passwordResetRequestedMessage()
{
    return QStringLiteral("If that email is registered, a password reset link is on its way.");
}

QString SessionFeedback::passwordResetFailedMessage()
{
    return QStringLiteral("Password reset request failed");
}

QString SessionFeedback::passwordChangeFailedMessage()
{
    return QStringLiteral("Password change failed");
}

QString SessionFeedback::passwordChangedMessage()
{
    return QStringLiteral("Password changed. Sign in again with your new password.");
}

QString SessionFeedback::libraryRefreshFailedMessage()
{
    return QStringLiteral("Refresh failed");
}

QString SessionFeedback::checkoutFailedMessage()
{
    return QStringLiteral("Checkout failed");
}

QString SessionFeedback::billingPortalUnavailableMessage()
{
    return QStringLiteral("Billing portal unavailable");
}

QString SessionFeedback::keptSessionUnreachableMessage()
{
    return QStringLiteral(
        "Backend unreachable. You stay signed in; press Refresh when it is back.");
}

QString SessionFeedback::keptSessionRefusedMessage()
{
    return QStringLiteral("Your saved session was refused by the backend. Sign in again.");
}

} // namespace Pellwick
