#pragma once

#include <PellwickCore/Ingest/MountedVolumeProviding.h>

#include <QObject>
#include <QStringList>

#include <memory>
#include <optional>

class QSocketNotifier;

namespace Pellwick {

/// Reports volumes mounted and unmounted while the application runs. Watches the kernel's mount
/// table for changes and, at each change, lists the volumes through `provider` and compares their
/// mount points with the last listing. A listing that fails (an unreadable or malformed table)
/// reports nothing and is compared against at the next change as if it had not happened. Main
/// thread only.
class MountMonitor : public QObject
{
    Q_OBJECT

public:
    /// Lists the volumes once as the starting point (volumes mounted now are never reported) and
    /// watches `mountTable` for changes; a table that cannot be opened is not watched.
    explicit MountMonitor(std::shared_ptr<const MountedVolumeProviding> provider,
                          const QString &mountTable = QStringLiteral("/proc/self/mountinfo"),
                          QObject *parent = nullptr);
    ~MountMonitor() override;

    /// True while the mount table is watched.
    bool isWatching() const { return m_notifier != nullptr; }

public Q_SLOTS:
    /// Lists the volumes again and reports the differences: every unmount first, then every
    /// mount, each in the table's order.
    void mountTableChanged();

Q_SIGNALS:
    void volumeMounted(const QString &path);
    void volumeUnmounted(const QString &path);

private:
    std::optional<QStringList> listMountPoints() const;

    std::shared_ptr<const MountedVolumeProviding> m_provider;
    /// None until a listing succeeded.
    std::optional<QStringList> m_mountPoints;
    int m_descriptor = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace Pellwick
