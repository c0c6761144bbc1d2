#include "ShellViewModelFixture.h"

#include <QSignalSpy>
#include <QTest>
#include <QtConcurrent>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Phase = TransferProgressPhase;

namespace {

/// A steady clock the test moves by hand.
struct ManualClock
{
    std::shared_ptr<std::chrono::steady_clock::time_point> now
        = std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::hours(1));

    LibraryShellViewModel::SteadyClock function() const
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

class TransferProgressPublishingTests : public QObject
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
    void reportsForAViewModelThatIsGoneAreDropped();

private:
    ManualClock m_clock;
    std::unique_ptr<ShellViewModelFixture> m_fixture;
    std::unique_ptr<LibraryShellViewModel> m_model;
};

void TransferProgressPublishingTests::init()
{
    m_clock = ManualClock();
    m_fixture = std::make_unique<ShellViewModelFixture>();
    QVERIFY(m_fixture->dir.isValid());
    m_fixture->steadyClock = m_clock.function();
    m_model = m_fixture->make();
}

void TransferProgressPublishingTests::updatesOfIdsNotOpenAreIgnored()
{
    const QUuid id = QUuid::createUuid();
    QSignalSpy changed(&m_model->shellState(), &ShellState::transferProgressesChanged);
    m_model->updateTransferProgress(row(id));
    QVERIFY(m_model->shellState().transferProgresses().isEmpty());
    QCOMPARE(changed.count(), 0);

    m_model->openTransferProgress(id);
    m_model->updateTransferProgress(row(id));
    QCOMPARE(m_model->shellState().transferProgresses(), QList{row(id)});
    m_model->removeTransferProgress(id);
    m_clock.advance(1s);
    m_model->updateTransferProgress(row(id, 500));
    QVERIFY(m_model->shellState().transferProgresses().isEmpty());
}

void TransferProgressPublishingTests::throttleIsPerId()
{
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    m_model->openTransferProgress(a);
    m_model->openTransferProgress(b);
    m_model->updateTransferProgress(row(a));
    m_clock.advance(1ms);
    m_model->updateTransferProgress(row(b));
    QCOMPARE(m_model->shellState().transferProgresses(), (QList{row(a), row(b)}));
}

void TransferProgressPublishingTests::byteOnlyUpdatesArePublishedAtMostEveryTenthOfASecond_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<bool>("published");
    QTest::newRow("1 ms") << 1 << false;
    QTest::newRow("50 ms") << 50 << false;
    QTest::newRow("99 ms") << 99 << false;
    QTest::newRow("100 ms") << 100 << true;
    QTest::newRow("120 ms") << 120 << true;
}

void TransferProgressPublishingTests::byteOnlyUpdatesArePublishedAtMostEveryTenthOfASecond()
{
    QFETCH(int, delay);
    QFETCH(bool, published);
    const QUuid id = QUuid::createUuid();
    m_model->openTransferProgress(id);
    m_model->updateTransferProgress(row(id, 100));
    m_clock.advance(std::chrono::milliseconds(delay));
    m_model->updateTransferProgress(row(id, 200));
    QCOMPARE(m_model->shellState().transferProgresses(), QList{row(id, published ? 200 : 100)});

    // A dropped value is not published later; the next one after the interval is.
    m_clock.advance(120ms);
    m_model->updateTransferProgress(row(id, 300));
    QCOMPARE(m_model->shellState().transferProgresses(), QList{row(id, 300)});
}

void TransferProgressPublishingTests::noticeableChangesArePublishedAtOnce_data()
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

void TransferProgressPublishingTests::noticeableChangesArePublishedAtOnce()
{
    QFETCH(TransferProgress, next);
    QFETCH(bool, published);
    m_model->openTransferProgress(next.id);
    TransferProgress first = row(next.id, 100, next.totalByteCount);
    if (next.totalByteCount == 0)
        first = row(next.id, 0, 0);
    m_model->updateTransferProgress(first);
    m_clock.advance(1ms);
    QSignalSpy changed(&m_model->shellState(), &ShellState::transferProgressesChanged);
    m_model->updateTransferProgress(next);
    QCOMPARE(changed.count(), published ? 1 : 0);
    QCOMPARE(m_model->shellState().transferProgresses(), QList{published ? next : first});
}

void TransferProgressPublishingTests::rowsKeepTheirOrder()
{
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    const QUuid c = QUuid::createUuid();
    const QUuid d = QUuid::createUuid();
    for (const QUuid &id : {a, b, c, d})
        m_model->openTransferProgress(id);
    for (const QUuid &id : {a, b, c})
        m_model->updateTransferProgress(row(id));
    m_clock.advance(200ms);
    m_model->updateTransferProgress(row(b, 500));
    QCOMPARE(m_model->shellState().transferProgresses(), (QList{row(a), row(b, 500), row(c)}));
    m_model->removeTransferProgress(b);
    QCOMPARE(m_model->shellState().transferProgresses(), (QList{row(a), row(c)}));
    QVERIFY(!m_model->activeTransferProgressIDs().contains(b));
    m_model->updateTransferProgress(row(d));
    QCOMPARE(m_model->shellState().transferProgresses(), (QList{row(a), row(c), row(d)}));
}

void TransferProgressPublishingTests::reopenedIdPublishesAtOnce()
{
    const QUuid id = QUuid::createUuid();
    m_model->openTransferProgress(id);
    m_model->updateTransferProgress(row(id, 100));
    m_model->removeTransferProgress(id);
    m_model->openTransferProgress(id);
    m_clock.advance(1ms);
    m_model->updateTransferProgress(row(id, 200));
    QCOMPARE(m_model->shellState().transferProgresses(), QList{row(id, 200)});
}

void TransferProgressPublishingTests::lateReportsAfterRemovalAreIgnored()
{
    const QUuid id = QUuid::createUuid();
    m_model->openTransferProgress(id);
    const TransferProgressSink sink = m_model->transferProgressSink();
    // Reports from a worker thread arrive as queued calls on this thread.
    QThreadPool pool;
    QFuture<void> reported = QtConcurrent::run(&pool, [sink, id] { sink(row(id, 100)); });
    QTRY_VERIFY(reported.isFinished());
    QTRY_COMPARE(m_model->shellState().transferProgresses(), QList{row(id, 100)});

    m_clock.advance(1s);
    QFuture<void> late = QtConcurrent::run(&pool, [sink, id] { sink(row(id, 900)); });
    QTRY_VERIFY(late.isFinished());
    m_model->removeTransferProgress(id);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY(m_model->shellState().transferProgresses().isEmpty());
}

void TransferProgressPublishingTests::reportsForAViewModelThatIsGoneAreDropped()
{
    const QUuid id = QUuid::createUuid();
    m_model->openTransferProgress(id);
    const TransferProgressSink sink = m_model->transferProgressSink();
    QThreadPool pool;
    QFuture<void> reported = QtConcurrent::run(&pool, [sink, id] {
        for (int i = 0; i < 100; ++i)
            sink(row(id, i));
    });
    QTRY_VERIFY(reported.isFinished());
    m_model.reset();
    // The queued calls run now and find the view model gone.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    sink(row(id, 5));
    QCoreApplication::processEvents();
}

QTEST_GUILESS_MAIN(TransferProgressPublishingTests)
#include "TransferProgressPublishingTests.moc"
