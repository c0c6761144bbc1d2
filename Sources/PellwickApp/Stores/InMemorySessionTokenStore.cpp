#include "InMemorySessionTokenStore.h"

namespace Pellwick {

std::optional<QString> InMemorySessionTokenStore::load() const
{
    const QMutexLocker locker(&m_mutex);
    return m_token;
}

void InMemorySessionTokenStore::save(const QString &token) const
{
    const QMutexLocker locker(&m_mutex);
    m_token = token;
}

void InMemorySessionTokenStore::remove() const
{
    const QMutexLocker locker(&m_mutex);
    m_token.reset();
}

} // namespace Pellwick
