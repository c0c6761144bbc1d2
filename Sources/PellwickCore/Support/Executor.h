#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

namespace Pellwick {

/// Runs Core's work on other threads, never more than a bound at once, and on the calling thread
/// whenever no thread is free or the system refuses one. Work is never queued: it runs at once,
/// beside the caller or in its place, so work started from inside other work cannot wait for a
/// thread held by its own caller. Thread-safe; copies share one bound.
class Executor
{
public:
    /// Runs `work` on a thread other than the caller's and returns true, or returns false when no
    /// thread can be had (`work` is then dropped unrun). The application hands Core its own pool
    /// through this (a `QThreadPool::tryStart`, say).
    using ThreadStarter = std::function<bool(std::function<void()> work)>;

    /// Started work. `wait` returns once the work has finished; the destructor waits too.
    class Task
    {
    public:
        Task(Task &&) noexcept = default;
        Task &operator=(Task &&other) noexcept;
        Task(const Task &) = delete;
        Task &operator=(const Task &) = delete;
        ~Task();

        void wait();

    private:
        friend class Executor;
        struct Completion;
        explicit Task(std::shared_ptr<Completion> completion);

        std::shared_ptr<Completion> m_completion;
    };

    /// At most `maxConcurrentTasks` (at least 1) pieces of work on other threads at once, each
    /// given a thread by `startThread`.
    explicit Executor(qsizetype maxConcurrentTasks = defaultMaxConcurrentTasks(),
                      ThreadStarter startThread = systemThreadStarter());

    /// The machine's core count, at least 1.
    static qsizetype defaultMaxConcurrentTasks();
    /// A new thread for every piece of work; false when the system refuses one.
    static ThreadStarter systemThreadStarter();

    /// The executor through which Core starts its threads.
    static std::shared_ptr<const Executor> shared();
    /// Replaces the executor Core uses; call it before starting Core work (it does not affect
    /// work already running).
    static void setShared(std::shared_ptr<const Executor> executor);

    qsizetype maxConcurrentTasks() const;

    /// Starts `work` on another thread when one is free under the bound, otherwise runs it on the
    /// calling thread before returning. For work that may simply run first.
    [[nodiscard]] Task start(std::function<void()> work) const;
    /// Starts `work` on another thread when one is free under the bound; otherwise returns
    /// nothing and `work` is not run. For work that must run beside the caller (a reader the
    /// caller waits for) or is worth doing only then.
    [[nodiscard]] std::optional<Task> tryStart(std::function<void()> work) const;
    /// Runs `body(i)` for every `i` below `count` on the calling thread and up to
    /// `maxWorkers - 1` others; returns when every call has returned.
    void forEach(qsizetype count,
                 qsizetype maxWorkers,
                 const std::function<void(qsizetype)> &body) const;

private:
    struct State;

    std::shared_ptr<State> m_state;
};

} // namespace Pellwick
