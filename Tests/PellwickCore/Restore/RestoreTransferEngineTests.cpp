#include <PellwickCore/Restore/RestoreTransferEngine.h>
#include <PellwickCore/Restore/RestoreTransferError.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <thread>

#include <Support/ContentHasherFakes.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/RestoreTransferFakes.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using E = RestoreTransferError;

namespace {

const Date now = Date::now();
constexpr qint64 chunk = 1000;
const QUuid progressID = QUuid::fromString(u"{11111111-2222-3333-4444-555555555555}"_s);

RestoreTransferIdentifier rawID(qint64 item = 345)
{
    return {12, item, RestoreTransferArtifact::Raw};
}

RestoreTransferIdentifier sidecarID(qint64 item = 345)
{
    return {12, item, RestoreTransferArtifact::Sidecar};
}

Error restoreError(RestoreTransferError error)
{
    return error;
}

/// An engine over a temporary folder with a scripted fetcher (5 RAW ranges, 3 sidecar ranges).
struct Fixture
{
    QTemporaryDir folder;
    std::shared_ptr<ScriptedRangeFetcher> fetcher = std::make_shared<ScriptedRangeFetcher>();
    std::shared_ptr<FaultInjectingFileManager> files
        = std::make_shared<FaultInjectingFileManager>();
    std::shared_ptr<CountingContentHasher> hasher = std::make_shared<CountingContentHasher>();
    std::shared_ptr<RestoreTransferEngine> engine
        = std::make_shared<RestoreTransferEngine>(folder.filePath(u"state"_s),
                                                  RestoreTransferConfiguration{chunk, 4},
                                                  fetcher,
                                                  hasher,
                                                  std::make_shared<FixedRestoreTransferClock>(now),
                                                  files);

    RestoreTransfer transfer(qint64 item = 345, bool withSidecar = true)
    {
        const QByteArray raw = patternBytes(4 * chunk + 10, static_cast<quint32>(item));
        const QByteArray sidecar = patternBytes(2 * chunk + 1, static_cast<quint32>(item + 1000));
        const QString name = u"IMG_%1"_s.arg(item);
        fetcher->setObject(u"https://store.example/raw-%1"_s.arg(item), raw);
        fetcher->setObject(u"https://store.example/xmp-%1"_s.arg(item), sidecar);
        RestoreTransfer transfer{rawID(item),
                                 name + u".CR3"_s,
                                 destination(name + u".CR3"_s),
                                 raw.size(),
                                 SHA256ContentHasher::contentHash(raw),
                                 u"https://store.example/raw-%1"_s.arg(item),
                                 now.addingSeconds(600),
                                 std::nullopt};
        if (withSidecar)
            transfer.sidecar = RestoreTransferFile{sidecarID(item),
                                                   name + u".xmp"_s,
                                                   destination(name + u".xmp"_s),
                                                   sidecar.size(),
                                                   SHA256ContentHasher::contentHash(sidecar),
                                                   u"https://store.example/xmp-%1"_s.arg(item),
                                                   now.addingSeconds(600)};
        return transfer;
    }

    QString destination(const QString &name) const { return folder.filePath(u"out/"_s + name); }

    Result<RestoreTransferManifest> run(const RestoreTransfer &transfer,
                                        RestoreTransferExecutor::ProgressCallback progress = {})
    {
        return engine->continueTransfer(
            transfer,
            [](std::stop_token) -> Result<RestoreTransferCapability> {
                return failure(E{E::UnexpectedRangeResponse{}});
            },
            std::move(progress),
            progressID);
    }

    std::optional<RestoreTransferManifest> manifest(const RestoreTransferIdentifier &id) const
    {
        Result<std::optional<RestoreTransferManifest>> stored = engine->manifest(id);
        return stored ? *stored : std::nullopt;
    }

    bool hasPartsFolder(const RestoreTransferIdentifier &id) const
    {
        return QDir(folder.filePath(u"state/parts/"_s + id.fileStem())).exists();
    }

    bool hasState(const RestoreTransferIdentifier &id) const
    {
        return manifest(id) || hasPartsFolder(id);
    }

