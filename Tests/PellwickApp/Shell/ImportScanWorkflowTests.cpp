#include "ImportRoadFixture.h"

#include <PellwickApp/Feedback/IngestCacheFeedback.h>
#include <PellwickApp/Workflows/Import/ImportWorkflows.h>

#include <QSignalSpy>
#include <QTest>

#include <cerrno>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

class ImportScanWorkflowTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ingestCacheTexts_data();
    void ingestCacheTexts();
    void folderScanPublishesItsOutcome_data();
    void folderScanPublishesItsOutcome();
    void replacedScanPublishesNothing();
};

struct TextCase
{
    IngestCacheError error = IngestCacheError::insufficientCapacity(0, 0);
    QString text = {};
    bool german = false;
};

Q_DECLARE_METATYPE(TextCase)

void ImportScanWorkflowTests::ingestCacheTexts_data()
{
    QTest::addColumn<TextCase>("c");
    const IngestCacheError capacity = IngestCacheError::insufficientCapacity(3 << 29, 1 << 29);
    const QString capacityText = u"Ingest Cache needs 1.5 GB; 512 MB available."_s;
    QTest::newRow("insufficient capacity") << TextCase{capacity, capacityText};
    QTest::newRow("insufficient capacity, German locale")
        << TextCase{.error = capacity, .text = capacityText, .german = true};
    QTest::newRow("verification failed")
        << TextCase{IngestCacheError::verificationFailed(u"a/b.DNG"_s),
                    u"Ingest Cache copy verification failed."_s};
    QTest::newRow("unsupported migration item")
        << TextCase{IngestCacheError::unsupportedMigrationItem(u"a"_s),
                    u"Ingest Cache contains an item that cannot be migrated."_s};
    QTest::newRow("source changed too often")
        << TextCase{IngestCacheError::migrationSourceChangedTooOften(u"a"_s),
                    u"Ingest Cache files kept changing; retry migration when editing stops."_s};
    QTest::newRow("capacity unknown")
        << TextCase{{IngestCacheError::UnableToDetermineCapacity{}},
                    u"Ingest Cache capacity could not be determined."_s};
    QTest::newRow("target not empty") << TextCase{{IngestCacheError::MigrationTargetIsNotEmpty{}},
                                                  u"Choose an empty folder for Ingest Cache."_s};
    QTest::newRow("retained conflicts")
        << TextCase{{IngestCacheError::RetainedCacheConflicts{}},
                    u"Resolve retained-cache conflicts before deleting the old cache."_s};
    QTest::newRow("invalid target")
        << TextCase{{IngestCacheError::InvalidMigrationTarget{}},
                    u"Choose an Ingest Cache location outside the current cache."_s};
    QTest::newRow("source unavailable") << TextCase{
        {IngestCacheError::MigrationSourceIsUnavailable{}},
        u"Current Ingest Cache is unavailable; reconnect it before moving the cache."_s};
    QTest::newRow("package outside root")
        << TextCase{{IngestCacheError::PackageOutsideActiveRoot{}},
                    u"That cache package is no longer inside the active Ingest Cache."_s};
    QTest::newRow("old cache changed during its deletion")
        << TextCase{{IngestCacheError::RetainedCacheChanged{
                        {u"a/IMG_1.xmp"_s, u"b/IMG_2.CR3"_s, u"c.CR3"_s, u"d.CR3"_s}}},
                    u"Old Ingest Cache kept: 4 files in it changed during deletion (IMG_1.xmp, "
                    u"IMG_2.CR3, c.CR3, …). Check Old Cache, then delete it again."_s};
    QTest::newRow("old cache not found")
        << TextCase{{IngestCacheError::RetainedCacheNotFound{}},
                    u"Old Ingest Cache could not be found; its drive may not be connected. "
                    u"Connect it, then delete the old cache again."_s};
}

