#pragma once

#include <PellwickApp/Stores/IngestCacheLocationStoring.h>

#include <QMutex>

namespace Pellwick {

/// Keeps the locations in this process only; starts empty at every launch. Thread-safe.
class InMemoryIngestCacheLocationStore final : public IngestCacheLocationStoring
{
public:
    QString load(const QString &defaultURL) const override;
    bool hasSavedLocation() const override;
    Result<void> save(const QString &url) const override;
    std::optional<QString> retained() const override;
    Result<void> saveRetained(const std::optional<QString> &url) const override;
    QHash<QString, QString> retainedManifest() const override;
    /// None stores the empty manifest.
    Result<void>
    saveRetainedManifest(const std::optional<QHash<QString, QString>> &manifest) const override;
    std::optional<PendingMigration> pendingMigration() const override;
    Result<void>
    savePendingMigration(const std::optional<PendingMigration> &migration) const override;

private:
    mutable QMutex m_mutex;
    mutable std::optional<QString> m_location;
    mutable std::optional<QString> m_retainedLocation;
    mutable QHash<QString, QString> m_manifest;
    mutable std::optional<PendingMigration> m_migration;
};

} // namespace Pellwick
