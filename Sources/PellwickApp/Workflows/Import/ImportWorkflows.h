#pragma once

#include <PellwickApp/Shell/Operations/ImportOperations.h>
#include <PellwickApp/Shell/RunningWork.h>
#include <PellwickApp/Workflows/Library/LibrarySelection.h>
#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Ingest/ImportScanVolume.h>
#include <PellwickCore/Ingest/RemovableVolumeDetector.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Support/Result.h>

#include <QCoro/QCoroTask>
#include <QFuture>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QPromise>
#include <QSet>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace Pellwick {

class ContentHashing;
class FileManager;
class ImportState;
class IngestCacheLocationStoring;
class IngestCacheState;
class IngestCacheWorkflows;
class LibrarySessionClient;
class LibraryState;
class LibraryWorkflows;
class RestoreState;
class SessionState;
class ShellState;
class TransferProgressBoard;

/// Scans and Add to Ingest Cache, the first Ingest Cache, the selection plan, the confirmed
/// import with the recovery of interrupted imports, the mounted import sources and the
/// source-media safety checks. Hashes, file sizes, copies, library writes and backend calls run on
/// the worker pools. Main thread only.
class ImportWorkflows final
    : public QObject
    , public ImportOperations
{
public:
    /// The monotonic clock of the source-media checks' spacing; replaceable in tests.
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    struct Services
    {
        std::shared_ptr<const LibrarySessionClient> sessionClient;
        RemovableVolumeDetector volumeDetector;
        LocalLibraryCache localLibraryCache;
        VerifiedBackupImporter verifiedBackupImporter;
        std::shared_ptr<const IngestCacheLocationStoring> ingestCacheLocationStore;
        SteadyClock steadyClock;
        /// The workflows' own file system and SHA-256 hasher.
        std::shared_ptr<const FileManager> fileManager;
        std::shared_ptr<const ContentHashing> contentHasher;
    };

    /// What the workflows need of their neighbours: the state objects they read and publish,
    /// the Ingest Cache's and the library's workflows below them, the progress rows, and
    /// `storageFiguresChanged`, awaited after an import archived files (they take archive
    /// storage).
    struct Collaborators
    {
        ImportState &imports;
        ShellState &shell;
        const SessionState &session;
        LibraryState &library;
        const RestoreState &restore;
        const IngestCacheState &ingestCacheState;
        IngestCacheWorkflows &ingestCache;
        LibraryWorkflows &libraryWorkflows;
        TransferProgressBoard &board;
        std::function<QCoro::Task<>()> storageFiguresChanged;
    };

    /// Snapshots the removable volumes mounted now (a failure leaves the snapshot empty): they
    /// are never proposed for import.
    ImportWorkflows(Services services, Collaborators collaborators, QObject *parent = nullptr);
    /// Cancels the running scan, the source-media checks, the importer's runs and the copy of
    /// Add to Ingest Cache (which keeps its batch's copy-in marker for the next Add to resume).
    ~ImportWorkflows() override;

    // --- Scan and Add to Ingest Cache (ImportWorkflows_Import.cpp) -----------------------
    // Every outcome text goes to `importErrorMessage`.

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
    /// a success text that counts the files staying in the Ingest Cache and those the archive
    /// already held (their copies removed again), or with a failure text, keeping the review.
    QCoro::Task<> addReviewToIngestCache() override;
    /// The review of the records' cached files as the cache holds them now: records whose
    /// cached original is gone or unreadable are left out. Reads file sizes: run it off the main
    /// thread (thread-safe: it reads only the fixed file manager).
    ImportReview importReview(const QList<LocalLibraryItem> &items) const;
    /// As above over `files`; callable from any thread.
    static ImportReview importReview(const QList<LocalLibraryItem> &items,
                                     const FileManager &files);

    // --- First run of the Ingest Cache (ImportWorkflows_InitialIngestCacheCreation.cpp) --

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

    // --- Selection plan (ImportWorkflows_ImportSelection.cpp) and confirmed import with its
    // recovery (ImportWorkflows_ConfirmedImport.cpp). Texts go to `importErrorMessage` (the
    // import) and `importRecoveryMessage` (the recovery).

    /// The import a confirmation leads to: the session's token, the candidates in stored order
    /// and the review rebuilt from their cached files.
    struct SelectedImportPlan
    {
        QString token;
        QList<LocalLibraryItem> items;
        ImportReview review;
    };

    /// The selected records with a cached original in the active Ingest Cache, all ready to
    /// import (possibly none); none when a selected id names no record or a candidate is not
    /// ready, the selection then being dropped with "Selected cache files changed or are
    /// missing; Import needs attention". Records in `resumed`, whose packages the run has just
    /// carried on, are left out like records without a cached original.
    std::optional<QList<LocalLibraryItem>> selectedImportCandidates(const QSet<QUuid> &resumed
                                                                    = {});
    /// The plan of the selection, or none: silently during a move of the Ingest Cache, when
    /// signed out or without candidates; otherwise after checking every candidate's cached
    /// files against their recorded hashes, those that changed or vanished becoming
    /// `needsAttention` and leaving the selection (with the text above). `resumed` as above.
    QCoro::Task<std::optional<SelectedImportPlan>> selectedImportPlan(QSet<QUuid> resumed = {});
    /// Publishes the Start Import confirmation of the selected candidates (their cached sizes
    /// read on the utility pool) when signed in; nothing while a confirmed import starts or runs
    /// or a recovery runs.
    QCoro::Task<> requestSelectedImportConfirmation() override;
    /// After a failed import run or resumption, first recovers interrupted imports as after a
    /// sign-in. Reconciles the cache, checks source media, then reserves capacity, imports the
    /// plan's packages, always releases the reservation and cleans up what is archived, then has
    /// the storage figures read again when a file was archived. The count of files safely
    /// archived takes in every package the confirmation counted (or the run resumed) that
    /// ended archived, also one a recovery finished before the run. Returns at once while
    /// another import starts or runs, or a recovery runs.
    QCoro::Task<> startSelectedImports() override;
    /// Tidies the Ingest Cache and archived packages, then resumes the interrupted imports of
    /// the Staging Area when a record may belong to one, unless an import starts or runs or a
    /// recovery runs. "Import recovery needs attention" tells a failed resumption or an item it
    /// handled needing attention; a resumption that ends well clears the text.
    QCoro::Task<> recoverInterruptedImports() override;
    /// Whether `item` can be imported now: never while a move of the Ingest Cache is pending or
    /// running; otherwise when it is ready to import and its package lies in the active Ingest
    /// Cache.
    bool canStartImport(const LocalLibraryItem &item) const;
    /// Selected records that can be imported now (`canStartImport`).
    QList<LocalLibraryItem> selectedImportItems() const override;
    /// A confirmed import is getting ready to run (before `isImporting`).
    bool isStartingImport() const override;
    /// A request to the backend succeeded: the connection failure an earlier import ended with
    /// no longer holds, and goes. One while an import or a recovery runs is theirs to tell.
    void backendReached();

    // --- Mounted import sources (ImportWorkflows_MountedImportSources.cpp) ---------------
    // Media mounted since launch waits to be proposed for import (`mountProposal`, sorted by
    // name: numbers by value, case and locale ignored). Paths are compared standardized
    // (absolute, cleaned, links not resolved). Every scan here leaves out the active and the
    // retained Ingest Cache.

    /// A mount notice. Unless the path was mounted at launch or its proposal dismissed, lists the
    /// removable volumes on the utility pool and, when one is mounted at `url`, keeps it waiting:
    /// a shown proposal is replaced at once by all waiting volumes, then they are proposed when
    /// no work runs. A listing that fails, finds no such volume or is overtaken by a newer notice
    /// for the path changes nothing.
    void receiveMountedImportSource(const std::optional<QString> &url) override;
    /// An unmount notice: the path is forgotten as mounted at launch, dismissed and waiting; a
    /// shown proposal naming it is withdrawn and the rest proposed when no work runs.
    void receiveUnmountedImportSource(const std::optional<QString> &url) override;
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

    const QSet<QString> &initialMountedImportSourceURLs() const
    {
        return m_initialMountedImportSourceURLs;
    }

    // --- Source-media safety (ImportWorkflows_SourceMediaSafety.cpp) ---------------------
    // A check lists the removable volumes and revalidates the records' source-media evidence
    // against them on the utility pool, with the workflows' file manager and hasher. Records it
    // changed set "Source media changed; do not erase it until it is copied and archived again"
    // and refresh the visible items; a failure is dropped silently. Destroying the workflows
    // stops a running check, which then publishes nothing.

    /// Starts a check unless one started less than 60 s ago (on the workflow clock) or a
    /// throttled check runs. Returns at once.
    void scheduleSourceMediaSafetyRefresh();
    /// Waits for the running throttled check, or runs a check now and publishes it.
    QCoro::Task<> refreshSourceMediaSafetyNow() override;

private:
    /// The work running now as the state objects publish it, with an Add from its very entry.
    RunningWork runningWork() const;
    bool isIngestCacheMigrationPending() const;
    /// Publishes the end of an Add to Ingest Cache: not importing, row closed, refresh drained.
    void finishAddToIngestCache(const QUuid &transferID);
    static std::optional<ImportReviewItem> importReviewItem(const LocalLibraryItem &item,
                                                            const FileManager &files);
    /// Drops the selection and the confirmation with the selection's failure text.
    void invalidateSelectedImport();
    /// Marks `items` as needing attention (on a pool, under the library's exclusive access) and
    /// takes them out of the selection, with the selection's failure text. A record that no
    /// longer names the files found changed is left as it is; false when none was marked.
    QCoro::Task<bool> recordUnavailableImportItems(QList<LocalLibraryItem> items);
    /// The end of a confirmed import, either way: not importing, row closed, refresh drained.
    void finishConfirmedImport(const QUuid &transferID);
    /// `recoverInterruptedImports`, answering the items whose staged packages its resumption
    /// took up, however each ended; none when no resumption ran.
    QCoro::Task<QSet<QUuid>> recoverInterruptedImportsNamingResumed();
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

    const Services m_services;
    ImportState &m_state;
    ShellState &m_shellState;
    const SessionState &m_sessionState;
    LibraryState &m_libraryState;
    const RestoreState &m_restoreState;
    const IngestCacheState &m_ingestCacheState;
    IngestCacheWorkflows &m_ingestCache;
    LibraryWorkflows &m_libraryWorkflows;
    TransferProgressBoard &m_board;
    const std::function<QCoro::Task<>()> m_storageFiguresChanged;

    std::optional<WorkflowTaskHandle> m_importScanTask;
    /// The copy of the running Add to Ingest Cache; stopped with the workflows.
    std::optional<WorkflowTaskHandle> m_addToIngestCacheTask;
    /// Set from the entry of Add to Ingest Cache to its end: a second Add returns at once.
    bool m_isAddingReviewToIngestCache = false;
    /// Advanced by every review a scan publishes.
    qint64 m_importReviewRevision = 0;
    /// Stops the importer's runs (import or recovery) when the workflows go: the package in
    /// flight stays resumable.
    WorkflowTaskHandle m_importerRuns;
    /// An import run or a resumption failed and no resumption succeeded since: the next Start
    /// Import first runs the recovery.
    bool m_isImportRecoveryDue = false;
    /// The packages the last Start Import confirmation counted, until the next run takes them:
    /// the run reports those of them that ended archived, wherever they were finished.
    QSet<QUuid> m_confirmedImportItemIDs;

    QMap<QString, ImportScanVolume> m_pendingMountedImportSources;
    QSet<QString> m_initialMountedImportSourceURLs;
    QSet<QString> m_dismissedMountedImportSourceURLs;
    /// Advanced by every mount or unmount notice of a path: a volume listing started for an
    /// older notice applies nothing.
    QHash<QString, quint64> m_mountNoticeGenerations;

    /// Stops every running source-media check, of either form, when the workflows go.
    WorkflowTaskHandle m_sourceMediaChecks;
    /// Finished when the running throttled check has published; none when none runs.
    std::optional<QFuture<void>> m_sourceMediaSafetyTask;
    /// The start of the last check of either form, on the workflow clock (a wall clock stepped
    /// back would hold the checks back). Never stored.
    std::optional<std::chrono::steady_clock::time_point> m_lastSourceMediaSafetyCheckAt;

    mutable std::optional<LibraryMemo<std::pair<QSet<QUuid>, QString>, QList<LocalLibraryItem>>>
        m_selectedImportItemsMemo;
};

} // namespace Pellwick
