#pragma once

#include <QMutex>
#include <QtGlobal>

namespace Pellwick {

/// The counter that tells a finished Ingest Cache refresh whether what it scanned is still the
/// cache: a refresh remembers the value it started with; a move of the cache and the start of an
/// Add to Ingest Cache (whose batch a running scan would see mid-copy) advance it. Thread-safe;
/// its lock is a plain one, always taken last (inside the library's exclusive access, never
/// around it).
class IngestCacheRefreshGeneration
{
public:
    qint64 value() const
    {
        const QMutexLocker locker(&m_mutex);
        return m_value;
    }

    /// Adds 1 and returns the new value.
    qint64 advance()
    {
        const QMutexLocker locker(&m_mutex);
        return ++m_value;
    }

private:
    mutable QMutex m_mutex;
    qint64 m_value = 0;
};

} // namespace Pellwick
