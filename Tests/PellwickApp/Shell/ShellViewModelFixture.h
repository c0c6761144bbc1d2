#pragma once

#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Stores/InMemoryIngestCacheLocationStore.h>
#include <PellwickApp/Stores/InMemorySessionTokenStore.h>
#include <PellwickCore/Backend/CurlPresignedURLUploader.h>
#include <PellwickCore/Import/StagingArea.h>
#include <PellwickCore/Ingest/MountedVolumeProviding.h>

#include <QTemporaryDir>

#include <Support/ImporterFakes.h>
#include <Support/ScriptedFetch.h>

namespace Pellwick::Test {

/// Mounted volumes as a test sets them, or a failing listing.
class ListedVolumes final : public MountedVolumeProviding
{
public:
    explicit ListedVolumes(Result<QList<MountedVolume>> answer)
        : m_answer(std::move(answer))
    {}

    Result<QList<MountedVolume>> mountedVolumes() const override { return m_answer; }

private:
    Result<QList<MountedVolume>> m_answer;
};

/// Everything a shell view model needs, over folders of one temporary directory and services
/// that make no network call.
struct ShellViewModelFixture
{
    QTemporaryDir dir;
    Result<QList<MountedVolume>> volumes = QList<MountedVolume>();
    std::optional<QString> ingestCacheRoot;
    std::shared_ptr<InMemoryIngestCacheLocationStore> locationStore
        = std::make_shared<InMemoryIngestCacheLocationStore>();
    LibraryShellViewModel::SteadyClock steadyClock = &std::chrono::steady_clock::now;
    /// The store the view models use: a copy shares their records.
    LocalLibraryCache library{libraryRoot(), std::make_shared<LocalFileManager>()};

    QString libraryRoot() const { return dir.filePath(QStringLiteral("LocalLibraryCache")); }

    std::unique_ptr<LibraryShellViewModel> make() const
    {
        const auto files = std::make_shared<LocalFileManager>();
        const auto hasher = std::make_shared<SHA256ContentHasher>();
        const auto client = std::make_shared<LibrarySessionClient>(
            QUrl(QStringLiteral("https://api.example.test/")), ScriptedFetch().function());
        std::optional<IngestCache> ingestCache;
        if (ingestCacheRoot)
            ingestCache.emplace(*ingestCacheRoot, files, hasher);
        VerifiedBackupImporter importer(
            library,
            StagingArea(dir.filePath(QStringLiteral("StagingArea")), files, hasher),
            std::make_shared<FixedMetadataExtractor>(PhotoMetadata{}),
            StubPreviewGenerator::writing("jpeg"),
            hasher,
            client,
            std::make_shared<CurlPresignedURLUploader>(files),
            std::make_shared<FixedImportClock>(Date{}));
        return std::make_unique<LibraryShellViewModel>(
            BackendHealthClient(QUrl(QStringLiteral("https://api.example.test/")),
                                ScriptedFetch().urlFunction()),
            client,
            RemovableVolumeDetector(std::make_shared<ListedVolumes>(volumes)),
            ImportReviewBuilder(files),
            library,
            std::move(ingestCache),
            std::move(importer),
            dir.filePath(QStringLiteral("Restored")),
            std::make_shared<InMemorySessionTokenStore>(),
            locationStore,
            steadyClock);
    }
};

} // namespace Pellwick::Test
