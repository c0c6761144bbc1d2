#include "CurlRestoreRangeFetcher.h"

#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/CurlTransfer_p.h>
#include <PellwickCore/Backend/HttpFetch.h>
#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Support/FileManager.h>

#include <curl/curl.h>

#include <array>
#include <mutex>
#include <new>

namespace Pellwick {

namespace {

constexpr long maximumRedirects = 16;

using CurlTransfer::EasyHandle;
using CurlTransfer::HeaderList;
using CurlTransfer::transportFailure;

/// Where a body goes: memory or a file, never more than `cap` bytes.
struct Receiver
{
    CURL *handle = nullptr;
    CurlTransfer::Watch watch;
    qint64 cap = 0;
    qint64 kept = 0;
    bool capReached = false;
    QByteArray *memory = nullptr;
    FileHandle *file = nullptr;
    std::optional<Error> fileError;
    bool outOfMemory = false;

    bool statusAccepted() const
    {
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        return status >= 200 && status <= 299;
    }
};

size_t receiveBody(char *data, size_t size, size_t count, void *context)
{
    auto *receiver = static_cast<Receiver *>(context);
    const size_t length = size * count;
    // The body of a refusal is not the range's bytes: it is dropped, never written to the file.
    if (!receiver->statusAccepted())
        return length;
    const qint64 room = receiver->cap - receiver->kept;
    const qint64 taken = std::min<qint64>(room, static_cast<qint64>(length));
    if (taken > 0) {
        if (receiver->file) {
            if (Result<void> written = receiver->file->write(data, taken); !written) {
                receiver->fileError = written.error();
                return 0;
            }
        } else {
            try {
                receiver->memory->append(data, taken);
            } catch (const std::bad_alloc &) {
                receiver->outOfMemory = true;
                return 0;
            }
        }
        receiver->kept += taken;
    }
    if (taken < static_cast<qint64>(length)) {
        // A server sending more than the range (the whole object, say) is cut off here.
        receiver->capReached = true;
        return 0;
    }
    return length;
}

int reportProgress(void *context, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent)
{
    return static_cast<Receiver *>(context)->watch.proceed(received, sent) ? 0 : 1;
}

} // namespace

/// The connection cache and DNS cache every call of one fetcher shares, with curl's locks.
struct CurlRestoreRangeFetcher::Shared
{
    CURLSH *share = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;

    Shared()
    {
        CurlFetch::initializeGlobally();
        share = curl_share_init();
        if (!share)
            return;
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &lock);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &unlock);
        curl_share_setopt(share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    }

    ~Shared()
    {
        if (share)
            curl_share_cleanup(share);
    }

    Shared(const Shared &) = delete;
    Shared &operator=(const Shared &) = delete;

    static void lock(CURL *, curl_lock_data data, curl_lock_access, void *context)
    {
        static_cast<Shared *>(context)->locks.at(static_cast<size_t>(data)).lock();
    }

    static void unlock(CURL *, curl_lock_data data, void *context)
    {
        static_cast<Shared *>(context)->locks.at(static_cast<size_t>(data)).unlock();
    }
};

CurlRestoreRangeFetcher::CurlRestoreRangeFetcher()
    : CurlRestoreRangeFetcher(Options{})
{}

CurlRestoreRangeFetcher::CurlRestoreRangeFetcher(Options options)
    : m_options(options)
    , m_shared(std::make_shared<Shared>())
{}

CurlRestoreRangeFetcher::~CurlRestoreRangeFetcher() = default;

namespace {

Result<qint64> perform(CURLSH *share,
                       std::chrono::milliseconds idleLimit,
                       const QString &url,
                       const RestoreByteRange &range,
                       Receiver &receiver,
                       const std::stop_token &stop)
{
    if (!isHttpUrl(url))
        return failure(RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}});
    if (stop.stop_requested())
        return transportFailure(CURLE_ABORTED_BY_CALLBACK, true, QStringLiteral("Cancelled."));

    EasyHandle easy(curl_easy_init());
    if (!easy)
        return transportFailure(CURLE_FAILED_INIT, false, QStringLiteral("No curl handle."));
    CURL *handle = easy.get();

    const QByteArray rangeHeader = "Range: bytes=" + QByteArray::number(range.start) + '-'
                                   + QByteArray::number(range.endInclusive);
    HeaderList headers(curl_slist_append(nullptr, rangeHeader.constData()));
    if (!headers)
        return transportFailure(CURLE_OUT_OF_MEMORY, false, QStringLiteral("Out of memory."));

    idleLimit = std::max(idleLimit, std::chrono::milliseconds(1));
    receiver.handle = handle;
    receiver.cap = rangeBodyCap(range);
    receiver.watch.stop = stop;
    receiver.watch.idleLimit = idleLimit;
    char errorText[CURL_ERROR_SIZE] = {};
    const QByteArray urlText = url.toUtf8();
    const long idleSeconds = static_cast<long>(
        std::max<qint64>(1, std::chrono::ceil<std::chrono::seconds>(idleLimit).count()));

    if (share)
        curl_easy_setopt(handle, CURLOPT_SHARE, share);
    curl_easy_setopt(handle, CURLOPT_URL, urlText.constData());
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
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &receiveBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &receiver);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &reportProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &receiver);
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, 512L * 1024);

    const CURLcode code = curl_easy_perform(handle);
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && receiver.capReached)) {
        if (receiver.fileError)
            return tl::unexpected<Error>(*receiver.fileError);
        if (receiver.outOfMemory)
            return transportFailure(CURLE_OUT_OF_MEMORY, false, QStringLiteral("Out of memory."));
        return CurlTransfer::transferFailure(code, receiver.watch, errorText);
    }
    if (!receiver.statusAccepted())
        return failure(RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}});
    return receiver.kept;
}

} // namespace

Result<QByteArray> CurlRestoreRangeFetcher::data(const QString &url,
                                                 const RestoreByteRange &range,
                                                 std::stop_token stop) const
{
    QByteArray body;
    Receiver receiver;
    receiver.memory = &body;
    Result<qint64> kept = perform(m_shared->share, m_options.idleLimit, url, range, receiver, stop);
    if (!kept)
        return tl::unexpected<Error>(std::move(kept).error());
    return body;
}

Result<qint64> CurlRestoreRangeFetcher::download(const QString &url,
                                                 const RestoreByteRange &range,
                                                 FileHandle &file,
                                                 std::stop_token stop) const
{
    Receiver receiver;
    receiver.file = &file;
    return perform(m_shared->share, m_options.idleLimit, url, range, receiver, stop);
}

} // namespace Pellwick
