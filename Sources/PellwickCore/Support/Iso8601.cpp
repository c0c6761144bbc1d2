#include "Iso8601.h"

#include "Json.h"

#include <QDate>

namespace Pellwick::Iso8601 {

namespace {

/// A left-to-right reader over the text that fails for good at the first unexpected character.
class Scanner
{
public:
    explicit Scanner(QStringView text)
        : m_text(text)
    {}

    bool atEnd() const { return m_position == m_text.size(); }

    bool peek(char16_t c) const { return !atEnd() && m_text[m_position].unicode() == c; }

    bool literal(char16_t c)
    {
        if (!peek(c))
            return false;
        ++m_position;
        return true;
    }

    /// Exactly `count` ASCII digits.
    std::optional<int> digits(int count)
    {
        int value = 0;
        for (int i = 0; i < count; ++i) {
            const std::optional<int> digit = nextDigit();
            if (!digit)
                return std::nullopt;
            value = value * 10 + *digit;
        }
        return value;
    }

    /// One or more ASCII digits read as the fraction of a second they spell after a ".".
    std::optional<double> fraction()
    {
        double value = 0;
        double scale = 0.1;
        int count = 0;
        while (const std::optional<int> digit = nextDigit()) {
            value += *digit * scale;
            scale /= 10;
            ++count;
        }
        if (count == 0)
            return std::nullopt;
        return value;
    }

private:
    std::optional<int> nextDigit()
    {
        if (atEnd())
            return std::nullopt;
        const char16_t c = m_text[m_position].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        ++m_position;
        return int(c - u'0');
    }

    QStringView m_text;
    qsizetype m_position = 0;
};

/// The zone's offset east of UTC in seconds: "Z", or a sign and "hh:mm".
std::optional<int> zoneOffsetSeconds(Scanner &scanner)
{
    if (scanner.literal(u'Z'))
        return 0;
    int sign = 0;
    if (scanner.literal(u'+'))
        sign = 1;
    else if (scanner.literal(u'-'))
        sign = -1;
    else
        return std::nullopt;
    const std::optional<int> hours = scanner.digits(2);
    if (!hours || !scanner.literal(u':'))
        return std::nullopt;
    const std::optional<int> minutes = scanner.digits(2);
    if (!minutes || *hours > 23 || *minutes > 59)
        return std::nullopt;
    return sign * (*hours * 3600 + *minutes * 60);
}

} // namespace

std::optional<Date> parseInternetDateTime(QStringView text, FractionalSeconds fraction)
{
    Scanner scanner(text);
    const std::optional<int> year = scanner.digits(4);
    if (!year || !scanner.literal(u'-'))
        return std::nullopt;
    const std::optional<int> month = scanner.digits(2);
    if (!month || !scanner.literal(u'-'))
        return std::nullopt;
    const std::optional<int> day = scanner.digits(2);
    if (!day || !scanner.literal(u'T'))
        return std::nullopt;
    const std::optional<int> hour = scanner.digits(2);
    if (!hour || !scanner.literal(u':'))
        return std::nullopt;
    const std::optional<int> minute = scanner.digits(2);
    if (!minute || !scanner.literal(u':'))
        return std::nullopt;
    const std::optional<int> second = scanner.digits(2);
    if (!second)
        return std::nullopt;

    double fractionOfSecond = 0;
    if (fraction == FractionalSeconds::Required) {
        if (!scanner.literal(u'.'))
            return std::nullopt;
        const std::optional<double> parsed = scanner.fraction();
        if (!parsed)
            return std::nullopt;
        fractionOfSecond = *parsed;
    } else if (scanner.peek(u'.')) {
        return std::nullopt;
    }

    const std::optional<int> offset = zoneOffsetSeconds(scanner);
    if (!offset || !scanner.atEnd())
        return std::nullopt;

    const QDate date(*year, *month, *day);
    if (!date.isValid() || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;

    static const qint64 referenceDay = QDate(2001, 1, 1).toJulianDay();
    const qint64 secondsOfDay = qint64(*hour) * 3600 + qint64(*minute) * 60 + *second;
    const qint64 wholeSeconds
        = (date.toJulianDay() - referenceDay) * 86400 + secondsOfDay - *offset;
    return Date{static_cast<double>(wholeSeconds) + fractionOfSecond};
}

Result<Date> readDate(const QJsonValue &value, const QString &path)
{
    PELLWICK_TRY_ASSIGN(QString text, Json::readString(value, path));
    if (std::optional<Date> date = parseInternetDateTime(text, FractionalSeconds::Required))
        return *date;
    if (std::optional<Date> date = parseInternetDateTime(text, FractionalSeconds::Absent))
        return *date;
    return failure(Json::dataCorrupted(path, QStringLiteral("Expected ISO 8601 date string")));
}

} // namespace Pellwick::Iso8601
