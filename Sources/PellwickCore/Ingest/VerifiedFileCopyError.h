#pragma once

#include <PellwickCore/Support/ErrorCause.h>

#include <QString>

#include <variant>

namespace Pellwick {

/// The verified copy's own failures, in this order.
struct VerifiedFileCopyError
{
    /// The hidden partial file could not be created; carries its path and the system's failure.
    struct UnableToCreatePartial
    {
        QString partialPath;
        ErrorCause cause;
        bool operator==(const UnableToCreatePartial &) const = default;
    };

    /// The copy's content hash differs from the source's.
    struct ContentHashMismatch
    {
        bool operator==(const ContentHashMismatch &) const = default;
    };

    std::variant<UnableToCreatePartial, ContentHashMismatch> value;

    bool operator==(const VerifiedFileCopyError &) const = default;
};

/// Text for logs and test failure messages; never shown to the user.
QString describe(const VerifiedFileCopyError &error);

} // namespace Pellwick
