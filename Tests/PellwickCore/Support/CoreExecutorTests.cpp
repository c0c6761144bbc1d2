#include <PellwickCore/Support/Executor.h>

#include <QTest>
#include <QThreadPool>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace Pellwick;

class CoreExecutorTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refusedThreadsLeaveTheWorkToTheCaller_data();
    void refusedThreadsLeaveTheWorkToTheCaller();
    void neverMoreThanTheBoundAtOnce_data();
    void neverMoreThanTheBoundAtOnce();
    void aFinishedTaskFreesItsSlot();
    void injectedPoolRunsTheWork_data();
    void injectedPoolRunsTheWork();
};

namespace {

/// A starter that gives `allowed` threads and then refuses, as a system out of threads does.
Executor::ThreadStarter startingAtMost(int allowed, std::shared_ptr<std::atomic<int>> asked)
{
    return [allowed, asked](std::function<void()> work) {
        if (asked->fetch_add(1) >= allowed)
            return false;
        return Executor::systemThreadStarter()(std::move(work));
    };
}

/// Counts the bodies running at once and remembers the most seen.
struct Overlap
{
    std::atomic<int> running{0};
    std::atomic<int> most{0};

    void enter()
    {
        const int now = ++running;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
    }

    void leave() { --running; }
};

/// A gate that bodies wait at until it opens.
struct Gate
{
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int waiting = 0;

    void pass()
    {
        std::unique_lock lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
    }

    void waitForWaiting(int count)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return waiting >= count; });
    }

    void openUp()
    {
        {
            const std::lock_guard lock(mutex);
            open = true;
        }
        changed.notify_all();
    }
};

} // namespace

void CoreExecutorTests::refusedThreadsLeaveTheWorkToTheCaller_data()
{
    QTest::addColumn<int>("threadsGiven");
    QTest::addColumn<int>("count");
    QTest::newRow("no thread at all") << 0 << 1;
    QTest::newRow("no thread, many items") << 0 << 50;
    QTest::newRow("one thread, then none") << 1 << 50;
    QTest::newRow("three threads, then none") << 3 << 50;
}

void CoreExecutorTests::refusedThreadsLeaveTheWorkToTheCaller()
{
    QFETCH(int, threadsGiven);
    QFETCH(int, count);
    auto asked = std::make_shared<std::atomic<int>>(0);
    const Executor executor(8, startingAtMost(threadsGiven, asked));
    const std::thread::id caller = std::this_thread::get_id();

    // Everything runs, each item once, though only `threadsGiven` threads were had.
    std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
    std::mutex mutex;
    std::set<std::thread::id> threads;
    executor.forEach(count, 8, [&](qsizetype i) {
        ++runs[static_cast<size_t>(i)];
        const std::lock_guard lock(mutex);
        threads.insert(std::this_thread::get_id());
    });
    for (const std::atomic<int> &run : runs)
        QCOMPARE(run.load(), 1);
    QVERIFY(threads.size() <= size_t(threadsGiven) + 1);
    if (threadsGiven == 0)
        QCOMPARE(threads, std::set<std::thread::id>{caller});

    // Once the threads are used up: `start` runs the work on the caller before returning,
    // `tryStart` declines it without running it.
    asked->store(threadsGiven);
    std::thread::id ranOn;
    Executor::Task started = executor.start([&] { ranOn = std::this_thread::get_id(); });
    QCOMPARE(ranOn, caller);
    bool declinedRan = false;
    QVERIFY(!executor.tryStart([&] { declinedRan = true; }));
    QVERIFY(!declinedRan);
}

void CoreExecutorTests::neverMoreThanTheBoundAtOnce_data()
{
    QTest::addColumn<int>("bound");
    QTest::addColumn<int>("workersAsked");
    QTest::newRow("bound 1") << 1 << 16;
    QTest::newRow("bound 2") << 2 << 16;
    QTest::newRow("bound 3, fewer asked") << 3 << 2;
    QTest::newRow("bound 4") << 4 << 16;
}

