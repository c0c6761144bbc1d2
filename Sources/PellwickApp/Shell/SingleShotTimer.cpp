#include "SingleShotTimer.h"

#include <QTimer>

namespace Pellwick {

namespace {

class QtSingleShotTimer final : public SingleShotTimer
{
public:
    explicit QtSingleShotTimer(std::function<void()> expired)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        // Nothing of the timer is touched after the call, so `expired` may destroy it.
        QObject::connect(&m_timer, &QTimer::timeout, [expired = std::move(expired)] { expired(); });
    }

    void start(std::chrono::milliseconds interval) override { m_timer.start(interval); }

    void stop() override { m_timer.stop(); }

    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

} // namespace

std::unique_ptr<SingleShotTimer> makeQtSingleShotTimer(std::function<void()> expired)
{
    return std::make_unique<QtSingleShotTimer>(std::move(expired));
}

} // namespace Pellwick
