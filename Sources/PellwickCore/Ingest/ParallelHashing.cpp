#include "ParallelHashing_p.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include <sys/stat.h>

namespace Pellwick {

namespace {

constexpr qint64 bytesPerWorker = 4 * 1024 * 1024;

} // namespace

bool hashesConcurrently(const ContentHashing &hasher)
{
    return dynamic_cast<const SHA256ContentHasher *>(&hasher) != nullptr;
}

void forEachConcurrently(qsizetype count,
                         qsizetype maxWorkers,
                         const std::function<void(qsizetype)> &body)
{
    const qsizetype cores = std::max<qsizetype>(1, std::thread::hardware_concurrency());
    const qsizetype workers = std::min({cores, count, maxWorkers});
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

qsizetype hashingWorkers(const QStringList &paths)
{
    qint64 total = 0;
    for (const QString &path : paths) {
        struct stat st
        {};

        if (::stat(QFile::encodeName(path).constData(), &st) == 0)
            total += static_cast<qint64>(st.st_size);
    }
    return std::max<qsizetype>(1, static_cast<qsizetype>(total / bytesPerWorker));
}

std::vector<Result<QString>> contentHashResults(const ContentHashing &hasher,
                                                const QStringList &paths)
{
    std::vector<std::optional<Result<QString>>> results(static_cast<size_t>(paths.size()));
    if (hashesConcurrently(hasher)) {
        forEachConcurrently(paths.size(), hashingWorkers(paths), [&](qsizetype i) {
            results[static_cast<size_t>(i)].emplace(hasher.contentHash(paths.at(i)));
        });
    } else {
        std::optional<Error> failed;
        for (qsizetype i = 0; i < paths.size(); ++i) {
            auto &result = results[static_cast<size_t>(i)];
            if (failed) {
                result.emplace(tl::unexpected<Error>(*failed));
                continue;
            }
            result.emplace(hasher.contentHash(paths.at(i)));
            if (!*result)
                failed = result->error();
        }
    }
    std::vector<Result<QString>> hashes;
    hashes.reserve(results.size());
    for (std::optional<Result<QString>> &result : results)
        hashes.push_back(std::move(*result));
    return hashes;
}

Result<QStringList> contentHashes(const ContentHashing &hasher, const QStringList &paths)
{
    QStringList hashes;
    hashes.reserve(paths.size());
    for (Result<QString> &result : contentHashResults(hasher, paths)) {
        if (!result)
            return tl::unexpected<Error>(std::move(result).error());
        hashes.append(std::move(*result));
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
