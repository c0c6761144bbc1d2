#pragma once

#include <PellwickCore/Backend/PresignedURLUploading.h>
#include <PellwickCore/Support/FileManager.h>

#include <chrono>
#include <memory>

namespace Pellwick {

/// The production uploader: one `CurlTransfer` per call, so successive parts sent from a thread
/// reuse its connection. A URL of any scheme but http or https is refused before any I/O with
/// status -1. Redirects 307 and 308 are followed (at most a few hops), the part re-sent from its
/// start; a redirect to anything but http or https gives status -1, any other redirect is a
/// reply outside 200 to 299. The body is streamed from the file with positioned reads, so a part
/// of any size costs a small fixed buffer. A connection that moves no bytes for `idleLimit`
/// fails with a timed-out `TransportError`; there is no limit on the whole transfer.
class CurlPresignedURLUploader final : public ProgressReportingPresignedURLUploading
{
public:
    static constexpr std::chrono::seconds defaultIdleLimit{60};

    explicit CurlPresignedURLUploader(std::shared_ptr<const FileManager> fileManager
                                      = std::make_shared<LocalFileManager>(),
                                      std::chrono::seconds idleLimit = defaultIdleLimit);

    using ProgressReportingPresignedURLUploading::uploadFile;
    using ProgressReportingPresignedURLUploading::uploadPart;

    Result<void> uploadFile(const QString &file,
                            const QString &url,
                            std::stop_token stopToken = {}) const override;
    Result<QString> uploadPart(const QString &file,
                               ByteRange range,
                               const QString &url,
                               std::stop_token stopToken = {}) const override;
    Result<void> uploadFile(const QString &file,
                            const QString &url,
                            const UploadProgress &progress,
                            std::stop_token stopToken = {}) const override;
    Result<QString> uploadPart(const QString &file,
                               ByteRange range,
                               const QString &url,
                               const UploadProgress &progress,
                               std::stop_token stopToken = {}) const override;

private:
    std::shared_ptr<const FileManager> m_fileManager;
    std::chrono::seconds m_idleLimit;
};

} // namespace Pellwick
