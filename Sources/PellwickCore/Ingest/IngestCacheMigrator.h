#pragma once

#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Ingest/IngestCacheMigration.h>
#include <PellwickCore/Ingest/TransferProgress.h>
#include <PellwickCore/Support/MountTable.h>
#include <PellwickCore/Support/Result.h>

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <optional>
#include <stop_token>

namespace Pellwick {

class MigrationTransferProgressReporter;

/// A listing of one root: every folder and every regular file under it, each list sorted
/// ascending by path text.
struct MigrationContents
{
    QStringList directories;
    QStringList files;

    bool operator==(const MigrationContents &) const = default;
};

/// Moves the Ingest Cache to a new root with SHA-256 verification and reconciles the retained old
/// root afterwards. Holds the active cache's collaborators and no state between calls: everything
/// durable is on disk (the marker in the new root). All operations are synchronous, run on the
/// caller's thread and report progress on it. Failures of the file system, the hasher and the
/// capacity probe reach the caller unchanged; the migration's own are `IngestCacheError`s.
class IngestCacheMigrator
{
public:
    using ProgressCallback = TransferProgressSink;

    /// Name of the marker in the new root that records which cache is being copied into it.
    static QString markerName();
    /// Name of the temporary file through which the marker is written.
    static QString markerTemporaryName();

    /// A migrator for `cache`: its root is the source of a move and the active cache of the
    /// retained-cache operations; its file manager, hasher and capacity probe do all the work.
    /// A request on `stop` ends any operation soon with `CancellationError`: between files, and
    /// within a file after about a MiB; what is on disk is then what an interruption leaves.
    /// `mountTables` tell whether a retained cache that is not found may lie on a drive that is
    /// away.
    explicit IngestCacheMigrator(IngestCache cache,
                                 std::stop_token stop = {},
                                 MountTablePaths mountTables = {});

    /// Copies every file of the cache root into `newRootURL` as a stable snapshot. Refuses a
    /// target that overlaps the root (`invalidMigrationTarget`) or holds unrelated entries
    /// (`migrationTargetIsNotEmpty`), and checks free space before writing. A target prepared by
    /// an earlier, interrupted move from the same root is resumed. The cache root is never
    /// changed, except that a deleted root whose parent still exists is recreated empty.
    [[nodiscard]] Result<IngestCacheMigration> migrate(const QString &newRootURL,
                                                       const ProgressCallback &progress,
                                                       const QUuid &transferID) const;
    /// Removes the marker from the new root, if there is one; nothing else is touched.
    [[nodiscard]] Result<void> completeMigration(const QString &newRootURL) const;

    /// Brings every change made only in the retained cache at `oldRootURL` into the active
    /// cache and reports the files changed on both sides. Nothing is deleted from the active
    /// cache; a file deleted there since the move stays deleted unless its retained copy
    /// changed.
    [[nodiscard]] Result<IngestCacheMigrationReconciliation>
    synchronizeRetainedCache(const QString &oldRootURL,
                             const QHash<QString, QString> &baselineHashes) const;
    /// Synchronises, then deletes from the retained cache only what the synchronisation found
    /// equal or brought over, each file confirmed unchanged (type, size, modification time,
    /// device and inode) just before it goes, then the folders left empty; refuses with
    /// `retainedCacheConflicts` while conflicts remain. What changed or appeared meanwhile is
    /// brought over by another pass; after three, `retainedCacheChanged` names the files kept.
    /// A retained folder that is already gone counts as removed while its parent folder is still
    /// there and nothing says its drive may be away (`mayLieOnAbsentDrive`); otherwise
    /// `retainedCacheNotFound`, as for a folder on a configured mount point that is not mounted.
    [[nodiscard]] Result<void>
    removeRetainedCache(const QString &oldRootURL,
                        const QHash<QString, QString> &baselineHashes) const;
    /// Makes both files of a conflict equal according to the user's choice.
    [[nodiscard]] Result<void>
    resolveRetainedCacheConflict(const IngestCacheMigrationConflict &conflict,
                                 IngestCacheMigrationConflictResolution keeping) const;

    /// True when something readable exists at `url` and it is a folder (not a symbolic link).
    bool isReadableDirectory(const QString &url) const;
    /// Lists `root` recursively, hidden items included; `ignoringRootItemNamed` leaves out an item
    /// of that name directly in the root. A missing root lists as empty. Symbolic links and special
    /// files fail with `unsupportedMigrationItem`; a folder that cannot be listed fails with the
    /// file system's error (the root itself with `migrationSourceIsUnavailable`).
    [[nodiscard]] Result<MigrationContents>
    migrationContents(const QString &root,
                      const std::optional<QString> &ignoringRootItemNamed) const;
    /// `url`'s path relative to `root`, by path components of the standardized paths.
    static QString relativePath(const QString &url, const QString &root);
    static QSet<QString> relativePaths(const QStringList &urls, const QString &root);
    /// Sum of the sizes of the cache files that are missing in `target` or differ from their
    /// copy there.
    [[nodiscard]] Result<qint64> additionalBytesNeeded(const QStringList &files,
                                                       const QString &target) const;
    /// Fails with `insufficientCapacity` when the volume of `target` (or of its parent, while
    /// the target does not exist) has fewer than `requiredBytes` free.
    [[nodiscard]] Result<void> preflightCapacity(qint64 requiredBytes, const QString &target) const;

