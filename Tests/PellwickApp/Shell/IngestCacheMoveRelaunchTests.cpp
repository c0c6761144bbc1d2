#include "MoveRelaunchChild.h"

#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>

#include <QProcess>
#include <QRandomGenerator>

#include <array>

#include <Support/ChildProcess.h>
#include <Support/KillPoints.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const QString movedMessage
    = u"Ingest Cache moved and verified. Keep the old cache until cleanup is available."_s;
const QString resumeMessage
    = u"Ingest Cache migration needs attention. Resume it before changing cached files."_s;

} // namespace

class IngestCacheMoveRelaunchTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedMovesFinishAfterRelaunch();
};

void IngestCacheMoveRelaunchTests::killedMovesFinishAfterRelaunch()
{
    const QTemporaryDir scratch(killTestDirectoryTemplate(u"IngestCacheMoveRelaunchTests"_s));
    CacheMoveFixture f;
    const QString work = scratch.filePath(u"work"_s), pristine = scratch.filePath(u"pristine"_s);
    f.root = work;
    QVERIFY(QDir().mkpath(f.cacheRoot()));
    f.library = LocalLibraryCache(f.libraryRoot(), f.files);
    for (int n = 0; n < 30; ++n)
        f.addPackage(n, LibraryItemImportStatus::LocalCacheReady);
    QVERIFY(f.settingsStore()->save(f.cacheRoot()));
    const QMap<QString, QByteArray> cache = fileContents(f.cacheRoot());
    QCOMPARE(QProcess::execute(u"cp"_s, {u"-a"_s, work, pristine}), 0);
    const auto run = [&](int killAt, int killAfterWrite, std::optional<qint64> after = {}) {
        QDir(work).removeRecursively();
        if (QProcess::execute(u"cp"_s, {u"-a"_s, pristine, work}) != 0)
            qFatal("cannot reset the move's folders");
        qint64 microseconds = 0;
        const ChildRun child = runChildProcess(
            QCoreApplication::applicationFilePath(),
            {QString::fromLatin1(moveChildFlag),
             work,
             QString::number(killAt),
             QString::number(killAfterWrite)},
            after ? std::optional(std::chrono::microseconds(*after)) : std::nullopt,
            &microseconds);
        return std::pair(child, microseconds);
    };
    const auto [complete, fullRun] = run(0, -1);
    QVERIFY(!complete.killed && complete.exitCode == 0);
    const int operations = readFile(work + u"/operations"_s).toInt();
    QVERIFY(operations > 100);

    // How the relaunches found the move: resumed, finalized at launch, started again, done.
    std::array<int, 4> found{};
    const auto check = [&](const QString &label) {
        CacheMoveFixture fresh;
        relaunch(fresh, work);
        const QString moved = fresh.target();
        const bool wasPending = fresh.locationStore->pendingMigration().has_value();
        const auto model = fresh.make();
        const bool onNewRoot = model->ingestCacheWorkflows().ingestCache().rootURL() == moved;
        const std::optional<QString> launched
            = model->ingestCacheState().ingestCacheMigrationMessage();
        if (model->ingestCacheWorkflows().isIngestCacheMigrationPending()) {
            ++found[0];
            QVERIFY2(!onNewRoot && launched == resumeMessage, qPrintable(label));
            QCoro::waitFor(model->ingestCacheWorkflows().resumeIngestCacheMigration());
        } else if (!onNewRoot) {
            ++found[2];
            QVERIFY2(!wasPending, qPrintable(label));
            fresh.move(*model);
        } else {
            ++found[wasPending ? 1 : 3];
            QVERIFY2(launched == (wasPending ? std::optional(movedMessage) : std::nullopt),
                     qPrintable(label));
        }
        QVERIFY2(model->ingestCacheWorkflows().ingestCache().rootURL() == moved, qPrintable(label));
        QMap<QString, QByteArray> copied = fileContents(moved);
        copied.remove(IngestCacheMigrator::markerName());
        QVERIFY2(copied == cache && fileContents(fresh.cacheRoot()) == cache, qPrintable(label));
        const QList<LocalLibraryItem> records = storedRecords(fresh.library);
        QCOMPARE(records.size(), 30);
        for (const LocalLibraryItem &item : records) {
            for (const std::optional<QString> &url :
                 {item.ingestCacheOriginalURL, item.ingestCacheSidecarURL})
                QVERIFY2(url->startsWith(moved + u'/') && QFileInfo::exists(*url),
                         qPrintable(label));
        }
    };

    for (int write = 0; write <= 5; ++write) {
        QVERIFY(run(0, write).first.killed);
        check(u"killed after store write %1"_s.arg(write));
        if (QTest::currentTestFailed())
            return;
    }
    for (const int killAt : killPoints(operations, 60)) {
        QVERIFY(run(killAt, -1).first.killed);
        check(u"killed at operation %1"_s.arg(killAt));
        if (QTest::currentTestFailed())
            return;
    }
    QRandomGenerator random(20261208);
    for (int i = 0; i < randomKillCount(); ++i) {
        const qint64 delay = 1 + random.bounded(fullRun);
        run(0, -1, delay);
        check(u"killed after %1 us"_s.arg(delay));
        if (QTest::currentTestFailed())
            return;
    }
    qInfo("relaunches: %d resumed, %d finalized at launch, %d started again, %d found done",
          found[0],
          found[1],
          found[2],
          found[3]);
}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], moveChildFlag) == 0)
        return runMoveChild(argv);
    IngestCacheMoveRelaunchTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "IngestCacheMoveRelaunchTests.moc"
