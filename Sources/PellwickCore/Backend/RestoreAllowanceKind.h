#pragma once

#include <QString>

#include <optional>

namespace Pellwick {

/// Which restore allowance a refused restore ran out of. The raw values are the wire words.
enum class RestoreAllowanceKind {
    Trial,
    Paid,
};

QString toRaw(RestoreAllowanceKind kind);
/// Exact, case-sensitive match against the wire words "trial" and "paid".
std::optional<RestoreAllowanceKind> restoreAllowanceKindFromRaw(const QString &raw);

} // namespace Pellwick
