#include "LibraryPresentation.h"

#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QtNumeric>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Pellwick::LibraryPresentation {

namespace {

/// x rounded to one decimal, halves away from zero; whole numbers without a point. Never goes
/// through a locale.
QString rounded(double x)
{
    const double r = std::round(x * 10) / 10;
    if (r == std::floor(r))
        return QString::number(static_cast<qint64>(r));
    return QString::number(r, 'f', 1);
}

qint64 progressPercent(qint64 used, qint64 limit)
{
    if (limit < 1)
        return 0;
    double fraction = static_cast<double>(used) / static_cast<double>(limit);
    if (fraction <= 0)
        return 0;
    fraction = std::min(fraction, 1.0);
    return static_cast<qint64>(std::round(fraction * 100));
}

bool isUnpairedSidecar(const ImportReviewItemStatus &status)
{
    const auto *unsupported = std::get_if<ImportReviewItemStatus::Unsupported>(&status.value);
    return unsupported && unsupported->reason == ImportReviewUnsupportedReason::UnpairedSidecar;
}

qsizetype needsAttentionCount(const std::optional<ImportReview> &review)
{
    if (!review)
        return 0;
    return std::count_if(
        review->items.cbegin(), review->items.cend(), [](const ImportReviewItem &item) {
            return isUnpairedSidecar(item.status);
        });
}

bool hasVolumes(const std::optional<ImportReview> &review)
{
    return review && !review->volumes.isEmpty();
}

} // namespace

QString importStatusTitle(LibraryItemImportStatus status)
{
    switch (status) {
    case LibraryItemImportStatus::LocalCacheReady:
        return QStringLiteral("Local Cache — Ready to Import");
    case LibraryItemImportStatus::Uploading:
        return QStringLiteral("Local Cache — Uploading");
    case LibraryItemImportStatus::Verifying:
        return QStringLiteral("Online Archive — Verifying");
    case LibraryItemImportStatus::VerifiedBackup:
        return QStringLiteral("Online Archive — Verified");
    case LibraryItemImportStatus::CleanupPending:
        return QStringLiteral("Online Archive — Cache Cleanup Pending");
    case LibraryItemImportStatus::NeedsAttention:
        return QStringLiteral("Local Cache — Needs Attention");
    case LibraryItemImportStatus::Duplicate:
        return QStringLiteral("Online Archive — Already Archived");
    }
    return {};
}

LibraryPresentationTone importStatusTone(LibraryItemImportStatus status)
{
    switch (status) {
    case LibraryItemImportStatus::LocalCacheReady:
    case LibraryItemImportStatus::Uploading:
    case LibraryItemImportStatus::Verifying:
        return LibraryPresentationTone::Active;
    case LibraryItemImportStatus::VerifiedBackup:
        return LibraryPresentationTone::Positive;
    case LibraryItemImportStatus::CleanupPending:
    case LibraryItemImportStatus::NeedsAttention:
        return LibraryPresentationTone::Attention;
    case LibraryItemImportStatus::Duplicate:
        return LibraryPresentationTone::Secondary;
    }
    return LibraryPresentationTone::Secondary;
}

QString importStatusSymbol(LibraryItemImportStatus status)
{
    switch (status) {
    case LibraryItemImportStatus::LocalCacheReady:
        return QStringLiteral("tray.full");
    case LibraryItemImportStatus::Uploading:
    case LibraryItemImportStatus::Verifying:
        return QStringLiteral("arrow.up.circle");
    case LibraryItemImportStatus::VerifiedBackup:
        return QStringLiteral("checkmark.icloud");
    case LibraryItemImportStatus::CleanupPending:
    case LibraryItemImportStatus::NeedsAttention:
        return QStringLiteral("exclamationmark.triangle");
    case LibraryItemImportStatus::Duplicate:
        return QStringLiteral("doc.on.doc");
    }
    return {};
}

