#pragma once

#include <memory>

namespace Pellwick {

struct Error;

/// The lower-level failure a domain error case was mapped from (e.g. the `FileSystemError` of a
/// copy that became a failed verification), kept so that diagnostics can name it. A case holds it
/// as a member named `cause`; `Error::cause` finds it there.
///
/// It takes no part in equality: two errors of the same case and payload are equal whatever
/// caused them, so callers and tests compare what the domain reports.
class ErrorCause
{
public:
    ErrorCause() = default;
    explicit ErrorCause(Error error);

    /// The kept failure, or null when there is none.
    const Error *get() const { return m_error.get(); }

    explicit operator bool() const { return m_error != nullptr; }

    bool operator==(const ErrorCause &) const { return true; }

private:
    std::shared_ptr<const Error> m_error;
};

} // namespace Pellwick
