#pragma once

#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickApp/Stores/InMemoryIngestCacheLocationStore.h>
#include <PellwickApp/Stores/InMemorySessionTokenStore.h>
#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Backend/BackendHealthClient.h>
#include <PellwickCore/Backend/BackendReachabilityMonitor.h>
#include <PellwickCore/Backend/CurlPresignedURLUploader.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Import/StagingArea.h>
#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Ingest/MountedVolumeProviding.h>
#include <PellwickCore/Ingest/RemovableVolumeDetector.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Restore/CurlRestoreRangeFetcher.h>
#include <PellwickCore/Restore/RestoreRequestCoordinator.h>
#include <PellwickCore/Restore/RestoreTransferEngine.h>

#include <QTemporaryDir>

#include <mutex>

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

    Result<QList<MountedVolume>> mountedVolumes() const override
    {
        const std::lock_guard lock(m_mutex);
        return m_answer;
    }

    /// What later listings answer (media inserted or removed after launch).
    void setAnswer(Result<QList<MountedVolume>> answer)
    {
        const std::lock_guard lock(m_mutex);
        m_answer = std::move(answer);
    }

private:
    mutable std::mutex m_mutex;
    Result<QList<MountedVolume>> m_answer;
};

/// Everything a shell view model needs, over folders of one temporary directory and services
/// that make no network call.
struct ShellViewModelFixture
{
    ShellViewModelFixture() = default;

    /// Keeps the folders in a new directory inside `parent` (for benchmark data).
    explicit ShellViewModelFixture(const QString &parent)
        : dir(parent + QStringLiteral("/shell-XXXXXX"))
    {}

    QTemporaryDir dir;
    /// The folder that holds the services' folders: `dir`, unless a test (a crash test's child)
    /// points it at another.
    QString root = dir.path();

    /// `name` inside `root`.
    QString filePath(const QString &name) const { return root + QLatin1Char('/') + name; }

    Result<QList<MountedVolume>> volumes = QList<MountedVolume>();
    std::optional<QString> ingestCacheRoot;
    std::shared_ptr<const IngestCacheLocationStoring> locationStore
        = std::make_shared<InMemoryIngestCacheLocationStore>();
    LibraryShellViewModel::SteadyClock steadyClock = &std::chrono::steady_clock::now;
    /// The workflows' timers.
    SingleShotTimerFactory timers = &makeQtSingleShotTimer;
    RestoreTransferConfiguration restoreTransfers
        = RestoreTransferConfiguration::defaultConfiguration();
    QUrl backendURL = QUrl(QStringLiteral("https://api.example.test/"));
    HttpFetch sessionFetch = ScriptedFetch().function();
    UrlFetch healthFetch = ScriptedFetch().urlFunction();
    std::shared_ptr<SessionTokenStoring> tokenStore = std::make_shared<InMemorySessionTokenStore>();
    /// The file manager of every service.
    std::shared_ptr<const FileManager> fileManager = std::make_shared<LocalFileManager>();
    /// The hasher of the Ingest Cache and of the workflows' own hashing.
    std::shared_ptr<const ContentHashing> contentHasher = std::make_shared<SHA256ContentHasher>();
    /// The hasher of the workflows' own hashing when it differs from the Ingest Cache's.
    std::shared_ptr<const ContentHashing> workflowHasher;
    /// What the importer, and the workflows through it, read capture metadata with.
    std::shared_ptr<const PhotoMetadataExtracting> metadataExtractor
        = std::make_shared<FixedMetadataExtractor>(PhotoMetadata{});
    /// How long a presigned upload may go without moving a byte.
    std::chrono::seconds uploadIdleLimit = CurlPresignedURLUploader::defaultIdleLimit;
    /// The Ingest Cache's free-space probe.
    AvailableCapacityProbe availableCapacity = &IngestCache::systemAvailableCapacity;
    /// The volume listing of the last view model made, answering `volumes` until changed.
    mutable std::shared_ptr<ListedVolumes> listedVolumes;
    /// When set, the view model lists volumes here instead (and `listedVolumes` stays unset).
    std::shared_ptr<const MountedVolumeProviding> volumeProvider;
    /// The store the view models use: a copy shares their records.
    LocalLibraryCache library{libraryRoot(), std::make_shared<LocalFileManager>()};

    QString libraryRoot() const { return filePath(QStringLiteral("LocalLibraryCache")); }

    std::unique_ptr<LibraryShellViewModel> make() const
    {
        const std::shared_ptr<const FileManager> files = fileManager;
        const auto hasher = std::make_shared<SHA256ContentHasher>();
        const auto reachability = std::make_shared<BackendReachabilityMonitor>();
        const auto client = std::make_shared<LibrarySessionClient>(
            backendURL, BackendReachabilityMonitor::observing(reachability, sessionFetch));
        std::optional<IngestCache> ingestCache;
        if (ingestCacheRoot)
            ingestCache.emplace(*ingestCacheRoot, files, contentHasher, availableCapacity);
        VerifiedBackupImporter importer(
            library,
            StagingArea(filePath(QStringLiteral("StagingArea")), files, hasher),
            metadataExtractor,
            StubPreviewGenerator::writing("jpeg"),
            hasher,
            client,
            std::make_shared<CurlPresignedURLUploader>(files, uploadIdleLimit),
            std::make_shared<FixedImportClock>(Date{}));
        return std::make_unique<LibraryShellViewModel>(
            BackendHealthClient(backendURL, healthFetch),
            client,
            RemovableVolumeDetector(
                volumeProvider ? volumeProvider
                               : (listedVolumes = std::make_shared<ListedVolumes>(volumes))),
            ImportReviewBuilder(files),
            library,
            std::move(ingestCache),
            std::move(importer),
            RestoreRequestCoordinator(library, client, RestoreDestinationResolver(files)),
            std::make_shared<RestoreTransferEngine>(filePath(QStringLiteral("RestoreTransfers")),
                                                    restoreTransfers,
                                                    std::make_shared<CurlRestoreRangeFetcher>(),
                                                    hasher,
                                                    std::make_shared<SystemRestoreTransferClock>(),
                                                    files),
            filePath(QStringLiteral("Restored")),
            tokenStore,
            locationStore,
            steadyClock,
            timers,
            files,
            workflowHasher ? workflowHasher : contentHasher,
            reachability);
    }
};

} // namespace Pellwick::Test
