// The confirmed import over real HTTP: the production client, importer, Staging Area, store and
// Ingest Cache against the test backend and its object store on loopback.

#include "ConfirmedImportHarness.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>

#include <QRegularExpression>
#include <QSignalSpy>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Status = LibraryItemImportStatus;
using Fault = TestBackend::Fault;

namespace {

const QByteArray storageFullBody
    = R"({"error":"storage_full","storage":{"state":"storage_full","used_bytes":10,)"
      R"("limit_bytes":10,"remaining_bytes":0,"message":"Archive storage is full."}})";

struct ImportCase
{
    int packages = 2;
    bool undeletableFirst = false;
    bool secondNotVerified = false;
    qint64 storageLimit = qint64(1) << 40;
    bool storageFullAtUpload = false;
    bool closedMidUpload = false;
    /// The kept connection closes once an upload request was read, before any reply.
    bool closedAfterUploadRequest = false;
    /// An Add to Ingest Cache is asked for while the import runs (at its first staging), or
    /// while it starts (at its source-media check) with a card holding package 0 again.
    enum class Add {
        None,
        WhileRunning,
        WhileStarting
    } added = Add::None;
    /// A refresh begun before the import (held at its listing) reconciles after package 1's
    /// sidecar was edited while the import holds package 0 at its staging.
    bool sidecarEditedUnderRefresh = false;
    /// The Restore page's library refresh gets the backend's items just before this request of
    /// the import ("METHOD path") and applies them once the import has ended.
    QByteArray listedBefore = {};
    bool german = false;
    /// Package 1 holds package 0's RAW original, with a sidecar of its own.
    bool sameRawOtherSidecar = false;
    /// The selection also holds the id of a record that is gone.
    bool goneSelected = false;
    /// Writes in the Staging Area fail with ENOSPC.
    bool stagingAreaFull = false;
    /// A run cut at package 0's upload request left it staged and ready; the same selection is
    /// imported again.
    bool cutRunBefore = false;
    /// After the cut run, the Start Import confirmation, then a recovery (as a refresh starts
    /// one) that finishes package 0 before the run.
    bool recoveredBeforeRun = false;
    /// Refresh Library then succeeds: the import's message goes.
    bool refreshedAfter = false;
    // Outcomes.
    QString message;
    bool success = false;
    int releases = 1;
    QList<Status> statuses = {Status::VerifiedBackup, Status::VerifiedBackup};
    /// Package folders left in the Staging Area.
    int stagedFolders = 0;
    /// Reads of the library's figures after the import.
    int libraryReads = 1;
};

} // namespace

Q_DECLARE_METATYPE(ImportCase)

class ConfirmedImportWorkflowTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { CurlFetch::initializeGlobally(); }

    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void canStartImport_data();
    void canStartImport();
    void outcome_data();
    void outcome();
    void secondStartDuringSourceMediaCheck();
    void recoveryWaitsForStartingImport();
    void closedWindowLeavesPackageResumable();
};

void ConfirmedImportWorkflowTests::canStartImport_data()
{
    QTest::addColumn<Status>("status");
    QTest::addColumn<bool>("expected");
    QTest::newRow("ready") << Status::LocalCacheReady << true;
    QTest::newRow("cleanup pending with a cached copy") << Status::CleanupPending << false;
}

void ConfirmedImportWorkflowTests::canStartImport()
{
    QFETCH(Status, status);
    QFETCH(bool, expected);
    ConfirmedImportHarness h(1);
    LocalLibraryItem item = h.records[0];
    item.importStatus = status;
    QCOMPARE(h.model->importWorkflows().canStartImport(item), expected);
}

