#include <PellwickCore/Restore/CurlRestoreRangeFetcher.h>
#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Restore/RestoreTransferExecutor.h>
#include <PellwickCore/Support/CurlTransfer.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <Support/RestoreTransferFakes.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <Support/TestObjectStore.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using E = RestoreTransferError;
using GetFault = TestObjectStore::GetFault;

namespace {

enum class Outcome {
    ConnectionLost,
    ContentHashMismatch,
    TimedOut,
    Refused,
};

} // namespace

Q_DECLARE_METATYPE(TestObjectStore::GetFault)
Q_DECLARE_METATYPE(Outcome)

namespace {

constexpr qint64 chunk = 64 * 1024;
const QByteArray rawBytes = patternBytes(5 * chunk, 21);
const QByteArray sidecarBytes = patternBytes(chunk + 100, 22);

QByteArray inverted(QByteArray bytes)
{
    for (char &byte : bytes)
        byte = static_cast<char>(~byte);
    return bytes;
}

QList<RestoreByteRange> sorted(QList<RestoreByteRange> ranges)
{
    std::sort(ranges.begin(), ranges.end(), [](const auto &a, const auto &b) {
        return a.start < b.start;
    });
    return ranges;
}

/// An executor with the production fetcher, hasher and file manager against a loopback object
/// store that serves the RAW original from a file and the sidecar from memory.
struct Scene
{
    Scene()
    {
        writeFile(folder.filePath(u"served.CR3"_s), rawBytes);
        store.putObjectFile(u"items/IMG 0001.CR3"_s, folder.filePath(u"served.CR3"_s));
        store.putObject(u"items/IMG 0001.xmp"_s, sidecarBytes);
    }

    RestoreTransferExecutor executor() const
    {
        return RestoreTransferExecutor(
            folder.filePath(u"state"_s),
            RestoreTransferConfiguration{chunk, 4},
            std::make_shared<CurlRestoreRangeFetcher>(
                CurlRestoreRangeFetcher::Options{std::chrono::milliseconds(500)}),
            std::make_shared<SHA256ContentHasher>(),
            std::make_shared<SystemRestoreTransferClock>(),
            std::make_shared<LocalFileManager>());
    }

    RestoreTransfer transfer() const
    {
        const Date expiry = Date::now().addingSeconds(3600);
        return {{7, 8, RestoreTransferArtifact::Raw},
                u"IMG_0001.CR3"_s,
                folder.filePath(u"out/IMG_0001.CR3"_s),
                rawBytes.size(),
                SHA256ContentHasher::contentHash(rawBytes),
                store.presignedGetURL(u"items/IMG 0001.CR3"_s, expiry),
                expiry,
                RestoreTransferFile{{7, 8, RestoreTransferArtifact::Sidecar},
                                    u"IMG_0001.xmp"_s,
                                    folder.filePath(u"out/IMG_0001.xmp"_s),
                                    sidecarBytes.size(),
                                    SHA256ContentHasher::contentHash(sidecarBytes),
                                    store.presignedGetURL(u"items/IMG 0001.xmp"_s, expiry),
                                    expiry}};
    }

    Result<RestoreTransferManifest> run() const
    {
        return executor().execute(
            transfer(),
            [](std::stop_token) -> Result<RestoreTransferCapability> {
                return failure(E{E::MissingSidecarCapability{}});
            },
            {},
            QUuid::createUuid());
    }

    QList<RestoreByteRange> recorded() const
    {
        const Result<std::optional<RestoreTransferManifest>> manifest
            = executor().loadManifest(transfer().id);
        return manifest && *manifest ? (*manifest)->completedRanges : QList<RestoreByteRange>();
    }

    QStringList outFolder() const
    {
        return QDir(folder.filePath(u"out"_s))
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir folder;
    TestObjectStore store;
};

bool matches(Outcome outcome, const Error &error)
{
    const TransportError *transport = error.as<TransportError>();
    switch (outcome) {
    case Outcome::ConnectionLost:
        return transport && !transport->timedOut && !transport->cancelled;
    case Outcome::ContentHashMismatch:
        return error
               == Error(
                   E{E::ContentHashMismatch{SHA256ContentHasher::contentHash(rawBytes),
                                            SHA256ContentHasher::contentHash(inverted(rawBytes))}});
    case Outcome::TimedOut:
        return transport && transport->timedOut;
    case Outcome::Refused:
        return error == Error(E{E::UnexpectedRangeResponse{}});
    }
    return false;
}

QList<RestoreByteRange> allRawRanges()
{
    QList<RestoreByteRange> ranges;
    for (qint64 start = 0; start < rawBytes.size(); start += chunk)
        ranges.append({start, start + chunk - 1});
    return ranges;
}

} // namespace

class RestoreTransferExecutorHttpTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void restoresOverRangedGets();
    void hostileReplies_data();
    void hostileReplies();
};

