#pragma once

#include <PellwickCore/Support/ErrorCause.h>

#include <QString>
#include <QStringList>

#include <variant>

namespace Pellwick {

/// The failures of the Ingest Cache's copy-in, package, migration and retained-cache operations,
/// in this order.
struct IngestCacheError
{
    /// Free space is below the bytes to copy.
    struct InsufficientCapacity
    {
        qint64 requiredBytes = 0;
        qint64 availableBytes = 0;
        /// The folder the bytes were to go to: the cache, or the target of a move.
        QString folder = {};
        bool operator==(const InsufficientCapacity &) const = default;
    };

    /// A file could not be placed or verified; carries its path relative to the batch folder
    /// (or the file's name when it lies outside its source), and the failure of the copy when one
    /// stopped it.
    struct VerificationFailed
    {
        QString relativePath;
        ErrorCause cause;
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

    /// The volume reported no free space figure.
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

    /// The cache root cannot be read; carries the file system's failure when one was reported.
    struct MigrationSourceIsUnavailable
    {
        ErrorCause cause;
        bool operator==(const MigrationSourceIsUnavailable &) const = default;
    };

    /// A package to remove has a file outside the active cache root.
    struct PackageOutsideActiveRoot
    {
        bool operator==(const PackageOutsideActiveRoot &) const = default;
    };

    /// The retained cache changed while it was deleted, more often than a deletion brings over:
    /// it is kept with these files (relative paths, ascending), each whole in it.
    struct RetainedCacheChanged
    {
        QStringList remainingFiles;
        bool operator==(const RetainedCacheChanged &) const = default;
    };

    /// The retained cache is not where it was and its drive or share may be away: it cannot be
    /// told from a deleted one, so it is not taken for deleted.
    struct RetainedCacheNotFound
    {
        bool operator==(const RetainedCacheNotFound &) const = default;
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
                 PackageOutsideActiveRoot,
                 RetainedCacheChanged,
                 RetainedCacheNotFound>
        value;

    static IngestCacheError
    insufficientCapacity(qint64 requiredBytes, qint64 availableBytes, QString folder = {})
    {
        return {InsufficientCapacity{requiredBytes, availableBytes, std::move(folder)}};
    }

    static IngestCacheError verificationFailed(QString relativePath, ErrorCause cause = {})
    {
        return {VerificationFailed{std::move(relativePath), std::move(cause)}};
    }

    static IngestCacheError unsupportedMigrationItem(QString relativePath)
    {
        return {UnsupportedMigrationItem{std::move(relativePath)}};
    }

    static IngestCacheError migrationSourceChangedTooOften(QString relativePath)
    {
        return {MigrationSourceChangedTooOften{std::move(relativePath)}};
    }

    bool operator==(const IngestCacheError &) const = default;
};

/// Text for logs and test failure messages; never shown to the user.
QString describe(const IngestCacheError &error);

} // namespace Pellwick
