#include "ContentHasherFakes.h"

#include <QMutexLocker>

namespace Pellwick::Test {

CountingContentHasher::CountingContentHasher(bool allowsConcurrentCalls)
    : m_allowsConcurrentCalls(allowsConcurrentCalls)
{}

Result<QString> CountingContentHasher::contentHash(const QString &path, std::stop_token stop) const
{
    {
        const QMutexLocker lock(&m_mutex);
        m_paths.append(path);
        m_threads.append(std::this_thread::get_id());
    }
    return SHA256ContentHasher().contentHash(path, std::move(stop));
}

QStringList CountingContentHasher::hashedPaths() const
{
    const QMutexLocker lock(&m_mutex);
    return m_paths;
}

QList<std::thread::id> CountingContentHasher::callingThreads() const
{
    const QMutexLocker lock(&m_mutex);
    return m_threads;
}

FailingContentHasher::FailingContentHasher(QString pathFragment, Error error)
    : m_pathFragment(std::move(pathFragment))
    , m_error(std::move(error))
{}

Result<QString> FailingContentHasher::contentHash(const QString &path, std::stop_token stop) const
{
    {
        const QMutexLocker lock(&m_mutex);
        m_paths.append(path);
    }
    if (path.contains(m_pathFragment))
        return tl::unexpected<Error>(m_error);
    return SHA256ContentHasher().contentHash(path, std::move(stop));
}

QStringList FailingContentHasher::hashedPaths() const
{
    const QMutexLocker lock(&m_mutex);
    return m_paths;
}

MismatchingContentHasher::MismatchingContentHasher(QString pathFragment)
    : m_pathFragment(std::move(pathFragment))
{}

Result<QString> MismatchingContentHasher::contentHash(const QString &path,
                                                      std::stop_token stop) const
{
    if (path.contains(m_pathFragment))
        return QString(64, u'0');
    return SHA256ContentHasher().contentHash(path, std::move(stop));
}

ScriptedContentHasher::ScriptedContentHasher(QList<Result<QString>> script)
    : m_script(std::move(script))
{}

Result<QString> ScriptedContentHasher::contentHash(const QString &path, std::stop_token stop) const
{
    if (m_beforeEachCall)
        m_beforeEachCall(path);
    {
        const QMutexLocker lock(&m_mutex);
        m_paths.append(path);
        if (!m_script.isEmpty())
            return m_script.takeFirst();
    }
    return SHA256ContentHasher().contentHash(path, std::move(stop));
}

void ScriptedContentHasher::setBeforeEachCall(std::function<void(const QString &)> hook)
{
    m_beforeEachCall = std::move(hook);
}

QStringList ScriptedContentHasher::hashedPaths() const
{
    const QMutexLocker lock(&m_mutex);
    return m_paths;
}

} // namespace Pellwick::Test
