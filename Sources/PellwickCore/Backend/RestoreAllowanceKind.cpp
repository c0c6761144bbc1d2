#include "RestoreAllowanceKind.h"

namespace Pellwick {

QString toRaw(RestoreAllowanceKind kind)
{
    switch (kind) {
    case RestoreAllowanceKind::Trial:
        return QStringLiteral("trial");
    case RestoreAllowanceKind::Paid:
        return QStringLiteral("paid");
    }
    return {};
}

std::optional<RestoreAllowanceKind> restoreAllowanceKindFromRaw(const QString &raw)
{
    for (const RestoreAllowanceKind kind :
         {RestoreAllowanceKind::Trial, RestoreAllowanceKind::Paid}) {
        if (raw == toRaw(kind))
            return kind;
    }
    return std::nullopt;
}

} // namespace Pellwick
