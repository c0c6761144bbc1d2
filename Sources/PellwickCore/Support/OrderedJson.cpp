#include "OrderedJson.h"

#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/Overloaded.h>

#include <QJsonArray>
#include <QJsonObject>

namespace Pellwick::Json {

OrderedJson::OrderedJson(QJsonValue value)
    : m_value(std::move(value))
{}

OrderedJson::OrderedJson(const QString &value)
    : m_value(QJsonValue(value))
{}

OrderedJson::OrderedJson(qint64 value)
    : m_value(QJsonValue(value))
{}

OrderedJson::OrderedJson(int value)
    : m_value(QJsonValue(value))
{}

OrderedJson::OrderedJson(double value)
    : m_value(QJsonValue(value))
{}

OrderedJson::OrderedJson(bool value)
    : m_value(QJsonValue(value))
{}

OrderedJson::OrderedJson(Object members)
    : m_value(std::move(members))
{}

OrderedJson::OrderedJson(Array elements)
    : m_value(std::move(elements))
{}

OrderedJson OrderedJson::object(std::initializer_list<Member> members)
{
    return OrderedJson(Object(members));
}

Result<QByteArray> OrderedJson::serialize() const
{
    QByteArray out;
    PELLWICK_TRY(write(out, QString()));
    return out;
}

Result<void> OrderedJson::write(QByteArray &out, const QString &path) const
{
    return std::visit(
        Overloaded{
            [&](const QJsonValue &value) -> Result<void> {
                Result<QByteArray> text = Json::serialize(value);
                if (!text) {
                    // Name the value's place in the whole document.
                    DecodingError error = *text.error().as<DecodingError>();
                    const bool nested = !error.keyPath.isEmpty() && !error.keyPath.startsWith(u'[');
                    error.keyPath = nested ? childPath(path, error.keyPath) : path + error.keyPath;
                    return failure(error);
                }
                out += *text;
                return {};
            },
            [&](const Object &members) -> Result<void> {
                out += '{';
                for (size_t i = 0; i < members.size(); ++i) {
                    if (i > 0)
                        out += ',';
                    Result<QByteArray> key = Json::serialize(QJsonValue(members[i].key));
                    PELLWICK_TRY(key);
                    out += *key + ':';
                    PELLWICK_TRY(members[i].value.write(out, childPath(path, members[i].key)));
                }
                out += '}';
                return {};
            },
            [&](const Array &elements) -> Result<void> {
                out += '[';
                for (size_t i = 0; i < elements.size(); ++i) {
                    if (i > 0)
                        out += ',';
                    PELLWICK_TRY(
                        elements[i].write(out, elementPath(path, static_cast<qsizetype>(i))));
                }
                out += ']';
                return {};
            },
        },
        m_value);
}

QJsonValue OrderedJson::toJsonValue() const
{
    return std::visit(Overloaded{
                          [](const QJsonValue &value) { return value; },
                          [](const Object &members) {
                              QJsonObject object;
                              for (const Member &member : members)
                                  object.insert(member.key, member.value.toJsonValue());
                              return QJsonValue(object);
                          },
                          [](const Array &elements) {
                              QJsonArray array;
                              for (const OrderedJson &element : elements)
                                  array.append(element.toJsonValue());
                              return QJsonValue(array);
                          },
                      },
                      m_value);
}

} // namespace Pellwick::Json
