#pragma once

#include <QDateTime>

#include <compare>

namespace Pellwick {

/// A point in time as seconds since 2001-01-01 00:00:00 UTC, the form record files store.
/// Keeps the double exactly, so a stored value reads back bit for bit.
struct Date
{
    double secondsSinceReferenceDate = 0;

    /// Seconds between 1970-01-01 and 2001-01-01 UTC.
    static constexpr double referenceDateUnixOffset = 978307200.0;

    static Date now();

    static Date fromUnixSeconds(double seconds) { return {seconds - referenceDateUnixOffset}; }

    static Date fromDateTime(const QDateTime &dateTime);

    /// A date long before any real one, for "no expiry known".
    static Date distantPast() { return {-63114076800.0}; }

    double unixSeconds() const { return secondsSinceReferenceDate + referenceDateUnixOffset; }

    /// The date in UTC, to the millisecond.
    QDateTime toDateTime() const;

    Date addingSeconds(double seconds) const { return {secondsSinceReferenceDate + seconds}; }

    bool operator==(const Date &) const = default;

    // Written out: the defaulted form compares with a literal 0 that clang takes for a null pointer.
    std::partial_ordering operator<=>(const Date &other) const
    {
        return secondsSinceReferenceDate <=> other.secondsSinceReferenceDate;
    }
};

} // namespace Pellwick
