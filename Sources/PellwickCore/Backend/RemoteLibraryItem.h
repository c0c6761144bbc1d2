#pragma once

#include <PellwickCore/Library/LibraryItemImportStatus.h>
#include <PellwickCore/Support/Date.h>

#include <QString>

#include <optional>

namespace Pellwick {

/// The backend's record of one archived RAW original, in the local library's terms.
struct RemoteLibraryItem
{
    qint64 id = 0;
    QString originalFilename;
    QString canonicalFilename;
    QString contentHash;
    /// Bytes of the RAW original plus its sidecar.
    qint64 archiveByteCount = 0;
    std::optional<QString> archiveSidecarFilename;
    /// Present only when at least 1.
    std::optional<qint64> archiveSidecarByteCount;
    std::optional<QString> archiveSidecarContentHash;
    LibraryItemImportStatus importStatus = LibraryItemImportStatus::LocalCacheReady;
    Date importedAt;
    /// Never missing: "Unknown Import Source" when the backend names none.
    QString importSourceName;
    /// Never empty.
    std::optional<QString> sourceRelativePath;
    /// Never empty.
    std::optional<QString> cacheRelativePath;

    bool operator==(const RemoteLibraryItem &) const = default;
};

} // namespace Pellwick
