#include "LibraryShellViewModel_p.h"

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Support/FileManager.h>

#include <QDir>

#include <algorithm>

namespace Pellwick {

namespace {

/// True when `path` lies strictly below `root`, comparing standardized paths.
bool liesBelow(const QString &path, const QString &root)
{
    const QString standardizedRoot = standardizedPath(root);
    const QString prefix = standardizedRoot.endsWith(QLatin1Char('/'))
                               ? standardizedRoot
                               : standardizedRoot + QLatin1Char('/');
    const QString standardized = standardizedPath(path);
    return standardized.startsWith(prefix) && standardized.size() > prefix.size();
}

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
    QObject *parent)
    : QObject(parent)
    , m_sessionState(std::make_unique<SessionState>())
    , m_shellState(std::make_unique<ShellState>())
    , m_importState(std::make_unique<ImportState>())
    , m_ingestCacheState(std::make_unique<IngestCacheState>())
    , m_libraryState(std::make_unique<LibraryState>())
    , m_restoreState(std::make_unique<RestoreState>())
    , m_d(std::make_unique<LibraryShellViewModelPrivate>(LibraryShellViewModelPrivate::Services{
          .healthClient = std::move(healthClient),
          .sessionClient = std::move(sessionClient),
          .tokenStore = std::move(tokenStore),
          .volumeDetector = std::move(volumeDetector),
          .importReviewBuilder = std::move(importReviewBuilder),
          .ingestCache
          = ingestCache ? std::move(*ingestCache) : defaultIngestCache(localLibraryCache),
          .localLibraryCache = std::move(localLibraryCache),
          .verifiedBackupImporter = std::move(verifiedBackupImporter),
          .ingestCacheLocationStore = std::move(ingestCacheLocationStore),
          .steadyClock = std::move(steadyClock),
          .timers = timers ? std::move(timers) : SingleShotTimerFactory(&makeQtSingleShotTimer),
          .fileManager
          = fileManager ? std::move(fileManager) : std::make_shared<const LocalFileManager>(),
          .contentHasher = contentHasher ? std::move(contentHasher)
                                         : std::make_shared<const SHA256ContentHasher>(),
      }))
    , m_board(std::make_unique<TransferProgressBoard>(*m_shellState, m_d->services.steadyClock))
    , m_library(std::make_unique<LibraryWorkflows>(
          *m_libraryState,
          m_d->services.localLibraryCache,
          [this] { return m_d->services.ingestCache.rootURL(); },
          [this] { scheduleSourceMediaSafetyRefresh(); }))
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
              .ingestCacheRoot = [this] { return m_d->services.ingestCache.rootURL(); },
              .isApplicationActive = [this] { return m_d->shell.isApplicationActive; },
              .refreshLibrary = [this] { return refreshLibrary(); },
              .fileManager = m_d->services.fileManager,
              .timers = m_d->services.timers,
              .steadyClock = m_d->services.steadyClock,
          }))
{
    Q_ASSERT_X(m_d->services.sessionClient && m_restore->restoreTransferEngine()
                   && m_d->services.tokenStore && m_d->services.ingestCacheLocationStore
                   && m_d->services.steadyClock,
               "LibraryShellViewModel",
               "every collaborator is required");
    // Initial values are assigned before the observers are connected: they do not run here.
    const IngestCacheLocationStoring &locationStore = *m_d->services.ingestCacheLocationStore;
    m_ingestCacheState->setRetainedIngestCacheURL(locationStore.retained());
    m_d->ingestCache.retainedIngestCacheManifest = locationStore.retainedManifest();
    m_ingestCacheState->setPendingIngestCacheMigration(locationStore.pendingMigration());
    m_ingestCacheState->setIngestCacheRoot(m_d->services.ingestCache.rootURL());
    connectStateObservers();

    // Media already inserted at launch is never proposed for import.
    if (const Result<QList<ImportScanVolume>> volumes
        = m_d->services.volumeDetector.removableVolumes()) {
        for (const ImportScanVolume &volume : *volumes)
            m_d->shell.initialMountedImportSourceURLs.insert(standardizedPath(volume.url));
    }

    if (m_ingestCacheState->pendingIngestCacheMigration()) {
        m_ingestCacheState->setIngestCacheMigrationMessage(QStringLiteral(
            "Ingest Cache migration needs attention. Resume it before changing cached files."));
        finalizePersistedMigrationIfNecessary();
    }

    m_library->refreshVisibleLocalLibraryItems(true);
}

