#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/MountInfoVolumeProvider.h>
#include <PellwickCore/Ingest/RemovableVolumeDetector.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <Support/FaultInjectingFileManager.h>
#include <Support/MountSystemFixture.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using Pellwick::Test::FaultInjectingFileManager;
using Pellwick::Test::FileOperation;

class MountedVolumeProviderTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fixtureMountTableGivesExactVolumes();
    void blockDevicesAreClassifiedByBus_data();
    void blockDevicesAreClassifiedByBus();
    void hiddenMountsAreSkipped_data();
    void hiddenMountsAreSkipped();
    void unreadableOrMalformedTableFails();
    void mountPointThatIsNotUtf8IsOfferedAndItsScanFails_data();
    void mountPointThatIsNotUtf8IsOfferedAndItsScanFails();
    void realMountTableCanBeRead();
};

namespace {

using SystemFixture = Test::MountSystemFixture;
using Test::mountInfoLine;

Result<QList<MountedVolume>> volumesOf(const SystemFixture &fixture)
{
    return MountInfoVolumeProvider(std::make_shared<LocalFileManager>(), fixture.paths())
        .mountedVolumes();
}

const QString usbPartition = QStringLiteral(
    "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1");
const QString sdCardPartition
    = QStringLiteral("platform/soc/fe340000.mmc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0/mmcblk0p1");
const QString internalDisk = QStringLiteral("pci0000:00/0000:00:05.0/virtio2/block/vda");

} // namespace

void MountedVolumeProviderTests::fixtureMountTableGivesExactVolumes()
{
    SystemFixture fixture;
    fixture.addBlockDevice(QStringLiteral("254:0"), internalDisk, false, "0");
    fixture.addBlockDevice(QStringLiteral("8:17"), usbPartition, true, "1");
    fixture.addBlockDevice(QStringLiteral("179:1"), sdCardPartition, true, "0");
    fixture.addBlockDevice(
        QStringLiteral("7:3"), QStringLiteral("virtual/block/loop3"), false, "0");
    fixture.addDiskLink(
        QStringLiteral("by-label"), QStringLiteral("EOS\\x20DIGITAL"), QStringLiteral("sdb1"));
    fixture.addDiskLink(
        QStringLiteral("by-uuid"), QStringLiteral("3A21-0C5F"), QStringLiteral("sdb1"));
    fixture.addDiskLink(
        QStringLiteral("by-uuid"), QStringLiteral("9016-4EF8"), QStringLiteral("mmcblk0p1"));
    fixture.writeMountInfo({
        mountInfoLine(22,
                      QStringLiteral("0:21"),
                      QStringLiteral("/proc"),
                      QStringLiteral("proc"),
                      QStringLiteral("proc")),
        mountInfoLine(27,
                      QStringLiteral("254:0"),
                      QStringLiteral("/"),
                      QStringLiteral("ext4"),
                      QStringLiteral("/dev/vda")),
        mountInfoLine(40,
                      QStringLiteral("8:17"),
                      QStringLiteral("/media/ann/EOS\\040DIGITAL"),
                      QStringLiteral("exfat"),
                      QStringLiteral("/dev/sdb1")),
        mountInfoLine(41,
                      QStringLiteral("179:1"),
                      QStringLiteral("/media/ann/back\\134slash"),
                      QStringLiteral("vfat"),
                      QStringLiteral("/dev/mmcblk0p1")),
        mountInfoLine(42,
                      QStringLiteral("7:3"),
                      QStringLiteral("/mnt/image"),
                      QStringLiteral("ext4"),
                      QStringLiteral("/dev/loop3")),
        mountInfoLine(43,
                      QStringLiteral("0:55"),
                      QStringLiteral("/mnt/nas"),
                      QStringLiteral("nfs4"),
                      QStringLiteral("nas:/photos")),
    });

    Result<QList<MountedVolume>> volumes = volumesOf(fixture);
    QVERIFY2(volumes, qPrintable(volumes ? QString() : describe(volumes.error())));
    const QList<MountedVolume> expected{
        {QStringLiteral("/"), QStringLiteral("/"), false, false, true, true, std::nullopt},
        {QStringLiteral("EOS DIGITAL"),
         QStringLiteral("/media/ann/EOS DIGITAL"),
         true,
         true,
         true,
         false,
         QStringLiteral("3A21-0C5F")},
        {QStringLiteral("back\\slash"),
         QStringLiteral("/media/ann/back\\slash"),
         true,
         true,
         true,
         false,
         QStringLiteral("9016-4EF8")},
        {QStringLiteral("image"),
         QStringLiteral("/mnt/image"),
         false,
         true,
         true,
         false,
         std::nullopt},
        {QStringLiteral("nas"),
         QStringLiteral("/mnt/nas"),
         false,
         false,
         false,
         false,
         std::nullopt},
    };
    QCOMPARE(volumes->size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(volumes->at(i).url, expected.at(i).url);
        QCOMPARE(volumes->at(i), expected.at(i));
    }
}