    /// Makes `target` mirror the cache root, repeating the pass up to three times until the
    /// cache did not change during it. Returns the snapshot's relative paths and hashes.
    [[nodiscard]] Result<QHash<QString, QString>>
    copyStableSnapshot(const QString &target, MigrationTransferProgressReporter *progress) const;
    /// Copies one cache file into `target` with verification, in up to three tries.
    [[nodiscard]] Result<void> copyStableFile(const QString &file,
                                              const QString &target,
                                              MigrationTransferProgressReporter *progress) const;
    /// Relative path under `root` to content hash, for each file.
    [[nodiscard]] Result<QHash<QString, QString>> hashes(const QStringList &files,
                                                         const QString &root) const;
    /// The first key of `a`, in ascending order, whose value in `b` is absent or different;
    /// otherwise `fallback`.
    static std::optional<QString> firstMismatchedPath(const QHash<QString, QString> &a,
                                                      const QHash<QString, QString> &b,
                                                      const std::optional<QString> &fallback);
    [[nodiscard]] Result<void> createTargetDirectories(const QStringList &directories,
                                                       const QString &target) const;

    /// Copies `file`, which lies under `root`, to the same relative path under `otherRoot`, unless
    /// a file is already there, and checks that both are equal; gives their content hash.
    [[nodiscard]] Result<QString>
    copyAndVerify(const QString &file, const QString &root, const QString &otherRoot) const;
    /// Replaces `destination` by a verified copy of `source`; gives their content hash.
    [[nodiscard]] Result<QString> replaceAndVerify(const QString &destination,
                                                   const QString &source) const;
    [[nodiscard]] Result<void> copyVerifiedFile(const QString &source,
                                                const QString &destination,
                                                const std::function<void(qint64)> &didCopyBytes
                                                = {}) const;
    /// Where `keepBoth` saves the retained version: "IMG_0001.CR3" gives
    /// "IMG_0001.old-cache-conflict.CR3", "notes" gives "notes.old-cache-conflict".
    static QString conflictCopyURL(const QString &activeURL);

private:
    struct SnapshotCopyAttempt;
    struct SnapshotCopyOutcome;

    struct RetainedCacheCheck;

    /// The synchronisation, with what it saw of each retained file it settled.
    Result<RetainedCacheCheck>
    checkRetainedCache(const QString &oldRootURL,
                       const QHash<QString, QString> &baselineHashes) const;
    /// Removes the settled files still as the check saw them, then the folders left empty, the
    /// root last; true when the root is gone.
    Result<bool> removeCheckedRetainedFiles(const QString &oldRootURL,
                                            const RetainedCacheCheck &check) const;
    Result<void> validateTarget(const QString &target) const;
    /// The file system's failure that keeps `url` from being listed, if it reports one.
    ErrorCause whyUnreadable(const QString &url) const;
    Result<void> refuseOverlapWithRoot(const QString &other) const;
    Result<void> createEmptySourceRootIfItsParentIsAvailable() const;
    Result<void> prepareTarget(const QString &target) const;
    Result<qint64> fileSize(const QString &path) const;
    Result<QString> contentHash(const QString &path) const;

    Result<SnapshotCopyOutcome>
    copyStableSnapshotAttempt(const QString &target,
                              const std::optional<QString> &fallbackMismatch,
                              MigrationTransferProgressReporter *progress) const;
    Result<SnapshotCopyAttempt>
    prepareStableSnapshotCopy(const QString &target,
                              MigrationTransferProgressReporter *progress) const;
    Result<void> removeStaleTargetEntries(const MigrationContents &targetContents,
                                          const QString &target,
                                          const MigrationContents &sourceContents) const;
    QStringList targetFiles(const QStringList &files, const QString &target) const;
    /// Hashes `first`, then `second`; their hash, or `verificationFailed(failurePath)` when they
    /// differ.
    Result<QString> verifySameContent(const QString &first,
                                      const QString &second,
                                      const QString &failurePath) const;
    /// As the public one; the first try takes `presumedHash`, taken shortly before, as the
    /// source's hash instead of hashing it again.
    Result<void> copyStableFile(const QString &file,
                                const QString &target,
                                MigrationTransferProgressReporter *progress,
                                const std::optional<QString> &presumedHash) const;

    IngestCache m_cache;
    std::stop_token m_stop;
    MountTablePaths m_mountTables;
};

} // namespace Pellwick
