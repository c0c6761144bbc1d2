#include <PellwickCore/Restore/CurlRestoreRangeFetcher.h>
#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Restore/RestoreTransferExecutor.h>
#include <PellwickCore/Support/CurlTransfer.h>

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>

#include <Support/ChildProcess.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/KillPoints.h>
#include <Support/RestoreTransferFakes.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <Support/TestObjectStore.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 chunk = 16 * 1024; // as the child restores

/// A RAW original of 7 ranges and a sidecar of 2 on a loopback object store, restored by the
/// child into a folder of a temporary directory.
struct Scene
{
    Scene()
    {
        store.putObject(u"IMG_0001.CR3"_s, raw);
        store.putObject(u"IMG_0001.xmp"_s, sidecar);
    }

    QStringList arguments(std::optional<int> killAt = std::nullopt) const
    {
        const Date expiry = childExpiry;
        QStringList list{state(),
                         out(),
                         store.presignedGetURL(u"IMG_0001.CR3"_s, expiry),
                         QString::number(raw.size()),
                         referenceSha256(raw),
                         store.presignedGetURL(u"IMG_0001.xmp"_s, expiry),
                         QString::number(sidecar.size()),
                         referenceSha256(sidecar)};
        if (killAt)
            list.append(QString::number(*killAt));
        return list;
    }

    QString state() const { return dir.filePath(u"state"_s); }

    QString out() const { return dir.filePath(u"out"_s); }

    void clear() const
    {
        QDir(state()).removeRecursively();
        QDir(out()).removeRecursively();
    }

    RestoreTransfer transfer() const
    {
        // URLs of their own, so the next run's requests are told apart from a killed child's
        // that the store may still be answering.
        const Date expiry = nextRunExpiry;
        const QStringList a{{},
                            {},
                            store.presignedGetURL(u"IMG_0001.CR3"_s, expiry),
                            {},
                            referenceSha256(raw),
                            store.presignedGetURL(u"IMG_0001.xmp"_s, expiry),
                            {},
                            referenceSha256(sidecar)};
        return {{1, 2, RestoreTransferArtifact::Raw},
                u"IMG_0001.CR3"_s,
                out() + u"/IMG_0001.CR3"_s,
                raw.size(),
                a.at(4),
                a.at(2),
                expiry,
                RestoreTransferFile{{1, 2, RestoreTransferArtifact::Sidecar},
                                    u"IMG_0001.xmp"_s,
                                    out() + u"/IMG_0001.xmp"_s,
                                    sidecar.size(),
                                    a.at(7),
                                    a.at(5),
                                    expiry}};
    }

    RestoreTransferExecutor executor(std::shared_ptr<const FileManager> files
                                     = std::make_shared<LocalFileManager>()) const
    {
        return RestoreTransferExecutor(state(),
                                       RestoreTransferConfiguration{chunk, 2},
                                       std::make_shared<CurlRestoreRangeFetcher>(),
                                       std::make_shared<SHA256ContentHasher>(),
                                       std::make_shared<SystemRestoreTransferClock>(),
                                       std::move(files));
    }

