#include "ParallelHashing_p.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include <sys/stat.h>

namespace Pellwick {

namespace {

constexpr qint64 bytesPerWorker = qint64{4} * 1024 * 1024;

qint64 sizeOf(const QString &path)
{
    struct stat st
    {};

    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<qint64>(st.st_size)
                                                                 : 0;
}

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
    for (const QString &path : paths)
        total += sizeOf(path);
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

ContentHashPrefetch::ContentHashPrefetch(const ContentHashing &hasher)
    : m_hasher(hasher)
{}

ContentHashPrefetch::~ContentHashPrefetch()
{
    join();
}

void ContentHashPrefetch::start(const QString &path)
{
    join();
    m_path.clear();
    m_result.reset();
    if (!hashesConcurrently(m_hasher) || sizeOf(path) < bytesPerWorker)
        return;
    m_path = path;
    m_worker = std::thread([this, path] { m_result.emplace(m_hasher.contentHash(path)); });
}

std::optional<QString> ContentHashPrefetch::take(const QString &path)
{
    join();
    if (path != m_path || !m_result || !*m_result)
        return std::nullopt;
    std::optional<QString> hash = std::move(**m_result);
    m_result.reset();
    m_path.clear();
    return hash;
}

void ContentHashPrefetch::join()
{
    if (m_worker.joinable())
        m_worker.join();
}

} // namespace Pellwick
