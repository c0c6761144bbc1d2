#pragma once

#include <PellwickCore/Support/Result.h>

#include <QJsonValue>
#include <QString>

#include <initializer_list>
#include <variant>
#include <vector>

namespace Pellwick::Json {

/// A JSON value to be written whose objects keep their members in the order they were given. A
/// `QJsonObject` sorts its keys, while wire formats fix an order of their own.
class OrderedJson
{
public:
    struct Member;
    using Object = std::vector<Member>;
    using Array = std::vector<OrderedJson>;

    /// Null.
    OrderedJson() = default;
    /// A string, number, boolean or null (an array or object inside `value` keeps Qt's order).
    OrderedJson(QJsonValue value); // NOLINT(google-explicit-constructor): values convert implicitly
    OrderedJson(const QString &value); // NOLINT(google-explicit-constructor)
    OrderedJson(qint64 value);         // NOLINT(google-explicit-constructor)
    OrderedJson(int value);            // NOLINT(google-explicit-constructor)
    OrderedJson(double value);         // NOLINT(google-explicit-constructor)
    OrderedJson(bool value);           // NOLINT(google-explicit-constructor)
    OrderedJson(Object members);       // NOLINT(google-explicit-constructor)
    OrderedJson(Array elements);       // NOLINT(google-explicit-constructor)

    /// An object of `members`, written in this order.
    static OrderedJson object(std::initializer_list<Member> members);

    /// Compact JSON text. Fails with a `DecodingError` (data corrupted) naming the key path of the
    /// first non-finite number instead of silently writing `null` for it.
    [[nodiscard]] Result<QByteArray> serialize() const;

    /// The same value as Qt's JSON type (whose objects sort their keys).
    QJsonValue toJsonValue() const;

private:
    [[nodiscard]] Result<void> write(QByteArray &out, const QString &path) const;

    std::variant<QJsonValue, Object, Array> m_value;
};

struct OrderedJson::Member
{
    QString key;
    OrderedJson value;
};

} // namespace Pellwick::Json
