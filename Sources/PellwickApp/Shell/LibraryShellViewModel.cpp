#include "LibraryShellViewModel_p.h"

#include <PellwickApp/Feedback/IngestCacheFeedback.h>
#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>
#include <PellwickApp/Workflows/Session/SessionWorkflows.h>
#include <PellwickApp/Workflows/TransferProgressBoard.h>
#include <PellwickCore/Backend/BackendHealthClient.h>
#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Ingest/RemovableVolumeDetector.h>
#include <PellwickCore/Restore/RestoreRequestCoordinator.h>
#include <PellwickCore/Restore/RestoreTransferEngine.h>
#include <PellwickCore/Support/FileManager.h>

#include <QCoreApplication>
#include <QMetaObject>

namespace Pellwick {

namespace {

IngestCache defaultIngestCache(const LocalLibraryCache &localLibraryCache)
{
    return IngestCache(localLibraryCache.rootURL() + QStringLiteral("/IngestCache"),
                       std::make_shared<LocalFileManager>(),
                       std::make_shared<SHA256ContentHasher>());
}

} // namespace

LibraryShellViewModel::LibraryShellViewModel(
    BackendHealthClient healthClient,
    std::shared_ptr<const LibrarySessionClient> sessionClient,
    RemovableVolumeDetector volumeDetector,
    ImportReviewBuilder importReviewBuilder,
    LocalLibraryCache localLibraryCache,
    std::optional<IngestCache> ingestCache,
    VerifiedBackupImporter verifiedBackupImporter,
    RestoreRequestCoordinator restoreCoordinator,
    std::shared_ptr<RestoreTransferEngine> restoreTransferEngine,
    QString restoreDestinationDirectory,
    std::shared_ptr<const SessionTokenStoring> tokenStore,
    std::shared_ptr<const IngestCacheLocationStoring> ingestCacheLocationStore,
    SteadyClock steadyClock,
    SingleShotTimerFactory timers,
    std::shared_ptr<const FileManager> fileManager,
    std::shared_ptr<const ContentHashing> contentHasher,
    std::shared_ptr<BackendReachabilityMonitor> reachabilityMonitor,
    QObject *parent)
    : QObject(parent)
    , m_sessionState(std::make_unique<SessionState>())
    , m_shellState(std::make_unique<ShellState>())
    , m_importState(std::make_unique<ImportState>())
    , m_ingestCacheState(std::make_unique<IngestCacheState>())
    , m_libraryState(std::make_unique<LibraryState>())
    , m_restoreState(std::make_unique<RestoreState>())
    , m_d(std::make_unique<LibraryShellViewModelPrivate>(LibraryShellViewModelPrivate::Services{
          .sessionClient = std::move(sessionClient),
          .localLibraryCache = std::move(localLibraryCache),
          .verifiedBackupImporter = std::move(verifiedBackupImporter),
          .ingestCacheLocationStore = std::move(ingestCacheLocationStore),
          .steadyClock = std::move(steadyClock),
          .timers = timers ? std::move(timers) : SingleShotTimerFactory(&makeQtSingleShotTimer),
          .fileManager
          = fileManager ? std::move(fileManager) : std::make_shared<const LocalFileManager>(),
          .contentHasher = contentHasher ? std::move(contentHasher)
                                         : std::make_shared<const SHA256ContentHasher>(),
          .reachabilityMonitor = std::move(reachabilityMonitor),
      }))
    , m_storageFiguresChanged([this] { return m_sessionWorkflows->refreshLibrary(); })
    , m_board(std::make_unique<TransferProgressBoard>(*m_shellState, m_d->services.steadyClock))
    , m_library(std::make_unique<LibraryWorkflows>(
          *m_libraryState,
          m_d->services.localLibraryCache,
          [this] { return m_ingestCacheWorkflows->ingestCache().rootURL(); },
          [this] { m_importWorkflows->scheduleSourceMediaSafetyRefresh(); },
          LibraryWorkflows::DataFolders{
              .fileManager = m_d->services.fileManager,
              .folders
              = {{ManagedFolder::LocalLibraryCache, m_d->services.localLibraryCache.rootURL()},
                 {ManagedFolder::StagingArea,
                  m_d->services.verifiedBackupImporter.stagingArea().rootURL()},
                 {ManagedFolder::RestoreTransferState,
                  restoreTransferEngine ? restoreTransferEngine->rootPath() : QString()}},
              // Until a location is chosen the cache is made where the user says, on first use.
              .ingestCache =
                  [this] {
                      return m_d->services.ingestCacheLocationStore->hasSavedLocation()
                                 ? m_ingestCacheWorkflows->ingestCache().rootURL()
                                 : QString();
                  },
          }))
    , m_ingestCacheWorkflows(std::make_unique<IngestCacheWorkflows>(
          IngestCacheWorkflows::Services{
              // The default cache lies in the library cache's folder.
              .ingestCache = ingestCache ? std::move(*ingestCache)
                                         : defaultIngestCache(m_d->services.localLibraryCache),
              .localLibraryCache = m_d->services.localLibraryCache,
              .importReviewBuilder = std::move(importReviewBuilder),
              .stagingArea = m_d->services.verifiedBackupImporter.stagingArea(),
              .metadataExtractor = m_d->services.verifiedBackupImporter.metadataExtractor(),
              .sessionClient = m_d->services.sessionClient,
              .ingestCacheLocationStore = m_d->services.ingestCacheLocationStore,
              .timers = m_d->services.timers,
              .fileManager = m_d->services.fileManager,
              .contentHasher = m_d->services.contentHasher,
              .restoreDestination = [this] { return m_restore->runningRestoreDestination(); },
          },
          IngestCacheWorkflows::Collaborators{
              .ingestCache = *m_ingestCacheState,
              .imports = *m_importState,
              .library = *m_libraryState,
              .session = *m_sessionState,
              .libraryWorkflows = *m_library,
              .board = *m_board,
          }))
    , m_importWorkflows(std::make_unique<ImportWorkflows>(
          ImportWorkflows::Services{
              .sessionClient = m_d->services.sessionClient,
              .volumeDetector = std::move(volumeDetector),
              .localLibraryCache = m_d->services.localLibraryCache,
              .verifiedBackupImporter = m_d->services.verifiedBackupImporter,
              .ingestCacheLocationStore = m_d->services.ingestCacheLocationStore,
              .steadyClock = m_d->services.steadyClock,
              .fileManager = m_d->services.fileManager,
              .contentHasher = m_d->services.contentHasher,
          },
          ImportWorkflows::Collaborators{
              .imports = *m_importState,
              .shell = *m_shellState,
              .session = *m_sessionState,
              .library = *m_libraryState,
              .restore = *m_restoreState,
              .ingestCacheState = *m_ingestCacheState,
              .ingestCache = *m_ingestCacheWorkflows,
              .libraryWorkflows = *m_library,
              .board = *m_board,
              .storageFiguresChanged = m_storageFiguresChanged,
          }))
    , m_sessionWorkflows(std::make_unique<SessionWorkflows>(
          SessionWorkflows::Services{
              .healthClient = std::move(healthClient),
              .sessionClient = m_d->services.sessionClient,
              .tokenStore = std::move(tokenStore),
          },
          *m_sessionState,
          *m_shellState,
          *m_importWorkflows))
    , m_restore(std::make_unique<RestoreWorkflows>(
          *m_restoreState,
          *m_sessionState,
          *m_libraryState,
          *m_ingestCacheState,
          *m_library,
          *m_board,
          RestoreWorkflows::Services{
              .sessionClient = m_d->services.sessionClient,
              .localLibraryCache = m_d->services.localLibraryCache,
              .restoreCoordinator = std::move(restoreCoordinator),
              .restoreTransferEngine = std::move(restoreTransferEngine),
              .restoreDestinationDirectory = std::move(restoreDestinationDirectory),
              .stagingAreaRoot = m_d->services.verifiedBackupImporter.stagingArea().rootURL(),
              .ingestCacheRoot = [this] { return m_ingestCacheWorkflows->ingestCache().rootURL(); },
              .refreshLibrary = m_storageFiguresChanged,
              .fileManager = m_d->services.fileManager,
              .timers = m_d->services.timers,
              .steadyClock = m_d->services.steadyClock,
          }))
{
    Q_ASSERT_X(m_d->services.sessionClient && m_restore->restoreTransferEngine()
                   && m_d->services.ingestCacheLocationStore && m_d->services.steadyClock,
               "LibraryShellViewModel",
               "every collaborator is required");
    connectStateObservers();
    if (m_d->services.reachabilityMonitor) {
        // Called on the exchange's thread: the weak pointer is made here and read on the main
        // thread only.
        m_d->services.reachabilityMonitor->setObserver(
            [sessions = QPointer<SessionWorkflows>(m_sessionWorkflows.get()),
             imports
             = QPointer<ImportWorkflows>(m_importWorkflows.get())](BackendReachability said) {
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [sessions, imports, said] {
                        if (sessions)
                            sessions->backendExchangeEnded(said);
                        if (imports && said == BackendReachability::Reachable)
                            imports->backendReached();
                    },
                    Qt::QueuedConnection);
            });
    }

