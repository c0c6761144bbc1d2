#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QSettings>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace Pellwick {

/// Remembers the folder restored files were saved into last, for the folder chooser to start in.
/// A persistent store keeps it in the settings under "restoreDestinationPath" as a plain path; a
/// non-persistent one only for its own life. Main thread only.
class RestoreDestinationStore : public QObject
{
    Q_OBJECT

public:
    using SettingsFactory = std::function<std::unique_ptr<QSettings>()>;

    /// A persistent store over `settings`, starting with the folder saved there, if any and if it
    /// is an absolute path.
    explicit RestoreDestinationStore(std::unique_ptr<QSettings> settings,
                                     QObject *parent = nullptr);
    /// A store that reads and writes no settings and starts empty.
    static std::unique_ptr<RestoreDestinationStore> nonPersistent(QObject *parent = nullptr);
    /// The store the application uses: non-persistent when
    /// PELL_WICK_USE_NON_PERSISTENT_RESTORE_DESTINATION_STORE is exactly "1" (then `openSettings`
    /// is not called), else persistent over the settings `openSettings` opens.
    static std::unique_ptr<RestoreDestinationStore>
    forApplicationProcess(const QProcessEnvironment &environment,
                          const SettingsFactory &openSettings,
                          QObject *parent = nullptr);

    static QString destinationKey();

    bool isPersistent() const { return m_settings != nullptr; }

    const std::optional<QString> &lastDestination() const { return m_lastDestination; }

    /// Publishes `url` as the last destination and, when persistent, saves its path.
    void record(const QString &url);

Q_SIGNALS:
    void lastDestinationChanged();

private:
    explicit RestoreDestinationStore(QObject *parent);

    std::unique_ptr<QSettings> m_settings;
    std::optional<QString> m_lastDestination;
};

} // namespace Pellwick
