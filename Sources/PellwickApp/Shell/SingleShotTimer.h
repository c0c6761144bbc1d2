#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace Pellwick {

/// A restartable single-shot timer of the main thread. The event sources schedule their delays
/// on it so tests can drive time by hand.
class SingleShotTimer
{
public:
    SingleShotTimer() = default;
    SingleShotTimer(const SingleShotTimer &) = delete;
    SingleShotTimer &operator=(const SingleShotTimer &) = delete;
    virtual ~SingleShotTimer() = default;

    /// Starts the timer, or restarts it when it is running: it expires `interval` from now.
    virtual void start(std::chrono::milliseconds interval) = 0;
    /// Stops the timer; it does not expire until started again.
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

/// Makes a timer that calls `expired` on the main thread each time it expires. Destroying the
/// timer stops it, also from inside `expired`.
using SingleShotTimerFactory
    = std::function<std::unique_ptr<SingleShotTimer>(std::function<void()> expired)>;

/// The production factory: precise `QTimer`s of the calling thread's event loop.
std::unique_ptr<SingleShotTimer> makeQtSingleShotTimer(std::function<void()> expired);

} // namespace Pellwick
