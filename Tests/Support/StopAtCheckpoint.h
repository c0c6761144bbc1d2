#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>

namespace Pellwick::Test {

/// Runs an operation on a thread of its own and requests its stop from the calling thread when
/// the operation reaches a chosen checkpoint. The operation's callbacks (progress rows, file
/// manager hooks) call `checkpoint()`; the chosen call waits until the stop has been requested,
/// so the stop lands exactly there whatever the timing. Checkpoint 0 requests the stop before the
/// operation starts.
class StopAtCheckpoint
{
public:
    explicit StopAtCheckpoint(int stopAt)
        : m_stopAt(stopAt)
    {
        if (stopAt == 0)
            m_source.request_stop();
    }

    std::stop_token token() const { return m_source.get_token(); }

    /// Thread-safe. At the chosen checkpoint, returns once the stop has been requested.
    void checkpoint()
    {
        std::unique_lock lock(m_mutex);
        if (++m_reached != m_stopAt)
            return;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_source.stop_requested(); });
    }

    /// How many checkpoints the operation passed.
    int reached() const
    {
        const std::lock_guard lock(m_mutex);
        return m_reached;
    }

    /// True when the operation reached the chosen checkpoint and was asked to stop there.
    bool stopped() const { return m_source.stop_requested(); }

    /// Runs `operation` on another thread and returns its result once it has finished.
    template<typename F>
    std::invoke_result_t<F> run(F &&operation)
    {
        std::optional<std::invoke_result_t<F>> result;
        bool finished = false;
        std::thread worker([&] {
            result.emplace(operation());
            const std::lock_guard lock(m_mutex);
            finished = true;
            m_changed.notify_all();
        });
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return finished || m_reached >= m_stopAt; });
            if (!finished && m_stopAt > 0)
                m_source.request_stop(); // from this thread, while the operation waits
        }
        m_changed.notify_all();
        worker.join();
        return std::move(*result);
    }

private:
    const int m_stopAt;
    std::stop_source m_source;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_reached = 0;
};

} // namespace Pellwick::Test
