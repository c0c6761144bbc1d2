#pragma once

#include <PellwickApp/Shell/LocalLibraryCaptureLocationFilter.h>
#include <PellwickApp/Shell/LocalLibraryCaptureTimeFilter.h>
#include <PellwickApp/Stores/IngestCacheLocationStoring.h>
#include <PellwickApp/Stores/SessionTokenStoring.h>
#include <PellwickApp/Views/Library/LocalLibraryTreeNode.h>
#include <PellwickApp/Workflows/IngestCacheRefreshGeneration.h>
#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Backend/BackendHealthClient.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Backend/LibrarySessionTypes.h>
#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/ImportScanVolume.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Ingest/IngestCacheMigration.h>
#include <PellwickCore/Ingest/RemovableVolumeDetector.h>
#include <PellwickCore/Ingest/TransferProgress.h>
#include <PellwickCore/Library/LibraryItemImportStatus.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Library/LocalLibrarySearchQuery.h>
#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Restore/RestoreRequestCoordinator.h>
#include <PellwickCore/Restore/RestoreTransferEngine.h>
#include <PellwickCore/Support/Date.h>

#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace Pellwick {

/// What a confirmed Import would archive.
struct ImportSelectionConfirmation
{
    int packageCount = 0;
    qint64 byteCount = 0;
    qint64 remainingByteCount = 0;

    bool operator==(const ImportSelectionConfirmation &) const = default;
};

/// What a removal of cache packages would free.
struct IngestCacheRemovalConfirmation
{
    int packageCount = 0;
    qint64 byteCount = 0;

    bool operator==(const IngestCacheRemovalConfirmation &) const = default;
};

/// The proposed folder of a first Ingest Cache.
struct InitialIngestCacheCreation
{
    QString locationURL;

    bool operator==(const InitialIngestCacheCreation &) const = default;
};

/// Newly mounted media proposed for import.
struct MountProposal
{
    QList<ImportScanVolume> sources;

    bool operator==(const MountProposal &) const = default;
};

/// A restored file whose name is taken in the destination folder; identified by `libraryItemID`.
struct RestoreFilenameConflict
{
    qint64 libraryItemID = 0; ///< the backend's item id
    QString destinationDirectory;
    QString existingFilename;

    qint64 id() const { return libraryItemID; }

    bool operator==(const RestoreFilenameConflict &) const = default;
};

/// The memo of the last folder tree of the library: the tree built for `revision` of the visible
/// items, with or without the physical folder entries, for `visibleFolderCounts`.
struct LocalLibraryTreeCache
{
    qint64 revision = 0;
    bool includePhysicalEntries = false;
    QHash<QString, qint64> visibleFolderCounts;
    QList<LocalLibraryTreeNode> nodes;

    bool operator==(const LocalLibraryTreeCache &) const = default;
};

/// What a restore of the selected items would bring back.
struct RestoreSelectionSummary
{
    int itemCount = 0;
    qint64 byteCount = 0;
    QStringList filenames;

    bool operator==(const RestoreSelectionSummary &) const = default;
};

/// The one state object of the application's window: every Core service the user interface
/// drives, all state the pages show and the bookkeeping of the tasks it starts. Main thread only.
/// Every published field has a getter, a setter that notifies on every assignment (also of an
/// equal value) and a change signal. Workflows that await Core follow the template of
/// Workflows/Workflow.h.
class LibraryShellViewModel : public QObject
{
    Q_OBJECT

public:
    /// Backend reachability shown in the toolbar.
    enum class Status {
        Checking,
        Reachable,
        Unreachable,
    };

    static QString toRaw(Status status);
    /// Exact, case-sensitive match of the raw texts.
    static std::optional<Status> statusFromRaw(const QString &raw);

