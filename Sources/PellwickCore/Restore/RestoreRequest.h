#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace Pellwick {

/// Where a Restore Request, or one RAW original in it, stands. The raw values are the backend's
/// wire words, which the local library also stores.
enum class RestoreRequestStatus {
    Preparing,      ///< "preparing": the backend is preparing the RAW originals
    Ready,          ///< "ready": the RAW originals can be downloaded
    Downloaded,     ///< "downloaded": the RAW originals have been saved
    NeedsAttention, ///< "needs_attention": preparation or a file failed
    Cancelled,      ///< "cancelled": the request was cancelled
};

QString toRaw(RestoreRequestStatus status);
/// Exact, case-sensitive match against the raw values, without trimming.
std::optional<RestoreRequestStatus> restoreRequestStatusFromRaw(const QString &raw);

/// One RAW original of a Restore Request, as the backend lists it. `canonicalFilename` is the
/// backend's text, unchecked: it must be validated before it is used as a file name.
struct RestoreRequestItem
{
    qint64 libraryItemID = 0;
    QString canonicalFilename;
    qint64 byteCount = 0;
    RestoreRequestStatus status = RestoreRequestStatus::Preparing;
    std::optional<QString> attentionReason;

    bool operator==(const RestoreRequestItem &) const = default;
};

/// The backend's record of a wish to get archived RAW originals back. `items` keeps the
/// backend's order and is never merged or filtered.
struct RestoreRequest
{
    qint64 id = 0;
    RestoreRequestStatus status = RestoreRequestStatus::Preparing;
    qint64 byteCount = 0;
    std::optional<QString> attentionReason;
    std::optional<QString> preparationEstimate; ///< free text, shown unchanged
    QList<RestoreRequestItem> items;

    bool operator==(const RestoreRequest &) const = default;
};

/// Whether `request` is ready and some of its RAW originals failed to transfer: they need
/// attention, and a retry transfers them again.
bool failsTransfers(const RestoreRequest &request);

} // namespace Pellwick
