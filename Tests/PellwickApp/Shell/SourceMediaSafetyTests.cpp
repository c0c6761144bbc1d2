#include "RemovableMediaFixture.h"

#include <QCoro/QCoroTask>
#include <QSignalSpy>
#include <QTest>

#include <Support/ContentHasherFakes.h>
#include <Support/LibraryFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const QString warning
    = u"Source media changed; do not erase it until it is copied and archived again"_s;

/// Steps: "schedule" (the throttled form), "now" (the immediate form, not awaited), "advance
/// <seconds>" (the workflow clock), "hold" (later listings wait at a gate), "release", "fail
/// on|off" (the listings).
struct ThrottleCase
{
    QStringList steps;
    int checks = 1;
};

struct ChangeCase
{
    bool edited = false;
    bool deleted = false;
    bool ejected = false;
    bool flagged = true;
};

QCoro::Task<> checkNow(LibraryShellViewModel *model, int *finished)
{
    co_await model->refreshSourceMediaSafetyNow();
    ++*finished;
}

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
    void closingStopsARunningCheck();
};

void SourceMediaSafetyTests::checksAreSpacedAndShared_data()
{
    QTest::addColumn<ThrottleCase>("c");
    QTest::newRow("requests 30 s apart")
        << ThrottleCase{{u"schedule"_s, u"advance 30"_s, u"schedule"_s}};
    QTest::newRow("requests 60 s apart on the workflow clock, the wall clock stepped back")
        << ThrottleCase{.steps = {u"schedule"_s, u"advance 60"_s, u"schedule"_s}, .checks = 2};
    QTest::newRow("59 s after the start of an immediate check that ended")
        << ThrottleCase{{u"now"_s, u"advance 59"_s, u"schedule"_s}};
    QTest::newRow("the immediate form waits for a running throttled check")
        << ThrottleCase{{u"hold"_s, u"schedule"_s, u"now"_s, u"release"_s}};
    QTest::newRow("a failing listing, then a request 60 s later") << ThrottleCase{
        .steps = {u"fail on"_s, u"schedule"_s, u"fail off"_s, u"advance 60"_s, u"schedule"_s},
        .checks = 2};
}

void SourceMediaSafetyTests::checksAreSpacedAndShared()
{
    QFETCH(ThrottleCase, c);
    RemovableMediaFixture fixture;
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    fixture.steadyClock = [&now] { return now; };
    const auto model = fixture.make();
    const int atLaunch = fixture.observed->calls();
    std::shared_ptr<Gate> gate;
    int started = 0;
    int finished = 0;
    for (const QString &step : std::as_const(c.steps)) {
        const QString argument = step.section(u' ', 1);
        const int listed = gate ? gate->arrived() : 0;
        if (step == u"schedule") {
            model->scheduleSourceMediaSafetyRefresh();
            if (gate)
                QVERIFY(QTest::qWaitFor([&] { return gate->arrived() > listed; }));
        } else if (step == u"now") {
            ++started;
            checkNow(model.get(), &finished);
        } else if (step.startsWith(u"advance")) {
            now += std::chrono::seconds(argument.toInt());
        } else if (step == u"hold") {
            fixture.observed->setGate(gate = std::make_shared<Gate>());
        } else if (step == u"release") {
            QVERIFY(finished < started);
            std::exchange(gate, {})->release();
        } else {
            fixture.observed->setFailing(argument == u"on");
        }
        if (!gate)
            settleUtilityWork();
    }
    QVERIFY(QTest::qWaitFor([&] { return finished == started; }));
    QCOMPARE(fixture.observed->calls() - atLaunch, c.checks);
    QCOMPARE(model->importState().importRecoveryMessage(), std::nullopt);
}

