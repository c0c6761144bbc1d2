#pragma once

#include <QObject>

class QGuiApplication;

namespace Pellwick {

/// Turns the application's state changes into becoming and resigning active: one signal each
/// time the application crosses into or out of the active state (a change between two inactive
/// states is no event). Main thread only.
class ApplicationActivationMonitor : public QObject
{
    Q_OBJECT

public:
    /// Follows `application`'s state changes, starting from its current state; without one, the
    /// changes come only through `applicationStateChanged` and the application counts as active.
    explicit ApplicationActivationMonitor(QGuiApplication *application = nullptr,
                                          QObject *parent = nullptr);

    bool isActive() const { return m_isActive; }

public Q_SLOTS:
    void applicationStateChanged(Qt::ApplicationState state);

Q_SIGNALS:
    void becameActive();
    void resignedActive();

private:
    bool m_isActive = true;
};

} // namespace Pellwick
