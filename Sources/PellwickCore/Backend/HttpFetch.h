#pragma once

#include <PellwickCore/Support/HttpHeaders.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <utility>

namespace Pellwick {

/// One HTTP request as the backend client hands it to a fetch function.
struct HttpRequest
{
    /// The exact URL text; URLs received from the backend are passed on unchanged.
    QString url;
    /// The method word; no value means GET.
    std::optional<QByteArray> method;
    HttpHeaders headers;
    /// The body; no value means the request carries none (and no "Content-Type").
    std::optional<QByteArray> body;
    /// How long the exchange may go without any bytes moving before it fails as timed out.
    std::chrono::milliseconds timeoutInterval = std::chrono::seconds(60);

    QByteArray effectiveMethod() const { return method.value_or(QByteArrayLiteral("GET")); }

    bool operator==(const HttpRequest &) const = default;
};

/// The reply to one request.
struct HttpResponse
{
    /// The HTTP status code; no value when the reply was not an HTTP response (a URL of any scheme
    /// other than http or https is never fetched and answers this way).
    std::optional<int> statusCode;
    HttpHeaders headers;
    QByteArray body;

    static HttpResponse http(int statusCode, QByteArray body = {}, HttpHeaders headers = {})
    {
        return HttpResponse{statusCode, std::move(headers), std::move(body)};
    }

    static HttpResponse notHttp() { return HttpResponse{}; }

    bool operator==(const HttpResponse &) const = default;
};

/// Performs one HTTP exchange; safe to call from any thread, also concurrently. Fails with a
/// `TransportError` (network failure, time-out, cancellation through `stop`).
using HttpFetch = std::function<Result<HttpResponse>(const HttpRequest &, std::stop_token)>;

/// Whether `error` says the connection itself failed: the idle limit passed, the connection broke
/// off or gave nothing, or it could not be made. A host that cannot be found is not among them, nor
/// is a cancellation or a reply refused on this side (one over its size limit, say).
bool isConnectionFailure(const TransportError &error);
/// Whether `error` says the host or its proxy could not be found.
bool isHostNotFound(const TransportError &error);

/// Performs a GET of a URL with the fetch function's defaults; the same contract as `HttpFetch`.
using UrlFetch = std::function<Result<HttpResponse>(const QString &url, std::stop_token)>;

/// The exact URL text of `base` with the slash-separated `path` appended: a path of `base`'s own
/// is kept in front, its query is kept, and characters that may not stand in a path are
/// percent-encoded. A "%" is kept as the escape it starts: `path` is made of literal segments
/// and of segments made by `pathSegment`.
QString appendingPath(const QUrl &base, const QString &path);

/// `text` as one path segment: every character but letters, digits and "-._~" percent-encoded
/// ("/" included), and "." and ".." written as escapes, so an identifier can reach no other path.
QString pathSegment(const QString &text);

} // namespace Pellwick
