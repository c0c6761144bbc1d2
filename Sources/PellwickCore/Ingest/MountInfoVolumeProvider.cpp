#include "MountInfoVolumeProvider.h"

#include <PellwickCore/Support/DirectoryWalk.h>
#include <PellwickCore/Support/MountTable.h>

#include <QHash>
#include <QSet>

#include <array>

namespace Pellwick {

namespace {

struct MountEntry
{
    QString deviceNumber; ///< "major:minor"
    QString mountPoint;
    bool hasValidMountPoint = true; ///< false when its bytes are not valid UTF-8
    QString fileSystemType;
    QString source;
};

/// What sysfs tells of the block device behind a mount.
struct BlockDevice
{
    QString kernelName; ///< e.g. "sdb1", "mmcblk0p1", "loop3"
    bool removableMedia = false;
    bool externalBus = false;
    bool isMemoryCard = false;
    bool isLoop = false;
};

const QSet<QString> &pseudoFileSystemTypes()
{
    static const QSet<QString> types{
        QStringLiteral("proc"),        QStringLiteral("sysfs"),       QStringLiteral("tmpfs"),
        QStringLiteral("devtmpfs"),    QStringLiteral("devpts"),      QStringLiteral("cgroup"),
        QStringLiteral("cgroup2"),     QStringLiteral("overlay"),     QStringLiteral("squashfs"),
        QStringLiteral("autofs"),      QStringLiteral("mqueue"),      QStringLiteral("debugfs"),
        QStringLiteral("tracefs"),     QStringLiteral("securityfs"),  QStringLiteral("pstore"),
        QStringLiteral("bpf"),         QStringLiteral("configfs"),    QStringLiteral("fusectl"),
        QStringLiteral("hugetlbfs"),   QStringLiteral("binfmt_misc"), QStringLiteral("efivarfs"),
        QStringLiteral("nsfs"),        QStringLiteral("ramfs"),       QStringLiteral("rpc_pipefs"),
        QStringLiteral("fuse.portal"),
    };
    return types;
}

const QSet<QString> &networkFileSystemTypes()
{
    static const QSet<QString> types{
        QStringLiteral("nfs"),
        QStringLiteral("nfs4"),
        QStringLiteral("cifs"),
        QStringLiteral("smb3"),
        QStringLiteral("smbfs"),
        QStringLiteral("ncpfs"),
        QStringLiteral("afs"),
        QStringLiteral("9p"),
        QStringLiteral("ceph"),
        QStringLiteral("glusterfs"),
        QStringLiteral("lustre"),
        QStringLiteral("davfs"),
        QStringLiteral("fuse.sshfs"),
        QStringLiteral("fuse.glusterfs"),
        QStringLiteral("fuse.rclone"),
        QStringLiteral("fuse.s3fs"),
        QStringLiteral("fuse.davfs2"),
    };
    return types;
}

bool isPseudoFileSystem(const QString &type)
{
    // gvfs mounts its FUSE bridge as "fuse.gvfsd-fuse" (older: "fuse.gvfs-fuse-daemon").
    return pseudoFileSystemTypes().contains(type) || type.startsWith(QLatin1String("fuse.gvfs"));
}

bool isUnderFolder(const QString &path, QLatin1String folder)
{
    return path == folder
           || (path.startsWith(folder) && path.size() > folder.size()
               && path.at(folder.size()) == QLatin1Char('/'));
}

bool isSystemMountPoint(const QString &path)
{
    static constexpr std::array folders{QLatin1String("/proc"),
                                        QLatin1String("/sys"),
                                        QLatin1String("/dev"),
                                        QLatin1String("/snap"),
                                        QLatin1String("/boot")};
    for (QLatin1String folder : folders) {
        if (isUnderFolder(path, folder))
            return true;
    }
    // Desktops mount removable media under /run/media/<user>; the rest of /run is the system's.
    return isUnderFolder(path, QLatin1String("/run"))
           && !isUnderFolder(path, QLatin1String("/run/media"));
}

/// A component of a sysfs device path that names a USB, FireWire or Thunderbolt bus.
bool isExternalBusComponent(const QString &component)
{
    const bool isFireWireNode = component.size() > 2 && component.startsWith(QLatin1String("fw"))
                                && component.at(2).isDigit();
    return isFireWireNode || component.startsWith(QLatin1String("usb"))
           || component.startsWith(QLatin1String("firewire"))
           || component.startsWith(QLatin1String("thunderbolt"));
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/// udev writes unsafe characters of label and UUID link names as "\xHH".
QString unescapeDiskLinkName(const QString &name)
{
    const QByteArray bytes = name.toUtf8();
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\\' && i + 3 < bytes.size() && bytes[i + 1] == 'x'
            && hexValue(bytes[i + 2]) >= 0 && hexValue(bytes[i + 3]) >= 0) {
            out.append(static_cast<char>(hexValue(bytes[i + 2]) * 16 + hexValue(bytes[i + 3])));
            i += 3;
        } else {
            out.append(bytes[i]);
        }
    }
    return QString::fromUtf8(out);
}

Result<QList<MountEntry>> parseMountInfo(const QByteArray &table, const QString &tablePath)
{
    QList<MountEntry> entries;
    const QList<QByteArray> lines = table.split('\n');
    for (qsizetype lineIndex = 0; lineIndex < lines.size(); ++lineIndex) {
        const QByteArray &line = lines.at(lineIndex);
        if (line.trimmed().isEmpty())
            continue;
        // id parent major:minor root mount-point options [optional fields...] - type source ...
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf(QByteArray("-"), 6);
        if (fields.size() < 6 || separator < 0 || separator + 2 >= fields.size()
            || !fields.at(2).contains(':')) {
            return failure(DecodingError{DecodingError::Kind::DataCorrupted,
                                         tablePath + QStringLiteral(" line %1").arg(lineIndex + 1),
                                         QStringLiteral("The mount table line is malformed.")});
        }
        auto [mountPoint, isValid] = unescapeMountTableField(fields.at(4));
        entries.append(MountEntry{QString::fromLatin1(fields.at(2)),
                                  std::move(mountPoint),
                                  isValid,
                                  unescapeMountTableField(fields.at(separator + 1)).first,
                                  unescapeMountTableField(fields.at(separator + 2)).first});
    }
    return entries;
}

class VolumeProbe
{
public:
    VolumeProbe(const FileManager &fileManager, const MountInfoSystemPaths &paths)
        : m_fileManager(fileManager)
        , m_paths(paths)
    {
        Result<QString> sysfs = fileManager.resolvingSymlinks(paths.sysfsRoot);
        m_resolvedSysfsRoot = sysfs ? *sysfs : paths.sysfsRoot;
        m_labels = diskLinks(QStringLiteral("by-label"));
        m_uuids = diskLinks(QStringLiteral("by-uuid"));
    }

