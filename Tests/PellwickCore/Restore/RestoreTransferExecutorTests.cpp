#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Restore/RestoreTransferExecutor.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <functional>
#include <optional>
#include <thread>

#include <Support/ContentHasherFakes.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/RestoreTransferFakes.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using E = RestoreTransferError;

Q_DECLARE_METATYPE(Pellwick::Test::FileOperation)
Q_DECLARE_METATYPE(Pellwick::RestoreTransferArtifact)

namespace {

const Date now = Date::fromUnixSeconds(1'800'000'000);
const QString rawURL = u"https://store.example/raw?sig=a%2Fb"_s;
const QString sidecarURL = u"https://store.example/sidecar?sig=c%2Fd"_s;
const QString freshURL = u"https://store.example/raw?sig=fresh"_s;
const QString freshSidecarURL = u"https://store.example/sidecar?sig=fresh"_s;
constexpr qint64 smallChunk = 1000;

template<typename Case>
Error restoreError(Case value)
{
    return RestoreTransferError{std::move(value)};
}

/// One executor over a temporary folder with scripted services.
struct Fixture
{
    QTemporaryDir folder;
    std::shared_ptr<ScriptedRangeFetcher> fetcher = std::make_shared<ScriptedRangeFetcher>();
    std::shared_ptr<FixedRestoreTransferClock> clock
        = std::make_shared<FixedRestoreTransferClock>(now);
    std::shared_ptr<FaultInjectingFileManager> files
        = std::make_shared<FaultInjectingFileManager>();
    std::shared_ptr<CountingContentHasher> hasher = std::make_shared<CountingContentHasher>();
    RestoreTransferConfiguration configuration{smallChunk, 4};
    std::atomic<bool> paused = false;
    std::atomic<int> refreshCount = 0;
    std::optional<RestoreTransferCapability> freshCapability;
    QByteArray raw = patternBytes(4 * smallChunk + 10, 3);
    QByteArray sidecar;
    ProgressRecorder progress;

    QString root() const { return folder.filePath(u"state"_s); }

    QString destination(const QString &name) const { return folder.filePath(u"out/"_s + name); }

    RestoreTransferExecutor executor() const
    {
        return RestoreTransferExecutor(
            root(),
            configuration,
            fetcher,
            hasher,
            clock,
            files,
            [this](const RestoreTransferIdentifier &) { return paused.load(); });
    }

    RestoreTransfer transfer()
    {
        fetcher->setObject(rawURL, raw);
        fetcher->setObject(freshURL, raw);
        RestoreTransfer transfer;
        transfer.id = {12, 345, RestoreTransferArtifact::Raw};
        transfer.canonicalFilename = u"IMG_0001.CR3"_s;
        transfer.destinationPath = destination(u"IMG_0001.CR3"_s);
        transfer.expectedByteCount = raw.size();
        transfer.expectedContentHash = SHA256ContentHasher::contentHash(raw);
        transfer.transferURL = rawURL;
        transfer.capabilityExpiresAt = now.addingSeconds(600);
        if (!sidecar.isNull()) {
            fetcher->setObject(sidecarURL, sidecar);
            fetcher->setObject(freshSidecarURL, sidecar);
            transfer.sidecar = RestoreTransferFile{{12, 345, RestoreTransferArtifact::Sidecar},
                                                   u"IMG_0001.xmp"_s,
                                                   destination(u"IMG_0001.xmp"_s),
                                                   sidecar.size(),
                                                   SHA256ContentHasher::contentHash(sidecar),
                                                   sidecarURL,
                                                   now.addingSeconds(600)};
        }
        return transfer;
    }

    Result<RestoreTransferManifest> run(const RestoreTransfer &transfer, std::stop_token stop = {})
    {
        return executor().execute(
            transfer,
            [this](std::stop_token) -> Result<RestoreTransferCapability> {
                ++refreshCount;
                if (freshCapability)
                    return *freshCapability;
                RestoreTransferCapability capability;
                capability.transferURL = freshURL;
                capability.expiresAt = now.addingSeconds(3600);
                capability.sidecar = RestoreTransferCapabilityFile{u"IMG_0001.xmp"_s,
                                                                   sidecar.size(),
                                                                   {},
                                                                   freshSidecarURL,
                                                                   now.addingSeconds(3600)};
                return capability;
            },
            progress.callback(),
            QUuid::fromString(u"{11111111-2222-3333-4444-555555555555}"_s),
            std::move(stop));
    }

    std::optional<RestoreTransferManifest> manifest(RestoreTransferArtifact artifact
                                                    = RestoreTransferArtifact::Raw) const
    {
        Result<std::optional<RestoreTransferManifest>> stored
            = executor().loadManifest({12, 345, artifact});
        return stored ? *stored : std::nullopt;
    }

    QString partsPath(RestoreTransferArtifact artifact = RestoreTransferArtifact::Raw) const
    {
        return executor().layout().partsPath({12, 345, artifact});
    }

    QStringList partFiles(RestoreTransferArtifact artifact = RestoreTransferArtifact::Raw) const
    {
        return QDir(partsPath(artifact)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    /// Saves a manifest of `transfer` as an earlier run left it, recording `completed`; the
    /// parts of those of them that lie within the file are written from `raw`.
    void storeStartedManifest(const RestoreTransfer &transfer,
                              const QList<RestoreByteRange> &completed = {},
                              const QString &assemblyPath = {}) const
    {
        RestoreTransferManifest stored;
        stored.id = transfer.id;
        stored.canonicalFilename = transfer.canonicalFilename;
        stored.destinationPath = transfer.destinationPath;
        stored.transferURL = rawURL;
        stored.capabilityExpiresAt = now.addingSeconds(600);
        stored.completedRanges = completed;
        stored.assemblyPath = assemblyPath;
        QVERIFY(executor().saveManifest(stored));
        QVERIFY(QDir().mkpath(partsPath()));
        for (const RestoreByteRange &range : completed) {
            if (range.start >= 0 && range.endInclusive < raw.size())
                writeFile(executor().layout().partPath(transfer.id, range),
                          raw.mid(range.start, range.byteCount()));
        }
    }

    QStringList destinationFolder() const
    {
        return QDir(folder.filePath(u"out"_s)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

/// A run on a thread of its own that is always joined, also when a check fails first.
struct BackgroundRun
{
    BackgroundRun(Fixture &runFixture, const RestoreTransfer &transfer, std::stop_token stop = {})
        : fixture(runFixture)
        , thread([this, transfer, stop] { result = this->fixture.run(transfer, stop); })
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

    Fixture &fixture;
    std::optional<Result<RestoreTransferManifest>> result;
    std::thread thread;
};

QList<RestoreByteRange> ranges(std::initializer_list<std::pair<qint64, qint64>> list)
{
    QList<RestoreByteRange> out;
    for (const auto &[start, end] : list)
        out.append({start, end});
    return out;
}

QList<RestoreByteRange> sortedByStart(QList<RestoreByteRange> list)
{
    std::sort(
        list.begin(), list.end(), [](const auto &a, const auto &b) { return a.start < b.start; });
    return list;
}

} // namespace

class RestoreTransferExecutorTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void filesOfEverySize_data();
    void filesOfEverySize();
    void parallelFetchesAreBounded_data();
    void parallelFetchesAreBounded();
    void outOfOrderChunksSaveSortedManifests();
    void wrongRangeLengthWritesNothing_data();
    void wrongRangeLengthWritesNothing();
    void pauseDropsTheArrivingChunk();
    void stopEndsTheRunAsCancellation();
    void expiredCapabilitiesAreRefreshed_data();
    void expiredCapabilitiesAreRefreshed();
    void manifestOfAnotherChunkSize();
    void leftoverPartIsReplaced();
    void destinationAppearingBeforeInstall_data();
    void destinationAppearingBeforeInstall();
    void verificationFailuresRepeat();
    void completeManifestOnlyVerifies();
    void completedElsewhereIsRestoredAgain_data();
    void completedElsewhereIsRestoredAgain();
    void sidecarFollowsTheRawOriginal();
    void sidecarWithoutFreshCapability();
    void discardRules();
    void progressRows();
    void injectedFaultsLeaveAResumableState_data();
    void injectedFaultsLeaveAResumableState();
    void installedButNotRecorded_data();
    void installedButNotRecorded();
    void leftoverAssemblyFileIsRemoved_data();
    void leftoverAssemblyFileIsRemoved();
    void recordedAssemblyPathIsCheckedBeforeRemoval_data();
    void recordedAssemblyPathIsCheckedBeforeRemoval();
    void hugeByteCountFailsAtTheFirstFetch();
    void hostileManifestsAreRefused_data();
    void hostileManifestsAreRefused();
    void partsOfAnotherKindFailAssembly_data();
    void partsOfAnotherKindFailAssembly();
    void progressCountsOnlyChunksOfTheFile_data();
    void progressCountsOnlyChunksOfTheFile();
    void longDestinationNamesAreRestored_data();
    void longDestinationNamesAreRestored();
};

void RestoreTransferExecutorTests::filesOfEverySize_data()
{
    QTest::addColumn<qint64>("chunkSize");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<RestoreByteRange>>("fetched");

    QTest::newRow("empty file") << qint64(16'777'216) << qint64(0) << QList<RestoreByteRange>();
    QTest::newRow("one byte over a chunk") << qint64(16'777'216) << qint64(16'777'217)
                                           << ranges({{0, 16'777'215}, {16'777'216, 16'777'216}});
    QTest::newRow("exactly two chunks")
        << smallChunk << 2 * smallChunk << ranges({{0, 999}, {1000, 1999}});
    QTest::newRow("one byte") << smallChunk << qint64(1) << ranges({{0, 0}});
}

void RestoreTransferExecutorTests::filesOfEverySize()
{
    QFETCH(qint64, chunkSize);
    QFETCH(qint64, size);
    QFETCH(QList<RestoreByteRange>, fetched);

    Fixture fixture;
    fixture.configuration.chunkSizeBytes = chunkSize;
    fixture.raw = patternBytes(size, 9);
    const RestoreTransfer transfer = fixture.transfer();
    Result<RestoreTransferManifest> manifest = fixture.run(transfer);
    PELLWICK_VERIFY_SUCCESS(manifest);

    QVERIFY(manifest->isComplete);
    QCOMPARE(manifest->completedRanges, fetched);
    QCOMPARE(sortedByStart(fixture.fetcher->fetchedRanges()), fetched);
    QCOMPARE(*readFileContents(LocalFileManager(), transfer.destinationPath), fixture.raw);
    QCOMPARE(fixture.manifest(), *manifest);
    // The assembled file's hash was compared, even for an empty file.
    QCOMPARE(fixture.hasher->callCount(), 1);
    QCOMPARE(fixture.destinationFolder(), QStringList{u"IMG_0001.CR3"_s});
    QVERIFY2(!QFileInfo::exists(fixture.partsPath()), "parts are removed once complete");
}

void RestoreTransferExecutorTests::parallelFetchesAreBounded_data()
{
    QTest::addColumn<int>("rangeCount");
    QTest::newRow("four") << 4;
    QTest::newRow("ten") << 10;
}

void RestoreTransferExecutorTests::parallelFetchesAreBounded()
{
    QFETCH(int, rangeCount);
    Fixture fixture;
    fixture.raw = patternBytes(rangeCount * smallChunk, 4);
    const RestoreTransfer transfer = fixture.transfer();
    fixture.fetcher->setGated(true);

    BackgroundRun run(fixture, transfer);
    auto &result = run.result;
    QVERIFY(fixture.fetcher->waitForWaiting(std::min(rangeCount, 4)));
    QCOMPARE(fixture.fetcher->calls().size(), std::min(rangeCount, 4));
    for (int finished = 1; finished <= rangeCount; ++finished) {
        fixture.fetcher->release();
        const int started = std::min(rangeCount, 4 + finished);
        // Each finished chunk starts exactly one more fetch while any is missing.
        QTRY_COMPARE(fixture.fetcher->calls().size(), started);
        QTRY_COMPARE(fixture.fetcher->waitingCount(), started - finished);
    }
    run.join();
    PELLWICK_VERIFY_SUCCESS(*result);
    QCOMPARE(fixture.fetcher->maximumInFlight(), std::min(rangeCount, 4));
    QList<RestoreByteRange> expected;
    for (int i = 0; i < rangeCount; ++i)
        expected.append({i * smallChunk, (i + 1) * smallChunk - 1});
    QCOMPARE(sortedByStart(fixture.fetcher->fetchedRanges()), expected);
}

void RestoreTransferExecutorTests::outOfOrderChunksSaveSortedManifests()
{
    Fixture fixture;
    fixture.raw = patternBytes(4 * smallChunk, 6);
    const RestoreTransfer transfer = fixture.transfer();
    fixture.fetcher->setGated(true);
    QList<QList<RestoreByteRange>> saved;
    const QString manifestPath = fixture.executor().layout().manifestPath(transfer.id);
    fixture.files->beforeOperation(FileOperation::ReplaceItem, manifestPath, [&](const QString &) {
        if (auto manifest = fixture.manifest())
            saved.append(manifest->completedRanges);
    });

    BackgroundRun run(fixture, transfer);
    auto &result = run.result;
    QVERIFY(fixture.fetcher->waitForWaiting(4));
    qsizetype done = 0;
    for (qint64 start : {3000, 1000, 2000, 0}) {
        fixture.fetcher->release(RestoreByteRange{start, start + 999});
        ++done;
        QTRY_COMPARE(fixture.manifest()->completedRanges.size(), done);
    }
    run.join();
    PELLWICK_VERIFY_SUCCESS(*result);
    const QList<RestoreByteRange> all
        = ranges({{0, 999}, {1000, 1999}, {2000, 2999}, {3000, 3999}});
    QCOMPARE(result->value().completedRanges, all);
    // The manifest as it stood before each later save: one more range per chunk, then the
    // assembly file named, then complete.
    const QList<QList<RestoreByteRange>> expected{
        {},
        ranges({{3000, 3999}}),
        ranges({{1000, 1999}, {3000, 3999}}),
        ranges({{1000, 1999}, {2000, 2999}, {3000, 3999}}),
        all,
        all,
    };
    QCOMPARE(saved, expected);
}

void RestoreTransferExecutorTests::wrongRangeLengthWritesNothing_data()
{
    QTest::addColumn<qint64>("delta");
    QTest::addColumn<qint64>("actual");
    QTest::newRow("one byte short") << qint64(-1) << qint64(999);
    QTest::newRow("one byte long") << qint64(1) << qint64(1001);
    QTest::newRow("empty") << qint64(-1000) << qint64(0);
}

void RestoreTransferExecutorTests::wrongRangeLengthWritesNothing()
{
    QFETCH(qint64, delta);
    QFETCH(qint64, actual);
    Fixture fixture;
    fixture.configuration.maximumParallelChunks = 1;
    const RestoreTransfer transfer = fixture.transfer();
    const QByteArray raw = fixture.raw;
    fixture.fetcher->setOverride(
        [&](const QString &, const RestoreByteRange &range) -> std::optional<Result<QByteArray>> {
            if (range.start != 1000)
                return std::nullopt;
            return raw.mid(range.start, range.byteCount() + delta);
        });

    Result<RestoreTransferManifest> result = fixture.run(transfer);
    QVERIFY(!result);
    QCOMPARE(result.error(), restoreError(E::InvalidRangeData{1000, actual}));
    QCOMPARE(fixture.partFiles(), QStringList{u"0-999.part"_s});
    QCOMPARE(fixture.manifest()->completedRanges, ranges({{0, 999}}));
    QVERIFY(fixture.destinationFolder().isEmpty());
}

void RestoreTransferExecutorTests::pauseDropsTheArrivingChunk()
{
    Fixture fixture;
    fixture.raw = patternBytes(6 * smallChunk, 8);
    const RestoreTransfer transfer = fixture.transfer();
    fixture.fetcher->setGated(true);
    BackgroundRun run(fixture, transfer);
    auto &result = run.result;
    QVERIFY(fixture.fetcher->waitForWaiting(4));
    fixture.fetcher->release(RestoreByteRange{1000, 1999});
    QTRY_COMPARE(fixture.fetcher->calls().size(), 5);
    fixture.paused = true;
    fixture.fetcher->release(RestoreByteRange{0, 999});
    run.join();
    fixture.fetcher->setGated(false);

    QCOMPARE(result->error(), restoreError(E::Paused{}));
    QCOMPARE(fixture.manifest()->completedRanges, ranges({{1000, 1999}}));
    QCOMPARE(fixture.partFiles(), QStringList{u"1000-1999.part"_s});

    fixture.paused = false;
    const qsizetype before = fixture.fetcher->calls().size();
    PELLWICK_VERIFY_SUCCESS(fixture.run(transfer));
    QCOMPARE(sortedByStart(fixture.fetcher->fetchedRanges().mid(before)),
             ranges({{0, 999}, {2000, 2999}, {3000, 3999}, {4000, 4999}, {5000, 5999}}));
    QCOMPARE(*readFileContents(LocalFileManager(), transfer.destinationPath), fixture.raw);
}

void RestoreTransferExecutorTests::stopEndsTheRunAsCancellation()
{
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    fixture.fetcher->setGated(true);
    std::stop_source stop;
    BackgroundRun run(fixture, transfer, stop.get_token());
    auto &result = run.result;
    QVERIFY(fixture.fetcher->waitForWaiting(4));
    fixture.fetcher->release();
    QTRY_COMPARE(fixture.fetcher->calls().size(), 5);
    stop.request_stop();
    run.join();
    QVERIFY(result && !*result);
    QVERIFY2(result->error().is<CancellationError>(), qPrintable(describe(result->error())));
    QCOMPARE(fixture.manifest()->completedRanges.size(), 1);
    QCOMPARE(fixture.partFiles().size(), 1);
}

void RestoreTransferExecutorTests::expiredCapabilitiesAreRefreshed_data()
{
    QTest::addColumn<double>("expiresIn");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<int>("refreshes");
    QTest::newRow("expiry equal to now") << 0.0 << false << 1;
    QTest::newRow("expired") << -5.0 << false << 1;
    QTest::newRow("valid") << 0.001 << false << 0;
    QTest::newRow("complete manifest never") << -5.0 << true << 0;
}

void RestoreTransferExecutorTests::expiredCapabilitiesAreRefreshed()
{
    QFETCH(double, expiresIn);
    QFETCH(bool, complete);
    QFETCH(int, refreshes);
    Fixture fixture;
    RestoreTransfer transfer = fixture.transfer();
    if (complete)
        PELLWICK_VERIFY_SUCCESS(fixture.run(transfer));
    // The stored expiry decides, even when the transfer's own capability is valid.
    RestoreTransferManifest stored = complete ? *fixture.manifest() : RestoreTransferManifest{};
    if (!complete) {
        stored.id = transfer.id;
        stored.canonicalFilename = transfer.canonicalFilename;
        stored.destinationPath = transfer.destinationPath;
        stored.transferURL = u"https://store.example/old"_s;
    }
    stored.capabilityExpiresAt = now.addingSeconds(expiresIn);
    PELLWICK_VERIFY_SUCCESS(fixture.executor().saveManifest(stored));
    const qsizetype before = fixture.fetcher->calls().size();

    Result<RestoreTransferManifest> manifest = fixture.run(transfer);
    PELLWICK_VERIFY_SUCCESS(manifest);
    QCOMPARE(fixture.refreshCount.load(), refreshes);
    if (complete) {
        QCOMPARE(fixture.fetcher->calls().size(), before);
        return;
    }
    const QString used = refreshes > 0 ? freshURL : rawURL;
    QCOMPARE(manifest->transferURL, used);
    for (const auto &call : fixture.fetcher->calls())
        QCOMPARE(call.url, used);
}

void RestoreTransferExecutorTests::manifestOfAnotherChunkSize()
{
    Fixture fixture;
    fixture.raw = patternBytes(3 * smallChunk, 2);
    const RestoreTransfer transfer = fixture.transfer();
    // An earlier run with 1500-byte chunks recorded its first chunk.
    fixture.storeStartedManifest(transfer, ranges({{0, 1499}, {1000, 1999}}));

    fixture.fetcher->setGated(true);
    BackgroundRun run(fixture, transfer);
    auto &result = run.result;
    QVERIFY(fixture.fetcher->waitForWaiting(2));
    fixture.fetcher->release(RestoreByteRange{0, 999});
    QTRY_VERIFY(fixture.manifest()->completedRanges.size() == 2);
    // The old chunk is dropped at the first save and never counted.
    QCOMPARE(fixture.manifest()->completedRanges, ranges({{0, 999}, {1000, 1999}}));
    QTRY_COMPARE(fixture.progress.rows().last().currentFileCompletedByteCount, qint64(2000));
    fixture.fetcher->release();
    run.join();
    PELLWICK_VERIFY_SUCCESS(*result);
    QCOMPARE(sortedByStart(fixture.fetcher->fetchedRanges()), ranges({{0, 999}, {2000, 2999}}));
    QCOMPARE(*readFileContents(LocalFileManager(), transfer.destinationPath), fixture.raw);
}

void RestoreTransferExecutorTests::leftoverPartIsReplaced()
{
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    QVERIFY(QDir().mkpath(fixture.partsPath()));
    writeFile(fixture.partsPath() + u"/0-999.part"_s, QByteArray(5000, 'x'));
    PELLWICK_VERIFY_SUCCESS(fixture.run(transfer));
    QVERIFY(fixture.fetcher->fetchedRanges().contains(RestoreByteRange{0, 999}));
    QCOMPARE(*readFileContents(LocalFileManager(), transfer.destinationPath), fixture.raw);
}

void RestoreTransferExecutorTests::destinationAppearingBeforeInstall_data()
{
    QTest::addColumn<FileOperation>("operation");
    QTest::addColumn<bool>("restoredContent");
    QTest::newRow("before the existence check") << FileOperation::FileExists << false;
    QTest::newRow("between check and move") << FileOperation::MoveItem << false;
    QTest::newRow("the restored content, between check and move")
        << FileOperation::MoveItem << true;
}

void RestoreTransferExecutorTests::destinationAppearingBeforeInstall()
{
    QFETCH(FileOperation, operation);
    QFETCH(bool, restoredContent);
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    const QByteArray theirs = restoredContent ? fixture.raw : QByteArray("the user's own file");
    fixture.files->beforeOperation(operation, u"out/IMG_0001.CR3"_s, [&](const QString &) {
        if (!QFileInfo::exists(transfer.destinationPath))
            writeFile(transfer.destinationPath, theirs);
    });
    Result<RestoreTransferManifest> result = fixture.run(transfer);
    if (restoredContent) { // taken as installed, its name made durable before it is recorded
        PELLWICK_VERIFY_SUCCESS(result);
        const QStringList log = fixture.files->log();
        const qsizetype flushed
            = log.indexOf(u"synchronizeDirectory "_s + QFileInfo(transfer.destinationPath).path());
        QVERIFY(flushed >= 0);
        QVERIFY(flushed < log.lastIndexOf(u"replaceItem "_s
                                          + fixture.executor().layout().manifestPath(transfer.id)));
        QCOMPARE(fixture.destinationFolder(), QStringList{u"IMG_0001.CR3"_s});
        return;
    }
    QVERIFY(!result);
    QCOMPARE(result.error(), restoreError(E::DestinationAlreadyExists{transfer.destinationPath}));
    QCOMPARE(*readFileContents(LocalFileManager(), transfer.destinationPath), theirs);
    QCOMPARE(fixture.destinationFolder(), QStringList{u"IMG_0001.CR3"_s});
    QVERIFY(!fixture.manifest()->isComplete);
    QCOMPARE(fixture.partFiles().size(), 5);
}

void RestoreTransferExecutorTests::verificationFailuresRepeat()
{
    Fixture fixture;
    RestoreTransfer transfer = fixture.transfer();
    transfer.expectedContentHash = u"not the hash"_s;
    const QString actual = SHA256ContentHasher::contentHash(fixture.raw);
    for (int run = 0; run < 2; ++run) {
        Result<RestoreTransferManifest> result = fixture.run(transfer);
        QVERIFY(!result);
        QCOMPARE(result.error(), restoreError(E::ContentHashMismatch{u"not the hash"_s, actual}));
        QVERIFY(fixture.destinationFolder().isEmpty());
        QCOMPARE(fixture.partFiles().size(), 5);
    }
    QCOMPARE(fixture.fetcher->calls().size(), 5);

    // A part that grew is refused at assembly, before any hashing.
    QFile part(fixture.partsPath() + u"/1000-1999.part"_s);
    QVERIFY(part.open(QIODevice::Append));
    part.write("!");
    part.close();
    const qsizetype hashes = fixture.hasher->callCount();
    Result<RestoreTransferManifest> result = fixture.run(transfer);
    QVERIFY(!result);
    QCOMPARE(result.error(), Error(FileSystemError{u"read"_s, part.fileName(), EFBIG}));
    QCOMPARE(fixture.hasher->callCount(), hashes);
}

void RestoreTransferExecutorTests::completeManifestOnlyVerifies()
{
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    PELLWICK_VERIFY_SUCCESS(fixture.run(transfer));
    const qsizetype calls = fixture.fetcher->calls().size();
    const int rows = static_cast<int>(fixture.progress.rows().size());

    Result<RestoreTransferManifest> again = fixture.run(transfer);
    PELLWICK_VERIFY_SUCCESS(again);
    QCOMPARE(fixture.fetcher->calls().size(), calls);
    QCOMPARE(fixture.progress.rows().size(), rows + 1);
    QCOMPARE(fixture.progress.rows().last().phase, TransferProgressPhase::Verifying);

    // A changed installed file fails verification and nothing is downloaded.
    writeFile(transfer.destinationPath, QByteArray(fixture.raw.size(), 'z'));
    Result<RestoreTransferManifest> changed = fixture.run(transfer);
    QVERIFY(!changed);
    QVERIFY(changed.error().as<RestoreTransferError>());
    QVERIFY(std::holds_alternative<E::ContentHashMismatch>(
        changed.error().as<RestoreTransferError>()->value));
    QVERIFY(QFile::remove(transfer.destinationPath));
    Result<RestoreTransferManifest> missing = fixture.run(transfer);
    QVERIFY(!missing && missing.error().is<FileSystemError>());
    QCOMPARE(fixture.fetcher->calls().size(), calls);
}

void RestoreTransferExecutorTests::completedElsewhereIsRestoredAgain_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("rawName");
    QTest::addColumn<QByteArray>("alreadyThere"); // null: nothing at the new RAW destination
    QTest::addColumn<bool>("withSidecar");
    QTest::addColumn<int>("fetches");
    QTest::addColumn<bool>("succeeds");

    const QString cr3 = u"IMG_0001.CR3"_s;
    const QByteArray nothing;
    const QByteArray raw = Fixture().raw;
    QTest::newRow("same destination, only verified")
        << u"out"_s << cr3 << nothing << true << 0 << true;
    QTest::newRow("another name in the same folder")
        << u"out"_s << u"IMG_0001-restored.CR3"_s << nothing << false << 5 << true;
    QTest::newRow("another folder") << u"other"_s << cr3 << nothing << false << 5 << true;
    QTest::newRow("another folder, with the sidecar")
        << u"other"_s << cr3 << nothing << true << 5 + 2 << true;
    QTest::newRow("another folder already holding the content")
        << u"other"_s << cr3 << raw << false << 0 << true;
    QTest::newRow("another folder holding another file")
        << u"other"_s << cr3 << QByteArray("the user's own file") << false << 5 << false;
}

void RestoreTransferExecutorTests::completedElsewhereIsRestoredAgain()
{
    QFETCH(QString, folder);
    QFETCH(QString, rawName);
    QFETCH(QByteArray, alreadyThere);
    QFETCH(bool, withSidecar);
    QFETCH(int, fetches);
    QFETCH(bool, succeeds);

    // A restore that finished into one place and is then run for another (another folder, or
    // the name chosen after a conflict) puts the file there too; the first copy is left alone.
    Fixture fixture;
    if (withSidecar)
        fixture.sidecar = patternBytes(1500, 11);
    const RestoreTransfer first = fixture.transfer();
    PELLWICK_VERIFY_SUCCESS(fixture.run(first));
    RestoreTransfer moved = first;
    moved.destinationPath = fixture.folder.filePath(folder + u'/' + rawName);
    if (withSidecar)
        moved.sidecar->destinationPath = fixture.folder.filePath(folder + u"/IMG_0001.xmp"_s);
    if (!alreadyThere.isNull()) {
        QVERIFY(QDir().mkpath(parentPath(moved.destinationPath)));
        writeFile(moved.destinationPath, alreadyThere);
    }
    const qsizetype before = fixture.fetcher->calls().size();

    Result<RestoreTransferManifest> again = fixture.run(moved);
    QCOMPARE(fixture.fetcher->calls().size() - before, fetches);
    QCOMPARE(*readFileContents(LocalFileManager(), first.destinationPath), fixture.raw);
    if (withSidecar) {
        QCOMPARE(*readFileContents(LocalFileManager(), first.sidecar->destinationPath),
                 fixture.sidecar);
    }
    if (!succeeds) {
        QVERIFY(!again);
        QCOMPARE(again.error(), restoreError(E::DestinationAlreadyExists{moved.destinationPath}));
        QCOMPARE(*readFileContents(LocalFileManager(), moved.destinationPath), alreadyThere);
        QVERIFY(!fixture.manifest()->isComplete);
        return;
    }
    PELLWICK_VERIFY_SUCCESS(again);
    QCOMPARE(again->destinationPath, moved.destinationPath);
    QCOMPARE(*readFileContents(LocalFileManager(), moved.destinationPath), fixture.raw);
    QVERIFY(fixture.manifest()->isComplete);
    QCOMPARE(fixture.manifest()->destinationPath, moved.destinationPath);
    if (withSidecar) {
        QCOMPARE(*readFileContents(LocalFileManager(), moved.sidecar->destinationPath),
                 fixture.sidecar);
        QCOMPARE(fixture.manifest(RestoreTransferArtifact::Sidecar)->destinationPath,
                 moved.sidecar->destinationPath);
    }

    // From now on the new place is the one verified.
    const qsizetype calls = fixture.fetcher->calls().size();
    PELLWICK_VERIFY_SUCCESS(fixture.run(moved));
    QCOMPARE(fixture.fetcher->calls().size(), calls);
}

void RestoreTransferExecutorTests::sidecarFollowsTheRawOriginal()
{
    Fixture fixture;
    fixture.sidecar = patternBytes(1500, 11);
    const RestoreTransfer transfer = fixture.transfer();
    // The sidecar's first fetch fails; the RAW original stays installed and complete.
    fixture.fetcher->setOverride(
        [](const QString &url, const RestoreByteRange &) -> std::optional<Result<QByteArray>> {
            if (url == sidecarURL)
                return Result<QByteArray>(failure(TransportError{7, false, false, u"refused"_s}));
            return std::nullopt;
        });
    Result<RestoreTransferManifest> failed = fixture.run(transfer);
    QVERIFY(!failed && failed.error().is<TransportError>());
    QVERIFY(fixture.manifest()->isComplete);
    QVERIFY(QFileInfo::exists(transfer.destinationPath));

    fixture.fetcher->setOverride({});
    const qsizetype before = fixture.fetcher->calls().size();
    Result<RestoreTransferManifest> raw = fixture.run(transfer);
    PELLWICK_VERIFY_SUCCESS(raw);
    QCOMPARE(raw->id, transfer.id);
    for (const auto &call : fixture.fetcher->calls().mid(before))
        QCOMPARE(call.url, sidecarURL);
    QCOMPARE(*readFileContents(LocalFileManager(), transfer.sidecar->destinationPath),
             fixture.sidecar);
    QVERIFY(fixture.manifest(RestoreTransferArtifact::Sidecar)->isComplete);
    // The sidecar's rows start from the RAW original's bytes once it is complete.
    const TransferProgress last = fixture.progress.rows().last();
    QCOMPARE(last.currentFilename, u"IMG_0001.xmp"_s);
    QCOMPARE(last.completedByteCount, fixture.raw.size() + fixture.sidecar.size());
    QCOMPARE(last.totalByteCount, fixture.raw.size() + fixture.sidecar.size());
}

void RestoreTransferExecutorTests::sidecarWithoutFreshCapability()
{
    Fixture fixture;
    fixture.sidecar = patternBytes(10, 1);
    RestoreTransfer transfer = fixture.transfer();
    transfer.sidecar->capabilityExpiresAt = now;
    fixture.freshCapability = RestoreTransferCapability{};
    Result<RestoreTransferManifest> result = fixture.run(transfer);
    QVERIFY(!result);
    QCOMPARE(result.error(), restoreError(E::MissingSidecarCapability{}));
    QVERIFY(fixture.manifest()->isComplete);
    QVERIFY(QFileInfo::exists(transfer.destinationPath));
    QVERIFY(!fixture.manifest(RestoreTransferArtifact::Sidecar));
}

void RestoreTransferExecutorTests::discardRules()
{
    Fixture fixture;
    fixture.sidecar = patternBytes(2500, 1);
    const RestoreTransfer transfer = fixture.transfer();
    fixture.fetcher->setOverride(
        [](const QString &url, const RestoreByteRange &range) -> std::optional<Result<QByteArray>> {
            if (url == sidecarURL && range.start > 0)
                return Result<QByteArray>(failure(TransportError{7, false, false, u"refused"_s}));
            return std::nullopt;
        });
    QVERIFY(!fixture.run(transfer));
    const RestoreTransferExecutor executor = fixture.executor();
    const RestoreTransferIdentifier sidecarID{12, 345, RestoreTransferArtifact::Sidecar};
    QVERIFY(fixture.manifest(RestoreTransferArtifact::Sidecar));

    // Complete: nothing is removed.
    PELLWICK_VERIFY_SUCCESS(executor.discardIncompleteArtifacts(transfer.id));
    QVERIFY(fixture.manifest()->isComplete);
    QVERIFY(QFileInfo::exists(transfer.destinationPath));
    // Incomplete: manifest and parts go.
    PELLWICK_VERIFY_SUCCESS(executor.discardIncompleteArtifacts(sidecarID));
    QVERIFY(!fixture.manifest(RestoreTransferArtifact::Sidecar));
    QVERIFY(!QFileInfo::exists(fixture.partsPath(RestoreTransferArtifact::Sidecar)));
    // No manifest: a parts folder alone goes too.
    QVERIFY(QDir().mkpath(fixture.partsPath(RestoreTransferArtifact::Sidecar)));
    PELLWICK_VERIFY_SUCCESS(executor.discardIncompleteArtifacts(sidecarID));
    QVERIFY(!QFileInfo::exists(fixture.partsPath(RestoreTransferArtifact::Sidecar)));
    // Unreadable: the error, and nothing removed.
    QVERIFY(QDir().mkpath(fixture.partsPath(RestoreTransferArtifact::Sidecar)));
    writeFile(executor.layout().manifestPath(sidecarID), "{");
    Result<void> garbage = executor.discardIncompleteArtifacts(sidecarID);
    QVERIFY(!garbage && garbage.error().is<DecodingError>());
    QVERIFY(QFileInfo::exists(fixture.partsPath(RestoreTransferArtifact::Sidecar)));
    QVERIFY(QFileInfo::exists(executor.layout().manifestPath(sidecarID)));
}

void RestoreTransferExecutorTests::progressRows()
{
    Fixture fixture;
    fixture.configuration.maximumParallelChunks = 1;
    fixture.raw = patternBytes(2 * smallChunk + 1, 5);
    fixture.sidecar = patternBytes(7, 5);
    const RestoreTransfer transfer = fixture.transfer();
    PELLWICK_VERIFY_SUCCESS(fixture.run(transfer));

    using P = TransferProgressPhase;

    struct Row
    {
        P phase;
        QString file;
        std::optional<qint64> current;
        std::optional<qint64> currentTotal;
        qint64 completed;
    };

    const qint64 total = 2 * smallChunk + 1 + 7;
    const QList<Row> expected{
        {P::Downloading, u"IMG_0001.CR3"_s, 0, 2001, 0},
        {P::Downloading, u"IMG_0001.CR3"_s, 1000, 2001, 1000},
        {P::Downloading, u"IMG_0001.CR3"_s, 2000, 2001, 2000},
        {P::Downloading, u"IMG_0001.CR3"_s, 2001, 2001, 2001},
        {P::Assembling, u"IMG_0001.CR3"_s, {}, {}, 2001},
        {P::Verifying, u"IMG_0001.CR3"_s, {}, {}, 2001},
        {P::Downloading, u"IMG_0001.xmp"_s, 0, 7, 2001},
        {P::Downloading, u"IMG_0001.xmp"_s, 7, 7, 2008},
        {P::Assembling, u"IMG_0001.xmp"_s, {}, {}, 2008},
        {P::Verifying, u"IMG_0001.xmp"_s, {}, {}, 2008},
    };
    const QList<TransferProgress> rows = fixture.progress.rows();
    QCOMPARE(rows.size(), expected.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const TransferProgress &row = rows.at(i);
        QCOMPARE(row.id, QUuid::fromString(u"{11111111-2222-3333-4444-555555555555}"_s));
        QCOMPARE(row.operationName, u"Restore Transfer"_s);
        QCOMPARE(row.phase, expected.at(i).phase);
        QCOMPARE(row.detail, std::nullopt);
        QCOMPARE(row.currentFilename, expected.at(i).file);
        QCOMPARE(row.currentFileCompletedByteCount, expected.at(i).current);
        QCOMPARE(row.currentFileTotalByteCount, expected.at(i).currentTotal);
        QCOMPARE(row.completedByteCount, expected.at(i).completed);
        QCOMPARE(row.totalByteCount, total);
        QCOMPARE(row.completedPackageCount, qint64(0));
        QCOMPARE(row.totalPackageCount, qint64(1));
    }
}

void RestoreTransferExecutorTests::injectedFaultsLeaveAResumableState_data()
{
    QTest::addColumn<FileOperation>("operation");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("recorded");

    QTest::newRow("no space writing a part")
        << FileOperation::Write << u".part.tmp-"_s << 3 << ENOSPC << 2;
    QTest::newRow("part flush fails")
        << FileOperation::Synchronize << u".part.tmp-"_s << 2 << EIO << 1;
    QTest::newRow("part rename fails")
        << FileOperation::ReplaceItem << u"/parts/"_s << 3 << EIO << 2;
    QTest::newRow("parts folder flush fails")
        << FileOperation::SynchronizeDirectory << u"/parts/"_s << 2 << EIO << 1;
    QTest::newRow("manifest write fails")
        << FileOperation::Write << u"manifests/."_s << 3 << ENOSPC << 1;
    QTest::newRow("read error at assembly")
        << FileOperation::Read << u"2000-2999.part"_s << 1 << EIO << 5;
    QTest::newRow("no file entry for the assembled file")
        << FileOperation::CreateFile << u"/out/."_s << 1 << ENOSPC << 5;
    QTest::newRow("assembled file flush fails")
        << FileOperation::Synchronize << u"/out/"_s << 1 << EIO << 5;
    QTest::newRow("install fails") << FileOperation::MoveItem << u"/out/"_s << 1 << EIO << 5;
}

void RestoreTransferExecutorTests::injectedFaultsLeaveAResumableState()
{
    QFETCH(FileOperation, operation);
    QFETCH(QString, path);
    QFETCH(int, occurrence);
    QFETCH(int, code);
    QFETCH(int, recorded);

    Fixture fixture;
    fixture.configuration.maximumParallelChunks = 1;
    const RestoreTransfer transfer = fixture.transfer();
    fixture.files->failOperation(operation, code, path, occurrence);
    Result<RestoreTransferManifest> failed = fixture.run(transfer);
    QVERIFY(!failed);
    const FileSystemError *error = failed.error().as<FileSystemError>();
    QVERIFY2(error, qPrintable(describe(failed.error())));
    QCOMPARE(error->code, code);

    // Earlier chunks stay recorded, each with a part of exactly its length.
    const RestoreTransferManifest manifest = *fixture.manifest();
    QCOMPARE(manifest.completedRanges.size(), recorded);
    QVERIFY(!manifest.isComplete);
    for (const RestoreByteRange &range : manifest.completedRanges) {
        QCOMPARE(QFileInfo(fixture.executor().layout().partPath(transfer.id, range)).size(),
                 range.byteCount());
    }
    QVERIFY(fixture.destinationFolder().isEmpty());

    fixture.files = std::make_shared<FaultInjectingFileManager>();
    const qsizetype before = fixture.fetcher->calls().size();
    PELLWICK_VERIFY_SUCCESS(fixture.run(transfer));
    QCOMPARE(fixture.fetcher->calls().size() - before, 5 - recorded);
    QCOMPARE(*readFileContents(LocalFileManager(), transfer.destinationPath), fixture.raw);
}

void RestoreTransferExecutorTests::installedButNotRecorded_data()
{
    QTest::addColumn<RestoreTransferArtifact>("artifact");
    QTest::addColumn<int>("completingWrite");
    QTest::addColumn<QByteArray>("changedTo");
    QTest::addColumn<bool>("accepted");

    // Manifest writes: creation, one per chunk, the assembly file's name, then complete.
    const auto raw = RestoreTransferArtifact::Raw;
    const auto sidecar = RestoreTransferArtifact::Sidecar;
    QTest::newRow("RAW original") << raw << 8 << QByteArray() << true;
    QTest::newRow("sidecar") << sidecar << 6 << QByteArray() << true;
    QTest::newRow("RAW original changed since, same size")
        << raw << 8 << patternBytes(4 * smallChunk + 10, 99) << false;
    QTest::newRow("sidecar changed since, other size")
        << sidecar << 6 << QByteArray("edited") << false;
}

void RestoreTransferExecutorTests::installedButNotRecorded()
{
    QFETCH(RestoreTransferArtifact, artifact);
    QFETCH(int, completingWrite);
    QFETCH(QByteArray, changedTo);
    QFETCH(bool, accepted);

    Fixture fixture;
    fixture.sidecar = patternBytes(2500, 1);
    const RestoreTransfer transfer = fixture.transfer();
    const bool isRaw = artifact == RestoreTransferArtifact::Raw;
    const QString destination
        = isRaw ? transfer.destinationPath : transfer.sidecar->destinationPath;
    const QByteArray bytes = isRaw ? fixture.raw : fixture.sidecar;
    const QString manifestName
        = fixture.executor().layout().manifestPath({12, 345, artifact}).section(u'/', -1);
    fixture.files->failOperation(FileOperation::ReplaceItem, ENOSPC, manifestName, completingWrite);
    Result<RestoreTransferManifest> failed = fixture.run(transfer);
    QVERIFY(!failed && failed.error().is<FileSystemError>());
    QCOMPARE(*readFileContents(LocalFileManager(), destination), bytes);
    QVERIFY(!fixture.manifest(artifact)->isComplete);
    if (!changedTo.isNull())
        writeFile(destination, changedTo);

    // Retried in the same session or after a restart: the file already there is the one this
    // transfer verified, so it is taken as installed; nothing is fetched and no copy is made.
    fixture.files = std::make_shared<FaultInjectingFileManager>();
    const auto fetchesOfArtifact = [&] {
        const QString prefix
            = isRaw ? u"https://store.example/raw"_s : u"https://store.example/sidecar"_s;
        const QList<ScriptedRangeFetcher::Call> calls = fixture.fetcher->calls();
        return std::count_if(calls.cbegin(), calls.cend(), [&](const auto &call) {
            return call.url.startsWith(prefix);
        });
    };
    const auto before = fetchesOfArtifact();
    Result<RestoreTransferManifest> again = fixture.run(transfer);
    QCOMPARE(fetchesOfArtifact(), before);
    const QStringList installed{u"IMG_0001.CR3"_s, u"IMG_0001.xmp"_s};
    if (accepted) {
        PELLWICK_VERIFY_SUCCESS(again);
        QVERIFY(fixture.manifest(artifact)->isComplete);
        // Its name made durable before the manifest records it.
        const QStringList log = fixture.files->log();
        const qsizetype flushed
            = log.indexOf(u"synchronizeDirectory "_s + QFileInfo(destination).path());
        const qsizetype recorded = log.indexOf(
            u"replaceItem "_s + fixture.executor().layout().manifestPath({12, 345, artifact}));
        QVERIFY(flushed >= 0 && flushed < recorded);
        QVERIFY(!QFileInfo::exists(fixture.partsPath(artifact)));
        QCOMPARE(*readFileContents(LocalFileManager(), destination), bytes);
    } else {
        QVERIFY(!again);
        QCOMPARE(again.error(), restoreError(E::DestinationAlreadyExists{destination}));
        QVERIFY(!fixture.manifest(artifact)->isComplete);
        QCOMPARE(*readFileContents(LocalFileManager(), destination), changedTo);
    }
    QCOMPARE(fixture.destinationFolder(), isRaw && !accepted ? installed.mid(0, 1) : installed);
}

/// A first run that fails after its hidden assembly file was made.
struct LeftoverAssembly
{
    FileOperation operation; ///< fails once in the first run
    QString path;            ///< of that failure
    bool discarded = false;  ///< cleaned up by a discard rather than by the next run
    bool removable = false;  ///< the first run's own clean-up removes the file
    /// the first flush of the destination folder after the file's removal fails
    bool removalUnflushed = false;
    /// examining the file fails with this errno in the first run, after its removal failed
    int unexaminable = 0;
    /// this operation on the file fails with `laterCode` throughout the next clean-up
    std::optional<FileOperation> laterFault = std::nullopt;
    int laterCode = EIO;
    /// the discard's flush of the manifests folder fails once
    bool manifestRemovalUnflushed = false;
};
Q_DECLARE_METATYPE(LeftoverAssembly)

void RestoreTransferExecutorTests::leftoverAssemblyFileIsRemoved_data()
{
    QTest::addColumn<LeftoverAssembly>("leftover");

    const auto read = FileOperation::Read;
    const auto flush = FileOperation::Synchronize;
    const auto install = FileOperation::MoveItem;
    QTest::newRow("assembly fails, next run")
        << LeftoverAssembly{.operation = read, .path = u"2000-2999.part"_s};
    QTest::newRow("assembly fails, discarded")
        << LeftoverAssembly{.operation = read, .path = u"2000-2999.part"_s, .discarded = true};
    QTest::newRow("flush fails, next run")
        << LeftoverAssembly{.operation = flush, .path = u"/out/."_s};
    QTest::newRow("install fails, discarded")
        << LeftoverAssembly{.operation = install, .path = u"/out/IMG"_s, .discarded = true};
    QTest::newRow("install fails, removal unflushed") << LeftoverAssembly{
        .operation = install, .path = u"/out/IMG"_s, .removable = true, .removalUnflushed = true};
    QTest::newRow("flush fails, removal unflushed") << LeftoverAssembly{
        .operation = flush, .path = u"/out/."_s, .removable = true, .removalUnflushed = true};
    QTest::newRow("flush fails, removal by the next run unflushed")
        << LeftoverAssembly{.operation = flush, .path = u"/out/."_s, .removalUnflushed = true};
    QTest::newRow("flush fails, removal by a discard unflushed") << LeftoverAssembly{
        .operation = flush, .path = u"/out/."_s, .discarded = true, .removalUnflushed = true};
    QTest::newRow("assembly fails, file unexaminable")
        << LeftoverAssembly{.operation = read, .path = u"2000-2999.part"_s, .unexaminable = EACCES};
    const auto examine = FileOperation::AttributesOfItem;
    QTest::newRow("next run cannot examine it") << LeftoverAssembly{
        .operation = read, .path = u"2000-2999.part"_s, .laterFault = examine, .laterCode = EACCES};
    QTest::newRow("discard cannot examine it") << LeftoverAssembly{
        .operation = read, .path = u"2000-2999.part"_s, .discarded = true, .laterFault = examine};
    QTest::newRow("next run cannot remove it") << LeftoverAssembly{
        .operation = flush, .path = u"/out/."_s, .laterFault = FileOperation::RemoveItem};
    QTest::newRow("discard's manifest removal unflushed")
        << LeftoverAssembly{.operation = flush,
                            .path = u"/out/."_s,
                            .discarded = true,
                            .manifestRemovalUnflushed = true};
}

void RestoreTransferExecutorTests::leftoverAssemblyFileIsRemoved()
{
    QFETCH(LeftoverAssembly, leftover);

    // The hidden assembly file outlives a failure whose clean-up fails too, as it outlives a
    // pulled plug: only the manifest still knows it. It stays known until its removal is durable.
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    const QString folder = QFileInfo(transfer.destinationPath).path();
    fixture.files->failOperation(leftover.operation, EIO, leftover.path, 1);
    if (!leftover.removable)
        fixture.files->failOperation(FileOperation::RemoveItem, EIO, u"/out/."_s);
    auto failFlush = [&] {
        fixture.files->failOperation(FileOperation::SynchronizeDirectory, EIO, folder, 1);
    };
    if (leftover.removable && leftover.removalUnflushed)
        failFlush();
    if (leftover.unexaminable) {
        const QString hidden = u".IMG_0001.CR3.tmp-"_s;
        fixture.files->failOperation(FileOperation::FileExists, leftover.unexaminable, hidden);
        fixture.files->failOperation(
            FileOperation::AttributesOfItem, leftover.unexaminable, hidden);
    }
    QVERIFY(!fixture.run(transfer));
    const QString assembly = fixture.manifest()->assemblyPath;
    QVERIFY2(QFileInfo(assembly).fileName().startsWith(u".IMG_0001.CR3.tmp-"_s),
             qPrintable(assembly));
    QCOMPARE(fixture.destinationFolder(),
             leftover.removable ? QStringList() : QStringList{QFileInfo(assembly).fileName()});
    auto cleanUp = [&](const std::function<void()> &injectFaults = {}) -> Result<void> {
        fixture.files = std::make_shared<FaultInjectingFileManager>();
        if (injectFaults)
            injectFaults();
        if (leftover.discarded)
            return fixture.executor().discardIncompleteArtifacts(transfer.id);
        PELLWICK_TRY(fixture.run(transfer));
        return {};
    };
    if (!leftover.removable && leftover.removalUnflushed) {
        QVERIFY(!cleanUp(failFlush));
        QCOMPARE(fixture.destinationFolder(), QStringList());
        QCOMPARE(fixture.manifest()->assemblyPath, assembly);
    }
    if (leftover.laterFault) {
        QVERIFY(!cleanUp([&] {
            fixture.files->failOperation(*leftover.laterFault, leftover.laterCode, assembly);
        }));
        QCOMPARE(fixture.destinationFolder(), QStringList{QFileInfo(assembly).fileName()});
        QCOMPARE(fixture.manifest()->assemblyPath, assembly);
    }
    const QString manifests = fixture.executor().layout().manifestsPath();
    if (leftover.manifestRemovalUnflushed) {
        QVERIFY(!cleanUp([&] {
            fixture.files->failOperation(FileOperation::SynchronizeDirectory, EIO, manifests, 1);
        }));
        QVERIFY(!fixture.manifest());
        QVERIFY(!fixture.partFiles().isEmpty());
    }
    const bool present = QFileInfo::exists(assembly);

    PELLWICK_VERIFY_SUCCESS(cleanUp());
    if (leftover.discarded) {
        QCOMPARE(fixture.destinationFolder(), QStringList());
        QVERIFY(!fixture.manifest());
        // The parts go once the manifest's removal is durable.
        const QStringList log = fixture.files->log();
        const qsizetype unnamed
            = log.indexOf(u"removeItem "_s + fixture.executor().layout().manifestPath(transfer.id));
        const qsizetype flushed = log.indexOf(u"synchronizeDirectory "_s + manifests);
        QVERIFY(unnamed >= 0 && unnamed < flushed);
        QCOMPARE(log.indexOf(u"removeItem "_s + fixture.partsPath()), flushed + 1);
        return;
    }
    QCOMPARE(fixture.destinationFolder(), QStringList{u"IMG_0001.CR3"_s});
    QCOMPARE(fixture.manifest()->assemblyPath, QString());
    // Its removal is durable before the manifest forgets it.
    const QStringList log = fixture.files->log();
    const qsizetype removed = log.indexOf(u"removeItem "_s + assembly);
    QCOMPARE(removed >= 0, present);
    const qsizetype flushed = log.indexOf(u"synchronizeDirectory "_s + folder);
    const qsizetype forgotten
        = log.indexOf(u"replaceItem "_s + fixture.executor().layout().manifestPath(transfer.id));
    QVERIFY(flushed >= 0 && flushed < forgotten);
    if (present)
        QCOMPARE(flushed, removed + 1);
}

void RestoreTransferExecutorTests::recordedAssemblyPathIsCheckedBeforeRemoval_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("asFolder");
    QTest::addColumn<bool>("removed");

    const QString uuid = u"0F8FAD5B-D9CB-469F-A165-70867728950E"_s;
    QTest::newRow("own name") << u".IMG_0001.CR3.tmp-"_s + uuid << false << true;
    QTest::newRow("the user's file") << u"notes.txt"_s << false << false;
    QTest::newRow("own name, lower-case id")
        << u".IMG_0001.CR3.tmp-"_s + uuid.toLower() << false << false;
    QTest::newRow("own name, a folder") << u".IMG_0001.CR3.tmp-"_s + uuid << true << false;
    QTest::newRow("no id") << u".IMG_0001.CR3.tmp-"_s << false << false;
    QTest::newRow("own name, another folder")
        << u"../elsewhere/.IMG_0001.CR3.tmp-"_s + uuid << false << false;
    QTest::newRow("own name, a folder within")
        << u"sub/.IMG_0001.CR3.tmp-"_s + uuid << false << false;
}

void RestoreTransferExecutorTests::recordedAssemblyPathIsCheckedBeforeRemoval()
{
    QFETCH(QString, name);
    QFETCH(bool, asFolder);
    QFETCH(bool, removed);

    // A damaged manifest may name anything; only a file of the executor's own making goes.
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    const QString leftover = fixture.destination(name);
    QVERIFY(QDir().mkpath(fixture.destination(QString())));
    if (asFolder)
        QVERIFY(QDir().mkpath(leftover + u"/inside"_s));
    else
        writeFile(QDir::cleanPath(leftover), "keep?");
    fixture.storeStartedManifest(transfer, {}, leftover);
    PELLWICK_VERIFY_SUCCESS(fixture.executor().discardIncompleteArtifacts(transfer.id));
    QCOMPARE(!QFileInfo::exists(QDir::cleanPath(leftover)), removed);
}

void RestoreTransferExecutorTests::hugeByteCountFailsAtTheFirstFetch()
{
    Fixture fixture;
    fixture.configuration = {16'777'216, 1};
    RestoreTransfer transfer = fixture.transfer();
    transfer.expectedByteCount = qint64(1) << 62;
    Result<RestoreTransferManifest> result = fixture.run(transfer);
    QVERIFY(!result);
    QCOMPARE(result.error(), restoreError(E::InvalidRangeData{16'777'216, fixture.raw.size()}));
    QCOMPARE(fixture.fetcher->calls().size(), 1);
}

void RestoreTransferExecutorTests::longDestinationNamesAreRestored_data()
{
    QTest::addColumn<QString>("name");

    // The hidden assembly file beside the destination adds a dot, ".tmp-" and an id to its name;
    // a name the file system takes must still be restorable.
    QTest::newRow("short") << u"IMG_0001.CR3"_s;
    QTest::newRow("213 bytes") << QString(209, u'a') + u".CR3"_s;
    QTest::newRow("214 bytes") << QString(210, u'a') + u".CR3"_s;
    QTest::newRow("255 bytes") << QString(251, u'a') + u".CR3"_s;
    QTest::newRow("255 bytes, two per character") << QString(125, u'\u00e9') + u"a.CR3"_s;
    QTest::newRow("255 bytes, four per character")
        << QString::fromUcs4(std::u32string(61, U'\U0001F4F7').c_str()) + QString(7, u'a')
               + u".CR3"_s;
}

void RestoreTransferExecutorTests::longDestinationNamesAreRestored()
{
    QFETCH(QString, name);
    QVERIFY(name.toUtf8().size() <= 255);
    Fixture fixture;
    RestoreTransfer transfer = fixture.transfer();
    transfer.destinationPath = fixture.destination(name);
    // A first run leaves its assembly file behind; the next one knows it for its own.
    fixture.files->failOperation(FileOperation::Synchronize, EIO, u"/out/."_s, 1);
    fixture.files->failOperation(FileOperation::RemoveItem, EIO, u"/out/."_s);
    QVERIFY(!fixture.run(transfer));
    QCOMPARE(fixture.destinationFolder().size(), 1);
    fixture.files = std::make_shared<FaultInjectingFileManager>();
    PELLWICK_VERIFY_SUCCESS(fixture.run(transfer));
    QCOMPARE(*readFileContents(LocalFileManager(), transfer.destinationPath), fixture.raw);
    QCOMPARE(fixture.destinationFolder(), QStringList{name});
}

/// A manifest file as a damaged disk or another program may leave it.
struct HostileManifest
{
    QByteArray content{};       ///< the file's bytes instead of a sound manifest's
    qint64 padding = 0;         ///< spaces after a sound manifest
    qint64 libraryItemID = 345; ///< of the sound manifest
    bool device = false;        ///< /dev/zero in place of the file
    QString keyPath{};          ///< of the decoding error, which names the file
    /// "manifests", "parts" (the artifact's) or "all parts" (the folder of every artifact's
    /// parts): that state folder moved outside and a symbolic link left to it
    QString linkedFolder{};
    bool complete = false;  ///< the manifest records the artifact complete
    bool discarded = false; ///< discarded rather than run
};
Q_DECLARE_METATYPE(HostileManifest)

void RestoreTransferExecutorTests::hostileManifestsAreRefused_data()
{
    QTest::addColumn<HostileManifest>("manifest");
    QTest::newRow("/dev/zero") << HostileManifest{.device = true};
    QTest::newRow("beyond a manifest's size") << HostileManifest{.padding = 5 * 1024 * 1024};
    QTest::newRow("another item's") << HostileManifest{.libraryItemID = 999, .keyPath = u"id"_s};
    QTest::newRow("not JSON") << HostileManifest{.content = "{"};
    QTest::newRow("manifests folder a link") << HostileManifest{.linkedFolder = u"manifests"_s};
    QTest::newRow("parts folder a link") << HostileManifest{.linkedFolder = u"parts"_s};
    QTest::newRow("all parts a link, complete")
        << HostileManifest{.linkedFolder = u"all parts"_s, .complete = true};
    QTest::newRow("all parts a link, discarded")
        << HostileManifest{.linkedFolder = u"all parts"_s, .discarded = true};
}

void RestoreTransferExecutorTests::hostileManifestsAreRefused()
{
    QFETCH(HostileManifest, manifest);
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    const QString path = fixture.executor().layout().manifestPath(transfer.id);
    RestoreTransfer other = transfer;
    other.id.libraryItemID = manifest.libraryItemID;
    fixture.storeStartedManifest(other);
    if (manifest.device) {
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::link(u"/dev/zero"_s, path));
    } else if (!manifest.content.isNull()) {
        writeFile(path, manifest.content);
    } else if (manifest.libraryItemID != 345) {
        QVERIFY(QFile::rename(fixture.executor().layout().manifestPath(other.id), path));
    }
    if (manifest.padding > 0)
        appendToFile(path, QByteArray(manifest.padding, ' '));
    if (manifest.complete) {
        RestoreTransferManifest complete = *fixture.manifest();
        complete.isComplete = true;
        QVERIFY(fixture.executor().saveManifest(complete));
    }
    const QString foreign = fixture.partsPath() + u"/foreign.txt"_s;
    writeFile(foreign, "not a part");
    const QString linked
        = manifest.linkedFolder == u"manifests"_s ? fixture.executor().layout().manifestsPath()
          : manifest.linkedFolder == u"parts"_s   ? fixture.partsPath()
                                                  : QFileInfo(fixture.partsPath()).path();
    const QString outside = fixture.folder.filePath(u"outside"_s);
    if (!manifest.linkedFolder.isEmpty()) {
        QVERIFY(QDir().rename(linked, outside));
        QVERIFY(QFile::link(outside, linked));
    }
    const QByteArray before = manifest.device ? QByteArray() : readFile(path);
    const QStringList outsideBefore = QDir(outside).entryList(QDir::Files | QDir::Hidden);

    auto outcome = [&]() -> Result<void> {
        if (manifest.discarded)
            return fixture.executor().discardIncompleteArtifacts(transfer.id);
        PELLWICK_TRY(fixture.run(transfer));
        return {};
    };
    Result<void> result = outcome();
    QVERIFY(!result);
    QVERIFY(QFileInfo::exists(foreign));
    if (manifest.device) {
        QCOMPARE(result.error(), Error(FileSystemError{u"read"_s, path, EINVAL}));
    } else if (!manifest.linkedFolder.isEmpty()) {
        QCOMPARE(result.error(), Error(FileSystemError{u"open"_s, linked, ELOOP}));
        QCOMPARE(readFile(path), before);
        QCOMPARE(QDir(outside).entryList(QDir::Files | QDir::Hidden), outsideBefore);
    } else {
        const DecodingError *error = result.error().as<DecodingError>();
        QVERIFY2(error, qPrintable(describe(result.error())));
        QVERIFY2(error->description.startsWith(path + u": "_s), qPrintable(error->description));
        QCOMPARE(error->keyPath, manifest.keyPath);
        QCOMPARE(readFile(path), before);
    }
    QCOMPARE(fixture.fetcher->calls().size(), 0);
    QVERIFY(fixture.destinationFolder().isEmpty());
}

/// A recorded part file that is no longer what was downloaded.
struct HostilePart
{
    qint64 lengthChange = 0; ///< bytes added to the part (cut when negative)
    bool device = false;     ///< /dev/zero in place of the part
    int code = EIO;          ///< of the failure naming the part
};
Q_DECLARE_METATYPE(HostilePart)

void RestoreTransferExecutorTests::partsOfAnotherKindFailAssembly_data()
{
    QTest::addColumn<HostilePart>("part");
    QTest::newRow("/dev/zero") << HostilePart{.device = true, .code = EINVAL};
    QTest::newRow("one byte short") << HostilePart{.lengthChange = -1};
}

void RestoreTransferExecutorTests::partsOfAnotherKindFailAssembly()
{
    QFETCH(HostilePart, part);
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    const QList<RestoreByteRange> all
        = ranges({{0, 999}, {1000, 1999}, {2000, 2999}, {3000, 3999}, {4000, 4009}});
    fixture.storeStartedManifest(transfer, all);
    const QString path = fixture.executor().layout().partPath(transfer.id, all.at(2));
    if (part.device) {
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::link(u"/dev/zero"_s, path));
    } else {
        writeFile(path, fixture.raw.mid(2000, 1000 + part.lengthChange));
    }

    Result<RestoreTransferManifest> result = fixture.run(transfer);
    QCOMPARE(errorOf(result), Error(FileSystemError{u"read"_s, path, part.code}));
    // Nothing fetched, the hidden assembly file gone, the recorded state kept.
    QCOMPARE(fixture.fetcher->calls().size(), 0);
    QVERIFY(fixture.destinationFolder().isEmpty());
    QCOMPARE(fixture.manifest()->completedRanges, all);
    QCOMPARE(fixture.partFiles().size(), all.size());
}

/// Completed ranges a damaged manifest or another chunk size may list.
struct RecordedRanges
{
    QList<RestoreByteRange> stored{};
    qint64 counted = 0;                 ///< bytes the first progress row shows
    QList<RestoreByteRange> partless{}; ///< of those stored, the ones whose part is gone
};
Q_DECLARE_METATYPE(RecordedRanges)

void RestoreTransferExecutorTests::progressCountsOnlyChunksOfTheFile_data()
{
    QTest::addColumn<RecordedRanges>("recorded");
    QTest::newRow("off the chunk grid") << RecordedRanges{.stored = ranges({{500, 1499}})};
    QTest::newRow("overlapping") << RecordedRanges{.stored = ranges({{0, 999}, {0, 1499}}),
                                                   .counted = 1000};
    QTest::newRow("the same chunk twice")
        << RecordedRanges{.stored = ranges({{3000, 3999}, {3000, 3999}}), .counted = 1000};
    QTest::newRow("beyond the file")
        << RecordedRanges{.stored = ranges({{4000, 4999}, {5000, 5999}, {-1000, -1}})};
    QTest::newRow("recorded without its part")
        << RecordedRanges{.stored = ranges({{0, 999}, {1000, 1999}}),
                          .counted = 1000,
                          .partless = ranges({{1000, 1999}})};
}

void RestoreTransferExecutorTests::progressCountsOnlyChunksOfTheFile()
{
    QFETCH(RecordedRanges, recorded);
    Fixture fixture;
    const RestoreTransfer transfer = fixture.transfer();
    fixture.storeStartedManifest(transfer, recorded.stored);
    for (const RestoreByteRange &range : recorded.partless)
        QVERIFY(QFile::remove(fixture.executor().layout().partPath(transfer.id, range)));
    // Room is asked only for the chunks the run will fetch.
    const Result<RestoreSpaceNeed> need = fixture.executor().spaceNeeded(transfer);
    QCOMPARE(need->destinationBytes, fixture.raw.size());
    QCOMPARE(need->stateBytes, fixture.raw.size() - recorded.counted);
    PELLWICK_VERIFY_SUCCESS(fixture.run(transfer));

    const QList<TransferProgress> rows = fixture.progress.rows();
    QVERIFY(!rows.isEmpty());
    QCOMPARE(rows.first().currentFileCompletedByteCount, recorded.counted);
    for (const TransferProgress &row : rows) {
        QVERIFY(row.completedByteCount <= row.totalByteCount);
        QVERIFY(row.currentFileCompletedByteCount <= row.currentFileTotalByteCount);
    }
    // Dropped at the first save: the manifest lists each chunk of the file once.
    QCOMPARE(fixture.manifest()->completedRanges,
             ranges({{0, 999}, {1000, 1999}, {2000, 2999}, {3000, 3999}, {4000, 4009}}));
    QCOMPARE(*readFileContents(LocalFileManager(), transfer.destinationPath), fixture.raw);
}

QTEST_GUILESS_MAIN(RestoreTransferExecutorTests)
#include "RestoreTransferExecutorTests.moc"
