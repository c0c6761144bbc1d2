// pellwick-bench-stage-package RAW SIDECAR CONTENT_HASH LIBRARY_ROOT STAGING_ROOT
// Prepares the cached package RAW + SIDECAR (whose RAW has CONTENT_HASH) for its upload with the
// production hasher and a real Staging Area under STAGING_ROOT: verified copies, hashes, first
// record built (not written). The preview generator refuses at once, so only staging is timed.

#include <PellwickCore/Import/VerifiedBackupImporter.h>

#include <QString>

#include <cstdio>

using namespace Pellwick;

namespace {

class RefusingPreviewGenerator final : public PreviewGenerating
{
public:
    Result<PreviewGenerationResult>
    generatePreview(const QString &, const QString &, std::stop_token) const override
    {
        return PreviewGenerationResult::failure(QStringLiteral("no preview in this benchmark"));
    }
};

class NoMetadata final : public PhotoMetadataExtracting
{
public:
    Result<PhotoMetadata> metadata(const QString &) const override
    {
        return PhotoMetadata::unknown();
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fputs("usage: pellwick-bench-stage-package RAW SIDECAR CONTENT_HASH LIBRARY_ROOT "
                   "STAGING_ROOT\n",
                   stderr);
        return 2;
    }
    auto fileManager = std::make_shared<LocalFileManager>();
    auto hasher = std::make_shared<SHA256ContentHasher>();
    const VerifiedBackupImporter importer(
        LocalLibraryCache(QString::fromLocal8Bit(argv[4]), fileManager),
        StagingArea(QString::fromLocal8Bit(argv[5]), fileManager, hasher),
        std::make_shared<NoMetadata>(),
        std::make_shared<RefusingPreviewGenerator>(),
        hasher,
        nullptr,
        nullptr,
        std::make_shared<SystemImportClock>());

    LocalLibraryItem cached;
    cached.id = QUuid::createUuid();
    cached.originalFilename = QStringLiteral("IMG_0001.CR3");
    cached.canonicalFilename = QStringLiteral("IMG_0001.CR3");
    cached.contentHash = QString::fromLatin1(argv[3]);
    cached.ingestCacheOriginalURL = QString::fromLocal8Bit(argv[1]);
    cached.ingestCacheSidecarURL = QString::fromLocal8Bit(argv[2]);

    const Result<ImportReviewItem> review = importer.cacheReviewItem(cached);
    QSet<QString> used;
    const Result<PreparedBackup> prepared
        = review ? importer.prepareBackup(*review, std::nullopt, used, cached)
                 : Result<PreparedBackup>(tl::unexpected<Error>(review.error()));
    if (!prepared) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(prepared.error())));
        return 1;
    }
    return 0;
}
