#include "ApplicationActivationMonitor.h"

#include <QGuiApplication>

namespace Pellwick {

ApplicationActivationMonitor::ApplicationActivationMonitor(QGuiApplication *application,
                                                           QObject *parent)
    : QObject(parent)
{
    if (!application)
        return;
    m_isActive = application->applicationState() == Qt::ApplicationActive;
    connect(application,
            &QGuiApplication::applicationStateChanged,
            this,
            &ApplicationActivationMonitor::applicationStateChanged);
}

void ApplicationActivationMonitor::applicationStateChanged(Qt::ApplicationState state)
{
    const bool isActive = state == Qt::ApplicationActive;
    if (isActive == m_isActive)
        return;
    m_isActive = isActive;
    if (isActive)
        Q_EMIT becameActive();
    else
        Q_EMIT resignedActive();
}

} // namespace Pellwick
