#pragma once

#include "ImportRoadFixture.h"

#include <PellwickApp/Shell/MountMonitor.h>
#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickCore/Ingest/MountInfoVolumeProvider.h>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <mutex>

#include <Support/MountSystemFixture.h>

namespace Pellwick::Test {

enum class Medium {
    SdCard,
    UsbStick,
    LoopImage,
    InternalDisk
};

/// Passes listings on, counting them and noting those made on the main thread; can fail them, or
/// hold each one at a gate after it has read the table.
class ObservedVolumes final : public MountedVolumeProviding
{
public:
    explicit ObservedVolumes(std::shared_ptr<const MountedVolumeProviding> inner)
        : m_inner(std::move(inner))
    {}

    Result<QList<MountedVolume>> mountedVolumes() const override
    {
        ++m_calls;
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            ++m_onMainThread;
        Result<QList<MountedVolume>> answer = m_inner->mountedVolumes();
        std::shared_ptr<Gate> gate;
        {
            const std::lock_guard lock(m_mutex);
            gate = m_gate;
            if (m_failing)
                answer = failure(FileSystemError{QStringLiteral("open"), {}, EIO});
        }
        if (gate)
            gate->wait();
        return answer;
    }

    int calls() const { return m_calls; }

    int callsOnMainThread() const { return m_onMainThread; }

    void setFailing(bool failing)
    {
        const std::lock_guard lock(m_mutex);
        m_failing = failing;
    }

    /// Later listings wait at `gate` (none: they pass).
    void setGate(std::shared_ptr<Gate> gate)
    {
        const std::lock_guard lock(m_mutex);
        m_gate = std::move(gate);
    }

private:
    std::shared_ptr<const MountedVolumeProviding> m_inner;
    mutable std::atomic<int> m_calls = 0;
    mutable std::atomic<int> m_onMainThread = 0;
    mutable std::mutex m_mutex;
    bool m_failing = false;
    std::shared_ptr<Gate> m_gate;
};

inline QCoro::Task<> checkNow(LibraryShellViewModel *model, int *finished)
{
    co_await model->importWorkflows().refreshSourceMediaSafetyNow();
    ++*finished;
}

/// A shell over removable media as the system shows it: a fixture mount table with its sysfs
/// and udev trees, read by `MountInfoVolumeProvider`. A medium named N mounts on the folder
/// "media/N" of the fixture's directory (its name as the system shows it); the view model lists
/// through `observed`, and `connect` starts a `MountMonitor` on the table that forwards its
/// notices as the window does.
struct RemovableMediaFixture : ImportRoadFixture
{
    RemovableMediaFixture()
    {
        system.addBlockDevice(QStringLiteral("254:0"),
                              QStringLiteral("pci0000:00/0000:00:05.0/virtio0/block/vda"),
                              false,
                              "0");
        volumeProvider = observed;
        steadyClock = [this] { return now; };
        writeTable();
    }

    QString mountPoint(const QString &name) const
    {
        return dir.filePath(QStringLiteral("media/") + name);
    }

    static QString uuid(const QString &name) { return name + QStringLiteral("-UUID"); }

    /// Adds the medium, with the volume UUID `uuid(name)`, to the table and announces the change (when connected).
    void mount(const QString &name, Medium medium = Medium::SdCard)
    {
        if (!m_devices.contains(name))
            m_devices.insert(name, addDevice(name, medium));
        const auto [number, kernelName] = m_devices.value(name);
        QDir().mkpath(mountPoint(name));
        m_mounted.append({name,
                          mountInfoLine(40 + int(m_devices.size()),
                                        number,
                                        mountPoint(name),
                                        QStringLiteral("vfat"),
                                        QStringLiteral("/dev/") + kernelName)});
        announce();
    }

    void unmount(const QString &name)
    {
        m_mounted.removeIf([&name](const auto &entry) { return entry.first == name; });
        announce();
    }

    /// Forwards the table's changes to `model` from now on.
    void connect(LibraryShellViewModel &model)
    {
        monitor = std::make_unique<MountMonitor>(
            std::make_shared<MountInfoVolumeProvider>(std::make_shared<LocalFileManager>(),
                                                      system.paths()),
            system.mountInfo());
        QObject::connect(
            monitor.get(), &MountMonitor::volumeMounted, &model, [&model](const QString &path) {
                model.importWorkflows().receiveMountedImportSource(path);
            });
        QObject::connect(
            monitor.get(), &MountMonitor::volumeUnmounted, &model, [&model](const QString &path) {
                model.importWorkflows().receiveUnmountedImportSource(path);
            });
    }

