#include "CacheUpkeepFixture.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/IngestCacheRefreshGeneration.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

class UserManagedRefreshSchedulingTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requestRunsOnceAfterTheBusyWork_data();
    void requestRunsOnceAfterTheBusyWork();
};

void UserManagedRefreshSchedulingTests::requestRunsOnceAfterTheBusyWork_data()
{
    QTest::addColumn<bool>("move");
    QTest::newRow("a move started during a refresh") << true;
    QTest::newRow("a request during Add to Ingest Cache") << false;
}

void UserManagedRefreshSchedulingTests::requestRunsOnceAfterTheBusyWork()
{
    QFETCH(bool, move);
    CacheUpkeepFixture fixture;
    writeFile(fixture.cacheRoot() + u"/by-hand/M.DNG"_s, patternBytes(512, 9));
    writeCard(fixture.card(0), 1);
    Gate held;
    fixture.files->beforeOperation(move ? FileOperation::EntriesOfDirectory
                                        : FileOperation::CreateDirectory,
                                   u"/IngestCache"_s,
                                   [&](const QString &) { held.wait(); });
    const auto model = fixture.make();
    QVERIFY(scan(*model, {folderSource(fixture.card(0))}));
    const QMap<QString, QString> libraryBefore = fileManifest(fixture.libraryRoot());

    std::optional<QCoro::Task<>> adding;
    if (move) {
        model->ingestCacheWorkflows().scheduleUserManagedIngestCacheRefresh();
        QVERIFY(QTest::qWaitFor([&] { return held.arrived() > 0; }));
        model->ingestCacheState().setIsMigratingIngestCache(true);
        model->ingestCacheWorkflows().ingestCacheRefreshGeneration()->advance();
    } else {
        adding = model->importWorkflows().addReviewToIngestCache();
        QVERIFY(QTest::qWaitFor([&] { return held.arrived() > 0; }));
        model->ingestCacheWorkflows().scheduleUserManagedIngestCacheRefresh();
    }
    held.release();
    if (move) {
        QVERIFY(QTest::qWaitFor(
            [&] { return !model->ingestCacheWorkflows().isIngestCacheRefreshRunning(); }));
        QVERIFY(model->ingestCacheWorkflows().isIngestCacheRefreshPending());
        QCOMPARE(fileManifest(fixture.libraryRoot()), libraryBefore);
        model->ingestCacheState().setIsMigratingIngestCache(false);
        model->ingestCacheWorkflows().drainPendingIngestCacheRefresh(); // as the end of a move does
    } else {
        QCoro::waitFor(std::move(*adding));
    }

    QVERIFY(QTest::qWaitFor([&] {
        return fixture.recordsNamed(u"M.DNG"_s) == 1
               && !model->ingestCacheWorkflows().isIngestCacheRefreshRunning();
    }));
    QVERIFY(!model->ingestCacheWorkflows().isIngestCacheRefreshPending());
}

QTEST_GUILESS_MAIN(UserManagedRefreshSchedulingTests)
#include "UserManagedRefreshSchedulingTests.moc"