void CoreExecutorTests::neverMoreThanTheBoundAtOnce()
{
    QFETCH(int, bound);
    QFETCH(int, workersAsked);
    const Executor executor(bound);
    QCOMPARE(executor.maxConcurrentTasks(), qsizetype(bound));

    // Work started from inside other work falls back to its caller instead of waiting for a
    // thread, so nesting never deadlocks and never passes the bound.
    Overlap overlap;
    std::atomic<int> done{0};
    executor.forEach(40, workersAsked, [&](qsizetype) {
        overlap.enter();
        executor.forEach(4, 4, [&](qsizetype) {
            overlap.enter();
            std::this_thread::yield();
            overlap.leave();
            ++done;
        });
        overlap.leave();
    });
    QCOMPARE(done.load(), 160);
    // The bound counts other threads; the caller works beside them. Each running body may
    // also be nested in one other.
    QVERIFY2(overlap.most.load() <= 2 * (bound + 1), QByteArray::number(overlap.most.load()));

    // With every slot held, nothing more is started on another thread.
    Gate gate;
    std::vector<Executor::Task> held;
    for (int i = 0; i < bound; ++i) {
        std::optional<Executor::Task> task = executor.tryStart([&] { gate.pass(); });
        QVERIFY(task);
        held.push_back(std::move(*task));
    }
    gate.waitForWaiting(bound);
    QVERIFY(!executor.tryStart([] {}));
    gate.openUp();
}

void CoreExecutorTests::aFinishedTaskFreesItsSlot()
{
    const Executor executor(1);
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> ran{false};
        std::optional<Executor::Task> task = executor.tryStart([&] { ran = true; });
        QVERIFY(task);
        task->wait();
        QVERIFY(ran);
    }
    // The destructor waits as `wait` does.
    std::atomic<int> finished{0};
    {
        std::optional<Executor::Task> task = executor.tryStart([&] {
            std::this_thread::yield();
            ++finished;
        });
        QVERIFY(task);
    }
    QCOMPARE(finished.load(), 1);
}

void CoreExecutorTests::injectedPoolRunsTheWork_data()
{
    QTest::addColumn<int>("poolThreads");
    QTest::addColumn<int>("bound");
    QTest::newRow("pool as large as the bound") << 4 << 4;
    QTest::newRow("pool smaller than the bound") << 1 << 4;
    QTest::newRow("bound smaller than the pool") << 4 << 2;
}

void CoreExecutorTests::injectedPoolRunsTheWork()
{
    QFETCH(int, poolThreads);
    QFETCH(int, bound);
    QThreadPool pool;
    pool.setMaxThreadCount(poolThreads);
    std::atomic<int> handedToPool{0};
    const Executor executor(bound, [&](std::function<void()> work) {
        const bool started = pool.tryStart(std::move(work));
        if (started)
            ++handedToPool;
        return started;
    });

    std::vector<std::atomic<int>> runs(64);
    Overlap besideTheCaller;
    executor.forEach(64, 64, [&](qsizetype i) {
        ++runs[static_cast<size_t>(i)];
        if (QThread::currentThread() != thread()) {
            besideTheCaller.enter();
            std::this_thread::yield();
            besideTheCaller.leave();
        }
    });
    for (const std::atomic<int> &run : runs)
        QCOMPARE(run.load(), 1);
    QVERIFY(handedToPool.load() >= 1);
    QVERIFY(besideTheCaller.most.load() <= std::min(poolThreads, bound));

    // Work the pool takes runs on the pool's threads, not the caller's.
    pool.waitForDone();
    QThread *ranOn = nullptr;
    Executor::Task task = executor.start([&] { ranOn = QThread::currentThread(); });
    task.wait();
    QVERIFY(ranOn != nullptr);
    QVERIFY(ranOn != thread());
    pool.waitForDone();
}

QTEST_GUILESS_MAIN(CoreExecutorTests)
#include "CoreExecutorTests.moc"
