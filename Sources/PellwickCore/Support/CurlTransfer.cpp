#include "CurlTransfer.h"

#include <PellwickCore/Support/FileManager.h>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace Pellwick {

namespace {

constexpr long maximumFollowedRedirects = 16;
constexpr qint64 failureBodyCap = qint64(64) * 1024;

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

tl::unexpected<Error> transportFailure(CURLcode code, bool cancelled, const QString &message)
{
    return failure(TransportError{
        static_cast<int>(code), cancelled, code == CURLE_OPERATION_TIMEDOUT, message});
}

/// The easy handle each thread keeps between its transfers, so its connections stay open.
struct ThreadHandle
{
    EasyHandle handle;
    bool busy = false;
};

thread_local ThreadHandle threadHandle;

/// The calling thread's own handle for the time of one transfer, or a fresh one when a transfer
/// already runs on this thread (one started from inside another's callback).
class HandleLease
{
public:
    HandleLease()
    {
        if (threadHandle.busy) {
            m_ownHandle.reset(curl_easy_init());
            m_handle = m_ownHandle.get();
            return;
        }
        if (!threadHandle.handle)
            threadHandle.handle.reset(curl_easy_init());
        m_handle = threadHandle.handle.get();
        threadHandle.busy = m_handle != nullptr;
    }

    ~HandleLease()
    {
        if (m_handle && !m_ownHandle) {
            // Forgets every option pointing into the finished transfer; connections stay.
            curl_easy_reset(m_handle);
            threadHandle.busy = false;
        }
    }

    HandleLease(const HandleLease &) = delete;
    HandleLease &operator=(const HandleLease &) = delete;

    CURL *handle() const { return m_handle; }

private:
    EasyHandle m_ownHandle;
    CURL *m_handle = nullptr;
};

/// What the callbacks of one request fill in; lives on the calling thread's stack.
struct Exchange
{
    explicit Exchange(const CurlTransfer::Request &transfer, CURL *easy, std::stop_token token)
        : request(transfer)
        , handle(easy)
        , stop(std::move(token))
    {}

    const CurlTransfer::Request &request;
    CURL *handle;
    std::stop_token stop;

    // The idle watch: curl's own low-speed check averages over several seconds, so a stall
    // right after some bytes would be noticed late.
    curl_off_t bytesMoved = 0;
    std::chrono::steady_clock::time_point lastMovement = std::chrono::steady_clock::now();
    bool idleExpired = false;

    qint64 nextSourceByte = 0;
    qint64 reportedSent = -1;
    qint64 reportedReceived = -1;
    std::optional<bool> writesFile; ///< decided by the first body byte of a file sink
    CurlTransfer::Reply reply;
    std::optional<Error> failure; ///< of the source's or the sink's file
    bool overflow = false;
    /// The body reached the cap of a sink that ends there; the transfer stopped on purpose.
    bool endedAtCap = false;

    /// Keeps `kept` more bytes and makes curl stop (with a write error) without failing.
    size_t endAtCap(qint64 kept)
    {
        reply.bodyLength += kept;
        endedAtCap = true;
        return 0;
    }

    bool outOfMemory = false;

    // curl sends a request again on a fresh connection, unasked, when a kept one closes before
    // the first byte of the answer. The server may well have carried it out.
    bool requestSent = false;
    bool replyStarted = false;
    /// That second send was refused: the transfer ends as the closed connection would have.
    bool refusedResend = false;

    /// False when the transfer must stop: stopping was asked for, or the idle limit passed.
    bool proceed(curl_off_t received, curl_off_t sent)
    {
        if (stop.stop_requested())
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (received + sent != bytesMoved) {
            bytesMoved = received + sent;
            lastMovement = now;
        } else if (now - lastMovement >= request.idleLimit) {
            idleExpired = true;
            return false;
        }
        report(static_cast<qint64>(sent), static_cast<qint64>(received));
        return true;
    }

