#pragma once

#include <PellwickCore/Support/Executor.h>

#include <memory>

namespace Pellwick::Test {

/// Makes Core start its threads through another executor for the life of this value.
class ScopedSharedExecutor
{
public:
    explicit ScopedSharedExecutor(std::shared_ptr<const Executor> executor)
        : m_previous(Executor::shared())
    {
        Executor::setShared(std::move(executor));
    }

    ScopedSharedExecutor(const ScopedSharedExecutor &) = delete;
    ScopedSharedExecutor &operator=(const ScopedSharedExecutor &) = delete;

    ~ScopedSharedExecutor() { Executor::setShared(m_previous); }

    /// An executor that is never given a thread, as on a system out of threads.
    static std::shared_ptr<const Executor> withoutThreads()
    {
        return std::make_shared<const Executor>(
            8, [](const std::function<void()> &) { return false; });
    }

private:
    std::shared_ptr<const Executor> m_previous;
};

} // namespace Pellwick::Test
