#include <PellwickCore/Restore/CurlRestoreRangeFetcher.h>
#include <PellwickCore/Restore/RestoreTransferEngine.h>
#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Support/CurlTransfer.h>

#include <QDir>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>

#include <Support/RestoreTransferFakes.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <Support/TestObjectStore.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using E = RestoreTransferError;

namespace {

constexpr qint64 chunk = 8 * 1024;
constexpr int parallel = 4;
const QByteArray rawBytes = patternBytes(160 * chunk - 5, 41);
const RestoreTransferIdentifier rawID{3, 4, RestoreTransferArtifact::Raw};

/// The production engine against a loopback object store that answers every GET late.
struct Scene
{
    Scene()
    {
        store.putObject(u"IMG_0001.CR3"_s, rawBytes);
        store.setGetDelay(std::chrono::milliseconds(20));
    }

    RestoreTransfer transfer() const
    {
        return {rawID,
                u"IMG_0001.CR3"_s,
                folder.filePath(u"out/IMG_0001.CR3"_s),
                rawBytes.size(),
                SHA256ContentHasher::contentHash(rawBytes),
                url,
                expiry,
                std::nullopt};
    }

    /// Runs the transfer; `onChunk` is called on the transfer's thread after each saved chunk.
    Result<RestoreTransferManifest> run(std::function<void()> onChunk = {})
    {
        return engine->continueTransfer(
            transfer(),
            [](std::stop_token) -> Result<RestoreTransferCapability> {
                return failure(E{E::UnexpectedRangeResponse{}});
            },
            [onChunk](const TransferProgress &row) {
                if (onChunk && row.phase == TransferProgressPhase::Downloading)
                    onChunk();
            },
            QUuid::createUuid());
    }

    QList<RestoreByteRange> recorded() const
    {
        const Result<std::optional<RestoreTransferManifest>> manifest = engine->manifest(rawID);
        return manifest && *manifest ? (*manifest)->completedRanges : QList<RestoreByteRange>();
    }

    /// The ranges a run fetches first: the lowest not yet recorded.
    QList<RestoreByteRange> firstMissing() const
    {
        const QList<RestoreByteRange> done = recorded();
        QList<RestoreByteRange> missing;
        for (qint64 start = 0; start < rawBytes.size() && missing.size() < parallel;
             start += chunk) {
            const RestoreByteRange range{start,
                                         std::min(start + chunk, qint64(rawBytes.size())) - 1};
            if (!done.contains(range))
                missing.append(range);
        }
        return missing;
    }

    QTemporaryDir folder;
    TestObjectStore store;
    const Date expiry = Date::now().addingSeconds(3600);
    const QString url = store.presignedGetURL(u"IMG_0001.CR3"_s, expiry);
    std::shared_ptr<RestoreTransferEngine> engine
        = std::make_shared<RestoreTransferEngine>(folder.filePath(u"state"_s),
                                                  RestoreTransferConfiguration{chunk, parallel},
                                                  std::make_shared<CurlRestoreRangeFetcher>(),
                                                  std::make_shared<SHA256ContentHasher>(),
                                                  std::make_shared<SystemRestoreTransferClock>(),
                                                  std::make_shared<LocalFileManager>());
};

} // namespace

class RestoreTransferEngineHttpTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void pausedAndContinuedTwentyTimes();
    void cancelledDuringDownload();
};

void RestoreTransferEngineHttpTests::initTestCase()
{
    CurlTransfer::initializeGlobally();
}

void RestoreTransferEngineHttpTests::pausedAndContinuedTwentyTimes()
{
    Scene scene;
    for (int pause = 0; pause < 20; ++pause) {
        // Paused once the fetches the run started first are recorded: a range cut off by one
        // pause is among those the next run waits for, so none is fetched a third time.
        const QList<RestoreByteRange> first = scene.firstMissing();
        std::atomic<bool> paused = false;
        const Result<RestoreTransferManifest> result = scene.run([&] {
            const QList<RestoreByteRange> done = scene.recorded();
            if (!paused && std::all_of(first.begin(), first.end(), [&](const auto &range) {
                    return done.contains(range);
                })) {
                paused = true;
                scene.engine->pause(rawID);
            }
        });
        QCOMPARE(errorOf(result), Error(E{E::Paused{}}));
    }
    const qsizetype recordedBeforeLastRun = scene.recorded().size();
    QVERIFY2(recordedBeforeLastRun < 160, qPrintable(QString::number(recordedBeforeLastRun)));

    const Result<RestoreTransferManifest> finished = scene.run();
    PELLWICK_VERIFY_SUCCESS(finished);
    QVERIFY(finished->isComplete);
    QCOMPARE(readFile(scene.transfer().destinationPath), rawBytes);
    QHash<qint64, int> fetches;
    for (const RestoreByteRange &range : requestedRanges(scene.store.requests(), u"CR3"_s))
        ++fetches[range.start];
    QCOMPARE(fetches.size(), 160);
    for (auto it = fetches.cbegin(); it != fetches.cend(); ++it)
        QVERIFY2(it.value() <= 2,
                 qPrintable(u"range at %1 fetched %2 times"_s.arg(it.key()).arg(it.value())));
}

void RestoreTransferEngineHttpTests::cancelledDuringDownload()
{
    Scene scene;
    std::atomic<int> chunks = 0;
    const Result<RestoreTransferManifest> result = scene.run([&] {
        if (++chunks == 6)
            scene.engine->cancelRestoreRequest(3, {4});
    });
    QCOMPARE(errorOf(result), Error(E{E::Cancelled{}}));
    const Result<std::optional<RestoreTransferManifest>> manifest = scene.engine->manifest(rawID);
    QVERIFY(manifest && !*manifest);
    QVERIFY(!QDir(scene.folder.filePath(u"state/parts/"_s + rawID.fileStem())).exists());
    QCOMPARE(QDir(scene.folder.filePath(u"out"_s)).entryList(QDir::Files | QDir::Hidden),
             QStringList());
}

QTEST_GUILESS_MAIN(RestoreTransferEngineHttpTests)
#include "RestoreTransferEngineHttpTests.moc"
