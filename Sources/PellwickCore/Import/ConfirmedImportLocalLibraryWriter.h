#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Ingest/PhotoMetadata.h>
#include <PellwickCore/Ingest/PreviewGenerating.h>
#include <PellwickCore/Library/ImportClock.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Support/Result.h>

#include <QList>

#include <memory>

namespace Pellwick {

/// Records the RAW originals of a confirmed review in the library straight from their source
/// files: one ready item per supported review item, with content hash, canonical filename,
/// capture metadata and a preview. Synchronous on the caller's thread; a caller that needs the
/// canonical names to stay unique against concurrent writers wraps the call in the store's
/// `withExclusiveAccess`.
class ConfirmedImportLocalLibraryWriter
{
public:
    ConfirmedImportLocalLibraryWriter(
        LocalLibraryCache cache,
        std::shared_ptr<const PhotoMetadataExtracting> metadataExtractor,
        std::shared_ptr<const PreviewGenerating> previewGenerator,
        std::shared_ptr<const ContentHashing> contentHasher,
        std::shared_ptr<const ImportClock> clock);

    /// The new items in review order, appended to the library with one write (also when there
    /// are none). Unsupported items are not read. A metadata failure gives unknown metadata and a
    /// refused preview a failed preview state; a hashing, preview-folder or preview error fails
    /// the call before anything is appended (previews already written stay).
    [[nodiscard]] Result<QList<LocalLibraryItem>>
    createItems(const ImportReview &confirmedReview) const;

private:
    [[nodiscard]] Result<LocalPreviewState> previewState(const QString &sourceURL,
                                                         const QString &canonicalFilename) const;

    LocalLibraryCache m_cache;
    std::shared_ptr<const PhotoMetadataExtracting> m_metadataExtractor;
    std::shared_ptr<const PreviewGenerating> m_previewGenerator;
    std::shared_ptr<const ContentHashing> m_contentHasher;
    std::shared_ptr<const ImportClock> m_clock;
};

} // namespace Pellwick
