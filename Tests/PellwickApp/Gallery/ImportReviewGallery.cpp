#include "Gallery.h"

#include <PellwickApp/Views/ImportReview/ImportReviewHeader.h>
#include <PellwickApp/Views/ImportReview/ImportReviewStatusStrip.h>
#include <PellwickApp/Views/ImportReview/ImportReviewTable.h>

#include <Support/ImportReviewSamples.h>

namespace Pellwick::Gallery {

using namespace Qt::StringLiterals;
using Test::SampleKind;

namespace {

std::unique_ptr<QWidget>
header(const std::optional<ImportReview> &review, bool withProgress = false, int width = 720)
{
    auto widget = std::make_unique<ImportReviewHeader>();
    widget->setReview(review);
    if (withProgress) {
        TransferProgress progress;
        progress.id = QUuid::createUuid();
        progress.operationName = u"Add to Ingest Cache"_s;
        progress.phase = TransferProgressPhase::Copying;
        progress.currentFilename = u"IMG_0001.CR3"_s;
        progress.completedByteCount = 1610612736;
        progress.totalByteCount = 4294967296;
        progress.completedPackageCount = 3;
        progress.totalPackageCount = 40;
        widget->setProgresses({progress});
    }
    widget->setFixedSize(width, widget->sizeHint().height());
    return widget;
}

std::unique_ptr<QWidget> table(const std::optional<ImportReview> &review)
{
    auto widget = std::make_unique<ImportReviewTable>();
    widget->setReview(review);
    widget->setFixedSize(1100, 360);
    return widget;
}

std::unique_ptr<QWidget> strip(const ImportReviewStatusInputs &inputs)
{
    auto widget = std::make_unique<ImportReviewStatusStrip>();
    widget->setInputs(inputs);
    widget->setFixedWidth(420);
    widget->adjustSize();
    return widget;
}

ImportReview threeKinds()
{
    return Test::sampleReview(
        {Test::sampleItem(SampleKind::Supported, u"IMG_0001.CR3"_s, 26214400, 4096),
         Test::sampleItem(SampleKind::Supported, u"IMG_0002.CR3"_s, 25165824),
         Test::sampleItem(SampleKind::UnpairedSidecar, u"IMG_0003.xmp"_s, 2048),
         Test::sampleItem(SampleKind::Excluded, u"IMG_0004.JPG"_s, 4194304),
         Test::sampleItem(SampleKind::Supported,
                          u"2026-06-01_Wedding_Ceremony_Second_Shooter_Long_Name_IMG_0005.CR3"_s,
                          27262976,
                          4096,
                          u"/media/EOS_DIGITAL_SECOND_SHOOTER_CARD/DCIM/100CANON"_s,
                          u"EOS_DIGITAL_SECOND_SHOOTER_CARD"_s)});
}

} // namespace

QList<Entry> importReviewEntries()
{
    return {
        {u"import-review.header.no-review"_s, [] { return header(std::nullopt); }},
        {u"import-review.header.two-volumes"_s,
         [] {
             return header(Test::sampleReview({}, {u"EOS_DIGITAL"_s, u"Untitled"_s}));
         }},
        {u"import-review.header.progress"_s, [] { return header(threeKinds(), true); }},
        {u"import-review.header.folded"_s, [] { return header(threeKinds(), false, 260); }},
        {u"import-review.table.empty"_s, [] { return table(std::nullopt); }},
        {u"import-review.table.rows"_s, [] { return table(threeKinds()); }},
        {u"import-review.status-strip.idle"_s, [] { return strip({}); }},
        {u"import-review.status-strip.all-strips"_s,
         [] {
             return strip({.review = threeKinds(),
                           .isScanning = true,
                           .isRecovering = true,
                           .recoveryMessage = u"Resuming 2 interrupted imports."_s,
                           .importErrorMessage = u"Upload failed: the backend is unreachable."_s});
         }},
    };
}

} // namespace Pellwick::Gallery
