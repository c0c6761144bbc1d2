#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Ingest/ImportSourceIdentity.h>
#include <PellwickCore/Ingest/IncompleteCopyMarker.h>
#include <PellwickCore/Ingest/IngestCacheMigration.h>
#include <PellwickCore/Ingest/TransferProgress.h>
#include <PellwickCore/Support/FileIdentity.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace Pellwick {

/// A file of a batch as its copy-in verified it: the SHA-256 that source and copy were found to
/// share, and the copy's attributes when its bytes were read for that hash.
struct VerifiedCacheFile
{
    QString contentHash;
    FileAttributes attributes;

    bool operator==(const VerifiedCacheFile &) const = default;
};

/// What one copy-in wrote for one scan source.
struct IngestCacheCopy
{
    /// The scan source's name (the review items' volume name).
    QString sourceName;
    /// The batch folder the copies were written to.
    QString sourceFolderURL;
    QString sourceRootURL;
    ImportSourceIdentity sourceIdentity;
    /// Supported items of the source, resumed ones included.
    qint64 copiedPackageCount = 0;
    /// Review byte counts of those items and their sidecars.
    qint64 copiedByteCount = 0;
    /// The batch's files verified by this copy-in, by cleaned path, when the cache's hasher gives
    /// the SHA-256 of content; empty otherwise. A digest stands for the file only while its
    /// attributes are still the ones recorded.
    QHash<QString, VerifiedCacheFile> verifiedFiles;

    bool operator==(const IngestCacheCopy &) const = default;
};

/// A file of a cached package as a package check found it.
struct CheckedCacheFile
{
    QString url;
    /// What the file was while its bytes were found to be the expected ones; none when nothing
    /// was there.
    std::optional<FileAttributes> attributes;

    bool operator==(const CheckedCacheFile &) const = default;
};

/// The files of a cached package as `IngestCache::checkArchivedPackage` found them, RAW original
/// first.
struct CheckedCachePackage
{
    QList<CheckedCacheFile> files;

    bool operator==(const CheckedCachePackage &) const = default;
};

/// The free bytes of the volume holding a path; may fail. Must be thread-safe.
using AvailableCapacityProbe = std::function<Result<qint64>(const QString &path)>;

/// The local folder into which the supported RAW originals of a confirmed review, with their
/// sidecars, are copied and verified before anything is archived. Layout:
/// root/YYYY/MM/DD-<batch id>/<path relative to the scan source>. A batch whose copy-in has not
/// finished holds the hidden copy-in marker; the next copy-in of the same source resumes into
/// it. A value holding its collaborators; every operation is synchronous on the caller's thread.
class IngestCache
{
public:
    /// The copy-in marker's file name, ".pellwick-copy-in-progress".
    static const QString incompleteCopyMarkerName;
    /// The operation name of the copy-in's progress rows, "Add to Ingest Cache".
    static const QString copyOperationName;

    IngestCache(QString rootURL,
                std::shared_ptr<const FileManager> fileManager,
                std::shared_ptr<const ContentHashing> contentHasher,
                AvailableCapacityProbe availableCapacity = &IngestCache::systemAvailableCapacity);

    const QString &rootURL() const { return m_rootURL; }

    const FileManager &fileManager() const { return *m_fileManager; }

    const ContentHashing &contentHasher() const { return *m_contentHasher; }

    const std::shared_ptr<const ContentHashing> &sharedContentHasher() const
    {
        return m_contentHasher;
    }

    /// This cache with `contentHasher` checking its packages.
    IngestCache replacingContentHasher(std::shared_ptr<const ContentHashing> contentHasher) const
    {
        IngestCache copy = *this;
        copy.m_contentHasher = std::move(contentHasher);
        return copy;
    }

    const AvailableCapacityProbe &availableCapacity() const { return m_availableCapacity; }

    /// Copies every supported item of `review`, with its sidecar, into one batch folder per scan
    /// source, resuming an interrupted batch of the same source. Returns one result per source
    /// copied, in the order copied (sources sorted by name). Fails with
    /// `IngestCacheError::insufficientCapacity` before creating anything when free space is
    /// short, `verificationFailed` when a file cannot be placed or verified, and the file
    /// system's, capacity probe's or hasher's error otherwise; the current batch keeps its marker
    /// so the next copy-in resumes. A request on `stop` ends it soon (within about a MiB per file
    /// in flight) with `CancellationError`, leaving what a failure leaves: the marker, the files
    /// verified so far, no partial file. Two copy-ins of one source must not run at the same time.
    [[nodiscard]] Result<QList<IngestCacheCopy>> copy(const ImportReview &review,
                                                      const TransferProgressSink &progress,
                                                      const QUuid &transferID,
                                                      std::stop_token stop = {}) const;

    /// The folders holding a copy-in marker, at any depth below the root (the root included).
    /// A missing root gives the empty set and unreadable folders are passed over.
    [[nodiscard]] Result<QSet<QString>> incompleteSourceFolderURLs() const;

    /// The marker in `folder`; fails when it cannot be read or decoded.
    [[nodiscard]] Result<IncompleteCopyMarker>
    readIncompleteCopyMarker(const QString &folder) const;
    /// Writes the marker into `folder` atomically (replacing one there), first removing
    /// temporary files that an interrupted write of it left behind.
    [[nodiscard]] Result<void> writeIncompleteCopyMarker(const QString &folder,
                                                         const IncompleteCopyMarker &marker) const;

