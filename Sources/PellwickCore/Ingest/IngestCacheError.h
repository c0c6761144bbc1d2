#pragma once

#include <QString>

#include <variant>

namespace Pellwick {

/// The failures of the Ingest Cache's copy-in, package, move and retained-cache operations.
struct IngestCacheError
{
    struct InsufficientCapacity
    {
        qint64 requiredBytes = 0;
        qint64 availableBytes = 0;
        bool operator==(const InsufficientCapacity &) const = default;
    };

    struct VerificationFailed
    {
        QString relativePath;
        bool operator==(const VerificationFailed &) const = default;
    };

    struct UnsupportedMigrationItem
    {
        QString relativePath;
        bool operator==(const UnsupportedMigrationItem &) const = default;
    };

    struct MigrationSourceChangedTooOften
    {
        QString relativePath;
        bool operator==(const MigrationSourceChangedTooOften &) const = default;
    };

    struct UnableToDetermineCapacity
    {
        bool operator==(const UnableToDetermineCapacity &) const = default;
    };

    struct MigrationTargetIsNotEmpty
    {
        bool operator==(const MigrationTargetIsNotEmpty &) const = default;
    };

    struct RetainedCacheConflicts
    {
        bool operator==(const RetainedCacheConflicts &) const = default;
    };

    struct InvalidMigrationTarget
    {
        bool operator==(const InvalidMigrationTarget &) const = default;
    };

    struct MigrationSourceIsUnavailable
    {
        bool operator==(const MigrationSourceIsUnavailable &) const = default;
    };

    struct PackageOutsideActiveRoot
    {
        bool operator==(const PackageOutsideActiveRoot &) const = default;
    };

    std::variant<InsufficientCapacity,
                 VerificationFailed,
                 UnsupportedMigrationItem,
                 MigrationSourceChangedTooOften,
                 UnableToDetermineCapacity,
                 MigrationTargetIsNotEmpty,
                 RetainedCacheConflicts,
                 InvalidMigrationTarget,
                 MigrationSourceIsUnavailable,
                 PackageOutsideActiveRoot>
        value;

    bool operator==(const IngestCacheError &) const = default;
};

} // namespace Pellwick