QString safetyTitle(LibraryItemImportStatus status)
{
    switch (status) {
    case LibraryItemImportStatus::VerifiedBackup:
        return QStringLiteral("Safe to erase source media");
    case LibraryItemImportStatus::CleanupPending:
        return QStringLiteral("Archive verified; cache cleanup pending");
    case LibraryItemImportStatus::LocalCacheReady:
    case LibraryItemImportStatus::Uploading:
    case LibraryItemImportStatus::Verifying:
    case LibraryItemImportStatus::NeedsAttention:
    case LibraryItemImportStatus::Duplicate:
        return QStringLiteral("Keep source media");
    }
    return {};
}

QString safetyTitle(const LocalLibraryItem &item)
{
    if (item.importStatus == LibraryItemImportStatus::VerifiedBackup
        && !item.isSafeToEraseSourceMedia()) {
        return QStringLiteral("Do not erase source media — source changed");
    }
    return safetyTitle(item.importStatus);
}

namespace {

/// Why a duplicate keeps its source: the archive holds its RAW original with another sidecar,
/// or with none.
std::optional<QString> duplicateAttentionReason(const LocalLibraryItem &item)
{
    const std::optional<PackageSidecar> own = item.ownSidecar();
    if (!own || !own->contentHash || own->contentHash == item.archiveSidecarContentHash)
        return std::nullopt;
    return QStringLiteral("The sidecar ") + own->filename.value_or(QStringLiteral("of this item"))
           + QStringLiteral(" is not in the archive.");
}

} // namespace

std::optional<QString> importAttentionReason(const LocalLibraryItem &item,
                                             const QSet<QString> &unfinishedBatchFolders)
{
    if (item.importStatus == LibraryItemImportStatus::Duplicate)
        return duplicateAttentionReason(item);
    if (item.importStatus != LibraryItemImportStatus::NeedsAttention)
        return std::nullopt;
    // Known to the archive, an item may never have had a package on this computer.
    if (!item.ingestCacheOriginalURL && !item.backendLibraryItemID)
        return QStringLiteral("The files of this item are no longer in the Ingest Cache.");
    if (!item.ingestCacheOriginalURL)
        return std::nullopt;
    if (liesBelowAnyFolder(*item.ingestCacheOriginalURL, unfinishedBatchFolders))
        return QStringLiteral("The copy into the Ingest Cache was interrupted. "
                              "Add the card again to finish it.");
    // The copy-in verified the RAW original and the sidecar it took; the record now names
    // another sidecar, changed in the cache since.
    const SharedOptional<SourceMediaEvidence> &copied = item.sourceMediaEvidence;
    if (copied && copied->rawContentHash == item.contentHash
        && copied->sidecarContentHash != item.ingestCacheSidecarContentHash)
        return QStringLiteral("The sidecar in the Ingest Cache changed after it was copied. "
                              "The changed copy is listed as a photo of its own; add the card "
                              "again to archive the card's own sidecar too.");
    return std::nullopt;
}

std::optional<QString> restoreStatusTitle(std::optional<RestoreRequestStatus> status)
{
    if (!status)
        return std::nullopt;
    switch (*status) {
    case RestoreRequestStatus::Preparing:
        return QStringLiteral("Restore Preparing");
    case RestoreRequestStatus::Ready:
        return QStringLiteral("Restore Ready");
    case RestoreRequestStatus::Downloaded:
        return QStringLiteral("Restore Downloaded");
    case RestoreRequestStatus::NeedsAttention:
        return QStringLiteral("Restore Needs Attention");
    case RestoreRequestStatus::Cancelled:
        return QStringLiteral("Restore Cancelled");
    }
    return std::nullopt;
}

LibraryPresentationTone restoreStatusTone(std::optional<RestoreRequestStatus> status)
{
    if (!status)
        return LibraryPresentationTone::Secondary;
    switch (*status) {
    case RestoreRequestStatus::Preparing:
        return LibraryPresentationTone::Active;
    case RestoreRequestStatus::Ready:
    case RestoreRequestStatus::Downloaded:
    case RestoreRequestStatus::Cancelled:
        return LibraryPresentationTone::Positive;
    case RestoreRequestStatus::NeedsAttention:
        return LibraryPresentationTone::Attention;
    }
    return LibraryPresentationTone::Secondary;
}