void LibraryShellViewModel::connectStateObservers()
{
    // A proposal held back while work ran is presented once the work ends; the scan has no
    // such observer.
    const auto present = [this] { presentPendingMountProposalIfPossible(); };
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
    // A check of a stalled backend would otherwise hold the process's exit.
    if (m_d->session.healthCheckTask)
        m_d->session.healthCheckTask->cancel();
    if (m_d->imports.importScanTask)
        m_d->imports.importScanTask->cancel();
    if (m_d->imports.addToIngestCacheTask)
        m_d->imports.addToIngestCacheTask->cancel();
    m_d->imports.importerRuns.cancel();
    // A check can read a whole card.
    m_d->sourceMediaSafety.checks.cancel();
    // The pending record stays: the next launch resumes the move.
    if (m_d->ingestCache.ingestCacheMoveTask)
        m_d->ingestCache.ingestCacheMoveTask->cancel();
}

const QHash<QString, QString> &LibraryShellViewModel::retainedIngestCacheManifest() const
{
    return m_d->ingestCache.retainedIngestCacheManifest;
}

const IngestCache &LibraryShellViewModel::ingestCache() const
{
    return m_d->services.ingestCache;
}

const std::shared_ptr<IngestCacheRefreshGeneration> &
LibraryShellViewModel::ingestCacheRefreshGeneration() const
{
    return m_d->ingestCache.ingestCacheRefreshGeneration;
}

const SingleShotTimerFactory &LibraryShellViewModel::singleShotTimers() const
{
    return m_d->services.timers;
}

const QSet<QString> &LibraryShellViewModel::initialMountedImportSourceURLs() const
{
    return m_d->shell.initialMountedImportSourceURLs;
}

bool LibraryShellViewModel::isApplicationActive() const
{
    return m_d->shell.isApplicationActive;
}

void LibraryShellViewModel::setApplicationActive(bool active)
{
    m_d->shell.isApplicationActive = active;
}

bool LibraryShellViewModel::isIngestCacheMigrationPending() const
{
    return m_ingestCacheState->isIngestCacheMigrationPending();
}

qint64 LibraryShellViewModel::authenticationStateGeneration() const
{
    return m_d->session.authenticationStateGeneration;
}

bool LibraryShellViewModel::canStartImport(const LocalLibraryItem &item) const
{
    // `selectedImportItems` keeps its result while the records, the selection and the Ingest
    // Cache root stay the same: whatever else this reads must join its memo's key.
    if (isIngestCacheMigrationPending())
        return false;
    return item.importStatus == LibraryItemImportStatus::LocalCacheReady
           && isInActiveIngestCache(item);
}

bool LibraryShellViewModel::isInActiveIngestCache(const LocalLibraryItem &item) const
{
    return item.ingestCacheOriginalURL
           && liesBelow(*item.ingestCacheOriginalURL, m_d->services.ingestCache.rootURL());
}

QList<LocalLibraryItem> LibraryShellViewModel::selectedImportItems() const
{
    if (isIngestCacheMigrationPending())
        return {};
    const LocalLibraryCacheRecords records = m_library->allLocalLibraryRecords();
    return LibrarySelection::memoised(
        m_d->imports.selectedImportItemsMemo,
        records,
        std::pair(m_libraryState->selectedLibraryItemIDs(), m_d->services.ingestCache.rootURL()),
        [&] {
            return LibrarySelection::selectedRecords(
                records,
                m_libraryState->selectedLibraryItemIDs(),
                [this](const LocalLibraryItem &item) { return canStartImport(item); });
        });
}

bool LibraryShellViewModel::isIngestCacheRemovalBlocked() const
{
    return m_importState->isImporting() || isImporterBusy() || isIngestCacheMigrationPending();
}

QList<LocalLibraryItem> LibraryShellViewModel::selectedRemovableIngestCacheItems() const
{
    if (isIngestCacheRemovalBlocked())
        return {};
    const LocalLibraryCacheRecords records = m_library->allLocalLibraryRecords();
    return LibrarySelection::memoised(
        m_d->ingestCache.selectedRemovableIngestCacheItemsMemo,
        records,
        m_libraryState->selectedLibraryItemIDs(),
        [&] {
            return LibrarySelection::selectedRecords(
                records,
                m_libraryState->selectedLibraryItemIDs(),
                [](const LocalLibraryItem &item) {
                    return (item.importStatus == LibraryItemImportStatus::LocalCacheReady
                            || item.importStatus == LibraryItemImportStatus::NeedsAttention)
                           && item.ingestCacheOriginalURL.has_value();
                });
        });
}

} // namespace Pellwick
