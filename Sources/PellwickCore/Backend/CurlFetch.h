#pragma once

#include <PellwickCore/Backend/HttpFetch.h>

#include <chrono>

namespace Pellwick {

/// The production fetch function: one `CurlTransfer` per call, on the calling thread, so calls
/// may run concurrently and successive calls from a thread reuse its connection. Only http and
/// https are fetched, also when following redirects: any other URL answers
/// `HttpResponse::notHttp()` without any I/O. The reply body is kept in memory up to
/// `Options::maximumBodySize`.
///
/// Failures are `TransportError`s (see `CurlTransfer`): `timedOut` when the idle limit passed,
/// `cancelled` when `stop` was requested, curl code 63 for a body larger than the cap.
class CurlFetch
{
public:
    struct Options
    {
        /// The longest time connecting may take or no byte may move; a request's own shorter
        /// `timeoutInterval` wins. An expired limit is noticed within about a second.
        std::chrono::milliseconds idleLimit = std::chrono::seconds(60);
        /// The longest reply body kept; a longer one fails the exchange.
        qint64 maximumBodySize = qint64(256) * 1024 * 1024;
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

    /// `CurlTransfer::initializeGlobally()`.
    static void initializeGlobally();

private:
    Options m_options;
};

} // namespace Pellwick
