#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace Pellwick::Test {

/// Writes an empty FAT16 file system of 16 MiB (two FATs, 512 root entries, 2 KiB clusters)
/// into the new file `path`, labelled `label` (at most 11 characters). False when the file
/// cannot be written.
bool writeFat16Image(const QString &path, const QByteArray &label);

/// A disk image attached to a loop device; destroying it detaches that device, by name.
class LoopDiskImage
{
public:
    /// Writes a 16 MiB image with an empty file system at `path` (FAT16, or ext2 through mke2fs
    /// when the kernel has no FAT driver, as in a container) and attaches it to a free loop
    /// device. None when that is not possible here (no administrator, no tools, no device).
    static std::unique_ptr<LoopDiskImage> create(const QString &path);
    ~LoopDiskImage();

    LoopDiskImage(const LoopDiskImage &) = delete;
    LoopDiskImage &operator=(const LoopDiskImage &) = delete;

    /// "/dev/loopN".
    const QString &device() const { return m_device; }

    /// The file-system type to mount it with.
    const QByteArray &type() const { return m_type; }

    /// Mounts the image's file system on the existing folder `folder`, in the system's own mount
    /// table: a private mount namespace would hold only the calling thread, not the workers that
    /// read the folder. False when it cannot be mounted.
    bool mountAt(const QString &folder) const;
    /// Detaches what is mounted on `folder`, even while it is in use; false when nothing was.
    static bool unmountFrom(const QString &folder);

private:
    LoopDiskImage(QString device, QByteArray type);

    QString m_device;
    QByteArray m_type;
};

} // namespace Pellwick::Test
