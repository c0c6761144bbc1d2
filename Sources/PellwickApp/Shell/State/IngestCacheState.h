#pragma once

#include <PellwickApp/Shell/ShellTypes.h>
#include <PellwickApp/Stores/IngestCacheLocationStoring.h>
#include <PellwickCore/Ingest/IngestCacheMigration.h>

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

namespace Pellwick {

/// Moves of the Ingest Cache, the retained old cache and the removal prompt.
/// Service-free: every field has a getter, a setter that notifies on every assignment (also of
/// an equal value) and a change signal. Main thread only.
class IngestCacheState final : public QObject
{
    Q_OBJECT

public:
    explicit IngestCacheState(QObject *parent = nullptr);

    /// The root folder of the active Ingest Cache.
    const QString &ingestCacheRoot() const { return m_ingestCacheRoot; }

    /// The Ingest Cache is being moved.
    const bool &isMigratingIngestCache() const { return m_isMigratingIngestCache; }

    /// Outcome text of Ingest Cache moves.
    const std::optional<QString> &ingestCacheMigrationMessage() const
    {
        return m_ingestCacheMigrationMessage;
    }

    /// True when `ingestCacheMigrationMessage` reports a failure or a refusal.
    const bool &isIngestCacheMigrationFailure() const { return m_isIngestCacheMigrationFailure; }

    /// The old Ingest Cache kept after a move until it is cleaned up.
    const std::optional<QString> &retainedIngestCacheURL() const
    {
        return m_retainedIngestCacheURL;
    }

    /// Files that differ between the retained and the active cache.
    const QList<IngestCacheMigrationConflict> &retainedIngestCacheConflicts() const
    {
        return m_retainedIngestCacheConflicts;
    }

    /// A move that has started and is not finalized.
    const std::optional<IngestCacheLocationStoring::PendingMigration> &
    pendingIngestCacheMigration() const
    {
        return m_pendingIngestCacheMigration;
    }

    /// A move runs, or one has started and is not finalized: nothing may be added meanwhile.
    bool isIngestCacheMigrationPending() const
    {
        return m_isMigratingIngestCache || m_pendingIngestCacheMigration.has_value();
    }

    /// The pending cache-removal confirmation prompt.
    const std::optional<IngestCacheRemovalConfirmation> &ingestCacheRemovalConfirmation() const
    {
        return m_ingestCacheRemovalConfirmation;
    }

    /// The batch folders whose copy into the Ingest Cache had not finished, as the last
    /// reconciliation of the library with the cache found them.
    const QSet<QString> &unfinishedIngestCacheBatches() const
    {
        return m_unfinishedIngestCacheBatches;
    }

    void setIngestCacheRoot(QString value);
    void setIsMigratingIngestCache(bool value);
    /// Stores a progress or success text (or clears the text): `isIngestCacheMigrationFailure`
    /// becomes false. Its signal is emitted before the text's.
    void setIngestCacheMigrationMessage(std::optional<QString> value);
    /// Stores a failure or refusal text: `isIngestCacheMigrationFailure` becomes true. Its signal
    /// is emitted before the text's.
    void setIngestCacheMigrationFailure(QString value);
    void setRetainedIngestCacheURL(std::optional<QString> value);
    void setRetainedIngestCacheConflicts(QList<IngestCacheMigrationConflict> value);
    void setPendingIngestCacheMigration(
        std::optional<IngestCacheLocationStoring::PendingMigration> value);
    void setIngestCacheRemovalConfirmation(std::optional<IngestCacheRemovalConfirmation> value);
    void setUnfinishedIngestCacheBatches(QSet<QString> value);

Q_SIGNALS:
    void ingestCacheRootChanged(const QString &root);
    void isMigratingIngestCacheChanged();
    void ingestCacheMigrationMessageChanged();
    void isIngestCacheMigrationFailureChanged();
    void retainedIngestCacheURLChanged();
    void retainedIngestCacheConflictsChanged();
    void pendingIngestCacheMigrationChanged();
    void ingestCacheRemovalConfirmationChanged();
    void unfinishedIngestCacheBatchesChanged();

private:
    QString m_ingestCacheRoot;
    bool m_isMigratingIngestCache = false;
    std::optional<QString> m_ingestCacheMigrationMessage;
    bool m_isIngestCacheMigrationFailure = false;
    std::optional<QString> m_retainedIngestCacheURL;
    QList<IngestCacheMigrationConflict> m_retainedIngestCacheConflicts;
    std::optional<IngestCacheLocationStoring::PendingMigration> m_pendingIngestCacheMigration;
    std::optional<IngestCacheRemovalConfirmation> m_ingestCacheRemovalConfirmation;
    QSet<QString> m_unfinishedIngestCacheBatches;
};

} // namespace Pellwick
