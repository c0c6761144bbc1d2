#pragma once

#include <QDir>
#include <QString>

namespace Pellwick {

/// `path` made absolute and cleaned, links not resolved: mount points are compared as the mount
/// table names them.
inline QString standardizedPath(const QString &path)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path
                                                      : QDir::current().absoluteFilePath(path));
}

} // namespace Pellwick
