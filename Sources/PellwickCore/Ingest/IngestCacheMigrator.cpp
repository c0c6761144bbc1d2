#include "IngestCacheMigrator.h"

#include "IngestCacheMigrator_p.h"
#include "MigrationTransferProgressReporter.h"
#include "ParallelHashing_p.h"

#include <PellwickCore/Support/AtomicFile.h>
#include <PellwickCore/Support/DirectoryWalk.h>
#include <PellwickCore/Support/FileIdentity.h>

#include <QDir>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace Pellwick {

namespace {

/// Maps a UTF-16 code unit so that comparing mapped units orders strings by code point.
char16_t codePointOrder(char16_t unit)
{
    if (unit >= 0xE000)
        return static_cast<char16_t>(unit - 0x800);
    if (unit >= 0xD800)
        return static_cast<char16_t>(unit + 0x2000);
    return unit;
}

/// More than any path that names a cache root.
constexpr qint64 maximumMarkerBytes = qint64{64} * 1024;

/// True for a marker read refused because it is too large or no regular file: not ours.
bool isNotAMarkerOfOurs(const Error &error)
{
    const auto *fileError = error.as<FileSystemError>();
    return fileError && fileError->operation == QLatin1String("read")
           && (fileError->code == EFBIG || fileError->code == EINVAL || fileError->code == EISDIR);
}

} // namespace

QString standardizedPath(const QString &path)
{
    return QDir::cleanPath(path);
}

bool pathLess(const QString &a, const QString &b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = a.at(i).unicode();
        const char16_t y = b.at(i).unicode();
        if (x != y)
            return codePointOrder(x) < codePointOrder(y);
    }
    return a.size() < b.size();
}

void sortByPath(QStringList &paths)
{
    std::stable_sort(paths.begin(), paths.end(), pathLess);
}

std::optional<QString> firstPath(const QSet<QString> &paths)
{
    if (paths.isEmpty())
        return std::nullopt;
    return *std::min_element(paths.cbegin(), paths.cend(), pathLess);
}

QSet<QString> symmetricDifference(const QSet<QString> &a, const QSet<QString> &b)
{
    QSet<QString> result;
    for (const QString &path : a) {
        if (!b.contains(path))
            result.insert(path);
    }
    for (const QString &path : b) {
        if (!a.contains(path))
            result.insert(path);
    }
    return result;
}

QString IngestCacheMigrator::markerName()
{
    return QStringLiteral(".pellwick-migration-in-progress");
}

QString IngestCacheMigrator::markerTemporaryName()
{
    return markerName() + QStringLiteral(".tmp");
}

IngestCacheMigrator::IngestCacheMigrator(IngestCache cache,
                                         std::stop_token stop,
                                         MountTablePaths mountTables)
    : m_cache(std::move(cache))
    , m_stop(std::move(stop))
    , m_mountTables(std::move(mountTables))
{}

Result<IngestCacheMigration> IngestCache::migrate(const QString &newRootURL,
                                                  const TransferProgressSink &progress,
                                                  const QUuid &transferID,
                                                  std::stop_token stop) const
{
    return IngestCacheMigrator(*this, std::move(stop)).migrate(newRootURL, progress, transferID);
}

Result<void> IngestCache::completeMigration(const QString &newRootURL, std::stop_token stop) const
{
    return IngestCacheMigrator(*this, std::move(stop)).completeMigration(newRootURL);
}

Result<IngestCacheMigration> IngestCacheMigrator::migrate(const QString &newRootURL,
                                                          const ProgressCallback &progress,
                                                          const QUuid &transferID) const
{
    if (m_stop.stop_requested())
        return failure(CancellationError{});
    PELLWICK_TRY(validateTarget(newRootURL));
    PELLWICK_TRY(createEmptySourceRootIfItsParentIsAvailable());
    if (!isReadableDirectory(m_cache.rootURL()))
        return ingestCacheFailure(
            IngestCacheError::MigrationSourceIsUnavailable{whyUnreadable(m_cache.rootURL())});

    PELLWICK_TRY_ASSIGN(MigrationContents source,
                        migrationContents(m_cache.rootURL(), std::nullopt));

    QList<MigrationTransferProgressReporter::File> files;
    files.reserve(source.files.size());
    for (const QString &file : std::as_const(source.files)) {
        PELLWICK_TRY_ASSIGN(qint64 size, fileSize(file));
        files.append({relativePath(file, m_cache.rootURL()), size});
    }
    MigrationTransferProgressReporter reporter(transferID, files, progress);

    PELLWICK_TRY_ASSIGN(qint64 needed, additionalBytesNeeded(source.files, newRootURL));
    PELLWICK_TRY(preflightCapacity(needed, newRootURL));
    PELLWICK_TRY(prepareTarget(newRootURL));

    PELLWICK_TRY_ASSIGN(auto snapshot, copyStableSnapshot(newRootURL, &reporter));
    return IngestCacheMigration{m_cache.rootURL(), newRootURL, needed, std::move(snapshot)};
}

