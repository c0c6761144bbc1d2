#pragma once

#include "TestFiles.h"

#include <PellwickCore/Ingest/MountInfoVolumeProvider.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace Pellwick::Test {

/// A fake sysfs, /dev/disk and mount table under one temporary folder, whose name mentions
/// buses so that only the path below the sysfs root can decide.
class MountSystemFixture
{
public:
    MountSystemFixture()
        : m_dir(QDir::tempPath() + QStringLiteral("/usb-mmc-fw0-XXXXXX"))
    {
        QDir().mkpath(sysfs() + QStringLiteral("/dev/block"));
        QDir().mkpath(sysfs() + QStringLiteral("/class/block"));
        QDir().mkpath(diskLinks() + QStringLiteral("/by-uuid"));
        QDir().mkpath(diskLinks() + QStringLiteral("/by-label"));
        QDir().mkpath(m_dir.path() + QStringLiteral("/devnodes"));
    }

    QString sysfs() const { return m_dir.path() + QStringLiteral("/sys"); }

    QString diskLinks() const { return m_dir.path() + QStringLiteral("/disk"); }

    QString mountInfo() const { return m_dir.path() + QStringLiteral("/mountinfo"); }

    MountInfoSystemPaths paths() const { return {mountInfo(), sysfs(), diskLinks()}; }

    /// `devicePath` is below sys/devices and ends in the kernel name; a partition's whole disk is
    /// its parent folder.
    void addBlockDevice(const QString &number,
                        const QString &devicePath,
                        bool isPartition,
                        const QByteArray &removable)
    {
        const QString path = sysfs() + QStringLiteral("/devices/") + devicePath;
        QDir().mkpath(path);
        if (isPartition)
            Test::writeFile(path + QStringLiteral("/partition"), "1\n");
        const QString disk = isPartition ? QFileInfo(path).path() : path;
        Test::writeFile(disk + QStringLiteral("/removable"), removable + '\n');
        QFile::link(path, sysfs() + QStringLiteral("/dev/block/") + number);
        QFile::link(path, sysfs() + QStringLiteral("/class/block/") + QFileInfo(path).fileName());
    }

    void addDiskLink(const QString &kind, const QString &linkName, const QString &kernelName)
    {
        const QString node = m_dir.path() + QStringLiteral("/devnodes/") + kernelName;
        Test::writeFile(node, {});
        QFile::link(node, diskLinks() + QLatin1Char('/') + kind + QLatin1Char('/') + linkName);
    }

    void writeMountInfo(const QStringList &lines)
    {
        Test::writeFile(mountInfo(), lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    }

    /// One line as the kernel writes it: any bytes but space, tab, newline and backslash raw.
    void writeMountInfo(const QByteArray &line) { Test::writeFile(mountInfo(), line + '\n'); }

private:
    QTemporaryDir m_dir;
};

inline QString mountInfoLine(int id,
                             const QString &number,
                             const QString &mountPoint,
                             const QString &type,
                             const QString &source)
{
    return QStringLiteral("%1 1 %2 / %3 rw,relatime shared:%1 - %4 %5 rw")
        .arg(QString::number(id), number, mountPoint, type, source);
}

} // namespace Pellwick::Test