    /// The monotonic clock of the progress throttle; replaceable in tests.
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    /// Builds the state and does the start-up work that needs no network and no keychain: loads
    /// the retained and pending Ingest Cache moves, snapshots the removable volumes mounted now
    /// (a failure leaves the snapshot empty), finishes a due move and computes the visible library
    /// items. Without `ingestCache`, the cache is "IngestCache" inside the Local Library Cache's
    /// root.
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
        QObject *parent = nullptr);
    /// Cancels the restore polling task; other tasks are left to finish on their own.
    ~LibraryShellViewModel() override;

    // Published state.
    const Status &status() const { return m_status; }

    const std::optional<AuthenticatedLibrarySession> &session() const { return m_session; }

    const QString &email() const { return m_email; }

    const QString &password() const { return m_password; }

    const QString &passwordConfirmation() const { return m_passwordConfirmation; }

    const std::optional<QString> &pendingVerificationToken() const
    {
        return m_pendingVerificationToken;
    }

    const QString &displayName() const { return m_displayName; }

    const QString &currentPassword() const { return m_currentPassword; }

    const QString &newPassword() const { return m_newPassword; }

    const QString &newPasswordConfirmation() const { return m_newPasswordConfirmation; }

    const std::optional<QString> &passwordChangeErrorMessage() const
    {
        return m_passwordChangeErrorMessage;
    }

    const std::optional<QString> &authMessage() const { return m_authMessage; }

    const std::optional<QString> &errorMessage() const { return m_errorMessage; }

    const ImportReviewState &importReviewState() const { return m_importReviewState; }

    const bool &isScanningImportSources() const { return m_isScanningImportSources; }

    const bool &isImporting() const { return m_isImporting; }

    const bool &isRecoveringInterruptedImports() const { return m_isRecoveringInterruptedImports; }

    const bool &isMigratingIngestCache() const { return m_isMigratingIngestCache; }

    const std::optional<QString> &ingestCacheMigrationMessage() const
    {
        return m_ingestCacheMigrationMessage;
    }

    const std::optional<QString> &retainedIngestCacheURL() const
    {
        return m_retainedIngestCacheURL;
    }

    const QList<IngestCacheMigrationConflict> &retainedIngestCacheConflicts() const
    {
        return m_retainedIngestCacheConflicts;
    }

    const std::optional<IngestCacheLocationStoring::PendingMigration> &
    pendingIngestCacheMigration() const
    {
        return m_pendingIngestCacheMigration;
    }

    const std::optional<QString> &importErrorMessage() const { return m_importErrorMessage; }

    const QList<TransferProgress> &transferProgresses() const { return m_transferProgresses; }

    const std::optional<QString> &importRecoveryMessage() const { return m_importRecoveryMessage; }

    const bool &hasLocalLibraryRecords() const { return m_hasLocalLibraryRecords; }

    /// Why "library-items.json" could not be read; none after it was read.
    const std::optional<QString> &libraryReadErrorMessage() const
    {
        return m_libraryReadErrorMessage;
    }

    const QList<LocalLibraryItem> &localLibraryItems() const { return m_localLibraryItems; }

    const qint64 &localLibraryItemsRevision() const { return m_localLibraryItemsRevision; }

    const std::optional<QUuid> &inspectedLocalLibraryItemID() const
    {
        return m_inspectedLocalLibraryItemID;
    }

    const QSet<QUuid> &selectedLibraryItemIDs() const { return m_selectedLibraryItemIDs; }

    const std::optional<ImportSelectionConfirmation> &importSelectionConfirmation() const
    {
        return m_importSelectionConfirmation;
    }

    const std::optional<IngestCacheRemovalConfirmation> &ingestCacheRemovalConfirmation() const
    {
        return m_ingestCacheRemovalConfirmation;
    }

    const std::optional<InitialIngestCacheCreation> &initialIngestCacheCreation() const
    {
        return m_initialIngestCacheCreation;
    }

    const std::optional<RestoreRequest> &activeRestoreRequest() const
    {
        return m_activeRestoreRequest;
    }

    const std::optional<QString> &restoreMessage() const { return m_restoreMessage; }

    const std::optional<QString> &restoreErrorMessage() const { return m_restoreErrorMessage; }

    const bool &needsLocalLibraryCacheRebuild() const { return m_needsLocalLibraryCacheRebuild; }

    const std::optional<QString> &lastCompletedRestoreDestination() const
    {
        return m_lastCompletedRestoreDestination;
    }

    const bool &isRestoreTransferActive() const { return m_isRestoreTransferActive; }

    const bool &isCancellingRestore() const { return m_isCancellingRestore; }

    const bool &hasPausedRestoreTransfer() const { return m_hasPausedRestoreTransfer; }

    const std::optional<MountProposal> &mountProposal() const { return m_mountProposal; }

    const std::optional<RestoreFilenameConflict> &restoreFilenameConflict() const
    {
        return m_restoreFilenameConflict;
    }

    const QString &restoreConflictFilename() const { return m_restoreConflictFilename; }

    const QString &localLibrarySearchText() const { return m_localLibrarySearchText; }

    const LocalLibraryCaptureTimeFilter &localLibraryCaptureTimeFilter() const
    {
        return m_localLibraryCaptureTimeFilter;
    }

    const Date &localLibraryCaptureTimeStart() const { return m_localLibraryCaptureTimeStart; }

    const Date &localLibraryCaptureTimeEnd() const { return m_localLibraryCaptureTimeEnd; }

    const LocalLibraryCaptureLocationFilter &localLibraryCaptureLocationFilter() const
    {
        return m_localLibraryCaptureLocationFilter;
    }

    const std::optional<LibraryItemImportStatus> &localLibraryImportStatusFilter() const
    {
        return m_localLibraryImportStatusFilter;
    }

    const std::optional<QString> &localLibraryIngestSourceFilter() const
    {
        return m_localLibraryIngestSourceFilter;
    }

    const LocalLibraryDuplicateVisibility &localLibraryDuplicateVisibility() const
    {
        return m_localLibraryDuplicateVisibility;
    }

    void setStatus(Status value);
    void setSession(std::optional<AuthenticatedLibrarySession> value);
    void setEmail(QString value);
    void setPassword(QString value);
    void setPasswordConfirmation(QString value);
    void setPendingVerificationToken(std::optional<QString> value);
    void setDisplayName(QString value);
    void setCurrentPassword(QString value);
    void setNewPassword(QString value);
    void setNewPasswordConfirmation(QString value);
    void setPasswordChangeErrorMessage(std::optional<QString> value);
    void setAuthMessage(std::optional<QString> value);
    void setErrorMessage(std::optional<QString> value);
    void setImportReviewState(ImportReviewState value);
    void setIsScanningImportSources(bool value);
    void setIsImporting(bool value);
    void setIsRecoveringInterruptedImports(bool value);
    void setIsMigratingIngestCache(bool value);
    void setIngestCacheMigrationMessage(std::optional<QString> value);
    void setRetainedIngestCacheURL(std::optional<QString> value);
    void setRetainedIngestCacheConflicts(QList<IngestCacheMigrationConflict> value);
    void setPendingIngestCacheMigration(
        std::optional<IngestCacheLocationStoring::PendingMigration> value);
    void setImportErrorMessage(std::optional<QString> value);
    void setTransferProgresses(QList<TransferProgress> value);
    void setImportRecoveryMessage(std::optional<QString> value);
    void setHasLocalLibraryRecords(bool value);
    void setLibraryReadErrorMessage(std::optional<QString> value);
    void setLocalLibraryItems(QList<LocalLibraryItem> value);
    void setLocalLibraryItemsRevision(qint64 value);
    void setInspectedLocalLibraryItemID(std::optional<QUuid> value);
    void setSelectedLibraryItemIDs(QSet<QUuid> value);
    void setImportSelectionConfirmation(std::optional<ImportSelectionConfirmation> value);
    void setIngestCacheRemovalConfirmation(std::optional<IngestCacheRemovalConfirmation> value);
    void setInitialIngestCacheCreation(std::optional<InitialIngestCacheCreation> value);
    void setActiveRestoreRequest(std::optional<RestoreRequest> value);
    void setRestoreMessage(std::optional<QString> value);
    void setRestoreErrorMessage(std::optional<QString> value);
    void setNeedsLocalLibraryCacheRebuild(bool value);
    void setLastCompletedRestoreDestination(std::optional<QString> value);
    void setIsRestoreTransferActive(bool value);
    void setIsCancellingRestore(bool value);
    void setHasPausedRestoreTransfer(bool value);
    void setMountProposal(std::optional<MountProposal> value);
    void setRestoreFilenameConflict(std::optional<RestoreFilenameConflict> value);
    void setRestoreConflictFilename(QString value);
    void setLocalLibrarySearchText(QString value);
    void setLocalLibraryCaptureTimeFilter(LocalLibraryCaptureTimeFilter value);
    void setLocalLibraryCaptureTimeStart(Date value);
    void setLocalLibraryCaptureTimeEnd(Date value);
    void setLocalLibraryCaptureLocationFilter(LocalLibraryCaptureLocationFilter value);
    void setLocalLibraryImportStatusFilter(std::optional<LibraryItemImportStatus> value);
    void setLocalLibraryIngestSourceFilter(std::optional<QString> value);
    void setLocalLibraryDuplicateVisibility(LocalLibraryDuplicateVisibility value);

    // Plain state.
    const QHash<QString, QString> &retainedIngestCacheManifest() const
    {
        return m_retainedIngestCacheManifest;
    }

    const IngestCache &ingestCache() const { return m_ingestCache; }

    const QSet<QString> &initialMountedImportSourceURLs() const
    {
        return m_initialMountedImportSourceURLs;
    }

    bool isApplicationActive() const { return m_isApplicationActive; }

    void setApplicationActive(bool active) { m_isApplicationActive = active; }

    const QSet<QUuid> &activeTransferProgressIDs() const { return m_activeTransferProgressIDs; }

    /// The restore polling loop's handle, while one runs.
    const std::optional<WorkflowTaskHandle> &restorePollingTask() const
    {
        return m_restorePollingTask;
    }

    // Transfer progress (LibraryShellViewModel_TransferProgress.cpp).

    /// Opens a progress row: only open ids are published.
    void openTransferProgress(const QUuid &id);
    /// Publishes `progress` as the row of its id when the id is open: at once for a new row, a
    /// new phase, current file or completed package count, or completion; other changes at most
    /// every 0.1 s per id (the rest are dropped).
    void updateTransferProgress(const TransferProgress &progress);
    /// Closes the row: later updates for the id are ignored until it is opened again.
    void removeTransferProgress(const QUuid &id);
    /// A sink for Core's progress callbacks, callable from any thread: each report becomes one
    /// queued call of `updateTransferProgress` on the main thread, dropped when this view model is
    /// gone.
    TransferProgressSink transferProgressSink();

    // Operations of the workflows.

    /// True while a move of the Ingest Cache is pending.
    bool isIngestCacheMigrationPending() const { return m_pendingIngestCacheMigration.has_value(); }

    /// Whether `item` can be imported now: never while a move of the Ingest Cache is pending or
    /// running; otherwise when its package lies in the active Ingest Cache.
    bool canStartImport(const LocalLibraryItem &item) const;
    /// Discards a pending move whose two roots are the same place. A move whose target is the
    /// active cache is finished by the migration workflow; any other stays pending.
    void finalizePersistedMigrationIfNecessary();
    /// Proposes the waiting mounted volumes when no scan, import, move or restore runs.
    void presentPendingMountProposalIfPossible();

    // --- Restore services and polling (LibraryShellViewModel_Restore.cpp) ------------------
    // The restore workflows' services and the handle of the polling loop. The workflows
    // themselves (create, refresh, transfers, cancel) come with the restore workflow code.

    const RestoreRequestCoordinator &restoreCoordinator() const { return m_restoreCoordinator; }

    /// Shared with the restore page, whose pause control reaches it directly.
    const std::shared_ptr<RestoreTransferEngine> &restoreTransferEngine() const
    {
        return m_restoreTransferEngine;
    }

    const QString &restoreDestinationDirectory() const { return m_restoreDestinationDirectory; }

    /// The transfer now running, if any.
    const std::optional<RestoreTransferIdentifier> &activeRestoreTransferID() const
    {
        return m_activeRestoreTransferID;
    }

    /// When the current Restore Request was first seen preparing.
    const std::optional<Date> &restorePreparingStartedAt() const
    {
        return m_restorePreparingStartedAt;
    }

    /// Cancels the running polling task. While `request` is preparing, keeps the time preparation
    /// was first seen and, when the application is active, holds a new polling task; otherwise no
    /// task is left (and, for a request not preparing, that time is forgotten). Never fails. (The loop's periodic refresh is
    /// the restore workflows'; until they land the task only carries its stop token.)
    void updateRestorePolling(const std::optional<RestoreRequest> &request);

    /// Records the removable volume mounted at `url` (standardized) as waiting to be proposed
    /// for import, unless it was mounted at launch or its proposal was dismissed, and proposes the
    /// waiting volumes when no work runs. No URL, or one matching no removable volume (or a
    /// failing listing), changes nothing.
    void receiveMountedImportSource(const std::optional<QString> &url);
    /// Forgets the volume at `url` as waiting and updates the proposal: withdrawn when no volume
    /// waits, otherwise proposed again when no work runs. No URL changes nothing. Unmounting also
    /// ends a dismissal, so the volume is proposed again when it comes back.
    void receiveUnmountedImportSource(const std::optional<QString> &url);
    /// Without a proposal nothing happens; otherwise its volumes stop waiting and the proposal is
    /// cleared. (Scanning the proposed volumes belongs to the import workflows, not built yet.)
    void acceptMountProposal();
    /// Without a proposal nothing happens; otherwise its volumes stop waiting, are remembered as
    /// dismissed until they are unmounted, and the proposal is cleared.
    void dismissMountProposal();

    // Operations of the shell workflows whose work is not built yet: each returns at once and
    // changes nothing.

    /// Refreshes the held or the account's active Restore Request (not built yet: no-op).
    QCoro::Task<> refreshActiveRestoreRequest();
    /// Starts a refresh of the user-managed Ingest Cache (not built yet: no-op).
    void scheduleUserManagedIngestCacheRefresh();
    /// Moves the Ingest Cache to `newRoot` (not built yet: no-op).
    QCoro::Task<> performIngestCacheMigration(QString newRoot);
    /// Runs the source-media safety check at once (not built yet: no-op).
    QCoro::Task<> refreshSourceMediaSafetyNow();
    /// Imports the selected items (not built yet: no-op).
    QCoro::Task<> startSelectedImports();

    // --- Library list state (LibraryShellViewModel_VisibleItems.cpp) -----------------------
    // What the library pages derive from the records: the visible items, the selections an
    // Import, a removal or a restore acts on, the folder tree and the inspected item. Each getter
    // reads the library's in-memory records afresh, in stored order; a failed read counts as an
    // empty library, and nothing here reports a failure.

    /// Builds the folder tree of the visible items: (items, Ingest Cache root, whether the
    /// physical folder entries are included, visible child-folder counts per folder id).
    using LocalLibraryTreeBuilder = std::function<QList<LocalLibraryTreeNode>(
        const QList<LocalLibraryItem> &, const QString &, bool, const QHash<QString, qint64> &)>;

    /// Re-reads the library and publishes `hasLocalLibraryRecords`, `libraryReadErrorMessage`, the
    /// items matching
    /// `localLibraryQuery()` (none when the search fails) and the next revision (wrapping). When
    /// pruning, the selection loses the ids of records that no longer exist; records hidden by
    /// the filters stay selected. The inspected id and the tree memo are left alone.
    void refreshVisibleLocalLibraryItems(bool pruningRestoreSelection);
    /// Selected records that can be imported now (`canStartImport`).
    QList<LocalLibraryItem> selectedImportItems() const;
    /// Selected records, ready or needing attention, with a cached original; none at all while an
    /// Import runs or a move of the Ingest Cache is pending.
    QList<LocalLibraryItem> selectedRemovableIngestCacheItems() const;
    /// Selected Verified Backups that the backend knows by id.
    QList<LocalLibraryItem> selectedRestoreItems() const;
    /// Count, bytes (an unknown size counts 0; the sum saturates) and filenames of
    /// `selectedRestoreItems()`.
    RestoreSelectionSummary restoreSelectionSummary() const;
    /// The records the restore page lists: those of the active Restore Request by backend id, or
    /// `selectedRestoreItems()` without one.
    QList<LocalLibraryItem> restoreWorkflowItems() const;
    /// The distinct ingest source names of the records, in code-unit order.
    QStringList localLibraryIngestSources() const;
    /// The folder tree of the visible items, rebuilt only when the revision, the physical-entries
    /// flag (no filter active) or `visibleFolderCounts` differ from the last build.
    QList<LocalLibraryTreeNode> localLibraryTree(const QHash<QString, qint64> &visibleFolderCounts);
    /// Replaces the tree builder (by default one that builds no nodes) and drops the memo.
    void setLocalLibraryTreeBuilder(LocalLibraryTreeBuilder builder);
    /// The visible item with the inspected id; none when the filters hide it.
    std::optional<LocalLibraryItem> inspectedLocalLibraryItem() const;
    /// Inspects `item` (none clears); assigns even an unchanged id.
    void inspectLocalLibraryItem(const std::optional<LocalLibraryItem> &item);

    // --- Local library filters (LibraryShellViewModel_LocalLibraryFilters.cpp) -------------
    // The filter fields' setters are declared with the published state above: each assignment
    // refreshes the visible items (the search text only when it changed), except while
    // `resetLocalLibraryFilters()` runs.

    /// Whether the search text (trimmed) or any filter but the capture-time window's dates
    /// differs from its default.
    bool hasActiveLocalLibraryFilters() const;
    /// Puts the six filters back to their defaults with one refresh; the window dates stay.
    void resetLocalLibraryFilters();
    /// The search for the current filters: the text exactly as typed, the capture-time window
    /// in whole local days, never an import-date condition.
    LocalLibrarySearchQuery localLibraryQuery() const;

    // Window (LibraryShellViewModel_Window.cpp): what the root window does to the view model.

    /// Cancels the restore polling task, if one runs, and forgets its handle. Synchronous.
    void cancelRestorePolling();
    /// The window closes: pauses the running restore transfer, if any, so it stops with its
    /// parts and manifests kept and resumes at the next launch. Never waits.
    void pauseRestoreTransferForClose();
    // End of window.

    // ---- Session lifecycle and authentication ----------------------------------------------
    // LibraryShellViewModel_SessionLifecycle.cpp, _Authentication.cpp and _Password.cpp. Backend
    // calls run on the user-initiated pool; token store calls run on the keychain pool, in the
    // order they were asked for. No operation fails to its caller: failures become the texts of
    // `errorMessage`, `authMessage` and `passwordChangeErrorMessage`, or are dropped silently.

    /// Checks backend reachability once: `status` becomes checking, then reachable or unreachable.
    /// Only the latest check's answer is shown: a newer check, or the end of the view model,
    /// stops the one still running, which publishes nothing.
    QCoro::Task<> refresh();
    /// At launch: restores the session of the stored token, or the verification gate of an
    /// account that still waits for e-mail verification. A result is dropped when a sign-in,
    /// registration or sign-out happened meanwhile. The stored token is removed only when the
    /// backend answered that it is no longer usable (a verification status other than "pending",
    /// or 401 or 403); a token that could not be checked (offline, busy, failing) stays stored.
    /// Shows no message.
    QCoro::Task<> restoreRememberedSession();
    /// Signs in with `email` and `password` as they stand. On success the password is cleared
    /// and the token stored; an authenticated account resumes interrupted imports.
    QCoro::Task<> signIn();
    /// Creates an account after the local checks of the address, the password length (12 to 128
    /// user-perceived characters) and the confirmation; the account then waits for verification.
    /// (The operation the sign-up form calls "register".)
    QCoro::Task<> registerAccount();
    /// Signs a pending account in once the backend reports it verified, then resumes interrupted
    /// imports. Silent on every failure; a result that arrives after the pending token changed
    /// (sign-out, another sign-in or registration) is dropped.
    QCoro::Task<> refreshVerification();
    /// Sends the verification e-mail of the account of `token` again.
    QCoro::Task<> resendVerification(QString token);
    /// Asks for a password-reset e-mail to `email`.
    QCoro::Task<> requestPasswordReset();
    /// Changes the password of the signed-in account; true when it was changed. Success ends
    /// the session (the stored token stays until the next sign-in, registration or sign-out).
    QCoro::Task<bool> changePassword();
    /// Empties the change-password form and its failure text.
    void resetPasswordChangeForm();
    /// Ends the session or the pending verification at once and forgets the stored token; a
    /// token saved later is stored after the removal.
    void signOut();
    /// Reads the signed-in account's user and library again (plan, quota and storage figures).
    QCoro::Task<> refreshLibrary();
    /// A checkout link for the signed-in account, or none (no session, or it failed). A link
    /// that `openableBillingLink` refuses counts as a failure.
    QCoro::Task<std::optional<QString>> checkoutURL();
    /// A customer-portal link for the signed-in account, or none (no session, or it failed). A
    /// link that `openableBillingLink` refuses counts as a failure.
    QCoro::Task<std::optional<QString>> customerPortalURL();
    /// A billing link from the backend as one the user's browser may be sent to: an absolute
    /// https URL with a host and without user name or password. Payment details are entered
    /// there, so plain http and every other scheme are refused (none).
    static std::optional<QUrl> openableBillingLink(const QString &link);
    /// The sign-in failure text of `error`.
    static QString signInErrorMessage(const Error &error);
    /// Resumes the interrupted imports recorded in the Staging Area. Not yet built: the import
    /// recovery workflow fills it in; the session operations call it where it belongs.
    QCoro::Task<> recoverInterruptedImports();

    /// Advanced by every applied sign-in or registration result and by sign-out.
    qint64 authenticationStateGeneration() const { return m_authenticationStateGeneration; }

