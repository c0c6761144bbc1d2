#include "Json.h"

#include <QDir>
#include <QJsonParseError>
#include <QMetaType>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Pellwick::Json {

namespace {

QString jsonTypeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        return QStringLiteral("nothing");
    }
    return QStringLiteral("an unknown value");
}

DecodingError mismatch(const QJsonValue &value, const QString &path, const QString &expected)
{
    if (value.isNull() || value.isUndefined()) {
        return DecodingError{
            DecodingError::Kind::ValueNotFound,
            path,
            QStringLiteral("Expected %1 value but found null instead.").arg(expected)};
    }
    return DecodingError{DecodingError::Kind::TypeMismatch,
                         path,
                         QStringLiteral("Expected to decode %1 but found %2 instead.")
                             .arg(expected, jsonTypeName(value))};
}

bool holdsNonFinite(const QJsonValue &value)
{
    if (value.isDouble())
        return !std::isfinite(value.toDouble());
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        return std::any_of(array.begin(), array.end(), [](const QJsonValue &element) {
            return holdsNonFinite(element);
        });
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        return std::any_of(object.begin(), object.end(), [](const QJsonValue &member) {
            return holdsNonFinite(member);
        });
    }
    return false;
}

/// The key path of the first non-finite number in `value` (at `path`). Paths are only spelled
/// out along the way to one, which is rare: a plain walk decides first.
std::optional<QString> firstNonFinite(const QJsonValue &value, const QString &path)
{
    if (!holdsNonFinite(value))
        return std::nullopt;
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            if (holdsNonFinite(array.at(i)))
                return firstNonFinite(array.at(i), elementPath(path, i));
        }
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (holdsNonFinite(it.value()))
                return firstNonFinite(it.value(), childPath(path, it.key()));
        }
    }
    return path;
}

} // namespace

QString childPath(const QString &path, const QString &key)
{
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

QString elementPath(const QString &path, qsizetype index)
{
    return path + QStringLiteral("[%1]").arg(index);
}

DecodingError typeMismatch(const QString &keyPath, const QString &expected)
{
    return DecodingError{DecodingError::Kind::TypeMismatch,
                         keyPath,
                         QStringLiteral("Expected to decode %1.").arg(expected)};
}

DecodingError dataCorrupted(const QString &keyPath, const QString &description)
{
    return DecodingError{DecodingError::Kind::DataCorrupted, keyPath, description};
}

DecodingError invalidRawValue(const QString &keyPath, const QString &typeName, const QString &word)
{
    return dataCorrupted(
        keyPath,
        QStringLiteral("Cannot initialize %1 from invalid String value %2").arg(typeName, word));
}

Result<QJsonValue> parseValue(const QByteArray &data)
{
    // QJsonDocument only accepts arrays and objects at the top level; wrap to accept any value.
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson("[" + data + "]", &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray()
        || document.array().size() != 1) {
        return failure(dataCorrupted(
            QString(),
            QStringLiteral("The given data was not valid JSON. %1").arg(parseError.errorString())));
    }
    return document.array().at(0);
}

Result<QJsonObject> parseObject(const QByteArray &data)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return failure(dataCorrupted(
            QString(),
            QStringLiteral("The given data was not valid JSON. %1").arg(parseError.errorString())));
    }
    if (!document.isObject())
        return failure(typeMismatch(QString(), QStringLiteral("an object")));
    return document.object();
}

