#include "RestoreDestinationStore.h"

namespace Pellwick {

RestoreDestinationStore::RestoreDestinationStore(QObject *parent)
    : QObject(parent)
{}

RestoreDestinationStore::RestoreDestinationStore(std::unique_ptr<QSettings> settings,
                                                 QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
{
    Q_ASSERT_X(m_settings, "RestoreDestinationStore", "a settings store is required");
    // Only an absolute path names a folder: a relative one would depend on where the
    // application happened to be started from.
    const QVariant saved = m_settings->value(destinationKey());
    if (saved.typeId() == QMetaType::QString && saved.toString().startsWith(QLatin1Char('/')))
        m_lastDestination = saved.toString();
}

std::unique_ptr<RestoreDestinationStore> RestoreDestinationStore::nonPersistent(QObject *parent)
{
    return std::unique_ptr<RestoreDestinationStore>(new RestoreDestinationStore(parent));
}

std::unique_ptr<RestoreDestinationStore> RestoreDestinationStore::forApplicationProcess(
    const QProcessEnvironment &environment, const SettingsFactory &openSettings, QObject *parent)
{
    if (environment.value(QStringLiteral("PELL_WICK_USE_NON_PERSISTENT_RESTORE_DESTINATION_STORE"))
        == QLatin1String("1"))
        return nonPersistent(parent);
    return std::make_unique<RestoreDestinationStore>(openSettings(), parent);
}

QString RestoreDestinationStore::destinationKey()
{
    return QStringLiteral("restoreDestinationPath");
}

void RestoreDestinationStore::record(const QString &url)
{
    m_lastDestination = url;
    Q_EMIT lastDestinationChanged();
    if (m_settings) {
        m_settings->setValue(destinationKey(), url);
        m_settings->sync();
    }
}

} // namespace Pellwick
