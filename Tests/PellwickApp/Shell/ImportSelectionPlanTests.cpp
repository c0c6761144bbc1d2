#include "ConfirmedImportHarness.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>

#include <QRegularExpression>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Status = LibraryItemImportStatus;

namespace {

const QString changedText
    = u"Selected cache files changed or are missing; Import needs attention"_s;

struct PlanCase
{
    bool editSecondRaw = false;
    bool selectUnknownID = false;
    bool movePending = false;
    bool moveRunning = false;
    bool signedOut = false;
    bool secondOutsideCache = false; ///< its package lies in a folder that is no longer the cache
    /// While the plan's check looks for the second package, its record is re-pointed to a copy
    /// in another folder and the files it named are deleted, as an Add of its card again does.
    bool secondRepointedDuringCheck = false;
    /// A run was cut in the first package's upload; the other two are selected.
    bool cutRunBefore = false;
    qint64 usedBytes = 1000;
    // Outcomes.
    bool plan = false;
    std::optional<QString> message = std::nullopt;
    qsizetype selectedAfter = 3;
    QList<Status> statuses
        = {Status::LocalCacheReady, Status::LocalCacheReady, Status::LocalCacheReady};
    std::optional<qint64> confirmedRemaining = std::nullopt;
    /// Packages the run carries on besides the selection.
    int resumed = 0;
};

} // namespace

Q_DECLARE_METATYPE(PlanCase)

class ImportSelectionPlanTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { CurlFetch::initializeGlobally(); }

    void plan_data();
    void plan();
};

void ImportSelectionPlanTests::plan_data()
{
    QTest::addColumn<PlanCase>("c");
    QTest::newRow("unchanged") << PlanCase{.plan = true, .confirmedRemaining = 9000};
    QTest::newRow("remaining never below 0")
        << PlanCase{.usedBytes = 20000, .plan = true, .confirmedRemaining = 0};
    QTest::newRow("one of three RAWs edited") << PlanCase{
        .editSecondRaw = true,
        .message = changedText,
        .selectedAfter = 2,
        .statuses = {Status::LocalCacheReady, Status::NeedsAttention, Status::LocalCacheReady},
        .confirmedRemaining = 9000};
    QTest::newRow("an id naming no record")
        << PlanCase{.selectUnknownID = true, .message = changedText, .selectedAfter = 0};
    QTest::newRow("move running") << PlanCase{.moveRunning = true};
    QTest::newRow("move pending") << PlanCase{.movePending = true};
    QTest::newRow("signed out") << PlanCase{.signedOut = true};
    QTest::newRow("one package outside the active cache")
        << PlanCase{.secondOutsideCache = true, .plan = true, .confirmedRemaining = 9000};
    QTest::newRow("a record re-pointed while it is checked")
        << PlanCase{.secondRepointedDuringCheck = true, .plan = true, .confirmedRemaining = 9000};
    QTest::newRow("a package a cut run left, not selected") << PlanCase{
        .cutRunBefore = true,
        .plan = true,
        .message = u"Connection failed. Check connection and retry."_s,
        .selectedAfter = 2,
        .statuses = {Status::Uploading, Status::LocalCacheReady, Status::LocalCacheReady},
        .confirmedRemaining = 9000,
        .resumed = 1};
}

