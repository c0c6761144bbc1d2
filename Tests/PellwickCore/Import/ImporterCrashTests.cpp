#include "ImportCrashScript.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <csignal>

#include <Support/ChildProcess.h>
#include <Support/KillPoints.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestErrors.h>
#include <signal.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const QString email = u"ada@example.test"_s;

/// One kill point's world: the packages and library on disk, and a fresh backend.
struct World
{
    World()
        : backend(TestBackend::Options{{}, crashPartSize})
    {
        writeCrashFixture(dir.path());
        TestBackend::Account account;
        account.email = email;
        account.password = u"correct horse"_s;
        account.library.paidPlan.status = PaidPlanStatus::Paid;
        account.library.paidPlan.storageEntitlement = {0, qint64(1) << 40};
        backend.addAccount(account);
        token = backend.issueToken(email);
    }

    QStringList arguments(const QString &mode) const
    {
        return {mode, dir.path(), backend.baseURL().toString(), token};
    }

    /// Ends the child whose id it wrote down.
    void killChild() const
    {
        QFile pid(dir.filePath(u"child.pid"_s));
        if (pid.open(QIODevice::ReadOnly))
            ::kill(static_cast<pid_t>(pid.readAll().toLongLong()), SIGKILL);
    }

    /// Empty when every package is archived exactly once with the source's bytes, every item
    /// is verified with its sidecar facts, and every record is terminal.
    QString problem() const
    {
        const VerifiedBackupImporter importer = crashImporter(
            dir.path(), std::make_shared<LocalFileManager>(), backend.baseURL().toString());
        const Result<QList<LocalLibraryItem>> items = importer.cache().readItems();
        if (!items)
            return u"library unreadable: "_s + describe(items.error());
        const QList<CrashPackage> packages = crashPackages();
        const QList<TestBackend::LibraryItem> remote = backend.libraryItems(email);
        for (qsizetype i = 0; i < packages.size(); ++i) {
            const QString hash = referenceSha256(crashRawBytes(int(i)));
            QList<TestBackend::LibraryItem> archived;
            for (const TestBackend::LibraryItem &item : remote)
                if (item.contentHash == hash)
                    archived.append(item);
            if (archived.size() != 1 || archived.first().importStatus != u"verified_backup")
                return u"package %1 archived %2 times"_s.arg(i).arg(archived.size());
            const std::optional<QByteArray> raw = backend.assembledObject(archived.first().id);
            if (!raw || *raw != crashRawBytes(int(i)))
                return u"package %1: assembled RAW differs"_s.arg(i);
            if (packages.at(i).sidecarSize > 0
                && backend.assembledObject(archived.first().id, true) != crashSidecarBytes(int(i)))
                return u"package %1: assembled sidecar differs"_s.arg(i);
            bool found = false;
            for (const LocalLibraryItem &item : *items) {
                if (item.contentHash != hash)
                    continue;
                found = true;
                if (item.importStatus != LibraryItemImportStatus::VerifiedBackup)
                    return u"item %1 not verified"_s.arg(i);
                const std::optional<qint64> sidecarSize
                    = packages.at(i).sidecarSize > 0 ? std::optional(packages.at(i).sidecarSize)
                                                     : std::nullopt;
                if (item.archiveSidecarByteCount != sidecarSize)
                    return u"item %1 without its archive sidecar facts"_s.arg(i);
            }
            if (!found)
                return u"item %1 missing"_s.arg(i);
        }
        const Result<StagingRecoveryReport> report
            = importer.stagingArea().readRecoverableRecords();
        if (!report || !report->issues.isEmpty())
            return u"staging records unreadable"_s;
        for (const StagedImportRecord &record : report->records)
            if (record.phase != StagedImportPhase::VerifiedBackup)
                return u"a record ends in another phase"_s;
        // A folder without a record holds a copy of a photo that nothing will ever remove.
        const QString staging = crashStagingRoot(dir.path());
        for (const QString &folder : QDir(staging).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (!QFileInfo::exists(staging + u'/' + folder + u"/import-state.json"_s))
                return u"staging folder %1 left without a record"_s.arg(folder);
        return {};
    }

    QTemporaryDir dir{killTestDirectoryTemplate(u"ImporterCrashTests"_s)};
    TestBackend backend;
    QString token;
};

ChildRun runChild(const QStringList &arguments,
                  std::optional<std::chrono::microseconds> killAfter = std::nullopt,
                  qint64 *runTime = nullptr)
{
    return runChildProcess(
        QStringLiteral(PELLWICK_IMPORTER_CRASH_CHILD), arguments, killAfter, runTime);
}

/// After a kill: recovery as after a sign-in, the checks, and a second recovery doing nothing.
QString recoverAndCheck(World &world)
{
    world.backend.setRequestHook({});
    const ChildRun recovery = runChild(world.arguments(u"recover"_s));
    if (recovery.killed || recovery.exitCode != 0)
        return u"recovery failed (exit %1)"_s.arg(recovery.exitCode);
    const QString problem = world.problem();
    if (!problem.isEmpty())
        return problem;
    const qsizetype requests = world.backend.requests().size();
    const VerifiedBackupImporter importer = crashImporter(
        world.dir.path(), std::make_shared<LocalFileManager>(), world.backend.baseURL().toString());
    if (!runCrashRecovery(importer, world.token) || world.backend.requests().size() != requests)
        return u"a second recovery did something"_s;
    return {};
}

} // namespace

class ImporterCrashTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { CurlFetch::initializeGlobally(); }

    void crashMatrix();
};

void ImporterCrashTests::crashMatrix()
{
    QElapsedTimer timer;
    timer.start();
    int kills = 0;

    // How many file operations and backend requests an undisturbed import makes, and how long
    // it takes. Counted in a child, whose process starts as fresh as those that are killed.
    int operations = 0;
    int backendRequests = 0;
    qint64 runTime = 0;
    {
        World world;
        QCOMPARE(runChild(world.arguments(u"import"_s) << u"0"_s).exitCode, 0);
        operations = QString::fromLatin1(readFile(world.dir.filePath(u"operations"_s))).toInt();
        QVERIFY(operations > 0);
        backendRequests = int(world.backend.requests().size());
        QVERIFY(world.problem().isEmpty());
        World timed;
        QCOMPARE(runChild(timed.arguments(u"import"_s), std::nullopt, &runTime).exitCode, 0);
    }

    // Killed at file operations.
    for (const int operation : killPoints(operations)) {
        World world;
        const ChildRun run = runChild(world.arguments(u"import"_s) << QString::number(operation));
        QVERIFY2(run.killed, qPrintable(u"not killed at file operation %1"_s.arg(operation)));
        const QString problem = recoverAndCheck(world);
        QVERIFY2(problem.isEmpty(),
                 qPrintable(u"killed at file operation %1: %2"_s.arg(operation).arg(problem)));
        ++kills;
    }

    // Killed as the backend receives a request, before and after applying it.
    for (const int request : killPoints(backendRequests)) {
        for (const bool afterApplying : {false, true}) {
            World world;
            std::atomic<int> seen = 0;
            // Before applying, the request is dropped as the client dies; after applying, the
            // backend knows what the client never hears of.
            world.backend.setRequestHook([&](const QByteArray &, const QByteArray &, bool applied) {
                if (applied != afterApplying || ++seen != request)
                    return true;
                world.killChild();
                return applied;
            });
            runChild(world.arguments(u"import"_s));
            const QString problem = recoverAndCheck(world);
            QVERIFY2(problem.isEmpty(),
                     qPrintable(u"killed at request %1 (%2 applying): %3"_s.arg(request)
                                    .arg(afterApplying ? u"after"_s : u"before"_s)
                                    .arg(problem)));
            ++kills;
        }
    }

    // Killed at random moments.
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    for (int i = 0; i < randomKillCount(); ++i) {
        World world;
        const std::chrono::microseconds delay(random.bounded(runTime + 1));
        runChild(world.arguments(u"import"_s), delay);
        const QString problem = recoverAndCheck(world);
        QVERIFY2(
            problem.isEmpty(),
            qPrintable(
                u"seed %1, killed after %2 us: %3"_s.arg(seed).arg(delay.count()).arg(problem)));
        ++kills;
    }
    qInfo("%d kill points (%d file operations, %d backend requests) in %lld ms",
          kills,
          operations,
          backendRequests,
          static_cast<long long>(timer.elapsed()));
}

QTEST_GUILESS_MAIN(ImporterCrashTests)
#include "ImporterCrashTests.moc"
