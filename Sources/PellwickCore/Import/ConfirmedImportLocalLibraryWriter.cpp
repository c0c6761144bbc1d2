#include "ConfirmedImportLocalLibraryWriter.h"

#include <PellwickCore/Ingest/CanonicalFilenameGenerator.h>
#include <PellwickCore/Support/Overloaded.h>

#include <cerrno>

namespace Pellwick {

ConfirmedImportLocalLibraryWriter::ConfirmedImportLocalLibraryWriter(
    LocalLibraryCache cache,
    std::shared_ptr<const PhotoMetadataExtracting> metadataExtractor,
    std::shared_ptr<const PreviewGenerating> previewGenerator,
    std::shared_ptr<const ContentHashing> contentHasher,
    std::shared_ptr<const ImportClock> clock)
    : m_cache(std::move(cache))
    , m_metadataExtractor(std::move(metadataExtractor))
    , m_previewGenerator(std::move(previewGenerator))
    , m_contentHasher(std::move(contentHasher))
    , m_clock(std::move(clock))
{}

Result<QList<LocalLibraryItem>>
ConfirmedImportLocalLibraryWriter::createItems(const ImportReview &confirmedReview) const
{
    Result<LocalLibraryCacheRecords> records = m_cache.cachedRecords();
    PELLWICK_TRY(records);
    QSet<QString> usedFilenames = records->canonicalFilenames();

    QList<LocalLibraryItem> created;
    for (const ImportReviewItem &reviewItem : confirmedReview.items) {
        if (!reviewItem.status.isSupported())
            continue;
        Result<QString> contentHash = m_contentHasher->contentHash(reviewItem.url);
        PELLWICK_TRY(contentHash);
        Result<PhotoMetadata> metadata = m_metadataExtractor->metadata(reviewItem.url);
        LocalLibraryItem item;
        item.id = QUuid::createUuid();
        item.originalFilename = reviewItem.filename;
        item.contentHash = *contentHash;
        item.metadata = metadata ? *metadata : PhotoMetadata::unknown();
        item.canonicalFilename = CanonicalFilenameGenerator::canonicalFilename(
            reviewItem.filename, item.metadata, contentHash->left(12), usedFilenames);
        Result<LocalPreviewState> preview = previewState(reviewItem.url, item.canonicalFilename);
        PELLWICK_TRY(preview);
        item.preview = *preview;
        item.importDate = m_clock->now();
        item.importStatus = LibraryItemImportStatus::LocalCacheReady;
        created.append(std::move(item));
    }
    PELLWICK_TRY(m_cache.appendItems(created));
    return created;
}

Result<LocalPreviewState>
ConfirmedImportLocalLibraryWriter::previewState(const QString &sourceURL,
                                                const QString &canonicalFilename) const
{
    const std::optional<QString> previewURL = m_cache.previewURL(canonicalFilename);
    if (!previewURL)
        return fileSystemFailure(QStringLiteral("create"), canonicalFilename, EINVAL);
    PELLWICK_TRY(m_cache.fileManager()->createDirectory(parentPath(*previewURL)));
    Result<PreviewGenerationResult> generated
        = m_previewGenerator->generatePreview(sourceURL, *previewURL);
    PELLWICK_TRY(generated);
    return std::visit(Overloaded{[&](const PreviewGenerationResult::Success &) {
                                     return LocalPreviewState::available(QStringLiteral("previews/")
                                                                         + canonicalFilename
                                                                         + QStringLiteral(".jpg"));
                                 },
                                 [](const PreviewGenerationResult::Failure &failure) {
                                     return LocalPreviewState::failed(failure.reason);
                                 }},
                      generated->value);
}

} // namespace Pellwick