void ConfirmedImportWorkflowTests::outcome_data()
{
    QTest::addColumn<ImportCase>("c");
    const ImportCase archived{.message = u"2 files safely archived; cache cleanup complete"_s,
                              .success = true};
    QTest::newRow("two archived") << archived;
    ImportCase overlapped = archived;
    overlapped.added = ImportCase::Add::WhileRunning;
    QTest::newRow("an Add to Ingest Cache during the import is refused") << overlapped;
    overlapped.added = ImportCase::Add::WhileStarting;
    QTest::newRow("an Add re-copying a selected package while the import starts is refused")
        << overlapped;
    ImportCase edited = archived;
    edited.sidecarEditedUnderRefresh = true;
    QTest::newRow("a refresh begun before the import, a planned sidecar edited") << edited;
    ImportCase listedBeforeCreation = archived;
    listedBeforeCreation.listedBefore = "POST /api/library/verified_backup_uploads";
    QTest::newRow("a library refresh listing before the import made its items")
        << listedBeforeCreation;
    ImportCase listedBeforeVerification = archived;
    listedBeforeVerification.listedBefore = "POST /api/library/verified_backup_uploads/3/finalize";
    QTest::newRow("a library refresh listing before the import verified its items")
        << listedBeforeVerification;
    ImportCase german = archived;
    german.german = true;
    QTest::newRow("two archived, German locale") << german;
    ImportCase goneSelected = archived;
    goneSelected.goneSelected = true;
    QTest::newRow("a selected record gone before the import") << goneSelected;
    QTest::newRow("an undeletable package")
        << ImportCase{.packages = 1,
                      .undeletableFirst = true,
                      .message = u"1 files safely archived; 1 cache cleanups will retry"_s,
                      .success = true,
                      .statuses = {Status::CleanupPending},
                      .stagedFolders = 1};
    QTest::newRow("a selected package a cut run left, resumed first, undeletable")
        << ImportCase{.undeletableFirst = true,
                      .cutRunBefore = true,
                      .message = u"2 files safely archived; 1 cache cleanups will retry"_s,
                      .success = true,
                      .statuses = {Status::CleanupPending, Status::VerifiedBackup},
                      .stagedFolders = 1};
    QTest::newRow("a confirmed package a recovery finished before the run")
        << ImportCase{.cutRunBefore = true,
                      .recoveredBeforeRun = true,
                      .message = u"2 files safely archived; cache cleanup complete"_s,
                      .success = true};
    QTest::newRow("one of two returned needing attention") << ImportCase{
        .secondNotVerified = true,
        .message = u"1 files safely archived; cache cleanup complete; 1 files need attention"_s,
        .statuses = {Status::VerifiedBackup, Status::NeedsAttention},
        .stagedFolders = 1};
    QTest::newRow("one RAW from two cards with different sidecars: two photos archived")
        << ImportCase{.sameRawOtherSidecar = true,
                      .message = u"2 files safely archived; cache cleanup complete"_s,
                      .success = true};
    QTest::newRow("storage full at the reservation")
        << ImportCase{.storageLimit = 100,
                      .message = u"Archive storage is full."_s,
                      .releases = 0,
                      .statuses = {Status::LocalCacheReady, Status::LocalCacheReady},
                      .libraryReads = 0};
    QTest::newRow("storage full at the import")
        << ImportCase{.storageFullAtUpload = true,
                      .message = u"Storage Full"_s,
                      .statuses = {Status::NeedsAttention, Status::LocalCacheReady},
                      .stagedFolders = 1,
                      .libraryReads = 0};
    QTest::newRow("Staging Area full")
        << ImportCase{.stagingAreaFull = true,
                      .message = u"Import could not complete: no space left in the Staging Area "
                                 u"(<staging>). Keep source media and retry."_s,
                      .statuses = {Status::LocalCacheReady, Status::LocalCacheReady},
                      .libraryReads = 0};
    QTest::newRow("connection closed after an upload request")
        << ImportCase{.closedAfterUploadRequest = true,
                      .message = u"Connection failed. Check connection and retry."_s,
                      .statuses = {Status::LocalCacheReady, Status::LocalCacheReady},
                      .stagedFolders = 1,
                      .libraryReads = 0};
    QTest::newRow("connection closed after an upload request, library refreshed")
        << ImportCase{.closedAfterUploadRequest = true,
                      .refreshedAfter = true,
                      .message = u"Connection failed. Check connection and retry."_s,
                      .statuses = {Status::LocalCacheReady, Status::LocalCacheReady},
                      .stagedFolders = 1,
                      .libraryReads = 0};
    QTest::newRow("connection closed mid-upload")
        << ImportCase{.closedMidUpload = true,
                      .message = u"Connection failed. Check connection and retry."_s,
                      .statuses = {Status::Uploading, Status::LocalCacheReady},
                      .stagedFolders = 1,
                      .libraryReads = 0};
}

