#include "LibraryShellViewModel_p.h"

namespace Pellwick {

// Stand-ins: the archived-package cleanup, its retry loop and the drain of a refresh asked for
// during other work are not built yet. Each does the least its callers may rely on.

Result<LibraryShellViewModel::ArchivedCacheCleanup>
LibraryShellViewModel::cleanupArchivedCachePackages(
    const std::optional<QList<LocalLibraryItem>> &items)
{
    Q_UNUSED(items);
    return ArchivedCacheCleanup{};
}

void LibraryShellViewModel::scheduleCacheCleanupRetryIfNeeded(qint64 pendingCount)
{
    Q_UNUSED(pendingCount);
}

void LibraryShellViewModel::drainPendingIngestCacheRefresh() {}

} // namespace Pellwick
