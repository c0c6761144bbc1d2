#include "InMemoryIngestCacheLocationStore.h"

namespace Pellwick {

QString InMemoryIngestCacheLocationStore::load(const QString &defaultURL) const
{
    const QMutexLocker locker(&m_mutex);
    return m_location.value_or(defaultURL);
}

bool InMemoryIngestCacheLocationStore::hasSavedLocation() const
{
    const QMutexLocker locker(&m_mutex);
    return m_location.has_value();
}

Result<void> InMemoryIngestCacheLocationStore::save(const QString &url) const
{
    const QMutexLocker locker(&m_mutex);
    m_location = url;
    return {};
}

std::optional<QString> InMemoryIngestCacheLocationStore::retained() const
{
    const QMutexLocker locker(&m_mutex);
    return m_retainedLocation;
}

Result<void> InMemoryIngestCacheLocationStore::saveRetained(const std::optional<QString> &url) const
{
    const QMutexLocker locker(&m_mutex);
    m_retainedLocation = url;
    return {};
}

QHash<QString, QString> InMemoryIngestCacheLocationStore::retainedManifest() const
{
    const QMutexLocker locker(&m_mutex);
    return m_manifest;
}

Result<void> InMemoryIngestCacheLocationStore::saveRetainedManifest(
    const std::optional<QHash<QString, QString>> &manifest) const
{
    const QMutexLocker locker(&m_mutex);
    m_manifest = manifest.value_or(QHash<QString, QString>());
    return {};
}

std::optional<IngestCacheLocationStoring::PendingMigration>
InMemoryIngestCacheLocationStore::pendingMigration() const
{
    const QMutexLocker locker(&m_mutex);
    return m_migration;
}

Result<void> InMemoryIngestCacheLocationStore::savePendingMigration(
    const std::optional<PendingMigration> &migration) const
{
    const QMutexLocker locker(&m_mutex);
    m_migration = migration;
    return {};
}

} // namespace Pellwick
