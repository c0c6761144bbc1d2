#include "CurlRestoreRangeFetcher.h"

#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Support/CurlTransfer.h>

namespace Pellwick {

namespace {

/// Performs the ranged GET into `sink`; the reply when its status is from 200 to 299.
Result<CurlTransfer::Reply> fetchRange(const QString &url,
                                       const RestoreByteRange &range,
                                       CurlTransfer::Sink sink,
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
