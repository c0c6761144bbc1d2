#include "AbsoluteFilePath.h"

#include <QDir>

namespace Pellwick {

QString absoluteFilePath(const QString &text)
{
    if (QDir::isAbsolutePath(text))
        return text;
    if (text.isEmpty())
        return QDir::currentPath();
    return QDir::currentPath() + QLatin1Char('/') + text;
}

} // namespace Pellwick
