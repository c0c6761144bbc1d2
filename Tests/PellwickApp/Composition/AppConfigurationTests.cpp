#include <PellwickApp/Composition/AppConfiguration.h>
#include <PellwickApp/Stores/InMemoryIngestCacheLocationStore.h>
#include <PellwickApp/Stores/InMemorySessionTokenStore.h>
#include <PellwickApp/Stores/IngestCacheLocationStore.h>
#include <PellwickApp/Stores/SessionTokenStore.h>
#include <PellwickApp/Stores/StandardSettings.h>
#include <PellwickCore/Backend/BackendHealthClient.h>

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <Support/ScriptedFetch.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Qt::StringLiterals;

using Variables = QMap<QString, QString>;

class AppConfigurationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void backendURLComesFromTheFirstUsableSource_data();
    void backendURLComesFromTheFirstUsableSource();
    void healthURLOfABaseWithoutTrailingSlash();
    void unusableBackendVariableIsExplained_data();
    void unusableBackendVariableIsExplained();
    void presentRootVariablesAreUsedAsPaths_data();
    void presentRootVariablesAreUsedAsPaths();
    void defaultFoldersSitUnderTheUserFolders();
    void relativeUserFoldersAreNotTakenFromTheWorkingDirectory_data();
    void relativeUserFoldersAreNotTakenFromTheWorkingDirectory();
    void onlyExactlyOneSelectsTheInMemoryStore_data();
    void onlyExactlyOneSelectsTheInMemoryStore();
    void ingestCacheRootComesFromTheVariableThenTheSavedLocation_data();
    void ingestCacheRootComesFromTheVariableThenTheSavedLocation();
    void inMemoryLocationStoreKeepsChangesOutOfTheSettings();

