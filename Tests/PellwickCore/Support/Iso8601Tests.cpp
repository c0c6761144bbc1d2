#include <PellwickCore/Support/Iso8601.h>

#include <QJsonObject>
#include <QTest>

using namespace Pellwick;

class Iso8601Tests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void acceptedForms_data();
    void acceptedForms();
    void refusedForms_data();
    void refusedForms();
    void fractionMustMatchTheRequestedForm();
    void nonStringsAreTypeMismatches();
};

namespace {

Date utc(int year, int month, int day, int hour, int minute, int second, double fraction = 0)
{
    const QDateTime dateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
    return Date{Date::fromDateTime(dateTime).secondsSinceReferenceDate + fraction};
}

} // namespace

void Iso8601Tests::acceptedForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Date>("expected");
    QTest::newRow("whole seconds in UTC")
        << QStringLiteral("2025-03-01T12:00:00Z") << utc(2025, 3, 1, 12, 0, 0);
    QTest::newRow("quarter second kept")
        << QStringLiteral("2025-03-01T12:00:00.250Z") << utc(2025, 3, 1, 12, 0, 0, 0.25);
    QTest::newRow("one fractional digit")
        << QStringLiteral("2025-03-01T12:00:00.5Z") << utc(2025, 3, 1, 12, 0, 0, 0.5);
    QTest::newRow("positive offset is honoured")
        << QStringLiteral("2025-03-01T12:00:00+02:00") << utc(2025, 3, 1, 10, 0, 0);
    QTest::newRow("negative offset crosses midnight")
        << QStringLiteral("2025-02-28T23:30:00-01:45") << utc(2025, 3, 1, 1, 15, 0);
    QTest::newRow("offset with fraction")
        << QStringLiteral("2025-03-01T12:00:00.125+00:30") << utc(2025, 3, 1, 11, 30, 0, 0.125);
    QTest::newRow("leap day") << QStringLiteral("2024-02-29T00:00:00Z")
                              << utc(2024, 2, 29, 0, 0, 0);
    QTest::newRow("before the reference date")
        << QStringLiteral("1999-12-31T23:59:59Z") << utc(1999, 12, 31, 23, 59, 59);
}

void Iso8601Tests::acceptedForms()
{
    QFETCH(QString, text);
    QFETCH(Date, expected);
    Result<Date> date
        = Iso8601::readDate(QJsonValue(text), QStringLiteral("capability_expires_at"));
    QVERIFY2(date, qPrintable(date ? QString() : describe(date.error())));
    QCOMPARE(date->secondsSinceReferenceDate, expected.secondsSinceReferenceDate);
}

void Iso8601Tests::refusedForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("date without time") << QStringLiteral("2025-03-01");
    QTest::newRow("blank separator, no zone") << QStringLiteral("2025-03-01 12:00:00");
    QTest::newRow("no zone, read as local time elsewhere") << QStringLiteral("2025-03-01T12:00:00");
    QTest::newRow("no seconds") << QStringLiteral("2025-03-01T12:00Z");
    QTest::newRow("dot without digits") << QStringLiteral("2025-03-01T12:00:00.Z");
    QTest::newRow("offset without colon") << QStringLiteral("2025-03-01T12:00:00+0200");
    QTest::newRow("offset hours only") << QStringLiteral("2025-03-01T12:00:00+02");
    QTest::newRow("offset beyond a day") << QStringLiteral("2025-03-01T12:00:00+24:00");
    QTest::newRow("lower-case separator") << QStringLiteral("2025-03-01t12:00:00Z");
    QTest::newRow("lower-case zone") << QStringLiteral("2025-03-01T12:00:00z");
    QTest::newRow("day not in month") << QStringLiteral("2025-02-29T12:00:00Z");
    QTest::newRow("month thirteen") << QStringLiteral("2025-13-01T12:00:00Z");
    QTest::newRow("hour 24") << QStringLiteral("2025-03-01T24:00:00Z");
    QTest::newRow("second 60") << QStringLiteral("2025-03-01T12:00:60Z");
    QTest::newRow("two-digit year") << QStringLiteral("25-03-01T12:00:00Z");
    QTest::newRow("trailing text") << QStringLiteral("2025-03-01T12:00:00Z ");
    QTest::newRow("leading blank") << QStringLiteral(" 2025-03-01T12:00:00Z");
    QTest::newRow("non-ASCII digits") << QStringLiteral("٢٠٢٥-03-01T12:00:00Z");
    QTest::newRow("empty") << QString();
}

void Iso8601Tests::refusedForms()
{
    QFETCH(QString, text);
    Result<Date> date = Iso8601::readDate(QJsonValue(text), QStringLiteral("downloads[0].x"));
    QVERIFY(!date);
    const DecodingError *error = date.error().as<DecodingError>();
    QVERIFY(error);
    QCOMPARE(error->kind, DecodingError::Kind::DataCorrupted);
    QCOMPARE(error->keyPath, QStringLiteral("downloads[0].x"));
    QCOMPARE(error->description, QStringLiteral("Expected ISO 8601 date string"));
}

void Iso8601Tests::fractionMustMatchTheRequestedForm()
{
    using Iso8601::FractionalSeconds;
    QVERIFY(!Iso8601::parseInternetDateTime(u"2025-03-01T12:00:00Z", FractionalSeconds::Required));
    QVERIFY(!Iso8601::parseInternetDateTime(u"2025-03-01T12:00:00.5Z", FractionalSeconds::Absent));
    QVERIFY(Iso8601::parseInternetDateTime(u"2025-03-01T12:00:00.5Z", FractionalSeconds::Required));
    QVERIFY(Iso8601::parseInternetDateTime(u"2025-03-01T12:00:00Z", FractionalSeconds::Absent));
}

void Iso8601Tests::nonStringsAreTypeMismatches()
{
    Result<Date> number = Iso8601::readDate(QJsonValue(1740830400), QStringLiteral("when"));
    QVERIFY(!number);
    QCOMPARE(number.error().as<DecodingError>()->kind, DecodingError::Kind::TypeMismatch);
    QCOMPARE(number.error().as<DecodingError>()->keyPath, QStringLiteral("when"));

    Result<Date> object = Iso8601::readDate(QJsonValue(QJsonObject()), QStringLiteral("when"));
    QVERIFY(!object);
    QCOMPARE(object.error().as<DecodingError>()->kind, DecodingError::Kind::TypeMismatch);
}

QTEST_GUILESS_MAIN(Iso8601Tests)
#include "Iso8601Tests.moc"
