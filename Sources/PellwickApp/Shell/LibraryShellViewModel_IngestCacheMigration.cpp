#include "LibraryShellViewModel_p.h"

#include <PellwickCore/Ingest/IngestCacheMigration.h>
#include <PellwickCore/Ingest/TransferProgress.h>
#include <PellwickCore/Library/LocalLibraryCacheRecords.h>

#include <QFuture>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <optional>
#include <stop_token>

namespace Pellwick {

namespace {

using PendingMigration = IngestCacheLocationStoring::PendingMigration;

const QString outsideCurrentCacheMessage
    = QStringLiteral("Choose an Ingest Cache location outside the current cache.");
const QString activeArchivePackagesMessage
    = QStringLiteral("Wait for active archive packages to finish before moving Ingest Cache.");
const QString readyToResumeMessage
    = QStringLiteral("Ingest Cache move is ready to resume until verification completes.");
const QString migrationAttentionMessage = QStringLiteral("Ingest Cache migration needs attention.");
const QString movedMessage = QStringLiteral(
    "Ingest Cache moved and verified. Keep the old cache until cleanup is available.");
const QString locationChangedMessage
    = QStringLiteral("Ingest Cache move cannot resume because the active cache location changed. "
                     "Start a new move.");
const QString synchronizationAttentionMessage
    = QStringLiteral("Old cache synchronization needs attention.");
const QString synchronizedMessage
    = QStringLiteral("Old cache is synchronized and ready for deletion confirmation.");
const QString deletionAttentionMessage
    = QStringLiteral("Old Ingest Cache deletion needs attention.");
const QString deletedMessage = QStringLiteral("Old Ingest Cache deleted after verification.");

/// The Ingest Cache text of `error`, else `otherwise`.
QString cacheErrorText(const Error &error, const QString &otherwise)
{
    const IngestCacheError *cacheError = error.as<IngestCacheError>();
    return cacheError ? LibraryShellViewModel::ingestCacheMessage(*cacheError) : otherwise;
}

/// Roots written differently ("/a/", "/a/./b/..") name the same place.
bool isSamePlace(const QString &first, const QString &second)
{
    return standardizedPath(first) == standardizedPath(second);
}

/// The move's copy and relocation, on the move pool. The library stays locked for the whole
/// copy, so no import or refresh writes records that the copy would miss.
Result<IngestCacheMigration> moveIngestCache(const IngestCache &cache,
                                             const LocalLibraryCache &library,
                                             const QString &newRoot,
                                             const TransferProgressSink &progress,
                                             const QUuid &transferID,
                                             std::stop_token stop)
{
    PELLWICK_TRY_ASSIGN(IngestCacheMigration migration, library.withExclusiveAccess([&] {
        return cache.migrate(newRoot, progress, transferID, stop);
    }));
    PELLWICK_TRY(library.relocateIngestCacheItems(migration.oldRootURL, migration.newRootURL));
    return migration;
}

} // namespace

bool LibraryShellViewModel::hasActiveArchivePackage() const
{
    bool active = false;
    m_library->allLocalLibraryRecords().forEach([&active](const LocalLibraryItem &item) {
        active = active || item.importStatus == LibraryItemImportStatus::Uploading
                 || item.importStatus == LibraryItemImportStatus::Verifying
                 || item.importStatus == LibraryItemImportStatus::CleanupPending;
    });
    return active;
}

QCoro::Task<> LibraryShellViewModel::beginIngestCacheMigration(QString newRoot)
{
    // A second copy into the same target would race the first.
    if (m_ingestCacheState->isMigratingIngestCache() || m_d->ingestCache.isRetainedCacheWorkRunning)
        co_return;
    const QString activeRoot = m_d->services.ingestCache.rootURL();
    if (isSamePlace(newRoot, activeRoot)) {
        m_ingestCacheState->setIngestCacheMigrationMessage(outsideCurrentCacheMessage);
        co_return;
    }
    if (hasActiveArchivePackage()) {
        m_ingestCacheState->setIngestCacheMigrationMessage(activeArchivePackagesMessage);
        co_return;
    }
    const PendingMigration pending{activeRoot, newRoot};
    // Without its record a move interrupted now could not be finished or resumed.
    if (!m_d->services.ingestCacheLocationStore->savePendingMigration(pending)) {
        m_ingestCacheState->setIngestCacheMigrationMessage(migrationAttentionMessage);
        co_return;
    }
    m_ingestCacheState->setPendingIngestCacheMigration(pending);
    m_ingestCacheState->setIngestCacheMigrationMessage(readyToResumeMessage);
    co_await performIngestCacheMigration(newRoot);
}

QCoro::Task<> LibraryShellViewModel::resumeIngestCacheMigration()
{
    const std::optional<PendingMigration> pending
        = m_ingestCacheState->pendingIngestCacheMigration();
    if (!pending || m_ingestCacheState->isMigratingIngestCache())
        co_return;
    const QString activeRoot = m_d->services.ingestCache.rootURL();
    if (isSamePlace(pending->oldRootURL, pending->newRootURL))
        discardInvalidPendingMigration();
    else if (isSamePlace(pending->newRootURL, activeRoot))
        finalizePersistedMigration(*pending);
    else if (isSamePlace(pending->oldRootURL, activeRoot))
        co_await performIngestCacheMigration(pending->newRootURL);
    else
        m_ingestCacheState->setIngestCacheMigrationMessage(locationChangedMessage);
}

void LibraryShellViewModel::finalizePersistedMigrationIfNecessary()
{
    const std::optional<PendingMigration> pending
        = m_ingestCacheState->pendingIngestCacheMigration();
    if (!pending)
        return;
    if (isSamePlace(pending->oldRootURL, pending->newRootURL))
        discardInvalidPendingMigration();
    else if (isSamePlace(pending->newRootURL, m_d->services.ingestCache.rootURL()))
        finalizePersistedMigration(*pending);
}

QCoro::Task<> LibraryShellViewModel::performIngestCacheMigration(QString newRoot)
{
    const IngestCacheLocationStoring &store = *m_d->services.ingestCacheLocationStore;
    if (hasActiveArchivePackage()) {
        // Reached only from a resume: the start checks first.
        if (store.savePendingMigration(std::nullopt))
            m_ingestCacheState->setPendingIngestCacheMigration(std::nullopt);
        m_ingestCacheState->setIngestCacheMigrationMessage(activeArchivePackagesMessage);
        co_return;
    }
    // A refresh scanning the old root now would apply its result to records about to move.
    m_d->ingestCache.ingestCacheRefreshGeneration->advance();
    const QUuid transferID = QUuid::createUuid();
    m_board->open(transferID);
    m_board->update(TransferProgress{transferID,
                                     QStringLiteral("Move Ingest Cache"),
                                     TransferProgressPhase::Preparing,
                                     std::nullopt,
                                     std::nullopt,
                                     std::nullopt,
                                     std::nullopt,
                                     0,
                                     0,
                                     0,
                                     0});
    m_ingestCacheState->setIsMigratingIngestCache(true);

    m_d->ingestCache.ingestCacheMoveTask.emplace();
    const std::stop_token stop = m_d->ingestCache.ingestCacheMoveTask->token();
    const QPointer<LibraryShellViewModel> self(this);
    QFuture<Result<IngestCacheMigration>> job = Workflow::run(
        WorkflowPools::ingestCacheMove(),
        [cache = m_d->services.ingestCache,
         library = m_d->services.localLibraryCache,
         newRoot,
         progress = m_board->sink(),
         transferID,
         stop] { return moveIngestCache(cache, library, newRoot, progress, transferID, stop); });
    const std::optional<Result<IngestCacheMigration>> moved
        = co_await Workflow::resumeIn(self, stop, job);
    if (!moved)
        co_return; // the view model is gone: the pending record stays for the next launch
    finishIngestCacheMigration(*moved, transferID);
}

void LibraryShellViewModel::finishIngestCacheMigration(const Result<IngestCacheMigration> &result,
                                                       const QUuid &transferID)
{
    const IngestCacheLocationStoring &store = *m_d->services.ingestCacheLocationStore;
    if (!result) {
        m_ingestCacheState->setIngestCacheMigrationMessage(
            cacheErrorText(result.error(), migrationAttentionMessage));
        // Nothing of the new root was saved, so the old root stays active and there is nothing
        // to resume: a record kept now would only block every cache workflow. A later move into
        // the same folder picks up the copy through the target's marker.
        if (store.savePendingMigration(std::nullopt))
            m_ingestCacheState->setPendingIngestCacheMigration(std::nullopt);
    } else if (!store.saveRetained(result->oldRootURL)
               || !store.saveRetainedManifest(result->fileHashes)
               || !store.save(result->newRootURL)) {
        // The record stays: Resume copies again (nothing left to copy) and saves again.
        m_ingestCacheState->setIngestCacheMigrationMessage(migrationAttentionMessage);
    } else {
        const IngestCacheMigration &migration = *result;
        const IngestCache &oldCache = m_d->services.ingestCache;
        m_d->services.ingestCache = IngestCache(migration.newRootURL,
                                                m_d->services.fileManager,
                                                oldCache.sharedContentHasher(),
                                                oldCache.availableCapacity());
        m_ingestCacheState->setIngestCacheRoot(migration.newRootURL);
        if (const Result<void> completed
            = m_d->services.ingestCache.completeMigration(migration.newRootURL);
            !completed) {
            m_ingestCacheState->setIngestCacheMigrationMessage(
                cacheErrorText(completed.error(), migrationAttentionMessage));
        } else {
            // A record that could not be removed finalizes itself at the next launch: the new
            // root is saved as active.
            static_cast<void>(store.savePendingMigration(std::nullopt));
            m_ingestCacheState->setPendingIngestCacheMigration(std::nullopt);
            m_ingestCacheState->setRetainedIngestCacheURL(migration.oldRootURL);
            m_d->ingestCache.retainedIngestCacheManifest = migration.fileHashes;
            // Conflicts of an earlier retained cache name files of a cache no longer kept.
            m_ingestCacheState->setRetainedIngestCacheConflicts({});
            m_library->refreshVisibleLocalLibraryItems(true);
            m_ingestCacheState->setIngestCacheMigrationMessage(movedMessage);
        }
    }
    m_d->ingestCache.ingestCacheMoveTask.reset();
    m_ingestCacheState->setIsMigratingIngestCache(false);
    m_board->remove(transferID);
    drainPendingIngestCacheRefresh();
}

void LibraryShellViewModel::finalizePersistedMigration(const PendingMigration &pending)
{
    const IngestCacheLocationStoring &store = *m_d->services.ingestCacheLocationStore;
    if (!m_d->services.ingestCache.completeMigration(pending.newRootURL)
        || !store.savePendingMigration(std::nullopt)) {
        m_ingestCacheState->setIngestCacheMigrationMessage(migrationAttentionMessage);
        return;
    }
    m_ingestCacheState->setPendingIngestCacheMigration(std::nullopt);
    // The finish step that saved them may have run earlier in this same run.
    m_ingestCacheState->setRetainedIngestCacheURL(store.retained());
    m_d->ingestCache.retainedIngestCacheManifest = store.retainedManifest();
    m_ingestCacheState->setIngestCacheMigrationMessage(movedMessage);
}

void LibraryShellViewModel::discardInvalidPendingMigration()
{
    if (m_d->services.ingestCacheLocationStore->savePendingMigration(std::nullopt))
        m_ingestCacheState->setPendingIngestCacheMigration(std::nullopt);
    m_ingestCacheState->setIngestCacheMigrationMessage(outsideCurrentCacheMessage);
}

QCoro::Task<> LibraryShellViewModel::synchronizeRetainedIngestCache()
{
    const std::optional<QString> retained = m_ingestCacheState->retainedIngestCacheURL();
    if (isIngestCacheMigrationPending() || !retained || m_d->ingestCache.isRetainedCacheWorkRunning)
        co_return;
    m_d->ingestCache.isRetainedCacheWorkRunning = true;
    const QPointer<LibraryShellViewModel> self(this);
    QFuture<Result<IngestCacheMigrationReconciliation>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [cache = m_d->services.ingestCache,
                         retained = *retained,
                         manifest = m_d->ingestCache.retainedIngestCacheManifest] {
                            return cache.synchronizeRetainedCache(retained, manifest);
                        });
    const std::optional<Result<IngestCacheMigrationReconciliation>> synchronized
        = co_await Workflow::resumeIn(self, {}, job);
    if (!synchronized)
        co_return;
    m_d->ingestCache.isRetainedCacheWorkRunning = false;
    publishRetainedCacheSynchronization(*synchronized);
}

