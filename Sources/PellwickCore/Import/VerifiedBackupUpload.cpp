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
    Result<QJsonObject> object = Json::readObject(value, path);
    if (!object)
        return tl::unexpected<Error>(std::move(object).error());
    const Json::ObjectReader reader(*object, path);
    Result<qint64> partNumber = reader.integer(
        QStringLiteral("part_number"), 1, UploadedMultipartPart::maximumPartNumber);
    if (!partNumber)
        return tl::unexpected<Error>(std::move(partNumber).error());
    Result<QString> etag = reader.string(QStringLiteral("etag"));
    if (!etag)
        return tl::unexpected<Error>(std::move(etag).error());
    return UploadedMultipartPart{*partNumber, *etag};
}

} // namespace Pellwick
