#pragma once

#include <PellwickCore/Backend/EntitlementState.h>

#include <QString>

#include <optional>
#include <variant>

namespace Pellwick {

struct LibraryUser
{
    qint64 id = 0;
    QString email;
    std::optional<QString> displayName;

    bool operator==(const LibraryUser &) const = default;
};

/// A signed-in account. The token is sent as "Bearer " + token on every authenticated call.
struct AuthenticatedLibrarySession
{
    QString token;
    LibraryUser user;
    UserLibrary library;

    bool operator==(const AuthenticatedLibrarySession &) const = default;
};

/// The current user and library, as read again with a token the caller already holds.
struct LibraryShell
{
    LibraryUser user;
    UserLibrary library;

    bool operator==(const LibraryShell &) const = default;
};

/// The outcome of signing in or registering.
struct SignInResult
{
    /// The account is usable.
    struct Authenticated
    {
        AuthenticatedLibrarySession session;
        bool operator==(const Authenticated &) const = default;
    };

    /// The account exists but its e-mail address is not verified yet; the token serves only the
    /// e-mail verification operations.
    struct PendingVerification
    {
        QString token;
        bool operator==(const PendingVerification &) const = default;
    };

    std::variant<Authenticated, PendingVerification> value;

    bool operator==(const SignInResult &) const = default;
};

/// A checkout link with the plan it would buy. The URL is the backend's text, unchanged.
struct CheckoutSession
{
    QString url;
    PaidPlanState paidPlan;

    bool operator==(const CheckoutSession &) const = default;
};

/// The e-mail verification state as the backend words it ("verified", "pending", ...) and the
/// address it concerns; the client does not interpret the status.
struct EmailVerificationStatus
{
    QString status;
    QString email;

    bool operator==(const EmailVerificationStatus &) const = default;
};

} // namespace Pellwick
