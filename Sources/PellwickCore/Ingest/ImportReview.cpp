#include "ImportReview.h"

namespace Pellwick {

ImportReviewItem::ImportReviewItem(QString itemVolumeName,
                                   QString itemURL,
                                   QString itemFilename,
                                   qint64 itemByteCount,
                                   ImportReviewItemStatus itemStatus,
                                   std::optional<ImportReviewSidecar> itemSidecar,
                                   std::optional<QString> itemSourceRelativePath)
    : id(itemURL)
    , volumeName(std::move(itemVolumeName))
    , url(std::move(itemURL))
    , filename(std::move(itemFilename))
    , byteCount(itemByteCount)
    , status(itemStatus)
    , sidecar(std::move(itemSidecar))
    , sourceRelativePath(std::move(itemSourceRelativePath))
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
