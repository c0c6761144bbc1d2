#include "../PageInspection.h"
#include "../SaveGrab.h"

#include <PellwickApp/Views/ImportReview/ImportReviewTable.h>
#include <PellwickApp/Views/ImportReview/ImportReviewTableModel.h>
#include <PellwickApp/Views/Kit/EmptyStateView.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>

#include <QAbstractItemModelTester>
#include <QListView>
#include <QSignalSpy>
#include <QTest>

#include <Support/ImportReviewSamples.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

using Model = ImportReviewTableModel;
using Tone = LibraryPresentationTone;

struct RowCase
{
    ImportReviewItem item{};
    QString folderName = u"100CANON"_s;
    QString folderPath = u"/media/CARD/DCIM/100CANON"_s;
    QString sidecar{};
    bool sidecarIsPrimary = false;
    QString bytes = u"Not counted"_s;
    QString badge{};
    Tone badgeTone = Tone::Secondary;
    QString detail{};
};

struct EmptyCase
{
    std::optional<ImportReview> review{};
    bool showsEmptyState = true;
};

} // namespace

class ImportReviewTableTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void rowTexts_data()
    {
        QTest::addColumn<RowCase>("row");
        const auto supported = SampleKind::Supported;
        QTest::newRow("supported with sidecar")
            << RowCase{.item = sampleItem(supported, u"A.CR3"_s, 1048576, 4096),
                       .sidecar = u"A.xmp"_s,
                       .sidecarIsPrimary = true,
                       .bytes = u"1 MB"_s,
                       .badge = u"Ready"_s,
                       .badgeTone = Tone::Positive,
                       .detail = u"Supported RAW Original"_s};
        QTest::newRow("supported without sidecar")
            << RowCase{.item = sampleItem(supported, u"A.CR3"_s, 1536),
                       .sidecar = u"No Sidecar"_s,
                       .bytes = u"1.5 KB"_s,
                       .badge = u"Ready"_s,
                       .badgeTone = Tone::Positive,
                       .detail = u"Supported RAW Original"_s};
        QTest::newRow("unpaired sidecar")
            << RowCase{.item = sampleItem(SampleKind::UnpairedSidecar, u"B.xmp"_s),
                       .sidecar = u"Unpaired Sidecar"_s,
                       .badge = u"Needs Attention"_s,
                       .badgeTone = Tone::Attention,
                       .detail = u"Unpaired Sidecar"_s};
        QTest::newRow("excluded") << RowCase{.item = sampleItem(SampleKind::Excluded, u"C.JPG"_s),
                                             .sidecar = u"Not used"_s,
                                             .badge = u"Excluded"_s,
                                             .detail = u"Excluded from Import"_s};
        QTest::newRow("at the root of a volume") << RowCase{
            .item = sampleItem(SampleKind::Excluded, u"C.JPG"_s, 1, -1, u"/media/CARD"_s),
            .folderName = u"CARD"_s,
            .folderPath = u"/media/CARD"_s,
            .sidecar = u"Not used"_s,
            .badge = u"Excluded"_s,
            .detail = u"Excluded from Import"_s};
    }

    void rowTexts()
    {
        QFETCH(RowCase, row);
        Model model;
        model.setReview(sampleReview({row.item}));
        const QModelIndex index = model.index(0);
        QCOMPARE(index.data(Qt::AccessibleTextRole).toString(), row.item.filename);
        QCOMPARE(index.data(Model::FolderNameRole).toString(), row.folderName);
        QCOMPARE(index.data(Model::FolderPathRole).toString(), row.folderPath);
        QCOMPARE(index.data(Model::SidecarTextRole).toString(), row.sidecar);
        QCOMPARE(index.data(Model::SidecarIsPrimaryRole).toBool(), row.sidecarIsPrimary);
        QCOMPARE(index.data(Model::BytesTextRole).toString(), row.bytes);
        QCOMPARE(index.data(Model::BadgeTextRole).toString(), row.badge);
        QCOMPARE(index.data(Model::BadgeToneRole).value<Tone>(), row.badgeTone);
        QCOMPARE(index.data(Model::DetailTextRole).toString(), row.detail);
    }

    void emptyState_data()
    {
        QTest::addColumn<EmptyCase>("row");
        QTest::newRow("no review") << EmptyCase{};
        QTest::newRow("no items") << EmptyCase{.review = sampleReview({})};
        QTest::newRow("only excluded files")
            << EmptyCase{.review = sampleReview({sampleItem(SampleKind::Excluded, u"A.JPG"_s)}),
                         .showsEmptyState = false};
    }

    void emptyState()
    {
        QFETCH(EmptyCase, row);
        ImportReviewTable table;
        table.setReview(row.review);
        table.resize(1000, 400);
        table.show();
        QCOMPARE(table.emptyState()->isVisible(), row.showsEmptyState);
        QCOMPARE(table.list()->isVisible(), !row.showsEmptyState);
    }

    void resetsOnlyWhenTheReviewChanges()
    {
        const ImportReview review = largeSampleReview(30);
        Model model;
        model.setReview(review);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.setReview(review);
        model.setReview(largeSampleReview(30));
        QCOMPARE(resets.size(), 0);
        model.setReview(largeSampleReview(31));
        QCOMPARE(resets.size(), 1);
    }

    void hostileNamesStayOnOneLineWithWholeTooltips()
    {
        const QString name
            = u"<b>x</b>&lt;"_s + QString(10000, u'x') + u"\u200F\u202E\n\r\t\u0007\uFFFD.CR3"_s;
        ImportReviewTable table;
        table.setReview(
            sampleReview({sampleItem(SampleKind::Supported, name, 1, 1, u"/media/CARD"_s, name)}));
        table.resize(1100, 300);
        table.show();
        QVERIFY(!table.grab().isNull());
        const QRect row = table.list()->visualRect(table.model()->index(0));
        QCOMPARE(row.height(), ImportReviewTable::rowHeight + 1);
        // The filename line sits in the flexible column, the volume in the last one.
        // Whole, and as typed: markup in a name is shown, not applied.
        const QString start = name.left(name.indexOf(u'\u200F'));
        for (const QPoint at : {QPoint(row.left() + 200, row.top() + 22),
                                QPoint(row.right() - 60, row.center().y())}) {
            const QString shown = shownToolTip(table.toolTipAt(at));
            QVERIFY(shown.startsWith(start) && shown.endsWith(u".CR3"_s));
        }
        saveGrab(table, u"import-review-table.hostile-names"_s);
    }

    void modelPassesTheTesterThroughResets()
    {
        Model model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        const ImportReview large = largeSampleReview(100000);
        model.setReview(large);
        QCOMPARE(model.rowOf(large.items.last().id), 99999);
        model.setReview(std::nullopt);
        model.setReview(sampleReview({}));
        model.setReview(large);
        QCOMPARE(model.rowCount(), 100000);
    }
};

QTEST_MAIN(ImportReviewTableTests)
#include "ImportReviewTableTests.moc"
