#pragma once

#include <PellwickCore/Support/Date.h>
#include <PellwickCore/Support/Result.h>

#include <QJsonValue>
#include <QStringView>

#include <optional>

namespace Pellwick::Iso8601 {

/// Whether an internet date-time must carry fractional seconds after its seconds.
enum class FractionalSeconds {
    Required, ///< "2025-03-01T12:00:00.250Z"; a time without a fraction does not parse
    Absent,   ///< "2025-03-01T12:00:00Z"; a time with a fraction does not parse
};

/// Parses an internet date-time: "YYYY-MM-DD", "T", "hh:mm:ss", the fraction as `fraction`
/// demands, then a zone that must be present: "Z" or an offset "+hh:mm" / "-hh:mm", which is
/// honoured. Unlike Qt's ISO date parsing, a date without a time and a time without a zone
/// (which Qt reads as local time) give no value, as does any field out of range or any
/// character left over. Fractional seconds are kept beyond the millisecond.
std::optional<Date> parseInternetDateTime(QStringView text, FractionalSeconds fraction);

/// Reads a JSON value as an expiry date: it must be a string (otherwise the reader's type
/// mismatch); it is parsed with fractional seconds first, then without; when neither parses, a
/// data-corrupted `DecodingError` at `path` described "Expected ISO 8601 date string".
[[nodiscard]] Result<Date> readDate(const QJsonValue &value, const QString &path);

} // namespace Pellwick::Iso8601
