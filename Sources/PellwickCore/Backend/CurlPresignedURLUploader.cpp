#include "CurlPresignedURLUploader.h"

#include "PresignedURLUploadReply_p.h"

#include <PellwickCore/Backend/PresignedURLUploadError.h>
#include <PellwickCore/Support/CurlTransfer.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace Pellwick {

namespace {

tl::unexpected<Error> unexpectedStatus(int status)
{
    return failure(PresignedURLUploadError{PresignedURLUploadError::UnexpectedStatus{status}});
}

struct Reply
{
    int status = -1;
    QList<QString> etags;
};

/// PUTs bytes [range) of `file` to `url` and returns the final reply's status and ETag fields.
/// Only 307 and 308 are followed, re-sending the range from its start; a reply that is not HTTP,
/// and a redirect to anything but http or https, give status -1.
Result<Reply> put(FileHandle &file,
                  ByteRange range,
                  const QString &url,
                  std::chrono::seconds idleLimit,
                  const UploadProgress *progress,
                  const std::stop_token &stopToken)
{
    CurlTransfer::Request request;
    request.url = url;
    request.method = QByteArrayLiteral("PUT");
    request.body = CurlTransfer::Source::fileRange(file, range, unexpectedStatus(-1).value());
    request.redirects = CurlTransfer::Redirects::KeepMethod;
    request.idleLimit = idleLimit;
    // Progress never goes backwards, also when a redirect sends the range again.
    qint64 reported = 0;
    request.progress = [&reported, progress](qint64 sent, qint64) {
        if (sent > reported) {
            reported = sent;
            if (progress && *progress)
                (*progress)(sent);
        }
    };

    PELLWICK_TRY_ASSIGN(CurlTransfer::Reply answer, CurlTransfer::perform(request, stopToken));
    Reply reply;
    if (answer.status && !answer.refusedRedirect)
        reply.status = *answer.status;
    // Fields of the final reply only, names matched without regard to letter case.
    for (const QByteArray &etag : answer.headers.values("ETag"))
        reply.etags.append(QString::fromUtf8(etag));
    return reply;
}

} // namespace

Result<void> presignedFileUploadResult(int status)
{
    if (status < 200 || status > 299)
        return unexpectedStatus(status);
    return {};
}

Result<QString> presignedPartUploadResult(int status, const QList<QString> &etags)
{
    PELLWICK_TRY(presignedFileUploadResult(status));
    // Two ETag fields name no single part: refusing here beats completing with the wrong one.
    if (etags.size() != 1 || etags.front().isEmpty())
        return unexpectedStatus(-1);
    return etags.front();
}

CurlPresignedURLUploader::CurlPresignedURLUploader(std::shared_ptr<const FileManager> fileManager,
                                                   std::chrono::seconds idleLimit)
    : m_fileManager(std::move(fileManager))
    , m_idleLimit(idleLimit)
{}

Result<void> CurlPresignedURLUploader::uploadFile(const QString &file,
                                                  const QString &url,
                                                  std::stop_token stopToken) const
{
    return uploadFile(file, url, UploadProgress(), std::move(stopToken));
}

Result<QString> CurlPresignedURLUploader::uploadPart(const QString &file,
                                                     ByteRange range,
                                                     const QString &url,
                                                     std::stop_token stopToken) const
{
    return uploadPart(file, range, url, UploadProgress(), std::move(stopToken));
}

Result<void> CurlPresignedURLUploader::uploadFile(const QString &file,
                                                  const QString &url,
                                                  const UploadProgress &progress,
                                                  std::stop_token stopToken) const
{
    if (!isHttpUrl(url))
        return unexpectedStatus(-1);
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> handle, m_fileManager->openForReading(file));
    PELLWICK_TRY_ASSIGN(QString resolved, m_fileManager->resolvingSymlinks(file));
    PELLWICK_TRY_ASSIGN(FileAttributes attributes, m_fileManager->attributesOfItem(resolved));

    Result<Reply> reply
        = put(*handle, ByteRange{0, attributes.size}, url, m_idleLimit, &progress, stopToken);
    handle->close();
    if (!reply)
        return tl::unexpected<Error>(std::move(reply).error());
    return presignedFileUploadResult(reply->status);
}

Result<QString> CurlPresignedURLUploader::uploadPart(const QString &file,
                                                     ByteRange range,
                                                     const QString &url,
                                                     const UploadProgress &progress,
                                                     std::stop_token stopToken) const
{
    if (!isHttpUrl(url))
        return unexpectedStatus(-1);
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> handle, m_fileManager->openForReading(file));
    FileHandle &source = *handle;

    if (range.lowerBound < 0 || range.upperBound < range.lowerBound)
        return unexpectedStatus(-1);
    if (!range.isEmpty()) {
        // The range's last byte must exist, or the part would be short: nothing is sent.
        char last = 0;
        PELLWICK_TRY_ASSIGN(qint64 n, source.readAt(&last, 1, range.upperBound - 1));
        if (n != 1)
            return unexpectedStatus(-1);
    }

    Result<Reply> reply = put(source, range, url, m_idleLimit, &progress, stopToken);
    source.close();
    if (!reply)
        return tl::unexpected<Error>(std::move(reply).error());
    return presignedPartUploadResult(reply->status, reply->etags);
}

} // namespace Pellwick
