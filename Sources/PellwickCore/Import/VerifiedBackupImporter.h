#pragma once

#include <PellwickCore/Backend/PresignedURLUploading.h>
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

#include <memory>
#include <optional>

namespace Pellwick {

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

    /// Describes a cached library item as the review item that staging takes, from file sizes
    /// only. Fails with `VerifiedBackupImporterError::unrecoverableStagedImport` when the item
    /// has no cached original or a cached file is not a regular file, and with the file
    /// system's error when a size cannot be read.
    [[nodiscard]] Result<ImportReviewItem> cacheReviewItem(const LocalLibraryItem &item) const;

    /// Stages the package, hashes the staged copies, settles the canonical filename (a new one
    /// is added to `usedCanonicalFilenames`), makes the preview and builds the library item and
    /// the first record. Writes no record and no library item. With `existingItem`, the staged
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

private:
    Result<PreparedBackup> prepareStaged(const ImportReviewItem &item,
                                         const StagedRawOriginal &staged,
                                         const std::optional<QString> &reservationID,
                                         QSet<QString> &usedCanonicalFilenames,
                                         const std::optional<LocalLibraryItem> &existingItem) const;
    Result<QString> stagedHash(const QString &path, const std::optional<QString> &verified) const;
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
