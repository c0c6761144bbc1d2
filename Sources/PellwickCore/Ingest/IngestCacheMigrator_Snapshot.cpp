#include "IngestCacheMigrator.h"
#include "IngestCacheMigrator_p.h"
#include "MigrationTransferProgressReporter.h"
#include "ParallelHashing_p.h"
#include "VerifiedFileCopy.h"

#include <PellwickCore/Support/DirectoryWalk.h>

#include <algorithm>
#include <cerrno>

namespace Pellwick {

namespace {

constexpr int snapshotAttempts = 3;
constexpr int triesPerFile = 3;

QSet<QString> unitedWith(QSet<QString> a, const QSet<QString> &b)
{
    a.unite(b);
    return a;
}

/// True for a failed verified copy that says the source changed while it was copied: its copy
/// differed, or it grew past the size it had when opened (a file still being written).
bool isContentChange(const Error &error, const QString &source)
{
    if (const auto *copyError = error.as<VerifiedFileCopyError>())
        return std::holds_alternative<VerifiedFileCopyError::ContentHashMismatch>(copyError->value);
    const auto *fileError = error.as<FileSystemError>();
    return fileError && fileError->operation == QLatin1String("read") && fileError->code == EFBIG
           && fileError->path == source;
}

} // namespace

/// One pass of copying: the cache's hashes and listing before the copy, and its listing after.
struct IngestCacheMigrator::SnapshotCopyAttempt
{
    QHash<QString, QString> sourceHashes;
    MigrationContents sourceBefore;
    MigrationContents sourceAfter;
};

/// The hashes of a stable pass, or what changed during an unstable one.
struct IngestCacheMigrator::SnapshotCopyOutcome
{
    std::optional<QHash<QString, QString>> hashes;
    std::optional<QString> mismatch;
};

Result<QHash<QString, QString>>
IngestCacheMigrator::copyStableSnapshot(const QString &target,
                                        MigrationTransferProgressReporter *progress) const
{
    std::optional<QString> fallback;
    for (int attempt = 1; attempt <= snapshotAttempts; ++attempt) {
        if (m_stop.stop_requested())
            return failure(CancellationError{});
        PELLWICK_TRY_ASSIGN(SnapshotCopyOutcome outcome,
                            copyStableSnapshotAttempt(target, fallback, progress));
        if (outcome.hashes)
            return std::move(*outcome.hashes);
        if (outcome.mismatch)
            fallback = outcome.mismatch;
    }
    return ingestCacheFailure(IngestCacheError::MigrationSourceChangedTooOften{
        fallback.value_or(QStringLiteral("Ingest Cache"))});
}

Result<IngestCacheMigrator::SnapshotCopyOutcome>
IngestCacheMigrator::copyStableSnapshotAttempt(const QString &target,
                                               const std::optional<QString> &fallbackMismatch,
                                               MigrationTransferProgressReporter *progress) const
{
    PELLWICK_TRY_ASSIGN(SnapshotCopyAttempt pass, prepareStableSnapshotCopy(target, progress));

    const QSet<QString> directoriesBefore
        = relativePaths(pass.sourceBefore.directories, m_cache.rootURL());
    const QSet<QString> filesBefore = relativePaths(pass.sourceBefore.files, m_cache.rootURL());
    const QSet<QString> directoriesAfter
        = relativePaths(pass.sourceAfter.directories, m_cache.rootURL());
    const QSet<QString> filesAfter = relativePaths(pass.sourceAfter.files, m_cache.rootURL());
    const QSet<QString> pathsBefore = unitedWith(directoriesBefore, filesBefore);

    if (directoriesBefore != directoriesAfter || filesBefore != filesAfter) {
        return SnapshotCopyOutcome{
            std::nullopt,
            firstPath(symmetricDifference(pathsBefore, unitedWith(directoriesAfter, filesAfter)))};
    }

    PELLWICK_TRY_ASSIGN(MigrationContents copied, migrationContents(target, markerName()));
    const QSet<QString> targetDirectories = relativePaths(copied.directories, target);
    const QSet<QString> targetFilePaths = relativePaths(copied.files, target);
    if (targetDirectories != directoriesBefore || targetFilePaths != filesBefore) {
        return SnapshotCopyOutcome{
            std::nullopt,
            firstPath(
                symmetricDifference(pathsBefore, unitedWith(targetDirectories, targetFilePaths)))};
    }

    // The cache after the pass, then the copies: one list, so a hasher that must be called in
    // order sees exactly that order.
    const QStringList copies = targetFiles(pass.sourceBefore.files, target);
    PELLWICK_TRY_ASSIGN(
        QStringList allHashes,
        contentHashes(m_cache.contentHasher(), pass.sourceAfter.files + copies, m_stop));
    QHash<QString, QString> afterHashes;
    QHash<QString, QString> copyHashes;
    const qsizetype afterCount = pass.sourceAfter.files.size();
    for (qsizetype i = 0; i < afterCount; ++i)
        afterHashes.insert(relativePath(pass.sourceAfter.files.at(i), m_cache.rootURL()),
                           allHashes.at(i));
    for (qsizetype i = 0; i < copies.size(); ++i)
        copyHashes.insert(relativePath(copies.at(i), target), allHashes.at(afterCount + i));

    if (pass.sourceHashes == afterHashes && afterHashes == copyHashes)
        return SnapshotCopyOutcome{std::move(afterHashes), std::nullopt};

    const std::optional<QString> copyMismatch
        = firstMismatchedPath(afterHashes, copyHashes, fallbackMismatch);
    return SnapshotCopyOutcome{std::nullopt,
                               firstMismatchedPath(pass.sourceHashes, afterHashes, copyMismatch)};
}

Result<IngestCacheMigrator::SnapshotCopyAttempt>
IngestCacheMigrator::prepareStableSnapshotCopy(const QString &target,
                                               MigrationTransferProgressReporter *progress) const
{
    SnapshotCopyAttempt pass;
    PELLWICK_TRY_ASSIGN(pass.sourceBefore, migrationContents(m_cache.rootURL(), std::nullopt));

    PELLWICK_TRY_ASSIGN(MigrationContents existing, migrationContents(target, markerName()));
    PELLWICK_TRY(removeStaleTargetEntries(existing, target, pass.sourceBefore));

    PELLWICK_TRY_ASSIGN(qint64 needed, additionalBytesNeeded(pass.sourceBefore.files, target));
    PELLWICK_TRY(preflightCapacity(needed, target));
    PELLWICK_TRY(createTargetDirectories(pass.sourceBefore.directories, target));

    PELLWICK_TRY_ASSIGN(pass.sourceHashes, hashes(pass.sourceBefore.files, m_cache.rootURL()));

    // While a file is copied, the next one's first hash is taken: a file that changes meanwhile
    // fails that first try's comparison with its fresh hash and is copied again.
    ContentHashPrefetch prefetch(m_cache.contentHasher(), m_stop);
    const QStringList &files = pass.sourceBefore.files;
    for (qsizetype i = 0; i < files.size(); ++i) {
        std::optional<QString> presumedHash = prefetch.take(files.at(i));
        if (i + 1 < files.size())
            prefetch.start(files.at(i + 1));
        PELLWICK_TRY(copyStableFile(files.at(i), target, progress, presumedHash));
    }

    PELLWICK_TRY_ASSIGN(pass.sourceAfter, migrationContents(m_cache.rootURL(), std::nullopt));
    return pass;
}

Result<void>
IngestCacheMigrator::removeStaleTargetEntries(const MigrationContents &targetContents,
                                              const QString &target,
                                              const MigrationContents &sourceContents) const
{
    const QSet<QString> sourceDirectories
        = relativePaths(sourceContents.directories, m_cache.rootURL());
    const QSet<QString> sourceFiles = relativePaths(sourceContents.files, m_cache.rootURL());

    for (const QString &file : targetContents.files) {
        if (!sourceFiles.contains(relativePath(file, target)))
            PELLWICK_TRY(m_cache.fileManager().removeItem(file));
    }

    // Deepest first, so a folder goes after the folders inside it.
    QStringList directories = targetContents.directories;
    std::stable_sort(directories.begin(),
                     directories.end(),
                     [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &directory : std::as_const(directories)) {
        if (!sourceDirectories.contains(relativePath(directory, target)))
            PELLWICK_TRY(m_cache.fileManager().removeItem(directory));
    }
    return {};
}

QStringList IngestCacheMigrator::targetFiles(const QStringList &files, const QString &target) const
{
    QStringList copies;
    copies.reserve(files.size());
    for (const QString &file : files)
        copies.append(appendingPathComponent(target, relativePath(file, m_cache.rootURL())));
    return copies;
}

Result<void> IngestCacheMigrator::copyStableFile(const QString &file,
                                                 const QString &target,
                                                 MigrationTransferProgressReporter *progress) const
{
    return copyStableFile(file, target, progress, std::nullopt);
}

Result<void> IngestCacheMigrator::copyStableFile(const QString &file,
                                                 const QString &target,
                                                 MigrationTransferProgressReporter *progress,
                                                 const std::optional<QString> &presumedHash) const
{
    const QString path = relativePath(file, m_cache.rootURL());
    const QString destination = appendingPathComponent(target, path);
    // The last try's failure when it was not the source changing: a full disk or an unreadable
    // file is reported as what it is, not as a cache that kept changing.
    std::optional<Error> lastFailure;

    for (int attempt = 1; attempt <= triesPerFile; ++attempt) {
        if (m_stop.stop_requested())
            return failure(CancellationError{});
        PELLWICK_TRY_ASSIGN(qint64 size, fileSize(file));
        if (progress)
            progress->copying(path, 0, size);
        PELLWICK_TRY_ASSIGN(QString sourceHash,
                            attempt == 1 && presumedHash ? Result<QString>(*presumedHash)
                                                         : contentHash(file));
        PELLWICK_TRY(m_cache.fileManager().createDirectory(parentPath(destination)));

        bool foundInPlace = false;
        if (m_cache.fileManager().fileExists(destination)) {
            PELLWICK_TRY_ASSIGN(QString existingHash, contentHash(destination));
            if (existingHash != sourceHash)
                PELLWICK_TRY(m_cache.fileManager().removeItem(destination));
            else
                foundInPlace = true;
        }
        if (!foundInPlace) {
            const qint64 byteCount = size;
            Result<void> copied = VerifiedFileCopy::copy(
                file,
                destination,
                m_cache.fileManager(),
                m_cache.contentHasher(),
                {},
                [&](qint64 bytes) {
                    if (progress)
                        progress->copying(path, bytes, byteCount);
                },
                nullptr,
                m_stop);
            if (!copied && copied.error().is<CancellationError>())
                return copied;
            if (!copied) {
                lastFailure = isContentChange(copied.error(), file)
                                  ? std::nullopt
                                  : std::optional<Error>(std::move(copied).error());
                if (progress)
                    progress->retrying(path);
                continue;
            }
        }

        if (progress)
            progress->verifying(path, size);
        PELLWICK_TRY_ASSIGN(auto after,
                            contentHashPair(m_cache.contentHasher(), destination, file, m_stop));
        if (after.first == sourceHash && after.second == sourceHash) {
            // The move that put it there may have ended before it flushed the folder: the name
            // is made durable before the copy counts.
            if (foundInPlace)
                PELLWICK_TRY(m_cache.fileManager().synchronizeDirectory(parentPath(destination)));
            if (progress)
                progress->completed(path, size);
            return {};
        }
        (void) m_cache.fileManager().removeItem(destination);
        lastFailure.reset();
        if (progress)
            progress->retrying(path);
    }
    if (lastFailure)
        return tl::unexpected<Error>(std::move(*lastFailure));
    return ingestCacheFailure(IngestCacheError::MigrationSourceChangedTooOften{path});
}

Result<QHash<QString, QString>> IngestCacheMigrator::hashes(const QStringList &files,
                                                            const QString &root) const
{
    PELLWICK_TRY_ASSIGN(QStringList contentHashList,
                        contentHashes(m_cache.contentHasher(), files, m_stop));
    QHash<QString, QString> result;
    result.reserve(files.size());
    for (qsizetype i = 0; i < files.size(); ++i)
        result.insert(relativePath(files.at(i), root), contentHashList.at(i));
    return result;
}

std::optional<QString>
IngestCacheMigrator::firstMismatchedPath(const QHash<QString, QString> &a,
                                         const QHash<QString, QString> &b,
                                         const std::optional<QString> &fallback)
{
    QStringList keys = a.keys();
    sortByPath(keys);
    for (const QString &key : std::as_const(keys)) {
        const auto other = b.constFind(key);
        if (other == b.cend() || *other != a.value(key))
            return key;
    }
    return fallback;
}

Result<void> IngestCacheMigrator::createTargetDirectories(const QStringList &directories,
                                                          const QString &target) const
{
    for (const QString &directory : directories) {
        const QString made
            = appendingPathComponent(target, relativePath(directory, m_cache.rootURL()));
        PELLWICK_TRY(m_cache.fileManager().createDirectory(made));
        // One an earlier move made may never have been flushed into its parent: no copy in it
        // counts before its name is on storage.
        PELLWICK_TRY(makeDirectoryDurable(m_cache.fileManager(), made));
    }
    return {};
}

} // namespace Pellwick
