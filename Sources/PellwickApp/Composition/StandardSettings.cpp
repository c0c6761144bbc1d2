#include "StandardSettings.h"

#include <PellwickApp/Composition/PellwickIdentity.h>

namespace Pellwick {

std::unique_ptr<QSettings> openStandardSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat,
                                       QSettings::UserScope,
                                       PellwickIdentity::applicationSupportDirectoryName(),
                                       PellwickIdentity::productName());
}

} // namespace Pellwick
