#include <PellwickCore/Support/Date.h>
#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/OrderedJson.h>

#include <QTest>

#include <cmath>
#include <limits>

using namespace Pellwick;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(Json::OrderedJson)

class JsonTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requiredKeysFailWithTheirPath();
    void optionalKeysTreatAbsentAndNullAlike();
    void integersMustBeWholeAndFit_data();
    void integersMustBeWholeAndFit();
    void booleansMustBeBooleans();
    void unknownKeysAreIgnored();
    void arraysNameTheFailingElement();
    void nonFiniteNumbersAreRefused();
    void prettyOutputHasSortedKeys();
    void orderedObjectsKeepTheirMemberOrder_data();
    void orderedObjectsKeepTheirMemberOrder();
    void datesRoundTripExactly();
};

namespace {

Json::ObjectReader reader(const char *json)
{
    Result<QJsonObject> object = Json::parseObject(QByteArray(json));
    if (!object)
        qFatal("bad fixture");
    return Json::ObjectReader(*object);
}

const DecodingError *decodingError(const Error &error)
{
    return error.as<DecodingError>();
}

} // namespace

void JsonTests::requiredKeysFailWithTheirPath()
{
    const auto json = reader(R"({"user": {"id": 4, "name": null, "email": 7}})");
    Result<Json::ObjectReader> user = json.object(QStringLiteral("user"));
    QVERIFY(user);

    Result<QString> missing = user->string(QStringLiteral("display"));
    QVERIFY(!missing);
    QCOMPARE(decodingError(missing.error())->kind, DecodingError::Kind::KeyNotFound);
    QCOMPARE(decodingError(missing.error())->keyPath, QStringLiteral("user.display"));

    Result<QString> null = user->string(QStringLiteral("name"));
    QVERIFY(!null);
    QCOMPARE(decodingError(null.error())->kind, DecodingError::Kind::ValueNotFound);

    Result<QString> wrongType = user->string(QStringLiteral("email"));
    QVERIFY(!wrongType);
    QCOMPARE(decodingError(wrongType.error())->kind, DecodingError::Kind::TypeMismatch);
    QCOMPARE(decodingError(wrongType.error())->keyPath, QStringLiteral("user.email"));

    Result<QJsonObject> notAnObject = Json::parseObject("[1, 2]");
    QVERIFY(!notAnObject);
    Result<QJsonObject> notJson = Json::parseObject("{\"a\": ");
    QVERIFY(!notJson);
    QCOMPARE(decodingError(notJson.error())->kind, DecodingError::Kind::DataCorrupted);
}

void JsonTests::optionalKeysTreatAbsentAndNullAlike()
{
    const auto json = reader(R"({"a": null, "c": "x", "d": 5})");
    QCOMPARE(*json.optionalString(QStringLiteral("a")), std::nullopt);
    QCOMPARE(*json.optionalString(QStringLiteral("b")), std::nullopt);
    QCOMPARE(*json.optionalString(QStringLiteral("c")),
             std::optional<QString>(QStringLiteral("x")));
    // Present with the wrong type is still a failure, not "absent".
    QVERIFY(!json.optionalString(QStringLiteral("d")));
}

void JsonTests::integersMustBeWholeAndFit_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qint64>("value");
    QTest::newRow("small") << QByteArray(R"({"n": 42})") << true << qint64(42);
    QTest::newRow("negative") << QByteArray(R"({"n": -7})") << true << qint64(-7);
    QTest::newRow("whole written as decimal") << QByteArray(R"({"n": 3.0})") << true << qint64(3);
    QTest::newRow("beyond 2^53 keeps every digit")
        << QByteArray(R"({"n": 9007199254740993})") << true << qint64(9007199254740993LL);
    QTest::newRow("largest 64-bit") << QByteArray(R"({"n": 9223372036854775807})") << true
                                    << std::numeric_limits<qint64>::max();
    QTest::newRow("fraction") << QByteArray(R"({"n": 3.5})") << false << qint64(0);
    QTest::newRow("beyond 64 bits") << QByteArray(R"({"n": 1e30})") << false << qint64(0);
    QTest::newRow("string") << QByteArray(R"({"n": "5"})") << false << qint64(0);
    QTest::newRow("boolean") << QByteArray(R"({"n": true})") << false << qint64(0);
}

void JsonTests::integersMustBeWholeAndFit()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, accepted);
    QFETCH(qint64, value);
    Result<QJsonObject> object = Json::parseObject(json);
    QVERIFY(object);
    Result<qint64> n = Json::ObjectReader(*object).integer(QStringLiteral("n"));
    QCOMPARE(bool(n), accepted);
    if (accepted)
        QCOMPARE(*n, value);
    else
        QCOMPARE(decodingError(n.error())->keyPath, QStringLiteral("n"));
}

void JsonTests::booleansMustBeBooleans()
{
    const auto json = reader(R"({"yes": true, "one": 1, "text": "true"})");
    QCOMPARE(*json.boolean(QStringLiteral("yes")), true);
    QVERIFY(!json.boolean(QStringLiteral("one")));
    QVERIFY(!json.boolean(QStringLiteral("text")));
}

