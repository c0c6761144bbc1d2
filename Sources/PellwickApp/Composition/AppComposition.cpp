#include "AppComposition.h"

#include <PellwickApp/Shell/ApplicationActivationMonitor.h>
#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Shell/MountMonitor.h>
#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickApp/Shell/State/LocalLibraryTree.h>
#include <PellwickApp/Stores/RestoreDestinationStore.h>
#include <PellwickApp/Views/Kit/FolderChooser.h>
#include <PellwickApp/Views/Shell/LibraryShellWindow.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickCore/Backend/BackendHealthClient.h>
#include <PellwickCore/Backend/BackendReachabilityMonitor.h>
#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/CurlPresignedURLUploader.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Import/StagingArea.h>
#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Ingest/Exiv2PhotoMetadataExtractor.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Ingest/LibRawPreviewGenerator.h>
#include <PellwickCore/Ingest/MountInfoVolumeProvider.h>
#include <PellwickCore/Ingest/RemovableVolumeDetector.h>
#include <PellwickCore/Library/ImportClock.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Restore/CurlRestoreRangeFetcher.h>
#include <PellwickCore/Restore/RestoreRequestCoordinator.h>
#include <PellwickCore/Restore/RestoreTransferEngine.h>
#include <PellwickCore/Support/FileManager.h>

#include <QGuiApplication>

