#pragma once

#include <PellwickApp/Shell/ShellTypes.h>
#include <PellwickCore/Ingest/IngestCacheMigration.h>
#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>

namespace Pellwick {

/// The Ingest Cache operations the cache pages and the window call. Main thread only;
/// `IngestCacheWorkflows` implements it.
class IngestCacheOperations
{
public:
    IngestCacheOperations() = default;
    virtual ~IngestCacheOperations() = default;
    IngestCacheOperations(const IngestCacheOperations &) = delete;
    IngestCacheOperations &operator=(const IngestCacheOperations &) = delete;

    /// Moves the Ingest Cache to `newRoot`; ends when the move has ended.
    virtual QCoro::Task<> beginIngestCacheMigration(QString newRoot) = 0;
    /// Runs or finishes the move that was started and not completed.
    virtual QCoro::Task<> resumeIngestCacheMigration() = 0;
    /// Brings changes made only in the retained old cache into the active one.
    virtual QCoro::Task<> synchronizeRetainedIngestCache() = 0;
    /// Settles one conflict of the retained old cache, then synchronizes again.
    virtual QCoro::Task<>
    resolveRetainedIngestCacheConflict(IngestCacheMigrationConflict conflict,
                                       IngestCacheMigrationConflictResolution keeping)
        = 0;
    /// Deletes the retained old cache after a last verification.
    virtual QCoro::Task<> deleteRetainedIngestCache() = 0;
    /// Publishes the confirmation of removing the selected unarchived cache packages.
    virtual QCoro::Task<> requestSelectedIngestCacheRemovalConfirmation() = 0;
    /// Removes the packages `confirmation` was shown for that can still be removed.
    virtual QCoro::Task<>
    removeSelectedIngestCachePackages(IngestCacheRemovalConfirmation confirmation) = 0;
    /// Starts a refresh of the user-managed Ingest Cache.
    virtual void scheduleUserManagedIngestCacheRefresh() = 0;
    /// Selected records whose cached originals can be removed.
    virtual QList<LocalLibraryItem> selectedRemovableIngestCacheItems() const = 0;

    /// A move of the Ingest Cache runs or a started move has not been completed.
    virtual bool isIngestCacheMigrationPending() const = 0;
};

} // namespace Pellwick
