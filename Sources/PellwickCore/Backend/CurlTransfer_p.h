#pragma once

// Pieces shared by the transfers made with libcurl: handle ownership, cancellation, the idle
// limit, and the failures a transfer ends in.

#include <PellwickCore/Support/Result.h>

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <stop_token>

namespace Pellwick::CurlTransfer {

struct EasyDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};

struct HeaderListDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

/// Watches one transfer from curl's progress callback: it must stop when `stop` is requested or
/// when no byte has moved in either direction for `idleLimit`. curl's own low-speed check
/// averages over several seconds, so a stall right after some bytes would be noticed late.
struct Watch
{
    std::stop_token stop;
    std::chrono::milliseconds idleLimit{0};
    curl_off_t bytesMoved = 0;
    std::chrono::steady_clock::time_point lastMovement = std::chrono::steady_clock::now();
    bool idleExpired = false;

    /// False when the transfer must stop (curl's progress callback then returns non-zero).
    bool proceed(curl_off_t received, curl_off_t sent)
    {
        if (stop.stop_requested())
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (received + sent != bytesMoved) {
            bytesMoved = received + sent;
            lastMovement = now;
        } else if (now - lastMovement >= idleLimit) {
            idleExpired = true;
            return false;
        }
        return true;
    }
};

inline tl::unexpected<Error> transportFailure(CURLcode code, bool cancelled, const QString &message)
{
    return failure(TransportError{
        static_cast<int>(code), cancelled, code == CURLE_OPERATION_TIMEDOUT, message});
}

/// The failure of a transfer curl ended with `code`: timed out when the idle limit passed,
/// cancelled when stopping was asked for, else curl's own code and words.
inline tl::unexpected<Error>
transferFailure(CURLcode code, const Watch &watch, const char *errorText)
{
    if (watch.idleExpired && !watch.stop.stop_requested()) {
        return transportFailure(
            CURLE_OPERATION_TIMEDOUT,
            false,
            QStringLiteral("No data moved for %1 ms.").arg(watch.idleLimit.count()));
    }
    const bool cancelled = code == CURLE_ABORTED_BY_CALLBACK && watch.stop.stop_requested();
    const QString message = errorText[0] != '\0' ? QString::fromLocal8Bit(errorText)
                                                 : QString::fromUtf8(curl_easy_strerror(code));
    return transportFailure(code, cancelled, message);
}

} // namespace Pellwick::CurlTransfer