    qsizetype fetchesOf(const QString &url) const
    {
        qsizetype count = 0;
        for (const ScriptedRangeFetcher::Call &call : fetcher->calls())
            count += call.url == url ? 1 : 0;
        return count;
    }
};

/// A `continueTransfer` on a thread of its own, always joined.
struct BackgroundRun
{
    BackgroundRun(Fixture &fixture, RestoreTransfer transfer)
        : fixture(fixture)
        , thread([this, transfer] {
            threadID = static_cast<pid_t>(::syscall(SYS_gettid));
            result = this->fixture.run(transfer, progress.callback());
        })
    {}

    ~BackgroundRun()
    {
        fixture.fetcher->setGated(false);
        join();
    }

    BackgroundRun(const BackgroundRun &) = delete;
    BackgroundRun &operator=(const BackgroundRun &) = delete;

    void join()
    {
        if (thread.joinable())
            thread.join();
    }

    /// True once the thread sleeps (inside `continueTransfer`, its only place to wait).
    bool isWaiting() const
    {
        if (threadID == 0)
            return false;
        QFile stat(u"/proc/self/task/%1/stat"_s.arg(threadID));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray text = stat.readAll();
        return text.mid(text.lastIndexOf(')') + 2, 1) == "S";
    }

    Fixture &fixture;
    ProgressRecorder progress;
    std::atomic<pid_t> threadID = 0;
    std::optional<Result<RestoreTransferManifest>> result;
    std::thread thread;
};

} // namespace

class RestoreTransferEngineTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pauseKeepsPartsAndResumesWithMissingRanges();
    void pauseWithoutTaskOnlyMarks();
    void cancelRestoreRequestDuringTransfer();
    void cancelRestoreRequestWithNothingRunning();
    void stopWithoutMarksEndsPaused_data();
    void stopWithoutMarksEndsPaused();
    void failuresPassThroughUnchanged();
    void failedSidecarThenRerun();
    void manifestLookup();
    void lateMarksChangeNothing_data();
    void lateMarksChangeNothing();
    void cancelArrivingAtOnceFindsTheTask();
    void cancelDuringSidecarWriteLeavesNothing();
    void secondCallJoinsTheRunningTask();
    void engineGoneWhileTransferRuns();
};

void RestoreTransferEngineTests::pauseKeepsPartsAndResumesWithMissingRanges()
{
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer(345, false);
    fixture.fetcher->setGated(true);
    {
        BackgroundRun run(fixture, transfer);
        QVERIFY(fixture.fetcher->waitForWaiting(4));
        fixture.fetcher->release(RestoreByteRange{1000, 1999});
        QTRY_COMPARE(fixture.fetcher->calls().size(), 5); // the finished chunk started the last
        fixture.engine->pause(rawID());
        run.join();
        QCOMPARE(errorOf(*run.result), restoreError(E{E::Paused{}}));
    }
    QCOMPARE(fixture.manifest(rawID())->completedRanges, (QList<RestoreByteRange>{{1000, 1999}}));
    QVERIFY(QFile::exists(
        fixture.folder.filePath(u"state/parts/"_s + rawID().fileStem() + u"/1000-1999.part"_s)));

    const Result<RestoreTransferManifest> resumed = fixture.run(transfer);
    PELLWICK_VERIFY_SUCCESS(resumed);
    QVERIFY(resumed->isComplete);
    QList<RestoreByteRange> refetched = fixture.fetcher->fetchedRanges().mid(5);
    std::sort(refetched.begin(), refetched.end(), [](const auto &a, const auto &b) {
        return a.start < b.start;
    });
    QCOMPARE(refetched,
             (QList<RestoreByteRange>{{0, 999}, {2000, 2999}, {3000, 3999}, {4000, 4009}}));
}

void RestoreTransferEngineTests::pauseWithoutTaskOnlyMarks()
{
    Fixture fixture;
    fixture.engine->pause(rawID());
    QVERIFY(!QDir(fixture.folder.filePath(u"state"_s)).exists());
    QCOMPARE(fixture.files->operationCount(), 0);

    const Result<RestoreTransferManifest> result = fixture.run(fixture.transfer());
    PELLWICK_VERIFY_SUCCESS(result);
    QVERIFY(result->isComplete);
}