    void report(qint64 sent, qint64 received)
    {
        if (sent == reportedSent && received == reportedReceived)
            return;
        reportedSent = sent;
        reportedReceived = received;
        if (request.progress)
            request.progress(sent, received);
    }
};

size_t readBody(char *buffer, size_t size, size_t count, void *context)
{
    auto *exchange = static_cast<Exchange *>(context);
    const CurlTransfer::Source &source = exchange->request.body;
    const qint64 wanted = std::min(static_cast<qint64>(size) * static_cast<qint64>(count),
                                   source.length() - exchange->nextSourceByte);
    if (wanted <= 0)
        return 0;
    if (source.kind == CurlTransfer::Source::Kind::Memory) {
        std::memcpy(buffer,
                    source.bytes.constData() + exchange->nextSourceByte,
                    static_cast<size_t>(wanted));
        exchange->nextSourceByte += wanted;
        return static_cast<size_t>(wanted);
    }
    Result<qint64> n
        = source.file->readAt(buffer, wanted, source.range.lowerBound + exchange->nextSourceByte);
    if (!n) {
        exchange->failure = std::move(n).error();
        return CURL_READFUNC_ABORT;
    }
    if (*n == 0) {
        // The file became shorter than the range while it was being sent.
        exchange->failure = source.endedEarly;
        return CURL_READFUNC_ABORT;
    }
    exchange->nextSourceByte += *n;
    return static_cast<size_t>(*n);
}

/// Lets curl send the body again from an offset, e.g. on a fresh connection.
int seekBody(void *context, curl_off_t offset, int origin)
{
    auto *exchange = static_cast<Exchange *>(context);
    if (origin != SEEK_SET || offset < 0 || offset > exchange->request.body.length())
        return CURL_SEEKFUNC_CANTSEEK;
    exchange->nextSourceByte = offset;
    return CURL_SEEKFUNC_OK;
}

bool isSuccessStatus(long status)
{
    return status >= 200 && status <= 299;
}

size_t receiveBody(char *data, size_t size, size_t count, void *context)
{
    auto *exchange = static_cast<Exchange *>(context);
    const CurlTransfer::Sink &sink = exchange->request.sink;
    const qint64 length = static_cast<qint64>(size) * static_cast<qint64>(count);
    CurlTransfer::Reply &reply = exchange->reply;
    try {
        switch (sink.kind) {
        case CurlTransfer::Sink::Kind::Discard:
            break;
        case CurlTransfer::Sink::Kind::Memory:
            if (reply.bodyLength + length > sink.cap) {
                if (sink.endsAtCap) {
                    const qint64 kept = std::max<qint64>(sink.cap - reply.bodyLength, 0);
                    reply.body.append(data, kept);
                    return exchange->endAtCap(kept);
                }
                exchange->overflow = true;
                return 0; // makes curl stop with a write error
            }
            reply.body.append(data, length);
            break;
        case CurlTransfer::Sink::Kind::File:
            if (!exchange->writesFile) {
                long status = 0;
                curl_easy_getinfo(exchange->handle, CURLINFO_RESPONSE_CODE, &status);
                exchange->writesFile = isSuccessStatus(status);
                if (*exchange->writesFile) {
                    if (Result<void> sought = sink.file->seek(sink.offset); !sought) {
                        exchange->failure = std::move(sought).error();
                        return 0;
                    }
                }
            }
            if (!*exchange->writesFile) {
                // A refusal's status is known: what is kept of its body names the cause, and
                // the rest is not received (a server could send it without end).
                const qint64 kept
                    = std::clamp<qint64>(failureBodyCap - reply.body.size(), 0, length);
                reply.body.append(data, kept);
                if (kept < length)
                    return exchange->endAtCap(kept);
                break;
            }
            if (reply.bodyLength + length > sink.cap) {
                if (sink.endsAtCap) {
                    const qint64 kept = std::max<qint64>(sink.cap - reply.bodyLength, 0);
                    if (Result<void> written = sink.file->write(data, kept); !written) {
                        exchange->failure = std::move(written).error();
                        return 0;
                    }
                    return exchange->endAtCap(kept);
                }
                exchange->overflow = true;
                return 0;
            }
            if (Result<void> written = sink.file->write(data, length); !written) {
                exchange->failure = std::move(written).error();
                return 0;
            }
            break;
        }
    } catch (const std::bad_alloc &) {
        exchange->outOfMemory = true;
        return 0;
    }
    reply.bodyLength += length;
    return static_cast<size_t>(length);
}

size_t receiveHeader(char *data, size_t size, size_t count, void *context)
{
    auto *exchange = static_cast<Exchange *>(context);
    const size_t length = size * count;
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(length)).trimmed();
    try {
        exchange->replyStarted = true;
        if (line.startsWith("HTTP/")) {
            // A new status line: a redirect or an interim reply came before; keep only the last.
            exchange->reply.headers.clear();
        } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
            exchange->reply.headers.append(line.left(colon).trimmed(),
                                           line.mid(colon + 1).trimmed());
        }
    } catch (const std::bad_alloc &) {
        exchange->outOfMemory = true;
        return 0;
    }
    return length;
}

