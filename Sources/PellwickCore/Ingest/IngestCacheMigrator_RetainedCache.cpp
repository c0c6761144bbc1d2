#include "IngestCacheMigrator.h"
#include "IngestCacheMigrator_p.h"
#include "ParallelHashing_p.h"
#include "VerifiedFileCopy.h"

#include <PellwickCore/Support/DirectoryWalk.h>

#include <cerrno>

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

Result<IngestCacheMigrationReconciliation>
IngestCacheMigrator::synchronizeRetainedCache(const QString &oldRootURL,
                                              const QHash<QString, QString> &baselineHashes) const
{
    // The retained cache is deleted once it is reconciled: it must never be the active cache or
    // hold it.
    PELLWICK_TRY(refuseOverlapWithRoot(oldRootURL));

    PELLWICK_TRY_ASSIGN(MigrationContents retained, migrationContents(oldRootURL, std::nullopt));

    IngestCacheMigrationReconciliation reconciliation;
    for (const QString &oldURL : std::as_const(retained.files)) {
        const QString path = relativePath(oldURL, oldRootURL);
        const QString activeURL = appendingPathComponent(m_cache.rootURL(), path);
        if (!m_cache.fileManager().fileExists(activeURL)) {
            // Gone from the active cache since the move (cleaned up after archiving, or removed
            // by the user): it comes back only when the old cache holds a newer version.
            if (const auto baseline = baselineHashes.constFind(path);
                baseline != baselineHashes.cend()) {
                PELLWICK_TRY_ASSIGN(const QString retainedHash,
                                    m_cache.contentHasher().contentHash(oldURL, m_stop));
                if (retainedHash == *baseline)
                    continue;
            }
            PELLWICK_TRY(copyAndVerify(oldURL, oldRootURL, m_cache.rootURL()));
            ++reconciliation.synchronizedFileCount;
            continue;
        }

        PELLWICK_TRY_ASSIGN(auto hashes,
                            contentHashPair(m_cache.contentHasher(), oldURL, activeURL, m_stop));
        const auto &[retainedHash, activeHash] = hashes;
        if (retainedHash == activeHash)
            continue;

        const auto baseline = baselineHashes.constFind(path);
        if (baseline != baselineHashes.cend() && activeHash == *baseline) {
            PELLWICK_TRY(replaceAndVerify(activeURL, oldURL));
            ++reconciliation.synchronizedFileCount;
        } else if (baseline == baselineHashes.cend() || retainedHash != *baseline) {
            reconciliation.conflicts.append({path, oldURL, activeURL});
        }
    }
    return reconciliation;
}

Result<void>
IngestCacheMigrator::removeRetainedCache(const QString &oldRootURL,
                                         const QHash<QString, QString> &baselineHashes) const
{
    PELLWICK_TRY_ASSIGN(IngestCacheMigrationReconciliation reconciliation,
                        synchronizeRetainedCache(oldRootURL, baselineHashes));
    if (!reconciliation.conflicts.isEmpty())
        return ingestCacheFailure(IngestCacheError::RetainedCacheConflicts{});

    // A folder the user already deleted is removed; its volume being away is not, so the
    // application keeps it until it can be reconciled.
    Result<FileAttributes> retained = m_cache.fileManager().attributesOfItem(oldRootURL);
    const auto *missing = retained ? nullptr : retained.error().as<FileSystemError>();
    if (missing && missing->code == ENOENT && isReadableDirectory(parentPath(oldRootURL)))
        return {};
    return m_cache.fileManager().removeItem(oldRootURL);
}

Result<void> IngestCacheMigrator::resolveRetainedCacheConflict(
    const IngestCacheMigrationConflict &conflict,
    IngestCacheMigrationConflictResolution keeping) const
{
    switch (keeping) {
    case IngestCacheMigrationConflictResolution::KeepOld:
        return replaceAndVerify(conflict.activeURL, conflict.oldURL);
    case IngestCacheMigrationConflictResolution::KeepNew:
        return replaceAndVerify(conflict.oldURL, conflict.activeURL);
    case IngestCacheMigrationConflictResolution::KeepBoth: {
        const QString copy = conflictCopyURL(conflict.activeURL);
        PELLWICK_TRY(placed(copyVerifiedFile(conflict.oldURL, copy), copy));
        return replaceAndVerify(conflict.oldURL, conflict.activeURL);
    }
    }
    return {};
}

Result<void> IngestCacheMigrator::copyAndVerify(const QString &file,
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

Result<void> IngestCacheMigrator::replaceAndVerify(const QString &destination,
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
            return removed;
    }
    PELLWICK_TRY(placed(copyVerifiedFile(source, destination), destination));

    return verifySameContent(destination, source, lastPathComponent(destination));
}

Result<void> IngestCacheMigrator::verifySameContent(const QString &first,
                                                    const QString &second,
                                                    const QString &failurePath) const
{
    PELLWICK_TRY_ASSIGN(auto hashes,
                        contentHashPair(m_cache.contentHasher(), first, second, m_stop));
    if (hashes.first != hashes.second)
        return verificationFailure(failurePath);
    return {};
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
