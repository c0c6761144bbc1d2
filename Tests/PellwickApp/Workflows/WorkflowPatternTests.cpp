#include <PellwickApp/Workflows/Workflow.h>

#include <QTest>

#include <condition_variable>
#include <mutex>
#include <stdexcept>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

/// What the test can observe of a service call and of the view model, also after the view model
/// is gone.
struct Trace
{
    std::mutex mutex;
    std::condition_variable changed;
    bool gateOpen = false;
    bool entered = false;
    bool sawStop = false;
    bool finished = false;
    QThread *callingThread = nullptr;
    enum class Outcome {
        Value,
        Error,
        Exception
    } outcome = Outcome::Value;

    // Main thread only.
    int published = 0;
    int stopped = 0;

    bool is(bool Trace::*flag)
    {
        const std::lock_guard lock(mutex);
        return this->*flag;
    }

    void open()
    {
        const std::lock_guard lock(mutex);
        gateOpen = true;
        changed.notify_all();
    }
};

/// A Core-like service value: one synchronous call that blocks until the test opens its gate or
/// its stop token fires.
class GatedService
{
public:
    explicit GatedService(std::shared_ptr<Trace> trace)
        : m_trace(std::move(trace))
    {}

    Result<int> compute(std::stop_token stop) const
    {
        // Wakes the wait below when the task is cancelled; set up before the lock is taken,
        // since it runs at once when the stop was already requested.
        const std::stop_callback wake(stop, [trace = m_trace] {
            const std::lock_guard lock(trace->mutex);
            trace->changed.notify_all();
        });
        std::unique_lock lock(m_trace->mutex);
        m_trace->entered = true;
        m_trace->callingThread = QThread::currentThread();
        m_trace->changed.wait(lock, [&] { return m_trace->gateOpen || stop.stop_requested(); });
        const bool opened = m_trace->gateOpen && !stop.stop_requested();
        m_trace->sawStop = !opened;
        m_trace->finished = true;
        if (!opened)
            return failure(CancellationError{});
        switch (m_trace->outcome) {
        case Trace::Outcome::Value:
            return 42;
        case Trace::Outcome::Error:
            return failure(FileSystemError{u"open"_s, u"/cache/a.NEF"_s, EIO});
        case Trace::Outcome::Exception:
            lock.unlock();
            throw std::runtime_error("decoder exploded");
        }
        return 0;
    }

private:
    std::shared_ptr<Trace> m_trace;
};

/// The smallest view model written the way every workflow is.
class SpikeViewModel : public QObject
{
    Q_OBJECT

public:
    SpikeViewModel(GatedService service, std::shared_ptr<Trace> trace)
        : m_service(std::move(service))
        , m_trace(std::move(trace))
    {}

    QCoro::Task<> refresh()
    {
        const QPointer<SpikeViewModel> self(this);
        const std::shared_ptr<Trace> trace = m_trace;
        refreshTask.emplace();
        const std::stop_token stop = refreshTask->token();
        QFuture<Result<int>> job
            = Workflow::run(WorkflowPools::userInitiated(),
                            [service = m_service, stop] { return service.compute(stop); });
        const std::optional<Result<int>> outcome = co_await Workflow::resumeIn(self, stop, job);
        if (!outcome) {
            ++trace->stopped;
            co_return;
        }
        result = *outcome;
        ++m_trace->published;
    }

    std::optional<WorkflowTaskHandle> refreshTask;
    std::optional<Result<int>> result;

private:
    GatedService m_service;
    std::shared_ptr<Trace> m_trace;
};

} // namespace

class WorkflowPatternTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void outcomeArrivesAsValueFromAnotherThread_data();
    void outcomeArrivesAsValueFromAnotherThread();
    void cancelledTaskStopsItsCoreCallAndPublishesNothing();
    void destroyedViewModelDropsTheResult_data();
    void destroyedViewModelDropsTheResult();
    void poolsAreDedicatedAndTheKeychainPoolIsSerial();

private:
    std::shared_ptr<Trace> m_trace;
};

void WorkflowPatternTests::init()
{
    m_trace = std::make_shared<Trace>();
}