/// Lets a request go out once: a second start without any answer to the first is curl's own
/// retry, which a request that changes something on the server must not get (the transfer then
/// fails). A followed redirect comes after an answer and goes out.
int startRequestOnce(void *context, char *, char *, int, int)
{
    auto *exchange = static_cast<Exchange *>(context);
    if (exchange->requestSent && !exchange->replyStarted) {
        exchange->refusedResend = true;
        return CURL_PREREQFUNC_ABORT;
    }
    exchange->requestSent = true;
    exchange->replyStarted = false;
    return CURL_PREREQFUNC_OK;
}

/// GET and HEAD change nothing, and a PUT to a presigned URL writes the same object again: these
/// may be sent twice.
bool mayBeRepeated(const QByteArray &method)
{
    return method == "GET" || method == "HEAD" || method == "PUT";
}

int reportProgress(void *context, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent)
{
    return static_cast<Exchange *>(context)->proceed(received, sent) ? 0 : 1;
}

bool isSafeHeaderText(const QByteArray &text)
{
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

Result<HeaderList> headerList(const CurlTransfer::Request &request)
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

void setMethodAndBody(CURL *handle, const CurlTransfer::Request &request, Exchange &exchange)
{
    const QByteArray &method = request.method;
    if (request.body.kind != CurlTransfer::Source::Kind::None) {
        const auto length = static_cast<curl_off_t>(request.body.length());
        if (method == "PUT") {
            curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE, length);
        } else {
            curl_easy_setopt(handle, CURLOPT_POST, 1L);
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, length);
            if (method != "POST")
                curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.constData());
        }
        curl_easy_setopt(handle, CURLOPT_READFUNCTION, &readBody);
        curl_easy_setopt(handle, CURLOPT_READDATA, &exchange);
        curl_easy_setopt(handle, CURLOPT_SEEKFUNCTION, &seekBody);
        curl_easy_setopt(handle, CURLOPT_SEEKDATA, &exchange);
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

/// The failure of a transfer curl ended with `code`.
tl::unexpected<Error>
transferFailure(CURLcode code, const Exchange &exchange, const char *errorText)
{
    if (exchange.failure)
        return tl::unexpected<Error>(*exchange.failure);
    if (exchange.outOfMemory)
        return transportFailure(CURLE_OUT_OF_MEMORY, false, QStringLiteral("Out of memory."));
    if (exchange.overflow) {
        return transportFailure(CURLE_FILESIZE_EXCEEDED,
                                false,
                                QStringLiteral("The reply body is longer than %1 bytes.")
                                    .arg(exchange.request.sink.cap));
    }
    if (exchange.idleExpired && !exchange.stop.stop_requested()) {
        return transportFailure(
            CURLE_OPERATION_TIMEDOUT,
            false,
            QStringLiteral("No data moved for %1 ms.").arg(exchange.request.idleLimit.count()));
    }
    const bool cancelled = code == CURLE_ABORTED_BY_CALLBACK && exchange.stop.stop_requested();
    if (code == CURLE_ABORTED_BY_CALLBACK && !cancelled && exchange.refusedResend) {
        return transportFailure(
            CURLE_GOT_NOTHING,
            false,
            QStringLiteral(
                "The connection closed before any reply; the request is not sent again."));
    }
    const QString message = errorText[0] != '\0' ? QString::fromLocal8Bit(errorText)
                                                 : QString::fromUtf8(curl_easy_strerror(code));
    return transportFailure(code, cancelled, message);
}

