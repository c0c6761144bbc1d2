#include "BackendHealthClient.h"

#include <PellwickCore/Support/Json.h>

namespace Pellwick {

BackendHealthClient::BackendHealthClient(const QUrl &baseURL, UrlFetch fetch)
    : m_healthURL(QUrl(appendingPath(baseURL, QStringLiteral("api/health"))))
    , m_fetch(std::move(fetch))
{
    Q_ASSERT_X(m_fetch, "BackendHealthClient", "a fetch function is required");
}

BackendReachability BackendHealthClient::checkHealth(std::stop_token stop) const
{
    const Result<HttpResponse> reply
        = m_fetch(m_healthURL.toString(QUrl::FullyEncoded), std::move(stop));
    if (!reply || reply->statusCode != 200)
        return BackendReachability::Unreachable;
    const Result<QJsonObject> object = Json::parseObject(reply->body);
    if (!object)
        return BackendReachability::Unreachable;
    const Result<QString> status = Json::ObjectReader(*object).string(QStringLiteral("status"));
    return status && *status == QLatin1String("ok") ? BackendReachability::Reachable
                                                    : BackendReachability::Unreachable;
}

} // namespace Pellwick