void RestoreTransferEngineTests::cancelRestoreRequestDuringTransfer()
{
    Fixture fixture;
    // Item 346 is finished, item 347 stopped halfway, item 345 runs when the request is cancelled.
    PELLWICK_VERIFY_SUCCESS(fixture.run(fixture.transfer(346)));
    const RestoreTransfer halfway = fixture.transfer(347);
    fixture.fetcher->setOverride([](const QString &url, const RestoreByteRange &range) {
        return url.endsWith(u"raw-347"_s) && range.start == 2000
                   ? std::optional(Result<QByteArray>(failure(E{E::UnexpectedRangeResponse{}})))
                   : std::nullopt;
    });
    QVERIFY(!fixture.run(halfway));
    QVERIFY(fixture.hasState(rawID(347)));
    fixture.fetcher->setOverride({});

    fixture.fetcher->setGated(true);
    BackgroundRun run(fixture, fixture.transfer(345));
    QVERIFY(fixture.fetcher->waitForWaiting(4));
    fixture.fetcher->release(RestoreByteRange{0, 999});
    QTRY_COMPARE(fixture.fetcher->waitingCount(), 4);
    QVERIFY(fixture.hasState(rawID()));
    fixture.engine->cancelRestoreRequest(12, {345, 346, 347});
    run.join();

    QCOMPARE(errorOf(*run.result), restoreError(E{E::Cancelled{}}));
    for (const RestoreTransferIdentifier &id : {rawID(), sidecarID(), rawID(347), sidecarID(347)})
        QVERIFY2(!fixture.hasState(id), qPrintable(id.fileStem()));
    QVERIFY(fixture.manifest(rawID(346))->isComplete);
    QVERIFY(fixture.manifest(sidecarID(346))->isComplete);
    QVERIFY(QFile::exists(fixture.destination(u"IMG_346.CR3"_s)));
    QVERIFY(QFile::exists(fixture.destination(u"IMG_346.xmp"_s)));
    QVERIFY(!QFile::exists(fixture.destination(u"IMG_345.CR3"_s)));
}

void RestoreTransferEngineTests::cancelRestoreRequestWithNothingRunning()
{
    Fixture fixture;
    RestoreTransfer other = fixture.transfer(400, false);
    other.id.restoreRequestID = 13; // another request's unfinished state stays
    fixture.fetcher->setOverride([](const QString &, const RestoreByteRange &range) {
        return range.start == 1000
                   ? std::optional(Result<QByteArray>(failure(E{E::UnexpectedRangeResponse{}})))
                   : std::nullopt;
    });
    QVERIFY(!fixture.run(fixture.transfer(345)));
    QVERIFY(!fixture.run(other));
    QVERIFY(fixture.hasState(rawID()) && fixture.hasState(other.id));

    fixture.engine->cancelRestoreRequest(12, {345, 999});
    QVERIFY(!fixture.hasState(rawID()));
    QVERIFY(fixture.hasState(other.id));
    // Nothing remains marked: the next run of the cancelled item starts afresh and completes.
    fixture.fetcher->setOverride({});
    PELLWICK_VERIFY_SUCCESS(fixture.run(fixture.transfer(345)));
}

void RestoreTransferEngineTests::stopWithoutMarksEndsPaused_data()
{
    QTest::addColumn<Error>("stop");
    QTest::newRow("cancellation") << Error(CancellationError{});
    QTest::newRow("cancelled transport") << Error(TransportError{42, true, false, u"stop"_s});
}

void RestoreTransferEngineTests::stopWithoutMarksEndsPaused()
{
    QFETCH(Error, stop);
    Fixture fixture;
    fixture.fetcher->setOverride([stop](const QString &, const RestoreByteRange &range) {
        return range.start == 3000 ? std::optional(Result<QByteArray>(tl::unexpected(stop)))
                                   : std::nullopt;
    });
    QCOMPARE(errorOf(fixture.run(fixture.transfer())), restoreError(E{E::Paused{}}));
    QVERIFY(fixture.manifest(rawID())); // kept for the next run, not discarded
}

