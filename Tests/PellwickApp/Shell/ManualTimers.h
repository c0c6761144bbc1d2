#pragma once

#include <PellwickApp/Shell/SingleShotTimer.h>

#include <QList>

#include <algorithm>
#include <chrono>
#include <memory>

namespace Pellwick::Test {

/// Single-shot timers on a clock that moves only when the test advances it.
class ManualTimers
{
public:
    SingleShotTimerFactory factory()
    {
        return
            [state = m_state](std::function<void()> expired) -> std::unique_ptr<SingleShotTimer> {
                return std::make_unique<Timer>(state, std::move(expired));
            };
    }

    std::chrono::milliseconds now() const { return m_state->now; }

    /// The running timers.
    int activeCount() const
    {
        return static_cast<int>(std::count_if(m_state->timers.cbegin(),
                                              m_state->timers.cend(),
                                              [](const Timer *timer) { return timer->active; }));
    }

    /// Moves the clock forward, firing every timer that falls due, each at its own time.
    void advance(std::chrono::milliseconds by)
    {
        const std::chrono::milliseconds target = m_state->now + by;
        for (;;) {
            Timer *next = nullptr;
            for (Timer *timer : m_state->timers) {
                if (timer->active && timer->due <= target && (!next || timer->due < next->due))
                    next = timer;
            }
            if (!next)
                break;
            m_state->now = next->due;
            next->active = false;
            const std::function<void()> expired = next->expired; // may destroy the timer
            expired();
        }
        m_state->now = target;
    }

private:
    struct Timer;

    struct State
    {
        std::chrono::milliseconds now{0};
        QList<Timer *> timers;
    };

    struct Timer final : SingleShotTimer
    {
        Timer(std::shared_ptr<State> state, std::function<void()> expired)
            : state(std::move(state))
            , expired(std::move(expired))
        {
            this->state->timers.append(this);
        }

        ~Timer() override { state->timers.removeOne(this); }

        void start(std::chrono::milliseconds interval) override
        {
            active = true;
            due = state->now + interval;
        }

        void stop() override { active = false; }

        bool isActive() const override { return active; }

        std::shared_ptr<State> state;
        std::function<void()> expired;
        bool active = false;
        std::chrono::milliseconds due{0};
    };

    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace Pellwick::Test
