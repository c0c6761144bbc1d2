#include <PellwickApp/Shell/MountMonitor.h>
#include <PellwickCore/Ingest/MountInfoVolumeProvider.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

#include <Support/TestFiles.h>
#include <sched.h>
#include <sys/mount.h>

using namespace Pellwick;
using namespace Pellwick::Test;

namespace {

/// Counts the listings it passes on.
class CountingVolumeProvider final : public MountedVolumeProviding
{
public:
    explicit CountingVolumeProvider(std::shared_ptr<const MountedVolumeProviding> inner)
        : m_inner(std::move(inner))
    {}

    Result<QList<MountedVolume>> mountedVolumes() const override
    {
        ++m_calls;
        return m_inner->mountedVolumes();
    }

    int calls() const { return m_calls; }

private:
    std::shared_ptr<const MountedVolumeProviding> m_inner;
    mutable std::atomic<int> m_calls = 0;
};

} // namespace

/// The monitor over a fixture mount table. A table is a list of mount lines by short name (see
/// `mountLine`), or "<missing>" (no table file) or "<malformed>" (a line that is no mount line);
/// the first is the starting point and each further one is written and announced as a change.
/// Events are recorded as "mounted <path>" and "unmounted <path>".
class MountMonitorTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportsChanges_data();
    void reportsChanges();
    void realMountTableStartsAndStopsQuietly();
    void realMountChangesAreNoticed();

private:
    static QByteArray mountLine(const QString &name);
    static void writeTable(const QString &file, const QStringList &table);
};

QByteArray MountMonitorTests::mountLine(const QString &name)
{
    static const QHash<QString, QByteArray> lines{
        {QStringLiteral("root"), "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw"},
        {QStringLiteral("card"),
         "40 22 8:17 / /media/card rw,nosuid shared:30 - vfat /dev/sdb1 rw,uid=1000"},
        {QStringLiteral("card over card"),
         "41 40 8:33 / /media/card rw,nosuid shared:31 - exfat /dev/sdc1 rw"},
        {QStringLiteral("other"), "42 22 8:33 / /media/other rw shared:32 - exfat /dev/sdc1 rw"},
        {QStringLiteral("spaced"),
         "43 22 179:1 / /media/my\\040card rw shared:33 - vfat /dev/mmcblk0p1 rw"},
        {QStringLiteral("proc"), "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw"},
        {QStringLiteral("run user"),
         "44 22 0:50 / /run/user/1000 rw shared:40 - tmpfs tmpfs rw,size=100k"},
    };
    Q_ASSERT(lines.contains(name));
    return lines.value(name);
}

void MountMonitorTests::writeTable(const QString &file, const QStringList &table)
{
    QFile::remove(file);
    if (table == QStringList{QStringLiteral("<missing>")})
        return;
    if (table == QStringList{QStringLiteral("<malformed>")}) {
        writeFile(file, "22 1 8:2 / / rw - ext4 /dev/sda2 rw\nthis is not a mount line\n");
        return;
    }
    QByteArray text;
    for (const QString &name : table)
        text += mountLine(name) + '\n';
    writeFile(file, text);
}

void MountMonitorTests::reportsChanges_data()
{
    QTest::addColumn<QList<QStringList>>("tables");
    QTest::addColumn<QStringList>("events");

    const QStringList missing{QStringLiteral("<missing>")};
    const QStringList malformed{QStringLiteral("<malformed>")};
    const QStringList root = texts({"root"});
    const QStringList withCard = texts({"root", "card"});

    QTest::newRow("a volume mounted")
        << QList<QStringList>{root, withCard} << texts({"mounted /media/card"});
    QTest::newRow("a volume unmounted")
        << QList<QStringList>{withCard, root} << texts({"unmounted /media/card"});
    QTest::newRow("one out and one in, unmount first")
        << QList<QStringList>{withCard, texts({"root", "other"})}
        << texts({"unmounted /media/card", "mounted /media/other"});
    QTest::newRow("a mount point with an escaped space")
        << QList<QStringList>{root, texts({"root", "spaced"}), root}
        << texts({"mounted /media/my card", "unmounted /media/my card"});
    QTest::newRow("system mounts are never reported")
        << QList<QStringList>{root, texts({"root", "proc", "run user"})} << QStringList();
    QTest::newRow("an unchanged table") << QList<QStringList>{withCard, withCard} << QStringList();
    QTest::newRow("mounted over an existing mount point")
        << QList<QStringList>{withCard, texts({"root", "card", "card over card"}), withCard}
        << QStringList();
    QTest::newRow("a missing table reports nothing, the next compares with the last")
        << QList<QStringList>{root, missing, withCard, missing, root}
        << texts({"mounted /media/card", "unmounted /media/card"});
    QTest::newRow("a malformed table reports nothing, the next compares with the last")
        << QList<QStringList>{withCard, malformed, root} << texts({"unmounted /media/card"});
    QTest::newRow("unreadable at start: the first readable table is the starting point")
        << QList<QStringList>{missing, withCard, root} << texts({"unmounted /media/card"});
}

