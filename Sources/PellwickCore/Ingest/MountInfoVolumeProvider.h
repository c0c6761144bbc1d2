#pragma once

#include <PellwickCore/Ingest/MountedVolumeProviding.h>
#include <PellwickCore/Support/FileManager.h>

#include <memory>

namespace Pellwick {

/// Where `MountInfoVolumeProvider` reads the system's tables; tests point them at fixture trees.
struct MountInfoSystemPaths
{
    QString mountInfo = QStringLiteral("/proc/self/mountinfo");
    QString sysfsRoot = QStringLiteral("/sys");
    QString diskLinksRoot = QStringLiteral("/dev/disk");
};

/// Lists mounted volumes from the kernel's mount table. Names and UUIDs come from the udev links
/// under /dev/disk ("by-label", "by-uuid"); the removable, ejectable and internal flags from sysfs
/// (the whole disk's "removable" attribute and the bus the device hangs off: USB, MMC/SD,
/// FireWire and Thunderbolt devices and loop-mounted disk images are ejectable); network file
/// systems are not local. Pseudo and system mounts are hidden and never listed.
class MountInfoVolumeProvider final : public MountedVolumeProviding
{
public:
    explicit MountInfoVolumeProvider(std::shared_ptr<const FileManager> fileManager,
                                     MountInfoSystemPaths paths = {});

    /// Fails with the file system's error when the mount table cannot be read, and with a
    /// `DecodingError` (data corrupted) naming the line when it is malformed. Missing sysfs or
    /// udev entries only leave the flags false and the name or UUID absent.
    Result<QList<MountedVolume>> mountedVolumes() const override;

private:
    std::shared_ptr<const FileManager> m_fileManager;
    MountInfoSystemPaths m_paths;
};

} // namespace Pellwick
