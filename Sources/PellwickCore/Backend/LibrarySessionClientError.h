#pragma once

#include <PellwickCore/Backend/RestoreAllowanceKind.h>
#include <PellwickCore/Backend/StorageFullState.h>

#include <QString>

#include <optional>
#include <variant>

namespace Pellwick {

/// The backend client's own failures, in order of precedence. Transport and JSON failures are not
/// among them: they reach the caller as `TransportError` and `DecodingError`.
struct LibrarySessionClientError
{
    /// The reply was not an HTTP response (-1), or its status was neither accepted nor mapped to
    /// another case; also the accepted status when an accepted body lacks what the operation needs.
    struct UnexpectedStatus
    {
        int statusCode = 0;
        bool operator==(const UnexpectedStatus &) const = default;
    };

    /// A 409 reply with the storage-full body.
    struct StorageFull
    {
        StorageFullState state;
        bool operator==(const StorageFull &) const = default;
    };

    /// A refused restore naming the allowance it ran out of.
    struct RestoreAllowanceExceeded
    {
        RestoreAllowanceKind kind = RestoreAllowanceKind::Trial;
        bool operator==(const RestoreAllowanceExceeded &) const = default;
    };

    /// Any other refused restore whose body could be read: the server's words and the status.
    struct RestoreRequestFailed
    {
        QString error;
        std::optional<QString> reason;
        int statusCode = 0;
        bool operator==(const RestoreRequestFailed &) const = default;
    };

    /// A 403 reply whose "error" is "import_unavailable".
    struct ImportUnavailable
    {
        bool operator==(const ImportUnavailable &) const = default;
    };

    /// A refused restore because the billing grace period has ended.
    struct RestoreUnavailableAfterGracePeriod
    {
        bool operator==(const RestoreUnavailableAfterGracePeriod &) const = default;
    };

    std::variant<UnexpectedStatus,
                 StorageFull,
                 RestoreAllowanceExceeded,
                 RestoreRequestFailed,
                 ImportUnavailable,
                 RestoreUnavailableAfterGracePeriod>
        value;

    bool operator==(const LibrarySessionClientError &) const = default;

    /// The status code of an `UnexpectedStatus`, or no value for every other case.
    std::optional<int> unexpectedStatusCode() const
    {
        if (const auto *unexpected = std::get_if<UnexpectedStatus>(&value))
            return unexpected->statusCode;
        return std::nullopt;
    }
};

/// Text for logs and test failure messages; never shown to the user.
QString describe(const LibrarySessionClientError &error);

} // namespace Pellwick