/// One request to `url` on `handle`, redirects followed only as curl's own rules do.
Result<CurlTransfer::Reply> performOnce(CURL *handle,
                                        const CurlTransfer::Request &request,
                                        const QByteArray &url,
                                        curl_slist *headers,
                                        const std::stop_token &stop)
{
    curl_easy_reset(handle);
    Exchange exchange(request, handle, stop);
    char errorText[CURL_ERROR_SIZE] = {};
    const auto idleLimit = std::max(request.idleLimit, std::chrono::milliseconds(1));
    const long idleSeconds = static_cast<long>(
        std::max<qint64>(1, std::chrono::ceil<std::chrono::seconds>(idleLimit).count()));
    const bool follow = request.redirects == CurlTransfer::Redirects::Follow;

    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, maximumFollowedRedirects);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idleLimit.count()));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, idleSeconds);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &receiveBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &receiveHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &reportProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &exchange);
    setMethodAndBody(handle, request, exchange);
    if (!mayBeRepeated(request.method)) {
        curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, &startRequestOnce);
        curl_easy_setopt(handle, CURLOPT_PREREQDATA, &exchange);
    }

    const CURLcode code = curl_easy_perform(handle);
    const bool endedAtCap = code == CURLE_WRITE_ERROR && exchange.endedAtCap;
    if ((code != CURLE_OK && !endedAtCap) || exchange.failure || exchange.overflow
        || exchange.outOfMemory)
        return transferFailure(code, exchange, errorText);
    exchange.reply.endedAtCap = exchange.endedAtCap;

    curl_off_t sent = 0;
    curl_off_t received = 0;
    curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &sent);
    curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &received);
    exchange.report(std::max<qint64>(sent, exchange.reportedSent),
                    std::max<qint64>(received, exchange.reportedReceived));

    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status <= 0)
        return CurlTransfer::Reply{};
    exchange.reply.status = static_cast<int>(status);
    return std::move(exchange.reply);
}

} // namespace

CurlTransfer::Source CurlTransfer::Source::memory(QByteArray bytes)
{
    Source source;
    source.kind = Kind::Memory;
    source.bytes = std::move(bytes);
    return source;
}

CurlTransfer::Source
CurlTransfer::Source::fileRange(FileHandle &file, ByteRange range, Error endedEarly)
{
    Source source;
    source.kind = Kind::FileRange;
    source.file = &file;
    source.range = range;
    source.endedEarly = std::move(endedEarly);
    return source;
}

qint64 CurlTransfer::Source::length() const
{
    switch (kind) {
    case Kind::None:
        return 0;
    case Kind::Memory:
        return bytes.size();
    case Kind::FileRange:
        return std::max<qint64>(0, range.length());
    }
    return 0;
}

CurlTransfer::Sink CurlTransfer::Sink::memory(qint64 cap)
{
    Sink sink;
    sink.kind = Kind::Memory;
    sink.cap = cap;
    return sink;
}

CurlTransfer::Sink CurlTransfer::Sink::discard()
{
    return Sink();
}

CurlTransfer::Sink CurlTransfer::Sink::toFile(FileHandle &file, qint64 offset, qint64 cap)
{
    Sink sink;
    sink.kind = Kind::File;
    sink.file = &file;
    sink.offset = offset;
    sink.cap = cap;
    return sink;
}

void CurlTransfer::initializeGlobally()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Result<CurlTransfer::Reply> CurlTransfer::perform(const Request &request,
                                                  const std::stop_token &stop)
{
    if (!isHttpUrl(request.url))
        return Reply{};
    if (stop.stop_requested())
        return transportFailure(CURLE_ABORTED_BY_CALLBACK, true, QStringLiteral("Cancelled."));
    initializeGlobally();

    PELLWICK_TRY_ASSIGN(HeaderList headers, headerList(request));
    const HandleLease lease;
    if (!lease.handle())
        return transportFailure(CURLE_FAILED_INIT, false, QStringLiteral("No curl handle."));

    QByteArray url = request.url.toUtf8();
    for (int hop = 0;; ++hop) {
        Result<Reply> reply = performOnce(lease.handle(), request, url, headers.get(), stop);
        if (!reply || request.redirects != Redirects::KeepMethod)
            return reply;
        if (const int status = reply->status.value_or(0); status != 307 && status != 308)
            return reply;
        char *location = nullptr;
        if (curl_easy_getinfo(lease.handle(), CURLINFO_REDIRECT_URL, &location) != CURLE_OK
            || location == nullptr) {
            return reply;
        }
        const QString target = QString::fromUtf8(location);
        if (!isHttpUrl(target)) {
            reply->refusedRedirect = target;
            return reply;
        }
        if (hop == maximumMethodKeepingHops)
            return reply;
        url = target.toUtf8();
    }
}

bool isHttpUrl(const QString &url)
{
    const qsizetype colon = url.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    const QStringView scheme = QStringView(url).left(colon);
    return scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
           || scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

} // namespace Pellwick
