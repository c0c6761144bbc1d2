#pragma once

#include <PellwickCore/Backend/PresignedURLUploading.h>
#include <PellwickCore/Import/ImportTransferProgressReporter.h>
#include <PellwickCore/Import/PreparedBackup.h>
#include <PellwickCore/Import/StagingArea.h>
#include <PellwickCore/Import/VerifiedBackupAPI.h>
#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Ingest/PhotoMetadata.h>
#include <PellwickCore/Ingest/PreviewGenerating.h>
#include <PellwickCore/Library/ImportClock.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Support/Result.h>

#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace Pellwick {

class LibrarySessionClient;

/// The sidecar facts of an archived item, as a library item keeps them.
struct ArchiveSidecar
{
    std::optional<QString> filename;
    std::optional<qint64> byteCount;
    std::optional<QString> contentHash;

    bool operator==(const ArchiveSidecar &) const = default;
};

/// How a fresh upload authorization is folded into a record that may already hold one.
enum class AuthorizationRefresh {
    Replace, ///< an import that continues: a preview once uploaded stays uploaded
    Restart, ///< a resumed import: the preview is sent again
};

/// Tells the caller, on the importer's thread and with no lock held, that a library item's
/// import status changed; the importer goes on when it returns.
using StatusDidChange = std::function<void()>;

/// Carries packages (a RAW original with its optional XMP sidecar) from the Local Library Cache
/// through the Staging Area to Verified Backups. A value holding its collaborators; copies are
/// interchangeable. Every operation runs synchronously on the caller's thread, one package at a
/// time.
class VerifiedBackupImporter
{
public:
    VerifiedBackupImporter(LocalLibraryCache cache,
                           StagingArea stagingArea,
                           std::shared_ptr<const PhotoMetadataExtracting> metadataExtractor,
                           std::shared_ptr<const PreviewGenerating> previewGenerator,
                           std::shared_ptr<const ContentHashing> contentHasher,
                           std::shared_ptr<const VerifiedBackupAPI> api,
                           std::shared_ptr<const PresignedURLUploading> uploader,
                           std::shared_ptr<const ImportClock> clock);

    const LocalLibraryCache &cache() const { return m_cache; }

    const StagingArea &stagingArea() const { return m_stagingArea; }

    const std::shared_ptr<const PhotoMetadataExtracting> &metadataExtractor() const
    {
        return m_metadataExtractor;
    }

    /// Describes a cached library item as the review item that staging takes, from file sizes
    /// only. Fails with `VerifiedBackupImporterError::unrecoverableStagedImport` when the item
    /// has no cached original or a cached file is not a regular file, and with the file
    /// system's error when a size cannot be read.
    [[nodiscard]] Result<ImportReviewItem> cacheReviewItem(const LocalLibraryItem &item) const;

    /// Stages the package, hashes the staged copies, settles the canonical filename (a new one
    /// is added to `usedCanonicalFilenames`), makes the preview and builds the library item and
    /// the first record. An existing item whose metadata is all unknown takes the staged copy's
    /// (its canonical filename stays). Writes no record and no library item. With `existingItem`, the staged
    /// RAW original must have the item's content hash (`unrecoverableStagedImport` otherwise).
    /// Any failure after staging removes the new package folder again.
    [[nodiscard]] Result<PreparedBackup>
    prepareBackup(const ImportReviewItem &item,
                  const std::optional<QString> &reservationID,
                  QSet<QString> &usedCanonicalFilenames,
                  const std::optional<LocalLibraryItem> &existingItem) const;

    /// Makes the preview of `sourceURL` as "previews/<previewName>.jpg" in the library. A
    /// generator's refusal is a failed state, not an error; a name the library refuses as a path
    /// component fails with a `FileSystemError` (EINVAL).
    [[nodiscard]] Result<GeneratedPreview> previewState(const QString &sourceURL,
                                                        const QString &previewName) const;

