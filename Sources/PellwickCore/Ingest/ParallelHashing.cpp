#include "ParallelHashing_p.h"

#include <QFile>

#include <algorithm>
#include <optional>

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

qsizetype hashingWorkers(const QStringList &paths)
{
    qint64 total = 0;
    for (const QString &path : paths)
        total += sizeOf(path);
    return std::max<qsizetype>(1, static_cast<qsizetype>(total / bytesPerWorker));
}

std::vector<Result<QString>>
contentHashResults(const ContentHashing &hasher, const QStringList &paths, std::stop_token stop)
{
    std::vector<std::optional<Result<QString>>> results(static_cast<size_t>(paths.size()));
    if (hasher.allowsConcurrentCalls()) {
        Executor::shared()->forEach(paths.size(), hashingWorkers(paths), [&](qsizetype i) {
            results[static_cast<size_t>(i)].emplace(hasher.contentHash(paths.at(i), stop));
        });
    } else {
        std::optional<Error> failed;
        for (qsizetype i = 0; i < paths.size(); ++i) {
            auto &result = results[static_cast<size_t>(i)];
            if (failed) {
                result.emplace(tl::unexpected<Error>(*failed));
                continue;
            }
            result.emplace(hasher.contentHash(paths.at(i), stop));
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

Result<QStringList>
contentHashes(const ContentHashing &hasher, const QStringList &paths, std::stop_token stop)
{
    QStringList hashes;
    hashes.reserve(paths.size());
    for (Result<QString> &result : contentHashResults(hasher, paths, std::move(stop))) {
        if (!result)
            return tl::unexpected<Error>(std::move(result).error());
        hashes.append(std::move(*result));
    }
    return hashes;
}

Result<std::pair<QString, QString>> contentHashPair(const ContentHashing &hasher,
                                                    const QString &first,
                                                    const QString &second,
                                                    std::stop_token stop)
{
    PELLWICK_TRY_ASSIGN(QStringList hashes,
                        contentHashes(hasher, QStringList{first, second}, std::move(stop)));
    return std::make_pair(hashes.at(0), hashes.at(1));
}

ContentHashPrefetch::ContentHashPrefetch(const ContentHashing &hasher, std::stop_token stop)
    : m_hasher(hasher)
    , m_stop(std::move(stop))
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
    if (!m_hasher.allowsConcurrentCalls() || sizeOf(path) < bytesPerWorker)
        return;
    m_worker = Executor::shared()->tryStart(
        [this, path] { m_result.emplace(m_hasher.contentHash(path, m_stop)); });
    if (m_worker)
        m_path = path;
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
    if (m_worker)
        m_worker->wait();
    m_worker.reset();
}

} // namespace Pellwick
