#pragma once

#include <PellwickApp/Shell/Operations/ImportOperations.h>
#include <PellwickApp/Shell/Operations/IngestCacheOperations.h>
#include <PellwickApp/Shell/Operations/SessionOperations.h>
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
class ContentHashing;
class FileManager;
class ImportReviewBuilder;
class IngestCache;
class IngestCacheRefreshGeneration;
class LibrarySessionClient;
class LibraryWorkflows;
class RestoreRequestCoordinator;
class RestoreTransferEngine;
class RestoreWorkflows;
class LocalLibraryCache;
class LocalLibraryCacheRecords;
class RemovableVolumeDetector;
class SessionTokenStoring;
class SingleShotTimer;
class TransferProgressBoard;
class UserManagedIngestCacheRefreshWorker;
class VerifiedBackupImporter;
class WorkflowTaskHandle;
struct IngestCacheCopy;
struct LibraryShellViewModelPrivate;

/// As declared in SingleShotTimer.h (repeated so that this header includes nothing more).
using SingleShotTimerFactory
    = std::function<std::unique_ptr<SingleShotTimer>(std::function<void()> expired)>;

/// The one view model of the application's window: it owns the six state objects the pages show
/// (`sessionState()` … `restoreState()`), the workflow objects of the concerns split off so far
/// (the progress board, the library and the restore workflows), the Core services of the rest
/// (`LibraryShellViewModel_p.h`) and the bookkeeping of the tasks it starts. Main thread only.
/// The cross-concern rules (a field whose change refreshes or re-checks others) are connections
/// made by its constructor. Workflows that await Core follow the template of Workflows/Workflow.h.
class LibraryShellViewModel
    : public QObject
    , public SessionOperations
    , public ImportOperations
    , public IngestCacheOperations
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
    /// steps (none: the local file system and `SHA256ContentHasher`).
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
        QObject *parent = nullptr);
    /// Cancels the running scan, the source-media checks and the copy of Add to Ingest Cache
    /// (which keeps its batch's copy-in marker for the next Add to resume); the restore workflows
    /// stop their polling and Core calls as they go; other tasks are left to finish on their own.
    ~LibraryShellViewModel() override;

    // Published state, by concern.
    SessionState &sessionState() const { return *m_sessionState; }

    ShellState &shellState() const { return *m_shellState; }

    ImportState &importState() const { return *m_importState; }

    IngestCacheState &ingestCacheState() const { return *m_ingestCacheState; }

    LibraryState &libraryState() const { return *m_libraryState; }

    RestoreState &restoreState() const { return *m_restoreState; }

    // Plain state.
    const QHash<QString, QString> &retainedIngestCacheManifest() const;

    const IngestCache &ingestCache() const;

    /// Shared with the user-managed refresh workers: a result of a refresh that started before
    /// the counter advanced is dropped.
    const std::shared_ptr<IngestCacheRefreshGeneration> &ingestCacheRefreshGeneration() const;

    const QSet<QString> &initialMountedImportSourceURLs() const;

    bool isApplicationActive() const;

    void setApplicationActive(bool active);

    /// The progress rows every workflow shares.
    TransferProgressBoard &transferProgressBoard() const { return *m_board; }

    /// The visible items, filters, folder tree and inspected item of the library pages.
    LibraryWorkflows &libraryWorkflows() const { return *m_library; }

    /// The Restore Request workflows, their polling and the transfer run.
    RestoreWorkflows &restoreWorkflows() const { return *m_restore; }

    // Operations of the workflows.

    /// True while a move of the Ingest Cache runs or a started move has not been completed: the
    /// one guard that keeps the import and cache workflows away from the cache during a move.
    bool isIngestCacheMigrationPending() const override;

    // --- Import scan and Add to Ingest Cache (LibraryShellViewModel_Import.cpp) ------------
    // Scans and copies run on the user-initiated pool; every outcome text goes to
    // `importErrorMessage`.

    /// A scan: builds a review on a worker thread, stopping soon once its token is requested.
    using ImportScanOperation = std::function<Result<ImportReview>(std::stop_token)>;

    /// Cancels the running scan and starts `operation`; returns at once. Its review replaces the
    /// current one (unconfirmed, message cleared); a failure clears the review with "Import
    /// review failed". A replaced scan publishes nothing, and only the latest scan clears
    /// `isScanningImportSources`.
    void scanImportSources(ImportScanOperation operation);
    /// Scans the folder at `path` as one source named after its last component.
    void scanFolder(QString path) override;
    /// Copies the current review into the Ingest Cache and adds one record ready to import per
    /// copied RAW original, with its source-media evidence. Silent while another Add runs, without
    /// a review, during a move, or when the first-run gate asks for a cache; otherwise ends with
    /// "Added n files to Ingest Cache" (a success) or a failure text, keeping the review.
    QCoro::Task<> addReviewToIngestCache() override;
    /// The review of the records' cached files as the cache holds them now: records whose
    /// cached original is gone or unreadable are left out. Reads file sizes: run it off the main
    /// thread (thread-safe: it reads only the fixed file manager).
    ImportReview importReview(const QList<LocalLibraryItem> &items) const;
    /// As above over `files`; callable from any thread.
    static ImportReview importReview(const QList<LocalLibraryItem> &items,
                                     const FileManager &files);
    /// The user text of an Ingest Cache failure; relative paths are not shown.
    static QString ingestCacheMessage(const IngestCacheError &error);
    /// The record of one cached, supported item, ready to import, with the evidence of
    /// `sourceCopy` when the item lies in its batch folder, the metadata of the cached RAW
    /// original (all unknown when unreadable) and a canonical filename unused in the library.
    /// Fails with the hasher's or the library's error. Hashes and reads the cached files: run it
    /// off the main thread (thread-safe while the Ingest Cache is not replaced).
    Result<LocalLibraryItem> cachedLibraryItem(const ImportReviewItem &item,
                                               const IngestCacheCopy *sourceCopy) const;

    // --- First run of the Ingest Cache (LibraryShellViewModel_InitialIngestCacheCreation.cpp)
    // The disk checks run on the user-initiated pool.

    /// False when the cache root exists (any item). Otherwise true, with "Ingest Cache is
    /// unavailable. Reconnect it or choose a new location." when a location was saved before,
    /// or the first-run prompt for the current root.
    QCoro::Task<bool> requestInitialIngestCacheCreationIfNeeded();
    /// Creates the folder (with its parents), proves it writable, saves it as the location,
    /// clears the prompt and adds the review. A failure leaves everything but the message.
    QCoro::Task<> createInitialIngestCache(QString path) override;
    /// Uses the existing, writable folder at `path` as the Ingest Cache (published as
    /// `ingestCacheRoot`), saves it, clears the prompt and adds the review.
    QCoro::Task<> chooseInitialIngestCache(QString path) override;

    // --- Ingest Cache upkeep (LibraryShellViewModel_IngestCacheUpkeep.cpp) -----------------
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
    /// record each 30 s on the workflow timers, until nothing is pending or the view model is
    /// gone; a failed pass is tried again.
    void scheduleCacheCleanupRetryIfNeeded(qint64 pendingCount);
    /// The retry loop's handle, while one runs.
    const std::optional<WorkflowTaskHandle> &cacheCleanupRetryTask() const;
    /// Before an import and its recovery: reviews the whole cache as the one source "Ingest
    /// Cache", then reconciles the library with it and cleans up, holding the library's exclusive
    /// access, on the user-initiated pool. A failure sets "Ingest Cache reconciliation needs
    /// attention"; records needing attention set "Changed Ingest Cache files need attention".
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
    bool isIngestCacheRefreshRunning() const;
    /// A refresh was asked for that has not started yet.
    bool isIngestCacheRefreshPending() const;

    /// Whether `item` can be imported now: never while a move of the Ingest Cache is pending or
    /// running; otherwise when it is ready to import and its package lies in the active Ingest
    /// Cache.
    bool canStartImport(const LocalLibraryItem &item) const;
    /// Whether `item`'s cached original lies in the active Ingest Cache: the rule by which both
    /// the Start Import button and its confirmation count a selected package.
    bool isInActiveIngestCache(const LocalLibraryItem &item) const;
    /// The launch check of a pending move: discards one whose two roots are the same place and
    /// finishes one whose target is the active cache; any other stays pending for Resume.
    void finalizePersistedMigrationIfNecessary();

    // --- Ingest Cache move and retained old cache (LibraryShellViewModel_IngestCacheMigration.cpp)
    // The copy holds the library's lock on the one-thread move pool; the retained-cache work runs
    // on the user-initiated pool. Every text goes to `ingestCacheMigrationMessage`.

    /// Starts a move to `newRoot` unless it is the active root (standardized) or archive packages
    /// are active, persisting the pending record first; ends when the move has ended. Returns at
    /// once while a move runs.
    QCoro::Task<> beginIngestCacheMigration(QString newRoot) override;
    /// Discards a record whose roots are the same place, finalizes one whose target is active,
    /// runs the move again while its source is active, else reports the changed location.
    /// Returns at once while a move runs.
    QCoro::Task<> resumeIngestCacheMigration() override;
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

    // --- Ingest Cache package removal (LibraryShellViewModel_IngestCacheRemoval.cpp) ---------

    /// Publishes the count and on-disk size (read on the utility pool; unreadable counts 0) of
    /// `selectedRemovableIngestCacheItems()`; nothing when there are none.
    QCoro::Task<> requestSelectedIngestCacheRemovalConfirmation() override;
    /// Removes the selected packages that `confirmation` named and that are still removable,
    /// holding `isImporting` for the remover call; "Removed n cache package(s)" or "Cache
    /// package removal needs attention" in `importErrorMessage`. Nothing without a session, or
    /// while the removal is blocked.
    QCoro::Task<>
    removeSelectedIngestCachePackages(IngestCacheRemovalConfirmation confirmation) override;

    /// The timers of the workflows' delays; the restore page waits on them too.
    const SingleShotTimerFactory &singleShotTimers() const;

    // --- Mounted import sources (LibraryShellViewModel_MountedImportSources.cpp) -----------
    // Media mounted since launch waits to be proposed for import (`mountProposal`, sorted by
    // name: numbers by value, case and locale ignored). Paths are compared standardized
    // (absolute, cleaned, links not resolved). Every scan here leaves out the active and the
    // retained Ingest Cache.

    /// A mount notice. Unless the path was mounted at launch or its proposal dismissed, lists the
    /// removable volumes on the utility pool and, when one is mounted at `url`, keeps it waiting:
    /// a shown proposal is replaced at once by all waiting volumes, then they are proposed when
    /// no work runs. A listing that fails, finds no such volume or is overtaken by a newer notice
    /// for the path changes nothing.
    void receiveMountedImportSource(const std::optional<QString> &url);
    /// An unmount notice: the path is forgotten as mounted at launch, dismissed and waiting; a
    /// shown proposal naming it is withdrawn and the rest proposed when no work runs.
    void receiveUnmountedImportSource(const std::optional<QString> &url);
    /// Publishes the waiting volumes as the proposal unless one is shown, an import or restore
    /// runs, a Restore Request is active or a move of the Ingest Cache is pending. A running scan
    /// does not hold it back.
    void presentPendingMountProposalIfPossible();
    /// Scans exactly the proposed volumes, which stop waiting; nothing without a proposal.
    void acceptMountProposal() override;
    /// Without a proposal nothing happens; otherwise its volumes stop waiting, are remembered as
    /// dismissed until they are unmounted, and the proposal is cleared.
    void dismissMountProposal() override;
    /// Scans every waiting volume (also none), proposed or not; none waits afterwards.
    void scanNewlyMountedImportSources() override;
    /// Scans every removable volume mounted now; a failing listing fails the scan.
    void scanAllRemovableVolumes() override;

    // --- Source-media safety (LibraryShellViewModel_SourceMediaSafety.cpp) ------------------
    // A check lists the removable volumes and revalidates the records' source-media evidence
    // against them on the utility pool, with the workflows' file manager and hasher. Records it
    // changed set "Source media changed; do not erase it until it is copied and archived again"
    // and refresh the visible items; a failure is dropped silently. Destroying the view model
    // stops a running check, which then publishes nothing.

    /// Starts a check unless one started less than 60 s ago (on the workflow clock) or a
    /// throttled check runs. Returns at once.
    void scheduleSourceMediaSafetyRefresh();
    /// Waits for the running throttled check, or runs a check now and publishes it.
    QCoro::Task<> refreshSourceMediaSafetyNow() override;

    /// A confirmed import is getting ready to run (before `isImporting`).
    bool isStartingImport() const override;

    // --- Import selection plan (LibraryShellViewModel_ImportSelection.cpp) and confirmed
    // import with its recovery (LibraryShellViewModel_ConfirmedImport.cpp) -------------------
    // Hashes, file sizes, library writes and backend calls run on the worker pools; outcome texts
    // go to `importErrorMessage` (the import) and `importRecoveryMessage` (the recovery).

    /// The import a confirmation leads to: the session's token, the candidates in stored order
    /// and the review rebuilt from their cached files.
    struct SelectedImportPlan
    {
        QString token;
        QList<LocalLibraryItem> items;
        ImportReview review;
    };

    /// The selected records with a cached original in the active Ingest Cache
    /// (`isInActiveIngestCache`), all ready to import (possibly none); none
    /// when a selected id names no record or a candidate is not ready, the selection then being
    /// dropped with "Selected cache files changed or are missing; Import needs attention".
    std::optional<QList<LocalLibraryItem>> selectedImportCandidates();
    /// The plan of the selection, or none: silently during a move of the Ingest Cache, when
    /// signed out or without candidates; otherwise after checking every candidate's cached
    /// files against their recorded hashes, those that changed or vanished becoming
    /// `needsAttention` and leaving the selection (with the text above).
    QCoro::Task<std::optional<SelectedImportPlan>> selectedImportPlan();
    /// Publishes the Start Import confirmation of the selected candidates (their cached sizes
    /// read on the utility pool) when signed in; nothing while a confirmed import starts or runs
    /// or a recovery runs.
    QCoro::Task<> requestSelectedImportConfirmation() override;
    /// Reconciles the cache, checks source media, then reserves capacity, imports the plan's
    /// packages, always releases the reservation and cleans up what is archived, then reads the
    /// library's figures again when a file was archived. Returns at once while another import
    /// starts or runs, or a recovery runs.
    QCoro::Task<> startSelectedImports() override;

    // --- Selections of the library's records -------------------------------------------------

    /// Selected records that can be imported now (`canStartImport`).
    QList<LocalLibraryItem> selectedImportItems() const override;
    /// Selected records, ready or needing attention, with a cached original; none at all while
    /// the removal is blocked (`isIngestCacheRemovalBlocked`).
    QList<LocalLibraryItem> selectedRemovableIngestCacheItems() const override;

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
    /// A restored session then starts the recovery of interrupted imports, without awaiting it.
    /// Shows no message.
    QCoro::Task<> restoreRememberedSession();
    /// Signs in with `email` and `password` as they stand. On success the password is cleared
    /// and the token stored; an authenticated account resumes interrupted imports.
    QCoro::Task<> signIn() override;
    /// Creates an account after the local checks of the address, the password length (12 to 128
    /// user-perceived characters) and the confirmation; the account then waits for verification.
    /// (The operation the sign-up form calls "register".)
    QCoro::Task<> registerAccount() override;
    /// Signs a pending account in once the backend reports it verified, then resumes interrupted
    /// imports. Silent on every failure; a result that arrives after the pending token changed
    /// (sign-out, another sign-in or registration) is dropped.
    QCoro::Task<> refreshVerification() override;
    /// Sends the verification e-mail of the account of `token` again.
    QCoro::Task<> resendVerification(QString token) override;
    /// Asks for a password-reset e-mail to `email`.
    QCoro::Task<> requestPasswordReset() override;
    /// Changes the password of the signed-in account; true when it was changed. Success ends
    /// the session (the stored token stays until the next sign-in, registration or sign-out).
    QCoro::Task<bool> changePassword() override;
    /// Empties the change-password form and its failure text.
    void resetPasswordChangeForm() override;
    /// Ends the session or the pending verification at once and forgets the stored token; a
    /// token saved later is stored after the removal.
    void signOut() override;
    /// Reads the signed-in account's user and library again (plan, quota and storage figures).
    QCoro::Task<> refreshLibrary() override;
    /// A checkout link for the signed-in account, or none (no session, or it failed). A link
    /// that `openableBillingLink` refuses counts as a failure.
    QCoro::Task<std::optional<QString>> checkoutURL() override;
    /// A customer-portal link for the signed-in account, or none (no session, or it failed). A
    /// link that `openableBillingLink` refuses counts as a failure.
    QCoro::Task<std::optional<QString>> customerPortalURL() override;
    /// A billing link from the backend as one the user's browser may be sent to: an absolute
    /// https URL with a host and without user name or password. Payment details are entered
    /// there, so plain http and every other scheme are refused (none).
    static std::optional<QUrl> openableBillingLink(const QString &link);
    /// The sign-in failure text of `error`.
    static QString signInErrorMessage(const Error &error);
    /// Tidies the Ingest Cache and archived packages, then resumes the interrupted imports of
    /// the Staging Area when a record may belong to one, unless an import starts or runs or a
    /// recovery runs (LibraryShellViewModel_ConfirmedImport.cpp). Texts go to
    /// `importRecoveryMessage`.
    QCoro::Task<> recoverInterruptedImports() override;

    /// Advanced by every applied sign-in or registration result and by sign-out.
    qint64 authenticationStateGeneration() const;

