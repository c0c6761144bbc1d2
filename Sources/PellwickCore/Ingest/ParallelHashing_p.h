#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Support/Executor.h>
#include <PellwickCore/Support/Result.h>

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <stop_token>
#include <utility>
#include <vector>

namespace Pellwick {

/// How many threads are worth starting to read `paths`: one per few MiB, so that small files
/// are not slowed down by thread start-up.
qsizetype hashingWorkers(const QStringList &paths);

/// The content hash of each path, in list order, one result per path, taken on several threads
/// of the shared `Executor` where the hasher allows concurrent calls. Otherwise the hasher is
/// called one path after the other and not again after a failure (the remaining results repeat
/// that failure).
std::vector<Result<QString>>
contentHashResults(const ContentHashing &hasher, const QStringList &paths, std::stop_token stop);

/// The content hash of each path, in list order, or the first failure in list order.
[[nodiscard]] Result<QStringList>
contentHashes(const ContentHashing &hasher, const QStringList &paths, std::stop_token stop);

/// The hashes of `first` and `second`, taken at the same time where the hasher allows it;
/// otherwise `first`, then `second`. A failure of `first` is reported before one of `second`.
[[nodiscard]] Result<std::pair<QString, QString>> contentHashPair(const ContentHashing &hasher,
                                                                  const QString &first,
                                                                  const QString &second,
                                                                  std::stop_token stop);

/// Hashes the next file of a sequence on a thread of the shared `Executor` while the current one
/// is worked on, for a hasher that allows concurrent calls and files large enough to be worth a
/// thread, when a thread is free; otherwise does nothing. The hash is taken ahead of time, so a caller may use it only where a stale hash
/// leads to nothing worse than doing the work again (a verified copy that is then compared with
/// a fresh hash of the source).
class ContentHashPrefetch
{
public:
    ContentHashPrefetch(const ContentHashing &hasher, std::stop_token stop);
    ContentHashPrefetch(const ContentHashPrefetch &) = delete;
    ContentHashPrefetch &operator=(const ContentHashPrefetch &) = delete;
    ~ContentHashPrefetch();

    void start(const QString &path);
    /// The hash of `path` if it was prefetched and could be taken.
    std::optional<QString> take(const QString &path);

private:
    void join();

    const ContentHashing &m_hasher;
    std::stop_token m_stop;
    std::optional<Executor::Task> m_worker;
    QString m_path;
    std::optional<Result<QString>> m_result;
};

} // namespace Pellwick