void RestoreTransferEngineTests::failuresPassThroughUnchanged()
{
    Fixture fixture;
    RestoreTransfer transfer = fixture.transfer(345, false);
    const QString actualHash = transfer.expectedContentHash;
    transfer.expectedContentHash = QString(64, u'0');
    QCOMPARE(errorOf(fixture.run(transfer)),
             restoreError(E{E::ContentHashMismatch{transfer.expectedContentHash, actualHash}}));

    // An expired capability whose refresh fails: the refresh's own error.
    RestoreTransfer expired = fixture.transfer(346, false);
    expired.capabilityExpiresAt = now;
    QCOMPARE(errorOf(fixture.run(expired)), restoreError(E{E::UnexpectedRangeResponse{}}));
}

void RestoreTransferEngineTests::failedSidecarThenRerun()
{
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    fixture.fetcher->setOverride([](const QString &url, const RestoreByteRange &range) {
        return url.contains(u"xmp"_s) && range.start == 0
                   ? std::optional(Result<QByteArray>(QByteArray("short")))
                   : std::nullopt;
    });
    QCOMPARE(errorOf(fixture.run(transfer)), restoreError(E{E::InvalidRangeData{1000, 5}}));
    QVERIFY(fixture.manifest(rawID())->isComplete);
    QVERIFY(QFile::exists(transfer.destinationPath));
    const qsizetype rawFetches = fixture.fetchesOf(transfer.transferURL);

    fixture.fetcher->setOverride({});
    const qsizetype hashesBefore = fixture.hasher->callCount();
    const Result<RestoreTransferManifest> rerun = fixture.run(transfer);
    PELLWICK_VERIFY_SUCCESS(rerun);
    QCOMPARE(rerun->id, rawID());
    QCOMPARE(fixture.fetchesOf(transfer.transferURL), rawFetches);
    QVERIFY(fixture.manifest(sidecarID())->isComplete);
    // The installed RAW original checked again, then the assembled sidecar.
    QCOMPARE(fixture.hasher->hashedPaths().mid(hashesBefore).first(), transfer.destinationPath);
    QCOMPARE(fixture.hasher->callCount() - hashesBefore, 2);
}

void RestoreTransferEngineTests::manifestLookup()
{
    Fixture fixture;
    const Result<std::optional<RestoreTransferManifest>> none = fixture.engine->manifest(rawID());
    PELLWICK_VERIFY_SUCCESS(none);
    QVERIFY(!*none);

    RestoreTransferManifest stored;
    stored.id = sidecarID();
    stored.canonicalFilename = u"IMG_0001.xmp"_s;
    stored.destinationPath = fixture.destination(u"IMG_0001.xmp"_s);
    stored.transferURL = u"https://store.example/x?a=%2F"_s;
    stored.capabilityExpiresAt = now;
    stored.completedRanges = {{0, 999}};
    PELLWICK_VERIFY_SUCCESS(fixture.engine->persistManifest(stored));
    QCOMPARE(fixture.manifest(sidecarID()), std::optional(stored));

    writeFile(fixture.folder.filePath(u"state/manifests/"_s + rawID().fileStem() + u".json"_s),
              "not a manifest");
    const Result<std::optional<RestoreTransferManifest>> garbage
        = fixture.engine->manifest(rawID());
    QVERIFY(!garbage);
    QVERIFY(garbage.error().is<DecodingError>());
}

void RestoreTransferEngineTests::lateMarksChangeNothing_data()
{
    QTest::addColumn<bool>("cancelInstead");
    QTest::newRow("pause") << false;
    QTest::newRow("cancel") << true;
}

