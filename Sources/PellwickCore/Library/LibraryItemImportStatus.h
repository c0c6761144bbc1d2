#pragma once

namespace Pellwick {

/// Where a local library item stands in its import. The backend client only constructs values of
/// it from the backend's status words; it never reads or writes a stored form.
enum class LibraryItemImportStatus {
    LocalCacheReady,
    Uploading,
    Verifying,
    VerifiedBackup,
    CleanupPending,
    NeedsAttention,
    Duplicate,
};

} // namespace Pellwick
