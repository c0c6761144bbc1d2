#pragma once

#include <PellwickApp/Stores/SessionTokenStoring.h>

#include <QMutex>

namespace Pellwick {

/// Keeps the token in this process only: every launch starts without one.
class InMemorySessionTokenStore final : public SessionTokenStoring
{
public:
    std::optional<QString> load() const override;
    void save(const QString &token) const override;
    void remove() const override;

private:
    mutable QMutex m_mutex;
    mutable std::optional<QString> m_token;
};

} // namespace Pellwick
