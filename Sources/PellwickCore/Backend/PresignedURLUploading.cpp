#include "PresignedURLUploading.h"

#include <QFile>

#include <cerrno>

#include <sys/stat.h>

namespace Pellwick {

Result<void> PresignedURLUploading::uploadFile(const QString &file,
                                               const QString &url,
                                               const UploadProgress &progress,
                                               std::stop_token stopToken) const
{
    PELLWICK_TRY(uploadFile(file, url, std::move(stopToken)));

    struct stat status
    {};

    if (::stat(QFile::encodeName(file).constData(), &status) != 0)
        return fileSystemFailure(QStringLiteral("stat"), file, errno);
    if (progress)
        progress(static_cast<qint64>(status.st_size));
    return {};
}

Result<QString> PresignedURLUploading::uploadPart(const QString &file,
                                                  ByteRange range,
                                                  const QString &url,
                                                  const UploadProgress &progress,
                                                  std::stop_token stopToken) const
{
    Result<QString> etag = uploadPart(file, range, url, std::move(stopToken));
    if (etag && progress)
        progress(range.length());
    return etag;
}

} // namespace Pellwick
