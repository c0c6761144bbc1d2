#include "CacheRelativePath.h"

#include <QDir>

namespace Pellwick {

std::optional<QString> CacheRelativePath::value(const std::optional<QString> &file,
                                                const QString &root)
{
    if (!file || root.isEmpty())
        return std::nullopt;
    const QString filePath = QDir::cleanPath(*file);
    QString prefix = QDir::cleanPath(root);
    if (!prefix.endsWith(QLatin1Char('/')))
        prefix += QLatin1Char('/');
    if (filePath.size() <= prefix.size() || !filePath.startsWith(prefix))
        return std::nullopt;
    return filePath.mid(prefix.size());
}

} // namespace Pellwick
