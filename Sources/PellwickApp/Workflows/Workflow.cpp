#include "Workflow.h"

#include <QThread>

#include <algorithm>

namespace Pellwick {

namespace {

/// Blocking work needs more threads than cores to keep disks and network busy, but a bound.
int blockingThreadCount()
{
    return std::clamp(QThread::idealThreadCount() * 2, 4, 16);
}

QThreadPool &makePool(QThreadPool &pool, int threads, const char *name)
{
    pool.setMaxThreadCount(threads);
    pool.setObjectName(QString::fromLatin1(name));
    return pool;
}

} // namespace

QThreadPool &WorkflowPools::userInitiated()
{
    static QThreadPool pool;
    static QThreadPool &configured = makePool(pool, blockingThreadCount(), "UserInitiated");
    return configured;
}

QThreadPool &WorkflowPools::utility()
{
    static QThreadPool pool;
    static QThreadPool &configured = makePool(pool, blockingThreadCount(), "Utility");
    return configured;
}

QThreadPool &WorkflowPools::keychain()
{
    static QThreadPool pool;
    static QThreadPool &configured = makePool(pool, 1, "Keychain");
    return configured;
}

QThreadPool &WorkflowPools::thumbnails()
{
    static QThreadPool pool;
    static QThreadPool &configured = []() -> QThreadPool & {
        pool.setThreadPriority(QThread::LowPriority);
        return makePool(pool, std::max(1, QThread::idealThreadCount()), "Thumbnails");
    }();
    return configured;
}

QThreadPool &WorkflowPools::restoreTransfers()
{
    // A run awaits one transfer at a time; the second thread serves a run that starts while a
    // paused transfer is still winding down.
    static QThreadPool pool;
    static QThreadPool &configured = makePool(pool, 2, "RestoreTransfers");
    return configured;
}

QThreadPool &WorkflowPools::ingestCacheMove()
{
    static QThreadPool pool;
    static QThreadPool &configured = makePool(pool, 1, "IngestCacheMove");
    return configured;
}

QThreadPool &WorkflowPools::hashesAhead()
{
    static QThreadPool pool;
    static QThreadPool &configured
        = makePool(pool, std::max(1, QThread::idealThreadCount()), "HashesAhead");
    return configured;
}

} // namespace Pellwick
