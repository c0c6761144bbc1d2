#pragma once

#include <PellwickCore/Backend/BackendHealthClient.h>
#include <PellwickCore/Backend/HttpFetch.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace Pellwick {

/// Learns from the backend client's own exchanges whether the backend can be reached, between two
/// health checks: every request made through a fetch function it observes tells it what its
/// outcome says. Thread-safe.
class BackendReachabilityMonitor final
{
public:
    using Observer = std::function<void(BackendReachability)>;

    /// What one exchange says about the backend: `Unreachable` when no reply could come (the host
    /// could not be found or reached, the connection timed out, gave nothing or broke off) or a
    /// gateway answered that it could not reach the backend (502, 503, 504); `Reachable` for a
    /// reply with a 2xx status; nothing for any other outcome (a cancellation, a reply refused
    /// here such as one over its size limit, a reply that is not HTTP, any other status).
    static std::optional<BackendReachability> reachability(const Result<HttpResponse> &outcome);
    /// Whether a failed call of the backend client could not reach the backend, by the same rule:
    /// its exchange gave no reply, or a gateway answered 502, 503 or 504. Any other failure (a
    /// refusal, a reply that could not be read) came from a backend that answered.
    static bool isUnreachable(const Error &error);

    /// `fetch`, telling `monitor` what each exchange says once it ended. The function keeps the
    /// monitor alive.
    static HttpFetch observing(std::shared_ptr<BackendReachabilityMonitor> monitor,
                               HttpFetch fetch);

    /// From now on `observer` is called with what each exchange says, on the exchange's thread;
    /// an empty one ends the calls. Returns once no call of the previous observer runs.
    void setObserver(Observer observer);

private:
    void report(BackendReachability reachability) const;

    mutable std::mutex m_mutex;
    Observer m_observer;
};

} // namespace Pellwick
