#include "CacheUpkeepFixture.h"

#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>

#include <QSignalSpy>

#include <cerrno>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

class IngestCacheReconciliationWorkflowTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void texts_data();
    void texts();
};

struct TextCase
{
    bool viaRefresh = false;
    bool libraryWriteFails = false;
    bool movePending = false;
    bool handEdited = true;
    /// A pass that could not list the cache ran before.
    bool failedBefore = false;
    /// A pass marked the changed record, which then went with its files.
    bool settledBefore = false;
    /// A photo of a copy-in cut short lies in a batch folder still marked.
    bool interruptedCopy = false;
    std::optional<QString> message = u"Changed Ingest Cache files need attention"_s;
};

Q_DECLARE_METATYPE(TextCase)

void IngestCacheReconciliationWorkflowTests::texts_data()
{
    const QString failed = u"Ingest Cache reconciliation needs attention"_s;
    QTest::addColumn<TextCase>("c");
    QTest::newRow("reconcile: a failed library write")
        << TextCase{.libraryWriteFails = true, .message = failed};
    QTest::newRow("refresh: a failed library write")
        << TextCase{.viaRefresh = true, .libraryWriteFails = true, .message = failed};
    QTest::newRow("reconcile: a changed file under a marked batch folder") << TextCase{};
    QTest::newRow("refresh: a changed file under a marked batch folder")
        << TextCase{.viaRefresh = true};
    QTest::newRow("reconcile during a move") << TextCase{.movePending = true, .message = {}};
    QTest::newRow("reconcile after a failed one")
        << TextCase{.handEdited = false, .failedBefore = true, .message = {}};
    QTest::newRow("refresh after a failed one")
        << TextCase{.viaRefresh = true, .handEdited = false, .failedBefore = true, .message = {}};
    QTest::newRow("refresh once no changed file needs attention")
        << TextCase{.viaRefresh = true, .settledBefore = true, .message = {}};
    QTest::newRow("refresh: an interrupted copy's photo named until none is left")
        << TextCase{.viaRefresh = true,
                    .handEdited = false,
                    .settledBefore = true,
                    .interruptedCopy = true,
                    .message = {}};
}

void IngestCacheReconciliationWorkflowTests::texts()
{
    QFETCH(TextCase, c);
    CacheUpkeepFixture fixture;
    const LocalLibraryItem ready = fixture.addPackage(0, LibraryItemImportStatus::LocalCacheReady);
    if (c.handEdited) {
        writeFile(*ready.ingestCacheOriginalURL, "overwritten by hand");
        writeFile(fixture.cacheRoot() + u"/b/"_s + IngestCache::incompleteCopyMarkerName, "{}");
    }
    if (c.interruptedCopy) {
        writeFile(fixture.cacheRoot() + u"/c/P9.DNG"_s, patternBytes(4096, 10));
        writeFile(fixture.cacheRoot() + u"/c/"_s + IngestCache::incompleteCopyMarkerName, "{}");
    }
    if (c.libraryWriteFails)
        fixture.files->failOperation(FileOperation::Write, EIO, u"/LocalLibraryCache/"_s);
    const auto model = fixture.make();
    if (c.movePending)
        fixture.pendMove(*model);
    QSignalSpy published(&model->libraryState(), &LibraryState::localLibraryItemsRevisionChanged);
    const auto run = [&] {
        if (c.viaRefresh) {
            model->ingestCacheWorkflows().scheduleUserManagedIngestCacheRefresh();
            return QTest::qWaitFor(
                [&] { return !model->ingestCacheWorkflows().isIngestCacheRefreshRunning(); });
        }
        QCoro::waitFor(model->ingestCacheWorkflows().reconcileUserManagedIngestCache());
        return true;
    };
    if (c.failedBefore) {
        fixture.files->failOperation(
            FileOperation::EntriesOfDirectory, EIO, fixture.cacheRoot() + u"/b"_s, 1);
        QVERIFY(run());
        QVERIFY(model->importState().importRecoveryMessage().has_value());
    }

    if (c.settledBefore) {
        QVERIFY(run());
        if (c.interruptedCopy)
            QCOMPARE(model->importState().importRecoveryMessage(),
                     std::optional(u"1 photo needs attention: its copy into the Ingest Cache was "
                                   "interrupted. Add the card again to finish it."_s));
        QVERIFY(model->importState().importRecoveryMessage().has_value());
        QVERIFY(QDir(fixture.cacheRoot() + u"/c"_s).removeRecursively());
        QVERIFY(QDir(fixture.cacheRoot() + u"/b"_s).removeRecursively());
        QVERIFY(fixture.library.writeItems({}));
    }

    QVERIFY(run());

    QCOMPARE(model->importState().importRecoveryMessage(), c.message);
    if (c.settledBefore)
        return;
    const bool changed = c.message && !c.libraryWriteFails;
    // Only an applied refresh publishes.
    QCOMPARE(published.count() > 0, c.viaRefresh && !c.libraryWriteFails);
    QCOMPARE(fixture.stored(ready.id)->importStatus,
             changed ? LibraryItemImportStatus::NeedsAttention : ready.importStatus);
    // The inspector tells why the files of the marked batch need attention.
    QCOMPARE(model->ingestCacheState().unfinishedIngestCacheBatches(),
             changed ? QSet{QString(fixture.cacheRoot() + u"/b"_s)} : QSet<QString>());
}

QTEST_GUILESS_MAIN(IngestCacheReconciliationWorkflowTests)
#include "IngestCacheReconciliationWorkflowTests.moc"
