#pragma once

#include <QString>

namespace Pellwick {

/// The path a configured folder names: a relative path, the empty one included, is taken
/// relative to the process's current directory; the text is otherwise used unchanged.
QString absoluteFilePath(const QString &text);

} // namespace Pellwick
