#include "ScriptedContentHasher.h"

#include <QMutexLocker>

#include <optional>

namespace Pellwick::Test {

void ScriptedContentHasher::beforeHashing(const QString &path, std::function<void(int)> action)
{
    const QMutexLocker lock(&m_mutex);
    m_actions.insert(path, std::move(action));
}

void ScriptedContentHasher::failHashing(const QString &path, int code, int occurrence)
{
    const QMutexLocker lock(&m_mutex);
    m_failures.insert(path, Failure{code, occurrence});
}

QStringList ScriptedContentHasher::calls() const
{
    const QMutexLocker lock(&m_mutex);
    return m_calls;
}

int ScriptedContentHasher::callCount(const QString &path) const
{
    const QMutexLocker lock(&m_mutex);
    return m_counts.value(path);
}

Result<QString> ScriptedContentHasher::contentHash(const QString &path) const
{
    std::function<void(int)> action;
    std::optional<Failure> failure;
    int occurrence = 0;
    {
        const QMutexLocker lock(&m_mutex);
        m_calls.append(path);
        occurrence = ++m_counts[path];
        action = m_actions.value(path);
        if (const auto found = m_failures.constFind(path); found != m_failures.cend())
            failure = *found;
    }
    if (action)
        action(occurrence);
    if (failure && (failure->occurrence == 0 || failure->occurrence == occurrence))
        return fileSystemFailure(QStringLiteral("read"), path, failure->code);
    return m_hasher.contentHash(path);
}

} // namespace Pellwick::Test
