#include "AppConfiguration.h"

#include <PellwickApp/Composition/AbsoluteFilePath.h>
#include <PellwickApp/Stores/InMemoryIngestCacheLocationStore.h>
#include <PellwickApp/Stores/InMemorySessionTokenStore.h>
#include <PellwickApp/Stores/IngestCacheLocationStore.h>
#include <PellwickApp/Stores/PellwickIdentity.h>
#include <PellwickApp/Stores/RestoreDestinationStore.h>
#include <PellwickApp/Stores/SessionTokenStore.h>
#include <PellwickApp/Stores/StandardSettings.h>
#include <PellwickCore/Support/Json.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace Pellwick {

namespace {

QJsonObject readCompiledPropertyList()
{
    QFile file(QStringLiteral(":/pellwick/Info.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return Json::parseObject(file.readAll()).value_or(QJsonObject());
}

/// The user's folder for `location`, else the home folder. A relative folder (an XDG variable or
/// a user-dirs entry that is not absolute, which the XDG rules say to ignore) would move the
/// library and the Ingest Cache with the folder the application was started from: the folder
/// below home that applies without it, `defaultBelowHome`, is used instead.
QString standardLocation(QStandardPaths::StandardLocation location, const QString &defaultBelowHome)
{
    QString path = QStandardPaths::writableLocation(location);
    if (path.isEmpty())
        return QDir::homePath();
    if (!QDir::isAbsolutePath(path))
        return QDir::homePath() + defaultBelowHome;
    return path;
}

/// A URL for a backend base: one that parses strictly and is not empty.
std::optional<QUrl> parsedURL(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid())
        return std::nullopt;
    return url;
}

} // namespace

AppConfiguration::Sources AppConfiguration::processSources()
{
    return Sources{
        [] { return QProcessEnvironment::systemEnvironment(); },
        readCompiledPropertyList,
        openStandardSettings,
    };
}

AppConfiguration::AppConfiguration(Sources sources)
    : m_sources(std::move(sources))
{}

QString AppConfiguration::builtInBackendURL()
{
    return QStringLiteral("https://api.pellwick.example/");
}

QUrl AppConfiguration::backendURL() const
{
    const QProcessEnvironment environment = m_sources.environment();
    QString candidate = builtInBackendURL();
    if (environment.contains(QStringLiteral("PELL_WICK_BACKEND_URL"))) {
        candidate = environment.value(QStringLiteral("PELL_WICK_BACKEND_URL"));
    } else {
        const QJsonValue listed
            = m_sources.propertyList().value(QStringLiteral("PellwickBackendURL"));
        if (listed.isString())
            candidate = listed.toString();
    }
    // An unusable candidate falls back to the built-in URL, never to the property list.
    return parsedURL(candidate).value_or(QUrl(builtInBackendURL(), QUrl::StrictMode));
}

std::optional<QString> AppConfiguration::backendURLNotice() const
{
    const QString variable = QStringLiteral("PELL_WICK_BACKEND_URL");
    const QProcessEnvironment environment = m_sources.environment();
    if (!environment.contains(variable))
        return std::nullopt;
    const QString value = environment.value(variable);
    const std::optional<QUrl> url = parsedURL(value);
    if (!url) {
        return QStringLiteral("%1 \"%2\" is not a URL; using %3 instead")
            .arg(variable, value, builtInBackendURL());
    }
    const QString scheme = url->scheme().toLower();
    if ((scheme != u"http" && scheme != u"https") || url->host().isEmpty()) {
        return QStringLiteral("%1 \"%2\" is not an http or https URL with a host name, such as "
                              "http://127.0.0.1:8080/: no backend can be reached")
            .arg(variable, value);
    }
    return std::nullopt;
}

QString AppConfiguration::localLibraryCacheURL() const
{
    return folderRoot("PELL_WICK_LOCAL_LIBRARY_CACHE_ROOT", QStringLiteral("LocalLibraryCache"));
}

QString AppConfiguration::ingestCacheURL() const
{
    const QProcessEnvironment environment = m_sources.environment();
    // Spelt like the other folder variables; the first spelling is still read.
    for (const QString &variable : {QStringLiteral("PELL_WICK_INGEST_CACHE_ROOT"),
                                    QStringLiteral("PELLWICK_INGEST_CACHE_ROOT")}) {
        if (environment.contains(variable))
            return absoluteFilePath(environment.value(variable));
    }
    // Always the persistent location, whichever store the application runs with.
    const IngestCacheLocationStore store(m_sources.standardSettings());
    return store.load(picturesDirectory() + QStringLiteral("/Pellwick Ingest Cache"));
}

QString AppConfiguration::stagingAreaURL() const
{
    return folderRoot("PELL_WICK_STAGING_AREA_ROOT", QStringLiteral("StagingArea"));
}

QString AppConfiguration::restoreTransferStateURL() const
{
    return folderRoot("PELL_WICK_RESTORE_TRANSFER_STATE_ROOT", QStringLiteral("RestoreTransfers"));
}

QString AppConfiguration::restoreDestinationDirectoryURL() const
{
    return applicationSupportDirectory() + QStringLiteral("/RestoredRAWOriginals");
}

std::shared_ptr<const SessionTokenStoring> AppConfiguration::sessionTokenStore() const
{
    if (switchIsOn("PELL_WICK_USE_NON_PERSISTENT_SESSION_TOKEN_STORE"))
        return std::make_shared<InMemorySessionTokenStore>();
    return std::make_shared<SessionTokenStore>();
}

std::shared_ptr<const IngestCacheLocationStoring> AppConfiguration::ingestCacheLocationStore() const
{
    if (switchIsOn("PELL_WICK_USE_NON_PERSISTENT_INGEST_CACHE_LOCATION_STORE"))
        return std::make_shared<InMemoryIngestCacheLocationStore>();
    return std::make_shared<IngestCacheLocationStore>(m_sources.standardSettings());
}

std::unique_ptr<RestoreDestinationStore> AppConfiguration::restoreDestinationStore() const
{
    return RestoreDestinationStore::forApplicationProcess(m_sources.environment(),
                                                          m_sources.standardSettings);
}

QStringList AppConfiguration::exclusiveFolders() const
{
    return {applicationSupportDirectory(), localLibraryCacheURL()};
}

QString AppConfiguration::lockFileName()
{
    return QStringLiteral("pellwick.lock");
}

QString AppConfiguration::applicationSupportDirectory()
{
    return standardLocation(QStandardPaths::GenericDataLocation, QStringLiteral("/.local/share"))
           + QLatin1Char('/') + PellwickIdentity::applicationSupportDirectoryName();
}

QString AppConfiguration::picturesDirectory()
{
    return standardLocation(QStandardPaths::PicturesLocation, QStringLiteral("/Pictures"));
}

QString AppConfiguration::folderRoot(const char *variable, const QString &defaultName) const
{
    const QProcessEnvironment environment = m_sources.environment();
    const QString name = QString::fromLatin1(variable);
    if (environment.contains(name))
        return absoluteFilePath(environment.value(name));
    return applicationSupportDirectory() + QLatin1Char('/') + defaultName;
}

bool AppConfiguration::switchIsOn(const char *variable) const
{
    return m_sources.environment().value(QString::fromLatin1(variable)) == QLatin1String("1");
}

} // namespace Pellwick