void ConfirmedImportWorkflowTests::outcome()
{
    QFETCH(ImportCase, c);
    if (c.german)
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    UserLibrary account;
    account.paidPlan.status = PaidPlanStatus::Paid;
    account.paidPlan.storageEntitlement = {0, c.storageLimit};
    ConfirmedImportHarness h(c.packages, account);
    if (c.undeletableFirst)
        h.files->failOperation(FileOperation::RemoveItem, EBUSY, u"P0.DNG"_s);
    if (c.secondNotVerified) {
        h.backend.injectFault(
            "POST",
            "/api/library/verified_backup_uploads/4/finalize",
            Fault::reply(200, R"({"library_item":{"id":4,"import_status":"needs_attention"}})"));
    }
    if (c.storageFullAtUpload)
        h.backend.injectFault(
            "POST", "/api/library/verified_backup_uploads", Fault::reply(409, storageFullBody), 1);
    if (c.stagingAreaFull)
        h.files->failOperation(FileOperation::Write, ENOSPC, u"StagingArea"_s);
    if (c.closedMidUpload)
        h.backend.objectStore().setPutBehaviour({.resetAfterBytes = 10});
    if (c.closedAfterUploadRequest || c.cutRunBefore)
        h.backend.injectFault(
            "POST", "/api/library/verified_backup_uploads", Fault::closeBeforeReply(), 1);
    if (c.sameRawOtherSidecar) {
        writeFile(*h.records[1].ingestCacheOriginalURL, h.rawBytes[0]);
        h.rawBytes[1] = h.rawBytes[0];
        h.records[1].contentHash = h.records[0].contentHash;
        QVERIFY(h.library.writeItems(h.records));
        h.mainThreadDiskWork = 0;
    }
    QSet<QUuid> selected;
    for (const LocalLibraryItem &record : std::as_const(h.records))
        selected.insert(record.id);
    if (c.goneSelected)
        h.model->libraryState().setSelectedLibraryItemIDs(selected + QSet{QUuid::createUuid()});
    if (c.cutRunBefore || (!c.success && c.statuses.last() == Status::LocalCacheReady))
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(u"^Confirmed Import failed: "_s));
    if (c.cutRunBefore) {
        h.startImport();
        h.backend.clearRequests();
    }
    if (c.recoveredBeforeRun) {
        QCoro::waitFor(h.model->importWorkflows().requestSelectedImportConfirmation());
        QCOMPARE(h.imports().importSelectionConfirmation()->packageCount, 2);
        h.recover();
        QCOMPARE(h.statuses(), (QList<Status>{Status::VerifiedBackup, Status::LocalCacheReady}));
    }

    const qsizetype readsBefore = h.backend.requestCount("GET", "/api/library");

    // Outlive the import: the file manager and the volume listing keep calling them.
    Gate staging;
    Gate request;  // an import's request, until a library refresh's list is made
    Gate listHeld; // that list, until the import has ended
    const auto unhook = qScopeGuard([&] {
        h.backend.setRequestHook({});
        request.release();
        listHeld.release();
    });
    Gate listing;
    std::atomic<bool> listed = false;
    if (c.added != ImportCase::Add::None) {
        if (c.added == ImportCase::Add::WhileRunning) {
            writeCard(h.card(0), 1);
            h.files->beforeOperation(FileOperation::ReplaceItem,
                                     u"import-state"_s,
                                     [&](const QString &) { staging.wait(); });
        } else {
            QVERIFY(QDir().mkpath(h.card(0) + u"/DCIM"_s));
            for (const std::optional<QString> &file :
                 {h.records[0].ingestCacheOriginalURL, h.records[0].ingestCacheSidecarURL})
                QVERIFY(QFile::copy(*file, h.card(0) + u"/DCIM/"_s + lastPathComponent(*file)));
            h.volumeProvider = std::make_shared<GatedVolumes>(listing);
            h.model = h.make();
            h.model->sessionState().setSession(AuthenticatedLibrarySession{h.token, {}, {}});
            h.selectAll();
            h.mainThreadDiskWork = 0;
        }
        QVERIFY(scan(*h.model, {folderSource(h.card(0))}));
        QCoro::Task<> importing = h.model->importWorkflows().startSelectedImports();
        QVERIFY(QTest::qWaitFor([&] { return staging.arrived() + listing.arrived() > 0; }));
        QCoro::waitFor(h.model->importWorkflows().addReviewToIngestCache());
        const std::optional<QString> added = h.imports().importErrorMessage();
        staging.release();
        listing.release();
        QCoro::waitFor(std::move(importing));
        QCOMPARE(added, std::nullopt);
    } else if (c.sidecarEditedUnderRefresh) {
        // Only the refresh's listing waits; the import's own reconciliation lists after it.
        h.files->beforeOperation(FileOperation::EntriesOfDirectory, u"/IngestCache"_s, [&](auto) {
            if (!listed.exchange(true))
                listing.wait();
        });
        h.files->beforeOperation(FileOperation::ReplaceItem,
                                 u"import-state"_s,
                                 [&](const QString &) { staging.wait(); });
        h.model->ingestCacheWorkflows().scheduleUserManagedIngestCacheRefresh();
        QVERIFY(QTest::qWaitFor([&] { return listing.arrived() > 0; }));
        QCoro::Task<> importing = h.model->importWorkflows().startSelectedImports();
        const bool held = QTest::qWaitFor([&] { return staging.arrived() > 0; });
        writeFile(*h.records[1].ingestCacheSidecarURL, "<x:xmpmeta>edited</x:xmpmeta>");
        // The edit is what the archive must hold, and what must not stay behind in the cache.
        h.records[1].ingestCacheSidecarContentHash
            = referenceSha256("<x:xmpmeta>edited</x:xmpmeta>");
        listing.release();
        const bool reconciled = QTest::qWaitFor(
            [&] { return !h.model->ingestCacheWorkflows().isIngestCacheRefreshRunning(); });
        staging.release();
        QCoro::waitFor(std::move(importing));
        QVERIFY(held && reconciled);
    } else if (!c.listedBefore.isEmpty()) {
        h.backend.setRequestHook(
            [&](const QByteArray &method, const QByteArray &path, bool applied) {
                if (!applied && method + ' ' + path == c.listedBefore && request.arrived() == 0)
                    request.wait();
                if (applied && path.endsWith("/library/items") && listHeld.arrived() == 0)
                    listHeld.wait();
                return true;
            });
        QCoro::Task<> importing = h.model->importWorkflows().startSelectedImports();
        QVERIFY(QTest::qWaitFor([&] { return request.arrived() > 0; }));
        QCoro::Task<> refreshing = h.model->restoreWorkflows().refreshLocalLibraryCacheForRestore();
        QVERIFY(QTest::qWaitFor([&] { return listHeld.arrived() > 0; }));
        request.release();
        QCoro::waitFor(std::move(importing));
        listHeld.release();
        QCoro::waitFor(std::move(refreshing));
        QCOMPARE(storedRecords(h.library).size(), h.records.size());
    } else {
        h.startImport();
    }

    QCOMPARE(h.imports().importErrorMessage(),
             QString(c.message).replace(u"<staging>"_s, h.filePath(u"StagingArea"_s)));
    QCOMPARE(h.stagedFolders().size(), c.stagedFolders);
    QCOMPARE(h.backend.requestCount("GET", "/api/library") - readsBefore, c.libraryReads);
    QCOMPARE(h.imports().isImportMessageSuccess(), c.success);
    QCOMPARE(h.statuses(), c.statuses);
    QCOMPARE(h.reservations(), 1);
    QCOMPARE(h.releases(), c.releases);
    QVERIFY(h.backend.reservationIDs(h.email).isEmpty());
    QVERIFY(!h.imports().isImporting());
    QVERIFY(h.model->shellState().transferProgresses().isEmpty());
    const QString problem = h.problemWithArchive();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(h.mainThreadWork(), 0);
    // The records stay, archived or not: only the id of a record that is gone leaves.
    QCOMPARE(h.model->libraryState().selectedLibraryItemIDs(), selected);
    // Only a package archived as it is cached leaves the cache; the others stay named.
    for (qsizetype n = 0; n < c.statuses.size(); ++n) {
        const bool kept = c.statuses[n] != Status::VerifiedBackup;
        QCOMPARE(QFile::exists(*h.records[n].ingestCacheSidecarURL), kept);
        QCOMPARE(h.stored(h.records[n].id)->ingestCacheSidecarURL.has_value(), kept);
    }
    if (c.refreshedAfter) {
        QCoro::waitFor(h.model->sessionWorkflows().refreshLibrary());
        QTRY_VERIFY(!h.imports().importErrorMessage());
    }
    if (!c.success)
        return;
    // Refreshes find every package in its record: nothing comes back to be imported again.
    const qsizetype recordCount = storedRecords(h.library).size();
    const qsizetype requestCount = h.backend.requests().size();
    for (int refresh = 0; refresh < 2; ++refresh) {
        h.model->ingestCacheWorkflows().scheduleUserManagedIngestCacheRefresh();
        QVERIFY(QTest::qWaitFor(
            [&] { return !h.model->ingestCacheWorkflows().isIngestCacheRefreshRunning(); }));
    }
    QSet<QUuid> ready;
    for (const LocalLibraryItem &record : storedRecords(h.library)) {
        if (record.importStatus == Status::LocalCacheReady)
            ready.insert(record.id);
    }
    h.model->libraryState().setSelectedLibraryItemIDs(ready);
    h.startImport();
    QCOMPARE(storedRecords(h.library).size(), recordCount);
    QCOMPARE(h.backend.requests().size(), requestCount);
}