void RestoreTransferExecutorHttpTests::initTestCase()
{
    CurlTransfer::initializeGlobally();
}

void RestoreTransferExecutorHttpTests::restoresOverRangedGets()
{
    Scene scene;
    const Result<RestoreTransferManifest> manifest = scene.run();
    PELLWICK_VERIFY_SUCCESS(manifest);
    QVERIFY(manifest->isComplete);
    QCOMPARE(readFile(scene.transfer().destinationPath), rawBytes);
    QCOMPARE(readFile(scene.transfer().sidecar->destinationPath), sidecarBytes);
    QCOMPARE(scene.outFolder(), (QStringList{u"IMG_0001.CR3"_s, u"IMG_0001.xmp"_s}));
    QCOMPARE(sorted(requestedRanges(scene.store.requests(), u"CR3"_s)), allRawRanges());
    QCOMPARE(sorted(requestedRanges(scene.store.requests(), u"xmp"_s)),
             (QList<RestoreByteRange>{{0, chunk - 1}, {chunk, chunk + 99}}));
    // Once complete, only the manifests remain of the transfer state.
    QVERIFY(QDir(scene.folder.filePath(u"state/parts"_s)).isEmpty());

    const qsizetype requests = scene.store.requests().size();
    PELLWICK_VERIFY_SUCCESS(scene.run());
    QCOMPARE(scene.store.requests().size(), requests);
}

void RestoreTransferExecutorHttpTests::hostileReplies_data()
{
    QTest::addColumn<GetFault>("fault");
    QTest::addColumn<Outcome>("expected");
    QTest::addColumn<bool>("rangesRecorded");

    QTest::newRow("whole object for a range") << GetFault::IgnoreRange << Outcome::Refused << false;
    QTest::newRow("206 for other bytes") << GetFault::OtherRange << Outcome::Refused << false;
    QTest::newRow("206 sending more than it names")
        << GetFault::UnderAnnounced << Outcome::Refused << false;
    QTest::newRow("body cut short") << GetFault::ShortBody << Outcome::ConnectionLost << false;
    QTest::newRow("wrong bytes") << GetFault::WrongBytes << Outcome::ContentHashMismatch << true;
    QTest::newRow("stalled body") << GetFault::Stall << Outcome::TimedOut << false;
    QTest::newRow("expired") << GetFault::Expired << Outcome::Refused << false;
}

void RestoreTransferExecutorHttpTests::hostileReplies()
{
    QFETCH(GetFault, fault);
    QFETCH(Outcome, expected);
    QFETCH(bool, rangesRecorded);
    Scene scene;
    scene.store.setGetFault(fault);

    const Result<RestoreTransferManifest> result = scene.run();
    scene.store.releaseStalls();
    QVERIFY(!result);
    QVERIFY2(matches(expected, result.error()), qPrintable(describe(result.error())));
    QCOMPARE(sorted(scene.recorded()), rangesRecorded ? allRawRanges() : QList<RestoreByteRange>());
    for (const RestoreByteRange &range : scene.recorded())
        QCOMPARE(QFileInfo(scene.executor().layout().partPath(scene.transfer().id, range)).size(),
                 range.byteCount());
    QCOMPARE(scene.outFolder(), QStringList());

    // Bad bytes on disk fail the same way until they are discarded; then a sound server's
    // answers restore the file, fetching only what was not recorded.
    scene.store.setGetFault(GetFault::None);
    if (rangesRecorded) {
        QCOMPARE(errorOf(scene.run()), result.error());
        PELLWICK_VERIFY_SUCCESS(scene.executor().discardIncompleteArtifacts(scene.transfer().id));
    }
    const QList<RestoreByteRange> before = scene.recorded();
    const qsizetype requests = scene.store.requests().size();
    PELLWICK_VERIFY_SUCCESS(scene.run());
    QCOMPARE(readFile(scene.transfer().destinationPath), rawBytes);
    QList<RestoreByteRange> fetched
        = sorted(requestedRanges(scene.store.requests().mid(requests), u"CR3"_s));
    // A request the failed run had sent may reach the server only after that run returned.
    fetched.erase(std::unique(fetched.begin(), fetched.end()), fetched.end());
    for (const RestoreByteRange &range : before)
        QVERIFY(!fetched.contains(range));
    fetched.append(before);
    QCOMPARE(sorted(fetched), allRawRanges());
}

QTEST_GUILESS_MAIN(RestoreTransferExecutorHttpTests)
#include "RestoreTransferExecutorHttpTests.moc"