private:
    /// Queues `tokenStore.save(token)` on the keychain pool.
    void queueTokenSave(const QString &token) const;
    /// Queues `tokenStore.remove()` on the keychain pool.
    void queueTokenRemoval() const;

public:
    // ---- End of session lifecycle and authentication ----------------------------------------

private:
    /// The cross-field rules, in the order they were declared with the fields.
    void connectStateObservers();
    bool isBusyForMountProposal() const;
    /// The handler's steps after the listing of a mount notice (`notice`: its generation).
    QCoro::Task<> completeMountedImportSource(QString mounted, quint64 notice);
    /// The waiting volumes in proposal order.
    QList<ImportScanVolume> sortedPendingMountedImportSources() const;
    /// Starts a scan of `sources`, or of the removable volumes listed when it runs, leaving out
    /// the Ingest Cache roots of now.
    void scanSkippingIngestCaches(std::optional<QList<ImportScanVolume>> sources);
    /// The throttled check's task; `finished` ends when it is over.
    QCoro::Task<> runThrottledSourceMediaSafetyCheck(QPromise<void> finished);
    /// Starts one check on the utility pool.
    QFuture<Result<qsizetype>> startSourceMediaSafetyCheck() const;
    void publishSourceMediaSafetyResult(const Result<qsizetype> &changed);
    static std::optional<ImportReviewItem> importReviewItem(const LocalLibraryItem &item,
                                                            const FileManager &files);
    /// Publishes the end of an Add to Ingest Cache: not importing, row closed, refresh drained.
    void finishAddToIngestCache(const QUuid &transferID);
    /// Drops the selection and the confirmation with the selection's failure text.
    void invalidateSelectedImport();
    /// Marks `items` as needing attention (on a pool) and takes them out of the selection.
    QCoro::Task<> recordUnavailableImportItems(QList<LocalLibraryItem> items);
    /// A confirmed import is starting or running, or interrupted imports are being resumed:
    /// nothing else may hand the cached packages to the importer or remove them.
    bool isImporterBusy() const;
    /// The end of a confirmed import, either way: not importing, row closed, refresh drained.
    void finishConfirmedImport(const QUuid &transferID);
    /// An Add, a confirmed import or a removal starts holding `isImporting`.
    void beginImportingWork();
    /// It ends: `isImporting` is cleared when no other one holds it.
    void endImportingWork();
    /// An Add, an import, a removal, a recovery or a move of the Ingest Cache runs (or a move is
    /// pending): no package may be confirmed for removal or removed.
    bool isIngestCacheRemovalBlocked() const;
    /// An Add, an import, a removal or a move of the Ingest Cache runs (or a move is pending).
    bool isBusyWithIngestCache() const;
    // Ingest Cache move and removal (LibraryShellViewModel_IngestCacheMigration.cpp, _Removal).
    /// A record is uploading, verifying or awaiting cleanup (an unreadable library has none).
    bool hasActiveArchivePackage() const;
    /// The move itself: the copy and the relocation on the move pool, then the finish step.
    QCoro::Task<> performIngestCacheMigration(QString newRoot);
    void finishIngestCacheMigration(const Result<IngestCacheMigration> &result,
                                    const QUuid &transferID);
    void finalizePersistedMigration(const IngestCacheLocationStoring::PendingMigration &pending);
    void discardInvalidPendingMigration();
    /// Publishes a synchronization's conflicts and text.
    void publishRetainedCacheSynchronization(
        const Result<IngestCacheMigrationReconciliation> &synchronized);
    static QCoro::Task<> runCacheCleanupRetryLoop(QPointer<LibraryShellViewModel> viewModel,
                                                  std::stop_token stop);
    static QCoro::Task<>
    runIngestCacheRefresh(QPointer<LibraryShellViewModel> viewModel,
                          std::shared_ptr<const UserManagedIngestCacheRefreshWorker> worker);

    const std::unique_ptr<SessionState> m_sessionState;
    const std::unique_ptr<ShellState> m_shellState;
    const std::unique_ptr<ImportState> m_importState;
    const std::unique_ptr<IngestCacheState> m_ingestCacheState;
    const std::unique_ptr<LibraryState> m_libraryState;
    const std::unique_ptr<RestoreState> m_restoreState;
    const std::unique_ptr<LibraryShellViewModelPrivate> m_d;
    const std::unique_ptr<TransferProgressBoard> m_board;
    const std::unique_ptr<LibraryWorkflows> m_library;
    const std::unique_ptr<RestoreWorkflows> m_restore;
};

} // namespace Pellwick