    /// The free bytes of the file system holding `path`, or of its nearest existing ancestor when
    /// `path` does not exist yet (available blocks times fragment size). Fails with the file
    /// system's error, or `unableToDetermineCapacity` when no figure is reported.
    [[nodiscard]] static Result<qint64> systemAvailableCapacity(const QString &path);

    /// The identity of a folder source: the SHA-256 text of its manifest, one line
    /// "<relative path>:<SHA-256 content hash>" per file, sorted, joined by line feeds.
    [[nodiscard]] static QString folderManifestHash(QStringList manifestLines);

    /// True when every file given is inside the root and the cached files still carry the
    /// archived bytes (see the package check); any failure answers false.
    bool matchesArchivedPackage(const QString &rawURL,
                                const std::optional<QString> &sidecarURL,
                                const QString &contentHash,
                                const std::optional<QString> &sidecarContentHash) const;
    /// As `matchesArchivedPackage`, with the files as they were found to hold the archived bytes
    /// (a file that changed while it was hashed does not); none when the package does not match.
    std::optional<CheckedCachePackage>
    checkArchivedPackage(const QString &rawURL,
                         const std::optional<QString> &sidecarURL,
                         const QString &contentHash,
                         const std::optional<QString> &sidecarContentHash) const;
    /// Deletes the files of `package` (see `removeArchivedPackage`) while each is still the file
    /// that was checked, examined first for all and again right before each unlink
    /// (`removeFileIfStill`), and flushes the folders the removal changed. False when a file
    /// changed since the check, or something now lies where nothing was: every file is kept when
    /// that is found before the first unlink, the changed one and those after it otherwise. False,
    /// deleting nothing, when a file lies outside the root. Fails with the file system's error.
    [[nodiscard]] Result<bool> removeCheckedPackage(const CheckedCachePackage &package) const;
    /// Deletes the package's files and the folders left empty, up to but not including the root,
    /// and flushes the folders it changed before it returns. Does nothing when a file lies
    /// outside the root. Fails with the file system's error, also when a file cannot be examined
    /// or a changed folder cannot be flushed: only a file known to be gone is passed over, so a
    /// removal cut after the RAW original is finished by calling it again.
    [[nodiscard]] Result<void>
    removeArchivedPackage(const QString &rawURL, const std::optional<QString> &sidecarURL) const;
    /// As `removeArchivedPackage`, but a file outside the root deletes nothing and fails with
    /// `packageOutsideActiveRoot`.
    [[nodiscard]] Result<void>
    removeUnarchivedPackage(const QString &rawURL, const std::optional<QString> &sidecarURL) const;

    /// True when `path`, standardized and with symbolic links resolved, lies below the root
    /// resolved the same way, or below a folder that is the root itself under another name (a
    /// bind mount); the root itself does not.
    bool isInsideActiveRoot(const QString &path) const;
    /// Removes `folder` and its parents while they are empty (hidden entries count), never the
    /// root and never anything that is not below it.
    [[nodiscard]] Result<void> removeEmptyParentFolders(const QString &folder) const;

    /// Copies every file of the cache into `newRootURL` with verification, as a snapshot taken
    /// while nothing changed, and returns the relative paths and hashes copied. The cache itself
    /// is left as it is. A move interrupted in any way is resumed by calling this again with the
    /// same target. See `IngestCacheMigrator::migrate` for the failures. A request on `stop` ends
    /// it soon with `CancellationError`, leaving the target and its marker for a later call.
    [[nodiscard]] Result<IngestCacheMigration> migrate(const QString &newRootURL,
                                                       const TransferProgressSink &progress,
                                                       const QUuid &transferID,
                                                       std::stop_token stop = {}) const;
    /// Ends a move into `newRootURL` by removing its marker; the new root is then an ordinary
    /// cache root. `CancellationError`, with the marker left, when `stop` was requested.
    [[nodiscard]] Result<void> completeMigration(const QString &newRootURL,
                                                 std::stop_token stop = {}) const;
    /// Brings changes made only in the retained old cache at `oldRootURL` into this cache and
    /// reports files changed on both sides (see `IngestCacheMigrator`).
    [[nodiscard]] Result<IngestCacheMigrationReconciliation>
    synchronizeRetainedCache(const QString &oldRootURL,
                             const QHash<QString, QString> &baselineHashes) const;
    /// Synchronises, then deletes the retained cache; `retainedCacheConflicts` while conflicts
    /// remain.
    [[nodiscard]] Result<void>
    removeRetainedCache(const QString &oldRootURL,
                        const QHash<QString, QString> &baselineHashes) const;
    /// Makes both files of a conflict equal according to the user's choice.
    [[nodiscard]] Result<void>
    resolveRetainedCacheConflict(const IngestCacheMigrationConflict &conflict,
                                 IngestCacheMigrationConflictResolution keeping) const;

private:
    struct CopyProgressState;
    class CopyIn;

    [[nodiscard]] Result<void> removePackageFiles(const QStringList &files) const;
    /// `removeEmptyParentFolders`, returning the folder it stopped at: the one whose entries the
    /// removals changed last.
    [[nodiscard]] Result<QString> removeEmptyFolders(const QString &folder) const;

    QString m_rootURL;
    std::shared_ptr<const FileManager> m_fileManager;
    std::shared_ptr<const ContentHashing> m_contentHasher;
    AvailableCapacityProbe m_availableCapacity;
};

} // namespace Pellwick
