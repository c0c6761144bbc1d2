#pragma once

#include <QString>

#include <optional>

namespace Pellwick {

struct ImportReview;

/// Bytes used and allowed by the trial.
struct TrialQuotaState
{
    qint64 usedBytes = 0;
    qint64 limitBytes = 0;

    bool operator==(const TrialQuotaState &) const = default;
};

/// Archive bytes used and allowed by the paid plan.
struct StorageEntitlementState
{
    qint64 usedBytes = 0;
    qint64 limitBytes = 0;

    bool operator==(const StorageEntitlementState &) const = default;
};

/// Restore bytes used and allowed by the paid plan.
struct RestoreAllowanceState
{
    qint64 usedBytes = 0;
    qint64 limitBytes = 0;

    bool operator==(const RestoreAllowanceState &) const = default;
};

/// The state of the paid plan. The raw values are the wire words.
enum class PaidPlanStatus {
    Trial,
    Paid,
    Expired,
    PaymentFailed,
};

QString toRaw(PaidPlanStatus status);
/// Exact, case-sensitive match against "trial", "paid", "expired" and "payment_failed".
std::optional<PaidPlanStatus> paidPlanStatusFromRaw(const QString &raw);

/// The current billing period as the backend's text; never parsed as dates.
struct BillingPeriod
{
    QString startsAt;
    QString endsAt;

    bool operator==(const BillingPeriod &) const = default;
};

struct PaidPlanState
{
    PaidPlanStatus status = PaidPlanStatus::Trial;
    qint64 priceCents = 0;
    StorageEntitlementState storageEntitlement;
    RestoreAllowanceState restoreAllowance;
    /// Only when the backend sent both dates.
    std::optional<BillingPeriod> billingPeriod;

    bool operator==(const PaidPlanState &) const = default;
};

/// The selection of an Import Review is larger than the archive storage left.
struct ImportReviewStorageWarning
{
    qint64 selectedBytes = 0;
    qint64 remainingBytes = 0;

    bool operator==(const ImportReviewStorageWarning &) const = default;
};

/// The signed-in user's library with its quota and plan state. The storage figures are derived on
/// demand: only a `Paid` plan selects its storage entitlement, every other status the trial quota.
struct UserLibrary
{
    qint64 id = 0;
    TrialQuotaState trialQuota;
    PaidPlanState paidPlan;

    qint64 activeStorageUsedBytes() const;
    qint64 activeStorageLimitBytes() const;
    /// Limit minus used, never below zero; saturates instead of overflowing on hostile figures.
    qint64 remainingStorageBytes() const;

    /// A warning when the review's supported bytes (RAW originals and their sidecars) exceed the
    /// remaining storage; no value when they fit.
    std::optional<ImportReviewStorageWarning> storageWarning(const ImportReview &review) const;

    bool operator==(const UserLibrary &) const = default;
};

} // namespace Pellwick
