#pragma once

#include <PellwickApp/Shell/SingleShotTimer.h>

#include <QHash>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace Pellwick {

/// Watches the Ingest Cache root and every folder below it, and calls a handler once activity
/// has settled, so the library can notice edits made with other tools. Writes, creations,
/// deletions, moves and attribute changes count; reads and opens do not, so hashing files inside
/// the cache never causes a refresh. Events are collected for `latency` and every collected batch
/// restarts a `debounce` single-shot timer whose expiry calls the handler.
///
/// Symbolic links below the root are not followed, and a folder moved or deleted out of the tree
/// drops its watches. A folder created later is watched and then scanned, so what was written into
/// it before its watch existed is not missed. An overflowing event queue, and a folder that
/// cannot be watched (the per-user watch limit), count as a change rather than going unnoticed.
///
/// Main thread only; the handler runs on the main thread. Destruction stops both timers and the
/// watch: no call happens afterwards.
class IngestCacheDirectoryObserver
{
public:
    /// How long events are collected into one batch.
    static constexpr std::chrono::milliseconds latency{250};
    /// How long after the last batch the handler is called.
    static constexpr std::chrono::milliseconds debounce{500};

    /// None when nothing exists at `url` or its watch cannot be added.
    [[nodiscard]] static std::unique_ptr<IngestCacheDirectoryObserver>
    create(const QString &url,
           std::function<void()> onChange,
           const SingleShotTimerFactory &timers = &makeQtSingleShotTimer);

    IngestCacheDirectoryObserver(const IngestCacheDirectoryObserver &) = delete;
    IngestCacheDirectoryObserver &operator=(const IngestCacheDirectoryObserver &) = delete;
    ~IngestCacheDirectoryObserver();

    /// The folder watched with everything below it.
    const QString &root() const { return m_root; }

    /// How many folders are watched now (the root counts).
    qsizetype watchedFolderCount() const { return m_pathsByWatch.size(); }

private:
    IngestCacheDirectoryObserver(int inotifyDescriptor,
                                 QString root,
                                 std::function<void()> onChange,
                                 const SingleShotTimerFactory &timers);

    /// Watches `folder` and every folder below it. True when a watch could not be added or the
    /// tree holds anything (it may have been written before the watch existed).
    bool watchTree(const QString &folder);
    /// Adds one watch; false when it cannot be added.
    bool addWatch(const QString &folder);
    /// Removes the watches of `folder` and every folder below it.
    void unwatchTree(const QString &folder);
    void readEvents();
    void noteChange();

    int m_inotify = -1;
    QString m_root;
    std::function<void()> m_onChange;
    QHash<int, QString> m_pathsByWatch;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unique_ptr<SingleShotTimer> m_batchTimer;
    std::unique_ptr<SingleShotTimer> m_debounceTimer;
};

} // namespace Pellwick
