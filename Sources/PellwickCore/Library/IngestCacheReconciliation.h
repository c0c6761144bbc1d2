#pragma once

namespace Pellwick {

/// The outcome of `LocalLibraryCache::reconcileIngestCache`.
struct IngestCacheReconciliation
{
    /// New records appended to the library.
    int addedCount = 0;
    /// Existing records set to needs attention because the file at their package's path now
    /// holds other bytes.
    int needsAttentionCount = 0;
    /// True when the resulting records are in the library (written now, or nothing needed
    /// writing); false when the library changed since it was read, and nothing was written.
    bool didApply = false;
    /// True when the cache holds none of the files its ready records name while they name
    /// some: its folder is away (the mount point of a drive that is not mounted, a share not
    /// connected), not emptied. Every record is kept and nothing is written; `didApply` is true.
    bool cacheUnavailable = false;

    bool operator==(const IngestCacheReconciliation &) const = default;
};

} // namespace Pellwick
