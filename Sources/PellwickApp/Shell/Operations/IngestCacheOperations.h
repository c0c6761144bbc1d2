#pragma once

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
};

} // namespace Pellwick
