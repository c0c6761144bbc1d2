#include "UserManagedIngestCacheRefreshWorker.h"

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Support/Date.h>

namespace Pellwick {

Result<bool> holdIngestCacheFolderIfThere(const IngestCache &cache,
                                          const LocalLibraryCache &library,
                                          const FolderHold &hold)
{
    PELLWICK_TRY_ASSIGN(const bool away, library.isIngestCacheFolderAway(cache.rootURL()));
    // An away folder is not held: its hold would be the bare mount point's, not the drive's.
    if (away)
        return false;
    if (hold)
        PELLWICK_TRY(hold(cache.rootURL()));
    return true;
}

UserManagedIngestCacheRefreshWorker::UserManagedIngestCacheRefreshWorker(
    IngestCache ingestCache,
    LocalLibraryCache localLibraryCache,
    ImportReviewBuilder importReviewBuilder,
    std::shared_ptr<const PhotoMetadataExtracting> metadataExtractor,
    std::shared_ptr<IngestCacheRefreshGeneration> refreshGeneration,
    qint64 generation,
    FolderHold hold)
    : m_ingestCache(std::move(ingestCache))
    , m_localLibraryCache(std::move(localLibraryCache))
    , m_importReviewBuilder(std::move(importReviewBuilder))
    , m_metadataExtractor(std::move(metadataExtractor))
    , m_refreshGeneration(std::move(refreshGeneration))
    , m_generation(generation)
    , m_hold(std::move(hold))
{}

Result<IngestCacheReconciliation>
UserManagedIngestCacheRefreshWorker::reconcile(QSet<QString> *unfinishedBatches) const
{
    if (!m_ingestCache.fileManager().fileExists(m_ingestCache.rootURL()))
        return IngestCacheReconciliation{0, 0, true};
    PELLWICK_TRY_ASSIGN(const bool held,
                        holdIngestCacheFolderIfThere(m_ingestCache, m_localLibraryCache, m_hold));

    const ImportScanVolume source{
        QStringLiteral("Ingest Cache"), m_ingestCache.rootURL(), std::nullopt};
    PELLWICK_TRY_ASSIGN(ImportReview review, m_importReviewBuilder.buildReview({source}));

    QSet<QString> blocked;
    PELLWICK_TRY_ASSIGN(
        IngestCacheReconciliation reconciliation,
        m_localLibraryCache.withExclusiveAccess([&]() -> Result<IngestCacheReconciliation> {
            // Read inside the exclusive access: a move of the cache that began before it always
            // wins over this older scan.
            if (m_refreshGeneration->value() != m_generation)
                return IngestCacheReconciliation{0, 0, false};
            PELLWICK_TRY_ASSIGN(blocked, m_ingestCache.incompleteSourceFolderURLs());
            if (unfinishedBatches)
                *unfinishedBatches = blocked;
            const SHA256ContentHasher hasher;
            return m_localLibraryCache.reconcileIngestCache(
                review, blocked, hasher, *m_metadataExtractor, Date::now());
        }));
    // A finished copy that no record names while a ready record holds its photo (left by an add
    // that failed before its library write) goes; not once an Add or a move has begun since.
    if (held && reconciliation.didApply && !reconciliation.cacheUnavailable
        && m_refreshGeneration->value() == m_generation)
        m_localLibraryCache.removeRedundantIngestCacheCopies(review.items, m_ingestCache, blocked);
    return reconciliation;
}

} // namespace Pellwick
