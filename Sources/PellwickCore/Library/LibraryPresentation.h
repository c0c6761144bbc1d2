#pragma once

#include <PellwickCore/Backend/EntitlementState.h>
#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Library/LibraryItemImportStatus.h>
#include <PellwickCore/Restore/RestoreRequest.h>

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

namespace Pellwick {

struct LocalLibraryItem;

/// The colour role a view gives a text.
enum class LibraryPresentationTone {
    Positive,
    Active,
    Attention,
    Danger,
    Primary,
    Secondary,
};

/// Which restore actions are enabled, with the transfer button's title and the help line.
struct RestoreActionAvailability
{
    bool canCreateRestoreRequest = false;
    bool canRefreshRestoreRequest = false;
    bool canStartRestoreTransfer = false;
    QString transferTitle;
    QString transferHelpText;

    bool operator==(const RestoreActionAvailability &) const = default;
};

/// The fixed English texts, tones and symbol names of item, Import Review and restore states.
/// Pure functions, callable from any thread. Symbol names are mapped to icons by the App.
namespace LibraryPresentation {

QString importStatusTitle(LibraryItemImportStatus status);
LibraryPresentationTone importStatusTone(LibraryItemImportStatus status);
QString importStatusSymbol(LibraryItemImportStatus status);

QString safetyTitle(LibraryItemImportStatus status);
/// As for the item's status, except that a Verified Backup whose source changed is not safe.
QString safetyTitle(const LocalLibraryItem &item);
/// Why an item needing attention does, and what to do, where the record tells it or its cached
/// original lies below one of `unfinishedBatchFolders` (batches whose copy into the Ingest Cache
/// has not finished); for a duplicate, the sidecar of its own that the archive does not hold;
/// nothing for any other item.
std::optional<QString> importAttentionReason(const LocalLibraryItem &item,
                                             const QSet<QString> &unfinishedBatchFolders);

std::optional<QString> restoreStatusTitle(std::optional<RestoreRequestStatus> status);
LibraryPresentationTone restoreStatusTone(std::optional<RestoreRequestStatus> status);
/// The tone of the restore message while a request in `status` is held (none: the message is the
/// last word of a finished restore, a success): a request whose items were not all saved is a
/// warning, whatever its status.
LibraryPresentationTone restoreMessageTone(std::optional<RestoreRequestStatus> status,
                                           bool hasTransferFailures);
/// The bytes a restore of `items` downloads and counts against the Restore Allowance: each RAW
/// original with its paired sidecar (the archive byte count), an absent count adding 0. The sum
/// saturates instead of wrapping: stored sizes are not trusted to add up.
qint64 restoreByteCount(const QList<LocalLibraryItem> &items);
RestoreActionAvailability
restoreActionAvailability(qint64 selectedItemCount,
                          std::optional<RestoreRequestStatus> restoreStatus,
                          bool isRestoreTransferActive,
                          bool hasPausedRestoreTransfer,
                          bool hasTransferFailures);

QString importReviewStatusTitle(const ImportReviewItemStatus &status);
LibraryPresentationTone importReviewStatusTone(const ImportReviewItemStatus &status);
QString importReviewStatusDetail(const ImportReviewItemStatus &status);
QString importReviewSidecarText(const ImportReviewItem &item);
QString importReviewSupportedBytesText(const ImportReviewItem &item);
QString importReviewSourceTitle(const std::optional<ImportReview> &review);
QString importReviewSourceDetail(const std::optional<ImportReview> &review);
QString
importReviewConfirmHelpText(const std::optional<ImportReview> &review,
                            const std::optional<ImportReviewStorageWarning> &storageWarning);
QString importReviewNeedsAttentionText(const std::optional<ImportReview> &review);
std::optional<QString>
importReviewNeedsAttentionWarningText(const std::optional<ImportReview> &review);

/// 1024-based, up to GB, one decimal at most ("1.5 KB", "1024 KB", "0 B"); never localized.
QString byteText(qint64 byteCount);
/// "<used> of <limit> <unit> (<percent>%)".
QString byteProgressText(qint64 usedBytes, qint64 limitBytes, const QString &unit);
/// used / limit clamped to 0...1; 0 when the limit is not positive.
double progressFraction(qint64 usedBytes, qint64 limitBytes);

QString paidPlanTitle(const PaidPlanState &plan);
QString paidPlanDetail(const PaidPlanState &plan);

} // namespace LibraryPresentation

} // namespace Pellwick
