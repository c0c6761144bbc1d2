#include "ImportRoadFixture.h"

#include <PellwickApp/Shell/MountMonitor.h>
#include <PellwickCore/Ingest/MountInfoVolumeProvider.h>

#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <Support/FatImage.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

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

/// A real medium: a disk image attached to a loop device and mounted, seen through the kernel's
/// own mount table, sysfs and udev links.
class LoopDeviceMountTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mountedImageIsProposedAndScanned();
};

void LoopDeviceMountTests::mountedImageIsProposedAndScanned()
{
    // Mounts made in a private mount namespace change this process's table only.
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0
        || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        QSKIP("mounting needs the administrator and a private mount namespace");
    ShellViewModelFixture fixture;
    QVERIFY(fixture.dir.isValid());
    const QString image = fixture.dir.filePath(u"card.img"_s);
    QVERIFY(writeFat16Image(image, "PELLWICK"));
    // Without the kernel's FAT driver (a container), the road is the same on ext2.
    QByteArray type = "vfat";
    QFile filesystems(u"/proc/filesystems"_s);
    if (filesystems.open(QIODevice::ReadOnly) && !filesystems.readAll().contains("\tvfat\n")) {
        type = "ext2";
        if (!run(u"mke2fs"_s, {u"-q"_s, u"-F"_s, u"-t"_s, u"ext2"_s, image}))
            QSKIP("neither FAT nor mke2fs is available");
    }
    const std::optional<QString> device = run(u"losetup"_s, {u"--find"_s, u"--show"_s, image});
    if (!device || device->isEmpty())
        QSKIP("no loop device could be attached");
    const auto detach = qScopeGuard([&] { run(u"losetup"_s, {u"-d"_s, *device}); });

    fixture.volumeProvider
        = std::make_shared<MountInfoVolumeProvider>(std::make_shared<LocalFileManager>());
    const auto model = fixture.make();
    MountMonitor monitor(
        std::make_shared<MountInfoVolumeProvider>(std::make_shared<LocalFileManager>()));
    connect(&monitor, &MountMonitor::volumeMounted, model.get(), [&](const QString &path) {
        model->receiveMountedImportSource(path);
    });

    const QString target = fixture.dir.filePath(u"CARD"_s);
    QVERIFY(QDir().mkpath(target));
    if (::mount(device->toLocal8Bit().constData(),
                target.toLocal8Bit().constData(),
                type.constData(),
                0,
                nullptr)
        != 0)
        QSKIP("the image could not be mounted");
    const auto unmount = qScopeGuard([&] { ::umount(target.toLocal8Bit().constData()); });
    writeCard(target, 2);

    QVERIFY(QTest::qWaitFor([&] { return model->shellState().mountProposal().has_value(); }));
    const QList<ImportScanVolume> sources = model->shellState().mountProposal()->sources;
    QCOMPARE(sources.size(), 1);
    QCOMPARE(sources.first().url, target);
    model->acceptMountProposal();
    QVERIFY(QTest::qWaitFor([&] { return !model->importState().isScanningImportSources(); }));
    QCOMPARE(model->importState().importReviewState().review->candidateCount(), 2);
}

QTEST_GUILESS_MAIN(LoopDeviceMountTests)
#include "LoopDeviceMountTests.moc"