    MountedVolume volume(const MountEntry &mount) const
    {
        MountedVolume volume;
        volume.url = mount.mountPoint;
        volume.hasValidURL = mount.hasValidMountPoint;
        volume.isLocal = !networkFileSystemTypes().contains(mount.fileSystemType);
        std::optional<BlockDevice> device = blockDevice(mount);
        if (device) {
            volume.isEjectable = device->externalBus || device->isLoop || device->removableMedia;
            volume.isRemovable = device->removableMedia || device->isMemoryCard;
            volume.isInternal = !volume.isEjectable;
            if (m_uuids.contains(device->kernelName))
                volume.volumeUUID = m_uuids.value(device->kernelName);
            volume.name = m_labels.value(device->kernelName);
        } else {
            // A local file system without a block device (FUSE bridges, virtual file systems)
            // lives inside this computer; it is never a card.
            volume.isInternal = volume.isLocal;
        }
        if (volume.name.isEmpty())
            volume.name = lastPathComponent(mount.mountPoint);
        return volume;
    }

private:
    /// Kernel device name -> unescaped link name, from /dev/disk/<folder>.
    QHash<QString, QString> diskLinks(const QString &folder) const
    {
        QHash<QString, QString> links;
        const QString directory = appendingPathComponent(m_paths.diskLinksRoot, folder);
        Result<QStringList> names = m_fileManager.contentsOfDirectory(directory);
        if (!names)
            return links; // no udev links on this system
        for (const QString &name : *names) {
            Result<QString> target
                = m_fileManager.resolvingSymlinks(appendingPathComponent(directory, name));
            if (target)
                links.insert(lastPathComponent(*target), unescapeDiskLinkName(name));
        }
        return links;
    }

