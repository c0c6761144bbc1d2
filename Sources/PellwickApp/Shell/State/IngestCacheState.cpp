#include "IngestCacheState.h"

namespace Pellwick {

IngestCacheState::IngestCacheState(QObject *parent)
    : QObject(parent)
{}

void IngestCacheState::setIngestCacheRoot(QString value)
{
    m_ingestCacheRoot = std::move(value);
    Q_EMIT ingestCacheRootChanged(m_ingestCacheRoot);
}

void IngestCacheState::setIsMigratingIngestCache(bool value)
{
    m_isMigratingIngestCache = value;
    Q_EMIT isMigratingIngestCacheChanged();
}

void IngestCacheState::setIngestCacheMigrationMessage(std::optional<QString> value)
{
    m_ingestCacheMigrationMessage = std::move(value);
    m_isIngestCacheMigrationFailure = false;
    Q_EMIT isIngestCacheMigrationFailureChanged();
    Q_EMIT ingestCacheMigrationMessageChanged();
}

void IngestCacheState::setIngestCacheMigrationFailure(QString value)
{
    m_ingestCacheMigrationMessage = std::move(value);
    m_isIngestCacheMigrationFailure = true;
    Q_EMIT isIngestCacheMigrationFailureChanged();
    Q_EMIT ingestCacheMigrationMessageChanged();
}

void IngestCacheState::setRetainedIngestCacheURL(std::optional<QString> value)
{
    m_retainedIngestCacheURL = std::move(value);
    Q_EMIT retainedIngestCacheURLChanged();
}

void IngestCacheState::setRetainedIngestCacheConflicts(QList<IngestCacheMigrationConflict> value)
{
    m_retainedIngestCacheConflicts = std::move(value);
    Q_EMIT retainedIngestCacheConflictsChanged();
}

void IngestCacheState::setPendingIngestCacheMigration(
    std::optional<IngestCacheLocationStoring::PendingMigration> value)
{
    m_pendingIngestCacheMigration = std::move(value);
    Q_EMIT pendingIngestCacheMigrationChanged();
}

void IngestCacheState::setIngestCacheRemovalConfirmation(
    std::optional<IngestCacheRemovalConfirmation> value)
{
    m_ingestCacheRemovalConfirmation = std::move(value);
    Q_EMIT ingestCacheRemovalConfirmationChanged();
}

void IngestCacheState::setUnfinishedIngestCacheBatches(QSet<QString> value)
{
    m_unfinishedIngestCacheBatches = std::move(value);
    Q_EMIT unfinishedIngestCacheBatchesChanged();
}

} // namespace Pellwick