private:
    AppConfiguration configuration(const Variables &variables,
                                   const QJsonObject &propertyList = {}) const;

    QString settingsPath() const { return m_dir->filePath(u"settings.ini"_s); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void AppConfigurationTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

AppConfiguration AppConfigurationTests::configuration(const Variables &variables,
                                                      const QJsonObject &propertyList) const
{
    return AppConfiguration(AppConfiguration::Sources{
        [variables] {
            QProcessEnvironment environment;
            for (auto it = variables.cbegin(); it != variables.cend(); ++it)
                environment.insert(it.key(), it.value());
            return environment;
        },
        [propertyList] { return propertyList; },
        [path = settingsPath()] { return std::make_unique<QSettings>(path, QSettings::IniFormat); },
    });
}

void AppConfigurationTests::backendURLComesFromTheFirstUsableSource_data()
{
    QTest::addColumn<Variables>("variables");
    QTest::addColumn<QJsonObject>("propertyList");
    QTest::addColumn<QString>("expected");
    const QString builtIn = AppConfiguration::builtInBackendURL();
    const QString variable = u"PELL_WICK_BACKEND_URL"_s;
    const QJsonObject listed{{u"PellwickBackendURL"_s, u"https://listed.example/api-base/"_s}};

    QTest::newRow("nothing configured") << Variables() << QJsonObject() << builtIn;
    QTest::newRow("variable") << Variables{{variable, u"http://127.0.0.1:8080/"_s}} << listed
                              << u"http://127.0.0.1:8080/"_s;
    QTest::newRow("empty variable ignores the property list")
        << Variables{{variable, QString()}} << listed << builtIn;
    QTest::newRow("unparsable variable ignores the property list")
        << Variables{{variable, u"http://exa mple.test/"_s}} << listed << builtIn;
    QTest::newRow("property list string")
        << Variables() << listed << u"https://listed.example/api-base/"_s;
    QTest::newRow("unparsable property list string")
        << Variables() << QJsonObject{{u"PellwickBackendURL"_s, u"https://[broken/"_s}} << builtIn;
    QTest::newRow("empty property list string")
        << Variables() << QJsonObject{{u"PellwickBackendURL"_s, QString()}} << builtIn;
    QTest::newRow("property list number")
        << Variables() << QJsonObject{{u"PellwickBackendURL"_s, 8080}} << builtIn;
    QTest::newRow("property list dictionary")
        << Variables()
        << QJsonObject{{u"PellwickBackendURL"_s, QJsonObject{{u"url"_s, u"https://x.example/"_s}}}}
        << builtIn;
    QTest::newRow("property list array")
        << Variables() << QJsonObject{{u"PellwickBackendURL"_s, QJsonArray{u"https://x/"_s}}}
        << builtIn;
    QTest::newRow("other variables do not count")
        << Variables{{u"PELL_WICK_BACKEND"_s, u"https://other.example/"_s}} << QJsonObject()
        << builtIn;
}

void AppConfigurationTests::backendURLComesFromTheFirstUsableSource()
{
    QFETCH(Variables, variables);
    QFETCH(QJsonObject, propertyList);
    QFETCH(QString, expected);
    QCOMPARE(configuration(variables, propertyList).backendURL().toString(), expected);
}

void AppConfigurationTests::healthURLOfABaseWithoutTrailingSlash()
{
    const AppConfiguration config
        = configuration({{u"PELL_WICK_BACKEND_URL"_s, u"https://api.example.test/v2"_s}});
    const BackendHealthClient client(config.backendURL(), Test::ScriptedFetch().urlFunction());
    QCOMPARE(client.healthURL().toString(), u"https://api.example.test/v2/api/health"_s);
    const BackendHealthClient builtIn(configuration({}).backendURL(),
                                      Test::ScriptedFetch().urlFunction());
    QCOMPARE(builtIn.healthURL().toString(),
             AppConfiguration::builtInBackendURL() + u"api/health"_s);
}

void AppConfigurationTests::unusableBackendVariableIsExplained_data()
{
    QTest::addColumn<std::optional<QString>>("value");
    QTest::addColumn<QString>("notice"); // empty: none

    const auto set = [](const QString &text) { return std::optional<QString>(text); };
    const QString notURL = u" is not a URL; using https://api.pellwick.example/ instead"_s;
    const QString noBackend = u" is not an http or https URL with a host name, such as "
                              u"http://127.0.0.1:8080/: no backend can be reached"_s;
    QTest::newRow("unset") << std::optional<QString>() << QString();
    QTest::newRow("http") << set(u"http://127.0.0.1:8080"_s) << QString();
    QTest::newRow("https, upper case") << set(u"HTTPS://api.example.test/v1/"_s) << QString();
    QTest::newRow("empty") << set(QString()) << u"PELL_WICK_BACKEND_URL \"\""_s + notURL;
    QTest::newRow("trailing space")
        << set(u"http://127.0.0.1:8080/ "_s)
        << u"PELL_WICK_BACKEND_URL \"http://127.0.0.1:8080/ \""_s + notURL;
    QTest::newRow("host and port only")
        << set(u"localhost:8080"_s) << u"PELL_WICK_BACKEND_URL \"localhost:8080\""_s + noBackend;
    QTest::newRow("no host") << set(u"https:///api"_s)
                             << u"PELL_WICK_BACKEND_URL \"https:///api\""_s + noBackend;
    QTest::newRow("file") << set(u"file:///srv/backend"_s)
                          << u"PELL_WICK_BACKEND_URL \"file:///srv/backend\""_s + noBackend;
}

void AppConfigurationTests::unusableBackendVariableIsExplained()
{
    QFETCH(std::optional<QString>, value);
    QFETCH(QString, notice);
    Variables variables;
    if (value)
        variables.insert(u"PELL_WICK_BACKEND_URL"_s, *value);
    QCOMPARE(configuration(variables).backendURLNotice().value_or(QString()), notice);
}

void AppConfigurationTests::presentRootVariablesAreUsedAsPaths_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    const QString cwd = QDir::currentPath();
    const QStringList variables{u"PELL_WICK_LOCAL_LIBRARY_CACHE_ROOT"_s,
                                u"PELLWICK_INGEST_CACHE_ROOT"_s,
                                u"PELL_WICK_STAGING_AREA_ROOT"_s,
                                u"PELL_WICK_RESTORE_TRANSFER_STATE_ROOT"_s};
    for (const QString &variable : variables) {
        QTest::addRow("%s empty", qPrintable(variable)) << variable << QString() << cwd;
        QTest::addRow("%s absolute", qPrintable(variable))
            << variable << u"/data/Photo Roots/%41"_s << u"/data/Photo Roots/%41"_s;
        QTest::addRow("%s relative", qPrintable(variable))
            << variable << u"state/roots"_s << cwd + u"/state/roots"_s;
    }
}