    std::optional<QString> devicePath(const MountEntry &mount) const
    {
        const QString sysfs = m_paths.sysfsRoot;
        Result<QString> byNumber = m_fileManager.resolvingSymlinks(
            sysfs + QStringLiteral("/dev/block/") + mount.deviceNumber);
        if (byNumber)
            return *byNumber;
        // FUSE block mounts and btrfs report an anonymous device number: go by the source.
        if (mount.source.startsWith(QLatin1String("/dev/"))) {
            Result<QString> byName = m_fileManager.resolvingSymlinks(
                sysfs + QStringLiteral("/class/block/") + lastPathComponent(mount.source));
            if (byName)
                return *byName;
        }
        return std::nullopt;
    }

    std::optional<BlockDevice> blockDevice(const MountEntry &mount) const
    {
        const std::optional<QString> path = devicePath(mount);
        if (!path)
            return std::nullopt;
        BlockDevice device;
        device.kernelName = lastPathComponent(*path);
        const bool isPartition = m_fileManager.fileExists(*path + QStringLiteral("/partition"));
        const QString disk = isPartition ? parentPath(*path) : *path;
        Result<QByteArray> removable
            = readFileContents(m_fileManager, disk + QStringLiteral("/removable"));
        device.removableMedia = removable && removable->trimmed() == "1";

        // Judge the bus by the path below the sysfs root only, whatever that root is called.
        QString busPath = *path;
        if (busPath.startsWith(m_resolvedSysfsRoot + QLatin1Char('/')))
            busPath = busPath.mid(m_resolvedSysfsRoot.size());
        for (const QString &component : busPath.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            if (isExternalBusComponent(component)) {
                device.externalBus = true;
            } else if (component.startsWith(QLatin1String("mmc"))) {
                device.externalBus = true;
                device.isMemoryCard = true;
            }
        }
        device.isLoop = lastPathComponent(disk).startsWith(QLatin1String("loop"));
        return device;
    }

    const FileManager &m_fileManager;
    const MountInfoSystemPaths &m_paths;
    QString m_resolvedSysfsRoot;
    QHash<QString, QString> m_labels;
    QHash<QString, QString> m_uuids;
};

} // namespace

MountInfoVolumeProvider::MountInfoVolumeProvider(std::shared_ptr<const FileManager> fileManager,
                                                 MountInfoSystemPaths paths)
    : m_fileManager(std::move(fileManager))
    , m_paths(std::move(paths))
{}

Result<QList<MountedVolume>> MountInfoVolumeProvider::mountedVolumes() const
{
    PELLWICK_TRY_ASSIGN(QByteArray table, readFileContents(*m_fileManager, m_paths.mountInfo));
    PELLWICK_TRY_ASSIGN(QList<MountEntry> mounts, parseMountInfo(table, m_paths.mountInfo));

    const VolumeProbe probe(*m_fileManager, m_paths);
    QList<MountedVolume> volumes;
    for (const MountEntry &mount : mounts) {
        if (isPseudoFileSystem(mount.fileSystemType) || isSystemMountPoint(mount.mountPoint))
            continue;
        volumes.append(probe.volume(mount));
    }
    return volumes;
}

} // namespace Pellwick
