#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Workflows/TransferProgressBoard.h>

#include <QSignalSpy>
#include <QTest>
#include <QtConcurrent>

using namespace Pellwick;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Phase = TransferProgressPhase;

namespace {

/// A steady clock the test moves by hand.
struct ManualClock
{
    std::shared_ptr<std::chrono::steady_clock::time_point> now
        = std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::hours(1));

    TransferProgressBoard::SteadyClock function() const
    {
        return [now = now] { return *now; };
    }

    void advance(std::chrono::milliseconds step) { *now += step; }
};

TransferProgress row(const QUuid &id, qint64 completed = 0, qint64 total = 1000)
{
    TransferProgress progress;
    progress.id = id;
    progress.operationName = u"Add to Ingest Cache"_s;
    progress.phase = Phase::Copying;
    progress.currentFilename = u"A001.NEF"_s;
    progress.completedByteCount = completed;
    progress.totalByteCount = total;
    progress.completedPackageCount = 1;
    progress.totalPackageCount = 4;
    return progress;
}

} // namespace

class TransferProgressBoardTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void updatesOfIdsNotOpenAreIgnored();
    void throttleIsPerId();
    void byteOnlyUpdatesArePublishedAtMostEveryTenthOfASecond_data();
    void byteOnlyUpdatesArePublishedAtMostEveryTenthOfASecond();
    void noticeableChangesArePublishedAtOnce_data();
    void noticeableChangesArePublishedAtOnce();
    void rowsKeepTheirOrder();
    void reopenedIdPublishesAtOnce();
    void lateReportsAfterRemovalAreIgnored();
    void reportsForABoardThatIsGoneAreDropped();

private:
    ManualClock m_clock;
    std::unique_ptr<ShellState> m_state;
    std::unique_ptr<TransferProgressBoard> m_board;
};

void TransferProgressBoardTests::init()
{
    m_clock = ManualClock();
    m_board.reset();
    m_state = std::make_unique<ShellState>();
    m_board = std::make_unique<TransferProgressBoard>(*m_state, m_clock.function());
}

void TransferProgressBoardTests::updatesOfIdsNotOpenAreIgnored()
{
    const QUuid id = QUuid::createUuid();
    QSignalSpy changed(m_state.get(), &ShellState::transferProgressesChanged);
    m_board->update(row(id));
    QVERIFY(m_state->transferProgresses().isEmpty());
    QCOMPARE(changed.count(), 0);

    m_board->open(id);
    m_board->update(row(id));
    QCOMPARE(m_state->transferProgresses(), QList{row(id)});
    m_board->remove(id);
    m_clock.advance(1s);
    m_board->update(row(id, 500));
    QVERIFY(m_state->transferProgresses().isEmpty());
}

void TransferProgressBoardTests::throttleIsPerId()
{
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    m_board->open(a);
    m_board->open(b);
    m_board->update(row(a));
    m_clock.advance(1ms);
    m_board->update(row(b));
    QCOMPARE(m_state->transferProgresses(), (QList{row(a), row(b)}));
}

void TransferProgressBoardTests::byteOnlyUpdatesArePublishedAtMostEveryTenthOfASecond_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<bool>("published");
    QTest::newRow("1 ms") << 1 << false;
    QTest::newRow("50 ms") << 50 << false;
    QTest::newRow("99 ms") << 99 << false;
    QTest::newRow("100 ms") << 100 << true;
    QTest::newRow("120 ms") << 120 << true;
}

void TransferProgressBoardTests::byteOnlyUpdatesArePublishedAtMostEveryTenthOfASecond()
{
    QFETCH(int, delay);
    QFETCH(bool, published);
    const QUuid id = QUuid::createUuid();
    m_board->open(id);
    m_board->update(row(id, 100));
    m_clock.advance(std::chrono::milliseconds(delay));
    m_board->update(row(id, 200));
    QCOMPARE(m_state->transferProgresses(), QList{row(id, published ? 200 : 100)});

    // A dropped value is not published later; the next one after the interval is.
    m_clock.advance(120ms);
    m_board->update(row(id, 300));
    QCOMPARE(m_state->transferProgresses(), QList{row(id, 300)});
}