    /// Archives cached library items, one package after the other in the given order: every
    /// review item is built before anything is staged, then each package is prepared (keeping
    /// the item's canonical filename), its first record written, its preview stored on the item,
    /// `statusDidChange` called, and the package carried to its end. The first error ends the
    /// run; earlier packages stay done and the current one resumable unless it was closed.
    /// An item whose cached bytes no longer have its hash is set to need attention first.
    [[nodiscard]] Result<QList<LocalLibraryItem>>
    importVerifiedBackups(const QList<LocalLibraryItem> &cacheItems,
                          const QString &token,
                          const std::optional<QString> &reservationID,
                          const StatusDidChange &statusDidChange,
                          const TransferProgressSink &progressDidChange,
                          const QUuid &transferID,
                          std::stop_token stop = {}) const;
    /// A confirmed import under a capacity reservation: reserves archive capacity with `client`
    /// for the packages of `review` (each item's RAW original and sidecar byte counts), archives
    /// `cacheItems` as `importVerifiedBackups` above under that reservation, then gives the
    /// reservation back whatever the import's outcome, also after a stop (a failed release only
    /// delays the backend's own expiry of the reservation, and is not reported). Fails with the
    /// reservation's error, importing nothing, or with the import's. `stop` reaches the
    /// reservation and the import, never the release.
    [[nodiscard]] Result<QList<LocalLibraryItem>>
    importReservingCapacity(const LibrarySessionClient &client,
                            const QList<LocalLibraryItem> &cacheItems,
                            const ImportReview &review,
                            const QString &token,
                            const StatusDidChange &statusDidChange,
                            const TransferProgressSink &progressDidChange,
                            const QUuid &transferID,
                            std::stop_token stop = {}) const;
    /// As above for the supported items of a confirmed review, each becoming a new library item
    /// (with a canonical filename unique in the library) stored before its first record.
    [[nodiscard]] Result<QList<LocalLibraryItem>>
    importVerifiedBackups(const ImportReview &review,
                          const QString &token,
                          const std::optional<QString> &reservationID,
                          const StatusDidChange &statusDidChange,
                          const TransferProgressSink &progressDidChange,
                          const QUuid &transferID,
                          std::stop_token stop = {}) const;
    /// Removes the package folders that a stop left before their first record (never one a
    /// staging of this process is filling), then carries on every package whose record shows an
    /// unfinished import, in listing order; sets the items of unreadable records to need
    /// attention, unless the archive verified them (verified backup, cleanup pending); settles
    /// items left uploading or verifying by a package whose terminal record the library never
    /// heard of. An unreadable record that names no item fails the call with
    /// `unrecoverableStagedImport` after all other work.
    [[nodiscard]] Result<QList<LocalLibraryItem>>
    resumeInterruptedImports(const QString &token,
                             const StatusDidChange &statusDidChange,
                             const TransferProgressSink &progressDidChange,
                             const QUuid &transferID,
                             std::stop_token stop = {}) const;
    /// The records of the packages that `resumeInterruptedImports` would carry on now, in
    /// listing order. Reads the Staging Area only; fails with its error.
    [[nodiscard]] Result<QList<StagedImportRecord>> resumableRecords() const;

    // The upload road of one package. Every step writes the package's record before it touches
    // the library or returns; `stop` reaches every backend call and upload, and a stop ends the
    // package like any other failure, leaving it resumable. `progress` may be null.

