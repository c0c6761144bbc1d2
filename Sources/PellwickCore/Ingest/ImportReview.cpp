#include "ImportReview.h"

namespace Pellwick {

ImportReviewItem::ImportReviewItem(QString volumeName,
                                   QString url,
                                   QString filename,
                                   qint64 byteCount,
                                   ImportReviewItemStatus status,
                                   std::optional<ImportReviewSidecar> sidecar,
                                   std::optional<QString> sourceRelativePath)
    : id(url)
    , volumeName(std::move(volumeName))
    , url(std::move(url))
    , filename(std::move(filename))
    , byteCount(byteCount)
    , status(status)
    , sidecar(std::move(sidecar))
    , sourceRelativePath(std::move(sourceRelativePath))
{}

qint64 ImportReviewItem::supportedByteCount() const
{
    if (!status.isSupported())
        return 0;
    return byteCount + (sidecar ? sidecar->byteCount : 0);
}

qsizetype ImportReview::candidateCount() const
{
    return std::count_if(items.cbegin(), items.cend(), [](const ImportReviewItem &item) {
        return item.status.isSupported();
    });
}

qint64 ImportReview::totalSupportedBytes() const
{
    qint64 total = 0;
    for (const ImportReviewItem &item : items)
        total += item.supportedByteCount();
    return total;
}

void ImportReviewState::replaceReview(ImportReview newReview)
{
    review = std::move(newReview);
    isConfirmed = false;
}

void ImportReviewState::clearReview()
{
    review.reset();
    isConfirmed = false;
}

void ImportReviewState::confirmReview()
{
    if (review)
        isConfirmed = true;
}

} // namespace Pellwick
