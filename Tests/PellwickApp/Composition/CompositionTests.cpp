#include <PellwickApp/Composition/AppComposition.h>
#include <PellwickApp/Shell/ApplicationActivationMonitor.h>
#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Shell/MountMonitor.h>
#include <PellwickApp/Views/Shell/LibraryShellWindow.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>
#include <PellwickApp/Workflows/Session/SessionWorkflows.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Support/FolderLocks.h>

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <Support/TestBackend/TestBackend.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// Every path below `root`, relative to it.
QStringList entries(const QString &root)
{
    QStringList found;
    QDirIterator it(root,
                    QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(QDir(root).relativeFilePath(it.next()));
    found.sort();
    return found;
}

/// A configuration over `backend` and folders below `home`, with in-memory stores; the Ingest
/// Cache root is `ingestCacheRoot` when given, else the one saved in `settings`.
AppConfiguration configurationFor(const QUrl &backend,
                                  const QString &home,
                                  const QString &settings,
                                  const std::optional<QString> &ingestCacheRoot = std::nullopt)
{
    return AppConfiguration(AppConfiguration::Sources{
        [=] {
            QProcessEnvironment environment;
            environment.insert(QStringLiteral("PELL_WICK_BACKEND_URL"), backend.toString());
            environment.insert(QStringLiteral("PELL_WICK_LOCAL_LIBRARY_CACHE_ROOT"),
                               home + QStringLiteral("/library"));
            environment.insert(QStringLiteral("PELL_WICK_STAGING_AREA_ROOT"),
                               home + QStringLiteral("/staging"));
            environment.insert(QStringLiteral("PELL_WICK_RESTORE_TRANSFER_STATE_ROOT"),
                               home + QStringLiteral("/transfers"));
            environment.insert(QStringLiteral("PELL_WICK_USE_NON_PERSISTENT_SESSION_TOKEN_STORE"),
                               QStringLiteral("1"));
            environment.insert(
                QStringLiteral("PELL_WICK_USE_NON_PERSISTENT_INGEST_CACHE_LOCATION_STORE"),
                QStringLiteral("1"));
            if (ingestCacheRoot)
                environment.insert(QStringLiteral("PELL_WICK_INGEST_CACHE_ROOT"), *ingestCacheRoot);
            return environment;
        },
        [] { return QJsonObject(); },
        [settings] { return std::make_unique<QSettings>(settings, QSettings::IniFormat); },
    });
}

/// A health reply saying "ok", padded with spaces to `size` bytes.
QByteArray paddedHealthReply(qsizetype size)
{
    QByteArray body = R"({"status":"ok"})";
    body.insert(1, QByteArray(std::max<qsizetype>(0, size - body.size()), ' '));
    return body;
}

} // namespace

class CompositionTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void composesTheWindow_data();
    void composesTheWindow();
    void healthCheckOfTheComposedGraph_data();
    void healthCheckOfTheComposedGraph();
    void commandLineIsAnsweredBeforeTheWindow_data();
    void commandLineIsAnsweredBeforeTheWindow();
};

void CompositionTests::composesTheWindow_data()
{
    QTest::addColumn<bool>("ingestCacheVariable");

    QTest::newRow("Ingest Cache from its variable") << true;
    QTest::newRow("Ingest Cache from the saved location") << false;
}

void CompositionTests::composesTheWindow()
{
    QFETCH(bool, ingestCacheVariable);

    QTemporaryDir dir;
    const QString home = dir.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(home));
    const QString settings = dir.filePath(QStringLiteral("settings.ini"));
    const QString savedCache = dir.filePath(QStringLiteral("saved-cache"));
    {
        QSettings saved(settings, QSettings::IniFormat);
        saved.setValue(QStringLiteral("ingestCacheLocationPath"), savedCache);
    }
    const QString variableCache = home + QStringLiteral("/cache");
    const AppConfiguration configuration
        = configurationFor(QUrl(QStringLiteral("http://127.0.0.1:9/")),
                           home,
                           settings,
                           ingestCacheVariable ? std::optional(variableCache) : std::nullopt);

    std::unique_ptr<LibraryShellWindow> window = AppComposition::makeWindow(configuration);
    LibraryShellViewModel &viewModel = window->viewModel();
    QCOMPARE(viewModel.ingestCacheWorkflows().ingestCache().rootURL(),
             ingestCacheVariable ? variableCache : savedCache);
    QCOMPARE(viewModel.parent(), window.get());
    // Nothing is fetched, read from the keychain or created before the window shows.
    QCOMPARE(viewModel.shellState().status(), LibraryShellViewModel::Status::Checking);
    QVERIFY(!viewModel.sessionState().session());
    QCOMPARE(window->currentSection(), ShellSection::Overview);
    QCOMPARE(entries(home), QStringList());

    // The window hears of volumes and of the application's activation.
    auto *mounts = window->findChild<MountMonitor *>();
    QVERIFY(mounts);
    QVERIFY(mounts->isWatching());
    auto *activation = window->findChild<ApplicationActivationMonitor *>();
    QVERIFY(activation);
    Q_EMIT activation->resignedActive();
    QVERIFY(!viewModel.restoreWorkflows().isApplicationActive());
    QSignalSpy activated(window.get(), &LibraryShellWindow::activationFinished);
    Q_EMIT activation->becameActive();
    QVERIFY(viewModel.restoreWorkflows().isApplicationActive());
    QTRY_COMPARE(activated.count(), 1);
}

