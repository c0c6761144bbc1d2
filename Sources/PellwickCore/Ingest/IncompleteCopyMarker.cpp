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
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::parseObject(data));
    const Json::ObjectReader reader(object);

    IncompleteCopyMarker marker;
    if (reader.has(sourceIdentityKey)) {
        PELLWICK_TRY_ASSIGN(
            marker.sourceIdentity,
            ImportSourceIdentity::fromJson(reader.jsonObject().value(sourceIdentityKey),
                                           reader.keyPath(sourceIdentityKey)));
    }
    PELLWICK_TRY_ASSIGN(std::optional<QString> url, reader.optionalString(sourceURLKey));
    if (url) {
        const QUrl parsed(*url, QUrl::StrictMode);
        if (!parsed.isValid() || !parsed.isLocalFile())
            return failure(Json::dataCorrupted(sourceURLKey, QStringLiteral("Not a file URL.")));
        marker.sourceURL = parsed.toLocalFile();
    }
    return marker;
}

} // namespace Pellwick
