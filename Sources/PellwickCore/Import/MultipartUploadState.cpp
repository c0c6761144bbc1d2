#include "MultipartUploadState.h"

#include "ImportRecordJson_p.h"

#include <QJsonArray>

namespace Pellwick {

namespace {

QList<StagedUploadPart> stagedParts(const QList<PresignedUploadPart> &parts)
{
    QList<StagedUploadPart> out;
    out.reserve(parts.size());
    for (const PresignedUploadPart &part : parts)
        out.append(StagedUploadPart{part.partNumber, part.url});
    return out;
}

} // namespace

MultipartUploadState MultipartUploadState::starting(const PresignedMultipartUpload &upload)
{
    return MultipartUploadState{
        upload.uploadID, upload.partSizeBytes, stagedParts(upload.parts), {}, false};
}

MultipartUploadState
MultipartUploadState::replacingAuthorization(const PresignedMultipartUpload &upload) const
{
    if (upload.uploadID != uploadID)
        return starting(upload);
    const bool partsCutAtOtherSize = upload.partSizeBytes != partSizeBytes && !isCompleted;
    MultipartUploadState next = *this;
    next.partSizeBytes = upload.partSizeBytes;
    next.authorizedParts = stagedParts(upload.parts);
    next.uploadedParts = partsCutAtOtherSize ? QList<UploadedMultipartPart>()
                                             : normalizedUploadedParts(uploadedParts);
    return next;
}

MultipartUploadState
MultipartUploadState::recordingUploadedPart(const UploadedMultipartPart &part) const
{
    QList<UploadedMultipartPart> parts;
    parts.reserve(uploadedParts.size() + 1);
    for (const UploadedMultipartPart &existing : uploadedParts)
        if (existing.partNumber != part.partNumber)
            parts.append(existing);
    parts.append(part);
    MultipartUploadState next = *this;
    next.uploadedParts = normalizedUploadedParts(parts);
    return next;
}

MultipartUploadState MultipartUploadState::markingCompleted() const
{
    MultipartUploadState next = *this;
    next.isCompleted = true;
    next.uploadedParts = normalizedUploadedParts(uploadedParts);
    return next;
}

QList<UploadedMultipartPart>
MultipartUploadState::normalizedUploadedParts(const QList<UploadedMultipartPart> &parts)
{
    QList<UploadedMultipartPart> out;
    out.reserve(parts.size());
    for (const UploadedMultipartPart &part : parts) {
        out.removeIf([&](const UploadedMultipartPart &taken) {
            return taken.partNumber == part.partNumber;
        });
        out.append(part);
    }
    return out;
}

QJsonObject toJson(const MultipartUploadState &state)
{
    QJsonArray authorized;
    for (const StagedUploadPart &part : state.authorizedParts)
        authorized.append(toJson(part));
    QJsonArray uploaded;
    for (const UploadedMultipartPart &part : state.uploadedParts)
        uploaded.append(toJson(part));
    return QJsonObject{{QStringLiteral("uploadID"), state.uploadID},
                       {QStringLiteral("partSizeBytes"), state.partSizeBytes},
                       {QStringLiteral("authorizedParts"), authorized},
                       {QStringLiteral("uploadedParts"), uploaded},
                       {QStringLiteral("isCompleted"), state.isCompleted}};
}

Result<MultipartUploadState> multipartUploadStateFromJson(const QJsonValue &value,
                                                          const QString &path)
{
    Result<QJsonObject> object = Json::readObject(value, path);
    PELLWICK_TRY(object);
    const Json::ObjectReader reader(*object, path);
    Result<QString> uploadID = reader.string(QStringLiteral("uploadID"));
    PELLWICK_TRY(uploadID);
    Result<qint64> partSize = ImportRecordJson::count(reader, QStringLiteral("partSizeBytes"));
    PELLWICK_TRY(partSize);
    Result<QList<StagedUploadPart>> authorized = reader.elements<StagedUploadPart>(
        QStringLiteral("authorizedParts"), &stagedUploadPartFromJson);
    PELLWICK_TRY(authorized);
    Result<QJsonArray> uploadedArray = reader.array(QStringLiteral("uploadedParts"));
    PELLWICK_TRY(uploadedArray);
    Result<QList<UploadedMultipartPart>> uploaded = ImportRecordJson::uploadedParts(
        *uploadedArray, reader.keyPath(QStringLiteral("uploadedParts")));
    PELLWICK_TRY(uploaded);
    Result<bool> completed = reader.boolean(QStringLiteral("isCompleted"));
    PELLWICK_TRY(completed);
    return MultipartUploadState{*uploadID,
                                *partSize,
                                *authorized,
                                MultipartUploadState::normalizedUploadedParts(*uploaded),
                                *completed};
}

} // namespace Pellwick
