#include "Executor.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace Pellwick {

struct Executor::State
{
    qsizetype maxConcurrentTasks = 1;
    ThreadStarter startThread;
    std::mutex mutex;
    qsizetype running = 0;

    bool takeSlot()
    {
        const std::lock_guard lock(mutex);
        if (running >= maxConcurrentTasks)
            return false;
        ++running;
        return true;
    }

    void releaseSlot()
    {
        const std::lock_guard lock(mutex);
        --running;
    }
};

struct Executor::Task::Completion
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;

    void markDone()
    {
        {
            const std::lock_guard lock(mutex);
            done = true;
        }
        finished.notify_all();
    }
};

Executor::Task::Task(std::shared_ptr<Completion> completion)
    : m_completion(std::move(completion))
{}

Executor::Task &Executor::Task::operator=(Task &&other) noexcept
{
    if (this != &other) {
        wait();
        m_completion = std::move(other.m_completion);
    }
    return *this;
}

Executor::Task::~Task()
{
    wait();
}

void Executor::Task::wait()
{
    if (!m_completion)
        return;
    std::unique_lock lock(m_completion->mutex);
    m_completion->finished.wait(lock, [this] { return m_completion->done; });
}

Executor::Executor(qsizetype maxConcurrentTasks, ThreadStarter startThread)
    : m_state(std::make_shared<State>())
{
    m_state->maxConcurrentTasks = std::max<qsizetype>(1, maxConcurrentTasks);
    m_state->startThread = std::move(startThread);
}

qsizetype Executor::defaultMaxConcurrentTasks()
{
    return std::max<qsizetype>(1, std::thread::hardware_concurrency());
}

Executor::ThreadStarter Executor::systemThreadStarter()
{
    return [](std::function<void()> work) {
        try {
            std::thread(std::move(work)).detach();
            return true;
        } catch (const std::system_error &) {
            return false;
        }
    };
}

namespace {

std::mutex sharedMutex;

std::shared_ptr<const Executor> &sharedExecutor()
{
    static std::shared_ptr<const Executor> executor = std::make_shared<const Executor>();
    return executor;
}

} // namespace

std::shared_ptr<const Executor> Executor::shared()
{
    const std::lock_guard lock(sharedMutex);
    return sharedExecutor();
}

void Executor::setShared(std::shared_ptr<const Executor> executor)
{
    Q_ASSERT(executor);
    const std::lock_guard lock(sharedMutex);
    sharedExecutor() = std::move(executor);
}

qsizetype Executor::maxConcurrentTasks() const
{
    return m_state->maxConcurrentTasks;
}

std::optional<Executor::Task> Executor::tryStart(std::function<void()> work) const
{
    if (!m_state->takeSlot())
        return std::nullopt;
    auto completion = std::make_shared<Task::Completion>();
    const bool started
        = m_state->startThread([work = std::move(work), completion, state = m_state] {
              work();
              state->releaseSlot(); // before the waiter wakes: a finished task holds no slot
              completion->markDone();
          });
    if (!started) {
        m_state->releaseSlot();
        return std::nullopt;
    }
    return Task(std::move(completion));
}

Executor::Task Executor::start(std::function<void()> work) const
{
    // A starter that refuses drops what it was given: keep the work to run it here.
    auto job = std::make_shared<std::function<void()>>(std::move(work));
    if (std::optional<Task> task = tryStart([job] { (*job)(); }))
        return std::move(*task);
    (*job)();
    return Task(nullptr);
}

void Executor::forEach(qsizetype count,
                       qsizetype maxWorkers,
                       const std::function<void(qsizetype)> &body) const
{
    std::atomic<qsizetype> next{0};
    auto work = [&] {
        for (qsizetype i = next++; i < count; i = next++)
            body(i);
    };
    std::vector<Task> helpers;
    const qsizetype helperCount = std::min(count, maxWorkers) - 1;
    for (qsizetype i = 0; i < helperCount; ++i) {
        std::optional<Task> helper = tryStart(work);
        if (!helper)
            break; // the calling thread and the helpers already started do the rest
        helpers.push_back(std::move(*helper));
    }
    work();
    for (Task &helper : helpers)
        helper.wait();
}

} // namespace Pellwick
