#include <PellwickCore/Backend/EntitlementState.h>
#include <PellwickCore/Ingest/ImportReview.h>

#include <QTest>

#include <limits>

using namespace Pellwick;

namespace {

constexpr qint64 maximum = std::numeric_limits<qint64>::max();
constexpr qint64 minimum = std::numeric_limits<qint64>::min();

UserLibrary library(PaidPlanStatus status, TrialQuotaState trial, StorageEntitlementState paid)
{
    UserLibrary library;
    library.trialQuota = trial;
    library.paidPlan.status = status;
    library.paidPlan.storageEntitlement = paid;
    library.paidPlan.restoreAllowance = {1'000, 2'000}; // never part of the storage figures
    return library;
}

/// A review whose supported items (a RAW original and its sidecar) hold `bytes` in all, beside
/// an unsupported file that never counts.
ImportReview reviewOf(qint64 bytes)
{
    ImportReview review;
    const qint64 sidecarBytes = bytes / 4;
    review.items.append(ImportReviewItem(QStringLiteral("CARD"),
                                         QStringLiteral("/media/CARD/A.NEF"),
                                         QStringLiteral("A.NEF"),
                                         bytes - sidecarBytes,
                                         ImportReviewItemStatus::supported(),
                                         ImportReviewSidecar{QStringLiteral("/media/CARD/A.XMP"),
                                                             QStringLiteral("A.XMP"),
                                                             sidecarBytes},
                                         QStringLiteral("A.NEF")));
    review.items.append(ImportReviewItem(
        QStringLiteral("CARD"),
        QStringLiteral("/media/CARD/B.JPG"),
        QStringLiteral("B.JPG"),
        1'000'000,
        ImportReviewItemStatus::unsupported(ImportReviewUnsupportedReason::ExcludedBackupTarget),
        std::nullopt,
        QStringLiteral("B.JPG")));
    return review;
}

} // namespace

class EntitlementStateTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void onlyAPaidPlanSelectsItsEntitlement_data();
    void onlyAPaidPlanSelectsItsEntitlement();
    void remainingStorageNeverGoesNegativeOrOverflows_data();
    void remainingStorageNeverGoesNegativeOrOverflows();
    void storageWarningStartsOneByteBeyondTheRemainder();
};

void EntitlementStateTests::onlyAPaidPlanSelectsItsEntitlement_data()
{
    QTest::addColumn<PaidPlanStatus>("status");
    QTest::addColumn<qint64>("used");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<qint64>("remaining");
    QTest::newRow("paid") << PaidPlanStatus::Paid << qint64(50) << qint64(100) << qint64(50);
    QTest::newRow("trial") << PaidPlanStatus::Trial << qint64(5) << qint64(10) << qint64(5);
    QTest::newRow("expired") << PaidPlanStatus::Expired << qint64(5) << qint64(10) << qint64(5);
    QTest::newRow("payment failed")
        << PaidPlanStatus::PaymentFailed << qint64(5) << qint64(10) << qint64(5);
}

void EntitlementStateTests::onlyAPaidPlanSelectsItsEntitlement()
{
    QFETCH(PaidPlanStatus, status);
    QFETCH(qint64, used);
    QFETCH(qint64, limit);
    QFETCH(qint64, remaining);
    const UserLibrary figures = library(status, {5, 10}, {50, 100});
    QCOMPARE(figures.activeStorageUsedBytes(), used);
    QCOMPARE(figures.activeStorageLimitBytes(), limit);
    QCOMPARE(figures.remainingStorageBytes(), remaining);
}

void EntitlementStateTests::remainingStorageNeverGoesNegativeOrOverflows_data()
{
    QTest::addColumn<qint64>("used");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<qint64>("remaining");
    QTest::newRow("all used") << qint64(100) << qint64(100) << qint64(0);
    QTest::newRow("used beyond the limit") << qint64(150) << qint64(100) << qint64(0);
    QTest::newRow("largest limit, nothing used") << qint64(0) << maximum << maximum;
    QTest::newRow("negative use below a huge limit") << qint64(-1) << maximum << maximum;
    QTest::newRow("lowest use") << minimum << qint64(0) << maximum;
    QTest::newRow("huge use above a negative limit") << maximum << qint64(-2) << qint64(0);
    QTest::newRow("lowest limit") << qint64(1) << minimum << qint64(0);
    QTest::newRow("both negative") << qint64(-10) << qint64(-4) << qint64(6);
}

void EntitlementStateTests::remainingStorageNeverGoesNegativeOrOverflows()
{
    QFETCH(qint64, used);
    QFETCH(qint64, limit);
    QFETCH(qint64, remaining);
    QCOMPARE(library(PaidPlanStatus::Paid, {}, {used, limit}).remainingStorageBytes(), remaining);
    QCOMPARE(library(PaidPlanStatus::Trial, {used, limit}, {}).remainingStorageBytes(), remaining);
}

void EntitlementStateTests::storageWarningStartsOneByteBeyondTheRemainder()
{
    const UserLibrary paid = library(PaidPlanStatus::Paid, {5, 10}, {50, 100});
    QCOMPARE(paid.storageWarning(reviewOf(0)), std::nullopt);
    QCOMPARE(paid.storageWarning(reviewOf(50)), std::nullopt);
    QCOMPARE(paid.storageWarning(reviewOf(51)), (ImportReviewStorageWarning{51, 50}));

    // The trial quota counts once the plan is not paid, even with a roomy entitlement.
    const UserLibrary expired = library(PaidPlanStatus::Expired, {10, 10}, {0, 100});
    QCOMPARE(expired.storageWarning(reviewOf(0)), std::nullopt);
    QCOMPARE(expired.storageWarning(reviewOf(1)), (ImportReviewStorageWarning{1, 0}));

    const UserLibrary overdrawn = library(PaidPlanStatus::Paid, {}, {200, 100});
    QCOMPARE(overdrawn.storageWarning(reviewOf(1)), (ImportReviewStorageWarning{1, 0}));
}

QTEST_GUILESS_MAIN(EntitlementStateTests)
#include "EntitlementStateTests.moc"