    Result<RestoreTransferManifest> restore(const RestoreTransferExecutor &executor) const
    {
        return executor.execute(
            transfer(),
            [](std::stop_token) -> Result<RestoreTransferCapability> {
                return failure(
                    RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}});
            },
            {},
            QUuid::createUuid());
    }

    /// The artifacts with the path and bytes each must end with.
    QList<std::tuple<RestoreTransferIdentifier, QString, QByteArray>> artifacts() const
    {
        const RestoreTransfer planned = transfer();
        return {{planned.id, planned.destinationPath, raw},
                {planned.sidecar->id, planned.sidecar->destinationPath, sidecar}};
    }

    /// What a kill may leave: at each destination nothing or the whole right file; manifests
    /// that decode, list no range twice, and whose ranges each have a part of their length.
    /// Empty when so.
    QString problemAfterCrash() const
    {
        const RestoreTransferExecutor files = executor();
        for (const auto &[id, destination, bytes] : artifacts()) {
            if (QFileInfo::exists(destination) && readFile(destination) != bytes)
                return destination + u" holds other bytes"_s;
            const Result<std::optional<RestoreTransferManifest>> manifest = files.loadManifest(id);
            if (!manifest)
                return u"manifest unreadable: "_s + describe(manifest.error());
            if (!*manifest || (*manifest)->isComplete)
                continue;
            QSet<qint64> starts;
            for (const RestoreByteRange &range : (*manifest)->completedRanges) {
                if (starts.contains(range.start))
                    return u"range %1 listed twice"_s.arg(range.start);
                starts.insert(range.start);
                const QFileInfo part(files.layout().partPath(id, range));
                if (!part.exists() || part.size() != range.byteCount())
                    return u"part %1 missing or of the wrong length"_s.arg(range.start);
            }
        }
        return {};
    }

    /// The next run completes with the right files and fetches exactly the ranges the manifests
    /// did not record. Empty when so.
    QString problemWithNextRun() const
    {
        const RestoreTransferExecutor files = executor();
        QList<QList<RestoreByteRange>> expectedFetches;
        for (const auto &[id, destination, bytes] : artifacts()) {
            const Result<std::optional<RestoreTransferManifest>> manifest = files.loadManifest(id);
            const bool complete = manifest && *manifest && (*manifest)->isComplete;
            const QList<RestoreByteRange> recorded
                = manifest && *manifest ? (*manifest)->completedRanges : QList<RestoreByteRange>();
            QList<RestoreByteRange> missing;
            for (qint64 start = 0; start < bytes.size() && !complete; start += chunk) {
                const RestoreByteRange range{start,
                                             std::min(start + chunk, qint64(bytes.size())) - 1};
                if (!recorded.contains(range))
                    missing.append(range);
            }
            expectedFetches.append(missing);
        }
        const qsizetype requests = store.requests().size();
        const Result<RestoreTransferManifest> result = restore(files);
        if (!result)
            return u"next run failed: "_s + describe(result.error());
        for (const auto &[id, destination, bytes] : artifacts()) {
            if (readFile(destination) != bytes)
                return u"next run left wrong bytes at "_s + destination;
            const Result<std::optional<RestoreTransferManifest>> manifest = files.loadManifest(id);
            if (!manifest || !*manifest || !(*manifest)->isComplete)
                return u"next run left an unfinished manifest for "_s + destination;
            if (QFileInfo::exists(files.layout().partsPath(id)))
                return u"next run left the parts of "_s + destination;
        }
        // The restored files and nothing else: no copy, no hidden assembly file.
        if (const QStringList left = outFolder();
            left != QStringList{u"IMG_0001.CR3"_s, u"IMG_0001.xmp"_s})
            return u"next run left "_s + left.join(u", "_s);
        const QList<RecordedRequest> log = store.requests().mid(requests);
        const RestoreTransfer planned = transfer();
        const QStringList keys{planned.transferURL.mid(store.baseURL().size()),
                               planned.sidecar->transferURL.mid(store.baseURL().size())};
        for (int i = 0; i < 2; ++i) {
            QList<RestoreByteRange> fetched = requestedRanges(log, keys.at(i));
            std::sort(fetched.begin(), fetched.end(), [](const auto &a, const auto &b) {
                return a.start < b.start;
            });
            if (fetched != expectedFetches.at(i))
                return u"next run fetched %1 ranges of %2, expected %3"_s.arg(fetched.size())
                    .arg(keys.at(i))
                    .arg(expectedFetches.at(i).size());
        }
        return {};
    }

    /// Everything in the destination folder, hidden entries too, by name.
    QStringList outFolder() const
    {
        return QDir(out()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                     QDir::Name);
    }

    /// Discarding the unfinished artifacts leaves in the destination folder only whole files the
    /// killed run installed. Empty when so.
    QString problemAfterDiscard() const
    {
        const RestoreTransferExecutor files = executor();
        for (const auto &[id, destination, bytes] : artifacts()) {
            if (Result<void> discarded = files.discardIncompleteArtifacts(id); !discarded)
                return u"discard failed: "_s + describe(discarded.error());
        }
        for (const QString &name : outFolder()) {
            if (name != u"IMG_0001.CR3"_s && name != u"IMG_0001.xmp"_s)
                return u"discard left "_s + name;
        }
        return problemAfterCrash();
    }

    QTemporaryDir dir{killTestDirectoryTemplate(u"RestoreTransferCrashTests"_s)};
    TestObjectStore store;
    const Date childExpiry = Date::now().addingSeconds(3600);
    const Date nextRunExpiry = Date::now().addingSeconds(7200);
    QByteArray raw = patternBytes(6 * chunk + 1000, 31);
    QByteArray sidecar = patternBytes(chunk + 10, 32);
};

