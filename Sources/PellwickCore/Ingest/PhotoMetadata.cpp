#include "PhotoMetadata.h"

#include <PellwickCore/Support/Json.h>

namespace Pellwick {

namespace {

const QString knownKey = QStringLiteral("known");
const QString unknownKey = QStringLiteral("unknown");
const QString payloadKey = QStringLiteral("_0");

QJsonObject knownJson(const QJsonValue &payload)
{
    return QJsonObject{{knownKey, QJsonObject{{payloadKey, payload}}}};
}

QJsonObject unknownJson()
{
    return QJsonObject{{unknownKey, QJsonObject()}};
}

/// Reads a known-or-unknown wrapper: the payload of "known" read by `readPayload`, or no value
/// for "unknown".
template<typename T, typename F>
Result<std::optional<T>> readWrapper(const QJsonValue &json, const QString &path, F &&readPayload)
{
    Result<QJsonObject> object = Json::readObject(json, path);
    if (!object)
        return tl::unexpected<Error>(std::move(object).error());
    Result<QString> caseKey = Json::readCaseKey(*object, {knownKey, unknownKey}, path);
    if (!caseKey)
        return tl::unexpected<Error>(std::move(caseKey).error());
    const Json::ObjectReader reader(*object, path);
    Result<Json::ObjectReader> nested = reader.object(*caseKey);
    if (!nested)
        return tl::unexpected<Error>(std::move(nested).error());
    if (*caseKey == unknownKey)
        return std::optional<T>();
    Result<QJsonValue> payload = nested->value(payloadKey);
    if (!payload)
        return tl::unexpected<Error>(std::move(payload).error());
    Result<T> value = readPayload(*payload, nested->keyPath(payloadKey));
    if (!value)
        return tl::unexpected<Error>(std::move(value).error());
    return std::optional<T>(std::move(*value));
}

template<typename Wrapper, typename T>
Result<Wrapper> wrap(Result<std::optional<T>> read)
{
    if (!read)
        return tl::unexpected<Error>(std::move(read).error());
    if (!*read)
        return Wrapper::unknown();
    return Wrapper::known(std::move(**read));
}

} // namespace

std::optional<Date> CaptureTimeMetadata::knownDate() const
{
    if (const auto *known = std::get_if<Known>(&value))
        return known->date;
    return std::nullopt;
}

QJsonObject CaptureTimeMetadata::toJson() const
{
    if (const auto date = knownDate())
        return knownJson(date->secondsSinceReferenceDate);
    return unknownJson();
}

Result<CaptureTimeMetadata> CaptureTimeMetadata::fromJson(const QJsonValue &json,
                                                          const QString &path)
{
    return wrap<CaptureTimeMetadata>(
        readWrapper<Date>(json, path, [](const QJsonValue &v, const QString &p) -> Result<Date> {
            Result<double> seconds = Json::readNumber(v, p);
            if (!seconds)
                return tl::unexpected<Error>(std::move(seconds).error());
            return Date{*seconds};
        }));
}

QJsonObject CaptureLocation::toJson() const
{
    return QJsonObject{{QStringLiteral("latitude"), latitude},
                       {QStringLiteral("longitude"), longitude}};
}

Result<CaptureLocation> CaptureLocation::fromJson(const QJsonValue &json, const QString &path)
{
    Result<QJsonObject> object = Json::readObject(json, path);
    if (!object)
        return tl::unexpected<Error>(std::move(object).error());
    const Json::ObjectReader reader(*object, path);
    Result<double> latitude = reader.number(QStringLiteral("latitude"));
    if (!latitude)
        return tl::unexpected<Error>(std::move(latitude).error());
    Result<double> longitude = reader.number(QStringLiteral("longitude"));
    if (!longitude)
        return tl::unexpected<Error>(std::move(longitude).error());
    return CaptureLocation{*latitude, *longitude};
}

std::optional<CaptureLocation> CaptureLocationMetadata::knownLocation() const
{
    if (const auto *known = std::get_if<Known>(&value))
        return known->location;
    return std::nullopt;
}

QJsonObject CaptureLocationMetadata::toJson() const
{
    if (const auto location = knownLocation())
        return knownJson(location->toJson());
    return unknownJson();
}

Result<CaptureLocationMetadata> CaptureLocationMetadata::fromJson(const QJsonValue &json,
                                                                  const QString &path)
{
    return wrap<CaptureLocationMetadata>(
        readWrapper<CaptureLocation>(json, path, &CaptureLocation::fromJson));
}

bool CameraModelMetadata::Known::operator==(const Known &other) const
{
    return model == other.model
           || model.normalized(QString::NormalizationForm_C)
                  == other.model.normalized(QString::NormalizationForm_C);
}

std::optional<QString> CameraModelMetadata::knownModel() const
{
    if (const auto *known = std::get_if<Known>(&value))
        return known->model;
    return std::nullopt;
}

QJsonObject CameraModelMetadata::toJson() const
{
    if (const auto model = knownModel())
        return knownJson(*model);
    return unknownJson();
}

Result<CameraModelMetadata> CameraModelMetadata::fromJson(const QJsonValue &json,
                                                          const QString &path)
{
    return wrap<CameraModelMetadata>(readWrapper<QString>(json, path, &Json::readString));
}

QJsonObject PhotoMetadata::toJson() const
{
    return QJsonObject{{QStringLiteral("captureTime"), captureTime.toJson()},
                       {QStringLiteral("captureLocation"), captureLocation.toJson()},
                       {QStringLiteral("cameraModel"), cameraModel.toJson()}};
}

Result<PhotoMetadata> PhotoMetadata::fromJson(const QJsonValue &json, const QString &path)
{
    Result<QJsonObject> object = Json::readObject(json, path);
    if (!object)
        return tl::unexpected<Error>(std::move(object).error());
    const Json::ObjectReader reader(*object, path);

    const auto field = [&reader](const QString &key, auto read) {
        Result<QJsonValue> value = reader.value(key);
        using R = decltype(read(QJsonValue(), QString()));
        if (!value)
            return R(tl::unexpected<Error>(std::move(value).error()));
        return read(*value, reader.keyPath(key));
    };
    Result<CaptureTimeMetadata> captureTime
        = field(QStringLiteral("captureTime"), &CaptureTimeMetadata::fromJson);
    if (!captureTime)
        return tl::unexpected<Error>(std::move(captureTime).error());
    Result<CaptureLocationMetadata> captureLocation
        = field(QStringLiteral("captureLocation"), &CaptureLocationMetadata::fromJson);
    if (!captureLocation)
        return tl::unexpected<Error>(std::move(captureLocation).error());
    Result<CameraModelMetadata> cameraModel
        = field(QStringLiteral("cameraModel"), &CameraModelMetadata::fromJson);
    if (!cameraModel)
        return tl::unexpected<Error>(std::move(cameraModel).error());
    return PhotoMetadata{*captureTime, *captureLocation, *cameraModel};
}

} // namespace Pellwick
