#include "HttpHeaders.h"

namespace Pellwick {

namespace {

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

void HttpHeaders::set(const QByteArray &name, const QByteArray &value)
{
    for (Field &field : m_fields) {
        if (sameName(field.first, name)) {
            field.second = value;
            return;
        }
    }
    m_fields.append({name, value});
}

void HttpHeaders::append(const QByteArray &name, const QByteArray &value)
{
    m_fields.append({name, value});
}

std::optional<QByteArray> HttpHeaders::value(const QByteArray &name) const
{
    for (const Field &field : m_fields) {
        if (sameName(field.first, name))
            return field.second;
    }
    return std::nullopt;
}

QList<QByteArray> HttpHeaders::values(const QByteArray &name) const
{
    QList<QByteArray> found;
    for (const Field &field : m_fields) {
        if (sameName(field.first, name))
            found.append(field.second);
    }
    return found;
}

} // namespace Pellwick