LibraryPresentationTone restoreMessageTone(std::optional<RestoreRequestStatus> status,
                                           bool hasTransferFailures)
{
    if (hasTransferFailures)
        return LibraryPresentationTone::Attention;
    return status ? restoreStatusTone(status) : LibraryPresentationTone::Positive;
}

qint64 restoreByteCount(const QList<LocalLibraryItem> &items)
{
    qint64 total = 0;
    for (const LocalLibraryItem &item : items) {
        const qint64 bytes = item.archiveByteCount.value_or(0);
        if (qAddOverflow(total, bytes, &total)) {
            total = bytes > 0 ? std::numeric_limits<qint64>::max()
                              : std::numeric_limits<qint64>::min();
        }
    }
    return total;
}

RestoreActionAvailability
restoreActionAvailability(qint64 selectedItemCount,
                          std::optional<RestoreRequestStatus> restoreStatus,
                          bool isRestoreTransferActive,
                          bool hasPausedRestoreTransfer,
                          bool hasTransferFailures)
{
    RestoreActionAvailability availability;
    availability.canCreateRestoreRequest
        = selectedItemCount >= 1
          && (!restoreStatus || *restoreStatus == RestoreRequestStatus::Downloaded);
    availability.canRefreshRestoreRequest = true;
    availability.canStartRestoreTransfer
        = restoreStatus == RestoreRequestStatus::Ready && !isRestoreTransferActive;
    if (hasPausedRestoreTransfer)
        availability.transferTitle = QStringLiteral("Continue Restore Transfer");
    else if (hasTransferFailures)
        availability.transferTitle = QStringLiteral("Retry Failed Restore");
    else
        availability.transferTitle = QStringLiteral("Start Restore Transfer");

    if (!restoreStatus && selectedItemCount == 0) {
        availability.transferHelpText
            = QStringLiteral("Select Verified Backup RAW Originals to create a Restore Request.");
    } else if (hasTransferFailures) {
        availability.transferHelpText = QStringLiteral(
            "Retry RAW Originals that could not be saved using a confirmed Restore Destination.");
    } else if (restoreStatus == RestoreRequestStatus::Ready) {
        availability.transferHelpText
            = QStringLiteral("Save ready RAW Originals using Canonical Filenames.");
    } else if (restoreStatus == RestoreRequestStatus::NeedsAttention) {
        availability.transferHelpText = QStringLiteral(
            "Restore preparation needs attention. Review the reason, then retry preparation.");
    } else {
        availability.transferHelpText
            = QStringLiteral("Restore Transfer becomes available when Restore Request is ready.");
    }
    return availability;
}

QString importReviewStatusTitle(const ImportReviewItemStatus &status)
{
    if (status.isSupported())
        return QStringLiteral("Ready");
    return isUnpairedSidecar(status) ? QStringLiteral("Needs Attention")
                                     : QStringLiteral("Excluded");
}

LibraryPresentationTone importReviewStatusTone(const ImportReviewItemStatus &status)
{
    if (status.isSupported())
        return LibraryPresentationTone::Positive;
    return isUnpairedSidecar(status) ? LibraryPresentationTone::Attention
                                     : LibraryPresentationTone::Secondary;
}

QString importReviewStatusDetail(const ImportReviewItemStatus &status)
{
    if (status.isSupported())
        return QStringLiteral("Supported RAW Original");
    return isUnpairedSidecar(status) ? QStringLiteral("Unpaired Sidecar")
                                     : QStringLiteral("Excluded from Import");
}

QString importReviewSidecarText(const ImportReviewItem &item)
{
    if (item.status.isSupported())
        return item.sidecar ? item.sidecar->filename : QStringLiteral("No Sidecar");
    return isUnpairedSidecar(item.status) ? QStringLiteral("Unpaired Sidecar")
                                          : QStringLiteral("Not used");
}

QString importReviewSupportedBytesText(const ImportReviewItem &item)
{
    if (!item.status.isSupported())
        return QStringLiteral("Not counted");
    return byteText(item.byteCount + (item.sidecar ? item.sidecar->byteCount : 0));
}

