#pragma once

#include <PellwickCore/Import/StagedImportRecord.h>

#include <QUuid>

namespace Pellwick::Test {

/// URLs with the characters a presigned URL carries and a re-encoding would change.
inline QString signedURL(const QString &path)
{
    return QStringLiteral("https://objects.example.test/%1?X-Signature=ab%2Fcd+ef%3D%3D&x=a=b")
        .arg(path);
}

inline PresignedMultipartUpload
multipartUpload(const QString &uploadID, qint64 partSize, QList<qint64> partNumbers)
{
    PresignedMultipartUpload upload{uploadID, partSize, {}};
    for (qint64 number : partNumbers)
        upload.parts.append(PresignedUploadPart{
            number, signedURL(QStringLiteral("%1/%2").arg(uploadID).arg(number))});
    return upload;
}

/// A freshly prepared record with a sidecar and a preview, without upload states.
inline StagedImportRecord preparedRecord(const QString &folder
                                         = QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000A"))
{
    StagedImportRecord record;
    record.localLibraryItemID = QUuid::fromString(u"5D2F1B4E-6A7C-4D8E-9F00-112233445566");
    record.originalFilename = QStringLiteral("IMG_0001.CR3");
    record.canonicalFilename = QStringLiteral("IMG_0001.CR3");
    record.contentHash = QString(64, u'a');
    record.byteCount = 3000;
    record.previewByteCount = 120;
    record.importSourceName = QStringLiteral("EOS_DIGITAL");
    record.sourceRelativePath = QStringLiteral("DCIM/100CANON/IMG_0001.CR3");
    record.cacheRelativePath = QStringLiteral("2026-05-01/EOS_DIGITAL/IMG_0001.CR3");
    record.stagedOriginalRelativePath = folder + QStringLiteral("/IMG_0001.CR3");
    record.previewRelativePath = QStringLiteral("IMG_0001.CR3.jpg");
    record.sidecarFilename = QStringLiteral("IMG_0001.xmp");
    record.sidecarContentHash = QString(64, u'b');
    record.sidecarByteCount = 40;
    record.importCapacityReservationID = QStringLiteral("reservation-7");
    record.stagedSidecarRelativePath = folder + QStringLiteral("/IMG_0001.xmp");
    return record;
}

inline VerifiedBackupUploadAuthorization
authorization(const QString &rawUploadID, qint64 partSize, bool withSidecar, bool withPreview)
{
    VerifiedBackupUploadAuthorization out;
    out.libraryItemID = 41;
    out.rawOriginalUpload = multipartUpload(rawUploadID, partSize, {1, 2, 3});
    if (withSidecar)
        out.sidecarUpload = multipartUpload(rawUploadID + QStringLiteral("-xmp"), partSize, {1});
    if (withPreview)
        out.previewUpload = PresignedPreviewUpload{signedURL(QStringLiteral("preview"))};
    return out;
}

} // namespace Pellwick::Test
