#include "LibraryItemImportStatus.h"

namespace Pellwick {

QString toRaw(LibraryItemImportStatus status)
{
    switch (status) {
    case LibraryItemImportStatus::LocalCacheReady:
        return QStringLiteral("staging");
    case LibraryItemImportStatus::Uploading:
        return QStringLiteral("uploading");
    case LibraryItemImportStatus::Verifying:
        return QStringLiteral("verifying");
    case LibraryItemImportStatus::VerifiedBackup:
        return QStringLiteral("verifiedBackup");
    case LibraryItemImportStatus::CleanupPending:
        return QStringLiteral("cleanupPending");
    case LibraryItemImportStatus::NeedsAttention:
        return QStringLiteral("needsAttention");
    case LibraryItemImportStatus::Duplicate:
        return QStringLiteral("duplicate");
    }
    return {};
}

std::optional<LibraryItemImportStatus> libraryItemImportStatusFromRaw(const QString &raw)
{
    for (const LibraryItemImportStatus status : allLibraryItemImportStatuses()) {
        if (raw == toRaw(status))
            return status;
    }
    return std::nullopt;
}

QList<LibraryItemImportStatus> allLibraryItemImportStatuses()
{
    return {LibraryItemImportStatus::LocalCacheReady,
            LibraryItemImportStatus::Uploading,
            LibraryItemImportStatus::Verifying,
            LibraryItemImportStatus::VerifiedBackup,
            LibraryItemImportStatus::CleanupPending,
            LibraryItemImportStatus::NeedsAttention,
            LibraryItemImportStatus::Duplicate};
}

bool isInTheArchive(LibraryItemImportStatus status)
{
    return status == LibraryItemImportStatus::VerifiedBackup
           || status == LibraryItemImportStatus::CleanupPending
           || status == LibraryItemImportStatus::Duplicate;
}

} // namespace Pellwick
