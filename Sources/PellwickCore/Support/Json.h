#pragma once

#include <PellwickCore/Support/Date.h>
#include <PellwickCore/Support/Result.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QStringList>

#include <optional>
#include <type_traits>

namespace Pellwick::Json {

/// Parses a JSON document whose top level must be an object.
[[nodiscard]] Result<QJsonObject> parseObject(const QByteArray &data);
/// Parses a JSON document of any top-level value.
[[nodiscard]] Result<QJsonValue> parseValue(const QByteArray &data);

enum class Format {
    Compact,
    Pretty, ///< indented; keys are always written in sorted order
};

/// Serialises `value`. Fails with a `DecodingError` (data corrupted) naming the key path of the
/// first non-finite number instead of silently writing `null` for it.
[[nodiscard]] Result<QByteArray> serialize(const QJsonValue &value,
                                           Format format = Format::Compact);

/// Builds the decoding failures used by the readers, for callers with rules of their own.
DecodingError typeMismatch(const QString &keyPath, const QString &expected);
DecodingError dataCorrupted(const QString &keyPath, const QString &description);
/// The failure for a string that names no case of the enumeration `typeName`.
DecodingError invalidRawValue(const QString &keyPath, const QString &typeName, const QString &word);

QString childPath(const QString &path, const QString &key);
QString elementPath(const QString &path, qsizetype index);

// Readers of single values; `path` names the value in failures.
[[nodiscard]] Result<QString> readString(const QJsonValue &value, const QString &path);
/// A whole number within 64 bits; 3.0 is accepted, 3.5 is not.
[[nodiscard]] Result<qint64> readInteger(const QJsonValue &value, const QString &path);
/// A finite number.
[[nodiscard]] Result<double> readNumber(const QJsonValue &value, const QString &path);
[[nodiscard]] Result<bool> readBoolean(const QJsonValue &value, const QString &path);
[[nodiscard]] Result<QJsonObject> readObject(const QJsonValue &value, const QString &path);
[[nodiscard]] Result<QJsonArray> readArray(const QJsonValue &value, const QString &path);

/// The stored text of a file URL: the absolute `path` as a fully encoded "file://" URL.
QString fileURLText(const QString &path);
/// Reads a "file:" URL with no host and an absolute path without NUL; gives the path cleaned of
/// "." and ".." components. Anything else (an "http:" URL, a relative reference) is corrupted
/// data: such a URL could later name files that are removed.
[[nodiscard]] Result<QString> readFileURL(const QJsonValue &value, const QString &path);

/// Names the one case of an enumeration with payloads stored as {"<case>": {...}}: of the keys
/// listed in `cases`, exactly one must be present (other keys are neither counted nor read);
/// otherwise a type mismatch at `path` with "Invalid number of keys found, expected one.".
[[nodiscard]] Result<QString>
readCaseKey(const QJsonObject &object, const QStringList &cases, const QString &path);

/// Reads every element of `array` with `readElement(value, elementPath)`; stops at the first failure.
template<typename T, typename F>
[[nodiscard]] Result<QList<T>>
readElements(const QJsonArray &array, const QString &path, F &&readElement)
{
    QList<T> out;
    out.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        PELLWICK_TRY_ASSIGN(T element, readElement(array.at(i), elementPath(path, i)));
        out.append(std::move(element));
    }
    return out;
}

/// Strict, path-aware access to the keys of one JSON object.
/// Required keys fail when absent (key not found) or null (value not found); optional keys give
/// no value when absent or null; a key of the wrong JSON type fails with a type mismatch; keys
/// the reader is not asked about are ignored.
class ObjectReader
{
public:
    explicit ObjectReader(QJsonObject object, QString path = {});

    const QJsonObject &jsonObject() const { return m_object; }

    const QString &path() const { return m_path; }

    QString keyPath(const QString &key) const { return childPath(m_path, key); }

    /// True when the key is present and not null.
    bool has(const QString &key) const;

    [[nodiscard]] Result<QJsonValue> value(const QString &key) const;

    [[nodiscard]] Result<QString> string(const QString &key) const;
    [[nodiscard]] Result<qint64> integer(const QString &key) const;
    [[nodiscard]] Result<double> number(const QString &key) const;
    [[nodiscard]] Result<bool> boolean(const QString &key) const;
    [[nodiscard]] Result<ObjectReader> object(const QString &key) const;
    [[nodiscard]] Result<QJsonArray> array(const QString &key) const;

    /// A whole number within [`minimum`, `maximum`]; outside it is data corrupted at the key.
    [[nodiscard]] Result<qint64> integer(const QString &key, qint64 minimum, qint64 maximum) const;
    /// A byte count or size: a whole number of zero or more.
    [[nodiscard]] Result<qint64> byteCount(const QString &key) const;
    /// Seconds since 1970 as a finite number within the years 1 to 9999.
    [[nodiscard]] Result<Date> unixDate(const QString &key) const;

    [[nodiscard]] Result<std::optional<QString>> optionalString(const QString &key) const;
    [[nodiscard]] Result<std::optional<qint64>> optionalInteger(const QString &key) const;
    [[nodiscard]] Result<std::optional<qint64>> optionalByteCount(const QString &key) const;
    [[nodiscard]] Result<std::optional<double>> optionalNumber(const QString &key) const;
    [[nodiscard]] Result<std::optional<bool>> optionalBoolean(const QString &key) const;
    [[nodiscard]] Result<std::optional<ObjectReader>> optionalObject(const QString &key) const;
    [[nodiscard]] Result<std::optional<QJsonArray>> optionalArray(const QString &key) const;

    /// Reads the array under `key` element by element.
    template<typename T, typename F>
    [[nodiscard]] Result<QList<T>> elements(const QString &key, F &&readElement) const
    {
        PELLWICK_TRY_ASSIGN(QJsonArray items, array(key));
        return readElements<T>(items, keyPath(key), std::forward<F>(readElement));
    }

private:
    template<typename T>
    Result<std::optional<T>> optional(const QString &key,
                                      Result<T> (ObjectReader::*read)(const QString &) const) const;

    template<typename T>
    Result<T> required(const QString &key,
                       Result<T> (*read)(const QJsonValue &, const QString &)) const;

    QJsonObject m_object;
    QString m_path;
};

/// Reads the string under `key` and turns it into an enumeration case with `fromRaw`; a word
/// that names no case fails with `invalidRawValue`.
template<typename F>
[[nodiscard]] auto
readRawValue(const ObjectReader &reader, const QString &key, const QString &typeName, F &&fromRaw)
    -> Result<typename std::invoke_result_t<F, const QString &>::value_type>
{
    PELLWICK_TRY_ASSIGN(QString word, reader.string(key));
    if (auto value = std::forward<F>(fromRaw)(word))
        return *value;
    return tl::unexpected<Error>(invalidRawValue(reader.keyPath(key), typeName, word));
}

} // namespace Pellwick::Json