void AppConfigurationTests::presentRootVariablesAreUsedAsPaths()
{
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    // A location saved in the settings never overrides the variable.
    QVERIFY(
        IngestCacheLocationStore(std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat))
            .save(u"/saved/cache"_s));
    const AppConfiguration config = configuration({{variable, value}});
    const QMap<QString, QString> roots{
        {u"PELL_WICK_LOCAL_LIBRARY_CACHE_ROOT"_s, config.localLibraryCacheURL()},
        {u"PELLWICK_INGEST_CACHE_ROOT"_s, config.ingestCacheURL()},
        {u"PELL_WICK_STAGING_AREA_ROOT"_s, config.stagingAreaURL()},
        {u"PELL_WICK_RESTORE_TRANSFER_STATE_ROOT"_s, config.restoreTransferStateURL()},
    };
    QCOMPARE(roots.value(variable), expected);
    for (auto it = roots.cbegin(); it != roots.cend(); ++it) {
        if (it.key() != variable)
            QVERIFY2(it.value() != expected, qPrintable(it.key()));
    }
}

void AppConfigurationTests::defaultFoldersSitUnderTheUserFolders()
{
    const QString home = m_dir->filePath(u"home"_s);
    const QString data = m_dir->filePath(u"data"_s);
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_DATA_HOME", data.toUtf8());
    qputenv("XDG_CONFIG_HOME", m_dir->filePath(u"config"_s).toUtf8());
    const AppConfiguration config = configuration({});
    const QString support = data + u"/Pellwick/"_s;
    QCOMPARE(config.localLibraryCacheURL(), support + u"LocalLibraryCache"_s);
    QCOMPARE(config.stagingAreaURL(), support + u"StagingArea"_s);
    QCOMPARE(config.restoreTransferStateURL(), support + u"RestoreTransfers"_s);
    QCOMPARE(config.restoreDestinationDirectoryURL(), support + u"RestoredRAWOriginals"_s);
    QCOMPARE(config.ingestCacheURL(), home + u"/Pictures/Pellwick Ingest Cache"_s);
    // Reading the configuration creates nothing.
    QVERIFY(!QFileInfo::exists(data));
    QVERIFY(!QFileInfo::exists(home));
}

void AppConfigurationTests::relativeUserFoldersAreNotTakenFromTheWorkingDirectory_data()
{
    QTest::addColumn<QString>("dataHome");   // empty: unset
    QTest::addColumn<QString>("configHome"); // empty: the test's own absolute folder
    QTest::addColumn<QByteArray>("userDirs");
    QTest::addColumn<QString>("support");  // below home
    QTest::addColumn<QString>("pictures"); // below home
    QTest::addColumn<QString>("settings"); // below home; empty: not compared

    QTest::newRow("relative data folder")
        << u"state/data"_s << QString() << QByteArray() << u"/.local/share/Pellwick"_s
        << u"/Pictures"_s << QString();
    QTest::newRow("data folder with only a dot")
        << u"."_s << QString() << QByteArray() << u"/.local/share/Pellwick"_s << u"/Pictures"_s
        << QString();
    QTest::newRow("relative config folder")
        << QString() << u"state/config"_s << QByteArray() << u"/.local/share/Pellwick"_s
        << u"/Pictures"_s << u"/.config/Pellwick/Pellwick.ini"_s;
    QTest::newRow("relative pictures folder")
        << QString() << QString() << QByteArray("XDG_PICTURES_DIR=\"Bilder\"\n")
        << u"/.local/share/Pellwick"_s << u"/Pictures"_s << QString();
    QTest::newRow("pictures folder below home")
        << QString() << QString() << QByteArray("XDG_PICTURES_DIR=\"$HOME/Bilder\"\n")
        << u"/.local/share/Pellwick"_s << u"/Bilder"_s << QString();
}

