#include "VerifiedBackupUpload.h"

#include <PellwickCore/Support/Json.h>

namespace Pellwick {

QJsonObject toJson(const UploadedMultipartPart &part)
{
    return QJsonObject{{QStringLiteral("part_number"), part.partNumber},
                       {QStringLiteral("etag"), part.etag}};
}

Result<UploadedMultipartPart> uploadedMultipartPartFromJson(const QJsonValue &value,
                                                            const QString &path)
{
    Result<QJsonObject> object = Json::readObject(value, path);
    if (!object)
        return tl::unexpected<Error>(std::move(object).error());
    const Json::ObjectReader reader(*object, path);
    Result<qint64> partNumber = reader.integer(QStringLiteral("part_number"));
    if (!partNumber)
        return tl::unexpected<Error>(std::move(partNumber).error());
    Result<QString> etag = reader.string(QStringLiteral("etag"));
    if (!etag)
        return tl::unexpected<Error>(std::move(etag).error());
    return UploadedMultipartPart{*partNumber, *etag};
}

} // namespace Pellwick