    if (m_ingestCacheState->pendingIngestCacheMigration()) {
        m_ingestCacheState->setIngestCacheMigrationFailure(
            IngestCacheFeedback::pendingMigrationAtLaunchMessage());
        m_ingestCacheWorkflows->finalizePersistedMigrationIfNecessary();
    }

    m_library->refreshVisibleLocalLibraryItems(true);
}

void LibraryShellViewModel::connectStateObservers()
{
    // A proposal held back while work ran is presented once the work ends; the scan has no
    // such observer.
    ImportWorkflows *imports = m_importWorkflows.get();
    const auto present = [imports] { imports->presentPendingMountProposalIfPossible(); };
    connect(m_importState.get(), &ImportState::isImportingChanged, this, present);
    connect(
        m_ingestCacheState.get(), &IngestCacheState::isMigratingIngestCacheChanged, this, present);
    connect(m_ingestCacheState.get(),
            &IngestCacheState::pendingIngestCacheMigrationChanged,
            this,
            present);
    connect(m_restoreState.get(), &RestoreState::activeRestoreRequestChanged, this, present);
    connect(m_restoreState.get(), &RestoreState::isRestoreTransferActiveChanged, this, present);
}

LibraryShellViewModel::~LibraryShellViewModel()
{
    if (m_d->services.reachabilityMonitor)
        m_d->services.reachabilityMonitor->setObserver({});
    // A check of a stalled backend would otherwise hold the process's exit.
    m_sessionWorkflows.reset();
}

const SingleShotTimerFactory &LibraryShellViewModel::singleShotTimers() const
{
    return m_d->services.timers;
}

} // namespace Pellwick
