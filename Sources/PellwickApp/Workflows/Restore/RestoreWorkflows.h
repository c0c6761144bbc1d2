#pragma once

#include <PellwickApp/Shell/Operations/RestoreOperations.h>
#include <PellwickApp/Shell/ShellTypes.h>
#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickApp/Workflows/Library/LibrarySelection.h>
#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Restore/RestoreRequestCoordinator.h>
#include <PellwickCore/Restore/RestoreTransferEngine.h>
#include <PellwickCore/Support/Error.h>

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace Pellwick {

class FileManager;
class IngestCacheState;
class LibrarySessionClient;
class LibraryState;
class LibraryWorkflows;
class RestoreState;
class SessionState;
class TransferProgressBoard;
struct RestoreTransferOutcome;

/// The Restore Request workflows, the polling of a preparing request and the transfer run.
/// Each operation returns at once, changing nothing, without a session. Backend, coordinator,
/// engine and library work runs on the user-initiated pool; a result that arrives after the
/// workflows are gone or the session ended is dropped. Failures become `restoreErrorMessage`; a
/// failure leaves the request, `restoreMessage` and the selection as they were, but for a request
/// the backend changed whose statuses could not be saved here: it is shown as the backend
/// returned it. Main thread only.
class RestoreWorkflows final
    : public QObject
    , public RestoreOperations
{
public:
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    /// The Core services and what the restore reads of the other concerns.
    struct Services
    {
        std::shared_ptr<const LibrarySessionClient> sessionClient;
        LocalLibraryCache localLibraryCache;
        RestoreRequestCoordinator restoreCoordinator;
        std::shared_ptr<RestoreTransferEngine> restoreTransferEngine;
        QString restoreDestinationDirectory;
        /// The Staging Area's root: a restore never writes into it.
        QString stagingAreaRoot;
        /// The active Ingest Cache's root, which may change while the application runs.
        std::function<QString()> ingestCacheRoot;
        /// Reads the signed-in account's figures again: a saved file spent restore allowance.
        std::function<QCoro::Task<>()> refreshLibrary;
        std::shared_ptr<const FileManager> fileManager;
        SingleShotTimerFactory timers;
        SteadyClock steadyClock;
    };

    /// The states are read (session, Ingest Cache), or written where a restore changes them
    /// (the library's selection); `library` refreshes the visible items after a change of the
    /// records, `board` shows the preparation and transfer rows.
    RestoreWorkflows(RestoreState &state,
                     const SessionState &session,
                     LibraryState &libraryState,
                     const IngestCacheState &ingestCache,
                     LibraryWorkflows &library,
                     TransferProgressBoard &board,
                     Services services,
                     QObject *parent = nullptr);
    /// Cancels the polling task and stops the Core calls of the request workflows.
    ~RestoreWorkflows() override;

    const SessionState &sessionState() const { return m_session; }

    const RestoreRequestCoordinator &restoreCoordinator() const
    {
        return m_services.restoreCoordinator;
    }

    /// Shared with the restore page, whose pause control reaches it directly.
    const std::shared_ptr<RestoreTransferEngine> &restoreTransferEngine() const
    {
        return m_services.restoreTransferEngine;
    }

    const QString &restoreDestinationDirectory() const
    {
        return m_services.restoreDestinationDirectory;
    }

    /// The transfer now running, if any.
    const std::optional<RestoreTransferIdentifier> &activeRestoreTransferID() const
    {
        return m_activeRestoreTransferID;
    }

    /// When polling of the current preparing Restore Request began, on the steady clock.
    const std::optional<std::chrono::steady_clock::time_point> &restorePreparingStartedAt() const
    {
        return m_restorePreparingStartedAt;
    }

    /// The restore polling loop's handle, while one runs.
    const std::optional<WorkflowTaskHandle> &restorePollingTask() const
    {
        return m_restorePollingTask;
    }

    // --- Polling (RestoreWorkflows.cpp) -------------------------------------------------------

    /// Starts, keeps or stops the one polling task of a preparing Restore Request, and shows its
    /// "Restore Preparation" row. Not preparing: the task, its start time and its row go. Preparing
    /// while the application is inactive: the task goes, start time and row stay. Preparing while
    /// active: the row is updated, the start time set once, and a task started unless one runs.
    /// The task refreshes the request every 60 s during the first 900 s after the start time,
    /// every 180 s after; it ends when cancelled, when the workflows are gone or when the request
    /// is no longer preparing. Never fails.
    void updateRestorePolling(const std::optional<RestoreRequest> &request) override;
    /// Cancels the restore polling task, if one runs, and forgets its handle. Synchronous.
    void cancelRestorePolling() override;

    /// Marks the application active or inactive; an inactive application polls nothing. Starts
    /// or stops nothing itself: the window's activation steps follow. Active at first.
    void setApplicationActive(bool active) override { m_isApplicationActive = active; }

    bool isApplicationActive() const { return m_isApplicationActive; }

    /// Pauses the running restore transfer, if any, so it stops with its parts and manifests kept
    /// and can be continued (also at the next launch, when the window closes). Never waits.
    void pauseActiveRestoreTransfer() override;

    // --- Selection (RestoreWorkflows.cpp) -----------------------------------------------------

    /// Selected Verified Backups that the backend knows by id.
    QList<LocalLibraryItem> selectedRestoreItems() const override;
    /// Count, bytes (an unknown size counts 0; the sum saturates) and filenames of
    /// `selectedRestoreItems()`.
    RestoreSelectionSummary restoreSelectionSummary() const override;
    /// The records the restore page lists: those of the active Restore Request by backend id, or
    /// `selectedRestoreItems()` without one.
    QList<LocalLibraryItem> restoreWorkflowItems() const override;

    // --- Restore Request workflows (RestoreWorkflows_RestoreRequests.cpp) ---------------------

    /// Re-reads the held Restore Request (a downloaded or cancelled one is let go, its word kept
    /// in `restoreMessage`), or asks the backend for the account's active one (finding none
    /// leaves `restoreMessage` as it was). A ready request takes the stored outcome of its last
    /// settled run, so items that failed still need attention after the library was rebuilt.
    /// A ready request whose stored transfer stopped short of its end (the application ended
    /// during a run) and none of whose items failed is shown paused, with what it saved where.
    QCoro::Task<> refreshActiveRestoreRequest() override;
    /// Rebuilds the Local Library Cache from the backend's library items.
    QCoro::Task<> refreshLocalLibraryCacheForRestore() override;
    /// Creates a Restore Request for the selected Verified Backups; nothing happens without one,
    /// when one of them has no archive byte count, or while a request is held that is neither
    /// downloaded nor cancelled. Success empties the selection. A request the backend created
    /// but this computer could not record is shown all the same, with the library's failure.
    QCoro::Task<> requestRestoreForSelection() override;
    /// Stops the request's transfers and discards their unfinished parts, then cancels it on the
    /// backend. Refused while a cancellation runs or for a downloaded or cancelled request.
    QCoro::Task<> cancelActiveRestoreRequest() override;
    /// Asks the backend to prepare the held request again.
    QCoro::Task<> retryActiveRestorePreparation() override;
    /// The rebuild offered after a Local Library Cache conflict: rebuilds the library from the
    /// backend's items, empties the selection and refreshes the request.
    QCoro::Task<> rebuildLocalLibraryCache() override;
    /// Creates the configured restore folder when missing, on the user-initiated pool; the
    /// folder, or none when it cannot be created.
    QCoro::Task<std::optional<QString>> defaultRestoreDestination() override;

    // --- Transfer run (RestoreWorkflows_RestoreRun.cpp, _Outcomes.cpp) ------------------------
    // Manifest reads, planning, library writes and the completion call run on the
    // user-initiated pool; each transfer awaits the engine on the restore-transfer pool. A run
    // whose workflows go publishes nothing more.

    using RestoreTransferManifests = QHash<RestoreTransferIdentifier, RestoreTransferManifest>;

    /// Plans the active Restore Request's transfers into `destinationDirectory` and runs them one
    /// after another under one "Restore Transfer" row, then settles the outcomes. Silent without
    /// a session or a request, while a run is active or while the request is being cancelled.
    /// A destination that is or lies inside an Ingest Cache (or the target of a move of it that is
    /// under way), the Staging Area, the Local Library Cache or the restore transfer state is
    /// refused, judged by identity so that a bind mount of one is refused too; a taken
    /// destination publishes
    /// `restoreFilenameConflict` and downloads nothing; so does a folder whose free space is short
    /// of what the run would write there, which is named with both amounts. Never fails to its
    /// caller.
    QCoro::Task<> restoreReadyItems(QString destinationDirectory,
                                    QHash<qint64, QString> destinationFilenames) override;

    /// The folder the running restore saves into, from its start to its end; none between runs.
    const std::optional<QString> &runningRestoreDestination() const
    {
        return m_runningRestoreDestination;
    }

    /// The complete manifests of the request's artifacts; the first read failure is returned.
    /// Blocking: call it off the main thread.
    [[nodiscard]] static Result<RestoreTransferManifests>
    completedTransferManifests(const RestoreTransferEngine &engine, const RestoreRequest &request);
    /// Trims `filename` (whitespace and line breaks); a name that cannot name a file (blank, with
    /// a "/", "." or "..") is refused without change. Otherwise clears the conflict, remembers
    /// the name with the ones chosen earlier for the same request and restarts the run with all
    /// of them.
    QCoro::Task<> resolveRestoreFilenameConflict(RestoreFilenameConflict conflict,
                                                 QString filename) override;

private:
    /// Records a failed restore step: the conflict flag follows the error, the text comes from
    /// `RestoreFeedback` (named by `operation` when given); `restoreMessage` stays.
    void recordRestoreError(const Error &error, const std::optional<QString> &operation);
    /// Rebuilds the library from the backend's items and refreshes the visible items; true on
    /// success. A failure is recorded under `operation`; a dropped result returns false. Needs a
    /// session.
    QCoro::Task<bool> rebuildLocalLibraryFromBackend(QString operation);
    /// The status text of `request`; for one with failed items, its last run's count of the
    /// items saved and of those needing attention.
    static std::optional<QString> restoreMessage(const std::optional<RestoreRequest> &request);
    /// Reads the active ready request's stored transfer state; when a transfer stopped short of
    /// its end, marks the transfer paused, keeps its folder for the next chooser and says how
    /// many items it saved there.
    QCoro::Task<> showUnfinishedRestoreTransfer(QString token);
    /// Runs `transfers` in order: one outcome per transfer reached; none after a pause or a
    /// cancellation. After a transfer that found its disk full, the later ones fail with the same
    /// error without being started. A capability refresh re-plans with the manifests completed so
    /// far.
    QCoro::Task<QList<RestoreTransferOutcome>>
    restoreTransfers(QList<RestoreTransfer> transfers,
                     QString token,
                     QString destinationDirectory,
                     QHash<qint64, QString> destinationFilenames,
                     RestoreRequest request);
    /// Opens the run's row; the run's total bytes.
    qint64 beginRestoreTransferProgress(const QList<RestoreTransfer> &transfers,
                                        const QUuid &progressID);
    /// Records the outcomes locally, completes or updates the request and publishes the texts;
    /// a failed step ends it with its error.
    QCoro::Task<Result<void>> applyRestoreOutcomes(QList<RestoreTransferOutcome> outcomes,
                                                   RestoreRequest request,
                                                   QString token,
                                                   QString destinationDirectory);
    /// The folders a restore must not write into: the active and retained Ingest Cache roots,
    /// the target of a pending move, the Staging Area, the Local Library Cache and the restore
    /// transfer state.
    QList<std::pair<ManagedFolder, QString>> managedFolders() const;
    /// The polling loop of `updateRestorePolling`, on the main thread's timers.
    static QCoro::Task<> pollRestorePreparation(QPointer<RestoreWorkflows> self,
                                                std::stop_token stop,
                                                SingleShotTimerFactory timers);

    RestoreState &m_state;
    const SessionState &m_session;
    LibraryState &m_libraryState;
    const IngestCacheState &m_ingestCache;
    LibraryWorkflows &m_library;
    TransferProgressBoard &m_board;
    Services m_services;

    std::optional<qint64> m_cancellingRestoreRequestID;
    std::optional<RestoreTransferIdentifier> m_activeRestoreTransferID;
    std::optional<WorkflowTaskHandle> m_restorePollingTask;
    bool m_isApplicationActive = true;
    std::optional<std::chrono::steady_clock::time_point> m_restorePreparingStartedAt;
    std::optional<QUuid> m_restorePreparationProgressID;
    /// The failure of the last library refresh or rebuild, kept until one succeeds: the
    /// request's refresh that follows it on the restore page must not hide it.
    std::optional<QString> m_libraryRefreshFailure;
    /// Stops the Core calls of the request workflows when the workflows go.
    WorkflowTaskHandle m_requestWorkflows;
    /// A pause asked during a run: the engine forgets the pause of a transfer it has not
    /// started yet, so the run ends paused before its next transfer. Cleared with the run.
    bool m_isRestorePauseRequested = false;
    /// See `runningRestoreDestination`: a move of the Ingest Cache into it is refused.
    std::optional<QString> m_runningRestoreDestination;
    /// The runs started so far: a read of the transfer state that one overtook is dropped.
    quint64 m_restoreRunCount = 0;
    /// The filenames chosen after conflicts, by backend item id, for the request of
    /// `m_chosenRestoreFilenamesRequestID`; forgotten when another request or none is active.
    QHash<qint64, QString> m_chosenRestoreFilenames;
    std::optional<qint64> m_chosenRestoreFilenamesRequestID;
    /// The request whose files went into `lastCompletedRestoreDestination`: another request
    /// becoming active forgets that folder.
    std::optional<qint64> m_lastCompletedRestoreRequestID;
    // Memos of the derived selections (main thread only, like every getter).
    mutable std::optional<LibraryMemo<QSet<QUuid>, QList<LocalLibraryItem>>>
        m_selectedRestoreItemsMemo;
    mutable std::optional<LibraryMemo<QSet<QUuid>, RestoreSelectionSummary>>
        m_restoreSelectionSummaryMemo;
    mutable std::optional<LibraryMemo<QList<RestoreRequestItem>, QList<LocalLibraryItem>>>
        m_restoreWorkflowItemsMemo;
};

} // namespace Pellwick