void TransferProgressBoardTests::noticeableChangesArePublishedAtOnce_data()
{
    QTest::addColumn<TransferProgress>("next");
    QTest::addColumn<bool>("published");
    const QUuid id = QUuid(u"{00000000-0000-0000-0000-00000000000a}"_s);
    TransferProgress phase = row(id, 200);
    phase.phase = Phase::Verifying;
    TransferProgress file = row(id, 200);
    file.currentFilename = u"A002.NEF"_s;
    TransferProgress noFile = row(id, 200);
    noFile.currentFilename.reset();
    TransferProgress package = row(id, 200);
    package.completedPackageCount = 2;
    TransferProgress detail = row(id, 200);
    detail.detail = u"Checking"_s;
    TransferProgress total = row(id, 200, 2000);
    TransferProgress packages = row(id, 200);
    packages.totalPackageCount = 9;
    TransferProgress fileBytes = row(id, 200);
    fileBytes.currentFileCompletedByteCount = 10;

    QTest::newRow("phase") << phase << true;
    QTest::newRow("current file") << file << true;
    QTest::newRow("current file gone") << noFile << true;
    QTest::newRow("completed packages") << package << true;
    QTest::newRow("completion") << row(id, 1000) << true;
    QTest::newRow("beyond the total") << row(id, 1200) << true;
    QTest::newRow("completion of an empty operation") << row(id, 0, 0) << true;
    QTest::newRow("bytes only") << row(id, 200) << false;
    QTest::newRow("detail only") << detail << false;
    QTest::newRow("total only") << total << false;
    QTest::newRow("package total only") << packages << false;
    QTest::newRow("file bytes only") << fileBytes << false;
}

void TransferProgressBoardTests::noticeableChangesArePublishedAtOnce()
{
    QFETCH(TransferProgress, next);
    QFETCH(bool, published);
    m_board->open(next.id);
    TransferProgress first = row(next.id, 100, next.totalByteCount);
    if (next.totalByteCount == 0)
        first = row(next.id, 0, 0);
    m_board->update(first);
    m_clock.advance(1ms);
    QSignalSpy changed(m_state.get(), &ShellState::transferProgressesChanged);
    m_board->update(next);
    QCOMPARE(changed.count(), published ? 1 : 0);
    QCOMPARE(m_state->transferProgresses(), QList{published ? next : first});
}

void TransferProgressBoardTests::rowsKeepTheirOrder()
{
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    const QUuid c = QUuid::createUuid();
    const QUuid d = QUuid::createUuid();
    for (const QUuid &id : {a, b, c, d})
        m_board->open(id);
    for (const QUuid &id : {a, b, c})
        m_board->update(row(id));
    m_clock.advance(200ms);
    m_board->update(row(b, 500));
    QCOMPARE(m_state->transferProgresses(), (QList{row(a), row(b, 500), row(c)}));
    m_board->remove(b);
    QCOMPARE(m_state->transferProgresses(), (QList{row(a), row(c)}));
    QVERIFY(!m_board->openIDs().contains(b));
    m_board->update(row(d));
    QCOMPARE(m_state->transferProgresses(), (QList{row(a), row(c), row(d)}));
}

void TransferProgressBoardTests::reopenedIdPublishesAtOnce()
{
    const QUuid id = QUuid::createUuid();
    m_board->open(id);
    m_board->update(row(id, 100));
    m_board->remove(id);
    m_board->open(id);
    m_clock.advance(1ms);
    m_board->update(row(id, 200));
    QCOMPARE(m_state->transferProgresses(), QList{row(id, 200)});
}

void TransferProgressBoardTests::lateReportsAfterRemovalAreIgnored()
{
    const QUuid id = QUuid::createUuid();
    m_board->open(id);
    const TransferProgressSink sink = m_board->sink();
    // Reports from a worker thread arrive as queued calls on this thread.
    QThreadPool pool;
    QFuture<void> reported = QtConcurrent::run(&pool, [sink, id] { sink(row(id, 100)); });
    QTRY_VERIFY(reported.isFinished());
    QTRY_COMPARE(m_state->transferProgresses(), QList{row(id, 100)});

    m_clock.advance(1s);
    QFuture<void> late = QtConcurrent::run(&pool, [sink, id] { sink(row(id, 900)); });
    QTRY_VERIFY(late.isFinished());
    m_board->remove(id);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY(m_state->transferProgresses().isEmpty());
}

void TransferProgressBoardTests::reportsForABoardThatIsGoneAreDropped()
{
    const QUuid id = QUuid::createUuid();
    m_board->open(id);
    const TransferProgressSink sink = m_board->sink();
    QThreadPool pool;
    QFuture<void> reported = QtConcurrent::run(&pool, [sink, id] {
        for (int i = 0; i < 100; ++i)
            sink(row(id, i));
    });
    QTRY_VERIFY(reported.isFinished());
    m_board.reset();
    // The queued calls run now and find the board gone.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    sink(row(id, 5));
    QCoreApplication::processEvents();
}

QTEST_GUILESS_MAIN(TransferProgressBoardTests)
#include "TransferProgressBoardTests.moc"