Result<void> IngestCacheMigrator::completeMigration(const QString &newRootURL) const
{
    if (m_stop.stop_requested())
        return failure(CancellationError{});
    const QString marker = appendingPathComponent(newRootURL, markerName());
    if (!m_cache.fileManager().fileExists(marker))
        return {};
    return m_cache.fileManager().removeItem(marker);
}

Result<void> IngestCacheMigrator::validateTarget(const QString &target) const
{
    return refuseOverlapWithRoot(target);
}

Result<void> IngestCacheMigrator::refuseOverlapWithRoot(const QString &other) const
{
    // By identity, not by the paths' text: a target that reaches the cache through a link, a bind
    // mount or a second mount of one share would otherwise receive copies of itself until the disk
    // is full, and a retained cache that is the active one by another path would be emptied.
    if (overlapByIdentity(m_cache.fileManager(), m_cache.rootURL(), other))
        return ingestCacheFailure(IngestCacheError::InvalidMigrationTarget{});
    return {};
}

Result<void> IngestCacheMigrator::createEmptySourceRootIfItsParentIsAvailable() const
{
    if (m_cache.fileManager().fileExists(m_cache.rootURL())
        || !isReadableDirectory(parentPath(m_cache.rootURL())))
        return {};
    return m_cache.fileManager().createDirectory(m_cache.rootURL());
}

ErrorCause IngestCacheMigrator::whyUnreadable(const QString &url) const
{
    Result<FileAttributes> attributes = m_cache.fileManager().attributesOfItem(url);
    if (!attributes)
        return ErrorCause(std::move(attributes).error());
    Result<QStringList> listed = m_cache.fileManager().contentsOfDirectory(url);
    if (!listed)
        return ErrorCause(std::move(listed).error());
    return {};
}

bool IngestCacheMigrator::isReadableDirectory(const QString &url) const
{
    if (!m_cache.fileManager().fileExists(url) || !m_cache.fileManager().isReadableFile(url))
        return false;
    Result<FileAttributes> attributes = m_cache.fileManager().attributesOfItem(url);
    return attributes && attributes->type == FileAttributes::Type::Directory;
}

Result<MigrationContents>
IngestCacheMigrator::migrationContents(const QString &root,
                                       const std::optional<QString> &ignoringRootItemNamed) const
{
    MigrationContents contents;
    if (!m_cache.fileManager().fileExists(root))
        return contents;

    // A folder below the root that cannot be listed fails the listing: passing over it would move
    // the cache without its files.
    const DirectoryWalkOptions options;
    Result<void> walked = walkDirectoryTree(
        m_cache.fileManager(),
        root,
        options,
        [&](const QString &folder, const DirectoryEntry &entry) -> Result<bool> {
            const QString path = appendingPathComponent(folder, entry.name);
            if (ignoringRootItemNamed && entry.name == *ignoringRootItemNamed
                && standardizedPath(folder) == standardizedPath(root))
                return true;
            switch (entry.attributes.type) {
            case FileAttributes::Type::SymbolicLink:
            case FileAttributes::Type::Other:
                return ingestCacheFailure(
                    IngestCacheError::UnsupportedMigrationItem{relativePath(path, root)});
            case FileAttributes::Type::Regular:
            case FileAttributes::Type::Directory:
                break;
            }
            // A name that is not valid UTF-8 cannot be reached to be copied.
            if (!entry.hasValidName)
                return ingestCacheFailure(
                    IngestCacheError::UnsupportedMigrationItem{relativePath(path, root)});
            if (entry.attributes.type == FileAttributes::Type::Directory)
                contents.directories.append(path);
            else
                contents.files.append(path);
            return true;
        });
    if (!walked) {
        const auto *fileError = walked.error().as<FileSystemError>();
        if (fileError && fileError->path == root)
            return ingestCacheFailure(IngestCacheError::MigrationSourceIsUnavailable{
                ErrorCause(std::move(walked).error())});
        return tl::unexpected<Error>(std::move(walked).error());
    }

    sortByPath(contents.directories);
    sortByPath(contents.files);
    return contents;
}

QString IngestCacheMigrator::relativePath(const QString &url, const QString &root)
{
    const QStringList itemComponents
        = standardizedPath(url).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const qsizetype rootComponents
        = standardizedPath(root).split(QLatin1Char('/'), Qt::SkipEmptyParts).size();
    return itemComponents.mid(rootComponents).join(QLatin1Char('/'));
}

QSet<QString> IngestCacheMigrator::relativePaths(const QStringList &urls, const QString &root)
{
    QSet<QString> paths;
    paths.reserve(urls.size());
    for (const QString &url : urls)
        paths.insert(relativePath(url, root));
    return paths;
}

