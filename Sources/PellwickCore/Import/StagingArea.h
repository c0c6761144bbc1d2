#pragma once

#include <PellwickCore/Import/StagedImportRecord.h>
#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>

namespace Pellwick {

/// What staging one package produced.
struct StagedRawOriginal
{
    QString url;          ///< the staged RAW copy
    qint64 byteCount = 0; ///< its size right after the copy
    QString relativePath; ///< "<package folder>/<RAW filename>"
    QString stateURL;     ///< where the package's record goes; not written yet
    std::optional<QString> sidecarURL;
    qint64 sidecarByteCount = 0; ///< 0 without a sidecar
    std::optional<QString> sidecarRelativePath;
    /// The content hashes the verified copies were checked with, present only when the Staging
    /// Area hashes with the production hasher, so that they equal what it would compute again.
    std::optional<QString> verifiedContentHash;
    std::optional<QString> verifiedSidecarContentHash;

    bool operator==(const StagedRawOriginal &) const = default;
};

/// A record file that exists but yields no usable record.
struct StagingRecoveryIssue
{
    QString stateURL;
    /// The library item the file names, when that much can be read from it.
    std::optional<QUuid> localLibraryItemID;

    bool operator==(const StagingRecoveryIssue &) const = default;
};

/// Every record of the Staging Area, in the order the root was listed.
struct StagingRecoveryReport
{
    QList<StagedImportRecord> records;
    QList<StagingRecoveryIssue> issues;

    bool operator==(const StagingRecoveryReport &) const = default;
};

/// The folder in which packages wait for their upload: one folder per package, named by a fresh
/// upper-case UUID, holding verified copies of the RAW original and its sidecar and the
/// package's record "import-state.json". Package folders and records may be read by their owner
/// only: records hold presigned URLs. A plain value; every operation runs synchronously on the
/// caller's thread, and failures are the file system's and the JSON readers' errors, unchanged.
class StagingArea
{
public:
    /// `rootURL` need not exist: staging and record writing create it.
    StagingArea(QString rootURL,
                std::shared_ptr<const FileManager> fileManager,
                std::shared_ptr<const ContentHashing> contentHasher);

    const QString &rootURL() const { return m_rootURL; }

    const std::shared_ptr<const FileManager> &fileManager() const { return m_fileManager; }

    const std::shared_ptr<const ContentHashing> &contentHasher() const { return m_contentHasher; }

    /// Makes a new package folder with verified copies of the item's RAW original and sidecar
    /// (RAW first). A file name that is not one safe path component fails with a
    /// `FileSystemError` (EINVAL) before anything is created; any later failure removes the new
    /// folder again before it is returned.
    [[nodiscard]] Result<StagedRawOriginal> stage(const ImportReviewItem &item) const;

    /// "import-state.json" in the folder of the record's staged RAW original.
    QString recordURL(const StagedImportRecord &record) const;
    QString stagedOriginalURL(const StagedImportRecord &record) const;
    std::optional<QString> stagedSidecarURL(const StagedImportRecord &record) const;

    /// Replaces the record's file atomically (pretty-printed, sorted keys), creating its folder
    /// when needed. A record whose staged paths are not "<folder>/<name>" fails with a
    /// `FileSystemError` (EINVAL).
    [[nodiscard]] Result<void> writeRecord(const StagedImportRecord &record) const;

    /// Every package folder's record, terminal ones included, in listing order. A record file
    /// that cannot be read or decoded, or whose paths lead outside its own folder, is an issue,
    /// never a failure; listing failures fail the call. A missing root is empty.
    [[nodiscard]] Result<StagingRecoveryReport> readRecoverableRecords() const;

    /// Deletes the first package folder (in listing order) whose record names the library item:
    /// its staged copies first, the record last, then the folder, so that a crash part-way
    /// leaves a record behind; the root is flushed before it returns, so that a power cut
    /// brings no removed record back. Record files that cannot be read are skipped.
    [[nodiscard]] Result<void> removeRecord(const QUuid &localLibraryItemID) const;
    /// As `removeRecord`, for every package folder whose record names the library item (an
    /// import tried again stages the item anew).
    [[nodiscard]] Result<void> removeRecords(const QUuid &localLibraryItemID) const;

    /// Deletes the package folder of `record` (one read from this root) as `removeRecord` deletes
    /// one, when its record file still names the record's library item; nothing otherwise.
    [[nodiscard]] Result<void> removePackage(const StagedImportRecord &record) const;

    /// The "localLibraryItemID" of raw record bytes, read leniently: nothing when the bytes are
    /// not a JSON object or the value is not a UUID string.
    static std::optional<QUuid> localLibraryItemID(const QByteArray &data);

    /// Gives up a staging whose first record was never written: its package folder goes, unless
    /// a record reached it after all (then it stays, for recovery).
    [[nodiscard]] Result<void> discardStaged(const StagedRawOriginal &staged) const;

    /// Removes the package folders that a stop between staging and the first record write left
    /// behind (readers ignore them, so they would hold a copy of the photos for good): folders
    /// named as staging names them that hold no record and that no staging of this process is
    /// still filling. Anything else in the root is left alone, and so is a folder that cannot
    /// be removed (it is tried again next time). Fails only when the root cannot be listed;
    /// returns how many folders went.
    [[nodiscard]] Result<qsizetype> removeAbandonedPackages() const;

private:
    /// The package folders of the root in listing order; empty when the root is missing.
    Result<QStringList> packageFolders() const;
    Result<void> removePackageFolder(const QString &folder) const;
    Result<void> removeRecordFolders(const QUuid &localLibraryItemID, bool all) const;
    QString resolved(const QString &relativePath) const;

    QString m_rootURL;
    std::shared_ptr<const FileManager> m_fileManager;
    std::shared_ptr<const ContentHashing> m_contentHasher;
};

} // namespace Pellwick
