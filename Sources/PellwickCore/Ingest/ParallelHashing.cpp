#include "ParallelHashing_p.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <vector>

namespace Pellwick {

bool hashesConcurrently(const ContentHashing &hasher)
{
    return dynamic_cast<const SHA256ContentHasher *>(&hasher) != nullptr;
}

void forEachConcurrently(qsizetype count, const std::function<void(qsizetype)> &body)
{
    const qsizetype cores = std::max<qsizetype>(1, std::thread::hardware_concurrency());
    const qsizetype workers = std::min(cores, count);
    if (workers <= 1) {
        for (qsizetype i = 0; i < count; ++i)
            body(i);
        return;
    }
    std::atomic<qsizetype> next{0};
    auto work = [&] {
        for (qsizetype i = next++; i < count; i = next++)
            body(i);
    };
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(workers - 1));
    for (qsizetype i = 1; i < workers; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread &thread : threads)
        thread.join();
}

Result<QStringList> contentHashes(const ContentHashing &hasher, const QStringList &paths)
{
    QStringList hashes;
    hashes.reserve(paths.size());
    if (!hashesConcurrently(hasher)) {
        for (const QString &path : paths) {
            Result<QString> hash = hasher.contentHash(path);
            if (!hash)
                return tl::unexpected<Error>(std::move(hash).error());
            hashes.append(std::move(*hash));
        }
        return hashes;
    }

    std::vector<std::optional<Result<QString>>> results(static_cast<size_t>(paths.size()));
    forEachConcurrently(paths.size(), [&](qsizetype i) {
        results[static_cast<size_t>(i)].emplace(hasher.contentHash(paths.at(i)));
    });
    for (std::optional<Result<QString>> &result : results) {
        if (!*result)
            return tl::unexpected<Error>(std::move(*result).error());
        hashes.append(std::move(**result));
    }
    return hashes;
}

Result<std::pair<QString, QString>>
contentHashPair(const ContentHashing &hasher, const QString &first, const QString &second)
{
    Result<QStringList> hashes = contentHashes(hasher, QStringList{first, second});
    if (!hashes)
        return tl::unexpected<Error>(std::move(hashes).error());
    return std::make_pair(hashes->at(0), hashes->at(1));
}

} // namespace Pellwick
