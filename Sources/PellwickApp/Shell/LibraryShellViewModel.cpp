#include "LibraryShellViewModel.h"

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Support/FileManager.h>

#include <QDir>

#include <algorithm>

namespace Pellwick {

namespace {

constexpr double captureTimeWindowSeconds = 2'592'000; // 30 days

QString standardizedPath(const QString &path)
{
    return QDir::cleanPath(path);
}

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

QString LibraryShellViewModel::toRaw(Status status)
{
    switch (status) {
    case Status::Checking:
        return QStringLiteral("Checking backend");
    case Status::Reachable:
        return QStringLiteral("Backend reachable");
    case Status::Unreachable:
        return QStringLiteral("Backend unreachable");
    }
    return {};
}

std::optional<LibraryShellViewModel::Status>
LibraryShellViewModel::statusFromRaw(const QString &raw)
{
    for (Status status : {Status::Checking, Status::Reachable, Status::Unreachable}) {
        if (toRaw(status) == raw)
            return status;
    }
    return std::nullopt;
}

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
    QObject *parent)
    : QObject(parent)
    , m_healthClient(std::move(healthClient))
    , m_sessionClient(std::move(sessionClient))
    , m_tokenStore(std::move(tokenStore))
    , m_volumeDetector(std::move(volumeDetector))
    , m_importReviewBuilder(std::move(importReviewBuilder))
    , m_localLibraryCache(std::move(localLibraryCache))
    , m_ingestCache(ingestCache ? std::move(*ingestCache) : defaultIngestCache(m_localLibraryCache))
    , m_verifiedBackupImporter(std::move(verifiedBackupImporter))
    , m_restoreCoordinator(std::move(restoreCoordinator))
    , m_restoreTransferEngine(std::move(restoreTransferEngine))
    , m_restoreDestinationDirectory(std::move(restoreDestinationDirectory))
    , m_ingestCacheLocationStore(std::move(ingestCacheLocationStore))
    , m_steadyClock(std::move(steadyClock))
{
    Q_ASSERT_X(m_sessionClient && m_restoreTransferEngine && m_tokenStore
                   && m_ingestCacheLocationStore && m_steadyClock,
               "LibraryShellViewModel",
               "every collaborator is required");
    m_localLibraryCaptureTimeEnd = Date::now();
    m_localLibraryCaptureTimeStart
        = Date{m_localLibraryCaptureTimeEnd.secondsSinceReferenceDate - captureTimeWindowSeconds};
    // The store's values are loaded without the setters: observers do not run in construction.
    m_retainedIngestCacheURL = m_ingestCacheLocationStore->retained();
    m_retainedIngestCacheManifest = m_ingestCacheLocationStore->retainedManifest();
    m_pendingIngestCacheMigration = m_ingestCacheLocationStore->pendingMigration();

    // Media already inserted at launch is never proposed for import.
    if (const Result<QList<ImportScanVolume>> volumes = m_volumeDetector.removableVolumes()) {
        for (const ImportScanVolume &volume : *volumes)
            m_initialMountedImportSourceURLs.insert(standardizedPath(volume.url));
    }

    if (m_pendingIngestCacheMigration) {
        m_ingestCacheMigrationMessage = QStringLiteral(
            "Ingest Cache migration needs attention. Resume it before changing cached files.");
        finalizePersistedMigrationIfNecessary();
    }

    refreshVisibleLocalLibraryItems(true);
}

LibraryShellViewModel::~LibraryShellViewModel()
{
    // A check of a stalled backend would otherwise hold the process's exit.
    if (m_healthCheckTask)
        m_healthCheckTask->cancel();
    if (m_restorePollingTask)
        m_restorePollingTask->cancel();
}

bool LibraryShellViewModel::isIngestCacheMoveBlockingImports() const
{
    return isIngestCacheMigrationPending() || m_isMigratingIngestCache;
}

bool LibraryShellViewModel::canStartImport(const LocalLibraryItem &item) const
{
    // `selectedImportItems` keeps its result while the records, the selection and the Ingest
    // Cache root stay the same: whatever else this reads must join its memo's key.
    if (isIngestCacheMoveBlockingImports())
        return false;
    return item.ingestCacheOriginalURL
           && liesBelow(*item.ingestCacheOriginalURL, m_ingestCache.rootURL());
}

void LibraryShellViewModel::finalizePersistedMigrationIfNecessary()
{
    if (!m_pendingIngestCacheMigration)
        return;
    if (standardizedPath(m_pendingIngestCacheMigration->oldRootURL)
        == standardizedPath(m_pendingIngestCacheMigration->newRootURL)) {
        m_ingestCacheLocationStore->savePendingMigration(std::nullopt);
        setPendingIngestCacheMigration(std::nullopt);
    }
    // Finishing a move whose target is already the active cache belongs to the migration
    // workflow; until it exists here, such a move stays pending for the user to resume.
}

bool LibraryShellViewModel::isBusyForMountProposal() const
{
    return m_isScanningImportSources || m_isImporting || m_isMigratingIngestCache
           || m_isRestoreTransferActive || m_activeRestoreRequest.has_value();
}

void LibraryShellViewModel::receiveMountedImportSource(const std::optional<QString> &url)
{
    if (!url)
        return;
    const QString mounted = standardizedPath(*url);
    const Result<QList<ImportScanVolume>> volumes = m_volumeDetector.removableVolumes();
    if (!volumes)
        return;
    for (const ImportScanVolume &volume : *volumes) {
        if (standardizedPath(volume.url) != mounted)
            continue;
        if (m_initialMountedImportSourceURLs.contains(mounted)
            || m_dismissedMountedImportSourceURLs.contains(mounted))
            return;
        m_pendingMountedImportSources.insert(mounted, volume);
        presentPendingMountProposalIfPossible();
        return;
    }
}

void LibraryShellViewModel::receiveUnmountedImportSource(const std::optional<QString> &url)
{
    if (!url)
        return;
    const QString unmounted = standardizedPath(*url);
    // Ejected media is forgotten everywhere: inserted again, it is new, also when it was
    // mounted at launch or dismissed.
    m_initialMountedImportSourceURLs.remove(unmounted);
    m_dismissedMountedImportSourceURLs.remove(unmounted);
    if (!m_pendingMountedImportSources.remove(unmounted))
        return;
    // A banner that names the ejected medium is withdrawn at once, also while work runs: its
    // review would scan a folder that is gone.
    if (m_mountProposal
        && std::any_of(m_mountProposal->sources.cbegin(),
                       m_mountProposal->sources.cend(),
                       [&unmounted](const ImportScanVolume &volume) {
                           return standardizedPath(volume.url) == unmounted;
                       }))
        setMountProposal(std::nullopt);
    presentPendingMountProposalIfPossible();
}

void LibraryShellViewModel::acceptMountProposal()
{
    if (!m_mountProposal)
        return;
    for (const ImportScanVolume &volume : m_mountProposal->sources)
        m_pendingMountedImportSources.remove(standardizedPath(volume.url));
    setMountProposal(std::nullopt);
}

void LibraryShellViewModel::dismissMountProposal()
{
    if (!m_mountProposal)
        return;
    for (const ImportScanVolume &volume : m_mountProposal->sources) {
        const QString url = standardizedPath(volume.url);
        m_pendingMountedImportSources.remove(url);
        m_dismissedMountedImportSourceURLs.insert(url);
    }
    setMountProposal(std::nullopt);
}

void LibraryShellViewModel::presentPendingMountProposalIfPossible()
{
    if (m_pendingMountedImportSources.isEmpty() || isBusyForMountProposal())
        return;
    setMountProposal(MountProposal{m_pendingMountedImportSources.values()});
}

void LibraryShellViewModel::setStatus(Status value)
{
    m_status = std::move(value);
    Q_EMIT statusChanged();
}

void LibraryShellViewModel::setSession(std::optional<AuthenticatedLibrarySession> value)
{
    m_session = std::move(value);
    Q_EMIT sessionChanged();
}

void LibraryShellViewModel::setEmail(QString value)
{
    m_email = std::move(value);
    Q_EMIT emailChanged();
}

void LibraryShellViewModel::setPassword(QString value)
{
    m_password = std::move(value);
    Q_EMIT passwordChanged();
}

void LibraryShellViewModel::setPasswordConfirmation(QString value)
{
    m_passwordConfirmation = std::move(value);
    Q_EMIT passwordConfirmationChanged();
}

void LibraryShellViewModel::setPendingVerificationToken(std::optional<QString> value)
{
    m_pendingVerificationToken = std::move(value);
    Q_EMIT pendingVerificationTokenChanged();
}

void LibraryShellViewModel::setDisplayName(QString value)
{
    m_displayName = std::move(value);
    Q_EMIT displayNameChanged();
}

void LibraryShellViewModel::setCurrentPassword(QString value)
{
    m_currentPassword = std::move(value);
    Q_EMIT currentPasswordChanged();
}

void LibraryShellViewModel::setNewPassword(QString value)
{
    m_newPassword = std::move(value);
    Q_EMIT newPasswordChanged();
}

void LibraryShellViewModel::setNewPasswordConfirmation(QString value)
{
    m_newPasswordConfirmation = std::move(value);
    Q_EMIT newPasswordConfirmationChanged();
}

void LibraryShellViewModel::setPasswordChangeErrorMessage(std::optional<QString> value)
{
    m_passwordChangeErrorMessage = std::move(value);
    Q_EMIT passwordChangeErrorMessageChanged();
}

void LibraryShellViewModel::setAuthMessage(std::optional<QString> value)
{
    m_authMessage = std::move(value);
    Q_EMIT authMessageChanged();
}

void LibraryShellViewModel::setErrorMessage(std::optional<QString> value)
{
    m_errorMessage = std::move(value);
    Q_EMIT errorMessageChanged();
}

void LibraryShellViewModel::setImportReviewState(ImportReviewState value)
{
    m_importReviewState = std::move(value);
    Q_EMIT importReviewStateChanged();
}

void LibraryShellViewModel::setIsScanningImportSources(bool value)
{
    m_isScanningImportSources = std::move(value);
    Q_EMIT isScanningImportSourcesChanged();
}

void LibraryShellViewModel::setIsImporting(bool value)
{
    m_isImporting = std::move(value);
    Q_EMIT isImportingChanged();
    presentPendingMountProposalIfPossible();
}

void LibraryShellViewModel::setIsRecoveringInterruptedImports(bool value)
{
    m_isRecoveringInterruptedImports = std::move(value);
    Q_EMIT isRecoveringInterruptedImportsChanged();
}

void LibraryShellViewModel::setIsMigratingIngestCache(bool value)
{
    m_isMigratingIngestCache = std::move(value);
    Q_EMIT isMigratingIngestCacheChanged();
    presentPendingMountProposalIfPossible();
}

void LibraryShellViewModel::setIngestCacheMigrationMessage(std::optional<QString> value)
{
    m_ingestCacheMigrationMessage = std::move(value);
    Q_EMIT ingestCacheMigrationMessageChanged();
}

void LibraryShellViewModel::setRetainedIngestCacheURL(std::optional<QString> value)
{
    m_retainedIngestCacheURL = std::move(value);
    Q_EMIT retainedIngestCacheURLChanged();
}

void LibraryShellViewModel::setRetainedIngestCacheConflicts(
    QList<IngestCacheMigrationConflict> value)
{
    m_retainedIngestCacheConflicts = std::move(value);
    Q_EMIT retainedIngestCacheConflictsChanged();
}

void LibraryShellViewModel::setPendingIngestCacheMigration(
    std::optional<IngestCacheLocationStoring::PendingMigration> value)
{
    m_pendingIngestCacheMigration = std::move(value);
    Q_EMIT pendingIngestCacheMigrationChanged();
    presentPendingMountProposalIfPossible();
}

void LibraryShellViewModel::setImportErrorMessage(std::optional<QString> value)
{
    m_importErrorMessage = std::move(value);
    Q_EMIT importErrorMessageChanged();
}

void LibraryShellViewModel::setTransferProgresses(QList<TransferProgress> value)
{
    m_transferProgresses = std::move(value);
    Q_EMIT transferProgressesChanged();
}

void LibraryShellViewModel::setImportRecoveryMessage(std::optional<QString> value)
{
    m_importRecoveryMessage = std::move(value);
    Q_EMIT importRecoveryMessageChanged();
}

void LibraryShellViewModel::setHasLocalLibraryRecords(bool value)
{
    m_hasLocalLibraryRecords = std::move(value);
    Q_EMIT hasLocalLibraryRecordsChanged();
}

void LibraryShellViewModel::setLibraryReadErrorMessage(std::optional<QString> value)
{
    // Published at every refresh of the visible items: only a change is announced.
    if (m_libraryReadErrorMessage == value)
        return;
    m_libraryReadErrorMessage = std::move(value);
    Q_EMIT libraryReadErrorMessageChanged();
}

void LibraryShellViewModel::setLocalLibraryItems(QList<LocalLibraryItem> value)
{
    m_localLibraryItems = std::move(value);
    Q_EMIT localLibraryItemsChanged();
}

void LibraryShellViewModel::setLocalLibraryItemsRevision(qint64 value)
{
    m_localLibraryItemsRevision = std::move(value);
    Q_EMIT localLibraryItemsRevisionChanged();
}

void LibraryShellViewModel::setInspectedLocalLibraryItemID(std::optional<QUuid> value)
{
    m_inspectedLocalLibraryItemID = std::move(value);
    Q_EMIT inspectedLocalLibraryItemIDChanged();
}

void LibraryShellViewModel::setSelectedLibraryItemIDs(QSet<QUuid> value)
{
    m_selectedLibraryItemIDs = std::move(value);
    Q_EMIT selectedLibraryItemIDsChanged();
}

void LibraryShellViewModel::setImportSelectionConfirmation(
    std::optional<ImportSelectionConfirmation> value)
{
    m_importSelectionConfirmation = std::move(value);
    Q_EMIT importSelectionConfirmationChanged();
}

void LibraryShellViewModel::setIngestCacheRemovalConfirmation(
    std::optional<IngestCacheRemovalConfirmation> value)
{
    m_ingestCacheRemovalConfirmation = std::move(value);
    Q_EMIT ingestCacheRemovalConfirmationChanged();
}

void LibraryShellViewModel::setInitialIngestCacheCreation(
    std::optional<InitialIngestCacheCreation> value)
{
    m_initialIngestCacheCreation = std::move(value);
    Q_EMIT initialIngestCacheCreationChanged();
}

void LibraryShellViewModel::setActiveRestoreRequest(std::optional<RestoreRequest> value)
{
    m_activeRestoreRequest = std::move(value);
    Q_EMIT activeRestoreRequestChanged();
    presentPendingMountProposalIfPossible();
}

void LibraryShellViewModel::setRestoreMessage(std::optional<QString> value)
{
    m_restoreMessage = std::move(value);
    Q_EMIT restoreMessageChanged();
}

void LibraryShellViewModel::setRestoreErrorMessage(std::optional<QString> value)
{
    m_restoreErrorMessage = std::move(value);
    Q_EMIT restoreErrorMessageChanged();
}

void LibraryShellViewModel::setNeedsLocalLibraryCacheRebuild(bool value)
{
    m_needsLocalLibraryCacheRebuild = std::move(value);
    Q_EMIT needsLocalLibraryCacheRebuildChanged();
}

void LibraryShellViewModel::setLastCompletedRestoreDestination(std::optional<QString> value)
{
    m_lastCompletedRestoreDestination = std::move(value);
    Q_EMIT lastCompletedRestoreDestinationChanged();
}

void LibraryShellViewModel::setIsRestoreTransferActive(bool value)
{
    m_isRestoreTransferActive = std::move(value);
    Q_EMIT isRestoreTransferActiveChanged();
    presentPendingMountProposalIfPossible();
}

void LibraryShellViewModel::setIsCancellingRestore(bool value)
{
    m_isCancellingRestore = std::move(value);
    Q_EMIT isCancellingRestoreChanged();
}

void LibraryShellViewModel::setHasPausedRestoreTransfer(bool value)
{
    m_hasPausedRestoreTransfer = std::move(value);
    Q_EMIT hasPausedRestoreTransferChanged();
}

void LibraryShellViewModel::setMountProposal(std::optional<MountProposal> value)
{
    m_mountProposal = std::move(value);
    Q_EMIT mountProposalChanged();
}

void LibraryShellViewModel::setRestoreFilenameConflict(std::optional<RestoreFilenameConflict> value)
{
    m_restoreFilenameConflict = std::move(value);
    Q_EMIT restoreFilenameConflictChanged();
}

void LibraryShellViewModel::setRestoreConflictFilename(QString value)
{
    m_restoreConflictFilename = std::move(value);
    Q_EMIT restoreConflictFilenameChanged();
}

} // namespace Pellwick
