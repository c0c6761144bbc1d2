#include "CurlFetch.h"

#include "CurlTransfer_p.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>

namespace Pellwick {

namespace {

constexpr long maximumRedirects = 16;

using CurlTransfer::EasyHandle;
using CurlTransfer::HeaderList;
using CurlTransfer::transportFailure;

/// What the callbacks of one exchange fill in; lives on the calling thread's stack.
struct Exchange
{
    CurlTransfer::Watch watch;
    QByteArray body;
    HttpHeaders headers;
    bool outOfMemory = false;
};

size_t receiveBody(char *data, size_t size, size_t count, void *context)
{
    auto *exchange = static_cast<Exchange *>(context);
    const size_t length = size * count;
    try {
        exchange->body.append(data, static_cast<qsizetype>(length));
    } catch (const std::bad_alloc &) {
        exchange->outOfMemory = true;
        return 0; // makes curl stop with a write error
    }
    return length;
}

size_t receiveHeader(char *data, size_t size, size_t count, void *context)
{
    auto *exchange = static_cast<Exchange *>(context);
    const size_t length = size * count;
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(length)).trimmed();
    try {
        if (line.startsWith("HTTP/")) {
            // A new status line: a redirect or an interim reply came before; keep only the last.
            exchange->headers.clear();
        } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
            exchange->headers.append(line.left(colon).trimmed(), line.mid(colon + 1).trimmed());
        }
    } catch (const std::bad_alloc &) {
        exchange->outOfMemory = true;
        return 0;
    }
    return length;
}

int reportProgress(void *context, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent)
{
    return static_cast<Exchange *>(context)->watch.proceed(received, sent) ? 0 : 1;
}

bool isSafeHeaderText(const QByteArray &text)
{
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

Result<HeaderList> headerList(const HttpRequest &request)
{
    curl_slist *list = nullptr;
    auto add = [&list](const QByteArray &line) {
        curl_slist *extended = curl_slist_append(list, line.constData());
        if (extended)
            list = extended;
        return extended != nullptr;
    };
    bool complete = true;
    for (const auto &[name, value] : request.headers.fields()) {
        if (!isSafeHeaderText(name) || !isSafeHeaderText(value) || name.isEmpty()) {
            curl_slist_free_all(list);
            return transportFailure(CURLE_BAD_FUNCTION_ARGUMENT,
                                    false,
                                    QStringLiteral("The header field %1 cannot be sent.")
                                        .arg(QString::fromLatin1(name)));
        }
        // "Name;" is curl's way of sending a field with an empty value.
        const QByteArray line
            = value.isEmpty() ? QByteArray(name + ';') : QByteArray(name + ": " + value);
        complete = complete && add(line);
    }
    // curl would otherwise add a form Content-Type to a POST and "Expect: 100-continue" to
    // large bodies; an empty value removes a field curl adds by itself.
    if (!request.headers.contains("Content-Type"))
        complete = complete && add(QByteArrayLiteral("Content-Type:"));
    complete = complete && add(QByteArrayLiteral("Expect:"));
    HeaderList owned(list);
    if (!complete)
        return transportFailure(CURLE_OUT_OF_MEMORY, false, QStringLiteral("Out of memory."));
    return owned;
}

void setMethodAndBody(CURL *handle, const HttpRequest &request)
{
    const QByteArray method = request.effectiveMethod();
    if (request.body) {
        curl_easy_setopt(
            handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body->size()));
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body->constData());
        if (method != "POST")
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.constData());
        return;
    }
    if (method == "GET") {
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    } else if (method == "POST" || method == "PUT" || method == "PATCH") {
        // An empty body, announced with "Content-Length: 0" as servers expect for these.
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(0));
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, "");
        if (method != "POST")
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.constData());
    } else {
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.constData());
    }
}

} // namespace

void CurlFetch::initializeGlobally()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Result<HttpResponse> CurlFetch::operator()(const QString &url, std::stop_token stop) const
{
    HttpRequest request;
    request.url = url;
    request.timeoutInterval = m_options.idleLimit;
    return (*this)(request, std::move(stop));
}

Result<HttpResponse> CurlFetch::operator()(const HttpRequest &request, std::stop_token stop) const
{
    if (!isHttpUrl(request.url))
        return HttpResponse::notHttp();
    if (stop.stop_requested())
        return transportFailure(CURLE_ABORTED_BY_CALLBACK, true, QStringLiteral("Cancelled."));

    initializeGlobally();
    EasyHandle easy(curl_easy_init());
    if (!easy)
        return transportFailure(CURLE_FAILED_INIT, false, QStringLiteral("No curl handle."));
    CURL *handle = easy.get();

    Result<HeaderList> headers = headerList(request);
    if (!headers)
        return tl::unexpected<Error>(std::move(headers).error());

    const auto idleLimit = std::max(std::min(request.timeoutInterval, m_options.idleLimit),
                                    std::chrono::milliseconds(1));
    Exchange exchange;
    exchange.watch.stop = std::move(stop);
    exchange.watch.idleLimit = idleLimit;
    char errorText[CURL_ERROR_SIZE] = {};
    const QByteArray url = request.url.toUtf8();

    const long idleSeconds = static_cast<long>(
        std::max<qint64>(1, std::chrono::ceil<std::chrono::seconds>(idleLimit).count()));

    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, maximumRedirects);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idleLimit.count()));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, idleSeconds);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers->get());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &receiveBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &receiveHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &reportProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &exchange);
    setMethodAndBody(handle, request);

    const CURLcode code = curl_easy_perform(handle);
    if (code != CURLE_OK) {
        if (exchange.outOfMemory)
            return transportFailure(CURLE_OUT_OF_MEMORY, false, QStringLiteral("Out of memory."));
        return CurlTransfer::transferFailure(code, exchange.watch, errorText);
    }

    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status <= 0)
        return HttpResponse::notHttp();
    return HttpResponse::http(
        static_cast<int>(status), std::move(exchange.body), std::move(exchange.headers));
}

} // namespace Pellwick
