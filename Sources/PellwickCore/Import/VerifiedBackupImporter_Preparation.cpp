// Turning a package into staged copies, a preview, a library item and a first import record.

#include "VerifiedBackupImporter.h"

#include <PellwickCore/Import/VerifiedBackupImporterError.h>
#include <PellwickCore/Ingest/CanonicalFilenameGenerator.h>

#include <cerrno>

namespace Pellwick {

namespace {

tl::unexpected<Error> unrecoverable()
{
    return failure(VerifiedBackupImporterError::unrecoverableStagedImport());
}

/// The size of a cached regular file; anything else has no size to report.
Result<qint64> cachedFileSize(const FileManager &fileManager, const QString &path)
{
    Result<FileAttributes> attributes = fileManager.attributesOfItem(path);
    PELLWICK_TRY(attributes);
    if (attributes->type != FileAttributes::Type::Regular)
        return unrecoverable();
    return attributes->size;
}

constexpr qsizetype shortHashLength = CanonicalFilenameGenerator::shortContentHashLength;

} // namespace

Result<ImportReviewItem> VerifiedBackupImporter::cacheReviewItem(const LocalLibraryItem &item) const
{
    if (!item.ingestCacheOriginalURL)
        return unrecoverable();
    const FileManager &fileManager = *m_stagingArea.fileManager();
    const QString &raw = *item.ingestCacheOriginalURL;
    Result<qint64> rawSize = cachedFileSize(fileManager, raw);
    PELLWICK_TRY(rawSize);
    std::optional<ImportReviewSidecar> sidecar;
    if (item.ingestCacheSidecarURL) {
        Result<qint64> sidecarSize = cachedFileSize(fileManager, *item.ingestCacheSidecarURL);
        PELLWICK_TRY(sidecarSize);
        sidecar = ImportReviewSidecar{*item.ingestCacheSidecarURL,
                                      lastPathComponent(*item.ingestCacheSidecarURL),
                                      *sidecarSize};
    }
    return ImportReviewItem(item.ingestSourceName.value_or(QStringLiteral("Ingest Cache")),
                            raw,
                            item.originalFilename,
                            *rawSize,
                            ImportReviewItemStatus::supported(),
                            sidecar,
                            item.sourceRelativePath);
}

Result<PreparedBackup>
VerifiedBackupImporter::prepareBackup(const ImportReviewItem &item,
                                      const std::optional<QString> &reservationID,
                                      QSet<QString> &usedCanonicalFilenames,
                                      const std::optional<LocalLibraryItem> &existingItem) const
{
    Result<StagedRawOriginal> staged = m_stagingArea.stage(item);
    PELLWICK_TRY(staged);
    // No record names the new folder yet: a failure from here on takes it away again, so that
    // nothing is left that recovery would have to ignore.
    QSet<QString> names = usedCanonicalFilenames;
    Result<PreparedBackup> prepared
        = prepareStaged(item, *staged, reservationID, names, existingItem);
    if (!prepared) {
        (void) m_stagingArea.discardStaged(*staged);
        return prepared;
    }
    usedCanonicalFilenames = std::move(names);
    return prepared;
}

Result<QString> VerifiedBackupImporter::stagedHash(const QString &path,
                                                   const std::optional<QString> &verified) const
{
    // The production hasher would only compute again what the verified copy has just found.
    if (verified && m_contentHasher->hashIsSha256OfContent())
        return *verified;
    return m_contentHasher->contentHash(path);
}

Result<PreparedBackup>
VerifiedBackupImporter::prepareStaged(const ImportReviewItem &item,
                                      const StagedRawOriginal &staged,
                                      const std::optional<QString> &reservationID,
                                      QSet<QString> &usedCanonicalFilenames,
                                      const std::optional<LocalLibraryItem> &existingItem) const
{
    Result<QString> contentHash = stagedHash(staged.url, staged.verifiedContentHash);
    PELLWICK_TRY(contentHash);
    std::optional<QString> sidecarContentHash;
    if (staged.sidecarURL) {
        Result<QString> hash = stagedHash(*staged.sidecarURL, staged.verifiedSidecarContentHash);
        PELLWICK_TRY(hash);
        sidecarContentHash = *hash;
    }

    PreparedBackup out;
    out.stagedOriginal = staged;
    QString canonicalFilename;
    if (existingItem) {
        // The backend is told the item's hash: the staged bytes must be the ones it names.
        if (*contentHash != existingItem->contentHash)
            return unrecoverable();
        canonicalFilename = existingItem->canonicalFilename;
        Result<GeneratedPreview> preview = previewState(
            staged.url,
            previewName(canonicalFilename, existingItem->contentHash, existingItem->id));
        PELLWICK_TRY(preview);
        out.preview = *preview;
        out.item = *existingItem;
        // A record made before its metadata was read learns it now; a known fact is kept.
        if (existingItem->metadata == PhotoMetadata::unknown())
            out.item.metadata = stagedMetadata(staged.url);
    } else {
        const PhotoMetadata known = stagedMetadata(staged.url);
        canonicalFilename = CanonicalFilenameGenerator::canonicalFilename(
            item.filename, known, contentHash->left(shortHashLength), usedCanonicalFilenames);
        Result<GeneratedPreview> preview
            = previewState(staged.url, previewName(canonicalFilename, *contentHash, std::nullopt));
        PELLWICK_TRY(preview);
        out.preview = *preview;

        LocalLibraryItem &created = out.item;
        created.id = QUuid::createUuid();
        created.originalFilename = item.filename;
        created.canonicalFilename = canonicalFilename;
        created.contentHash = *contentHash;
        created.archiveByteCount = staged.byteCount + staged.sidecarByteCount;
        created.importDate = m_clock->now();
        created.importStatus = LibraryItemImportStatus::LocalCacheReady;
        created.ingestSourceName = item.volumeName;
        created.sourceRelativePath = item.sourceRelativePath.value_or(item.filename);
        created.metadata = known;
        created.preview = out.preview.state;
    }

    StagedImportRecord &record = out.record;
    record.localLibraryItemID = out.item.id;
    record.originalFilename = out.item.originalFilename;
    record.canonicalFilename = canonicalFilename;
    record.contentHash = out.item.contentHash;
    record.byteCount = staged.byteCount;
    record.previewByteCount = out.preview.byteCount;
    record.importSourceName = out.item.ingestSourceName;
    record.sourceRelativePath = out.item.sourceRelativePath;
    record.cacheRelativePath = out.item.cacheRelativePath;
    record.stagedOriginalRelativePath = staged.relativePath;
    if (out.preview.url)
        record.previewRelativePath = lastPathComponent(*out.preview.url);
    if (item.sidecar)
        record.sidecarFilename = item.sidecar->filename;
    record.sidecarContentHash = sidecarContentHash;
    record.sidecarByteCount = staged.sidecarByteCount;
    record.importCapacityReservationID = reservationID;
    record.stagedSidecarRelativePath = staged.sidecarRelativePath;
    return out;
}

PhotoMetadata VerifiedBackupImporter::stagedMetadata(const QString &path) const
{
    Result<PhotoMetadata> metadata = m_metadataExtractor->metadata(path);
    return metadata ? *metadata : PhotoMetadata::unknown();
}

QString VerifiedBackupImporter::previewName(const QString &canonicalFilename,
                                            const QString &contentHash,
                                            const std::optional<QUuid> &itemID) const
{
    // Two cards may both hold "IMG_0001.CR2": sharing one preview file would show one photo's
    // thumbnail for the other. The name is local only; the backend never sees it.
    Result<LocalLibraryCacheRecords> records = m_cache.cachedRecords();
    bool taken = false;
    if (records) {
        records->forEach([&](const LocalLibraryItem &other) {
            taken = taken
                    || (other.canonicalFilename == canonicalFilename
                        && other.contentHash != contentHash && other.id != itemID);
        });
    }
    if (!taken)
        return canonicalFilename;
    return canonicalFilename + QLatin1Char('-') + contentHash.left(shortHashLength);
}

Result<GeneratedPreview> VerifiedBackupImporter::previewState(const QString &sourceURL,
                                                              const QString &previewName) const
{
    const std::optional<QString> previewURL = m_cache.previewURL(previewName);
    if (!previewURL)
        return failure(FileSystemError{QStringLiteral("preview"), previewName, EINVAL});
    const FileManager &fileManager = *m_cache.fileManager();
    PELLWICK_TRY(fileManager.createDirectory(parentPath(*previewURL)));
    Result<PreviewGenerationResult> generated
        = m_previewGenerator->generatePreview(sourceURL, *previewURL);
    PELLWICK_TRY(generated);
    if (const std::optional<QString> reason = generated->failureReason())
        return GeneratedPreview{LocalPreviewState::failed(*reason), std::nullopt, 0};
    Result<FileAttributes> attributes = fileManager.attributesOfItem(*previewURL);
    PELLWICK_TRY(attributes);
    return GeneratedPreview{
        LocalPreviewState::available(QStringLiteral("previews/") + lastPathComponent(*previewURL)),
        *previewURL,
        attributes->size};
}

} // namespace Pellwick