QString importReviewSourceTitle(const std::optional<ImportReview> &review)
{
    if (!hasVolumes(review))
        return QStringLiteral("No Import Source selected");
    if (review->volumes.size() == 1)
        return QStringLiteral("Import Source: ") + review->volumes.first().name;
    QStringList names;
    for (const ImportScanVolume &volume : review->volumes)
        names.append(volume.name);
    return QStringLiteral("Import Sources: ") + names.join(QStringLiteral(", "));
}

QString importReviewSourceDetail(const std::optional<ImportReview> &review)
{
    if (!hasVolumes(review))
        return QStringLiteral("Scan removable media or choose a folder.");
    if (review->volumes.size() == 1)
        return review->volumes.first().url;
    return QString::number(review->volumes.size()) + QStringLiteral(" Import Sources selected");
}

QString importReviewConfirmHelpText(const std::optional<ImportReview> &review,
                                    const std::optional<ImportReviewStorageWarning> &storageWarning)
{
    if (!review)
        return QStringLiteral(
            "Choose a folder or insert removable media to build an Import Review.");
    if (storageWarning)
        return QStringLiteral(
            "Confirm Import is disabled while Storage Full would block Verified Backup.");
    if (review->candidateCount() > 0)
        return QStringLiteral(
            "Confirm Import begins backup work. Pellwick never deletes source media.");
    return QStringLiteral("No supported RAW Originals found.");
}

QString importReviewNeedsAttentionText(const std::optional<ImportReview> &review)
{
    const qsizetype count = needsAttentionCount(review);
    if (count == 0)
        return QStringLiteral("None");
    if (count == 1)
        return QStringLiteral("1 item");
    return QString::number(count) + QStringLiteral(" items");
}

std::optional<QString>
importReviewNeedsAttentionWarningText(const std::optional<ImportReview> &review)
{
    const qsizetype count = needsAttentionCount(review);
    if (count < 1)
        return std::nullopt;
    if (count == 1) {
        return QStringLiteral(
            "Needs Attention: 1 item has an unpaired Sidecar. Review before confirming Import.");
    }
    return QStringLiteral("Needs Attention: ") + QString::number(count)
           + QStringLiteral(" items have unpaired Sidecars. Review before confirming Import.");
}

QString byteText(qint64 byteCount)
{
    constexpr qint64 kilo = 1024;
    constexpr qint64 mega = kilo * 1024;
    constexpr qint64 giga = mega * 1024;
    const auto n = static_cast<double>(byteCount);
    if (byteCount <= 0)
        return QStringLiteral("0 B");
    if (byteCount < kilo)
        return QString::number(byteCount) + QStringLiteral(" B");
    if (byteCount < mega)
        return rounded(n / kilo) + QStringLiteral(" KB");
    if (byteCount < giga)
        return rounded(n / mega) + QStringLiteral(" MB");
    return rounded(n / giga) + QStringLiteral(" GB");
}

QString byteProgressText(qint64 usedBytes, qint64 limitBytes, const QString &unit)
{
    return byteText(usedBytes) + QStringLiteral(" of ") + byteText(limitBytes) + QLatin1Char(' ')
           + unit + QStringLiteral(" (") + QString::number(progressPercent(usedBytes, limitBytes))
           + QStringLiteral("%)");
}

double progressFraction(qint64 usedBytes, qint64 limitBytes)
{
    if (limitBytes <= 0)
        return 0;
    return std::clamp(static_cast<double>(usedBytes) / static_cast<double>(limitBytes), 0.0, 1.0);
}

QString paidPlanTitle(const PaidPlanState &plan)
{
    return plan.status == PaidPlanStatus::Paid ? QStringLiteral("$249/year active")
                                               : QStringLiteral("No active Paid Plan");
}

QString paidPlanDetail(const PaidPlanState &plan)
{
    if (plan.billingPeriod) {
        return QStringLiteral("Billing period ") + plan.billingPeriod->startsAt
               + QStringLiteral(" to ") + plan.billingPeriod->endsAt;
    }
    return QStringLiteral("$249/year Paid Plan not active");
}

} // namespace Pellwick::LibraryPresentation
