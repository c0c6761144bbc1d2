#include "VerifiedBackupUpload.h"

#include <PellwickCore/Support/Json.h>

namespace Pellwick {

Json::OrderedJson toOrderedJson(const UploadedMultipartPart &part)
{
    return Json::OrderedJson::object(
        {{QStringLiteral("part_number"), part.partNumber}, {QStringLiteral("etag"), part.etag}});
}

QJsonObject toJson(const UploadedMultipartPart &part)
{
    return toOrderedJson(part).toJsonValue().toObject();
}

Result<UploadedMultipartPart> uploadedMultipartPartFromJson(const QJsonValue &value,
                                                            const QString &path)
{
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(value, path));
    const Json::ObjectReader reader(object, path);
    PELLWICK_TRY_ASSIGN(
        qint64 partNumber,
        reader.integer(QStringLiteral("part_number"), 1, UploadedMultipartPart::maximumPartNumber));
    PELLWICK_TRY_ASSIGN(QString etag, reader.string(QStringLiteral("etag")));
    return UploadedMultipartPart{partNumber, etag};
}

} // namespace Pellwick
