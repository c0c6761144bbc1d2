#include "ConfirmedImportHarness.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/Session/SessionWorkflows.h>

#include <QRegularExpression>
#include <QSignalSpy>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Status = LibraryItemImportStatus;
using PutBehaviour = TestObjectStore::PutBehaviour;

namespace {

const QString recovering = u"Recovering interrupted Import"_s;

struct RecoveryCase
{
    bool archived = false;
    bool undeletable = false;
    bool libraryWriteFails = false;
    std::optional<PutBehaviour> interruptedBy = std::nullopt;
    /// The import's library write so numbered (from 1) finds the disk full.
    int importWriteFailing = 0;
    /// Recovered by the next Start Import, with no new sign-in or launch.
    bool byNextStartImport = false;
    bool otherNeedsAttention = false;
    /// Shown before the recovery, for another cause.
    QString earlierMessage = {};
    bool german = false;
    /// Relaunched: the session is restored from the stored token, with no sign-in.
    bool restoredSession = false;
    // Outcomes: every text published, none as "".
    QStringList messages = {};
    Status status = Status::VerifiedBackup;
};

} // namespace

Q_DECLARE_METATYPE(RecoveryCase)

class ImportRecoveryWorkflowTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { CurlFetch::initializeGlobally(); }

    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void texts_data();
    void texts();
    void startDuringRecoveryReturnsAtOnce();
};

void ImportRecoveryWorkflowTests::texts_data()
{
    QTest::addColumn<RecoveryCase>("c");
    QTest::newRow("all Verified Backups") << RecoveryCase{.archived = true};
    QTest::newRow("undeletable archived package")
        << RecoveryCase{.archived = true,
                        .undeletable = true,
                        .messages = {u"Archive verified; cache cleanup will retry"_s},
                        .status = Status::CleanupPending};
    QTest::newRow("cleanup fails")
        << RecoveryCase{.archived = true,
                        .undeletable = true,
                        .libraryWriteFails = true,
                        .messages = {u"Ingest Cache reconciliation needs attention"_s,
                                     u"Archive verified; cache cleanup needs attention"_s},
                        .status = Status::CleanupPending};
    QTest::newRow("left uploading by a closed connection") << RecoveryCase{
        .interruptedBy = PutBehaviour{.resetAfterBytes = 10}, .messages = {recovering, QString()}};
    QTest::newRow("left uploading, then a relaunch with the remembered session")
        << RecoveryCase{.interruptedBy = PutBehaviour{.resetAfterBytes = 10},
                        .restoredSession = true,
                        .messages = {recovering, QString()}};
    QTest::newRow("left uploading, another item needing attention")
        << RecoveryCase{.interruptedBy = PutBehaviour{.resetAfterBytes = 10},
                        .otherNeedsAttention = true,
                        .messages = {recovering, QString()}};
    QTest::newRow("left uploading, changed cache files told before")
        << RecoveryCase{.interruptedBy = PutBehaviour{.resetAfterBytes = 10},
                        .otherNeedsAttention = true,
                        .earlierMessage = u"Changed Ingest Cache files need attention"_s,
                        .messages = {recovering, u"Changed Ingest Cache files need attention"_s}};
    QTest::newRow("left uploading by a full library disk, then Start Import") << RecoveryCase{
        .importWriteFailing = 4, .byNextStartImport = true, .messages = {recovering, QString()}};
}

void ImportRecoveryWorkflowTests::texts()
{
    QFETCH(RecoveryCase, c);
    if (c.german)
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ConfirmedImportHarness h(c.otherNeedsAttention ? 2 : 1);
    if (c.undeletable)
        h.files->failOperation(
            FileOperation::RemoveItem, EBUSY, u"P0.DNG"_s, c.libraryWriteFails ? 1 : 0);
    if (c.archived)
        h.startImport();
    const bool interrupted = c.interruptedBy || c.importWriteFailing > 0;
    if (interrupted) {
        h.backend.objectStore().setPutBehaviour(c.interruptedBy.value_or(PutBehaviour{}));
        if (c.importWriteFailing > 0)
            h.files->failOperation(
                FileOperation::Write, ENOSPC, u"/LocalLibraryCache/"_s, c.importWriteFailing);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(u"^Confirmed Import failed: "_s));
        h.startImport();
        h.backend.objectStore().setPutBehaviour({});
        h.backend.objectStore().releaseStalls();
        if (c.interruptedBy)
            QCOMPARE(h.imports().importErrorMessage(),
                     u"Connection failed. Check connection and retry."_s);
        QCOMPARE(h.statuses().first(), Status::Uploading);
    }
    if (c.otherNeedsAttention) {
        QVERIFY(h.library.updateImportStatus(h.records[1].id, Status::NeedsAttention));
        h.mainThreadDiskWork = 0;
    }
    if (c.libraryWriteFails)
        h.files->failOperation(FileOperation::Write, EIO, u"/LocalLibraryCache/"_s);
    if (c.restoredSession) {
        h.model = h.make();
        h.tokenStore->save(h.token);
    }
    if (!c.earlierMessage.isEmpty())
        h.imports().setImportRecoveryMessage(c.earlierMessage);
    QStringList messages = {};
    QObject::connect(&h.imports(), &ImportState::importRecoveryMessageChanged, [&] {
        messages.append(h.imports().importRecoveryMessage().value_or(QString()));
    });
    QSignalSpy recoveringFlag(&h.imports(), &ImportState::isRecoveringInterruptedImportsChanged);

    if (c.restoredSession) {
        QCoro::waitFor(h.model->sessionWorkflows().restoreRememberedSession());
        QVERIFY(QTest::qWaitFor([&] { return recoveringFlag.count() == 2; }));
    } else if (c.byNextStartImport) {
        h.startImport();
    } else {
        h.recover();
    }

    QCOMPARE(messages, c.messages);
    QCOMPARE(recoveringFlag.count(), interrupted ? 2 : 0);
    QVERIFY(!h.imports().isRecoveringInterruptedImports());
    QCOMPARE(h.statuses().first(), c.status);
    QCOMPARE(h.reservations(), 1);
    QCOMPARE(h.releases(), 1);
    const QString problem = h.problemWithArchive();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(h.model->shellState().transferProgresses().isEmpty());
    QCOMPARE(h.mainThreadWork(), 0);
}

void ImportRecoveryWorkflowTests::startDuringRecoveryReturnsAtOnce()
{
    ConfirmedImportHarness h(1);
    h.backend.objectStore().setPutBehaviour({.resetAfterBytes = 10});
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(u"^Confirmed Import failed: "_s));
    h.startImport();
    h.backend.objectStore().setPutBehaviour({.stallAfterBytes = 10});
    QCoro::Task<> recovery = h.model->importWorkflows().recoverInterruptedImports();
    QVERIFY(QTest::qWaitFor([&] { return h.imports().isRecoveringInterruptedImports(); }));
    QCoro::Task<> start = h.model->importWorkflows().startSelectedImports();
    QVERIFY(start.isReady());
    h.backend.objectStore().setPutBehaviour({});
    h.backend.objectStore().releaseStalls();
    QCoro::waitFor(std::move(recovery));
    QCOMPARE(h.reservations(), 1);
}

QTEST_GUILESS_MAIN(ImportRecoveryWorkflowTests)
#include "ImportRecoveryWorkflowTests.moc"