Result<qint64> IngestCacheMigrator::additionalBytesNeeded(const QStringList &files,
                                                          const QString &target) const
{
    // Only a regular file can be an earlier copy; anything else in its place (a folder left by
    // an earlier pass) will be replaced and its bytes are needed.
    auto hasCopy = [&](const QString &copy) {
        Result<FileAttributes> existing = m_cache.fileManager().attributesOfItem(copy);
        return existing && existing->type == FileAttributes::Type::Regular;
    };
    const QStringList copies = targetFiles(files, target);

    // With the production hasher every pair is hashed up front, on several threads. Any other
    // hasher is asked file after file, the copy before its source, as the sum goes.
    QHash<qsizetype, std::pair<Result<QString>, Result<QString>>> prehashed;
    const bool concurrently = m_cache.contentHasher().allowsConcurrentCalls();
    if (concurrently) {
        QList<qsizetype> withCopy;
        QStringList pairs;
        for (qsizetype i = 0; i < files.size(); ++i) {
            if (hasCopy(copies.at(i))) {
                withCopy.append(i);
                pairs << copies.at(i) << files.at(i);
            }
        }
        std::vector<Result<QString>> results
            = contentHashResults(m_cache.contentHasher(), pairs, m_stop);
        for (qsizetype k = 0; k < withCopy.size(); ++k) {
            prehashed.insert(withCopy.at(k),
                             {std::move(results[static_cast<size_t>(2 * k)]),
                              std::move(results[static_cast<size_t>(2 * k + 1)])});
        }
    }

    qint64 total = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const bool known = prehashed.contains(i);
        if (known || (!concurrently && hasCopy(copies.at(i)))) {
            PELLWICK_TRY_ASSIGN(QString copyHash,
                                known ? prehashed.value(i).first : contentHash(copies.at(i)));
            PELLWICK_TRY_ASSIGN(QString sourceHash,
                                known ? prehashed.value(i).second : contentHash(files.at(i)));
            if (copyHash == sourceHash)
                continue;
        }
        PELLWICK_TRY_ASSIGN(qint64 size, fileSize(files.at(i)));
        total += size;
    }
    return total;
}

Result<void> IngestCacheMigrator::preflightCapacity(qint64 requiredBytes,
                                                    const QString &target) const
{
    const QString probe = m_cache.fileManager().fileExists(target) ? target : parentPath(target);
    PELLWICK_TRY_ASSIGN(qint64 available, m_cache.availableCapacity()(probe));
    if (available < requiredBytes)
        return ingestCacheFailure(
            IngestCacheError::InsufficientCapacity{requiredBytes, available, target});
    return {};
}

Result<void> IngestCacheMigrator::prepareTarget(const QString &target) const
{
    const QString marker = appendingPathComponent(target, markerName());
    if (!m_cache.fileManager().fileExists(target)) {
        PELLWICK_TRY(m_cache.fileManager().createDirectory(target));
    } else {
        PELLWICK_TRY_ASSIGN(QStringList entries, m_cache.fileManager().contentsOfDirectory(target));
        // A move ended while it wrote the marker leaves only the marker's temporary file: that
        // target is still ours and empty (the leftover is removed as a stale entry).
        const bool onlyMarkerLeftovers
            = std::all_of(entries.cbegin(), entries.cend(), [](const QString &name) {
                  return name == markerTemporaryName();
              });
        const bool hasMarker = m_cache.fileManager().fileExists(marker);
        if (!onlyMarkerLeftovers && !hasMarker)
            return ingestCacheFailure(IngestCacheError::MigrationTargetIsNotEmpty{});
        if (hasMarker) {
            // Read with a bound: a marker another program grew (or swapped for something that
            // never ends) can name no cache, and read whole it would exhaust memory.
            Result<QByteArray> read
                = readRegularFileContents(m_cache.fileManager(), marker, maximumMarkerBytes);
            if (!read && isNotAMarkerOfOurs(read.error()))
                return ingestCacheFailure(IngestCacheError::MigrationTargetIsNotEmpty{});
            PELLWICK_TRY_ASSIGN(QByteArray bytes, std::move(read));
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString text = decoder.decode(bytes);
            if (decoder.hasError())
                return failure(DecodingError{DecodingError::Kind::DataCorrupted,
                                             QString(),
                                             QStringLiteral("The marker is not UTF-8 text.")});
            if (text != m_cache.rootURL())
                return ingestCacheFailure(IngestCacheError::MigrationTargetIsNotEmpty{});
        }
        // Made by an earlier move that may not have lived to flush it, or by the user.
        PELLWICK_TRY(makeDirectoryDurable(m_cache.fileManager(), target));
    }
    if (m_cache.fileManager().fileExists(marker))
        return {};
    return writeFileAtomically(m_cache.fileManager(),
                               marker,
                               m_cache.rootURL().toUtf8(),
                               appendingPathComponent(target, markerTemporaryName()));
}

Result<qint64> IngestCacheMigrator::fileSize(const QString &path) const
{
    PELLWICK_TRY_ASSIGN(FileAttributes attributes, m_cache.fileManager().attributesOfItem(path));
    return attributes.size;
}

Result<QString> IngestCacheMigrator::contentHash(const QString &path) const
{
    return m_cache.contentHasher().contentHash(path, m_stop);
}

} // namespace Pellwick