void RestoreTransferEngineTests::lateMarksChangeNothing()
{
    QFETCH(bool, cancelInstead);
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer(345, false);
    // Asked for once the file is installed: the work is done, the outcome stands.
    std::atomic<bool> armed = true;
    fixture.files->beforeOperation(
        FileOperation::SynchronizeDirectory, u"/out"_s, [&](const QString &) {
            if (!armed)
                return;
            if (cancelInstead)
                fixture.engine->cancel(rawID());
            else
                fixture.engine->pause(rawID());
        });
    PELLWICK_VERIFY_SUCCESS(fixture.run(transfer));
    QVERIFY(fixture.manifest(rawID())->isComplete);

    // After success no task remains: a pause only marks, and the next call starts a task of its
    // own that clears the mark and checks the installed file again.
    armed = false;
    fixture.engine->pause(rawID());
    fixture.engine->cancel(rawID());
    const qsizetype hashes = fixture.hasher->callCount();
    PELLWICK_VERIFY_SUCCESS(fixture.run(transfer));
    QCOMPARE(fixture.hasher->callCount(), hashes + 1);
    QVERIFY(QFile::exists(transfer.destinationPath));
}

void RestoreTransferEngineTests::cancelArrivingAtOnceFindsTheTask()
{
    Fixture fixture;
    // The first thing the task does reaches the fetcher; a cancel from there must find the task.
    std::atomic<bool> cancelled = false;
    fixture.fetcher->setOverride([&](const QString &, const RestoreByteRange &) {
        if (!cancelled.exchange(true))
            fixture.engine->cancelRestoreRequest(12, {345});
        return std::optional<Result<QByteArray>>();
    });
    QCOMPARE(errorOf(fixture.run(fixture.transfer())), restoreError(E{E::Cancelled{}}));
    QVERIFY(!fixture.hasState(rawID()));
    QVERIFY(!fixture.hasState(sidecarID()));
    QVERIFY(!QFile::exists(fixture.destination(u"IMG_345.CR3"_s)));
}

void RestoreTransferEngineTests::cancelDuringSidecarWriteLeavesNothing()
{
    Fixture fixture;
    // The request is cancelled while the sidecar's first chunk is being recorded: its manifest
    // is written after the request's discard, and the task's own discard must remove it again.
    std::atomic<int> sidecarManifestWrites = 0;
    fixture.files->beforeOperation(
        FileOperation::OpenForWriting, sidecarID().fileStem() + u".json"_s, [&](const QString &) {
            if (++sidecarManifestWrites == 2)
                fixture.engine->cancelRestoreRequest(12, {345});
        });
    QCOMPARE(errorOf(fixture.run(fixture.transfer())), restoreError(E{E::Cancelled{}}));
    QVERIFY(sidecarManifestWrites >= 2);
    QVERIFY(!fixture.hasState(sidecarID()));
    QVERIFY(fixture.manifest(rawID())->isComplete);
    QVERIFY(QFile::exists(fixture.destination(u"IMG_345.CR3"_s)));
}

void RestoreTransferEngineTests::secondCallJoinsTheRunningTask()
{
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    fixture.fetcher->setGated(true);
    BackgroundRun first(fixture, transfer);
    QVERIFY(fixture.fetcher->waitForWaiting(4));
    BackgroundRun second(fixture, transfer);
    QTRY_VERIFY(second.isWaiting());
    fixture.fetcher->setGated(false);
    first.join();
    second.join();

    PELLWICK_VERIFY_SUCCESS(*first.result);
    PELLWICK_VERIFY_SUCCESS(*second.result);
    QVERIFY(**second.result == **first.result);
    QCOMPARE(fixture.fetcher->calls().size(), 8); // every range of both files once
    QCOMPARE(fixture.hasher->callCount(), 2);
    QVERIFY(second.progress.rows().isEmpty());
}

void RestoreTransferEngineTests::engineGoneWhileTransferRuns()
{
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    fixture.fetcher->setGated(true);
    BackgroundRun run(fixture, transfer);
    QVERIFY(fixture.fetcher->waitForWaiting(4));
    fixture.engine->pause(rawID());
    fixture.engine.reset(); // neither blocks nor cuts the running task short of its end
    run.join();
    QCOMPARE(errorOf(*run.result), restoreError(E{E::Paused{}}));
}

QTEST_GUILESS_MAIN(RestoreTransferEngineTests)
#include "RestoreTransferEngineTests.moc"
