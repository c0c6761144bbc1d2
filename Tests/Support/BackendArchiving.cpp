#include "BackendArchiving.h"

#include <PellwickCore/Backend/CurlPresignedURLUploader.h>

#include <QTemporaryDir>

#include <Support/TestFiles.h>

namespace Pellwick::Test {

qint64 archiveThroughBackend(const LibrarySessionClient &client,
                             const QString &session,
                             const QByteArray &raw,
                             const QString &until,
                             const std::optional<QString> &announcedHash,
                             bool withPreview)
{
    using Decision = VerifiedBackupUploadDecision;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("IMG.CR3"));
    writeFile(path, raw);
    VerifiedBackupUploadRequest request;
    request.originalFilename = QStringLiteral("IMG_0001.CR3");
    request.canonicalFilename = QStringLiteral("2024-05-01_120000_IMG_0001.CR3");
    request.byteCount = raw.size();
    request.contentHash = announcedHash.value_or(referenceSha256(raw));
    request.previewByteCount = withPreview ? raw.size() : 0;
    Result<Decision> decision = client.requestVerifiedBackupUpload(session, request);
    if (!decision || !std::holds_alternative<Decision::Upload>(decision->value))
        return 0;
    const VerifiedBackupUploadAuthorization authorization
        = std::get<Decision::Upload>(decision->value).authorization;
    if (until == QLatin1String("requested"))
        return authorization.libraryItemID;
    const CurlPresignedURLUploader uploader;
    const PresignedUploadPart part = authorization.rawOriginalUpload.parts.value(0);
    Result<QString> etag = uploader.uploadPart(path, ByteRange{0, raw.size()}, part.url);
    if (!etag || (withPreview && !uploader.uploadFile(path, authorization.previewUpload->url))
        || !client.completeVerifiedBackupUpload(session,
                                                authorization.libraryItemID,
                                                authorization.rawOriginalUpload.uploadID,
                                                {{part.partNumber, *etag}})) {
        return 0;
    }
    if (until == QLatin1String("finalized")
        && !client.finalizeVerifiedBackupUpload(session, authorization.libraryItemID))
        return 0;
    return authorization.libraryItemID;
}

} // namespace Pellwick::Test
