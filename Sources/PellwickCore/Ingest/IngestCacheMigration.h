#pragma once

#include <QHash>
#include <QList>
#include <QString>

namespace Pellwick {

/// The result of a successful move of the Ingest Cache.
struct IngestCacheMigration
{
    QString oldRootURL; ///< the cache root that was copied
    QString newRootURL; ///< the target the cache was moved to
    /// Bytes of the source files that were missing in the target or differed from their copy
    /// when the move started (not the size of the whole cache).
    qint64 copiedByteCount = 0;
    /// Relative path of every file of the final snapshot to its content hash: the baseline of the
    /// retained old cache.
    QHash<QString, QString> fileHashes;

    bool operator==(const IngestCacheMigration &) const = default;
};

/// A file changed both in the retained old cache and in the active cache since the move.
struct IngestCacheMigrationConflict
{
    QString relativePath; ///< relative to both roots; also the conflict's identity
    QString oldURL;       ///< the file in the retained cache
    QString activeURL;    ///< the file with the same relative path in the active cache

    const QString &id() const { return relativePath; }

    bool operator==(const IngestCacheMigrationConflict &) const = default;
};

/// The outcome of synchronising the retained cache into the active one.
struct IngestCacheMigrationReconciliation
{
    qint64 synchronizedFileCount = 0; ///< files copied or replaced in the active cache
    /// Files changed on both sides, ascending by the retained file's path.
    QList<IngestCacheMigrationConflict> conflicts;

    bool operator==(const IngestCacheMigrationReconciliation &) const = default;
};

/// The user's choice for a conflict.
enum class IngestCacheMigrationConflictResolution {
    KeepOld,  ///< the active file becomes the retained version
    KeepNew,  ///< the retained file becomes the active version
    KeepBoth, ///< the retained version is saved beside the active file as a conflict copy
};

} // namespace Pellwick