void MountedVolumeProviderTests::blockDevicesAreClassifiedByBus_data()
{
    QTest::addColumn<QString>("devicePath");
    QTest::addColumn<bool>("isPartition");
    QTest::addColumn<QByteArray>("removableAttribute");
    QTest::addColumn<bool>("removable");
    QTest::addColumn<bool>("ejectable");
    QTest::addColumn<bool>("internal");
    QTest::newRow("USB stick") << usbPartition << true << QByteArray("1") << true << true << false;
    QTest::newRow("USB hard disk")
        << usbPartition << true << QByteArray("0") << false << true << false;
    QTest::newRow("SD card through mmc")
        << sdCardPartition << true << QByteArray("0") << true << true << false;
    QTest::newRow("FireWire disk")
        << QStringLiteral("pci0000:00/0000:00:1c.0/0000:05:00.0/fw0/fw0.0/host7/target7:0:0/"
                          "7:0:0:0/block/sdc/sdc1")
        << true << QByteArray("0") << false << true << false;
    QTest::newRow("internal SATA disk")
        << QStringLiteral("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda2")
        << true << QByteArray("0") << false << false << true;
    QTest::newRow("internal card reader slot")
        << QStringLiteral("pci0000:00/0000:00:1d.0/0000:3b:00.0/host2/target2:0:0/2:0:0:0/block/"
                          "sdd/sdd1")
        << true << QByteArray("1") << true << true << false;
    QTest::newRow("loop disk image") << QStringLiteral("virtual/block/loop7") << false
                                     << QByteArray("0") << false << true << false;
}

void MountedVolumeProviderTests::blockDevicesAreClassifiedByBus()
{
    QFETCH(QString, devicePath);
    QFETCH(bool, isPartition);
    QFETCH(QByteArray, removableAttribute);
    QFETCH(bool, removable);
    QFETCH(bool, ejectable);
    QFETCH(bool, internal);
    SystemFixture fixture;
    fixture.addBlockDevice(QStringLiteral("8:33"), devicePath, isPartition, removableAttribute);
    fixture.writeMountInfo({mountInfoLine(50,
                                          QStringLiteral("8:33"),
                                          QStringLiteral("/media/usb-backup/CARD"),
                                          QStringLiteral("ext4"),
                                          QStringLiteral("/dev/x"))});
    Result<QList<MountedVolume>> volumes = volumesOf(fixture);
    QVERIFY(volumes);
    QCOMPARE(volumes->size(), 1);
    const MountedVolume &volume = volumes->first();
    QCOMPARE(volume.name, QStringLiteral("CARD"));
    QCOMPARE(volume.isRemovable, removable);
    QCOMPARE(volume.isEjectable, ejectable);
    QCOMPARE(volume.isInternal, internal);
    QCOMPARE(volume.isLocal, true);
}

void MountedVolumeProviderTests::hiddenMountsAreSkipped_data()
{
    QTest::addColumn<QString>("mountPoint");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("listed");
    QTest::newRow("sysfs") << QStringLiteral("/sys") << QStringLiteral("sysfs") << false;
    QTest::newRow("tmpfs") << QStringLiteral("/tmp") << QStringLiteral("tmpfs") << false;
    QTest::newRow("cgroup2") << QStringLiteral("/sys/fs/cgroup") << QStringLiteral("cgroup2")
                             << false;
    QTest::newRow("overlay") << QStringLiteral("/var/lib/docker/overlay2/x/merged")
                             << QStringLiteral("overlay") << false;
    QTest::newRow("snap image") << QStringLiteral("/snap/core22/1122") << QStringLiteral("squashfs")
                                << false;
    QTest::newRow("squashfs elsewhere")
        << QStringLiteral("/media/ann/live") << QStringLiteral("squashfs") << false;
    QTest::newRow("gvfs bridge") << QStringLiteral("/home/ann/.gvfs")
                                 << QStringLiteral("fuse.gvfsd-fuse") << false;
    QTest::newRow("document portal")
        << QStringLiteral("/home/ann/doc") << QStringLiteral("fuse.portal") << false;
    QTest::newRow("EFI partition")
        << QStringLiteral("/boot/efi") << QStringLiteral("vfat") << false;
    QTest::newRow("under /run") << QStringLiteral("/run/user/1000/x") << QStringLiteral("ext4")
                                << false;
    QTest::newRow("under /dev") << QStringLiteral("/dev/hugepages") << QStringLiteral("ext4")
                                << false;
    QTest::newRow("under /run/media")
        << QStringLiteral("/run/media/ann/CARD") << QStringLiteral("exfat") << true;
    QTest::newRow("name starting like /run")
        << QStringLiteral("/runner/CARD") << QStringLiteral("exfat") << true;
    QTest::newRow("name starting like /sys")
        << QStringLiteral("/system-backup") << QStringLiteral("ext4") << true;
}