void ImportScanWorkflowTests::ingestCacheTexts()
{
    QFETCH(TextCase, c);
    const QLocale previous;
    if (c.german)
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(previous); });
    QCOMPARE(IngestCacheFeedback::message(c.error), c.text);
}

struct ScanCase
{
    bool unreadableFolder = false;
    qsizetype candidates = 3;
    std::optional<QString> message = {};
};

Q_DECLARE_METATYPE(ScanCase)

void ImportScanWorkflowTests::folderScanPublishesItsOutcome_data()
{
    QTest::addColumn<ScanCase>("c");
    QTest::newRow("a card folder") << ScanCase{};
    QTest::newRow("an unreadable folder") << ScanCase{
        .unreadableFolder = true, .candidates = 0, .message = u"Import review failed"_s};
}

void ImportScanWorkflowTests::folderScanPublishesItsOutcome()
{
    QFETCH(ScanCase, c);
    ImportRoadFixture fixture;
    writeCard(fixture.card(0), 3);
    if (c.unreadableFolder)
        fixture.files->failOperation(FileOperation::EntriesOfDirectory, EIO, u"/DCIM"_s);
    const auto model = fixture.make();
    model->importState().setImportSuccessMessage(u"Added 1 files to Ingest Cache"_s);
    model->importState().setImportReviewState({ImportReview{}, true});

    // A scan that fails at once may finish before scanFolder returns: the flag's history counts.
    QList<bool> scanning;
    connect(&model->importState(), &ImportState::isScanningImportSourcesChanged, this, [&] {
        scanning << model->importState().isScanningImportSources();
    });
    model->importWorkflows().scanFolder(fixture.card(0));
    QVERIFY(QTest::qWaitFor([&] { return !model->importState().isScanningImportSources(); }));
    QCOMPARE(scanning.value(0), true);

    const ImportReviewState &state = model->importState().importReviewState();
    QCOMPARE(state.review.has_value(), !c.unreadableFolder);
    QVERIFY(!state.isConfirmed);
    QCOMPARE(state.review.value_or(ImportReview{}).candidateCount(), c.candidates);
    if (state.review)
        QCOMPARE(state.review->volumes,
                 QList<ImportScanVolume>{folderSource(fixture.card(0), u"card0"_s)});
    QCOMPARE(model->importState().importErrorMessage(), c.message);
    QVERIFY(!model->importState().isImportMessageSuccess());
}

void ImportScanWorkflowTests::replacedScanPublishesNothing()
{
    ImportRoadFixture fixture;
    writeCard(fixture.card(0), 1);
    writeCard(fixture.card(1), 2, 2);
    const auto model = fixture.make();
    Gate first;
    Gate second;
    const auto scanHeldAt = [](Gate &gate, const QString &root) {
        return [&gate, root](std::stop_token stop) {
            gate.wait();
            return ImportReviewBuilder(std::make_shared<LocalFileManager>())
                .buildReview({folderSource(root)}, stop);
        };
    };
    model->importWorkflows().scanImportSources(scanHeldAt(first, fixture.card(0)));
    QVERIFY(QTest::qWaitFor([&] { return first.arrived() > 0; }));
    model->importWorkflows().scanImportSources(scanHeldAt(second, fixture.card(1)));
    QVERIFY(QTest::qWaitFor([&] { return second.arrived() > 0; }));

    // The replaced scan ends while its successor still runs: the flag stays.
    first.release();
    QVERIFY(
        QTest::qWaitFor([&] { return WorkflowPools::userInitiated().activeThreadCount() == 1; }));
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
    QVERIFY(model->importState().isScanningImportSources());
    QVERIFY(!model->importState().importReviewState().review);

    second.release();
    QVERIFY(QTest::qWaitFor([&] { return !model->importState().isScanningImportSources(); }));
    QCOMPARE(model->importState().importReviewState().review->candidateCount(), 2);
}

QTEST_GUILESS_MAIN(ImportScanWorkflowTests)
#include "ImportScanWorkflowTests.moc"