private:
    /// Queues `tokenStore.save(token)` on the keychain pool.
    void queueTokenSave(const QString &token) const;
    /// Queues `tokenStore.remove()` on the keychain pool.
    void queueTokenRemoval() const;

public:
    // ---- End of session lifecycle and authentication ----------------------------------------

Q_SIGNALS:
    void statusChanged();
    void sessionChanged();
    void emailChanged();
    void passwordChanged();
    void passwordConfirmationChanged();
    void pendingVerificationTokenChanged();
    void displayNameChanged();
    void currentPasswordChanged();
    void newPasswordChanged();
    void newPasswordConfirmationChanged();
    void passwordChangeErrorMessageChanged();
    void authMessageChanged();
    void errorMessageChanged();
    void importReviewStateChanged();
    void isScanningImportSourcesChanged();
    void isImportingChanged();
    void isRecoveringInterruptedImportsChanged();
    void isMigratingIngestCacheChanged();
    void ingestCacheMigrationMessageChanged();
    void retainedIngestCacheURLChanged();
    void retainedIngestCacheConflictsChanged();
    void pendingIngestCacheMigrationChanged();
    void importErrorMessageChanged();
    void transferProgressesChanged();
    void importRecoveryMessageChanged();
    void hasLocalLibraryRecordsChanged();
    void libraryReadErrorMessageChanged();
    void localLibraryItemsChanged();
    void localLibraryItemsRevisionChanged();
    void inspectedLocalLibraryItemIDChanged();
    void selectedLibraryItemIDsChanged();
    void importSelectionConfirmationChanged();
    void ingestCacheRemovalConfirmationChanged();
    void initialIngestCacheCreationChanged();
    void activeRestoreRequestChanged();
    void restoreMessageChanged();
    void restoreErrorMessageChanged();
    void needsLocalLibraryCacheRebuildChanged();
    void lastCompletedRestoreDestinationChanged();
    void isRestoreTransferActiveChanged();
    void isCancellingRestoreChanged();
    void hasPausedRestoreTransferChanged();
    void mountProposalChanged();
    void restoreFilenameConflictChanged();
    void restoreConflictFilenameChanged();
    void localLibrarySearchTextChanged();
    void localLibraryCaptureTimeFilterChanged();
    void localLibraryCaptureTimeStartChanged();
    void localLibraryCaptureTimeEndChanged();
    void localLibraryCaptureLocationFilterChanged();
    void localLibraryImportStatusFilterChanged();
    void localLibraryIngestSourceFilterChanged();
    void localLibraryDuplicateVisibilityChanged();

