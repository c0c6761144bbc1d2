#include "IngestCacheMigrator.h"
#include "IngestCacheMigrator_p.h"
#include "ParallelHashing_p.h"
#include "VerifiedFileCopy.h"

#include <PellwickCore/Support/DirectoryWalk.h>
#include <PellwickCore/Support/FileRemoval.h>
#include <PellwickCore/Support/MountTable.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>

namespace Pellwick {

namespace {

tl::unexpected<Error> verificationFailure(const QString &relativePath, ErrorCause cause = {})
{
    return ingestCacheFailure(IngestCacheError::VerificationFailed{relativePath, std::move(cause)});
}

/// A failed copy as the failed verification of the file it was to place, keeping why it failed.
/// A copy stopped on request stays a cancellation: the file was not found wrong, nobody looked.
Result<void> placed(Result<void> copied, const QString &destination)
{
    if (!copied && copied.error().is<CancellationError>())
        return copied;
    if (!copied)
        return verificationFailure(lastPathComponent(destination),
                                   ErrorCause(std::move(copied).error()));
    return {};
}

} // namespace

Result<IngestCacheMigrationReconciliation>
IngestCache::synchronizeRetainedCache(const QString &oldRootURL,
                                      const QHash<QString, QString> &baselineHashes) const
{
    return IngestCacheMigrator(*this).synchronizeRetainedCache(oldRootURL, baselineHashes);
}

Result<void> IngestCache::removeRetainedCache(const QString &oldRootURL,
                                              const QHash<QString, QString> &baselineHashes) const
{
    return IngestCacheMigrator(*this).removeRetainedCache(oldRootURL, baselineHashes);
}

Result<void>
IngestCache::resolveRetainedCacheConflict(const IngestCacheMigrationConflict &conflict,
                                          IngestCacheMigrationConflictResolution keeping) const
{
    return IngestCacheMigrator(*this).resolveRetainedCacheConflict(conflict, keeping);
}

struct IngestCacheMigrator::RetainedCacheCheck
{
    IngestCacheMigrationReconciliation reconciliation;
    /// Each retained file found equal or brought over (or changed only in the active cache), with
    /// what it was just before it was compared.
    QList<std::pair<QString, FileAttributes>> settled;
    /// The hash of each file brought over, which both caches now hold.
    QHash<QString, QString> broughtOver;
    QStringList directories;
};

Result<IngestCacheMigrationReconciliation>
IngestCacheMigrator::synchronizeRetainedCache(const QString &oldRootURL,
                                              const QHash<QString, QString> &baselineHashes) const
{
    PELLWICK_TRY_ASSIGN(RetainedCacheCheck check, checkRetainedCache(oldRootURL, baselineHashes));
    return std::move(check.reconciliation);
}

Result<IngestCacheMigrator::RetainedCacheCheck>
IngestCacheMigrator::checkRetainedCache(const QString &oldRootURL,
                                        const QHash<QString, QString> &baselineHashes) const
{
    // The retained cache is deleted once it is reconciled: it must never be the active cache or
    // hold it.
    PELLWICK_TRY(refuseOverlapWithRoot(oldRootURL));

    PELLWICK_TRY_ASSIGN(MigrationContents retained, migrationContents(oldRootURL, std::nullopt));

    RetainedCacheCheck check;
    check.directories = std::move(retained.directories);
    IngestCacheMigrationReconciliation &reconciliation = check.reconciliation;
    for (const QString &oldURL : std::as_const(retained.files)) {
        // Read before the file is compared, so that a change made during the comparison or after
        // it keeps the file from the deletion.
        PELLWICK_TRY_ASSIGN(const FileAttributes seen,
                            m_cache.fileManager().attributesOfItem(oldURL));
        const auto settle = [&] { check.settled.append({oldURL, seen}); };
        const QString path = relativePath(oldURL, oldRootURL);
        const QString activeURL = appendingPathComponent(m_cache.rootURL(), path);
        if (!m_cache.fileManager().fileExists(activeURL)) {
            // Gone from the active cache since the move (cleaned up after archiving, or removed
            // by the user): it comes back only when the old cache holds a newer version.
            if (const auto baseline = baselineHashes.constFind(path);
                baseline != baselineHashes.cend()) {
                PELLWICK_TRY_ASSIGN(const QString retainedHash,
                                    m_cache.contentHasher().contentHash(oldURL, m_stop));
                if (retainedHash == *baseline) {
                    settle();
                    continue;
                }
            }
            PELLWICK_TRY_ASSIGN(check.broughtOver[path],
                                copyAndVerify(oldURL, oldRootURL, m_cache.rootURL()));
            ++reconciliation.synchronizedFileCount;
            settle();
            continue;
        }

        PELLWICK_TRY_ASSIGN(auto hashes,
                            contentHashPair(m_cache.contentHasher(), oldURL, activeURL, m_stop));
        const auto &[retainedHash, activeHash] = hashes;
        const auto baseline = baselineHashes.constFind(path);
        const bool retainedUnchanged
            = baseline != baselineHashes.cend() && retainedHash == *baseline;
        if (retainedHash == activeHash || retainedUnchanged) {
            settle(); // equal, or changed only in the active cache
        } else if (baseline != baselineHashes.cend() && activeHash == *baseline) {
            PELLWICK_TRY_ASSIGN(check.broughtOver[path], replaceAndVerify(activeURL, oldURL));
            ++reconciliation.synchronizedFileCount;
            settle();
        } else {
            reconciliation.conflicts.append({path, oldURL, activeURL});
        }
    }
    return check;
}

Result<void>
IngestCacheMigrator::removeRetainedCache(const QString &oldRootURL,
                                         const QHash<QString, QString> &baselineHashes) const
{
    // A drive that is away leaves a missing or an empty folder, which says nothing of the cache
    // it holds: never taken for a cache the user deleted.
    if (mayLieOnAbsentDrive(m_cache.fileManager(), oldRootURL, m_mountTables))
        return ingestCacheFailure(IngestCacheError::RetainedCacheNotFound{});

    // Files written into the old cache while a pass checks it are left for the next one, which
    // knows what the earlier ones brought over: a file changed again only in the old cache is no
    // conflict.
    QHash<QString, QString> baseline = baselineHashes;
    constexpr int passes = 3;
    for (int pass = 1; pass <= passes; ++pass) {
        PELLWICK_TRY_ASSIGN(const RetainedCacheCheck check,
                            checkRetainedCache(oldRootURL, baseline));
        baseline.insert(check.broughtOver);
        if (!check.reconciliation.conflicts.isEmpty())
            return ingestCacheFailure(IngestCacheError::RetainedCacheConflicts{});

        // A folder the user already deleted is removed; one whose parent is away too is not, so
        // the application keeps it until it can be reconciled.
        Result<FileAttributes> retained = m_cache.fileManager().attributesOfItem(oldRootURL);
        const auto *missing = retained ? nullptr : retained.error().as<FileSystemError>();
        if (missing && missing->code == ENOENT) {
            if (isReadableDirectory(parentPath(oldRootURL)))
                return {};
            return m_cache.fileManager().removeItem(oldRootURL);
        }
        PELLWICK_TRY_ASSIGN(const bool removed, removeCheckedRetainedFiles(oldRootURL, check));
        if (removed)
            return {};
    }
    PELLWICK_TRY_ASSIGN(const MigrationContents left, migrationContents(oldRootURL, std::nullopt));
    QStringList remaining;
    for (const QString &file : left.files)
        remaining.append(relativePath(file, oldRootURL));
    return ingestCacheFailure(IngestCacheError::RetainedCacheChanged{remaining});
}

Result<bool> IngestCacheMigrator::removeCheckedRetainedFiles(const QString &oldRootURL,
                                                             const RetainedCacheCheck &check) const
{
    const FileManager &files = m_cache.fileManager();
    const auto tolerated = [](const Result<void> &removed, std::initializer_list<int> codes) {
        const auto *error = removed ? nullptr : removed.error().as<FileSystemError>();
        return removed
               || (error && std::find(codes.begin(), codes.end(), error->code) != codes.end());
    };
    for (const auto &[file, seen] : check.settled) {
        if (m_stop.stop_requested())
            return failure(CancellationError{});
        // Another version saved since (in place or by a rename) is not what was brought over.
        PELLWICK_TRY(removeFileIfStill(files, file, seen));
    }
    // Deepest first; a folder that holds anything new stays with it.
    for (qsizetype index = check.directories.size() - 1; index >= 0; --index) {
        if (Result<void> removed = files.removeDirectory(check.directories.at(index));
            !tolerated(removed, {ENOENT, ENOTEMPTY, EEXIST}))
            return tl::unexpected<Error>(std::move(removed).error());
    }
    Result<void> root = files.removeDirectory(oldRootURL);
    if (!tolerated(root, {ENOENT, ENOTEMPTY, EEXIST}))
        return tl::unexpected<Error>(std::move(root).error());
    return root || !files.fileExists(oldRootURL);
}

Result<void> IngestCacheMigrator::resolveRetainedCacheConflict(
    const IngestCacheMigrationConflict &conflict,
    IngestCacheMigrationConflictResolution keeping) const
{
    const auto done = [](const QString &) {};
    switch (keeping) {
    case IngestCacheMigrationConflictResolution::KeepOld:
        return replaceAndVerify(conflict.activeURL, conflict.oldURL).map(done);
    case IngestCacheMigrationConflictResolution::KeepNew:
        return replaceAndVerify(conflict.oldURL, conflict.activeURL).map(done);
    case IngestCacheMigrationConflictResolution::KeepBoth: {
        const QString copy = conflictCopyURL(conflict.activeURL);
        PELLWICK_TRY(placed(copyVerifiedFile(conflict.oldURL, copy), copy));
        return replaceAndVerify(conflict.oldURL, conflict.activeURL).map(done);
    }
    }
    return {};
}

Result<QString> IngestCacheMigrator::copyAndVerify(const QString &file,
                                                   const QString &root,
                                                   const QString &otherRoot) const
{
    const QString path = relativePath(file, root);
    const QString destination = appendingPathComponent(otherRoot, path);
    PELLWICK_TRY(m_cache.fileManager().createDirectory(parentPath(destination)));
    if (!m_cache.fileManager().fileExists(destination))
        PELLWICK_TRY(placed(copyVerifiedFile(file, destination), destination));

    return verifySameContent(file, destination, path);
}

Result<QString> IngestCacheMigrator::replaceAndVerify(const QString &destination,
                                                      const QString &source) const
{
    // The destination goes only once its replacement is known to be there: removing it for a
    // source that vanished meanwhile would lose both versions.
    PELLWICK_TRY(m_cache.fileManager().attributesOfItem(source));

    // Already gone when an earlier replacement was stopped or failed before its copy was in
    // place: the choice can be made again.
    if (Result<void> removed = m_cache.fileManager().removeItem(destination); !removed) {
        const auto *error = removed.error().as<FileSystemError>();
        if (!error || error->code != ENOENT)
            return tl::unexpected<Error>(std::move(removed).error());
    }
    PELLWICK_TRY(placed(copyVerifiedFile(source, destination), destination));

    return verifySameContent(destination, source, lastPathComponent(destination));
}

Result<QString> IngestCacheMigrator::verifySameContent(const QString &first,
                                                       const QString &second,
                                                       const QString &failurePath) const
{
    PELLWICK_TRY_ASSIGN(auto hashes,
                        contentHashPair(m_cache.contentHasher(), first, second, m_stop));
    if (hashes.first != hashes.second)
        return verificationFailure(failurePath);
    return hashes.first;
}

Result<void>
IngestCacheMigrator::copyVerifiedFile(const QString &source,
                                      const QString &destination,
                                      const std::function<void(qint64)> &didCopyBytes) const
{
    return VerifiedFileCopy::copy(source,
                                  destination,
                                  m_cache.fileManager(),
                                  m_cache.contentHasher(),
                                  {},
                                  didCopyBytes,
                                  nullptr,
                                  m_stop);
}

QString IngestCacheMigrator::conflictCopyURL(const QString &activeURL)
{
    const QString name = lastPathComponent(activeURL);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString stem = hasExtension ? name.left(dot) : name;
    QString copyName = stem + QStringLiteral(".old-cache-conflict");
    if (hasExtension)
        copyName += name.mid(dot);
    return appendingPathComponent(parentPath(activeURL), copyName);
}

} // namespace Pellwick
