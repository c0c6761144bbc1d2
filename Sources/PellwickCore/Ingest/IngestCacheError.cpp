#include "IngestCacheError.h"

#include <PellwickCore/Support/Overloaded.h>

namespace Pellwick {

QString describe(const IngestCacheError &error)
{
    using E = IngestCacheError;
    return std::visit(
        Overloaded{
            [](const E::InsufficientCapacity &c) {
                return QStringLiteral("insufficient capacity: %1 bytes required, %2 available")
                    .arg(c.requiredBytes)
                    .arg(c.availableBytes);
            },
            [](const E::VerificationFailed &c) {
                return QStringLiteral("verification failed for %1").arg(c.relativePath);
            },
            [](const E::UnsupportedMigrationItem &c) {
                return QStringLiteral("unsupported migration item %1").arg(c.relativePath);
            },
            [](const E::MigrationSourceChangedTooOften &c) {
                return QStringLiteral("migration source changed too often: %1").arg(c.relativePath);
            },
            [](const E::UnableToDetermineCapacity &) {
                return QStringLiteral("unable to determine capacity");
            },
            [](const E::MigrationTargetIsNotEmpty &) {
                return QStringLiteral("migration target is not empty");
            },
            [](const E::RetainedCacheConflicts &) {
                return QStringLiteral("retained cache conflicts");
            },
            [](const E::InvalidMigrationTarget &) {
                return QStringLiteral("invalid migration target");
            },
            [](const E::MigrationSourceIsUnavailable &) {
                return QStringLiteral("migration source is unavailable");
            },
            [](const E::PackageOutsideActiveRoot &) {
                return QStringLiteral("package outside the active cache root");
            },
            [](const E::RetainedCacheChanged &c) {
                return QStringLiteral("retained cache changed during its deletion: %1 kept")
                    .arg(c.remainingFiles.join(QStringLiteral(", ")));
            },
            [](const E::RetainedCacheNotFound &) {
                return QStringLiteral("retained cache not found; its drive may be away");
            },
        },
        error.value);
}

} // namespace Pellwick
