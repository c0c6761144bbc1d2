#include "RestoreHarness.h"

#include <QTest>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class RestorePollingTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { CurlFetch::initializeGlobally(); }

    void cadenceIsSixtyThenOneEightySeconds();
    void activationAfterTwentyMinutesSleepsOneEightySeconds();
    void oneTaskAndOneRowPerPreparingRequest();
    void readyRequestEndsPollingWithinItsTick();
    void failedRefreshKeepsTheCadence();
    void goneViewModelEndsTheTask();

private:
    /// The refreshes of request `id` the backend has received.
    static int refreshes(const RestoreHarness &h, qint64 id)
    {
        return h.requestCount("GET", "/api/library/restore_requests/" + QByteArray::number(id));
    }

    /// Advances to just before `due` (nothing happens), then to it: one refresh more, and the
    /// next sleep armed once it has been answered.
    static void expectRefreshAt(RestoreHarness &h, qint64 id, std::chrono::seconds due)
    {
        const int before = refreshes(h, id);
        h.timers.advance(due - 1s - h.timers.now());
        QCOMPARE(h.timers.activeCount(), 1);
        QCOMPARE(refreshes(h, id), before);
        h.timers.advance(1s);
        QTRY_COMPARE(refreshes(h, id), before + 1);
        QTRY_COMPARE(h.timers.activeCount(), 1);
    }
};

void RestorePollingTests::cadenceIsSixtyThenOneEightySeconds()
{
    RestoreHarness h;
    const qint64 id = h.createRequest();
    // 60 s apart up to 900 s; at exactly 900 s elapsed the next sleep is 180 s.
    for (std::chrono::seconds due = 60s; due <= 900s; due += 60s)
        expectRefreshAt(h, id, due);
    expectRefreshAt(h, id, 1080s);
    expectRefreshAt(h, id, 1260s);
    QCOMPARE(h.restore().restoreMessage(),
             u"Restore preparing \u2014 estimated ready about 4 hours"_s);
}

void RestorePollingTests::activationAfterTwentyMinutesSleepsOneEightySeconds()
{
    RestoreHarness h;
    const qint64 id = h.createRequest();
    const auto startedAt = h.model->restoreWorkflows().restorePreparingStartedAt();

    // What the window does when the application resigns active: stopped at once.
    h.model->restoreWorkflows().setApplicationActive(false);
    h.model->restoreWorkflows().cancelRestorePolling();
    QCOMPARE(h.timers.activeCount(), 0);
    h.timers.advance(20min);
    QTest::qWait(0);
    QCOMPARE(refreshes(h, id), 0);

    h.model->restoreWorkflows().setApplicationActive(true);
    h.model->restoreWorkflows().updateRestorePolling(h.restore().activeRestoreRequest());
    QCOMPARE(h.model->restoreWorkflows().restorePreparingStartedAt(), startedAt);
    expectRefreshAt(h, id, 20min + 180s);
}

void RestorePollingTests::oneTaskAndOneRowPerPreparingRequest()
{
    RestoreHarness h;
    h.createRequest();
    const RestoreRequest request = *h.restore().activeRestoreRequest();
    const std::stop_token task = h.model->restoreWorkflows().restorePollingTask()->token();
    h.model->restoreWorkflows().updateRestorePolling(request);
    h.model->restoreWorkflows().updateRestorePolling(request);
    QVERIFY(h.model->restoreWorkflows().restorePollingTask()->token() == task);
    QCOMPARE(h.timers.activeCount(), 1);

    QCOMPARE(h.model->shellState().transferProgresses().size(), 1);
    const TransferProgress row = h.model->shellState().transferProgresses().first();
    QCOMPARE(row,
             (TransferProgress{.id = row.id,
                               .operationName = u"Restore Preparation"_s,
                               .phase = TransferProgressPhase::Preparing,
                               .detail = u"about 4 hours"_s,
                               .currentFilename = std::nullopt,
                               .currentFileCompletedByteCount = std::nullopt,
                               .currentFileTotalByteCount = std::nullopt,
                               .completedByteCount = 0,
                               .totalByteCount = 2000,
                               .completedPackageCount = 0,
                               .totalPackageCount = 2}));
}

void RestorePollingTests::readyRequestEndsPollingWithinItsTick()
{
    RestoreHarness h;
    const qint64 id = h.createRequest();
    h.backend.setRestoreRequestStatus(id, RestoreRequestStatus::Ready);
    h.timers.advance(60s);
    QTRY_COMPARE(h.restore().restoreMessage(), u"Restore ready"_s);
    QVERIFY(!h.model->restoreWorkflows().restorePollingTask());
    QVERIFY(h.model->shellState().transferProgresses().isEmpty());
    QVERIFY(!h.model->restoreWorkflows().restorePreparingStartedAt());
    QTest::qWait(0);
    QCOMPARE(h.timers.activeCount(), 0);
}

void RestorePollingTests::failedRefreshKeepsTheCadence()
{
    RestoreHarness h;
    const qint64 id = h.createRequest();
    h.backend.injectFault("GET",
                          "/api/library/restore_requests/" + QByteArray::number(id),
                          TestBackend::Fault::reply(500),
                          1);
    expectRefreshAt(h, id, 60s);
    QVERIFY(h.restore().restoreErrorMessage());
    expectRefreshAt(h, id, 120s);
    QCOMPARE(h.restore().restoreErrorMessage(), std::nullopt);
}

void RestorePollingTests::goneViewModelEndsTheTask()
{
    RestoreHarness h;
    const qint64 id = h.createRequest();
    h.model.reset();
    QCOMPARE(h.timers.activeCount(), 0);
    QTest::qWait(0); // the stopped sleep resumes, sees the view model gone and ends
    h.timers.advance(10min);
    QCOMPARE(refreshes(h, id), 0);
}

QTEST_GUILESS_MAIN(RestorePollingTests)
#include "RestorePollingTests.moc"
