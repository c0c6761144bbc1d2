#include "HttpFetch.h"

#include <curl/curl.h>

#include <cctype>
#include <cstring>

namespace Pellwick {

bool isConnectionFailure(const TransportError &error)
{
    if (error.cancelled)
        return false;
    if (error.timedOut)
        return true;
    switch (error.curlCode) {
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_COULDNT_CONNECT:
        return true;
    default:
        return false;
    }
}

bool isHostNotFound(const TransportError &error)
{
    return !error.cancelled
           && (error.curlCode == CURLE_COULDNT_RESOLVE_HOST
               || error.curlCode == CURLE_COULDNT_RESOLVE_PROXY);
}

QString appendingPath(const QUrl &base, const QString &path)
{
    // Built as text: a round trip of the path through QUrl would decode "%2E" to ".".
    QString url = base.toString(QUrl::FullyEncoded | QUrl::RemoveQuery | QUrl::RemoveFragment);
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    for (const char byte : path.toUtf8()) {
        const auto c = static_cast<unsigned char>(byte);
        if (std::isalnum(c) || std::strchr("-._~/%", byte) != nullptr) {
            url += QLatin1Char(byte);
        } else {
            url += QStringLiteral("%%1").arg(uint(c), 2, 16, QLatin1Char('0')).toUpper();
        }
    }
    if (base.hasQuery())
        url += QLatin1Char('?') + base.query(QUrl::FullyEncoded);
    return url;
}

QString pathSegment(const QString &text)
{
    if (text == QLatin1String("."))
        return QStringLiteral("%2E");
    if (text == QLatin1String(".."))
        return QStringLiteral("%2E%2E");
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

} // namespace Pellwick
