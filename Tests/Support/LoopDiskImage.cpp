#include "LoopDiskImage.h"

#include <QFile>
#include <QProcess>
#include <QtEndian>

#include <optional>

#include <sys/mount.h>

namespace Pellwick::Test {

namespace {

constexpr int bytesPerSector = 512;
constexpr int sectorsPerCluster = 4;
constexpr int reservedSectors = 1;
constexpr int fatCount = 2;
constexpr int rootEntries = 512;
constexpr int totalSectors = 32768;
constexpr int sectorsPerFat = 32; // (32768 - 97) / 4 clusters, 2 bytes each, rounded up

void put16(QByteArray &bytes, int offset, quint16 value)
{
    qToLittleEndian(value, bytes.data() + offset);
}

void put32(QByteArray &bytes, int offset, quint32 value)
{
    qToLittleEndian(value, bytes.data() + offset);
}

/// Runs a system tool; its standard output, or none when it could not run or failed.
std::optional<QString> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

} // namespace

std::unique_ptr<LoopDiskImage> LoopDiskImage::create(const QString &path)
{
    if (!writeFat16Image(path, "PELLWICK"))
        return nullptr;
    QByteArray type = "vfat";
    QFile filesystems(QStringLiteral("/proc/filesystems"));
    if (filesystems.open(QIODevice::ReadOnly) && !filesystems.readAll().contains("\tvfat\n")) {
        type = "ext2";
        if (!run(QStringLiteral("mke2fs"), {QStringLiteral("-q"), QStringLiteral("-F"), path}))
            return nullptr;
    }
    const std::optional<QString> device = run(
        QStringLiteral("losetup"), {QStringLiteral("--find"), QStringLiteral("--show"), path});
    if (!device || device->isEmpty())
        return nullptr;
    return std::unique_ptr<LoopDiskImage>(new LoopDiskImage(*device, type));
}

LoopDiskImage::LoopDiskImage(QString device, QByteArray type)
    : m_device(std::move(device))
    , m_type(std::move(type))
{}

LoopDiskImage::~LoopDiskImage()
{
    run(QStringLiteral("losetup"), {QStringLiteral("-d"), m_device});
}

bool LoopDiskImage::mountAt(const QString &folder) const
{
    return ::mount(QFile::encodeName(m_device).constData(),
                   QFile::encodeName(folder).constData(),
                   m_type.constData(),
                   0,
                   nullptr)
           == 0;
}

bool LoopDiskImage::unmountFrom(const QString &folder)
{
    return ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH) == 0;
}

bool writeFat16Image(const QString &path, const QByteArray &label)
{
    QByteArray boot(bytesPerSector, '\0');
    boot.replace(0, 3, QByteArray::fromHex("EB3C90"));
    boot.replace(3, 8, "MSWIN4.1");
    put16(boot, 11, bytesPerSector);
    boot[13] = char(sectorsPerCluster);
    put16(boot, 14, reservedSectors);
    boot[16] = char(fatCount);
    put16(boot, 17, rootEntries);
    put16(boot, 19, totalSectors);
    boot[21] = char(0xF8); // fixed disk
    put16(boot, 22, sectorsPerFat);
    put16(boot, 24, 32); // sectors per track
    put16(boot, 26, 64); // heads
    boot[36] = char(0x80);
    boot[38] = char(0x29); // the extended fields below are present
    put32(boot, 39, 0x50574B31);
    boot.replace(43, 11, label.leftJustified(11, ' ', true));
    boot.replace(54, 8, "FAT16   ");
    boot[510] = char(0x55);
    boot[511] = char(0xAA);

    QByteArray fat(bytesPerSector, '\0');
    put16(fat, 0, 0xFFF8); // media descriptor
    put16(fat, 2, 0xFFFF); // end-of-chain marker

    QFile file(path);
    if (!file.open(QIODevice::NewOnly | QIODevice::WriteOnly)
        || !file.resize(qint64(totalSectors) * bytesPerSector))
        return false;
    bool written = file.write(boot) == boot.size();
    for (int copy = 0; copy < fatCount; ++copy) {
        written = written
                  && file.seek(qint64(reservedSectors + copy * sectorsPerFat) * bytesPerSector)
                  && file.write(fat) == fat.size();
    }
    return written && file.flush();
}

} // namespace Pellwick::Test
