#include "VerifiedBackupImporter.h"

namespace Pellwick {

VerifiedBackupImporter::VerifiedBackupImporter(
    LocalLibraryCache cache,
    StagingArea stagingArea,
    std::shared_ptr<const PhotoMetadataExtracting> metadataExtractor,
    std::shared_ptr<const PreviewGenerating> previewGenerator,
    std::shared_ptr<const ContentHashing> contentHasher,
    std::shared_ptr<const VerifiedBackupAPI> api,
    std::shared_ptr<const PresignedURLUploading> uploader,
    std::shared_ptr<const ImportClock> clock)
    : m_cache(std::move(cache))
    , m_stagingArea(std::move(stagingArea))
    , m_metadataExtractor(std::move(metadataExtractor))
    , m_previewGenerator(std::move(previewGenerator))
    , m_contentHasher(std::move(contentHasher))
    , m_api(std::move(api))
    , m_uploader(std::move(uploader))
    , m_clock(std::move(clock))
{}

} // namespace Pellwick
