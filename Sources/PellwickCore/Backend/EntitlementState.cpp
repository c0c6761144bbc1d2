#include "EntitlementState.h"

#include <PellwickCore/Ingest/ImportReview.h>

#include <algorithm>
#include <limits>

namespace Pellwick {

QString toRaw(PaidPlanStatus status)
{
    switch (status) {
    case PaidPlanStatus::Trial:
        return QStringLiteral("trial");
    case PaidPlanStatus::Paid:
        return QStringLiteral("paid");
    case PaidPlanStatus::Expired:
        return QStringLiteral("expired");
    case PaidPlanStatus::PaymentFailed:
        return QStringLiteral("payment_failed");
    }
    return {};
}

std::optional<PaidPlanStatus> paidPlanStatusFromRaw(const QString &raw)
{
    for (const PaidPlanStatus status : {PaidPlanStatus::Trial,
                                        PaidPlanStatus::Paid,
                                        PaidPlanStatus::Expired,
                                        PaidPlanStatus::PaymentFailed}) {
        if (raw == toRaw(status))
            return status;
    }
    return std::nullopt;
}

qint64 UserLibrary::activeStorageUsedBytes() const
{
    return paidPlan.status == PaidPlanStatus::Paid ? paidPlan.storageEntitlement.usedBytes
                                                   : trialQuota.usedBytes;
}

qint64 UserLibrary::activeStorageLimitBytes() const
{
    return paidPlan.status == PaidPlanStatus::Paid ? paidPlan.storageEntitlement.limitBytes
                                                   : trialQuota.limitBytes;
}

qint64 UserLibrary::remainingStorageBytes() const
{
    qint64 remaining = 0;
    if (__builtin_sub_overflow(activeStorageLimitBytes(), activeStorageUsedBytes(), &remaining)) {
        // Only possible with a negative figure on one side: a huge limit minus a negative use
        // overflows upwards, a negative limit minus a huge use downwards.
        return activeStorageUsedBytes() < 0 ? std::numeric_limits<qint64>::max() : 0;
    }
    return std::max<qint64>(remaining, 0);
}

std::optional<ImportReviewStorageWarning>
UserLibrary::storageWarning(const ImportReview &review) const
{
    const qint64 selectedBytes = review.totalSupportedBytes();
    const qint64 remaining = remainingStorageBytes();
    if (remaining < selectedBytes)
        return ImportReviewStorageWarning{selectedBytes, remaining};
    return std::nullopt;
}

} // namespace Pellwick