void JsonTests::unknownKeysAreIgnored()
{
    const auto json = reader(R"({"id": 1, "future_field": {"deep": [1, 2]}})");
    QCOMPARE(*json.integer(QStringLiteral("id")), 1);
}

void JsonTests::arraysNameTheFailingElement()
{
    const auto json = reader(R"({"items": [{"size": 1}, {"size": 2}, {"size": "x"}]})");
    Result<QList<qint64>> sizes = json.elements<qint64>(
        QStringLiteral("items"),
        [](const QJsonValue &value, const QString &path) -> Result<qint64> {
            PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(value, path));
            return Json::ObjectReader(object, path).integer(QStringLiteral("size"));
        });
    QVERIFY(!sizes);
    QCOMPARE(decodingError(sizes.error())->keyPath, QStringLiteral("items[2].size"));
}

void JsonTests::nonFiniteNumbersAreRefused()
{
    QJsonObject inner{{QStringLiteral("ok"), 1.5}, {QStringLiteral("bad"), std::nan("")}};
    QJsonObject record{{QStringLiteral("inner"), inner}};
    Result<QByteArray> written = Json::serialize(record, Json::Format::Pretty);
    QVERIFY(!written);
    QCOMPARE(decodingError(written.error())->keyPath, QStringLiteral("inner.bad"));

    QJsonArray list{1, std::numeric_limits<double>::infinity()};
    QVERIFY(!Json::serialize(list));
}

void JsonTests::prettyOutputHasSortedKeys()
{
    QJsonObject record{{QStringLiteral("zeta"), 1}, {QStringLiteral("alpha"), 2}};
    Result<QByteArray> written = Json::serialize(record, Json::Format::Pretty);
    QVERIFY(written);
    QVERIFY(written->indexOf("alpha") < written->indexOf("zeta"));
    QVERIFY(written->contains('\n'));
}

void JsonTests::orderedObjectsKeepTheirMemberOrder_data()
{
    using Json::OrderedJson;
    QTest::addColumn<OrderedJson>("value");
    QTest::addColumn<QByteArray>("text");    // empty: refused
    QTest::addColumn<QString>("failedPath"); // the non-finite number's place
    const double infinity = std::numeric_limits<double>::infinity();
    QTest::newRow("unsorted keys") << OrderedJson::object({{u"z"_s, 1}, {u"a"_s, true}})
                                   << QByteArray(R"({"z":1,"a":true})") << QString();
    QTest::newRow("nested") << OrderedJson::object(
        {{u"b"_s, OrderedJson::Array{OrderedJson::object({{u"y"_s, u"\"q\""_s}, {u"x"_s, 2.5}})}},
         {u"a"_s, OrderedJson::Object{}}})
                            << QByteArray(R"({"b":[{"y":"\"q\"","x":2.5}],"a":{}})") << QString();
    QTest::newRow("large integers stay exact")
        << OrderedJson::object({{u"n"_s, qint64(9'007'199'254'740'993)}})
        << QByteArray(R"({"n":9007199254740993})") << QString();
    QTest::newRow("non-finite member")
        << OrderedJson::object({{u"size"_s, infinity}}) << QByteArray() << u"size"_s;
    QTest::newRow("non-finite in a nested element") << OrderedJson::object(
        {{u"parts"_s, OrderedJson::Array{1, OrderedJson::object({{u"n"_s, -infinity}})}}})
                                                    << QByteArray() << u"parts[1].n"_s;
    QTest::newRow("NaN inside a Qt object")
        << OrderedJson::object({{u"q"_s, QJsonValue(QJsonObject{{u"k"_s, std::nan("")}})}})
        << QByteArray() << u"q.k"_s;
}

void JsonTests::orderedObjectsKeepTheirMemberOrder()
{
    QFETCH(Json::OrderedJson, value);
    QFETCH(QByteArray, text);
    QFETCH(QString, failedPath);
    Result<QByteArray> written = value.serialize();
    if (text.isEmpty()) {
        QVERIFY(!written);
        QCOMPARE(written.error().as<DecodingError>()->keyPath, failedPath);
        return;
    }
    QVERIFY(written);
    QCOMPARE(*written, text);
    // Qt's form holds the same members.
    QCOMPARE(Json::parseValue(text).value(), value.toJsonValue());
}

void JsonTests::datesRoundTripExactly()
{
    // A value with a fractional part that decimal printing could lose.
    const Date date{786297600.123456789};
    QJsonObject record{{QStringLiteral("date"), date.secondsSinceReferenceDate}};
    Result<QByteArray> written = Json::serialize(record);
    QVERIFY(written);
    Result<QJsonObject> readBack = Json::parseObject(*written);
    QVERIFY(readBack);
    QCOMPARE(Json::ObjectReader(*readBack).number(QStringLiteral("date")).value(),
             date.secondsSinceReferenceDate);

    QCOMPARE(Date::fromUnixSeconds(978307200.0).secondsSinceReferenceDate, 0.0);
    QCOMPARE(Date{0}.toDateTime().toString(Qt::ISODate), QStringLiteral("2001-01-01T00:00:00Z"));
}

QTEST_GUILESS_MAIN(JsonTests)
#include "JsonTests.moc"