private:
    bool isBusyForMountProposal() const;
    /// A move of the Ingest Cache is pending or running: no record can be imported.
    bool isIngestCacheMoveBlockingImports() const;

    // --- Library list state (LibraryShellViewModel_VisibleItems.cpp) -----------------------
    /// Every record in stored order; empty when the library cannot be read.
    LocalLibraryCacheRecords allLocalLibraryRecords() const;
    /// The selected records of `records` for which `keep(record)` holds, in stored order.
    template<typename Predicate>
    QList<LocalLibraryItem> selectedRecords(const LocalLibraryCacheRecords &records,
                                            Predicate keep) const;

    /// A value derived from the records and `key`, kept until either changes: views ask for the
    /// selections on every render, and a selection of many records is costly to gather. Holding
    /// the records keeps their chunks alive, so a library that shares them is the same library.
    template<typename Key, typename Value>
    struct LibraryMemo
    {
        LocalLibraryCacheRecords records;
        Key key;
        Value value;
    };

    /// `memo`'s value while it was derived from `records` and an equal `key`; otherwise
    /// `derive()`, remembered in `memo`.
    template<typename Key, typename Value, typename Derive>
    static Value memoised(std::optional<LibraryMemo<Key, Value>> &memo,
                          const LocalLibraryCacheRecords &records,
                          const Key &key,
                          Derive derive);

    // --- Local library filters (LibraryShellViewModel_LocalLibraryFilters.cpp) -------------
    /// The observer of every filter field but the search text.
    void refreshAfterFilterChange();
    /// The capture-time window in whole local days, for `DateRange` only.
    std::optional<LocalLibraryDateRange> localLibraryCaptureTimeRange() const;

    Status m_status = Status::Checking;
    std::optional<AuthenticatedLibrarySession> m_session;
    QString m_email;
    QString m_password;
    QString m_passwordConfirmation;
    std::optional<QString> m_pendingVerificationToken;
    QString m_displayName;
    QString m_currentPassword;
    QString m_newPassword;
    QString m_newPasswordConfirmation;
    std::optional<QString> m_passwordChangeErrorMessage;
    std::optional<QString> m_authMessage;
    std::optional<QString> m_errorMessage;
    ImportReviewState m_importReviewState;
    bool m_isScanningImportSources = false;
    bool m_isImporting = false;
    bool m_isRecoveringInterruptedImports = false;
    bool m_isMigratingIngestCache = false;
    std::optional<QString> m_ingestCacheMigrationMessage;
    std::optional<QString> m_retainedIngestCacheURL;
    QList<IngestCacheMigrationConflict> m_retainedIngestCacheConflicts;
    QHash<QString, QString> m_retainedIngestCacheManifest;
    std::optional<IngestCacheLocationStoring::PendingMigration> m_pendingIngestCacheMigration;
    std::optional<QString> m_importErrorMessage;
    QList<TransferProgress> m_transferProgresses;
    std::optional<QString> m_importRecoveryMessage;
    bool m_hasLocalLibraryRecords = false;
    std::optional<QString> m_libraryReadErrorMessage;
    QList<LocalLibraryItem> m_localLibraryItems;
    qint64 m_localLibraryItemsRevision = 0;
    std::optional<QUuid> m_inspectedLocalLibraryItemID;
    QSet<QUuid> m_selectedLibraryItemIDs;
    std::optional<ImportSelectionConfirmation> m_importSelectionConfirmation;
    std::optional<IngestCacheRemovalConfirmation> m_ingestCacheRemovalConfirmation;
    std::optional<InitialIngestCacheCreation> m_initialIngestCacheCreation;
    std::optional<RestoreRequest> m_activeRestoreRequest;
    std::optional<QString> m_restoreMessage;
    std::optional<QString> m_restoreErrorMessage;
    bool m_needsLocalLibraryCacheRebuild = false;
    std::optional<QString> m_lastCompletedRestoreDestination;
    bool m_isRestoreTransferActive = false;
    bool m_isCancellingRestore = false;
    bool m_hasPausedRestoreTransfer = false;
    std::optional<MountProposal> m_mountProposal;
    std::optional<RestoreFilenameConflict> m_restoreFilenameConflict;
    QString m_restoreConflictFilename;
    std::optional<qint64> m_cancellingRestoreRequestID;
    QString m_localLibrarySearchText;
    LocalLibraryCaptureTimeFilter m_localLibraryCaptureTimeFilter
        = LocalLibraryCaptureTimeFilter::Any;
    Date m_localLibraryCaptureTimeStart;
    Date m_localLibraryCaptureTimeEnd;
    LocalLibraryCaptureLocationFilter m_localLibraryCaptureLocationFilter
        = LocalLibraryCaptureLocationFilter::Any;
    std::optional<LibraryItemImportStatus> m_localLibraryImportStatusFilter;
    std::optional<QString> m_localLibraryIngestSourceFilter;
    LocalLibraryDuplicateVisibility m_localLibraryDuplicateVisibility
        = LocalLibraryDuplicateVisibility::Hidden;
    BackendHealthClient m_healthClient;
    std::shared_ptr<const LibrarySessionClient> m_sessionClient;
    std::shared_ptr<const SessionTokenStoring> m_tokenStore;
    RemovableVolumeDetector m_volumeDetector;
    ImportReviewBuilder m_importReviewBuilder;
    LocalLibraryCache m_localLibraryCache;
    IngestCache m_ingestCache;
    VerifiedBackupImporter m_verifiedBackupImporter;
    RestoreRequestCoordinator m_restoreCoordinator;
    std::shared_ptr<RestoreTransferEngine> m_restoreTransferEngine;
    QString m_restoreDestinationDirectory;
    std::shared_ptr<const IngestCacheLocationStoring> m_ingestCacheLocationStore;
    std::optional<WorkflowTaskHandle> m_importScanTask;
    std::optional<WorkflowTaskHandle> m_cacheCleanupRetryTask;
    std::optional<WorkflowTaskHandle> m_ingestCacheRefreshTask;
    bool m_isIngestCacheRefreshPending = false;
    std::shared_ptr<IngestCacheRefreshGeneration> m_ingestCacheRefreshGeneration
        = std::make_shared<IngestCacheRefreshGeneration>();
    std::optional<WorkflowTaskHandle> m_sourceMediaSafetyTask;
    std::optional<RestoreTransferIdentifier> m_activeRestoreTransferID;
    std::optional<WorkflowTaskHandle> m_restorePollingTask;
    std::optional<Date> m_restorePreparingStartedAt;
    bool m_isApplicationActive = true;
    std::optional<QUuid> m_restorePreparationProgressID;
    QSet<QUuid> m_activeTransferProgressIDs;
    QHash<QUuid, std::chrono::steady_clock::time_point> m_lastTransferProgressUpdateAt;
    QMap<QString, ImportScanVolume> m_pendingMountedImportSources;
    QSet<QString> m_initialMountedImportSourceURLs;
    QSet<QString> m_dismissedMountedImportSourceURLs;
    bool m_isResettingLocalLibraryFilters = false;
    qint64 m_authenticationStateGeneration = 0;
    std::optional<WorkflowTaskHandle> m_healthCheckTask;
    std::optional<Date> m_lastSourceMediaSafetyCheckAt;
    std::optional<LocalLibraryTreeCache> m_localLibraryTreeCache;
    // Memos of the derived selections (main thread only, like every getter).
    mutable std::optional<LibraryMemo<std::pair<QSet<QUuid>, QString>, QList<LocalLibraryItem>>>
        m_selectedImportItemsMemo;
    mutable std::optional<LibraryMemo<QSet<QUuid>, QList<LocalLibraryItem>>>
        m_selectedRemovableIngestCacheItemsMemo;
    mutable std::optional<LibraryMemo<QSet<QUuid>, QList<LocalLibraryItem>>>
        m_selectedRestoreItemsMemo;
    mutable std::optional<LibraryMemo<QSet<QUuid>, RestoreSelectionSummary>>
        m_restoreSelectionSummaryMemo;
    mutable std::optional<LibraryMemo<QList<RestoreRequestItem>, QList<LocalLibraryItem>>>
        m_restoreWorkflowItemsMemo;
    mutable std::optional<LibraryMemo<bool, QStringList>> m_localLibraryIngestSourcesMemo;
    SteadyClock m_steadyClock;
    // Library list state.
    LocalLibraryTreeBuilder m_localLibraryTreeBuilder;
};

} // namespace Pellwick