QCoro::Task<> LibraryShellViewModel::resolveRetainedIngestCacheConflict(
    IngestCacheMigrationConflict conflict, IngestCacheMigrationConflictResolution keeping)
{
    const std::optional<QString> retained = m_ingestCacheState->retainedIngestCacheURL();
    // Only a conflict this model published is settled: its two paths are written to.
    if (isIngestCacheMigrationPending() || !retained || m_d->ingestCache.isRetainedCacheWorkRunning
        || !m_ingestCacheState->retainedIngestCacheConflicts().contains(conflict))
        co_return;
    m_d->ingestCache.isRetainedCacheWorkRunning = true;
    const QPointer<LibraryShellViewModel> self(this);
    QFuture<Result<IngestCacheMigrationReconciliation>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [cache = m_d->services.ingestCache,
                         conflict,
                         keeping,
                         retained = *retained,
                         manifest = m_d->ingestCache.retainedIngestCacheManifest]()
                            -> Result<IngestCacheMigrationReconciliation> {
                            PELLWICK_TRY(cache.resolveRetainedCacheConflict(conflict, keeping));
                            return cache.synchronizeRetainedCache(retained, manifest);
                        });
    const std::optional<Result<IngestCacheMigrationReconciliation>> synchronized
        = co_await Workflow::resumeIn(self, {}, job);
    if (!synchronized)
        co_return;
    m_d->ingestCache.isRetainedCacheWorkRunning = false;
    publishRetainedCacheSynchronization(*synchronized);
}

