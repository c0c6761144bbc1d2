#pragma once

#include <QString>

#include <optional>

namespace Pellwick {

/// One scan source: a removable volume, a folder the user chose, or the Ingest Cache root.
struct ImportScanVolume
{
    /// Shown to the user and copied into every review item found under the source.
    QString name;
    /// The root that is scanned (absolute path).
    QString url;
    /// Absent for chosen folders and for the Ingest Cache root.
    std::optional<QString> volumeUUID;
    /// False when the root's bytes are not valid UTF-8 (a mount point named so): `url` shows them
    /// as "\xNN", and a scan of the source fails as it does for a folder named so.
    bool hasValidURL = true;

    bool operator==(const ImportScanVolume &) const = default;
};

} // namespace Pellwick