void AppConfigurationTests::relativeUserFoldersAreNotTakenFromTheWorkingDirectory()
{
    QFETCH(QString, dataHome);
    QFETCH(QString, configHome);
    QFETCH(QByteArray, userDirs);
    QFETCH(QString, support);
    QFETCH(QString, pictures);
    QFETCH(QString, settings);

    const QString home = m_dir->filePath(u"home"_s);
    const QString configFolder = m_dir->filePath(u"config"_s);
    QVERIFY(QDir().mkpath(configFolder));
    if (!userDirs.isEmpty())
        Test::writeFile(configFolder + u"/user-dirs.dirs"_s, userDirs);
    qputenv("HOME", home.toUtf8());
    if (dataHome.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", dataHome.toUtf8());
    qputenv("XDG_CONFIG_HOME", (configHome.isEmpty() ? configFolder : configHome).toUtf8());

    // Started from another folder, the application must find the same library and settings.
    const AppConfiguration config = configuration({});
    QCOMPARE(config.localLibraryCacheURL(), home + support + u"/LocalLibraryCache"_s);
    QCOMPARE(config.restoreDestinationDirectoryURL(), home + support + u"/RestoredRAWOriginals"_s);
    QCOMPARE(AppConfiguration::picturesDirectory(), home + pictures);
    const QString settingsFile = openStandardSettings()->fileName();
    QVERIFY2(QDir::isAbsolutePath(settingsFile), qPrintable(settingsFile));
    if (!settings.isEmpty())
        QCOMPARE(settingsFile, home + settings);
}

void AppConfigurationTests::onlyExactlyOneSelectsTheInMemoryStore_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<std::optional<QString>>("value");
    QTest::addColumn<bool>("inMemory");
    for (const QString &variable :
         {u"PELL_WICK_USE_NON_PERSISTENT_SESSION_TOKEN_STORE"_s,
          u"PELL_WICK_USE_NON_PERSISTENT_INGEST_CACHE_LOCATION_STORE"_s}) {
        const QByteArray name = variable.toLatin1();
        QTest::addRow("%s=1", name.data()) << variable << std::optional(u"1"_s) << true;
        QTest::addRow("%s=true", name.data()) << variable << std::optional(u"true"_s) << false;
        QTest::addRow("%s=yes", name.data()) << variable << std::optional(u"yes"_s) << false;
        QTest::addRow("%s=0", name.data()) << variable << std::optional(u"0"_s) << false;
        QTest::addRow("%s=01", name.data()) << variable << std::optional(u"01"_s) << false;
        QTest::addRow("%s= 1", name.data()) << variable << std::optional(u" 1"_s) << false;
        QTest::addRow("%s empty", name.data()) << variable << std::optional(QString()) << false;
        QTest::addRow("%s absent", name.data()) << variable << std::optional<QString>() << false;
    }
}

void AppConfigurationTests::onlyExactlyOneSelectsTheInMemoryStore()
{
    QFETCH(QString, variable);
    QFETCH(std::optional<QString>, value);
    QFETCH(bool, inMemory);
    Variables variables;
    if (value)
        variables.insert(variable, *value);
    const AppConfiguration config = configuration(variables);
    if (variable.contains(u"SESSION_TOKEN"_s)) {
        const auto store = config.sessionTokenStore();
        QCOMPARE(dynamic_cast<const InMemorySessionTokenStore *>(store.get()) != nullptr, inMemory);
        QCOMPARE(dynamic_cast<const SessionTokenStore *>(store.get()) != nullptr, !inMemory);
    } else {
        const auto store = config.ingestCacheLocationStore();
        QCOMPARE(dynamic_cast<const InMemoryIngestCacheLocationStore *>(store.get()) != nullptr,
                 inMemory);
        QCOMPARE(dynamic_cast<const IngestCacheLocationStore *>(store.get()) != nullptr, !inMemory);
    }
}

