#pragma once

#include <PellwickApp/Shell/Operations/IngestCacheOperations.h>
#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickApp/Stores/IngestCacheLocationStoring.h>
#include <PellwickApp/Workflows/IngestCacheRefreshGeneration.h>
#include <PellwickApp/Workflows/Library/LibrarySelection.h>
#include <PellwickApp/Workflows/UserManagedIngestCacheRefreshWorker.h>
#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Import/StagingArea.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Library/LocalLibraryCache.h>

#include <QCoro/QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

namespace Pellwick {

class ContentHashing;
class FileManager;
class ImportState;
class IngestCacheState;
class LibrarySessionClient;
class LibraryState;
class LibraryWorkflows;
class PhotoMetadataExtracting;
class SessionState;
class TransferProgressBoard;

/// The Ingest Cache's upkeep (cleanup of archived packages, its retries, the reconciliation with
/// a cache the user may edit by hand), its move with the retained old cache, and the removal of
/// unarchived packages. It owns the active `IngestCache` and the count of the Adds, imports and
/// removals that hold `isImporting`. Main thread only.
class IngestCacheWorkflows final
    : public QObject
    , public IngestCacheOperations
{
public:
    struct Services
    {
        IngestCache ingestCache;
        LocalLibraryCache localLibraryCache;
        ImportReviewBuilder importReviewBuilder;
        StagingArea stagingArea;
        std::shared_ptr<const PhotoMetadataExtracting> metadataExtractor;
        std::shared_ptr<const LibrarySessionClient> sessionClient;
        std::shared_ptr<const IngestCacheLocationStoring> ingestCacheLocationStore;
        SingleShotTimerFactory timers;
        /// The workflows' own file system and SHA-256 hasher.
        std::shared_ptr<const FileManager> fileManager;
        std::shared_ptr<const ContentHashing> contentHasher;
        /// The folder a running restore saves into, if one runs: no move goes into it.
        std::function<std::optional<QString>()> restoreDestination = {};
    };

    /// The state objects the workflows read and publish, the library workflows below them and
    /// the progress rows.
    struct Collaborators
    {
        IngestCacheState &ingestCache;
        ImportState &imports;
        LibraryState &library;
        const SessionState &session;
        LibraryWorkflows &libraryWorkflows;
        TransferProgressBoard &board;
    };

    /// Publishes the stored retained cache and pending move, and the active root.
    IngestCacheWorkflows(Services services, Collaborators collaborators, QObject *parent = nullptr);
    /// Stops the hashing ahead of the cleanup passes and the copy of a running move (whose
    /// pending record stays: the next launch resumes it).
    ~IngestCacheWorkflows() override;

    const IngestCache &ingestCache() const { return m_services.ingestCache; }

    /// Makes the folder at `root` the active Ingest Cache, with the workflows' file system and
    /// hasher, and publishes it as `ingestCacheRoot`.
    void useIngestCache(const QString &root);

    /// How the active cache's folder and a move's target are held for this process (none: not
    /// held). Set once, before any work.
    void setIngestCacheFolderHold(FolderHold hold) { m_folderHold = std::move(hold); }

    /// Before work that writes into the Ingest Cache, on the user-initiated pool: whether its
    /// folder is there (`holdIngestCacheFolderIfThere`), held now; false when it is away.
    QFuture<Result<bool>> holdIngestCacheFolder() const;
    /// The text of `error` from work on the cache's folder: that another copy holds it, else
    /// `otherwise`.
    QString ingestCacheFolderFailureMessage(const Error &error, const QString &otherwise) const;

    const QHash<QString, QString> &retainedIngestCacheManifest() const
    {
        return m_retainedIngestCacheManifest;
    }

    /// Shared with the user-managed refresh workers: a result of a refresh that started before
    /// the counter advanced is dropped.
    const std::shared_ptr<IngestCacheRefreshGeneration> &ingestCacheRefreshGeneration() const
    {
        return m_ingestCacheRefreshGeneration;
    }

    /// Whether `item`'s cached original lies in the active Ingest Cache (standardized paths): the
    /// rule by which both the Start Import button and its confirmation count a selected package.
    bool isInActiveIngestCache(const LocalLibraryItem &item) const;

    /// True while a move of the Ingest Cache runs or a started move has not been completed: the
    /// one guard that keeps the import and cache workflows away from the cache during a move.
    bool isIngestCacheMigrationPending() const override;

    /// An Add, a confirmed import or a removal starts holding `isImporting`.
    void beginImportingWork();
    /// It ends: `isImporting` is cleared when no other one holds it.
    void endImportingWork();

    // --- Upkeep (IngestCacheWorkflows_Upkeep.cpp) ----------------------------------------
    // Deletes the cache packages of archived records once their bytes are checked, retries the
    // deletions that failed, and reconciles the library with a cache the user may edit by hand.
    // Hashes, deletions and library writes run on the worker pools, never here.

    /// What a cleanup of archived cache packages removed and how many remain.
    struct ArchivedCacheCleanup
    {
        QSet<QUuid> removedItemIDs;
        qint64 pendingCount = 0;
    };

    /// One pass over the archived records among `items` (none: every record) that still name a
    /// cache package, as one job on the user-initiated pool; passes never overlap (a second waits
    /// for the first). While a move of the Ingest Cache is pending: (no ids, 0), touching nothing.
    /// A package whose files still hold the archived bytes is deleted (a sidecar that another
    /// record still names stays for that record); a failed deletion leaves a Verified Backup
    /// `cleanupPending` and a duplicate as it is, both counted pending; a package that no longer
    /// matches loses its link and stays on disk. Fails with the library's first error, keeping
    /// what was done until then.
    QCoro::Task<Result<ArchivedCacheCleanup>>
    cleanupArchivedCachePackages(std::optional<QList<LocalLibraryItem>> items);
    /// Starts the silent retry loop when something is pending and none runs: a pass over every
    /// record each 30 s on the workflow timers, until nothing is pending or the workflows are
    /// gone; a failed pass is tried again.
    void scheduleCacheCleanupRetryIfNeeded(qint64 pendingCount);

    /// The retry loop's handle, while one runs.
    const std::optional<WorkflowTaskHandle> &cacheCleanupRetryTask() const
    {
        return m_cacheCleanupRetryTask;
    }

    /// Before an import and its recovery: reviews the whole cache as the one source "Ingest
    /// Cache", then reconciles the library with it and cleans up, holding the library's exclusive
    /// access, on the user-initiated pool. A failure sets "Ingest Cache reconciliation needs
    /// attention", which the next reconciliation or refresh that succeeds clears; records needing
    /// attention set "Changed Ingest Cache files need attention", which a later one takes back
    /// once none is left (`clearSettledChangedFilesMessage`).
    /// Does nothing without a cache folder or while a move of the cache is pending or running.
    QCoro::Task<> reconcileUserManagedIngestCache();
    /// Starts a refresh of the library from the Ingest Cache on the utility pool, or, while an
    /// import, Add to Ingest Cache, removal or move runs or a refresh is running, remembers it
    /// for `drainPendingIngestCacheRefresh()`. A result made stale by a move is dropped and the
    /// refresh asked for again; an applied one is followed by a cleanup while still idle.
    void scheduleUserManagedIngestCacheRefresh() override;
    /// Starts the refresh asked for meanwhile, once no import, Add, removal or move runs.
    void drainPendingIngestCacheRefresh();

    /// A refresh runs (from its start to the end of its cleanup).
    bool isIngestCacheRefreshRunning() const { return m_ingestCacheRefreshTask.has_value(); }

    /// A refresh was asked for that has not started yet.
    bool isIngestCacheRefreshPending() const { return m_isIngestCacheRefreshPending; }

    /// Takes back "Changed Ingest Cache files need attention" once no record needs attention
    /// for a change in the cache (one that never reached the archive, whose cached files
    /// changed or whose copy-in was cut short), leaving any other text. Where no other text is
    /// shown, names the photos whose copy-in was cut short (their batch folder still marked), and
    /// takes that back once none is left. Reads the loaded records only.
    void clearSettledChangedFilesMessage();

    /// `message`, just set as the import message, tells of cached copies the library has no
    /// record of: the next reconciliation or refresh that is applied records them and takes the
    /// message back, unless another has replaced it meanwhile.
    void noteUnrecordedCopiesMessage(const QString &message);

    // --- Move and retained old cache (IngestCacheWorkflows_Migration.cpp) ----------------
    // The copy holds the library's lock on the one-thread move pool; the retained-cache work runs
    // on the user-initiated pool. Every text goes to `ingestCacheMigrationMessage`.

    /// Starts a move to `newRoot` unless it is the active root (standardized), archive packages
    /// are active or a running restore saves into it (by identity), persisting the pending record
    /// first; ends when the move has ended. Returns at once while a move runs.
    QCoro::Task<> beginIngestCacheMigration(QString newRoot) override;
    /// Discards a record whose roots are the same place, finalizes one whose target is active,
    /// runs the move again while its source is active, else reports the changed location.
    /// Returns at once while a move runs.
    QCoro::Task<> resumeIngestCacheMigration() override;
    /// The launch check of a pending move: discards one whose two roots are the same place and
    /// finishes one whose target is the active cache; any other stays pending for Resume.
    void finalizePersistedMigrationIfNecessary();
    /// Synchronizes the retained old cache into the active one and publishes its conflicts.
    /// Does nothing while a move is pending or without a retained cache.
    QCoro::Task<> synchronizeRetainedIngestCache() override;
    /// Settles `conflict` as chosen, then synchronizes again.
    QCoro::Task<>
    resolveRetainedIngestCacheConflict(IngestCacheMigrationConflict conflict,
                                       IngestCacheMigrationConflictResolution keeping) override;
    /// Deletes the retained old cache after the Core's last synchronization and forgets it.
    /// Does nothing while a move is pending, without a retained cache or with conflicts.
    QCoro::Task<> deleteRetainedIngestCache() override;

    // --- Package removal (IngestCacheWorkflows_Removal.cpp) ------------------------------

    /// An Add, an import, a removal, a recovery or a move of the Ingest Cache runs (or a move is
    /// pending): no package may be confirmed for removal or removed.
    bool isIngestCacheRemovalBlocked() const;
    /// Selected records, ready or needing attention, with a cached original; none at all while
    /// the removal is blocked.
    QList<LocalLibraryItem> selectedRemovableIngestCacheItems() const override;
    /// Publishes the count and on-disk size (read on the utility pool; unreadable counts 0) of
    /// `selectedRemovableIngestCacheItems()`; nothing when there are none.
    QCoro::Task<> requestSelectedIngestCacheRemovalConfirmation() override;
    /// Removes the selected packages that `confirmation` named and that are still removable,
    /// holding `isImporting` for the remover call; "Removed n cache package(s)" or "Cache
    /// package removal needs attention" in `importErrorMessage`. Nothing without a session, or
    /// while the removal is blocked.
    QCoro::Task<>
    removeSelectedIngestCachePackages(IngestCacheRemovalConfirmation confirmation) override;

private:
    /// Work that a refresh waits for runs: an Add, an import (from its start), a removal or a
    /// move of the Ingest Cache (or a move is pending).
    bool isBusyWithIngestCache() const;
    /// Takes back "Ingest Cache reconciliation needs attention", leaving any other text.
    void clearReconciliationFailure();
    /// After a reconciliation that was applied: takes back the failure's text, the text of
    /// changed files once none needs attention, and the import message of copies left without
    /// records (`noteUnrecordedCopiesMessage`), which now have theirs.
    void clearMessagesCuredByReconciliation();
    static QCoro::Task<> runCacheCleanupRetryLoop(QPointer<IngestCacheWorkflows> workflows,
                                                  std::stop_token stop);
    static QCoro::Task<>
    runIngestCacheRefresh(QPointer<IngestCacheWorkflows> workflows,
                          std::shared_ptr<const UserManagedIngestCacheRefreshWorker> worker);
    /// A record is uploading, verifying or awaiting cleanup (an unreadable library has none).
    bool hasActiveArchivePackage() const;
    /// The move itself: the copy and the relocation on the move pool, then the finish step. A
    /// running restore that saves into the target refuses it before anything is copied.
    QCoro::Task<> performIngestCacheMigration(QString newRoot);
    /// `newRoot` is the target as the move was given it, named when the copy fails there.
    void finishIngestCacheMigration(const Result<IngestCacheMigration> &result,
                                    const QString &newRoot,
                                    const QUuid &transferID);
    /// The move's row goes and the refreshes asked for meanwhile run: the move is over.
    void endIngestCacheMove(const QUuid &transferID);
    void finalizePersistedMigration(const IngestCacheLocationStoring::PendingMigration &pending);
    void discardInvalidPendingMigration();
    /// Publishes a synchronization's conflicts and text.
    void publishRetainedCacheSynchronization(
        const Result<IngestCacheMigrationReconciliation> &synchronized);

    Services m_services;
    FolderHold m_folderHold;
    IngestCacheState &m_state;
    ImportState &m_importState;
    LibraryState &m_libraryState;
    const SessionState &m_sessionState;
    LibraryWorkflows &m_libraryWorkflows;
    TransferProgressBoard &m_board;

    QHash<QString, QString> m_retainedIngestCacheManifest;
    std::optional<WorkflowTaskHandle> m_ingestCacheRefreshTask;
    bool m_isIngestCacheRefreshPending = false;
    std::optional<QString> m_unrecordedCopiesMessage;
    /// The text naming photos of a copy-in cut short last shown, so that only it is replaced.
    std::optional<QString> m_photosNeedingAttentionMessage;
    std::shared_ptr<IngestCacheRefreshGeneration> m_ingestCacheRefreshGeneration
        = std::make_shared<IngestCacheRefreshGeneration>();
    /// The copy of the running move; stopped with the workflows.
    std::optional<WorkflowTaskHandle> m_ingestCacheMoveTask;
    /// A synchronization, conflict settlement or deletion of the retained cache runs.
    bool m_isRetainedCacheWorkRunning = false;
    std::optional<WorkflowTaskHandle> m_cacheCleanupRetryTask;
    /// Held by a cleanup pass for its whole run, on its worker thread: passes never overlap.
    std::shared_ptr<std::mutex> m_cacheCleanupPassLock = std::make_shared<std::mutex>();
    /// Stops the cleanup passes' hashing ahead when the workflows go.
    WorkflowTaskHandle m_cacheCleanupPasses;
    /// The Adds, confirmed imports and removals that hold `isImporting`: it is cleared only when
    /// the last of them ends.
    int m_importingWorkCount = 0;
    mutable std::optional<LibraryMemo<QSet<QUuid>, QList<LocalLibraryItem>>>
        m_selectedRemovableIngestCacheItemsMemo;
};

} // namespace Pellwick
