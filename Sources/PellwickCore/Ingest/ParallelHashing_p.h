#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Support/Result.h>

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace Pellwick {

/// True when hashes may be taken on several threads at once without changing what a caller can
/// observe: only the production hasher, whose calls have no effect but their result. Any other
/// hasher (a test's, which may count calls or change files on chosen ones) is called in the
/// order the algorithm names.
bool hashesConcurrently(const ContentHashing &hasher);

/// Runs `body(i)` for every `i` below `count` on at most `maxWorkers` threads (the calling one
/// included) and no more than the machine has cores; returns when all have finished.
void forEachConcurrently(qsizetype count,
                         qsizetype maxWorkers,
                         const std::function<void(qsizetype)> &body);

/// How many threads are worth starting to read `paths`: one per few MiB, so that small files
/// are not slowed down by thread start-up.
qsizetype hashingWorkers(const QStringList &paths);

/// The content hash of each path, in list order, one result per path. A hasher that must be
/// called in order is called one path after the other and not again after a failure (the
/// remaining results repeat that failure).
std::vector<Result<QString>> contentHashResults(const ContentHashing &hasher,
                                                const QStringList &paths);

/// The content hash of each path, in list order, or the first failure in list order.
[[nodiscard]] Result<QStringList> contentHashes(const ContentHashing &hasher,
                                                const QStringList &paths);

/// The hashes of `first` and `second`, taken at the same time where the hasher allows it;
/// otherwise `first`, then `second`. A failure of `first` is reported before one of `second`.
[[nodiscard]] Result<std::pair<QString, QString>>
contentHashPair(const ContentHashing &hasher, const QString &first, const QString &second);

/// Hashes the next file of a sequence on a thread of its own while the current one is worked
/// on, for the production hasher and files large enough to be worth a thread; otherwise does
/// nothing. The hash is taken ahead of time, so a caller may use it only where a stale hash
/// leads to nothing worse than doing the work again (a verified copy that is then compared with
/// a fresh hash of the source).
class ContentHashPrefetch
{
public:
    explicit ContentHashPrefetch(const ContentHashing &hasher);
    ContentHashPrefetch(const ContentHashPrefetch &) = delete;
    ContentHashPrefetch &operator=(const ContentHashPrefetch &) = delete;
    ~ContentHashPrefetch();

    void start(const QString &path);
    /// The hash of `path` if it was prefetched and could be taken.
    std::optional<QString> take(const QString &path);

private:
    void join();

    const ContentHashing &m_hasher;
    std::thread m_worker;
    QString m_path;
    std::optional<Result<QString>> m_result;
};

} // namespace Pellwick
