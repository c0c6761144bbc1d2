#pragma once

#include <PellwickCore/Ingest/IngestCacheMigration.h>
#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>

namespace Pellwick {

/// The Ingest Cache operations the cache pages call. Main thread only;
/// `LibraryShellViewModel` implements it.
class IngestCacheOperations
{
public:
    IngestCacheOperations() = default;
    virtual ~IngestCacheOperations() = default;
    IngestCacheOperations(const IngestCacheOperations &) = delete;
    IngestCacheOperations &operator=(const IngestCacheOperations &) = delete;

    /// Moves the Ingest Cache to `newRoot`.
    virtual QCoro::Task<> performIngestCacheMigration(QString newRoot) = 0;
    /// Starts a refresh of the user-managed Ingest Cache.
    virtual void scheduleUserManagedIngestCacheRefresh() = 0;
    /// Selected records whose cached originals can be removed.
    virtual QList<LocalLibraryItem> selectedRemovableIngestCacheItems() const = 0;

    // The library toolbar and its Ingest Cache menu.
    /// A move of the Ingest Cache runs or a started move has not been completed.
    virtual bool isIngestCacheMigrationPending() const = 0;
    /// Starts a move to `newRoot`, replacing a pending one; refusals go to the move's message.
    virtual QCoro::Task<> beginIngestCacheMigration(QString newRoot) = 0;
    /// Runs the pending move again.
    virtual QCoro::Task<> resumeIngestCacheMigration() = 0;
    /// Brings the retained old cache's changes into the active one, publishing the conflicts.
    virtual QCoro::Task<> synchronizeRetainedIngestCache() = 0;
    /// Deletes the retained old cache once every remaining file is verified in the active one.
    virtual QCoro::Task<> deleteRetainedIngestCache() = 0;
    /// Resolves one conflict, then synchronizes again.
    virtual QCoro::Task<>
    resolveRetainedIngestCacheConflict(IngestCacheMigrationConflict conflict,
                                       IngestCacheMigrationConflictResolution keeping)
        = 0;
    /// Publishes `ingestCacheRemovalConfirmation` for the selection, or a message instead.
    virtual QCoro::Task<> requestSelectedIngestCacheRemovalConfirmation() = 0;
    /// Removes the confirmed packages from the Ingest Cache.
    virtual QCoro::Task<> removeSelectedIngestCachePackages() = 0;
};

} // namespace Pellwick
