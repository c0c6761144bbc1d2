#pragma once

#include <QString>
#include <QUuid>

#include <optional>

namespace Pellwick {

/// The standard text form of a UUID as stored in records and folder names: 36 characters,
/// upper-case hexadecimal digits in groups of 8-4-4-4-12 joined by "-".
QString uuidText(const QUuid &uuid);
/// The UUID written in the standard form (digits of either case); nothing for any other text,
/// braces included.
std::optional<QUuid> uuidFromText(const QString &text);

} // namespace Pellwick