    /// Performs one action of a scripted session with `model`, then lets the work it started end
    /// unless listings are held. Media: "mount", "mount-usb", "mount-loop" or "mount-internal" a
    /// medium, "eject" it, "notice" (a mount notice for a medium already mounted); listings:
    /// "hold" (later listings wait after reading the table; a mount's, or a throttled check's,
    /// until it arrived there), "release", "fail on|off"; operations: "accept", "dismiss",
    /// "scan-new", "scan-all", "schedule" (the throttled check), "now" (the immediate check, not
    /// awaited: counted in `checksStarted` and `checksFinished`); "advance <seconds>" (the
    /// workflow clock); "<work> on|off" for the busy fields "import", "transfer", "request",
    /// "moving", "move" and "scan".
    bool perform(LibraryShellViewModel &model, const QString &action)
    {
        const QString verb = action.section(QLatin1Char(' '), 0, 0);
        const QString argument = action.section(QLatin1Char(' '), 1);
        const bool on = argument == QLatin1String("on");
        const int listed = gate ? gate->arrived() : 0;
        static const QHash<QString, Medium> media{
            {QStringLiteral("mount"), Medium::SdCard},
            {QStringLiteral("mount-usb"), Medium::UsbStick},
            {QStringLiteral("mount-loop"), Medium::LoopImage},
            {QStringLiteral("mount-internal"), Medium::InternalDisk}};
        using PendingMigration = IngestCacheLocationStoring::PendingMigration;
        const QHash<QString, std::function<void()>> actions{
            {QStringLiteral("eject"), [&] { unmount(argument); }},
            {QStringLiteral("notice"),
             [&] { model.importWorkflows().receiveMountedImportSource(mountPoint(argument)); }},
            {QStringLiteral("hold"), [&] { observed->setGate(gate = std::make_shared<Gate>()); }},
            {QStringLiteral("release"), [&] { std::exchange(gate, {})->release(); }},
            {QStringLiteral("fail"), [&] { observed->setFailing(on); }},
            {QStringLiteral("accept"), [&] { model.importWorkflows().acceptMountProposal(); }},
            {QStringLiteral("dismiss"), [&] { model.importWorkflows().dismissMountProposal(); }},
            {QStringLiteral("scan-new"),
             [&] { model.importWorkflows().scanNewlyMountedImportSources(); }},
            {QStringLiteral("scan-all"),
             [&] { model.importWorkflows().scanAllRemovableVolumes(); }},
            {QStringLiteral("schedule"),
             [&] { model.importWorkflows().scheduleSourceMediaSafetyRefresh(); }},
            {QStringLiteral("now"),
             [&] {
                 ++checksStarted;
                 checkNow(&model, &checksFinished);
             }},
            {QStringLiteral("advance"), [&] { now += std::chrono::seconds(argument.toInt()); }},
            {QStringLiteral("import"), [&] { model.importState().setIsImporting(on); }},
            {QStringLiteral("transfer"),
             [&] { model.restoreState().setIsRestoreTransferActive(on); }},
            {QStringLiteral("request"),
             [&] {
                 model.restoreState().setActiveRestoreRequest(on ? std::optional(RestoreRequest{})
                                                                 : std::nullopt);
             }},
            {QStringLiteral("moving"),
             [&] { model.ingestCacheState().setIsMigratingIngestCache(on); }},
            {QStringLiteral("move"),
             [&] {
                 model.ingestCacheState().setPendingIngestCacheMigration(
                     on ? std::optional(
                         PendingMigration{QStringLiteral("/a"), QStringLiteral("/b")})
                        : std::nullopt);
             }},
            {QStringLiteral("scan"), [&] { model.importState().setIsScanningImportSources(on); }},
        };
        if (media.contains(verb))
            mount(argument, media.value(verb));
        else if (actions.contains(verb))
            actions.value(verb)();
        else
            return false;
        const bool starts = media.contains(verb) || verb == QLatin1String("schedule");
        if (gate && starts && !QTest::qWaitFor([&] { return gate->arrived() > listed; }))
            qFatal("a held listing never started");
        settle();
        return true;
    }

    /// Lets the view model's listings and checks end and their results arrive, unless held.
    void settle() const
    {
        if (gate)
            return;
        WorkflowPools::utility().waitForDone();
        for (int round = 0; round < 3; ++round)
            QCoreApplication::processEvents();
    }

    MountSystemFixture system;
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    std::shared_ptr<Gate> gate;
    int checksStarted = 0;
    int checksFinished = 0;
    std::shared_ptr<ObservedVolumes> observed = std::make_shared<ObservedVolumes>(
        std::make_shared<MountInfoVolumeProvider>(files, system.paths()));
    std::unique_ptr<MountMonitor> monitor;

private:
    /// The device's number and kernel name.
    std::pair<QString, QString> addDevice(const QString &name, Medium medium)
    {
        const QString n = QString::number(m_devices.size() + 1);
        QString number;
        QString device;
        bool partition = true;
        QByteArray removable = "0";
        switch (medium) {
        case Medium::SdCard:
            number = QStringLiteral("179:") + n;
            device = QStringLiteral("platform/soc/fe340000.mmc/mmc_host/mmc%1/mmc%1:aaaa/block/"
                                    "mmcblk%1/mmcblk%1p1")
                         .arg(n);
            break;
        case Medium::UsbStick:
            number = QStringLiteral("8:") + n;
            device = QStringLiteral("pci0000:00/0000:00:14.0/usb2/2-%1/2-%1:1.0/host%1/"
                                    "target%1:0:0/%1:0:0:0/block/sdu%1/sdu%1p1")
                         .arg(n);
            removable = "1";
            break;
        case Medium::LoopImage:
            number = QStringLiteral("7:") + n;
            device = QStringLiteral("virtual/block/loop") + n;
            partition = false;
            break;
        case Medium::InternalDisk:
            number = QStringLiteral("253:") + n;
            device = QStringLiteral("pci0000:00/0000:00:06.0/virtio%1/block/vdi%1").arg(n);
            partition = false;
            break;
        }
        const QString kernelName = QFileInfo(device).fileName();
        system.addBlockDevice(number, device, partition, removable);
        system.addDiskLink(QStringLiteral("by-uuid"), uuid(name), kernelName);
        return {number, kernelName};
    }

    void writeTable()
    {
        QStringList lines{mountInfoLine(22,
                                        QStringLiteral("254:0"),
                                        QStringLiteral("/"),
                                        QStringLiteral("ext4"),
                                        QStringLiteral("/dev/vda"))};
        for (const auto &entry : std::as_const(m_mounted))
            lines.append(entry.second);
        system.writeMountInfo(lines);
    }

    void announce()
    {
        writeTable();
        if (monitor)
            monitor->mountTableChanged();
    }

    QHash<QString, std::pair<QString, QString>> m_devices;
    QList<std::pair<QString, QString>> m_mounted;
};

} // namespace Pellwick::Test
