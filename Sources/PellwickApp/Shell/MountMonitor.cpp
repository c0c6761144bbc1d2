#include "MountMonitor.h"

#include <QFile>
#include <QSet>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace Pellwick {

MountMonitor::MountMonitor(std::shared_ptr<const MountedVolumeProviding> provider,
                           const QString &mountTable,
                           QObject *parent)
    : QObject(parent)
    , m_provider(std::move(provider))
{
    m_mountPoints = listMountPoints();
    // The kernel marks the table's descriptor with POLLPRI and POLLERR when a mount changes; a
    // poll acknowledges it, so no read is needed to wait for the next change.
    m_descriptor = ::open(QFile::encodeName(mountTable).constData(), O_RDONLY | O_CLOEXEC);
    if (m_descriptor >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_descriptor, QSocketNotifier::Exception);
        connect(
            m_notifier.get(), &QSocketNotifier::activated, this, &MountMonitor::mountTableChanged);
    }
}

MountMonitor::~MountMonitor()
{
    m_notifier.reset();
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

std::optional<QStringList> MountMonitor::listMountPoints() const
{
    Result<QList<MountedVolume>> volumes = m_provider->mountedVolumes();
    if (!volumes)
        return std::nullopt;
    QStringList mountPoints;
    for (const MountedVolume &volume : *volumes) {
        if (!mountPoints.contains(volume.url)) // a mount point mounted over counts once
            mountPoints.append(volume.url);
    }
    return mountPoints;
}

void MountMonitor::mountTableChanged()
{
    std::optional<QStringList> current = listMountPoints();
    if (!current)
        return;
    if (!m_mountPoints) {
        // The first readable table only sets the starting point: what it lists may have been
        // mounted before the application started.
        m_mountPoints = std::move(current);
        return;
    }
    const QStringList previous = std::exchange(*m_mountPoints, *current);
    const QSet<QString> previousSet(previous.cbegin(), previous.cend());
    const QSet<QString> currentSet(current->cbegin(), current->cend());
    for (const QString &path : previous) {
        if (!currentSet.contains(path))
            Q_EMIT volumeUnmounted(path);
    }
    for (const QString &path : *current) {
        if (!previousSet.contains(path))
            Q_EMIT volumeMounted(path);
    }
}

} // namespace Pellwick
