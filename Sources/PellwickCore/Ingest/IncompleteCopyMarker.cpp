#include "IncompleteCopyMarker.h"

#include <PellwickCore/Support/Json.h>

#include <QUrl>

namespace Pellwick {

namespace {

const QString sourceIdentityKey = QStringLiteral("sourceIdentity");
const QString sourceURLKey = QStringLiteral("sourceURL");

} // namespace

Result<QByteArray> IncompleteCopyMarker::toJson() const
{
    QJsonObject object;
    if (sourceIdentity)
        object.insert(sourceIdentityKey, sourceIdentity->toJson());
    if (sourceURL)
        object.insert(sourceURLKey, QUrl::fromLocalFile(*sourceURL).toString(QUrl::FullyEncoded));
    return Json::serialize(object, Json::Format::Compact);
}

Result<IncompleteCopyMarker> IncompleteCopyMarker::fromJson(const QByteArray &data)
{
    Result<QJsonObject> object = Json::parseObject(data);
    if (!object)
        return tl::unexpected<Error>(std::move(object).error());
    const Json::ObjectReader reader(*object);

    IncompleteCopyMarker marker;
    if (reader.has(sourceIdentityKey)) {
        Result<ImportSourceIdentity> identity = ImportSourceIdentity::fromJson(
            reader.jsonObject().value(sourceIdentityKey), reader.keyPath(sourceIdentityKey));
        if (!identity)
            return tl::unexpected<Error>(std::move(identity).error());
        marker.sourceIdentity = std::move(*identity);
    }
    Result<std::optional<QString>> url = reader.optionalString(sourceURLKey);
    if (!url)
        return tl::unexpected<Error>(std::move(url).error());
    if (*url) {
        const QUrl parsed(**url, QUrl::StrictMode);
        if (!parsed.isValid() || !parsed.isLocalFile())
            return failure(Json::dataCorrupted(sourceURLKey, QStringLiteral("Not a file URL.")));
        marker.sourceURL = parsed.toLocalFile();
    }
    return marker;
}

} // namespace Pellwick