    /// Asks the backend to authorize the package (or learns that it is a duplicate), writes the
    /// new record and records the backend's id on the library item. A 422 or a storage-full
    /// answer first closes the package as needing attention. An authorization with a URL that is
    /// no absolute http or https URL fails with a `DecodingError` before anything is written.
    [[nodiscard]] Result<StagedImportRecord>
    authorizingRecord(const StagedImportRecord &record,
                      const QString &token,
                      AuthorizationRefresh refresh,
                      const StatusDidChange &statusDidChange,
                      std::stop_token stop = {}) const;
    /// Sends the RAW original's parts not yet recorded, in ascending part number, writing the
    /// record after each part. A part that would start past the end of the file, or a part size
    /// below 1, fails with `PresignedURLUploadError` -1 before anything is sent.
    [[nodiscard]] Result<StagedImportRecord>
    uploadRawParts(const StagedImportRecord &record,
                   const QString &stagedOriginalURL,
                   ImportTransferProgressReporter *progress,
                   std::stop_token stop = {}) const;
    /// No record back: the record lacks what completion needs.
    [[nodiscard]] Result<std::optional<StagedImportRecord>>
    completeRawUploadIfNeeded(const StagedImportRecord &record,
                              const QString &stagedOriginalURL,
                              const QString &token,
                              ImportTransferProgressReporter *progress,
                              std::stop_token stop = {}) const;
    [[nodiscard]] Result<std::optional<StagedImportRecord>>
    completeSidecarUploadIfNeeded(const StagedImportRecord &record,
                                  const std::optional<QString> &stagedSidecarURL,
                                  const QString &token,
                                  ImportTransferProgressReporter *progress,
                                  std::stop_token stop = {}) const;
    [[nodiscard]] Result<StagedImportRecord>
    uploadPreviewIfNeeded(const StagedImportRecord &record,
                          ImportTransferProgressReporter *progress,
                          std::stop_token stop = {}) const;
    /// The preview file in the library, without checking that it exists.
    std::optional<QString> previewURL(const StagedImportRecord &record) const;
    /// Makes the record terminal for `status`, writes it, then sets the library item's status
    /// and, for an archived package, its archive sidecar facts: a verified package's from the
    /// record, a duplicate's from `archiveSidecar` (what the archive holds; none when unknown),
    /// never the local file's. The item, or a stand-in built from the record when the library
    /// has none.
    [[nodiscard]] Result<LocalLibraryItem>
    markRecord(const StagedImportRecord &record,
               LibraryItemImportStatus status,
               const std::optional<ArchiveSidecar> &archiveSidecar = std::nullopt) const;
    LocalLibraryItem fallbackItem(const StagedImportRecord &record,
                                  LibraryItemImportStatus status) const;
    /// The bytes of a file of `byteCount` bytes covered by the state's uploaded parts.
    static qint64 uploadedByteCount(const MultipartUploadState &state, qint64 byteCount);

    /// Carries a package whose record is written from wherever it stands to its end.
    [[nodiscard]] Result<LocalLibraryItem>
    continueImport(const StagedImportRecord &record,
                   const QString &stagedOriginalURL,
                   const std::optional<QString> &stagedSidecarURL,
                   const QString &token,
                   const StatusDidChange &statusDidChange,
                   ImportTransferProgressReporter *progress,
                   std::stop_token stop = {}) const;
    /// Carries on a package found in the Staging Area after an interruption.
    [[nodiscard]] Result<LocalLibraryItem> resume(const StagedImportRecord &record,
                                                  const QString &token,
                                                  const StatusDidChange &statusDidChange,
                                                  ImportTransferProgressReporter *progress,
                                                  std::stop_token stop = {}) const;
    /// Has the backend verify an uploaded package and records the outcome.
    [[nodiscard]] Result<LocalLibraryItem> finalize(const StagedImportRecord &record,
                                                    const QString &token,
                                                    const StatusDidChange &statusDidChange,
                                                    ImportTransferProgressReporter *progress,
                                                    std::stop_token stop = {}) const;

private:
    /// What one run learnt of the archive's list: fetched only for a duplicate with a sidecar,
    /// and again only when the list lacks its item.
    struct ArchiveListing
    {
        std::optional<std::optional<QList<RemoteLibraryItem>>> items;
    };

    /// Which refusals of the backend close a package instead of leaving it to be resumed.
    enum class Refusal {
        Authorization, ///< 422 and storage full
        Completion,    ///< also every 4xx that no retry can change (not 401, 403, 404, 409, 429)
    };

    Result<LocalLibraryItem> continuePackage(const StagedImportRecord &record,
                                             const QString &stagedOriginalURL,
                                             const std::optional<QString> &stagedSidecarURL,
                                             const QString &token,
                                             const StatusDidChange &statusDidChange,
                                             ImportTransferProgressReporter *progress,
                                             ArchiveListing &listing,
                                             std::stop_token stop) const;
    Result<LocalLibraryItem> resumePackage(const StagedImportRecord &record,
                                           const QString &token,
                                           const StatusDidChange &statusDidChange,
                                           ImportTransferProgressReporter *progress,
                                           ArchiveListing &listing,
                                           std::stop_token stop) const;
    /// Closes the package as a duplicate with the archive's sidecar facts of its backend item.
    Result<LocalLibraryItem> closeDuplicate(const StagedImportRecord &record,
                                            const QString &token,
                                            const StatusDidChange &statusDidChange,
                                            ArchiveListing &listing,
                                            std::stop_token stop) const;
    /// The sidecar facts of a package archived from this record: its sidecar, with its byte
    /// count also when the sidecar is empty.
    static ArchiveSidecar stagedSidecar(const StagedImportRecord &record);
    /// The sidecar facts the archive holds for the record's backend item; none for a record
    /// without a sidecar (nothing is asked) and when the list cannot be had or lacks the item.
    std::optional<ArchiveSidecar> archivedSidecar(const StagedImportRecord &record,
                                                  const QString &token,
                                                  ArchiveListing &listing,
                                                  std::stop_token stop) const;