namespace Pellwick {

namespace {

constexpr qint64 previewMaxPixelSize = 1600;
constexpr qint64 previewTargetByteCount = 204'800;
constexpr qint64 previewAbsoluteMaxByteCount = 307'200;
constexpr qint64 previewFallbackMaxPixelSize = 800;
constexpr qint64 healthReplyMaxByteCount = 65'536;

} // namespace

std::unique_ptr<LibraryShellViewModel>
AppComposition::makeViewModel(const AppConfiguration &configuration,
                              const AppSystemServices &services)
{
    const auto files = std::make_shared<LocalFileManager>();
    // 1. The session client, whose exchanges also tell the backend status what they saw.
    const auto reachabilityMonitor = std::make_shared<BackendReachabilityMonitor>();
    const auto sessionClient = std::make_shared<LibrarySessionClient>(
        configuration.backendURL(),
        BackendReachabilityMonitor::observing(reachabilityMonitor, CurlFetch()));
    // 2. The Local Library Cache: one storage shared by every copy.
    const LocalLibraryCache localLibraryCache(configuration.localLibraryCacheURL(), files);
    // 3. The health client. Its answer is a few bytes: a longer one is not the backend's, and a
    // hostile server must not make each check hold a large body in memory.
    CurlFetch::Options healthFetchOptions;
    healthFetchOptions.maximumBodySize = healthReplyMaxByteCount;
    BackendHealthClient healthClient(configuration.backendURL(), CurlFetch(healthFetchOptions));
    // 4. The volume detector.
    RemovableVolumeDetector volumeDetector(
        std::make_shared<MountInfoVolumeProvider>(files, services.mountInfoPaths));
    // 5. The Import Review builder.
    ImportReviewBuilder importReviewBuilder(files);
    // 6. The Ingest Cache.
    IngestCache ingestCache(
        configuration.ingestCacheURL(), files, std::make_shared<SHA256ContentHasher>());
    // 7. The Staging Area.
    StagingArea stagingArea(
        configuration.stagingAreaURL(), files, std::make_shared<SHA256ContentHasher>());
    // 8. The importer.
    VerifiedBackupImporter importer(
        localLibraryCache,
        std::move(stagingArea),
        std::make_shared<Exiv2PhotoMetadataExtractor>(),
        std::make_shared<LibRawPreviewGenerator>(previewMaxPixelSize,
                                                 previewTargetByteCount,
                                                 previewAbsoluteMaxByteCount,
                                                 previewFallbackMaxPixelSize,
                                                 files),
        std::make_shared<SHA256ContentHasher>(),
        sessionClient,
        std::make_shared<CurlPresignedURLUploader>(files),
        std::make_shared<SystemImportClock>());
    // 9. The restore request coordinator, with the file manager's existence test.
    RestoreRequestCoordinator restoreCoordinator(
        localLibraryCache, sessionClient, RestoreDestinationResolver(files));
    // 10. The restore transfer engine: 16 MiB ranges, at most 4 in flight.
    auto restoreTransferEngine = std::make_shared<RestoreTransferEngine>(
        configuration.restoreTransferStateURL(),
        RestoreTransferConfiguration::defaultConfiguration(),
        std::make_shared<CurlRestoreRangeFetcher>(),
        std::make_shared<SHA256ContentHasher>(),
        std::make_shared<SystemRestoreTransferClock>(),
        files);
    // 11. The restore destination, then the two stores.
    QString restoreDestination = configuration.restoreDestinationDirectoryURL();
    std::shared_ptr<const SessionTokenStoring> tokenStore = configuration.sessionTokenStore();
    std::shared_ptr<const IngestCacheLocationStoring> locationStore
        = configuration.ingestCacheLocationStore();
    // 12. The view model, whose folder tree walks the Ingest Cache through the same file manager.
    auto viewModel
        = std::make_unique<LibraryShellViewModel>(std::move(healthClient),
                                                  sessionClient,
                                                  std::move(volumeDetector),
                                                  std::move(importReviewBuilder),
                                                  localLibraryCache,
                                                  std::move(ingestCache),
                                                  std::move(importer),
                                                  std::move(restoreCoordinator),
                                                  std::move(restoreTransferEngine),
                                                  std::move(restoreDestination),
                                                  std::move(tokenStore),
                                                  std::move(locationStore),
                                                  services.steadyClock,
                                                  services.timers,
                                                  files,
                                                  std::make_shared<SHA256ContentHasher>(),
                                                  reachabilityMonitor);
    viewModel->ingestCacheWorkflows().setIngestCacheFolderHold(services.holdFolder);
    viewModel->libraryWorkflows().setLocalLibraryTreeBuilder(
        [files](const QList<LocalLibraryItem> &items,
                const QString &cacheRoot,
                bool includePhysicalEntries,
                const QHash<QString, qint64> &visibleFolderCounts) {
            return LocalLibraryTree::build(
                items, cacheRoot, includePhysicalEntries, visibleFolderCounts, *files);
        });
    return viewModel;
}

std::unique_ptr<LibraryShellWindow>
AppComposition::makeWindow(const AppConfiguration &configuration, const AppSystemServices &services)
{
    std::unique_ptr<LibraryShellViewModel> viewModel = makeViewModel(configuration, services);
    // 13. The root window, which takes the view model and the store of the last restore
    // destination.
    auto window = std::make_unique<LibraryShellWindow>(
        viewModel.release(), configuration.restoreDestinationStore(), ShellSection::Overview);
    // 14. The window's event sources, owned by it: removable volumes coming and going, and the
    // application becoming active or inactive.
    if (services.folderChooser)
        window->setFolderChooser(services.folderChooser);
    LibraryShellWindow *shell = window.get();
    auto *mounts
        = new MountMonitor(std::make_shared<MountInfoVolumeProvider>(
                               std::make_shared<LocalFileManager>(), services.mountInfoPaths),
                           services.mountInfoPaths.mountInfo,
                           shell);
    QObject::connect(mounts, &MountMonitor::volumeMounted, shell, [shell](const QString &path) {
        shell->volumeMounted(path);
    });
    QObject::connect(mounts, &MountMonitor::volumeUnmounted, shell, [shell](const QString &path) {
        shell->volumeUnmounted(path);
    });
    auto *activation = new ApplicationActivationMonitor(qGuiApp, shell);
    QObject::connect(activation,
                     &ApplicationActivationMonitor::becameActive,
                     shell,
                     &LibraryShellWindow::applicationBecameActive);
    QObject::connect(activation,
                     &ApplicationActivationMonitor::resignedActive,
                     shell,
                     &LibraryShellWindow::applicationResignedActive);
    return window;
}

} // namespace Pellwick
