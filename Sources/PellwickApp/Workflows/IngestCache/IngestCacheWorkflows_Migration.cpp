#include "IngestCacheWorkflows.h"

#include <PellwickApp/Feedback/IngestCacheFeedback.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/StandardizedPath.h>
#include <PellwickApp/Workflows/TransferProgressBoard.h>
#include <PellwickCore/Ingest/IngestCacheMigration.h>
#include <PellwickCore/Ingest/TransferProgress.h>
#include <PellwickCore/Library/LocalLibraryCacheRecords.h>
#include <PellwickCore/Support/FileIdentity.h>

#include <QFuture>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <optional>
#include <stop_token>
#include <variant>

namespace Pellwick {

namespace {

using PendingMigration = IngestCacheLocationStoring::PendingMigration;

/// Roots written differently ("/a/", "/a/./b/..") name the same place.
bool isSamePlace(const QString &first, const QString &second)
{
    return standardizedPath(first) == standardizedPath(second);
}

/// A move not started because a running restore saves into its target (or a folder inside it):
/// the move's retry would remove the restored files, or the cleanup would take them for archived
/// copies.
struct BesideRestore
{};

/// The move's copy, or why it did not start.
using MoveOutcome = std::variant<IngestCacheMigration, BesideRestore>;

/// The move's copy and relocation, on the move pool. The library stays locked for the whole
/// copy, so no import or refresh writes records that the copy would miss. `restoring` was read
/// in the turn of the main thread that made the move pending, which a restore starting later
/// refuses as a destination.
Result<MoveOutcome> moveIngestCache(const IngestCache &cache,
                                    const LocalLibraryCache &library,
                                    const QString &newRoot,
                                    const std::optional<QString> &restoring,
                                    const TransferProgressSink &progress,
                                    const QUuid &transferID,
                                    const FolderHold &hold,
                                    std::stop_token stop)
{
    if (restoring && isSameOrInsideByIdentity(cache.fileManager(), *restoring, newRoot))
        return BesideRestore{};
    // Another running copy's cache is no target: held before the copy when the folder is
    // there, else as soon as the copy has made it.
    if (hold && cache.fileManager().fileExists(newRoot))
        PELLWICK_TRY(hold(newRoot));
    PELLWICK_TRY_ASSIGN(IngestCacheMigration migration, library.withExclusiveAccess([&] {
        return cache.migrate(newRoot, progress, transferID, stop);
    }));
    if (hold)
        PELLWICK_TRY(hold(newRoot));
    PELLWICK_TRY(library.relocateIngestCacheItems(migration.oldRootURL, migration.newRootURL));
    return migration;
}

} // namespace

bool IngestCacheWorkflows::hasActiveArchivePackage() const
{
    bool active = false;
    const Result<LocalLibraryCacheRecords> records = m_services.localLibraryCache.cachedRecords();
    if (!records)
        return false;
    records->forEach([&active](const LocalLibraryItem &item) {
        active = active || item.importStatus == LibraryItemImportStatus::Uploading
                 || item.importStatus == LibraryItemImportStatus::Verifying
                 || item.importStatus == LibraryItemImportStatus::CleanupPending;
    });
    return active;
}

QCoro::Task<> IngestCacheWorkflows::beginIngestCacheMigration(QString newRoot)
{
    // A second copy into the same target would race the first.
    if (m_state.isMigratingIngestCache() || m_isRetainedCacheWorkRunning)
        co_return;
    const QString activeRoot = m_services.ingestCache.rootURL();
    if (isSamePlace(newRoot, activeRoot)) {
        m_state.setIngestCacheMigrationFailure(IngestCacheFeedback::outsideCurrentCacheMessage());
        co_return;
    }
    if (hasActiveArchivePackage()) {
        m_state.setIngestCacheMigrationFailure(IngestCacheFeedback::activeArchivePackagesMessage());
        co_return;
    }
    const PendingMigration pending{activeRoot, newRoot};
    // Without its record a move interrupted now could not be finished or resumed.
    if (!m_services.ingestCacheLocationStore->savePendingMigration(pending)) {
        m_state.setIngestCacheMigrationFailure(
            IngestCacheFeedback::migrationNeedsAttentionMessage());
        co_return;
    }
    m_state.setPendingIngestCacheMigration(pending);
    m_state.setIngestCacheMigrationMessage(IngestCacheFeedback::readyToResumeMessage());
    co_await performIngestCacheMigration(newRoot);
}

QCoro::Task<> IngestCacheWorkflows::resumeIngestCacheMigration()
{
    const std::optional<PendingMigration> pending = m_state.pendingIngestCacheMigration();
    if (!pending || m_state.isMigratingIngestCache())
        co_return;
    const QString activeRoot = m_services.ingestCache.rootURL();
    if (isSamePlace(pending->oldRootURL, pending->newRootURL))
        discardInvalidPendingMigration();
    else if (isSamePlace(pending->newRootURL, activeRoot))
        finalizePersistedMigration(*pending);
    else if (isSamePlace(pending->oldRootURL, activeRoot))
        co_await performIngestCacheMigration(pending->newRootURL);
    else
        m_state.setIngestCacheMigrationFailure(IngestCacheFeedback::locationChangedMessage());
}

void IngestCacheWorkflows::finalizePersistedMigrationIfNecessary()
{
    const std::optional<PendingMigration> pending = m_state.pendingIngestCacheMigration();
    if (!pending)
        return;
    if (isSamePlace(pending->oldRootURL, pending->newRootURL))
        discardInvalidPendingMigration();
    else if (isSamePlace(pending->newRootURL, m_services.ingestCache.rootURL()))
        finalizePersistedMigration(*pending);
}

QCoro::Task<> IngestCacheWorkflows::performIngestCacheMigration(QString newRoot)
{
    const IngestCacheLocationStoring &store = *m_services.ingestCacheLocationStore;
    if (hasActiveArchivePackage()) {
        // Reached only from a resume: the start checks first.
        if (store.savePendingMigration(std::nullopt))
            m_state.setPendingIngestCacheMigration(std::nullopt);
        m_state.setIngestCacheMigrationFailure(IngestCacheFeedback::activeArchivePackagesMessage());
        co_return;
    }
    // A refresh scanning the old root now would apply its result to records about to move.
    m_ingestCacheRefreshGeneration->advance();
    const QUuid transferID = QUuid::createUuid();
    m_board.open(transferID);
    m_board.update(TransferProgress{transferID,
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
    m_state.setIsMigratingIngestCache(true);

    m_ingestCacheMoveTask.emplace();
    const std::stop_token stop = m_ingestCacheMoveTask->token();
    const QPointer<IngestCacheWorkflows> self(this);
    QFuture<Result<MoveOutcome>> job = Workflow::run(
        WorkflowPools::ingestCacheMove(),
        [cache = m_services.ingestCache,
         library = m_services.localLibraryCache,
         newRoot,
         restoring = m_services.restoreDestination ? m_services.restoreDestination() : std::nullopt,
         progress = m_board.sink(),
         transferID,
         hold = m_folderHold,
         stop] {
            return moveIngestCache(
                cache, library, newRoot, restoring, progress, transferID, hold, stop);
        });
    const std::optional<Result<MoveOutcome>> moved = co_await Workflow::resumeIn(self, stop, job);
    if (!moved)
        co_return; // the view model is gone: the pending record stays for the next launch
    if (*moved && std::holds_alternative<BesideRestore>(**moved)) {
        // Nothing was copied: as after a failed copy, there is nothing to resume.
        if (m_services.ingestCacheLocationStore->savePendingMigration(std::nullopt))
            m_state.setPendingIngestCacheMigration(std::nullopt);
        m_state.setIngestCacheMigrationFailure(IngestCacheFeedback::restoreDestinationMessage());
        endIngestCacheMove(transferID);
        co_return;
    }
    finishIngestCacheMigration(
        *moved ? Result<IngestCacheMigration>(std::get<IngestCacheMigration>(**moved))
               : tl::unexpected<Error>(moved->error()),
        newRoot,
        transferID);
}

void IngestCacheWorkflows::finishIngestCacheMigration(const Result<IngestCacheMigration> &result,
                                                      const QString &newRoot,
                                                      const QUuid &transferID)
{
    const IngestCacheLocationStoring &store = *m_services.ingestCacheLocationStore;
    if (!result) {
        m_state.setIngestCacheMigrationFailure(IngestCacheFeedback::moveFailedMessage(
            result.error(), newRoot, IngestCacheFeedback::migrationNeedsAttentionMessage()));
        // Nothing of the new root was saved, so the old root stays active and there is nothing
        // to resume: a record kept now would only block every cache workflow. A later move into
        // the same folder picks up the copy through the target's marker.
        if (store.savePendingMigration(std::nullopt))
            m_state.setPendingIngestCacheMigration(std::nullopt);
    } else if (!store.saveRetained(result->oldRootURL)
               || !store.saveRetainedManifest(result->fileHashes)
               || !store.save(result->newRootURL)) {
        // The record stays: Resume copies again (nothing left to copy) and saves again.
        m_state.setIngestCacheMigrationFailure(
            IngestCacheFeedback::migrationNeedsAttentionMessage());
    } else {
        const IngestCacheMigration &migration = *result;
        const IngestCache &oldCache = m_services.ingestCache;
        m_services.ingestCache = IngestCache(migration.newRootURL,
                                             m_services.fileManager,
                                             oldCache.sharedContentHasher(),
                                             oldCache.availableCapacity());
        m_state.setIngestCacheRoot(migration.newRootURL);
        if (const Result<void> completed
            = m_services.ingestCache.completeMigration(migration.newRootURL);
            !completed) {
            m_state.setIngestCacheMigrationFailure(IngestCacheFeedback::message(
                completed.error(), IngestCacheFeedback::migrationNeedsAttentionMessage()));
        } else {
            // A record that could not be removed finalizes itself at the next launch: the new
            // root is saved as active.
            static_cast<void>(store.savePendingMigration(std::nullopt));
            m_state.setPendingIngestCacheMigration(std::nullopt);
            m_state.setRetainedIngestCacheURL(migration.oldRootURL);
            m_retainedIngestCacheManifest = migration.fileHashes;
            // Conflicts of an earlier retained cache name files of a cache no longer kept.
            m_state.setRetainedIngestCacheConflicts({});
            m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
            m_state.setIngestCacheMigrationMessage(IngestCacheFeedback::movedMessage());
        }
    }
    endIngestCacheMove(transferID);
}

void IngestCacheWorkflows::endIngestCacheMove(const QUuid &transferID)
{
    m_ingestCacheMoveTask.reset();
    m_state.setIsMigratingIngestCache(false);
    m_board.remove(transferID);
    drainPendingIngestCacheRefresh();
}

void IngestCacheWorkflows::finalizePersistedMigration(const PendingMigration &pending)
{
    const IngestCacheLocationStoring &store = *m_services.ingestCacheLocationStore;
    if (!m_services.ingestCache.completeMigration(pending.newRootURL)
        || !store.savePendingMigration(std::nullopt)) {
        m_state.setIngestCacheMigrationFailure(
            IngestCacheFeedback::migrationNeedsAttentionMessage());
        return;
    }
    m_state.setPendingIngestCacheMigration(std::nullopt);
    // The finish step that saved them may have run earlier in this same run.
    m_state.setRetainedIngestCacheURL(store.retained());
    m_retainedIngestCacheManifest = store.retainedManifest();
    m_state.setIngestCacheMigrationMessage(IngestCacheFeedback::movedMessage());
}

void IngestCacheWorkflows::discardInvalidPendingMigration()
{
    if (m_services.ingestCacheLocationStore->savePendingMigration(std::nullopt))
        m_state.setPendingIngestCacheMigration(std::nullopt);
    m_state.setIngestCacheMigrationFailure(IngestCacheFeedback::outsideCurrentCacheMessage());
}

QCoro::Task<> IngestCacheWorkflows::synchronizeRetainedIngestCache()
{
    const std::optional<QString> retained = m_state.retainedIngestCacheURL();
    if (isIngestCacheMigrationPending() || !retained || m_isRetainedCacheWorkRunning)
        co_return;
    m_isRetainedCacheWorkRunning = true;
    const QPointer<IngestCacheWorkflows> self(this);
    QFuture<Result<IngestCacheMigrationReconciliation>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [cache = m_services.ingestCache,
                         retained = *retained,
                         manifest = m_retainedIngestCacheManifest] {
                            return cache.synchronizeRetainedCache(retained, manifest);
                        });
    const std::optional<Result<IngestCacheMigrationReconciliation>> synchronized
        = co_await Workflow::resumeIn(self, {}, job);
    if (!synchronized)
        co_return;
    m_isRetainedCacheWorkRunning = false;
    publishRetainedCacheSynchronization(*synchronized);
}

QCoro::Task<> IngestCacheWorkflows::resolveRetainedIngestCacheConflict(
    IngestCacheMigrationConflict conflict, IngestCacheMigrationConflictResolution keeping)
{
    const std::optional<QString> retained = m_state.retainedIngestCacheURL();
    // Only a conflict this model published is settled: its two paths are written to.
    if (isIngestCacheMigrationPending() || !retained || m_isRetainedCacheWorkRunning
        || !m_state.retainedIngestCacheConflicts().contains(conflict))
        co_return;
    m_isRetainedCacheWorkRunning = true;
    const QPointer<IngestCacheWorkflows> self(this);
    QFuture<Result<IngestCacheMigrationReconciliation>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [cache = m_services.ingestCache,
         conflict,
         keeping,
         retained = *retained,
         manifest = m_retainedIngestCacheManifest]() -> Result<IngestCacheMigrationReconciliation> {
            PELLWICK_TRY(cache.resolveRetainedCacheConflict(conflict, keeping));
            return cache.synchronizeRetainedCache(retained, manifest);
        });
    const std::optional<Result<IngestCacheMigrationReconciliation>> synchronized
        = co_await Workflow::resumeIn(self, {}, job);
    if (!synchronized)
        co_return;
    m_isRetainedCacheWorkRunning = false;
    publishRetainedCacheSynchronization(*synchronized);
}

void IngestCacheWorkflows::publishRetainedCacheSynchronization(
    const Result<IngestCacheMigrationReconciliation> &synchronized)
{
    if (!synchronized) {
        m_state.setIngestCacheMigrationFailure(IngestCacheFeedback::message(
            synchronized.error(), IngestCacheFeedback::synchronizationNeedsAttentionMessage()));
        return;
    }
    const qsizetype conflicts = synchronized->conflicts.size();
    m_state.setRetainedIngestCacheConflicts(synchronized->conflicts);
    m_state.setIngestCacheMigrationMessage(
        conflicts > 0 ? IngestCacheFeedback::retainedConflictsMessage(conflicts)
                      : IngestCacheFeedback::synchronizedMessage());
}

QCoro::Task<> IngestCacheWorkflows::deleteRetainedIngestCache()
{
    const std::optional<QString> retained = m_state.retainedIngestCacheURL();
    if (isIngestCacheMigrationPending() || !retained || m_isRetainedCacheWorkRunning
        || !m_state.retainedIngestCacheConflicts().isEmpty())
        co_return;
    m_isRetainedCacheWorkRunning = true;
    const QPointer<IngestCacheWorkflows> self(this);
    QFuture<Result<void>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [cache = m_services.ingestCache,
                         retained = *retained,
                         manifest = m_retainedIngestCacheManifest] {
                            return cache.removeRetainedCache(retained, manifest);
                        });
    const std::optional<Result<void>> removed = co_await Workflow::resumeIn(self, {}, job);
    if (!removed)
        co_return;
    m_isRetainedCacheWorkRunning = false;
    if (!*removed) {
        m_state.setIngestCacheMigrationFailure(IngestCacheFeedback::message(
            removed->error(), IngestCacheFeedback::deletionNeedsAttentionMessage()));
        co_return;
    }
    const IngestCacheLocationStoring &store = *m_services.ingestCacheLocationStore;
    // Still known until forgotten for good: a second deletion finds the folder gone and
    // forgets it then.
    if (!store.saveRetained(std::nullopt) || !store.saveRetainedManifest(std::nullopt)) {
        m_state.setIngestCacheMigrationFailure(
            IngestCacheFeedback::deletionNeedsAttentionMessage());
        co_return;
    }
    m_state.setRetainedIngestCacheURL(std::nullopt);
    m_retainedIngestCacheManifest.clear();
    m_state.setIngestCacheMigrationMessage(IngestCacheFeedback::deletedMessage());
}

} // namespace Pellwick
