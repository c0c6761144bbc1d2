#pragma once

namespace Pellwick {

/// A folder the application manages, which no restore may write into.
enum class ManagedFolder {
    IngestCache,
    RetainedIngestCache,
    StagingArea,
    RestoreTransferState,
    LocalLibraryCache,
};

} // namespace Pellwick
