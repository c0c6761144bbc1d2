#pragma once

#include <QSettings>

#include <memory>

namespace Pellwick {

/// The application's own settings store: an INI file under the user's XDG configuration folder
/// ("Pellwick/Pellwick.ini"), ~/.config when XDG_CONFIG_HOME is not absolute. Each call opens a
/// new handle on the same file.
std::unique_ptr<QSettings> openStandardSettings();

} // namespace Pellwick
