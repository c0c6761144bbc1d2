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

    bool operator==(const ImportScanVolume &) const = default;
};

} // namespace Pellwick