    enum class UploadKind {
        RawOriginal,
        Sidecar,
    };

    Result<StagedImportRecord> uploadParts(StagedImportRecord record,
                                           UploadKind kind,
                                           const QString &file,
                                           ImportTransferProgressReporter *progress,
                                           std::stop_token stop) const;
    /// Closes the package as `status`: the terminal mark, then the callback.
    Result<LocalLibraryItem> close(const StagedImportRecord &record,
                                   LibraryItemImportStatus status,
                                   const StatusDidChange &statusDidChange) const;
    /// Maps a 422 or storage-full refusal: the package closes as needing attention and the error
    /// to return is given; other errors come back as they are, with nothing marked.
    Error closedOnRefusal(const StagedImportRecord &record,
                          Error error,
                          const StatusDidChange &statusDidChange,
                          Refusal refusal = Refusal::Authorization) const;
    /// Closes the package as needing attention because the backend answered what cannot be
    /// so (`keyPath`, `description`), and gives the error to return.
    Error closedOnImpossibleAnswer(const StagedImportRecord &record,
                                   const QString &keyPath,
                                   const QString &description,
                                   const StatusDidChange &statusDidChange) const;
    /// The record's library item when it is verified already as holding the record's bytes.
    static std::optional<LocalLibraryItem> verifiedItem(const LocalLibraryCacheRecords &records,
                                                        const StagedImportRecord &record);
    Result<void> setImportStatus(const QUuid &id, LibraryItemImportStatus status) const;
    Result<void> setBackendLibraryItemID(const QUuid &id, qint64 backendID) const;
    bool hasRequiredStagedSidecar(const StagedImportRecord &record,
                                  const std::optional<QString> &stagedSidecarURL) const;

    /// Prepares, writes the first record, stores the preview, calls back and continues.
    Result<LocalLibraryItem> importPackage(const ImportReviewItem &review,
                                           const std::optional<LocalLibraryItem> &cached,
                                           const std::optional<QString> &reservationID,
                                           QSet<QString> &usedCanonicalFilenames,
                                           const QString &token,
                                           const StatusDidChange &statusDidChange,
                                           ImportTransferProgressReporter &progress,
                                           ArchiveListing &listing,
                                           std::stop_token stop) const;
    /// Which items a settling of terminal records may change.
    enum class Settling {
        VerifiedOnly,
        All,
    };
    /// Re-applies the library half of the terminal marks that the library never received.
    Result<QList<LocalLibraryItem>> settleTerminalRecords(const StagingRecoveryReport &report,
                                                          const QSet<QUuid> &resumedItems,
                                                          Settling settling,
                                                          const StatusDidChange &statusDidChange,
                                                          const QString &token,
                                                          ArchiveListing &listing,
                                                          std::stop_token stop) const;

    Result<PreparedBackup> prepareStaged(const ImportReviewItem &item,
                                         const StagedRawOriginal &staged,
                                         const std::optional<QString> &reservationID,
                                         QSet<QString> &usedCanonicalFilenames,
                                         const std::optional<LocalLibraryItem> &existingItem) const;
    Result<QString> stagedHash(const QString &path, const std::optional<QString> &verified) const;
    /// The extractor's metadata of the file; all unknown when it fails.
    PhotoMetadata stagedMetadata(const QString &path) const;
    /// The canonical filename, or it with the start of the content hash when another record
    /// of the library with other bytes already uses that name.
    QString previewName(const QString &canonicalFilename,
                        const QString &contentHash,
                        const std::optional<QUuid> &itemID) const;

    LocalLibraryCache m_cache;
    StagingArea m_stagingArea;
    std::shared_ptr<const PhotoMetadataExtracting> m_metadataExtractor;
    std::shared_ptr<const PreviewGenerating> m_previewGenerator;
    std::shared_ptr<const ContentHashing> m_contentHasher;
    std::shared_ptr<const VerifiedBackupAPI> m_api;
    std::shared_ptr<const PresignedURLUploading> m_uploader;
    std::shared_ptr<const ImportClock> m_clock;
};

} // namespace Pellwick
