#pragma once

#include <PellwickApp/Shell/ShellTypes.h>
#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickCore/Ingest/TransferProgress.h>
#include <PellwickCore/Support/Error.h>

#include <QCoro/QCoroTask>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace Pellwick {

class BackendHealthClient;
class BackendReachabilityMonitor;
class ContentHashing;
class FileManager;
class ImportReviewBuilder;
class IngestCache;
class ImportWorkflows;
class IngestCacheWorkflows;
class LibrarySessionClient;
class LibraryWorkflows;
class RestoreRequestCoordinator;
class RestoreTransferEngine;
class RestoreWorkflows;
class LocalLibraryCache;
class LocalLibraryCacheRecords;
class RemovableVolumeDetector;
class SessionTokenStoring;
class SessionWorkflows;
class SingleShotTimer;
class TransferProgressBoard;
class VerifiedBackupImporter;
class WorkflowTaskHandle;
struct IngestCacheCopy;
struct LibraryShellViewModelPrivate;

/// The one view model of the application's window: it owns the six state objects the pages show
/// (`sessionState()` … `restoreState()`) and the workflow objects of the concerns, which it
/// builds and wires (Session → Import → Ingest Cache → Library; Restore → Library; all → the
/// progress board). Main thread only. The cross-concern rules (a field whose change refreshes or
/// re-checks others) are connections made by its constructor.
class LibraryShellViewModel : public QObject
{
    Q_OBJECT

public:
    /// Backend reachability shown in the toolbar.
    using Status = ShellStatus;

    static QString toRaw(Status status) { return Pellwick::toRaw(status); }

    /// Exact, case-sensitive match of the raw texts.
    static std::optional<Status> statusFromRaw(const QString &raw)
    {
        return shellStatusFromRaw(raw);
    }

    /// The monotonic clock of the progress throttle; replaceable in tests.
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    /// Builds the state and does the start-up work that needs no network and no keychain: loads
    /// the retained and pending Ingest Cache moves, snapshots the removable volumes mounted now
    /// (a failure leaves the snapshot empty), finishes a due move and computes the visible library
    /// items. Without `ingestCache`, the cache is "IngestCache" inside the Local Library Cache's
    /// root. The workflows' delays run on timers from `timers` (none: Qt timers); `fileManager`
    /// and `contentHasher` are the file system and the SHA-256 hasher of the workflows' own disk
    /// steps (none: the local file system and `SHA256ContentHasher`). `reachabilityMonitor`, when
    /// given, observes the fetch function of `sessionClient`: what its exchanges say about the
    /// backend reaches the backend status.
    LibraryShellViewModel(
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
        SteadyClock steadyClock = &std::chrono::steady_clock::now,
        SingleShotTimerFactory timers = {},
        std::shared_ptr<const FileManager> fileManager = {},
        std::shared_ptr<const ContentHashing> contentHasher = {},
        std::shared_ptr<BackendReachabilityMonitor> reachabilityMonitor = {},
        QObject *parent = nullptr);
    /// Each workflow object stops what it runs as it goes: the backend check, the scan, the
    /// source-media checks, the importer's runs, the copy of Add to Ingest Cache (which keeps its
    /// batch's copy-in marker for the next Add to resume), the cleanup's hashing ahead, the copy
    /// of a move (whose record stays for the next launch), the restore polling and Core calls;
    /// other tasks are left to finish on their own.
    ~LibraryShellViewModel() override;

    // Published state, by concern.
    SessionState &sessionState() const { return *m_sessionState; }

    ShellState &shellState() const { return *m_shellState; }

    ImportState &importState() const { return *m_importState; }

    IngestCacheState &ingestCacheState() const { return *m_ingestCacheState; }

    LibraryState &libraryState() const { return *m_libraryState; }

    RestoreState &restoreState() const { return *m_restoreState; }

    /// The progress rows every workflow shares.
    TransferProgressBoard &transferProgressBoard() const { return *m_board; }

    /// The visible items, filters, folder tree and inspected item of the library pages.
    LibraryWorkflows &libraryWorkflows() const { return *m_library; }

    /// The Restore Request workflows, their polling and the transfer run.
    RestoreWorkflows &restoreWorkflows() const { return *m_restore; }

    /// Backend reachability, sign-in and the account (Workflows/Session/).
    SessionWorkflows &sessionWorkflows() const { return *m_sessionWorkflows; }

    /// The Ingest Cache's upkeep, move and package removal (Workflows/IngestCache/).
    IngestCacheWorkflows &ingestCacheWorkflows() const { return *m_ingestCacheWorkflows; }

    /// Scans, Add to Ingest Cache, the confirmed import and its recovery, mounted media and
    /// source-media safety (Workflows/Import/).
    ImportWorkflows &importWorkflows() const { return *m_importWorkflows; }

    /// The timers of the workflows' delays; the restore page waits on them too.
    const SingleShotTimerFactory &singleShotTimers() const;

private:
    /// The cross-concern rules: a proposal held back while work ran is presented once it ends.
    void connectStateObservers();

    const std::unique_ptr<SessionState> m_sessionState;
    const std::unique_ptr<ShellState> m_shellState;
    const std::unique_ptr<ImportState> m_importState;
    const std::unique_ptr<IngestCacheState> m_ingestCacheState;
    const std::unique_ptr<LibraryState> m_libraryState;
    const std::unique_ptr<RestoreState> m_restoreState;
    const std::unique_ptr<LibraryShellViewModelPrivate> m_d;
    /// Archived and restored files take archive storage: the import and restore workflows await
    /// this to have the account's storage figures read again (by the session workflows).
    const std::function<QCoro::Task<>()> m_storageFiguresChanged;
    const std::unique_ptr<TransferProgressBoard> m_board;
    const std::unique_ptr<LibraryWorkflows> m_library;
    const std::unique_ptr<IngestCacheWorkflows> m_ingestCacheWorkflows;
    const std::unique_ptr<ImportWorkflows> m_importWorkflows;
    std::unique_ptr<SessionWorkflows> m_sessionWorkflows;
    const std::unique_ptr<RestoreWorkflows> m_restore;
};

} // namespace Pellwick
