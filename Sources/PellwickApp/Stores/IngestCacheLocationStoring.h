#pragma once

#include <PellwickCore/Support/Result.h>

#include <QHash>
#include <QString>

#include <optional>

namespace Pellwick {

/// Remembers where the Ingest Cache is, the old cache retained after a move (with the content
/// hashes it had) and a move that is under way. Paths are absolute file-system paths. What cannot
/// be read reads as nothing stored; a write that did not reach durable storage fails.
class IngestCacheLocationStoring
{
public:
    /// A move of the Ingest Cache that was started and not yet finished.
    struct PendingMigration
    {
        QString oldRootURL; ///< the root being moved away from
        QString newRootURL; ///< the root being moved to

        bool operator==(const PendingMigration &) const = default;
    };

    IngestCacheLocationStoring() = default;
    IngestCacheLocationStoring(const IngestCacheLocationStoring &) = delete;
    IngestCacheLocationStoring &operator=(const IngestCacheLocationStoring &) = delete;
    virtual ~IngestCacheLocationStoring() = default;

    /// The saved location, else `defaultURL`.
    virtual QString load(const QString &defaultURL) const = 0;
    /// True when a location was saved.
    virtual bool hasSavedLocation() const = 0;
    [[nodiscard]] virtual Result<void> save(const QString &url) const = 0;
    /// The old cache kept after a move, or none.
    virtual std::optional<QString> retained() const = 0;
    /// None forgets the retained cache.
    [[nodiscard]] virtual Result<void> saveRetained(const std::optional<QString> &url) const = 0;
    /// The retained cache's relative paths to content hashes; empty when none is known.
    virtual QHash<QString, QString> retainedManifest() const = 0;
    /// None forgets the manifest.
    [[nodiscard]] virtual Result<void>
    saveRetainedManifest(const std::optional<QHash<QString, QString>> &manifest) const = 0;
    virtual std::optional<PendingMigration> pendingMigration() const = 0;
    /// None forgets the move.
    [[nodiscard]] virtual Result<void>
    savePendingMigration(const std::optional<PendingMigration> &migration) const = 0;
};

} // namespace Pellwick
