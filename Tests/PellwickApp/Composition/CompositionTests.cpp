#include <PellwickApp/Composition/AppComposition.h>
#include <PellwickApp/Shell/ApplicationActivationMonitor.h>
#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Shell/MountMonitor.h>
#include <PellwickApp/Views/Shell/LibraryShellWindow.h>

#include <QDir>
#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Pellwick;

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

} // namespace

class CompositionTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void composesTheWindow_data();
    void composesTheWindow();
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
    AppConfiguration configuration(AppConfiguration::Sources{
        [&] {
            QProcessEnvironment environment;
            environment.insert(QStringLiteral("PELL_WICK_BACKEND_URL"),
                               QStringLiteral("http://127.0.0.1:9/"));
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
            if (ingestCacheVariable)
                environment.insert(QStringLiteral("PELLWICK_INGEST_CACHE_ROOT"), variableCache);
            return environment;
        },
        [] { return QJsonObject(); },
        [settings] { return std::make_unique<QSettings>(settings, QSettings::IniFormat); },
    });

    std::unique_ptr<LibraryShellWindow> window = AppComposition::makeWindow(configuration);
    LibraryShellViewModel &viewModel = window->viewModel();
    QCOMPARE(viewModel.ingestCache().rootURL(), ingestCacheVariable ? variableCache : savedCache);
    QCOMPARE(viewModel.parent(), window.get());
    // Nothing is fetched, read from the keychain or created before the window shows.
    QCOMPARE(viewModel.status(), LibraryShellViewModel::Status::Checking);
    QVERIFY(!viewModel.session());
    QCOMPARE(window->currentSection(), ShellSection::Overview);
    QCOMPARE(entries(home), QStringList());

    // The window hears of volumes and of the application's activation.
    auto *mounts = window->findChild<MountMonitor *>();
    QVERIFY(mounts);
    QVERIFY(mounts->isWatching());
    auto *activation = window->findChild<ApplicationActivationMonitor *>();
    QVERIFY(activation);
    Q_EMIT activation->resignedActive();
    QVERIFY(!viewModel.isApplicationActive());
    QSignalSpy activated(window.get(), &LibraryShellWindow::activationFinished);
    Q_EMIT activation->becameActive();
    QVERIFY(viewModel.isApplicationActive());
    QTRY_COMPARE(activated.count(), 1);
}

QTEST_MAIN(CompositionTests)
#include "CompositionTests.moc"
