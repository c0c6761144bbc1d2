#include <PellwickApp/Views/Kit/EmptyStateView.h>
#include <PellwickApp/Views/Restore/RestoreSelectedItemsModel.h>
#include <PellwickApp/Views/Restore/RestoreSelectedItemsPanel.h>

#include <QAbstractItemModelTester>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <Support/LibraryFixtures.h>
#include <Support/RestoreFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

using Status = RestoreRequestStatus;

namespace {

LocalLibraryItem item(int n, std::optional<qint64> backendID)
{
    LocalLibraryItem item = minimalLibraryItem(n);
    item.canonicalFilename = u"2026-05-01_%1.CR3"_s.arg(n);
    item.backendLibraryItemID = backendID;
    return item;
}

RestoreRequestItem
entry(qint64 id, Status status = Status::Ready, std::optional<QString> reason = {})
{
    return restoreEntry(id, status, std::move(reason));
}

RestoreRequest request(QList<RestoreRequestItem> entries)
{
    return restoreRequest(Status::Ready, std::move(entries));
}

struct Case
{
    std::optional<qint64> backendID = 7;
    QList<RestoreRequestItem> entries = {};
    QString name = u"IMG_0001.CR3, 2026-05-01_1.CR3"_s;
    QVariant attentionLine = {};
};

} // namespace

Q_DECLARE_METATYPE(Case)

class RestoreSelectedItemsPanelTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void rowNamesAndAttentionLines_data()
    {
        QTest::addColumn<Case>("c");
        QTest::newRow("no request entry") << Case{};
        QTest::newRow("no backend id never matches") << Case{
            .backendID = std::nullopt, .entries = {entry(7, Status::NeedsAttention, u"lost"_s)}};
        QTest::newRow("the first of two entries")
            << Case{.entries = {entry(7, Status::NeedsAttention, u"first"_s),
                                entry(7, Status::NeedsAttention, u"second"_s)},
                    .name = u"IMG_0001.CR3, 2026-05-01_1.CR3, first"_s,
                    .attentionLine = u"first"_s};
        QTest::newRow("needs attention without a reason")
            << Case{.entries = {entry(7, Status::NeedsAttention)},
                    .attentionLine = u"Restore needs attention"_s};
        QTest::newRow("a ready entry's reason ends the name only")
            << Case{.entries = {entry(7, Status::Ready, u"<img src=x>"_s)},
                    .name = u"IMG_0001.CR3, 2026-05-01_1.CR3, <img src=x>"_s};
    }

    void rowNamesAndAttentionLines()
    {
        QFETCH(Case, c);
        RestoreSelectedItemsPanel panel;
        QAbstractItemModelTester tester(panel.model());
        panel.setItems({item(1, c.backendID)}, request(c.entries));
        const QModelIndex row = panel.model()->index(0, 0);
        QCOMPARE(row.data(Qt::AccessibleTextRole).toString(), c.name);
        QCOMPARE(row.data(RestoreSelectedItemsModel::AttentionLineRole), c.attentionLine);
    }

    void entryMapIsBuiltOncePerRequest()
    {
        RestoreSelectedItemsPanel panel;
        RestoreSelectedItemsModel &model = *panel.model();
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        const QList<LocalLibraryItem> items{item(1, 7), item(2, 8)};
        const RestoreRequest first = request({entry(8)});
        panel.setItems(items, first);
        panel.setItems(items, first);
        QCOMPARE(resets.size(), 1);
        panel.setItems(items.mid(1), first);
        QCOMPARE(resets.size(), 2);
        QCOMPARE(model.entryMapBuildCount(), 1);
        panel.setItems(items.mid(1), request({entry(9)}));
        QCOMPARE(model.entryMapBuildCount(), 2);
        QCOMPARE(model.entry(0), std::nullopt);
    }

    void emptyStateChoosesOriginals()
    {
        RestoreSelectedItemsPanel panel;
        panel.setItems({}, request({}));
        QCOMPARE(panel.title(), u"Restore Request RAW Originals"_s);
        panel.setItems({}, std::nullopt);
        panel.show();
        QCOMPARE(panel.title(), u"Selected RAW Originals"_s);
        QVERIFY(panel.emptyState()->isVisible() && !panel.list()->isVisible());
        QVERIFY(panel.emptyState()->height() >= 220);
        QSignalSpy chosen(&panel, &RestoreSelectedItemsPanel::showLocalLibraryCacheRequested);
        QTest::mouseClick(panel.chooseButton(), Qt::LeftButton);
        QCOMPARE(chosen.size(), 1);
    }
};

QTEST_MAIN(RestoreSelectedItemsPanelTests)
#include "RestoreSelectedItemsPanelTests.moc"
