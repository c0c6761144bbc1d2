#pragma once

#include <QByteArray>
#include <QList>

#include <optional>
#include <utility>

namespace Pellwick {

/// Header fields in the order they were set or received. Names compare without regard to case.
class HttpHeaders
{
public:
    using Field = std::pair<QByteArray, QByteArray>;

    /// Replaces the value of an existing field of that name, else appends the field.
    void set(const QByteArray &name, const QByteArray &value);
    /// Appends a field even when one of that name exists (for repeated response fields).
    void append(const QByteArray &name, const QByteArray &value);
    /// The first value of the field, or no value when absent.
    std::optional<QByteArray> value(const QByteArray &name) const;
    /// Every value of the field, in order.
    QList<QByteArray> values(const QByteArray &name) const;

    bool contains(const QByteArray &name) const { return value(name).has_value(); }

    const QList<Field> &fields() const { return m_fields; }

    bool isEmpty() const { return m_fields.isEmpty(); }

    void clear() { m_fields.clear(); }

    bool operator==(const HttpHeaders &) const = default;

private:
    QList<Field> m_fields;
};

} // namespace Pellwick
