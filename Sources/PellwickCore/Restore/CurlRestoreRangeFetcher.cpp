#include "CurlRestoreRangeFetcher.h"

#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Support/CurlTransfer.h>
#include <PellwickCore/Support/FileManager.h>

#include <algorithm>
#include <optional>

namespace Pellwick {

namespace {

/// A plain decimal number of digits only (no sign, no space), or no value.
std::optional<qint64> decimal(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 18
        || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return text.toLongLong();
}

/// True when a successful reply may hold the bytes of `range`. A 206 must announce, in its
/// "Content-Range", a range that starts where the asked one starts and ends within it (a
/// shorter one is then refused for its length), and its body must not run past what it
/// announces: bytes beyond those it names are not the range's. Any other 2xx carries the whole
/// object, which is the range only when the range starts at 0 and the object, by its
/// "Content-Length", is no longer. Bytes from another offset would otherwise be recorded as the
/// range's and fail the whole file's hash on every later run.
bool answersRange(const CurlTransfer::Reply &reply, const RestoreByteRange &range)
{
    if (*reply.status != 206) {
        if (range.start != 0)
            return false;
        const QList<QByteArray> lengths = reply.headers.values("Content-Length");
        if (lengths.isEmpty())
            return true; // the length received is checked by the caller
        const std::optional<qint64> length = decimal(lengths.front().trimmed());
        return lengths.size() == 1 && length && *length <= range.byteCount();
    }
    const QList<QByteArray> fields = reply.headers.values("Content-Range");
    if (fields.size() != 1)
        return false;
    const QByteArray value = fields.front().trimmed();
    if (!value.startsWith("bytes "))
        return false;
    const QByteArray rangeText = value.mid(6).trimmed();
    const qsizetype slash = rangeText.indexOf('/');
    const qsizetype dash = rangeText.indexOf('-');
    if (slash < 0 || dash < 0 || dash > slash)
        return false;
    const std::optional<qint64> first = decimal(rangeText.left(dash));
    const std::optional<qint64> last = decimal(rangeText.mid(dash + 1, slash - dash - 1));
    const QByteArray totalText = rangeText.mid(slash + 1);
    const std::optional<qint64> total = decimal(totalText);
    if (!first || !last || (!total && totalText != "*"))
        return false;
    return *first == range.start && *first <= *last && *last <= range.endInclusive
           && (!total || *last < *total) && reply.bodyLength <= *last - *first + 1;
}

/// Performs the ranged GET into `sink`; the reply when its status is from 200 to 299 and it
/// answers the range. A refused reply's body already written to a file sink is taken out again.
Result<CurlTransfer::Reply> fetchRange(const QString &url,
                                       const RestoreByteRange &range,
                                       const CurlTransfer::Sink &sink,
                                       std::chrono::milliseconds idleLimit,
                                       std::stop_token stop)
{
    if (!isHttpUrl(url))
        return failure(RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}});
    CurlTransfer::Request request;
    request.url = url;
    request.headers.set("Range",
                        "bytes=" + QByteArray::number(range.start) + '-'
                            + QByteArray::number(range.endInclusive));
    // A server that ignores the range may send a whole object: one byte past the range is
    // enough to see that the body is wrong, and nothing more is received.
    request.sink = sink.endingAtCap();
    request.idleLimit = idleLimit;
    Result<CurlTransfer::Reply> reply = CurlTransfer::perform(request, stop);
    if (!reply)
        return reply;
    if (!reply->status || *reply->status < 200 || *reply->status > 299)
        return failure(RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}});
    if (!answersRange(*reply, range)) {
        if (sink.file)
            (void) sink.file->truncate(sink.offset);
        return failure(RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}});
    }
    return reply;
}

} // namespace

Result<QByteArray> CurlRestoreRangeFetcher::data(const QString &url,
                                                 const RestoreByteRange &range,
                                                 std::stop_token stop) const
{
    PELLWICK_TRY_ASSIGN(CurlTransfer::Reply reply,
                        fetchRange(url,
                                   range,
                                   CurlTransfer::Sink::memory(rangeBodyCap(range)),
                                   m_options.idleLimit,
                                   std::move(stop)));
    return std::move(reply.body);
}

Result<qint64> CurlRestoreRangeFetcher::download(const QString &url,
                                                 const RestoreByteRange &range,
                                                 FileHandle &file,
                                                 std::stop_token stop) const
{
    PELLWICK_TRY_ASSIGN(CurlTransfer::Reply reply,
                        fetchRange(url,
                                   range,
                                   CurlTransfer::Sink::toFile(file, 0, rangeBodyCap(range)),
                                   m_options.idleLimit,
                                   std::move(stop)));
    return reply.bodyLength;
}

} // namespace Pellwick
