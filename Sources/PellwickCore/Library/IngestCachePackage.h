#pragma once

#include <QString>

#include <optional>

namespace Pellwick {

/// One package in the Ingest Cache: a cached RAW original with its optional sidecar. Never stored.
struct IngestCachePackage
{
    /// Absolute path of the cached RAW original.
    QString originalURL;
    /// Absolute path of the cached sidecar.
    std::optional<QString> sidecarURL;
    std::optional<QString> sidecarContentHash;
    /// The cached sidecar's size on disk.
    std::optional<qint64> sidecarByteCount;
    /// The RAW original's path relative to the Ingest Cache root.
    std::optional<QString> relativePath;

    bool operator==(const IngestCachePackage &) const = default;
};

} // namespace Pellwick