void LibraryShellViewModel::publishRetainedCacheSynchronization(
    const Result<IngestCacheMigrationReconciliation> &synchronized)
{
    if (!synchronized) {
        m_ingestCacheState->setIngestCacheMigrationMessage(
            cacheErrorText(synchronized.error(), synchronizationAttentionMessage));
        return;
    }
    const qsizetype conflicts = synchronized->conflicts.size();
    m_ingestCacheState->setRetainedIngestCacheConflicts(synchronized->conflicts);
    m_ingestCacheState->setIngestCacheMigrationMessage(
        conflicts > 0 ? QStringLiteral("Resolve ") + QString::number(conflicts)
                            + QStringLiteral(" old-cache conflicts before deletion.")
                      : synchronizedMessage);
}

QCoro::Task<> LibraryShellViewModel::deleteRetainedIngestCache()
{
    const std::optional<QString> retained = m_ingestCacheState->retainedIngestCacheURL();
    if (isIngestCacheMigrationPending() || !retained || m_d->ingestCache.isRetainedCacheWorkRunning
        || !m_ingestCacheState->retainedIngestCacheConflicts().isEmpty())
        co_return;
    m_d->ingestCache.isRetainedCacheWorkRunning = true;
    const QPointer<LibraryShellViewModel> self(this);
    QFuture<Result<void>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [cache = m_d->services.ingestCache,
                         retained = *retained,
                         manifest = m_d->ingestCache.retainedIngestCacheManifest] {
                            return cache.removeRetainedCache(retained, manifest);
                        });
    const std::optional<Result<void>> removed = co_await Workflow::resumeIn(self, {}, job);
    if (!removed)
        co_return;
    m_d->ingestCache.isRetainedCacheWorkRunning = false;
    if (!*removed) {
        m_ingestCacheState->setIngestCacheMigrationMessage(
            cacheErrorText(removed->error(), deletionAttentionMessage));
        co_return;
    }
    const IngestCacheLocationStoring &store = *m_d->services.ingestCacheLocationStore;
    // Still known until forgotten for good: a second deletion finds the folder gone and
    // forgets it then.
    if (!store.saveRetained(std::nullopt) || !store.saveRetainedManifest(std::nullopt)) {
        m_ingestCacheState->setIngestCacheMigrationMessage(deletionAttentionMessage);
        co_return;
    }
    m_ingestCacheState->setRetainedIngestCacheURL(std::nullopt);
    m_d->ingestCache.retainedIngestCacheManifest.clear();
    m_ingestCacheState->setIngestCacheMigrationMessage(deletedMessage);
}

} // namespace Pellwick
