#include "Gallery.h"

#include <PellwickApp/Views/ImportReview/ImportReviewHeader.h>
#include <PellwickApp/Views/ImportReview/ImportReviewStatusStrip.h>
#include <PellwickApp/Views/ImportReview/ImportReviewTable.h>
#include <PellwickApp/Views/ImportReviewPageFixture.h>
#include <PellwickApp/Views/NewImport/NewImportView.h>

#include <QMessageBox>
#include <QVBoxLayout>

#include <Support/ImportReviewSamples.h>

namespace Pellwick::Gallery {

using namespace Qt::StringLiterals;
using Test::SampleKind;

namespace {

TransferProgress copyProgress()
{
    TransferProgress progress;
    progress.id = QUuid::createUuid();
    progress.operationName = u"Add to Ingest Cache"_s;
    progress.phase = TransferProgressPhase::Copying;
    progress.currentFilename = u"IMG_0001.CR3"_s;
    progress.completedByteCount = 1610612736;
    progress.totalByteCount = 4294967296;
    progress.completedPackageCount = 3;
    progress.totalPackageCount = 40;
    return progress;
}

std::unique_ptr<QWidget>
header(const std::optional<ImportReview> &review, bool withProgress = false, int width = 720)
{
    auto widget = std::make_unique<ImportReviewHeader>();
    widget->setReview(review);
    if (withProgress)
        widget->setProgresses({copyProgress()});
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

/// The Import Review page of `sample`, `width` wide; `setUp` publishes its state. With
/// `showsPrompt` the picture is the "Create Ingest Cache?" box the page opened instead.
class ReviewPageSample final : public QWidget
{
public:
    ReviewPageSample(int width,
                     const std::function<void(Test::ImportReviewPageFixture &)> &setUp,
                     bool showsPrompt = false)
        : m_page(m_sample.view.release())
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        m_page->setParent(this);
        setUp(m_sample);
        QWidget *shown = m_page;
        if (showsPrompt) {
            shown = m_page->creationPrompt();
            shown->setParent(this, Qt::Widget);
            m_page->hide();
        }
        layout->addWidget(shown);
        if (showsPrompt)
            adjustSize();
        else if (width > 0)
            setFixedSize(width, 640);
    }

    // The page goes first: it holds the states of the sample.
    ~ReviewPageSample() override { delete m_page; }

private:
    Test::ImportReviewPageFixture m_sample;
    ImportReviewPanelView *m_page;
};

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

/// A card of seven RAW originals and one sidecar without its original: one alert strip.
ImportReview cardOfEight()
{
    QList<ImportReviewItem> items;
    for (int n = 1; n <= 7; ++n)
        items.append(Test::sampleItem(SampleKind::Supported,
                                      u"IMG_%1.CR3"_s.arg(n, 4, 10, QLatin1Char('0')),
                                      26214400,
                                      4096));
    items.insert(3, Test::sampleItem(SampleKind::UnpairedSidecar, u"IMG_0100.xmp"_s, 2048));
    return Test::sampleReview(items);
}

std::unique_ptr<QWidget>
reviewPage(int width, const std::function<void(Test::ImportReviewPageFixture &)> &setUp)
{
    return std::make_unique<ReviewPageSample>(width, setUp);
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
        {u"import-review.page.wide.no-review"_s, [] { return reviewPage(1100, [](auto &) {}); }},
        {u"import-review.page.compact.no-review"_s, [] { return reviewPage(900, [](auto &) {}); }},
        {u"import-review.page.wide.review"_s,
         [] { return reviewPage(1100, [](auto &page) { page.setReview(threeKinds()); }); }},
        {u"import-review.page.compact.review"_s,
         [] { return reviewPage(900, [](auto &page) { page.setReview(threeKinds()); }); }},
        {u"import-review.page.importing-with-rows"_s,
         [] {
             return reviewPage(1100, [](auto &page) {
                 page.setReview(threeKinds());
                 page.importState.setIsImporting(true);
                 page.shellState.setTransferProgresses({copyProgress()});
             });
         }},
        {u"import-review.page.importing-without-rows"_s,
         [] {
             return reviewPage(1100, [](auto &page) {
                 page.setReview(threeKinds());
                 page.importState.setIsImporting(true);
             });
         }},
        {u"import-review.page.recovering"_s,
         [] {
             return reviewPage(900, [](auto &page) {
                 page.importState.setIsRecoveringInterruptedImports(true);
                 page.importState.setImportRecoveryMessage(u"Resuming 2 interrupted imports."_s);
                 page.importState.setImportSuccessMessage(u"Added 3 files to Ingest Cache"_s);
             });
         }},
        {u"import-review.page.migration"_s,
         [] {
             return reviewPage(1100, [](auto &page) {
                 page.setReview(threeKinds());
                 page.cacheState.setIsMigratingIngestCache(true);
                 page.cacheState.setIngestCacheMigrationMessage(
                     u"Moving Ingest Cache to /mnt/photos/Ingest Cache"_s);
             });
         }},
        {u"import-review.page.folded-footer"_s,
         [] { return reviewPage(560, [](auto &page) { page.setReview(threeKinds()); }); }},
        {u"import-review.page.create-ingest-cache"_s,
         [] {
             return std::make_unique<ReviewPageSample>(
                 1100,
                 [](auto &page) {
                     page.importState.setInitialIngestCacheCreation(
                         InitialIngestCacheCreation{u"/home/ada/Pictures/Ingest Cache"_s});
                 },
                 true);
         }},
        {u"window.import-review"_s,
         [] {
             return inDefaultWindow(
                 reviewPage(0, [](auto &page) { page.setReview(cardOfEight()); }),
                 ShellSection::ImportReview);
         }},
        {u"new-import.page"_s,
         [] {
             auto page = std::make_unique<NewImportView>(NewImportActions{});
             page->setFixedSize(900, 420);
             return page;
         }},
    };
}

} // namespace Pellwick::Gallery
