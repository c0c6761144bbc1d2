#pragma once

// How a view-model operation that needs Core is written (every workflow follows it):
//
//   QCoro::Task<> LibraryShellViewModel::refreshSomething()      // member coroutine, main thread
//   {
//       const QPointer<LibraryShellViewModel> self(this);        // parameters by value only
//       m_somethingTask.emplace();                               // optional<WorkflowTaskHandle>
//       const std::stop_token stop = m_somethingTask->token();
//       QFuture<Result<Thing>> job = Workflow::run(
//           WorkflowPools::utility(), [service = m_service, stop] { return service.call(stop); });
//       const std::optional<Result<Thing>> outcome = co_await Workflow::resumeIn(self, stop, job);
//       if (!outcome)                                            // gone or cancelled: touch nothing
//           co_return;
//       ... publish *outcome (a Result: an error arrives as a value) through the setters ...
//   }
//
// - Core's synchronous operation runs on one of the dedicated pools below, never on the main
//   thread and never on the global pool; the lambda captures values (services are values holding
//   shared collaborators), never the view model.
// - The stop token of the task's handle reaches the Core call; cancelling the handle stops the
//   call and the coroutine publishes nothing.
// - After every co_await the coroutine goes on only through `resumeIn`, which checks that the view
//   model still exists and that the task was not cancelled; a result that arrives for a destroyed
//   view model is dropped. No capturing lambda is ever a coroutine.
// - Arguments of a coroutine are named values, never temporaries: GCC 12 destroys a temporary
//   passed to a by-value coroutine parameter twice.
// - Nothing throws: an exception escaping third-party code inside the job becomes an
//   `UnexpectedExceptionError` at the job's entry point.

#include <PellwickCore/Support/Result.h>

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QFuture>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent>

#include <exception>
#include <optional>
#include <stop_token>
#include <type_traits>

namespace Pellwick {

/// The pools on which workflows run Core's blocking operations. Process-wide; never the global
/// pool, which has as many threads as cores and would starve under blocking work.
class WorkflowPools
{
public:
    WorkflowPools() = delete;

    /// Scans, Ingest Cache copies, imports, restores, the migration.
    static QThreadPool &userInitiated();
    /// Refreshes, source-media checks, preview reads.
    static QThreadPool &utility();
    /// One thread: keychain calls run one at a time, in the order they were started.
    static QThreadPool &keychain();
    /// Thumbnail decodes: one low-priority thread per core, as decoding is bound by the CPU.
    static QThreadPool &thumbnails();
    /// Restore transfers: each job blocks its thread until the engine's own task ends.
    static QThreadPool &restoreTransfers();
    /// One thread: the copy of an Ingest Cache move, which holds the library's lock throughout.
    static QThreadPool &ingestCacheMove();
    /// The hashes a cleanup pass takes ahead: one thread per core, as hashing is bound by the CPU
    /// or the disk.
    static QThreadPool &hashesAhead();
};

/// The handle of a cancellable workflow task. Its stop source reaches the Core call through
/// `token()`. Dropping the handle does not cancel the task.
class WorkflowTaskHandle
{
public:
    std::stop_token token() const { return m_source.get_token(); }

    void cancel() { m_source.request_stop(); }

    bool isCancelled() const { return m_source.stop_requested(); }

private:
    std::stop_source m_source;
};

namespace Workflow {

template<typename T>
struct IsResult : std::false_type
{};

template<typename T>
struct IsResult<Result<T>> : std::true_type
{};

/// Starts `work()` (which returns a `Result`) on `pool`. An exception escaping it becomes an
/// `UnexpectedExceptionError`.
template<typename F>
auto run(QThreadPool &pool, F work) -> QFuture<std::invoke_result_t<F &>>
{
    using R = std::invoke_result_t<F &>;
    static_assert(IsResult<R>::value, "workflow jobs return a Result");
    return QtConcurrent::run(&pool, [work = std::move(work)]() mutable -> R {
        try {
            return work();
        } catch (const std::exception &exception) {
            return failure(UnexpectedExceptionError{QString::fromLocal8Bit(exception.what())});
        } catch (...) {
            return failure(UnexpectedExceptionError{QStringLiteral("unknown exception")});
        }
    });
}

/// Awaits `future` on the calling thread's event loop. No value when `receiver` was destroyed or
/// `stop` was requested while waiting: the caller then stops without touching its state.
template<typename T, typename Receiver>
QCoro::Task<std::optional<T>>
resumeIn(QPointer<Receiver> receiver, std::stop_token stop, QFuture<T> future)
{
    T value = co_await future;
    if (!receiver || stop.stop_requested())
        co_return std::nullopt;
    co_return std::optional<T>(std::move(value));
}

/// Takes `value` apart on the utility pool: the last reference to a large tree of values is
/// costly to drop on the main thread.
template<typename T>
void releaseLater(T value)
{
    WorkflowPools::utility().start([value = std::move(value)]() mutable { value = T(); });
}

} // namespace Workflow

} // namespace Pellwick