Result<QByteArray> serialize(const QJsonValue &value, Format format)
{
    if (auto path = firstNonFinite(value, QString()))
        return failure(
            dataCorrupted(*path, QStringLiteral("Unable to encode a non-finite number.")));
    const auto jsonFormat
        = format == Format::Pretty ? QJsonDocument::Indented : QJsonDocument::Compact;
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(jsonFormat);
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(jsonFormat);
    // A bare value: serialise inside an array and strip the brackets.
    QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

Result<QString>
readCaseKey(const QJsonObject &object, const QStringList &cases, const QString &path)
{
    QString found;
    int count = 0;
    for (const QString &key : cases) {
        if (object.contains(key)) {
            found = key;
            ++count;
        }
    }
    if (count != 1) {
        return failure(
            DecodingError{DecodingError::Kind::TypeMismatch,
                          path,
                          QStringLiteral("Invalid number of keys found, expected one.")});
    }
    return found;
}

QString fileURLText(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

Result<QString> readFileURL(const QJsonValue &value, const QString &path)
{
    Result<QString> text = readString(value, path);
    if (!text)
        return text;
    const QUrl url(*text, QUrl::StrictMode);
    const QString local = url.isValid() && url.isLocalFile() && url.host().isEmpty()
                              ? url.toLocalFile()
                              : QString();
    if (!local.startsWith(QLatin1Char('/')) || local.contains(QChar(0))) {
        return failure(
            dataCorrupted(path, QStringLiteral("Invalid file URL string \"%1\".").arg(*text)));
    }
    return QDir::cleanPath(local);
}

Result<QString> readString(const QJsonValue &value, const QString &path)
{
    if (!value.isString())
        return failure(mismatch(value, path, QStringLiteral("String")));
    return value.toString();
}

Result<qint64> readInteger(const QJsonValue &value, const QString &path)
{
    if (!value.isDouble())
        return failure(mismatch(value, path, QStringLiteral("Int")));
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    // 2^63 is exactly representable; anything at or above it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(number) || std::trunc(number) != number || number >= limit
        || number < -limit) {
        return failure(dataCorrupted(
            path, QStringLiteral("Parsed JSON number <%1> does not fit in Int.").arg(number)));
    }
    return static_cast<qint64>(number);
}

Result<double> readNumber(const QJsonValue &value, const QString &path)
{
    if (!value.isDouble())
        return failure(mismatch(value, path, QStringLiteral("Double")));
    return value.toDouble();
}

Result<bool> readBoolean(const QJsonValue &value, const QString &path)
{
    if (!value.isBool())
        return failure(mismatch(value, path, QStringLiteral("Bool")));
    return value.toBool();
}

Result<QJsonObject> readObject(const QJsonValue &value, const QString &path)
{
    if (!value.isObject())
        return failure(mismatch(value, path, QStringLiteral("Dictionary")));
    return value.toObject();
}

Result<QJsonArray> readArray(const QJsonValue &value, const QString &path)
{
    if (!value.isArray())
        return failure(mismatch(value, path, QStringLiteral("Array")));
    return value.toArray();
}

ObjectReader::ObjectReader(QJsonObject object, QString path)
    : m_object(std::move(object))
    , m_path(std::move(path))
{}

bool ObjectReader::has(const QString &key) const
{
    const QJsonValue found = m_object.value(key);
    return !found.isUndefined() && !found.isNull();
}

Result<QJsonValue> ObjectReader::value(const QString &key) const
{
    const auto it = m_object.constFind(key);
    if (it == m_object.constEnd()) {
        return failure(
            DecodingError{DecodingError::Kind::KeyNotFound,
                          keyPath(key),
                          QStringLiteral("No value associated with key \"%1\".").arg(key)});
    }
    if (it.value().isNull()) {
        return failure(DecodingError{
            DecodingError::Kind::ValueNotFound,
            keyPath(key),
            QStringLiteral("Expected a value for key \"%1\" but found null instead.").arg(key)});
    }
    return it.value();
}

template<typename T>
Result<T> ObjectReader::required(const QString &key,
                                 Result<T> (*read)(const QJsonValue &, const QString &)) const
{
    PELLWICK_TRY_ASSIGN(QJsonValue found, value(key));
    return read(found, keyPath(key));
}

template<typename T>
Result<std::optional<T>> ObjectReader::optional(const QString &key,
                                                Result<T> (ObjectReader::*read)(const QString &)
                                                    const) const
{
    if (!has(key))
        return std::optional<T>();
    PELLWICK_TRY_ASSIGN(T result, (this->*read)(key));
    return std::optional<T>(std::move(result));
}

Result<QString> ObjectReader::string(const QString &key) const
{
    return required(key, &readString);
}

Result<qint64> ObjectReader::integer(const QString &key) const
{
    return required(key, &readInteger);
}

Result<qint64> ObjectReader::integer(const QString &key, qint64 minimum, qint64 maximum) const
{
    Result<qint64> value = integer(key);
    PELLWICK_TRY(value);
    if (*value < minimum || *value > maximum) {
        return failure(dataCorrupted(
            keyPath(key),
            QStringLiteral("%1 is outside %2 to %3.").arg(*value).arg(minimum).arg(maximum)));
    }
    return value;
}

Result<qint64> ObjectReader::byteCount(const QString &key) const
{
    return integer(key, 0, std::numeric_limits<qint64>::max());
}

Result<Date> ObjectReader::unixDate(const QString &key) const
{
    // 0001-01-01T00:00:00Z and 10000-01-01T00:00:00Z in seconds since 1970.
    constexpr double earliest = -62'135'596'800.0;
    constexpr double end = 253'402'300'800.0;
    Result<double> seconds = number(key);
    PELLWICK_TRY(seconds);
    if (!(*seconds >= earliest && *seconds < end)) {
        return failure(dataCorrupted(
            keyPath(key),
            QStringLiteral("%1 is not a date within the years 1 to 9999.").arg(*seconds)));
    }
    return Date::fromUnixSeconds(*seconds);
}

Result<double> ObjectReader::number(const QString &key) const
{
    return required(key, &readNumber);
}

Result<bool> ObjectReader::boolean(const QString &key) const
{
    return required(key, &readBoolean);
}

Result<ObjectReader> ObjectReader::object(const QString &key) const
{
    PELLWICK_TRY_ASSIGN(QJsonValue found, value(key));
    PELLWICK_TRY_ASSIGN(QJsonObject object, readObject(found, keyPath(key)));
    return ObjectReader(object, keyPath(key));
}

Result<QJsonArray> ObjectReader::array(const QString &key) const
{
    return required(key, &readArray);
}

Result<std::optional<QString>> ObjectReader::optionalString(const QString &key) const
{
    return optional<QString>(key, &ObjectReader::string);
}

Result<std::optional<qint64>> ObjectReader::optionalInteger(const QString &key) const
{
    return optional<qint64>(key, &ObjectReader::integer);
}

Result<std::optional<qint64>> ObjectReader::optionalByteCount(const QString &key) const
{
    return optional<qint64>(key, &ObjectReader::byteCount);
}

Result<std::optional<double>> ObjectReader::optionalNumber(const QString &key) const
{
    return optional<double>(key, &ObjectReader::number);
}

Result<std::optional<bool>> ObjectReader::optionalBoolean(const QString &key) const
{
    return optional<bool>(key, &ObjectReader::boolean);
}

Result<std::optional<ObjectReader>> ObjectReader::optionalObject(const QString &key) const
{
    return optional<ObjectReader>(key, &ObjectReader::object);
}

Result<std::optional<QJsonArray>> ObjectReader::optionalArray(const QString &key) const
{
    return optional<QJsonArray>(key, &ObjectReader::array);
}

} // namespace Pellwick::Json