void CompositionTests::healthCheckOfTheComposedGraph_data()
{
    QTest::addColumn<std::optional<TestBackend::Fault>>("fault");
    QTest::addColumn<LibraryShellViewModel::Status>("expected");

    using S = LibraryShellViewModel::Status;
    using F = TestBackend::Fault;
    QTest::newRow("the backend's own answer") << std::optional<F>() << S::Reachable;
    QTest::newRow("ok in 64 KiB") << std::optional(F::reply(200, paddedHealthReply(65'536)))
                                  << S::Reachable;
    // A reply this long is not the backend's: it is neither kept nor believed.
    QTest::newRow("ok in 64 KiB and a byte")
        << std::optional(F::reply(200, paddedHealthReply(65'537))) << S::Unreachable;
    QTest::newRow("ok in 8 MiB") << std::optional(F::reply(200, paddedHealthReply(8 << 20)))
                                 << S::Unreachable;
    QTest::newRow("ok in 64 KiB, closed early")
        << std::optional(F::closeConnection(200, paddedHealthReply(65'536))) << S::Unreachable;
}

void CompositionTests::healthCheckOfTheComposedGraph()
{
    QFETCH(std::optional<TestBackend::Fault>, fault);
    QFETCH(LibraryShellViewModel::Status, expected);

    TestBackend backend;
    if (fault)
        backend.injectFault("GET", "/api/health", *fault);
    QTemporaryDir dir;
    std::unique_ptr<LibraryShellViewModel> viewModel = AppComposition::makeViewModel(
        configurationFor(backend.baseURL(),
                         dir.filePath(QStringLiteral("home")),
                         dir.filePath(QStringLiteral("settings.ini")),
                         dir.filePath(QStringLiteral("cache"))));
    QCoro::waitFor(viewModel->sessionWorkflows().refresh());
    QCOMPARE(viewModel->shellState().status(), expected);
}

namespace {

struct CommandLineCase
{
    QStringList arguments = {};
    /// `QT_QPA_PLATFORM`; with none, no display is named at all.
    QString platform = {};
    /// The folder, under the home, whose lock another copy holds.
    QString heldFolder = {};
    /// `PELL_WICK_LOCAL_LIBRARY_CACHE_ROOT`, under the home.
    QString libraryFolder = {};
    /// `PELL_WICK_INGEST_CACHE_ROOT`, under the home: another copy holds that folder itself.
    QString heldIngestCache = {};
    int exitCode = 0;
    QString output = {};
    QString error = {};
};

} // namespace

Q_DECLARE_METATYPE(CommandLineCase)

void CompositionTests::commandLineIsAnsweredBeforeTheWindow_data()
{
    QTest::addColumn<CommandLineCase>("scenario");

    QTest::newRow("help") << CommandLineCase{.arguments = {u"--help"_s}, .output = u"Usage: "_s};
    QTest::newRow("help after Qt's options") << CommandLineCase{
        .arguments = {u"-platform"_s, u"xcb"_s, u"-reverse"_s, u"-h"_s}, .output = u"--version"_s};
    QTest::newRow("version") << CommandLineCase{.arguments = {u"--version"_s},
                                                .output = u"Pellwick " PELLWICK_VERSION "\n"_s};
    QTest::newRow("unknown option") << CommandLineCase{.arguments = {u"--bogus"_s},
                                                       .platform = u"offscreen"_s,
                                                       .exitCode = 2,
                                                       .error = u"Unknown option 'bogus'"_s};
    QTest::newRow("unknown option without a display") << CommandLineCase{
        .arguments = {u"--bogus"_s}, .exitCode = 2, .error = u"Unknown option 'bogus'"_s};
    QTest::newRow("stray argument") << CommandLineCase{
        .arguments = {u"IMG_0001.DNG"_s}, .exitCode = 2, .error = u"'IMG_0001.DNG'"_s};
    QTest::newRow("no display") << CommandLineCase{
        .exitCode = 1,
        .error = u"pellwick: no display found (DISPLAY and WAYLAND_DISPLAY are "
                 "unset); to run without a window, start it with "
                 "QT_QPA_PLATFORM=offscreen\n"_s};
    QTest::newRow("another copy running")
        << CommandLineCase{.platform = u"offscreen"_s,
                           .heldFolder = u".local/share/Pellwick"_s,
                           .exitCode = 1,
                           .error = u"Pellwick is already running.\n"_s};
    QTest::newRow("another copy running on the same library")
        << CommandLineCase{.platform = u"offscreen"_s,
                           .heldFolder = u"Library"_s,
                           .libraryFolder = u"Library"_s,
                           .exitCode = 1,
                           .error = u"Pellwick is already running.\n"_s};
    QTest::newRow("another copy, with another library, running on the same Ingest Cache")
        << CommandLineCase{.platform = u"offscreen"_s,
                           .heldIngestCache = u"Shared Cache"_s,
                           .exitCode = 1,
                           .error = u"Pellwick is already running. Another copy uses the Ingest "
                                    u"Cache folder <home>/Shared Cache.\n"_s};
}

/// The application itself, in a home of its own where it writes nothing.
void CompositionTests::commandLineIsAnsweredBeforeTheWindow()
{
    QFETCH(CommandLineCase, scenario);

    QTemporaryDir home;
    FolderLocks otherCopy;
    if (!scenario.heldFolder.isEmpty()) {
        const Result<bool> held
            = otherCopy.take(home.filePath(scenario.heldFolder), AppConfiguration::lockFileName());
        QVERIFY(held && *held);
    }
    if (!scenario.heldIngestCache.isEmpty()) {
        QVERIFY(QDir().mkpath(home.filePath(scenario.heldIngestCache)));
        const Result<bool> held = otherCopy.takeFolder(home.filePath(scenario.heldIngestCache));
        QVERIFY(held && *held);
    }
    scenario.error.replace(u"<home>"_s, home.path());
    const QStringList before = entries(home.path());
    QProcessEnvironment environment;
    environment.insert(u"PATH"_s, qEnvironmentVariable("PATH"));
    environment.insert(u"HOME"_s, home.path());
    if (!scenario.platform.isEmpty())
        environment.insert(u"QT_QPA_PLATFORM"_s, scenario.platform);
    if (!scenario.libraryFolder.isEmpty()) {
        environment.insert(u"PELL_WICK_LOCAL_LIBRARY_CACHE_ROOT"_s,
                           home.filePath(scenario.libraryFolder));
    }
    if (!scenario.heldIngestCache.isEmpty())
        environment.insert(u"PELL_WICK_INGEST_CACHE_ROOT"_s,
                           home.filePath(scenario.heldIngestCache));
    QProcess app;
    app.setProcessEnvironment(environment);
    app.start(QStringLiteral(PELLWICK_APP_PATH), scenario.arguments);
    QVERIFY(app.waitForFinished(20'000));
    const QString shownOutput = QString::fromLocal8Bit(app.readAllStandardOutput());
    const QString shownError = QString::fromLocal8Bit(app.readAllStandardError());
    QVERIFY2(app.exitStatus() == QProcess::NormalExit && app.exitCode() == scenario.exitCode,
             qPrintable(shownError));
    QVERIFY2(scenario.output.isEmpty() ? shownOutput.isEmpty()
                                       : shownOutput.contains(scenario.output),
             qPrintable(shownOutput));
    // A command line the program cannot follow is answered with the usage.
    QVERIFY2(scenario.error.isEmpty()
                 ? shownError.isEmpty()
                 : shownError.contains(scenario.error)
                       && shownError.contains(u"Usage:"_s) == (scenario.exitCode == 2),
             qPrintable(shownError));
    QCOMPARE(entries(home.path()), before);
}

QTEST_MAIN(CompositionTests)
#include "CompositionTests.moc"