void SourceMediaSafetyTests::changedCardIsFlaggedOnce_data()
{
    QTest::addColumn<ChangeCase>("c");
    QTest::newRow("RAW edited while the card is mounted") << ChangeCase{.edited = true};
    QTest::newRow("RAW deleted while the card is mounted") << ChangeCase{.deleted = true};
    QTest::newRow("an ejected card is not read")
        << ChangeCase{.edited = true, .ejected = true, .flagged = false};
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
    const QString raw = card + u"/DCIM/IMG_0001.DNG"_s;
    writeFile(raw, patternBytes(4096, 7));
    LocalLibraryItem record = minimalLibraryItem(1);
    record.sourceMediaEvidence = SourceMediaEvidence{
        .sourceRootURL = card,
        .sourceIdentity = ImportSourceIdentity::volume(RemovableMediaFixture::uuid(u"CARD"_s)),
        .rawRelativePath = u"DCIM/IMG_0001.DNG"_s,
        .rawContentHash = *SHA256ContentHasher().contentHash(raw, {}),
        .sidecarRelativePath = std::nullopt,
        .sidecarContentHash = std::nullopt};
    QVERIFY(fixture.library.writeItems({record}));
    const auto model = fixture.make();
    const int listedOnMainThread = fixture.observed->callsOnMainThread();
    QStringList onMainThread;
    for (int op = 0; op <= int(FileOperation::Truncate); ++op) {
        fixture.files->beforeOperation(FileOperation(op), {}, [&, op](const QString &path) {
            if (QThread::currentThread() == thread())
                onMainThread.append(operationName(FileOperation(op)) + u' ' + path);
        });
    }

    if (c.edited)
        writeFile(raw, patternBytes(4096, 8));
    if (c.deleted)
        QVERIFY(QFile::remove(raw));
    if (c.ejected) {
        fixture.unmount(u"CARD"_s);
        QVERIFY(QDir().rename(card, card + u".ejected"_s));
    }
    QSignalSpy texts(&model->importState(), &ImportState::importRecoveryMessageChanged);
    QCoro::waitFor(model->refreshSourceMediaSafetyNow());
    QCoro::waitFor(model->refreshSourceMediaSafetyNow());

    const SourceMediaSafety expected
        = c.flagged ? SourceMediaSafety::Changed : SourceMediaSafety::Current;
    QCOMPARE(storedRecords(fixture.library).value(0).sourceMediaEvidence->safety, expected);
    QCOMPARE(model->libraryState().localLibraryItems().value(0).sourceMediaEvidence->safety,
             expected);
    QCOMPARE(texts.count(), c.flagged ? 1 : 0);
    QCOMPARE(model->importState().importRecoveryMessage(),
             c.flagged ? std::optional(warning) : std::nullopt);
    if (c.ejected)
        QCOMPARE(hasher->callCount(), 0);
    for (const std::thread::id &thread : hasher->callingThreads())
        QVERIFY(thread != std::this_thread::get_id());
    QCOMPARE(fixture.observed->callsOnMainThread(), listedOnMainThread);
    QCOMPARE(onMainThread, QStringList());
}

void SourceMediaSafetyTests::closingStopsARunningCheck()
{
    RemovableMediaFixture fixture;
    const auto hasher = std::make_shared<CountingContentHasher>();
    fixture.workflowHasher = hasher;
    fixture.mount(u"CARD"_s);
    const QString raw = fixture.mountPoint(u"CARD"_s) + u"/IMG_0001.DNG"_s;
    writeFile(raw, patternBytes(64, 1));
    LocalLibraryItem record = minimalLibraryItem(1);
    record.sourceMediaEvidence = SourceMediaEvidence{
        .sourceRootURL = fixture.mountPoint(u"CARD"_s),
        .sourceIdentity = ImportSourceIdentity::volume(RemovableMediaFixture::uuid(u"CARD"_s)),
        .rawRelativePath = u"IMG_0001.DNG"_s,
        .rawContentHash = QString(64, u'0'),
        .sidecarRelativePath = std::nullopt,
        .sidecarContentHash = std::nullopt};
    QVERIFY(fixture.library.writeItems({record}));
    auto model = fixture.make();
    const auto gate = std::make_shared<Gate>();
    fixture.observed->setGate(gate);
    model->scheduleSourceMediaSafetyRefresh();
    QVERIFY(QTest::qWaitFor([&] { return gate->arrived() == 1; }));

    model.reset();
    gate->release();
    settleUtilityWork();
    QCOMPARE(hasher->callCount(), 0);
    QCOMPARE(storedRecords(fixture.library).value(0).sourceMediaEvidence->safety,
             SourceMediaSafety::Current);
}

QTEST_GUILESS_MAIN(SourceMediaSafetyTests)
#include "SourceMediaSafetyTests.moc"
