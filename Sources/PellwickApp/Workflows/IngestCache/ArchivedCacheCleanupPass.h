#pragma once

#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickCore/Import/StagingArea.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Support/Result.h>

#include <QList>

#include <optional>
#include <stop_token>

namespace Pellwick {

/// One cleanup pass over the archived records among `given` (none: every record) that still
/// name a cache package, on a worker thread (see `IngestCacheWorkflows::cleanupArchivedCachePackages`).
/// Ends with a `CancellationError`, touching nothing, when `stop` was requested by the time the
/// hashes were taken ahead.
[[nodiscard]] Result<IngestCacheWorkflows::ArchivedCacheCleanup>
cleanUpArchivedPackages(const std::optional<QList<LocalLibraryItem>> &given,
                        IngestCache cache,
                        const LocalLibraryCache &library,
                        const StagingArea &staging,
                        std::stop_token stop);

} // namespace Pellwick