void MountMonitorTests::reportsChanges()
{
    QFETCH(QList<QStringList>, tables);
    QFETCH(QStringList, events);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    MountInfoSystemPaths paths;
    paths.mountInfo = dir.filePath(QStringLiteral("mountinfo"));
    paths.sysfsRoot = dir.filePath(QStringLiteral("sys"));
    paths.diskLinksRoot = dir.filePath(QStringLiteral("disk"));
    const auto provider
        = std::make_shared<MountInfoVolumeProvider>(std::make_shared<LocalFileManager>(), paths);

    writeTable(paths.mountInfo, tables.first());
    MountMonitor monitor(provider, paths.mountInfo);
    QStringList recorded;
    connect(&monitor, &MountMonitor::volumeMounted, this, [&](const QString &path) {
        recorded.append(QStringLiteral("mounted ") + path);
    });
    connect(&monitor, &MountMonitor::volumeUnmounted, this, [&](const QString &path) {
        recorded.append(QStringLiteral("unmounted ") + path);
    });
    for (qsizetype i = 1; i < tables.size(); ++i) {
        writeTable(paths.mountInfo, tables.at(i));
        monitor.mountTableChanged();
    }
    QCOMPARE(recorded, events);
}

void MountMonitorTests::realMountTableStartsAndStopsQuietly()
{
    const auto provider = std::make_shared<CountingVolumeProvider>(
        std::make_shared<MountInfoVolumeProvider>(std::make_shared<LocalFileManager>()));
    const int descriptors = openDescriptorCount();
    {
        MountMonitor monitor(provider);
        QVERIFY(monitor.isWatching());
        QCOMPARE(provider->calls(), 1);
        int events = 0;
        connect(&monitor, &MountMonitor::volumeMounted, this, [&] { ++events; });
        connect(&monitor, &MountMonitor::volumeUnmounted, this, [&] { ++events; });
        // The table is always readable: a notifier on readability would fire at every turn of
        // the event loop. Nothing is mounted meanwhile, so nothing is listed again.
        for (int round = 0; round < 5; ++round)
            QCoreApplication::processEvents();
        QCOMPARE(provider->calls(), 1);
        monitor.mountTableChanged();
        QCOMPARE(provider->calls(), 2);
        QCOMPARE(events, 0);
    }
    QCOMPARE(openDescriptorCount(), descriptors);
}

void MountMonitorTests::realMountChangesAreNoticed()
{
    // Mounts made in a private mount namespace of this process change its own table only.
    if (::unshare(CLONE_NEWNS) != 0
        || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        QSKIP("mounting needs a private mount namespace, which this system does not allow");
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray target = QFile::encodeName(dir.path());
    const auto provider = std::make_shared<CountingVolumeProvider>(
        std::make_shared<MountInfoVolumeProvider>(std::make_shared<LocalFileManager>()));
    MountMonitor monitor(provider);
    QCOMPARE(provider->calls(), 1);

    QCOMPARE(::mount("pellwick-test", target.constData(), "tmpfs", 0, "size=64k"), 0);
    QTRY_COMPARE(provider->calls(), 2);
    QCOMPARE(::umount(target.constData()), 0);
    QTRY_COMPARE(provider->calls(), 3);
}

QTEST_GUILESS_MAIN(MountMonitorTests)
#include "MountMonitorTests.moc"