ChildRun runChild(const QStringList &arguments,
                  std::optional<std::chrono::microseconds> killAfter = std::nullopt,
                  qint64 *runTime = nullptr)
{
    return runChildProcess(
        QStringLiteral(PELLWICK_RESTORE_CRASH_CHILD), arguments, killAfter, runTime);
}

} // namespace

class RestoreTransferCrashTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void killedAtFileOperations();
    void killedAtRandomMoments();
};

void RestoreTransferCrashTests::initTestCase()
{
    CurlTransfer::initializeGlobally();
}

void RestoreTransferCrashTests::killedAtFileOperations()
{
    Scene scene;
    // How many file operations a whole restore takes, to spread the kills over all of them.
    const auto counting = std::make_shared<FaultInjectingFileManager>();
    PELLWICK_VERIFY_SUCCESS(scene.restore(scene.executor(counting)));
    const int operations = counting->operationCount();
    // One more than a whole restore takes lets the last run complete.
    const QList<int> operationsToKill = killPoints(operations) << operations + 1;

    int killed = 0;
    for (const int operation : operationsToKill) {
        scene.clear();
        const ChildRun run = runChild(scene.arguments(operation));
        if (run.killed)
            ++killed;
        else
            QCOMPARE(run.exitCode, 0);
        const QString context = u"killed at operation %1: "_s.arg(operation);
        const QString afterCrash = scene.problemAfterCrash();
        QVERIFY2(afterCrash.isEmpty(), qPrintable(context + afterCrash));
        // Every other time the user cancels before running again.
        if (operation % 2 == 1) {
            const QString afterDiscard = scene.problemAfterDiscard();
            QVERIFY2(afterDiscard.isEmpty(), qPrintable(context + afterDiscard));
        }
        const QString nextRun = scene.problemWithNextRun();
        QVERIFY2(nextRun.isEmpty(), qPrintable(context + nextRun));
    }
    qInfo("%d restores killed at one of %d file operations", killed, operations);
    // Ranges in flight at once may order the operations differently from run to run, but not
    // their number by much.
    QVERIFY2(killed * 4 >= operationsToKill.size() * 3, qPrintable(QString::number(killed)));
}

void RestoreTransferCrashTests::killedAtRandomMoments()
{
    Scene scene;
    QList<qint64> runTimes;
    for (int i = 0; i < 3; ++i) {
        scene.clear();
        qint64 runTime = 0;
        const ChildRun run = runChild(scene.arguments(), std::nullopt, &runTime);
        QVERIFY(!run.killed);
        QCOMPARE(run.exitCode, 0);
        runTimes.append(runTime);
    }
    std::sort(runTimes.begin(), runTimes.end());
    const qint64 window = runTimes.at(1);

    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    int killed = 0;
    const int randomKills = randomKillCount();
    for (int i = 0; i < randomKills; ++i) {
        scene.clear();
        const std::chrono::microseconds delay(random.bounded(window + 1));
        const ChildRun run = runChild(scene.arguments(), delay);
        killed += run.killed ? 1 : 0;
        const QString context
            = u"seed %1, run %2, killed after %3 us: "_s.arg(seed).arg(i).arg(delay.count());
        const QString afterCrash = scene.problemAfterCrash();
        QVERIFY2(afterCrash.isEmpty(), qPrintable(context + afterCrash));
        const QString nextRun = scene.problemWithNextRun();
        QVERIFY2(nextRun.isEmpty(), qPrintable(context + nextRun));
    }
    qInfo("%d of %d restores killed midway (seed %u, window %lld us)",
          killed,
          randomKills,
          seed,
          window);
}

QTEST_GUILESS_MAIN(RestoreTransferCrashTests)
#include "RestoreTransferCrashTests.moc"
