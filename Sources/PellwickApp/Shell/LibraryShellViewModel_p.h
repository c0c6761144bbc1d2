#pragma once

// The view model's plain members: its services, task handles, memos and generation counters, by
// concern. Only the view model's own files include this header.

#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickApp/Stores/IngestCacheLocationStoring.h>
#include <PellwickApp/Stores/SessionTokenStoring.h>
#include <PellwickApp/Workflows/IngestCacheRefreshGeneration.h>
#include <PellwickApp/Workflows/Library/LibrarySelection.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>
#include <PellwickApp/Workflows/TransferProgressBoard.h>
#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Backend/BackendHealthClient.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/ImportScanVolume.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Ingest/RemovableVolumeDetector.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Support/Date.h>

#include <QDir>
#include <QFuture>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QUuid>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace Pellwick {

struct LibraryShellViewModelPrivate
{
    /// The Core services and stores; fixed after construction except `ingestCache`.
    struct Services
    {
        BackendHealthClient healthClient;
        std::shared_ptr<const LibrarySessionClient> sessionClient;
        std::shared_ptr<const SessionTokenStoring> tokenStore;
        RemovableVolumeDetector volumeDetector;
        ImportReviewBuilder importReviewBuilder;
        // Built before the library cache is moved in: the default cache lies in its folder.
        IngestCache ingestCache;
        LocalLibraryCache localLibraryCache;
        VerifiedBackupImporter verifiedBackupImporter;
        std::shared_ptr<const IngestCacheLocationStoring> ingestCacheLocationStore;
        LibraryShellViewModel::SteadyClock steadyClock;
        SingleShotTimerFactory timers;
        /// The workflows' own file system and SHA-256 hasher.
        std::shared_ptr<const FileManager> fileManager;
        std::shared_ptr<const ContentHashing> contentHasher;
    };

    struct Session
    {
        qint64 authenticationStateGeneration = 0;
        std::optional<WorkflowTaskHandle> healthCheckTask;
    };

    /// The window's own bookkeeping: activation and mounted media.
    struct Shell
    {
        bool isApplicationActive = true;
        QMap<QString, ImportScanVolume> pendingMountedImportSources;
        QSet<QString> initialMountedImportSourceURLs;
        QSet<QString> dismissedMountedImportSourceURLs;
        /// Advanced by every mount or unmount notice of a path: a volume listing started for an
        /// older notice applies nothing.
        QHash<QString, quint64> mountNoticeGenerations;
    };

    struct Import
    {
        std::optional<WorkflowTaskHandle> importScanTask;
        /// The copy of the running Add to Ingest Cache; stopped with the view model.
        std::optional<WorkflowTaskHandle> addToIngestCacheTask;
        /// Set from the entry of Add to Ingest Cache to its end: a second Add returns at once.
        bool isAddingReviewToIngestCache = false;
        /// Advanced by every review a scan publishes.
        qint64 importReviewRevision = 0;
        std::optional<WorkflowTaskHandle> cacheCleanupRetryTask;
        /// Held by a cleanup pass for its whole run, on its worker thread: passes never overlap.
        std::shared_ptr<std::mutex> cacheCleanupPassLock = std::make_shared<std::mutex>();
        /// The Adds, confirmed imports and removals that hold `isImporting`: it is cleared
        /// only when the last of them ends.
        int importingWorkCount = 0;
        /// Stops the importer's runs (import or recovery) when the view model goes: the package
        /// in flight stays resumable.
        WorkflowTaskHandle importerRuns;
        mutable std::optional<LibraryMemo<std::pair<QSet<QUuid>, QString>, QList<LocalLibraryItem>>>
            selectedImportItemsMemo;
    };

    struct IngestCacheMembers
    {
        QHash<QString, QString> retainedIngestCacheManifest;
        std::optional<WorkflowTaskHandle> ingestCacheRefreshTask;
        bool isIngestCacheRefreshPending = false;
        std::shared_ptr<IngestCacheRefreshGeneration> ingestCacheRefreshGeneration
            = std::make_shared<IngestCacheRefreshGeneration>();
        /// The copy of the running move; stopped with the view model.
        std::optional<WorkflowTaskHandle> ingestCacheMoveTask;
        /// A synchronization, conflict settlement or deletion of the retained cache runs.
        bool isRetainedCacheWorkRunning = false;
        mutable std::optional<LibraryMemo<QSet<QUuid>, QList<LocalLibraryItem>>>
            selectedRemovableIngestCacheItemsMemo;
    };

    struct SourceMediaSafety
    {
        /// Stops every running check, of either form, when the view model goes.
        WorkflowTaskHandle checks;
        /// Finished when the running throttled check has published; none when none runs.
        std::optional<QFuture<void>> sourceMediaSafetyTask;
        /// The start of the last check of either form, on the workflow clock (a wall clock
        /// stepped back would hold the checks back). Never stored.
        std::optional<std::chrono::steady_clock::time_point> lastSourceMediaSafetyCheckAt;
    };

    explicit LibraryShellViewModelPrivate(Services initialServices)
        : services(std::move(initialServices))
    {}

    Services services;
    Session session;
    Shell shell;
    Import imports;
    IngestCacheMembers ingestCache;
    SourceMediaSafety sourceMediaSafety;
};

/// `path` made absolute and cleaned, links not resolved: mount points are compared as the mount
/// table names them.
inline QString standardizedPath(const QString &path)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path
                                                      : QDir::current().absoluteFilePath(path));
}

} // namespace Pellwick
