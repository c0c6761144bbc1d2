#include <PellwickApp/Views/Restore/RestorePresentation.h>

#include <QTest>

#include <Support/RestoreFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

using Status = RestoreRequestStatus;
using Tone = LibraryPresentationTone;

namespace {

RestoreRequestItem entry(Status status, std::optional<QString> reason = {})
{
    return restoreEntry(7, status, std::move(reason));
}

PaidPlanState plan(PaidPlanStatus status)
{
    PaidPlanState plan;
    plan.status = status;
    plan.restoreAllowance = {.usedBytes = 1024, .limitBytes = 4096};
    return plan;
}

const QString fallback = u"Archive Storage preparation needs attention, but Pellwick did not "
                         u"receive a detailed reason. Retry preparation or cancel this Restore "
                         u"Request."_s;

struct Case
{
    std::optional<RestoreRequest> request = {};
    std::optional<PaidPlanState> plan = {};
    bool paused = false;
    QString status = u"No active Restore Request"_s;
    Tone tone = Tone::Secondary;
    std::optional<QString> allowance = {};
    std::optional<QString> reason = {};
    bool failures = false;
    QString transferTitle = u"Start Restore Transfer"_s;
};

} // namespace

Q_DECLARE_METATYPE(Case)

class RestorePresentationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void derivedValues_data()
    {
        QTest::addColumn<Case>("c");
        QTest::newRow("no request, no session") << Case{};
        QTest::newRow("preparing") << Case{.request = restoreRequest(Status::Preparing),
                                           .status = u"Restore Preparing"_s,
                                           .tone = Tone::Active};
        QTest::newRow("downloaded, an item not saved is no transfer failure")
            << Case{.request = restoreRequest(Status::Downloaded, {entry(Status::NeedsAttention)}),
                    .status = u"Restore Downloaded"_s,
                    .tone = Tone::Positive};
        QTest::newRow("needs attention without any reason")
            << Case{.request = restoreRequest(Status::NeedsAttention),
                    .status = u"Restore Needs Attention"_s,
                    .tone = Tone::Attention,
                    .reason = fallback};
        QTest::newRow("cancelled is positive") << Case{.request = restoreRequest(Status::Cancelled),
                                                       .status = u"Restore Cancelled"_s,
                                                       .tone = Tone::Positive};
        QTest::newRow("trial allowance")
            << Case{.plan = plan(PaidPlanStatus::Trial),
                    .allowance = u"1 KB of 4 KB restored under Trial Quota (25%)"_s};
        QTest::newRow("paid allowance")
            << Case{.plan = plan(PaidPlanStatus::Paid),
                    .allowance = u"1 KB of 4 KB restored this plan year (25%)"_s};
        QTest::newRow("the request's own reason first")
            << Case{.request = restoreRequest(
                        Status::NeedsAttention, {entry(Status::Ready, u"b"_s)}, u"a"_s),
                    .status = u"Restore Needs Attention"_s,
                    .tone = Tone::Attention,
                    .reason = u"a"_s};
        QTest::newRow("then the first item with a reason")
            << Case{.request = restoreRequest(Status::Preparing,
                                              {entry(Status::Ready),
                                               entry(Status::NeedsAttention, u"second"_s),
                                               entry(Status::NeedsAttention, u"third"_s)}),
                    .status = u"Restore Preparing"_s,
                    .tone = Tone::Active,
                    .reason = u"second"_s};
        QTest::newRow("ready with an item not saved")
            << Case{.request = restoreRequest(Status::Ready, {entry(Status::NeedsAttention)}),
                    .status = u"Restore Ready"_s,
                    .tone = Tone::Positive,
                    .failures = true,
                    .transferTitle = u"Retry Failed Restore"_s};
        QTest::newRow("ready with failures and a paused transfer")
            << Case{.request = restoreRequest(Status::Ready, {entry(Status::NeedsAttention)}),
                    .paused = true,
                    .status = u"Restore Ready"_s,
                    .tone = Tone::Positive,
                    .failures = true,
                    .transferTitle = u"Continue Restore Transfer"_s};
    }

    void derivedValues()
    {
        QFETCH(Case, c);
        const RestorePresentation presentation = RestorePresentation::derive({
            .activeRestoreRequest = c.request,
            .paidPlan = c.plan,
            .hasPausedRestoreTransfer = c.paused,
        });
        QCOMPARE(presentation.restoreStatusText, c.status);
        QCOMPARE(presentation.restoreStatusTone, c.tone);
        QCOMPARE(presentation.restoreAllowanceText, c.allowance);
        QCOMPARE(presentation.restoreAttentionReason, c.reason);
        QCOMPARE(presentation.hasTransferFailures, c.failures);
        QCOMPARE(presentation.actionAvailability.transferTitle, c.transferTitle);
        QCOMPARE(presentation.summary.itemTitle,
                 c.request ? u"Restore Request items"_s : u"Selected"_s);
        QCOMPARE(presentation.summary.timelineStatus.has_value(), c.request.has_value());
    }
};

QTEST_GUILESS_MAIN(RestorePresentationTests)
#include "RestorePresentationTests.moc"
