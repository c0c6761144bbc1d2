#include "LibrarySessionClientError.h"

#include <PellwickCore/Support/Overloaded.h>

namespace Pellwick {

QString describe(const LibrarySessionClientError &error)
{
    using E = LibrarySessionClientError;
    return std::visit(
        Overloaded{
            [](const E::UnexpectedStatus &c) {
                return QStringLiteral("unexpected status %1").arg(c.statusCode);
            },
            [](const E::StorageFull &c) {
                return QStringLiteral("storage full (used %1 of %2, %3 remaining): %4")
                    .arg(c.state.usedBytes)
                    .arg(c.state.limitBytes)
                    .arg(c.state.remainingBytes)
                    .arg(c.state.message);
            },
            [](const E::RestoreAllowanceExceeded &c) {
                return QStringLiteral("restore allowance exceeded (%1)").arg(toRaw(c.kind));
            },
            [](const E::RestoreRequestFailed &c) {
                return QStringLiteral("restore request failed with status %1: %2 (%3)")
                    .arg(c.statusCode)
                    .arg(c.error, c.reason.value_or(QStringLiteral("no reason")));
            },
            [](const E::ImportUnavailable &) { return QStringLiteral("import unavailable"); },
            [](const E::RestoreUnavailableAfterGracePeriod &) {
                return QStringLiteral("restore unavailable after the billing grace period");
            },
        },
        error.value);
}

} // namespace Pellwick
