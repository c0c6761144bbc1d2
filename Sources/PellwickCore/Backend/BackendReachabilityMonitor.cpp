#include "BackendReachabilityMonitor.h"

#include <PellwickCore/Backend/LibrarySessionClientError.h>
#include <PellwickCore/Support/Error.h>

namespace Pellwick {

namespace {

bool isNoReply(const TransportError &error)
{
    return isConnectionFailure(error) || isHostNotFound(error);
}

bool isGatewayFailure(int statusCode)
{
    return statusCode == 502 || statusCode == 503 || statusCode == 504;
}

} // namespace

std::optional<BackendReachability>
BackendReachabilityMonitor::reachability(const Result<HttpResponse> &outcome)
{
    if (!outcome) {
        const auto *transport = outcome.error().as<TransportError>();
        if (transport && isNoReply(*transport))
            return BackendReachability::Unreachable;
        return std::nullopt;
    }
    const std::optional<int> status = outcome->statusCode;
    if (!status)
        return std::nullopt;
    if (*status >= 200 && *status <= 299)
        return BackendReachability::Reachable;
    if (isGatewayFailure(*status))
        return BackendReachability::Unreachable;
    return std::nullopt;
}

bool BackendReachabilityMonitor::isUnreachable(const Error &error)
{
    if (const auto *transport = error.as<TransportError>())
        return isNoReply(*transport);
    const auto *client = error.as<LibrarySessionClientError>();
    const std::optional<int> code = client ? client->unexpectedStatusCode() : std::nullopt;
    return code && isGatewayFailure(*code);
}

HttpFetch BackendReachabilityMonitor::observing(std::shared_ptr<BackendReachabilityMonitor> monitor,
                                                HttpFetch fetch)
{
    Q_ASSERT_X(monitor && fetch, "BackendReachabilityMonitor", "a monitor and a fetch function");
    return [monitor = std::move(monitor), fetch = std::move(fetch)](const HttpRequest &request,
                                                                    std::stop_token stop) {
        Result<HttpResponse> outcome = fetch(request, std::move(stop));
        if (const std::optional<BackendReachability> said = reachability(outcome))
            monitor->report(*said);
        return outcome;
    };
}

void BackendReachabilityMonitor::setObserver(Observer observer)
{
    const std::scoped_lock lock(m_mutex);
    m_observer = std::move(observer);
}

void BackendReachabilityMonitor::report(BackendReachability reachability) const
{
    const std::scoped_lock lock(m_mutex);
    if (m_observer)
        m_observer(reachability);
}

} // namespace Pellwick
