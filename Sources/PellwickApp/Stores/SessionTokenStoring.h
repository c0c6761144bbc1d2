#pragma once

#include <QString>

#include <optional>

namespace Pellwick {

/// Remembers the access token of the signed-in account between launches. Synchronous and
/// thread-safe; no operation reports failure: a store that cannot be read loads as no token, and
/// a failed save or removal leaves nothing to report.
class SessionTokenStoring
{
public:
    SessionTokenStoring() = default;
    SessionTokenStoring(const SessionTokenStoring &) = delete;
    SessionTokenStoring &operator=(const SessionTokenStoring &) = delete;
    virtual ~SessionTokenStoring() = default;

    /// The stored token, or none.
    virtual std::optional<QString> load() const = 0;
    /// Replaces the stored token.
    virtual void save(const QString &token) const = 0;
    /// Forgets the stored token; nothing happens when there is none.
    virtual void remove() const = 0;
};

} // namespace Pellwick
