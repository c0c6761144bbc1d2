#pragma once

#include <PellwickCore/Backend/HttpFetch.h>

#include <QUrl>

#include <stop_token>

namespace Pellwick {

enum class BackendReachability {
    Reachable,
    Unreachable,
};

/// Answers whether the backend can be reached right now: a GET of "api/health" under the base URL
/// that must answer exactly 200 with {"status": "ok"}. Never fails; every problem (transport
/// failure, cancellation, another status, a body that does not decode) reads as `Unreachable`.
/// An immutable value, safe to call from any thread, also concurrently.
class BackendHealthClient
{
public:
    BackendHealthClient(const QUrl &baseURL, UrlFetch fetch);

    const QUrl &healthURL() const { return m_healthURL; }

    BackendReachability checkHealth(std::stop_token stop = {}) const;

private:
    QUrl m_healthURL;
    UrlFetch m_fetch;
};

} // namespace Pellwick
