#pragma once

#include <PellwickCore/Support/Result.h>

#include <QList>
#include <QString>

#include <optional>

namespace Pellwick {

/// One mounted volume as the system reports it.
struct MountedVolume
{
    QString name;
    /// The mount point (absolute path).
    QString url;
    bool isRemovable = false;
    bool isEjectable = false;
    bool isLocal = false;
    bool isInternal = false;
    std::optional<QString> volumeUUID;
    /// False when the mount point's bytes are not valid UTF-8: `url` shows them as "\xNN" and
    /// cannot be used to reach the volume.
    bool hasValidURL = true;

    bool operator==(const MountedVolume &) const = default;
};

/// Lists the mounted volumes, hidden system volumes left out.
class MountedVolumeProviding
{
public:
    MountedVolumeProviding() = default;
    MountedVolumeProviding(const MountedVolumeProviding &) = delete;
    MountedVolumeProviding &operator=(const MountedVolumeProviding &) = delete;
    virtual ~MountedVolumeProviding() = default;

    /// The complete list in the system's order, or the error that prevented it; never a partial
    /// list. Thread-safe.
    [[nodiscard]] virtual Result<QList<MountedVolume>> mountedVolumes() const = 0;
};

} // namespace Pellwick