void WorkflowPatternTests::outcomeArrivesAsValueFromAnotherThread_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("expected");
    QTest::newRow("value") << int(Trace::Outcome::Value) << u"42"_s;
    QTest::newRow("error") << int(Trace::Outcome::Error)
                           << describe(FileSystemError{u"open"_s, u"/cache/a.NEF"_s, EIO});
    QTest::newRow("exception from a library")
        << int(Trace::Outcome::Exception)
        << describe(UnexpectedExceptionError{u"decoder exploded"_s});
}

void WorkflowPatternTests::outcomeArrivesAsValueFromAnotherThread()
{
    QFETCH(int, outcome);
    QFETCH(QString, expected);
    m_trace->outcome = Trace::Outcome(outcome);
    SpikeViewModel model(GatedService(m_trace), m_trace);
    model.refresh();
    QTRY_VERIFY(m_trace->is(&Trace::entered));
    QCOMPARE(m_trace->published, 0);
    m_trace->open();
    QTRY_COMPARE(m_trace->published, 1);
    QVERIFY(model.result.has_value());
    QCOMPARE(*model.result ? QString::number(**model.result) : describe(model.result->error()),
             expected);
    QVERIFY(m_trace->callingThread != QThread::currentThread());
    QVERIFY(m_trace->callingThread != nullptr);
}

void WorkflowPatternTests::cancelledTaskStopsItsCoreCallAndPublishesNothing()
{
    SpikeViewModel model(GatedService(m_trace), m_trace);
    model.refresh();
    QTRY_VERIFY(m_trace->is(&Trace::entered));
    model.refreshTask->cancel();
    QTRY_COMPARE(m_trace->stopped, 1);
    QVERIFY(m_trace->is(&Trace::sawStop));
    QCOMPARE(m_trace->published, 0);
    QVERIFY(!model.result.has_value());
}

void WorkflowPatternTests::destroyedViewModelDropsTheResult_data()
{
    QTest::addColumn<bool>("cancelBeforeDestruction");
    QTest::newRow("job finishes after the view model is gone") << false;
    QTest::newRow("job cancelled, then the view model is gone") << true;
}

void WorkflowPatternTests::destroyedViewModelDropsTheResult()
{
    QFETCH(bool, cancelBeforeDestruction);
    auto model = std::make_unique<SpikeViewModel>(GatedService(m_trace), m_trace);
    model->refresh();
    QTRY_VERIFY(m_trace->is(&Trace::entered));
    if (cancelBeforeDestruction)
        model->refreshTask->cancel();
    model.reset();
    m_trace->open();
    QTRY_VERIFY(m_trace->is(&Trace::finished));
    // The coroutine resumes on this thread after the job; it must see that the model is gone.
    QTRY_COMPARE(m_trace->stopped, 1);
    QCOMPARE(m_trace->published, 0);
    QCOMPARE(m_trace->is(&Trace::sawStop), cancelBeforeDestruction);
}

void WorkflowPatternTests::poolsAreDedicatedAndTheKeychainPoolIsSerial()
{
    QThreadPool *const global = QThreadPool::globalInstance();
    QVERIFY(&WorkflowPools::userInitiated() != global);
    QVERIFY(&WorkflowPools::utility() != global);
    QVERIFY(&WorkflowPools::keychain() != global);
    QCOMPARE(WorkflowPools::keychain().maxThreadCount(), 1);
    QVERIFY(WorkflowPools::userInitiated().maxThreadCount() >= 4);
    QVERIFY(WorkflowPools::utility().maxThreadCount() >= 4);

    QList<QFuture<Result<int>>> jobs;
    auto order = std::make_shared<QList<int>>();
    for (int i = 0; i < 20; ++i) {
        jobs << Workflow::run(WorkflowPools::keychain(), [order, i]() -> Result<int> {
            order->append(i); // one thread: no lock needed
            return i;
        });
    }
    QTRY_VERIFY(
        std::all_of(jobs.cbegin(), jobs.cend(), [](const auto &job) { return job.isFinished(); }));
    QList<int> expected(20);
    std::iota(expected.begin(), expected.end(), 0);
    QCOMPARE(*order, expected);
}

QTEST_GUILESS_MAIN(WorkflowPatternTests)
#include "WorkflowPatternTests.moc"
