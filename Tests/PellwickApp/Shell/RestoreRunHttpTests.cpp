#include "RestoreHarness.h"

#include <PellwickApp/Workflows/Workflow.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using GetFault = TestObjectStore::GetFault;

class RestoreRunHttpTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { CurlFetch::initializeGlobally(); }

    void pausedRunResumesWithWhatIsMissing();
    void closedWindowKeepsTheParts();
};

void RestoreRunHttpTests::pausedRunResumesWithWhatIsMissing()
{
    RestoreHarness h(5);
    const qint64 id = h.makeReady();
    TestObjectStore &store = h.backend.objectStore();
    h.whenSaved(2, [&] { store.setGetFault(GetFault::Stall); });
    const QString folder = h.destination();
    const QHash<qint64, QString> names;
    QCoro::Task<> run = h.model->restoreWorkflows().restoreReadyItems(folder, names);
    QVERIFY(QTest::qWaitFor([&] { return h.objectGets(h.records[2].canonicalFilename) > 0; }));
    h.model->restoreWorkflows().pauseActiveRestoreTransfer();
    QCoro::waitFor(std::move(run));
    store.setGetFault(GetFault::None);
    store.releaseStalls();
    QCOMPARE(h.restore().restoreMessage(), u"Restore Transfer paused"_s);
    QVERIFY(h.restore().hasPausedRestoreTransfer());
    QCOMPARE(fileManifest(h.destination()).size(), 2);

    h.restoreInto();
    QCOMPARE(h.restore().restoreMessage(), u"Restore complete: 5 item(s) saved"_s);
    QCOMPARE(fileManifest(h.destination()), h.archivedHashes());
    for (const int n : {0, 1, 3, 4})
        QCOMPARE(h.objectGets(h.records[n].canonicalFilename), 1);
    QCOMPARE(h.backend.restoreRequest(id)->status, RestoreRequestStatus::Downloaded);
    QCOMPARE(h.restore().activeRestoreRequest(), std::nullopt);
}

void RestoreRunHttpTests::closedWindowKeepsTheParts()
{
    RestoreHarness h(RestoreHarness::numberedItems(1, 1000),
                     {},
                     {.chunkSizeBytes = 256, .maximumParallelChunks = 1});
    h.makeReady();
    // The window closes as the third part is fetched.
    h.duringFirst(FileOperation::CreateFile, u"512-767.part"_s, [&] {
        h.model->restoreWorkflows().pauseActiveRestoreTransfer();
        h.model.reset();
    });
    h.restoreInto();
    QVERIFY(WorkflowPools::restoreTransfers().waitForDone(60'000));
    const QString state = h.fixture.dir.filePath(u"RestoreTransfers"_s);
    QVERIFY(!fileManifest(state + u"/parts"_s).isEmpty());
    QCOMPARE(fileManifest(state + u"/manifests"_s).size(), 1);
    QCOMPARE(fileManifest(h.destination()), (QMap<QString, QString>()));
}

QTEST_GUILESS_MAIN(RestoreRunHttpTests)
#include "RestoreRunHttpTests.moc"
