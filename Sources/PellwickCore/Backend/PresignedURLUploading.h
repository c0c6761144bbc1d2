#pragma once

#include <PellwickCore/Support/ByteRange.h>
#include <PellwickCore/Support/Result.h>

#include <QString>

#include <functional>
#include <stop_token>

namespace Pellwick {

/// Receives the cumulative number of body bytes sent for one request; never a delta.
using UploadProgress = std::function<void(qint64)>;

/// Sends bytes straight to object storage through URLs the backend has presigned. The URL is
/// used exactly as given; no header of our own is sent. Calls block, may run concurrently on any
/// threads, and are not retried. `file` is an absolute path.
///
/// Failures: the file system's error when the file cannot be opened or read; a `TransportError`
/// for connection failures, the idle limit and cancellation through `stopToken`;
/// `PresignedURLUploadError` for a reply outside 200 to 299 (its status) and -1 when the reply
/// was not HTTP, a part's reply had no usable ETag, or the file holds fewer bytes than the range.
class PresignedURLUploading
{
public:
    PresignedURLUploading() = default;
    PresignedURLUploading(const PresignedURLUploading &) = delete;
    PresignedURLUploading &operator=(const PresignedURLUploading &) = delete;
    virtual ~PresignedURLUploading() = default;

    /// PUTs the whole file.
    [[nodiscard]] virtual Result<void>
    uploadFile(const QString &file, const QString &url, std::stop_token stopToken = {}) const = 0;

    /// PUTs the bytes of `range` and returns the part's ETag verbatim, quotes included. A range
    /// reaching past the end of the file fails before anything is sent.
    [[nodiscard]] virtual Result<QString> uploadPart(const QString &file,
                                                     ByteRange range,
                                                     const QString &url,
                                                     std::stop_token stopToken = {}) const = 0;

    /// As `uploadFile`, reporting progress. An uploader that cannot report progress while sending
    /// reports once, after a successful upload, the file's size (and fails with the file
    /// system's error if that size cannot be read, although the upload succeeded).
    [[nodiscard]] virtual Result<void> uploadFile(const QString &file,
                                                  const QString &url,
                                                  const UploadProgress &progress,
                                                  std::stop_token stopToken = {}) const;

    /// As `uploadPart`, reporting progress. An uploader that cannot report progress while sending
    /// reports the range's length once, after a successful upload.
    [[nodiscard]] virtual Result<QString> uploadPart(const QString &file,
                                                     ByteRange range,
                                                     const QString &url,
                                                     const UploadProgress &progress,
                                                     std::stop_token stopToken = {}) const;
};

/// An uploader that reports progress while the body is being sent: the cumulative bytes sent for
/// that one request, rising from 0 to the body's length, on the calling thread.
class ProgressReportingPresignedURLUploading : public PresignedURLUploading
{
public:
    using PresignedURLUploading::uploadFile;
    using PresignedURLUploading::uploadPart;

    Result<void> uploadFile(const QString &file,
                            const QString &url,
                            const UploadProgress &progress,
                            std::stop_token stopToken = {}) const override = 0;

    Result<QString> uploadPart(const QString &file,
                               ByteRange range,
                               const QString &url,
                               const UploadProgress &progress,
                               std::stop_token stopToken = {}) const override = 0;
};

} // namespace Pellwick
