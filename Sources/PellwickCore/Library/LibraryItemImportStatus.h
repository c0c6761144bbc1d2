#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace Pellwick {

/// Where a local library item stands in its import. The library file stores the raw values
/// ("staging" for `LocalCacheReady`, the case name for the others); the backend client maps its
/// own wire words separately.
enum class LibraryItemImportStatus {
    LocalCacheReady,
    Uploading,
    Verifying,
    VerifiedBackup,
    CleanupPending,
    NeedsAttention,
    Duplicate,
};

QString toRaw(LibraryItemImportStatus status);
/// Exact, case-sensitive match against the seven raw values.
std::optional<LibraryItemImportStatus> libraryItemImportStatusFromRaw(const QString &raw);
/// Every case in declaration order.
QList<LibraryItemImportStatus> allLibraryItemImportStatuses();
/// Whether the archive holds the item's package: a Verified Backup (its cache cleanup pending or
/// not) or a duplicate of an archived item.
bool isInTheArchive(LibraryItemImportStatus status);

} // namespace Pellwick
