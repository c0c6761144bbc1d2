#include "BackendReachabilityMonitor.h"

#include <PellwickCore/Support/Error.h>

namespace Pellwick {

std::optional<BackendReachability>
BackendReachabilityMonitor::reachability(const Result<HttpResponse> &outcome)
{
    if (!outcome) {
        const auto *transport = outcome.error().as<TransportError>();
        if (transport && (isConnectionFailure(*transport) || isHostNotFound(*transport)))
            return BackendReachability::Unreachable;
        return std::nullopt;
    }
    const std::optional<int> status = outcome->statusCode;
    if (!status)
        return std::nullopt;
    if (*status >= 200 && *status <= 299)
        return BackendReachability::Reachable;
    if (*status == 502 || *status == 503 || *status == 504)
        return BackendReachability::Unreachable;
    return std::nullopt;
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
