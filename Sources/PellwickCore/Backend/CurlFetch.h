#pragma once

#include <PellwickCore/Backend/HttpFetch.h>

#include <chrono>

namespace Pellwick {

/// The production fetch function over libcurl. Each call uses its own easy handle on the calling
/// thread, so calls may run concurrently. Only http and https are fetched, also when following
/// redirects: any other URL answers `HttpResponse::notHttp()` without any I/O. TLS peer and host
/// are verified. The time limit is an idle limit (connecting, or no byte moving in either
/// direction), never a limit on the whole exchange, so long transfers that keep moving finish.
/// No "Expect: 100-continue" is sent, nor a "Content-Type" the request does not set.
///
/// Failures are `TransportError`s: `timedOut` when the idle limit passed, `cancelled` when `stop`
/// was requested (checked before starting and throughout the exchange).
class CurlFetch
{
public:
    struct Options
    {
        /// The longest time connecting may take or no byte may move; a request's own shorter
        /// `timeoutInterval` wins. An expired limit is noticed within about a second.
        std::chrono::milliseconds idleLimit = std::chrono::seconds(60);
    };

    CurlFetch() = default;

    explicit CurlFetch(Options options)
        : m_options(options)
    {}

    /// Performs `request` (an `HttpFetch`).
    [[nodiscard]] Result<HttpResponse> operator()(const HttpRequest &request,
                                                  std::stop_token stop) const;
    /// Performs a GET of `url` with the default limits (a `UrlFetch`).
    [[nodiscard]] Result<HttpResponse> operator()(const QString &url, std::stop_token stop) const;

    /// Initialises libcurl for the process; the first call does the work, later calls nothing.
    /// Call it once from `main` (and from each test program) before any other thread starts.
    static void initializeGlobally();

private:
    Options m_options;
};

} // namespace Pellwick
