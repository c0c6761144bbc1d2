#include "HttpFetch.h"

namespace Pellwick {

QUrl appendingPath(const QUrl &base, const QString &path)
{
    QString joined = base.path(QUrl::FullyEncoded);
    if (!joined.endsWith(QLatin1Char('/')))
        joined += QLatin1Char('/');
    joined += QString::fromLatin1(QUrl::toPercentEncoding(path, QByteArrayLiteral("/")));
    QUrl url = base;
    url.setPath(joined, QUrl::TolerantMode);
    return url;
}

} // namespace Pellwick
