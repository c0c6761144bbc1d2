#include "StandardSettings.h"

#include <PellwickApp/Stores/PellwickIdentity.h>

#include <QDir>
#include <QStandardPaths>

namespace Pellwick {

std::unique_ptr<QSettings> openStandardSettings()
{
    // A relative XDG_CONFIG_HOME, which the XDG rules say to ignore, would make the settings (the
    // Ingest Cache location among them) depend on the folder the application was started from.
    if (!QDir::isAbsolutePath(
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))) {
        return std::make_unique<QSettings>(QDir::homePath() + QStringLiteral("/.config/")
                                               + PellwickIdentity::applicationSupportDirectoryName()
                                               + QLatin1Char('/') + PellwickIdentity::productName()
                                               + QStringLiteral(".ini"),
                                           QSettings::IniFormat);
    }
    return std::make_unique<QSettings>(QSettings::IniFormat,
                                       QSettings::UserScope,
                                       PellwickIdentity::applicationSupportDirectoryName(),
                                       PellwickIdentity::productName());
}

} // namespace Pellwick
