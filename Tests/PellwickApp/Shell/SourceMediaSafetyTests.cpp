#include "RemovableMediaFixture.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>

#include <QCoro/QCoroTask>
#include <QSignalSpy>
#include <QTest>

#include <Support/ContentHasherFakes.h>
#include <Support/LibraryFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// Actions of `RemovableMediaFixture::perform`, split by ";".
struct ThrottleCase
{
    QString steps;
    int checks = 1;
};

struct ChangeCase
{
    bool deleted = false;
    bool ejected = false;
    bool closed = false; ///< the window closes while the check waits for its listing
    bool flagged = true;
};

} // namespace

Q_DECLARE_METATYPE(ThrottleCase)
Q_DECLARE_METATYPE(ChangeCase)

class SourceMediaSafetyTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checksAreSpacedAndShared_data();
    void checksAreSpacedAndShared();
    void changedCardIsFlaggedOnce_data();
    void changedCardIsFlaggedOnce();
};

void SourceMediaSafetyTests::checksAreSpacedAndShared_data()
{
    QTest::addColumn<ThrottleCase>("c");
    QTest::newRow("requests 30 s apart")
        << ThrottleCase{.steps = u"schedule; advance 30; schedule"_s};
    QTest::newRow("60 s apart on the workflow clock, the wall clock stepped back")
        << ThrottleCase{.steps = u"schedule; advance 60; schedule"_s, .checks = 2};
    QTest::newRow("59 s after the start of an immediate check that ended")
        << ThrottleCase{.steps = u"now; advance 59; schedule"_s};
    QTest::newRow("the immediate form waits for a running throttled check")
        << ThrottleCase{.steps = u"hold; schedule; now; release"_s};
    QTest::newRow("a failing listing, then a request 60 s later") << ThrottleCase{
        .steps = u"fail on; schedule; fail off; advance 60; schedule"_s, .checks = 2};
}

void SourceMediaSafetyTests::checksAreSpacedAndShared()
{
    QFETCH(ThrottleCase, c);
    RemovableMediaFixture fixture;
    const auto model = fixture.make();
    const int atLaunch = fixture.observed->calls();
    for (const QString &step : c.steps.split(u';')) {
        QVERIFY(!step.endsWith(u"release") || fixture.checksFinished < fixture.checksStarted);
        QVERIFY(fixture.perform(*model, step.trimmed()));
    }
    QVERIFY(QTest::qWaitFor([&] { return fixture.checksFinished == fixture.checksStarted; }));
    QCOMPARE(fixture.observed->calls() - atLaunch, c.checks);
    QCOMPARE(model->importState().importRecoveryMessage(), std::nullopt);
}

void SourceMediaSafetyTests::changedCardIsFlaggedOnce_data()
{
    QTest::addColumn<ChangeCase>("c");
    QTest::newRow("RAW edited while the card is mounted") << ChangeCase{};
    QTest::newRow("RAW deleted while the card is mounted") << ChangeCase{.deleted = true};
    QTest::newRow("an ejected card is not read") << ChangeCase{.ejected = true, .flagged = false};
    QTest::newRow("the window closes during the check")
        << ChangeCase{.closed = true, .flagged = false};
}

void SourceMediaSafetyTests::changedCardIsFlaggedOnce()
{
    QFETCH(ChangeCase, c);
    RemovableMediaFixture fixture;
    const auto hasher = std::make_shared<CountingContentHasher>();
    fixture.workflowHasher = hasher;
    fixture.library = LocalLibraryCache(fixture.libraryRoot(), fixture.files);
    fixture.mount(u"CARD"_s);
    const QString card = fixture.mountPoint(u"CARD"_s);
    writeFile(card + u"/DCIM/IMG_0001.DNG"_s, patternBytes(4096, 7));
    LocalLibraryItem record = minimalLibraryItem(1);
    record.sourceMediaEvidence = SourceMediaEvidence{
        .sourceRootURL = card,
        .sourceIdentity = ImportSourceIdentity::volume(RemovableMediaFixture::uuid(u"CARD"_s)),
        .rawRelativePath = u"DCIM/IMG_0001.DNG"_s,
        .rawContentHash = *SHA256ContentHasher().contentHash(card + u"/DCIM/IMG_0001.DNG"_s, {}),
        .sidecarRelativePath = std::nullopt,
        .sidecarContentHash = std::nullopt};
    QVERIFY(fixture.library.writeItems({record}));
    auto model = fixture.make();
    const int listedOnMainThread = fixture.observed->callsOnMainThread();
    QStringList onMainThread;
    for (int op = 0; op <= int(FileOperation::Truncate); ++op) {
        fixture.files->beforeOperation(FileOperation(op), {}, [&, op](const QString &path) {
            if (QThread::currentThread() == thread())
                onMainThread.append(operationName(FileOperation(op)) + u' ' + path);
        });
    }

    if (c.deleted)
        QVERIFY(QFile::remove(card + u"/DCIM/IMG_0001.DNG"_s));
    else
        writeFile(card + u"/DCIM/IMG_0001.DNG"_s, patternBytes(4096, 8));
    if (c.ejected) {
        fixture.unmount(u"CARD"_s);
        QVERIFY(QDir().rename(card, card + u".ejected"_s));
    }
    QSignalSpy texts(&model->importState(), &ImportState::importRecoveryMessageChanged);
    if (c.closed) {
        QVERIFY(fixture.perform(*model, u"hold"_s) && fixture.perform(*model, u"schedule"_s));
        model.reset();
        std::exchange(fixture.gate, {})->release();
        fixture.settle();
    } else {
        QCoro::waitFor(model->importWorkflows().refreshSourceMediaSafetyNow());
        QCoro::waitFor(model->importWorkflows().refreshSourceMediaSafetyNow());
        QCOMPARE(texts.count(), c.flagged ? 1 : 0);
        QCOMPARE(model->libraryState().localLibraryItems().value(0).sourceMediaEvidence->safety,
                 c.flagged ? SourceMediaSafety::Changed : SourceMediaSafety::Current);
    }
    QCOMPARE(storedRecords(fixture.library).value(0).sourceMediaEvidence->safety,
             c.flagged ? SourceMediaSafety::Changed : SourceMediaSafety::Current);
    if (c.ejected || c.closed)
        QCOMPARE(hasher->callCount(), 0);
    for (const std::thread::id &thread : hasher->callingThreads())
        QVERIFY(thread != std::this_thread::get_id());
    QCOMPARE(fixture.observed->callsOnMainThread(), listedOnMainThread);
    QCOMPARE(onMainThread, QStringList());
}

QTEST_GUILESS_MAIN(SourceMediaSafetyTests)
#include "SourceMediaSafetyTests.moc"
