#pragma once

#include <PellwickApp/Workflows/IngestCacheRefreshGeneration.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Library/IngestCacheReconciliation.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Support/Result.h>

#include <functional>
#include <memory>

namespace Pellwick {

/// Takes this process's hold of a folder for as long as it runs, so that no other running copy
/// works on it: succeeds when held now (or when the folder's file system cannot lock, which
/// tells nothing), fails with the "lock" `FileSystemError` EWOULDBLOCK when another copy holds
/// it. Called on worker threads. None: folders are not held.
using FolderHold = std::function<Result<void>(const QString &folder)>;

/// Whether `cache`'s folder is there rather than away (`isIngestCacheFolderAway`); when it is,
/// takes its hold through `hold`. Fails with the library's error or the hold's refusal.
[[nodiscard]] Result<bool> holdIngestCacheFolderIfThere(const IngestCache &cache,
                                                        const LocalLibraryCache &library,
                                                        const FolderHold &hold);

/// One refresh of the library from an Ingest Cache the user may have edited with other tools:
/// scans the cache and reconciles the Local Library Cache with what it holds. Built for one run,
/// with the refresh generation read when the refresh started; runs on a worker thread.
class UserManagedIngestCacheRefreshWorker
{
public:
    UserManagedIngestCacheRefreshWorker(
        IngestCache ingestCache,
        LocalLibraryCache localLibraryCache,
        ImportReviewBuilder importReviewBuilder,
        std::shared_ptr<const PhotoMetadataExtracting> metadataExtractor,
        std::shared_ptr<IngestCacheRefreshGeneration> refreshGeneration,
        qint64 generation,
        FolderHold hold = {});

    /// A missing cache root gives zero counts, applied, without scanning. Otherwise the cache is
    /// scanned as one source named "Ingest Cache" and then, holding the library's exclusive
    /// access (and the generation's lock inside it, never the reverse), the generation is
    /// compared: when the cache moved since the refresh started, zero counts, not applied, and
    /// nothing is written; else the library is reconciled with the scan, files below a folder
    /// whose copy-in was interrupted needing attention and new records taking the metadata
    /// `metadataExtractor` reads. Fails with the scan's, the marker
    /// search's or the reconciliation's error unchanged. The folders whose copy-in was
    /// interrupted go to `unfinishedBatches` when given (none without a cache root). The cache's
    /// folder is held first when it is there (`holdIngestCacheFolderIfThere`; another copy's
    /// hold fails the refresh); one that holds none of its ready records' files is reported
    /// `cacheUnavailable` and its records kept, and only a held folder loses redundant copies.
    [[nodiscard]] Result<IngestCacheReconciliation> reconcile(QSet<QString> *unfinishedBatches
                                                              = nullptr) const;

private:
    IngestCache m_ingestCache;
    LocalLibraryCache m_localLibraryCache;
    ImportReviewBuilder m_importReviewBuilder;
    std::shared_ptr<const PhotoMetadataExtracting> m_metadataExtractor;
    std::shared_ptr<IngestCacheRefreshGeneration> m_refreshGeneration;
    qint64 m_generation = 0;
    FolderHold m_hold;
};

} // namespace Pellwick
