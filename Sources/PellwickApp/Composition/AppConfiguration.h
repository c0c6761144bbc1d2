#pragma once

#include <PellwickApp/Stores/IngestCacheLocationStoring.h>
#include <PellwickApp/Stores/SessionTokenStoring.h>

#include <QJsonObject>
#include <QProcessEnvironment>
#include <QSettings>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace Pellwick {

class RestoreDestinationStore;

/// The application's configuration: environment variables first, then the compiled-in property
/// list for the backend URL, then the settings and the built-in defaults under the user's data
/// and pictures folders. Every getter reads its sources afresh; nothing is cached and nothing can
/// fail. Folder roots are absolute paths; a root variable that is present is used even when
/// empty (it then names the current directory). Store switches select the in-memory store only
/// for the exact value "1".
class AppConfiguration
{
public:
    /// Where the configuration is read from.
    struct Sources
    {
        std::function<QProcessEnvironment()> environment;
        /// The application's property list (":/pellwick/Info.json").
        std::function<QJsonObject()> propertyList;
        /// The application's own settings store (see `openStandardSettings`).
        std::function<std::unique_ptr<QSettings>()> standardSettings;
    };

    /// The process environment, the compiled-in property list and the standard settings.
    static Sources processSources();

    explicit AppConfiguration(Sources sources = processSources());

    /// The backend used when nothing else is configured.
    static QString builtInBackendURL();

    QUrl backendURL() const;
    /// A line for the person who started the application when `PELL_WICK_BACKEND_URL` is set
    /// but cannot be used: it does not parse (the built-in URL is used instead) or is not an
    /// http or https URL with a host (nothing can be reached there). None otherwise.
    std::optional<QString> backendURLNotice() const;
    QString localLibraryCacheURL() const;
    /// `PELL_WICK_INGEST_CACHE_ROOT`, else `PELLWICK_INGEST_CACHE_ROOT`, else the location saved
    /// in the settings, else "Pellwick Ingest Cache" in the pictures folder.
    QString ingestCacheURL() const;
    QString stagingAreaURL() const;
    QString restoreTransferStateURL() const;
    QString restoreDestinationDirectoryURL() const;
    /// A new store: in memory, or over the desktop's Secret Service.
    std::shared_ptr<const SessionTokenStoring> sessionTokenStore() const;
    /// A new store: in memory, or over the standard settings.
    std::shared_ptr<const IngestCacheLocationStoring> ingestCacheLocationStore() const;
    /// A new store of the last restore destination: in memory, or over the standard settings.
    std::unique_ptr<RestoreDestinationStore> restoreDestinationStore() const;

    /// The folders that one running copy keeps to itself, each through a file `lockFileName()`
    /// in it: the application's data folder and the Local Library Cache's folder, which another
    /// data folder's copy may name through its variable.
    QStringList exclusiveFolders() const;
    static QString lockFileName();

    /// The folder that holds the application's state: the user's data folder (else the home
    /// folder) + "Pellwick".
    static QString applicationSupportDirectory();
    /// The user's pictures folder, else the home folder.
    static QString picturesDirectory();

private:
    QString folderRoot(const char *variable, const QString &defaultName) const;
    bool switchIsOn(const char *variable) const;

    Sources m_sources;
};

} // namespace Pellwick
