#include "StagedUploadPart.h"

#include "ImportRecordJson_p.h"

#include <QUrl>

namespace Pellwick {

namespace ImportRecordJson {

bool isPresignedURL(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

Result<QString> presignedURL(const Json::ObjectReader &reader, const QString &key)
{
    Result<QString> text = reader.string(key);
    PELLWICK_TRY(text);
    if (!isPresignedURL(*text))
        return failure(
            Json::dataCorrupted(reader.keyPath(key), QStringLiteral("Invalid URL string.")));
    return *text;
}

Result<qint64> count(const Json::ObjectReader &reader, const QString &key, qint64 minimum)
{
    Result<qint64> value = reader.integer(key);
    PELLWICK_TRY(value);
    if (*value < minimum)
        return failure(Json::dataCorrupted(
            reader.keyPath(key), QStringLiteral("Expected a number of at least %1.").arg(minimum)));
    return *value;
}

Result<QList<UploadedMultipartPart>> uploadedParts(const QJsonArray &array, const QString &path)
{
    return Json::readElements<UploadedMultipartPart>(
        array, path, [](const QJsonValue &value, const QString &elementPath) {
            Result<UploadedMultipartPart> part = uploadedMultipartPartFromJson(value, elementPath);
            if (part && part->partNumber < 1)
                return Result<UploadedMultipartPart>(failure(
                    Json::dataCorrupted(Json::childPath(elementPath, QStringLiteral("part_number")),
                                        QStringLiteral("Expected a number of at least 1."))));
            return part;
        });
}

} // namespace ImportRecordJson

QJsonObject toJson(const StagedUploadPart &part)
{
    return QJsonObject{{QStringLiteral("partNumber"), part.partNumber},
                       {QStringLiteral("url"), part.url}};
}

Result<StagedUploadPart> stagedUploadPartFromJson(const QJsonValue &value, const QString &path)
{
    Result<QJsonObject> object = Json::readObject(value, path);
    PELLWICK_TRY(object);
    const Json::ObjectReader reader(*object, path);
    Result<qint64> partNumber = ImportRecordJson::count(reader, QStringLiteral("partNumber"), 1);
    PELLWICK_TRY(partNumber);
    Result<QString> url = ImportRecordJson::presignedURL(reader, QStringLiteral("url"));
    PELLWICK_TRY(url);
    return StagedUploadPart{*partNumber, *url};
}

} // namespace Pellwick
