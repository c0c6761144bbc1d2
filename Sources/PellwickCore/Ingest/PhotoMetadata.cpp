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
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(json, path));
    PELLWICK_TRY_ASSIGN(QString caseKey, Json::readCaseKey(object, {knownKey, unknownKey}, path));
    const Json::ObjectReader reader(object, path);
    PELLWICK_TRY_ASSIGN(Json::ObjectReader nested, reader.object(caseKey));
    if (caseKey == unknownKey)
        return std::optional<T>();
    PELLWICK_TRY_ASSIGN(QJsonValue payload, nested.value(payloadKey));
    PELLWICK_TRY_ASSIGN(T value, readPayload(payload, nested.keyPath(payloadKey)));
    return std::optional<T>(std::move(value));
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
            PELLWICK_TRY_ASSIGN(double seconds, Json::readNumber(v, p));
            return Date{seconds};
        }));
}

QJsonObject CaptureLocation::toJson() const
{
    return QJsonObject{{QStringLiteral("latitude"), latitude},
                       {QStringLiteral("longitude"), longitude}};
}

Result<CaptureLocation> CaptureLocation::fromJson(const QJsonValue &json, const QString &path)
{
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(json, path));
    const Json::ObjectReader reader(object, path);
    PELLWICK_TRY_ASSIGN(double latitude, reader.number(QStringLiteral("latitude")));
    PELLWICK_TRY_ASSIGN(double longitude, reader.number(QStringLiteral("longitude")));
    return CaptureLocation{latitude, longitude};
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
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(json, path));
    const Json::ObjectReader reader(object, path);

    const auto field = [&reader](const QString &key, auto read) {
        Result<QJsonValue> value = reader.value(key);
        using R = decltype(read(QJsonValue(), QString()));
        if (!value)
            return R(tl::unexpected<Error>(std::move(value).error()));
        return read(*value, reader.keyPath(key));
    };
    PELLWICK_TRY_ASSIGN(CaptureTimeMetadata captureTime,
                        field(QStringLiteral("captureTime"), &CaptureTimeMetadata::fromJson));
    PELLWICK_TRY_ASSIGN(
        CaptureLocationMetadata captureLocation,
        field(QStringLiteral("captureLocation"), &CaptureLocationMetadata::fromJson));
    PELLWICK_TRY_ASSIGN(CameraModelMetadata cameraModel,
                        field(QStringLiteral("cameraModel"), &CameraModelMetadata::fromJson));
    return PhotoMetadata{captureTime, captureLocation, cameraModel};
}

} // namespace Pellwick
