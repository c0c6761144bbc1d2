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
/// The files are hashed ahead; what goes is then decided on the records as they are under the
/// library's exclusive access, held until the pass ends, with the library files made durable
/// before anything is deleted. A file another record names under any spelling stays, and so does
/// one saved anew between its check and its unlink. Ends with a `CancellationError`, touching
/// nothing, when `stop` was requested by the time the hashes were taken ahead.
[[nodiscard]] Result<IngestCacheWorkflows::ArchivedCacheCleanup>
cleanUpArchivedPackages(const std::optional<QList<LocalLibraryItem>> &given,
                        IngestCache cache,
                        const LocalLibraryCache &library,
                        const StagingArea &staging,
                        std::stop_token stop);

} // namespace Pellwick