void ConfirmedImportWorkflowTests::secondStartDuringSourceMediaCheck()
{
    ConfirmedImportHarness h(1);
    Gate listing;
    h.volumeProvider = std::make_shared<GatedVolumes>(listing);
    h.model = h.make();
    h.model->sessionState().setSession(AuthenticatedLibrarySession{h.token, {}, {}});
    h.selectAll();
    QCoro::Task<> first = h.model->importWorkflows().startSelectedImports();
    QVERIFY(QTest::qWaitFor([&] { return listing.arrived() > 0; }));
    h.startImport();
    listing.release();
    QCoro::waitFor(std::move(first));
    QCOMPARE(h.reservations(), 1);
    QCOMPARE(h.statuses(), QList<Status>{Status::VerifiedBackup});
}

void ConfirmedImportWorkflowTests::recoveryWaitsForStartingImport()
{
    ConfirmedImportHarness h(1);
    Gate listing;
    h.volumeProvider = std::make_shared<GatedVolumes>(listing);
    h.model = h.make();
    h.model->sessionState().setSession(AuthenticatedLibrarySession{h.token, {}, {}});
    h.selectAll();
    QSignalSpy recovering(&h.imports(), &ImportState::isRecoveringInterruptedImportsChanged);
    QCoro::Task<> first = h.model->importWorkflows().startSelectedImports();
    QVERIFY(QTest::qWaitFor([&] { return listing.arrived() > 0; }));
    h.recover();
    QCOMPARE(h.imports().importSelectionConfirmation(), std::nullopt);
    QCoro::waitFor(h.model->importWorkflows().requestSelectedImportConfirmation());
    QCOMPARE(h.imports().importSelectionConfirmation(), std::nullopt);
    listing.release();
    QCoro::waitFor(std::move(first));
    QCOMPARE(recovering.count(), 0);
    QCOMPARE(h.statuses(), QList<Status>{Status::VerifiedBackup});
}

void ConfirmedImportWorkflowTests::closedWindowLeavesPackageResumable()
{
    ConfirmedImportHarness h(1);
    std::atomic<bool> closed = false;
    h.files->beforeOperation(FileOperation::ReplaceItem, u"import-state"_s, [&](const QString &) {
        if (!closed.exchange(true))
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [&] { h.model.reset(); },
                Qt::BlockingQueuedConnection);
    });
    QCoro::Task<> run = h.model->importWorkflows().startSelectedImports();
    QVERIFY(QTest::qWaitFor([&] { return !h.model; }));
    QVERIFY(WorkflowPools::userInitiated().waitForDone(60'000));
    QCOMPARE(h.releases(), 1);
    QVERIFY(h.statuses() != QList<Status>{Status::VerifiedBackup});
    QVERIFY(QFile::exists(*h.records[0].ingestCacheOriginalURL));
}

QTEST_GUILESS_MAIN(ConfirmedImportWorkflowTests)
#include "ConfirmedImportWorkflowTests.moc"
