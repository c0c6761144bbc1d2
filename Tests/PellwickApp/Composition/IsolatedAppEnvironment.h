#pragma once

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QUrl>

namespace Pellwick::Test {

/// This process's environment for running the application against `backend`, with in-memory
/// stores and every folder (its state roots, the home, settings and data folders) below `roots`,
/// so it reads and writes nothing of the user's.
inline QProcessEnvironment isolatedAppEnvironment(const QUrl &backend, const QTemporaryDir &roots)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const auto put = [&environment](const char *name, const QString &value) {
        environment.insert(QString::fromLatin1(name), value);
    };
    put("PELL_WICK_BACKEND_URL", backend.toString());
    put("PELL_WICK_USE_NON_PERSISTENT_SESSION_TOKEN_STORE", QStringLiteral("1"));
    put("PELL_WICK_USE_NON_PERSISTENT_INGEST_CACHE_LOCATION_STORE", QStringLiteral("1"));
    put("PELL_WICK_USE_NON_PERSISTENT_RESTORE_DESTINATION_STORE", QStringLiteral("1"));
    put("PELL_WICK_LOCAL_LIBRARY_CACHE_ROOT", roots.filePath(QStringLiteral("library")));
    put("PELL_WICK_INGEST_CACHE_ROOT", roots.filePath(QStringLiteral("ingest")));
    environment.remove(
        QStringLiteral("PELLWICK_INGEST_CACHE_ROOT")); // the variable's first spelling
    put("PELL_WICK_STAGING_AREA_ROOT", roots.filePath(QStringLiteral("staging")));
    put("PELL_WICK_RESTORE_TRANSFER_STATE_ROOT", roots.filePath(QStringLiteral("transfers")));
    put("HOME", roots.filePath(QStringLiteral("home")));
    put("XDG_CONFIG_HOME", roots.filePath(QStringLiteral("config")));
    put("XDG_DATA_HOME", roots.filePath(QStringLiteral("data")));
    return environment;
}

} // namespace Pellwick::Test
