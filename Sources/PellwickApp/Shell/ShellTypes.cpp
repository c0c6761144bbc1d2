#include "ShellTypes.h"

namespace Pellwick {

QString toRaw(ShellStatus status)
{
    switch (status) {
    case ShellStatus::Checking:
        return QStringLiteral("Checking backend");
    case ShellStatus::Reachable:
        return QStringLiteral("Backend reachable");
    case ShellStatus::Unreachable:
        return QStringLiteral("Backend unreachable");
    }
    return {};
}

std::optional<ShellStatus> shellStatusFromRaw(const QString &raw)
{
    for (ShellStatus status :
         {ShellStatus::Checking, ShellStatus::Reachable, ShellStatus::Unreachable}) {
        if (toRaw(status) == raw)
            return status;
    }
    return std::nullopt;
}

} // namespace Pellwick
