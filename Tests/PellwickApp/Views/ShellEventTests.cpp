#include "ShellWindowFixture.h"

#include <PellwickApp/Shell/CacheNavigationPerformanceProbe.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;
using namespace Pellwick::Test;

class ShellEventTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startupRunsItsStepsInOrderOnce();
    void activationRunsItsSixStepsInOrder_data();
    void activationRunsItsSixStepsInOrder();
    void resigningStopsPollingAtOnce();
    void volumeNotices_data();
    void volumeNotices();
    void navigationProbeStartsOnlyOnLaterSwitchesToTheLibrary();
    void resigningOnTheViewModelWithoutPollingOnlyMarksInactive();
};

void ShellEventTests::startupRunsItsStepsInOrderOnce()
{
    ShellWindowFixture fixture;
    QVERIFY(fixture.recorded->calls.isEmpty()); // nothing before the window shows
    QSignalSpy finished(fixture.window.get(), &LibraryShellWindow::startupFinished);
    fixture.window->show();
    QVERIFY(finished.wait());
    const QStringList expected{QStringLiteral("checkDataFolders"),
                               QStringLiteral("refresh"),
                               QStringLiteral("checkDataFolders:done"),
                               QStringLiteral("refresh:done"),
                               QStringLiteral("restoreRememberedSession"),
                               QStringLiteral("restoreRememberedSession:done"),
                               QStringLiteral("refreshActiveRestoreRequest"),
                               QStringLiteral("refreshActiveRestoreRequest:done")};
    QCOMPARE(fixture.recorded->calls, expected);
    // Shown again: no second start-up.
    fixture.window->hide();
    fixture.window->show();
    QTest::qWait(20);
    QCOMPARE(fixture.recorded->calls, expected);
}

void ShellEventTests::activationRunsItsSixStepsInOrder_data()
{
    QTest::addColumn<bool>("signedIn");

    QTest::newRow("signed in") << true;
    QTest::newRow("signed out") << false;
}

void ShellEventTests::activationRunsItsSixStepsInOrder()
{
    QFETCH(bool, signedIn);

    ShellWindowFixture fixture;
    if (signedIn)
        fixture.viewModel().sessionState().setSession(signedInSession());
    QSignalSpy finished(fixture.window.get(), &LibraryShellWindow::activationFinished);
    fixture.window->applicationBecameActive();
    // The synchronous steps have run before the first await returns.
    QCOMPARE(fixture.recorded->calls,
             (QStringList{QStringLiteral("active:true"),
                          QStringLiteral("updateRestorePolling"),
                          QStringLiteral("scheduleUserManagedIngestCacheRefresh"),
                          QStringLiteral("refreshSourceMediaSafetyNow")}));
    QVERIFY(finished.wait());
    QCOMPARE(fixture.recorded->calls,
             (QStringList{QStringLiteral("active:true"),
                          QStringLiteral("updateRestorePolling"),
                          QStringLiteral("scheduleUserManagedIngestCacheRefresh"),
                          QStringLiteral("refreshSourceMediaSafetyNow"),
                          QStringLiteral("refreshSourceMediaSafetyNow:done"),
                          QStringLiteral("refreshVerification"),
                          QStringLiteral("refreshVerification:done"),
                          QStringLiteral("refreshActiveRestoreRequest"),
                          QStringLiteral("refreshActiveRestoreRequest:done")}));
}

void ShellEventTests::resigningStopsPollingAtOnce()
{
    ShellWindowFixture fixture;
    fixture.window->applicationResignedActive();
    QCOMPARE(fixture.recorded->calls,
             (QStringList{QStringLiteral("active:false"), QStringLiteral("cancelRestorePolling")}));
}

void ShellEventTests::volumeNotices_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<bool>("mounted");
    QTest::addColumn<std::optional<QString>>("url");
    QTest::addColumn<QStringList>("calls");

    const std::optional<QString> card(QStringLiteral("/media/card"));
    QTest::newRow("mount while signed in")
        << true << true << card << QStringList{QStringLiteral("mounted:/media/card")};
    QTest::newRow("mount without a path while signed in")
        << true << true << std::optional<QString>() << QStringList{QStringLiteral("mounted:none")};
    QTest::newRow("mount while signed out is dropped") << false << true << card << QStringList{};
    QTest::newRow("unmount while signed in")
        << true << false << card << QStringList{QStringLiteral("unmounted:/media/card")};
    QTest::newRow("unmount while signed out")
        << false << false << card << QStringList{QStringLiteral("unmounted:/media/card")};
    QTest::newRow("unmount without a path") << false << false << std::optional<QString>()
                                            << QStringList{QStringLiteral("unmounted:none")};
}

void ShellEventTests::volumeNotices()
{
    QFETCH(bool, signedIn);
    QFETCH(bool, mounted);
    QFETCH(std::optional<QString>, url);
    QFETCH(QStringList, calls);

    ShellWindowFixture fixture;
    if (signedIn)
        fixture.viewModel().sessionState().setSession(signedInSession());
    if (mounted)
        fixture.window->volumeMounted(url);
    else
        fixture.window->volumeUnmounted(url);
    QCOMPARE(fixture.recorded->calls, calls);
}

void ShellEventTests::navigationProbeStartsOnlyOnLaterSwitchesToTheLibrary()
{
    QTemporaryDir dir;
    const QString metrics = dir.filePath(QStringLiteral("metrics.txt"));
    QFile file(metrics);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("PELL_WICK_PERFORMANCE_METRICS_FILE", metrics.toLocal8Bit());
    const auto lines = [&metrics] {
        QFile read(metrics);
        return read.open(QIODevice::ReadOnly) ? read.readAll().count('\n') : -1;
    };

    // Launching on the Library page starts no measurement, nor does choosing it again.
    ShellWindowFixture library(ShellSection::LocalLibraryCache);
    library.window->setCurrentSection(ShellSection::LocalLibraryCache);
    CacheNavigationPerformanceProbe::recordUsability();
    QCOMPARE(lines(), 0);

    // Other pages start nothing.
    ShellWindowFixture overview;
    for (const ShellSection section :
         {ShellSection::Restore, ShellSection::NewImport, ShellSection::ImportReview}) {
        overview.window->setCurrentSection(section);
    }
    CacheNavigationPerformanceProbe::recordUsability();
    QCOMPARE(lines(), 0);

    // Each later switch to the Library page starts one.
    overview.window->setCurrentSection(ShellSection::LocalLibraryCache);
    CacheNavigationPerformanceProbe::recordUsability();
    QCOMPARE(lines(), 1);
    qunsetenv("PELL_WICK_PERFORMANCE_METRICS_FILE");
}

void ShellEventTests::resigningOnTheViewModelWithoutPollingOnlyMarksInactive()
{
    ShellViewModelFixture fixture;
    std::unique_ptr<LibraryShellViewModel> viewModel = fixture.make();
    RestoreWorkflows &restore = viewModel->restoreWorkflows();
    QVERIFY(restore.isApplicationActive());
    restore.setApplicationActive(false);
    restore.cancelRestorePolling();
    QVERIFY(!restore.isApplicationActive());
    QVERIFY(!restore.restorePollingTask());
    restore.setApplicationActive(true);
    QVERIFY(restore.isApplicationActive());
}

QTEST_MAIN(ShellEventTests)
#include "ShellEventTests.moc"