void MountedVolumeProviderTests::hiddenMountsAreSkipped()
{
    QFETCH(QString, mountPoint);
    QFETCH(QString, type);
    QFETCH(bool, listed);
    SystemFixture fixture;
    fixture.writeMountInfo(
        {mountInfoLine(30, QStringLiteral("0:40"), mountPoint, type, QStringLiteral("x"))});
    Result<QList<MountedVolume>> volumes = volumesOf(fixture);
    QVERIFY(volumes);
    QCOMPARE(volumes->size(), listed ? 1 : 0);
    if (listed) {
        // No block device behind it: a local mount of this computer, never a card.
        QCOMPARE(volumes->first().url, mountPoint);
        QVERIFY(volumes->first().isInternal);
        QVERIFY(!volumes->first().isEjectable);
    }
}

void MountedVolumeProviderTests::mountPointThatIsNotUtf8IsOfferedAndItsScanFails_data()
{
    QTest::addColumn<QByteArray>("mountPoint"); // as the mount table holds it
    QTest::addColumn<QString>("shown");
    QTest::newRow("Latin-1 letter")
        << QByteArray("/media/ann/caf\xe9") << QStringLiteral("/media/ann/caf\\xE9");
    QTest::newRow("lone byte after valid text") << QByteArray("/media/ann/\xc3\xa9t\xc3\xa9\xff")
                                                << QStringLiteral("/media/ann/\u00e9t\u00e9\\xFF");
    QTest::newRow("cut sequence and an escaped space")
        << QByteArray("/media/ann/EOS\\040\xe2\x82") << QStringLiteral("/media/ann/EOS \\xE2\\x82");
}

void MountedVolumeProviderTests::mountPointThatIsNotUtf8IsOfferedAndItsScanFails()
{
    QFETCH(QByteArray, mountPoint);
    QFETCH(QString, shown);
    SystemFixture fixture;
    fixture.addBlockDevice(QStringLiteral("8:17"), usbPartition, true, "1");
    fixture.writeMountInfo("40 1 8:17 / " + mountPoint + " rw shared:40 - exfat /dev/sdb1 rw");
    auto files = std::make_shared<LocalFileManager>();
    const auto provider = std::make_shared<MountInfoVolumeProvider>(files, fixture.paths());

    Result<QList<ImportScanVolume>> offered = RemovableVolumeDetector(provider).removableVolumes();

    QVERIFY(offered);
    QCOMPARE(offered->size(), 1);
    QCOMPARE(offered->first().url, shown);
    QCOMPARE(offered->first().name, lastPathComponent(shown));
    QVERIFY(!offered->first().hasValidURL);
    // Its files cannot be reached by that name: the scan says so instead of showing nothing.
    Result<ImportReview> review = ImportReviewBuilder(files).buildReview(*offered);
    QVERIFY(!review);
    QCOMPARE(review.error(), Error(FileSystemError{QStringLiteral("read name"), shown, EILSEQ}));
}

void MountedVolumeProviderTests::unreadableOrMalformedTableFails()
{
    SystemFixture fixture;
    fixture.writeMountInfo({mountInfoLine(27,
                                          QStringLiteral("254:0"),
                                          QStringLiteral("/"),
                                          QStringLiteral("ext4"),
                                          QStringLiteral("/dev/vda"))});
    auto files = std::make_shared<FaultInjectingFileManager>();
    files->failOperation(FileOperation::Read, EIO, fixture.mountInfo());
    Result<QList<MountedVolume>> unreadable
        = MountInfoVolumeProvider(files, fixture.paths()).mountedVolumes();
    QVERIFY(!unreadable);
    QCOMPARE(unreadable.error().as<FileSystemError>()->code, EIO);

    fixture.writeMountInfo({mountInfoLine(27,
                                          QStringLiteral("254:0"),
                                          QStringLiteral("/"),
                                          QStringLiteral("ext4"),
                                          QStringLiteral("/dev/vda")),
                            QStringLiteral("28 1 8:1 / /media/x rw")});
    Result<QList<MountedVolume>> malformed = volumesOf(fixture);
    QVERIFY(!malformed);
    const DecodingError *error = malformed.error().as<DecodingError>();
    QVERIFY(error);
    QVERIFY(error->keyPath.endsWith(QStringLiteral("line 2")));
}

void MountedVolumeProviderTests::realMountTableCanBeRead()
{
    Result<QList<MountedVolume>> volumes
        = MountInfoVolumeProvider(std::make_shared<LocalFileManager>()).mountedVolumes();
    QVERIFY2(volumes, qPrintable(volumes ? QString() : describe(volumes.error())));
    for (const MountedVolume &volume : *volumes) {
        QVERIFY(volume.url.startsWith(QLatin1Char('/')));
        QVERIFY(!volume.url.startsWith(QStringLiteral("/proc")));
        QVERIFY(!volume.name.isEmpty());
    }
}

QTEST_GUILESS_MAIN(MountedVolumeProviderTests)
#include "MountedVolumeProviderTests.moc"