void ImportSelectionPlanTests::plan()
{
    QFETCH(PlanCase, c);
    UserLibrary account;
    account.paidPlan.status = PaidPlanStatus::Paid;
    account.paidPlan.storageEntitlement = {c.usedBytes, 10000};
    ConfirmedImportHarness h(3, account);
    ImportState &imports = h.imports();
    if (c.editSecondRaw)
        writeFile(*h.records[1].ingestCacheOriginalURL, "edited");
    if (c.selectUnknownID) {
        QSet<QUuid> selection = h.model->libraryState().selectedLibraryItemIDs();
        selection.insert(QUuid::createUuid());
        h.model->libraryState().setSelectedLibraryItemIDs(selection);
        imports.setImportSelectionConfirmation(ImportSelectionConfirmation{1, 1, 1});
    }
    if (c.movePending)
        h.pendMove(*h.model);
    h.model->ingestCacheState().setIsMigratingIngestCache(c.moveRunning);
    if (c.signedOut)
        h.model->sessionState().setSession(std::nullopt);
    QList<LocalLibraryItem> planned = h.records;
    if (c.secondOutsideCache) {
        LocalLibraryItem &moved = h.records[1];
        for (std::optional<QString> *url :
             {&moved.ingestCacheOriginalURL, &moved.ingestCacheSidecarURL}) {
            const QString old = h.dir.filePath(u"Old/"_s + QFileInfo(**url).fileName());
            writeFile(old, readFile(**url));
            *url = old;
        }
        QVERIFY(h.library.writeItems(h.records));
        planned.removeAt(1);
        h.mainThreadDiskWork = 0;
    }

    if (c.cutRunBefore) {
        h.backend.objectStore().setPutBehaviour({.resetAfterBytes = 10});
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(u"^Confirmed Import failed: "_s));
        h.model->libraryState().setSelectedLibraryItemIDs({h.records[0].id, h.records[1].id});
        h.startImport();
        h.model->libraryState().setSelectedLibraryItemIDs({h.records[1].id, h.records[2].id});
        planned.removeFirst();
    }

    QCoro::waitFor(h.model->importWorkflows().requestSelectedImportConfirmation());
    const std::optional<ImportSelectionConfirmation> confirmation
        = imports.importSelectionConfirmation();
    QCOMPARE(confirmation.has_value(), c.confirmedRemaining.has_value());
    if (confirmation) {
        // The button counts what the dialog counts.
        QCOMPARE(confirmation->packageCount,
                 h.model->importWorkflows().selectedImportItems().size() + c.resumed);
        QCOMPARE(confirmation->packageCount, planned.size() + c.resumed);
        QCOMPARE(confirmation->byteCount,
                 (planned.size() + c.resumed) * (4096 + 24) + (c.editSecondRaw ? 6 - 4096 : 0));
        QCOMPARE(confirmation->remainingByteCount, *c.confirmedRemaining);
    }

    std::atomic<bool> repointed = false;
    const LocalLibraryItem before = h.records[1];
    if (c.secondRepointedDuringCheck) {
        LocalLibraryItem &moved = h.records[1];
        for (std::optional<QString> *url :
             {&moved.ingestCacheOriginalURL, &moved.ingestCacheSidecarURL})
            **url = h.cacheRoot() + u"/c/"_s + QFileInfo(**url).fileName();
        planned[1] = moved;
        h.files->beforeOperation(FileOperation::FileExists, u"b/P1.DNG"_s, [&](const QString &) {
            if (repointed.exchange(true))
                return;
            writeFile(*moved.ingestCacheOriginalURL, readFile(*before.ingestCacheOriginalURL));
            writeFile(*moved.ingestCacheSidecarURL, readFile(*before.ingestCacheSidecarURL));
            if (!h.library.writeItems(h.records))
                qFatal("the library refused the re-pointed record");
            QFile::remove(*before.ingestCacheOriginalURL);
            QFile::remove(*before.ingestCacheSidecarURL);
        });
    }
    const std::optional<ImportWorkflows::SelectedImportPlan> plan
        = QCoro::waitFor(h.model->importWorkflows().selectedImportPlan());
    QCOMPARE(repointed.load(), c.secondRepointedDuringCheck);
    QCOMPARE(plan.has_value(), c.plan);
    if (plan) {
        QCOMPARE(plan->token, h.token);
        QCOMPARE(plan->items, planned);
        QCOMPARE(plan->review.items.size(), planned.size());
    }
    QCOMPARE(imports.importErrorMessage(), c.message);
    QCOMPARE(h.model->libraryState().selectedLibraryItemIDs().size(), c.selectedAfter);
    QCOMPARE(h.statuses(), c.statuses);
    QCOMPARE(h.mainThreadWork(), 0);
}

QTEST_GUILESS_MAIN(ImportSelectionPlanTests)
#include "ImportSelectionPlanTests.moc"
