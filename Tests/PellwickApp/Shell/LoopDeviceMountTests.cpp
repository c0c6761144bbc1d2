#include "ImportRoadFixture.h"

#include <PellwickApp/Shell/MountMonitor.h>
#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickCore/Ingest/MountInfoVolumeProvider.h>

#include <QScopeGuard>
#include <QTest>

#include <Support/LoopDiskImage.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

/// A real medium: a disk image on a loop device, mounted, seen through the kernel's own mount
/// table and sysfs.
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
    const std::unique_ptr<LoopDiskImage> image
        = LoopDiskImage::create(fixture.dir.filePath(u"card.img"_s));
    if (!image)
        QSKIP("no disk image could be attached to a loop device");
    fixture.volumeProvider
        = std::make_shared<MountInfoVolumeProvider>(std::make_shared<LocalFileManager>());
    const auto model = fixture.make();
    MountMonitor monitor(
        std::make_shared<MountInfoVolumeProvider>(std::make_shared<LocalFileManager>()));
    connect(&monitor, &MountMonitor::volumeMounted, model.get(), [&](const QString &path) {
        model->importWorkflows().receiveMountedImportSource(path);
    });

    const QString target = fixture.dir.filePath(u"CARD"_s);
    const QByteArray targetPath = QFile::encodeName(target);
    QVERIFY(QDir().mkpath(target));
    if (::mount(QFile::encodeName(image->device()).constData(),
                targetPath.constData(),
                image->type().constData(),
                0,
                nullptr)
        != 0)
        QSKIP("the image could not be mounted");
    const auto unmount = qScopeGuard([&] { ::umount(targetPath.constData()); });
    writeCard(target, 2);

    QVERIFY(QTest::qWaitFor([&] { return model->shellState().mountProposal().has_value(); }));
    QCOMPARE(model->shellState().mountProposal()->sources.value(0).url, target);
    model->importWorkflows().acceptMountProposal();
    QVERIFY(QTest::qWaitFor([&] { return !model->importState().isScanningImportSources(); }));
    QCOMPARE(model->importState().importReviewState().review->candidateCount(), 2);
}

QTEST_GUILESS_MAIN(LoopDeviceMountTests)
#include "LoopDeviceMountTests.moc"