void AppConfigurationTests::ingestCacheRootComesFromTheVariableThenTheSavedLocation_data()
{
    QTest::addColumn<Variables>("variables");
    QTest::addColumn<std::optional<QString>>("saved");
    QTest::addColumn<QString>("expected");
    const QString inMemory = u"PELL_WICK_USE_NON_PERSISTENT_INGEST_CACHE_LOCATION_STORE"_s;
    const QString root = u"PELLWICK_INGEST_CACHE_ROOT"_s;
    const QString defaultRoot = AppConfiguration::picturesDirectory() + u"/Pellwick Ingest Cache"_s;

    QTest::newRow("default") << Variables() << std::optional<QString>() << defaultRoot;
    QTest::newRow("saved") << Variables() << std::optional(u"/Volumes/Cache Disk"_s)
                           << u"/Volumes/Cache Disk"_s;
    QTest::newRow("saved, in-memory store selected")
        << Variables{{inMemory, u"1"_s}} << std::optional(u"/Volumes/Cache Disk"_s)
        << u"/Volumes/Cache Disk"_s;
    QTest::newRow("saved empty path") << Variables() << std::optional(QString()) << defaultRoot;
    QTest::newRow("saved relative path")
        << Variables() << std::optional(u"Ingest Cache"_s) << defaultRoot;
    QTest::newRow("variable wins over saved")
        << Variables{{root, u"/srv/ingest"_s}} << std::optional(u"/Volumes/Cache Disk"_s)
        << u"/srv/ingest"_s;
    QTest::newRow("variable with in-memory store")
        << Variables{{root, u"/srv/ingest"_s}, {inMemory, u"1"_s}} << std::optional<QString>()
        << u"/srv/ingest"_s;
    QTest::newRow("variable spelt like the others")
        << Variables{{u"PELL_WICK_INGEST_CACHE_ROOT"_s, u"/srv/ingest"_s}}
        << std::optional<QString>() << u"/srv/ingest"_s;
}

void AppConfigurationTests::ingestCacheRootComesFromTheVariableThenTheSavedLocation()
{
    QFETCH(Variables, variables);
    QFETCH(std::optional<QString>, saved);
    QFETCH(QString, expected);
    if (saved)
        QSettings(settingsPath(), QSettings::IniFormat)
            .setValue(IngestCacheLocationStore::locationKey(), *saved);
    QCOMPARE(configuration(variables).ingestCacheURL(), expected);
}

void AppConfigurationTests::inMemoryLocationStoreKeepsChangesOutOfTheSettings()
{
    QSettings(settingsPath(), QSettings::IniFormat)
        .setValue(IngestCacheLocationStore::locationKey(), u"/saved"_s);
    const AppConfiguration config
        = configuration({{u"PELL_WICK_USE_NON_PERSISTENT_INGEST_CACHE_LOCATION_STORE"_s, u"1"_s}});
    const auto store = config.ingestCacheLocationStore();
    QVERIFY(!store->hasSavedLocation());
    QVERIFY(store->save(u"/moved"_s));
    QVERIFY(store->savePendingMigration(
        IngestCacheLocationStoring::PendingMigration{u"/saved"_s, u"/moved"_s}));
    QCOMPARE(config.ingestCacheURL(), u"/saved"_s);
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    QCOMPARE(settings.allKeys(), QStringList{IngestCacheLocationStore::locationKey()});
}

QTEST_GUILESS_MAIN(AppConfigurationTests)
#include "AppConfigurationTests.moc"
