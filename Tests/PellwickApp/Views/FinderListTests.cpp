#include "FinderTreeSamples.h"
#include "SaveGrab.h"

#include <PellwickApp/Shell/ManualTimers.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Views/Kit/EmptyStateView.h>
#include <PellwickApp/Views/Library/LocalLibraryFinderList.h>
#include <PellwickApp/Views/Library/LocalLibraryFinderModel.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include <Support/RecordingOperations.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

using Status = LibraryItemImportStatus;

namespace {

struct Fixture
{
    explicit Fixture(std::optional<QList<LocalLibraryTreeNode>> tree = finderSampleTree())
    {
        operations.tree = std::move(tree);
        operations.state = &state;
        list = std::make_unique<LocalLibraryFinderList>(state, operations, timers.factory());
        tester = std::make_unique<QAbstractItemModelTester>(
            list->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        list->resize(900, 400);
        list->show();
    }

    QModelIndex row(const QString &id) const { return list->model()->indexOf(id); }

    /// A new tree arrives, as the view model announces one.
    void deliver(QList<LocalLibraryTreeNode> tree)
    {
        operations.tree = std::move(tree);
        Q_EMIT state.localLibraryTreeChanged();
    }

    LibraryState state;
    RecordingLibraryOperations operations;
    ManualTimers timers;
    std::unique_ptr<LocalLibraryFinderList> list;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

struct TextCase
{
    QString node = {};
    QString name = {};
    QString date = {};
    QStringList status = {};
    QString statusID = {};
    QString identifier = {};
    QString spoken = {}; ///< the accessible text
    int height = 38;
};

/// The sample tree with item 7 added to folder "a".
QList<LocalLibraryTreeNode> treeWithSeventhItem()
{
    QList<LocalLibraryTreeNode> tree = finderSampleTree();
    tree[0].children->append(finderContent(7, {finderItem(7)}));
    tree[0].eligibleDescendantActionItemIDs->append(finderItem(7).id);
    return tree;
}

/// \a tree without the row "content:<n>" and without item \a n among the folders' items.
QList<LocalLibraryTreeNode> withoutItem(QList<LocalLibraryTreeNode> tree, int n)
{
    tree.removeIf(
        [&](const LocalLibraryTreeNode &node) { return node.id == u"content:%1"_s.arg(n); });
    for (LocalLibraryTreeNode &node : tree) {
        if (node.children)
            node.children = withoutItem(*node.children, n);
        if (node.eligibleDescendantActionItemIDs)
            node.eligibleDescendantActionItemIDs->removeAll(finderItem(n).id);
    }
    return tree;
}

struct SelectionCase
{
    QString select;
    QString alsoSelect = {};
    bool hidden = false;           ///< the list is hidden meanwhile, then shown again
    bool clearedElsewhere = false; ///< the item selection is emptied meanwhile
    bool seventhItem = false;      ///< meanwhile a tree arrives with item 7 in folder "a"
    /// Meanwhile the records of "content:<gone>" are gone: the item selection loses that item
    /// elsewhere, then a tree without the row arrives (before item 7's tree, which lacks it too).
    int gone = 0;
    QStringList nodes = {};
    QList<int> items = {};
};

/// Top-level folders 0 to 99, each with one item, then the sample tree.
QList<LocalLibraryTreeNode> tallTree()
{
    QList<LocalLibraryTreeNode> tree;
    for (int n = 0; n < 100; ++n) {
        LocalLibraryTreeNode folder;
        folder.id = u"folder:%1"_s.arg(n);
        folder.isDirectory = true;
        folder.children = QList{finderContent(100 + n, {finderItem(100 + n)})};
        tree.append(folder);
    }
    return tree + finderSampleTree();
}

} // namespace

Q_DECLARE_METATYPE(TextCase)
Q_DECLARE_METATYPE(SelectionCase)

class FinderListTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void emptyStateAndHeaderTexts_data()
    {
        QTest::addColumn<bool>("hasRecords");
        QTest::addColumn<QString>("description");
        QTest::newRow("records hidden") << true
                                        << u"Search or filters may be hiding Library items. Clear "
                                           "filename search or adjust filters."_s;
        QTest::newRow("no records")
            << false << u"Import RAW Originals to create Local Library Cache records."_s;
    }

    void emptyStateAndHeaderTexts()
    {
        QFETCH(bool, hasRecords);
        QFETCH(QString, description);
        Fixture f(QList<LocalLibraryTreeNode>{});
        QSignalSpy appeared(f.list.get(), &LocalLibraryFinderList::usableStateAppeared);
        f.state.setHasLocalLibraryRecords(hasRecords);
        QCOMPARE(f.list->currentPage(), f.list->emptyState());
        QStringList texts;
        for (const QLabel *label : f.list->findChildren<QLabel *>())
            texts.append(label->text());
        for (const QString &text : {u"Name"_s,
                                    u"Capture Date"_s,
                                    u"Import Status"_s,
                                    u"No Library items match filters"_s,
                                    description})
            QVERIFY2(texts.contains(text), qPrintable(text));
        f.deliver(finderSampleTree());
        QCOMPARE(f.list->currentPage(), f.list->outline());
        QCOMPARE(f.list->outline()->objectName(), u"local-library-cache.usable-content"_s);
        // The hidden header of the one column is read as the titles shown above it.
        QAccessibleInterface *outline = QAccessible::queryAccessibleInterface(f.list->outline());
        QCOMPARE(outline->child(0)->text(QAccessible::Name),
                 u"Name, Capture Date, Import Status"_s);
        QCOMPARE(appeared.count(), 1); // the contents; the empty state appeared before the spy
        // The status column holds every status title whole, with its symbol, in the rows' font.
        const auto headers = f.list->findChildren<QLabel *>();
        const auto statusHeader = std::find_if(headers.cbegin(), headers.cend(), [](auto *label) {
            return label->text() == u"Import Status"_s;
        });
        QVERIFY(statusHeader != headers.cend());
        const QFontMetrics rows(f.list->outline()->font());
        for (const Status status : allLibraryItemImportStatuses()) {
            const QString title = LibraryPresentation::importStatusTitle(status);
            QVERIFY2((*statusHeader)->width() >= 16 + 4 + rows.horizontalAdvance(title),
                     qPrintable(title));
        }
        saveGrab(*f.list, u"finder-list"_s);
    }

    void rowTexts_data()
    {
        QTest::addColumn<TextCase>("c");
        QTest::newRow("folder") << TextCase{.node = u"folder:a"_s,
                                            .name = u"a"_s,
                                            .identifier = u"local-library-cache.entry.folder:a"_s,
                                            .spoken = u"a"_s,
                                            .height = 26};
        QTest::newRow("file without item")
            << TextCase{.node = u"file:a/notes.txt"_s,
                        .name = u"notes.txt"_s,
                        .status = {u"Not importable"_s},
                        .identifier = u"local-library-cache.entry.file:a/notes.txt"_s,
                        .spoken = u"notes.txt, Not importable"_s,
                        .height = 26};
        QTest::newRow("paging node")
            << TextCase{.node = u"show-more-folders:folder:a"_s,
                        .name = u"Show 25 more folders"_s,
                        .status = {u"Not importable"_s},
                        .identifier = u"local-library-cache.entry.show-more-folders:folder:a"_s,
                        .spoken = u"Show 25 more folders"_s,
                        .height = 26};
        QTest::newRow("item with unknown capture time")
            << TextCase{.node = u"content:1"_s,
                        .name = u"IMG_0001.CR3"_s,
                        .date = u"Unknown"_s,
                        .status = {u"Local Cache — Ready to Import"_s},
                        .statusID = u"local-library-cache.import-status.IMG_0001.CR3"_s,
                        .identifier = u"local-library-cache.item.IMG_0001.CR3"_s,
                        .spoken = u"IMG_0001.CR3, Unknown, Local Cache — Ready to Import"_s};
        QTest::newRow("uploading item")
            << TextCase{.node = u"content:3"_s,
                        .name = u"IMG_0003.CR3"_s,
                        .date = u"Unknown"_s,
                        .status = {u"Local Cache — Uploading"_s},
                        .statusID = u"local-library-cache.import-status.IMG_0003.CR3"_s,
                        .identifier = u"local-library-cache.item.IMG_0003.CR3"_s,
                        .spoken = u"IMG_0003.CR3, Unknown, Local Cache — Uploading"_s};
        QTest::newRow("two statuses stacked") << TextCase{
            .node = u"content:4"_s,
            .name = u"IMG_0004.CR3"_s,
            .date = u"Unknown"_s,
            .status = {u"Local Cache — Ready to Import"_s, u"Online Archive — Verified"_s},
            .identifier = u"local-library-cache.item.IMG_0004.CR3"_s,
            .spoken = u"IMG_0004.CR3, Unknown, Local Cache — Ready to Import, Online Archive — "
                      u"Verified"_s};
        const QString date = LocalLibraryFinderModel::captureDateText(
            finderSampleTree().constFirst().children->at(1).representedItems.at(0));
        QTest::newRow("item with a capture date") << TextCase{
            .node = u"content:2"_s,
            .name = u"IMG_0002.CR3"_s,
            .date = date,
            .status = {u"Local Cache — Ready to Import"_s},
            .statusID = u"local-library-cache.import-status.IMG_0002.CR3"_s,
            .identifier = u"local-library-cache.item.IMG_0002.CR3"_s,
            .spoken = u"IMG_0002.CR3, "_s + date + u", Local Cache — Ready to Import"_s};
    }

    void rowTexts()
    {
        QFETCH(TextCase, c);
        Fixture f;
        const QModelIndex row = f.row(c.node);
        QCOMPARE(row.data().toString(), c.name);
        QCOMPARE(row.data(LocalLibraryFinderModel::CaptureDateRole).toString(), c.date);
        QCOMPARE(row.data(LocalLibraryFinderModel::ImportStatusTextsRole).toStringList(), c.status);
        QCOMPARE(row.data(LocalLibraryFinderModel::ImportStatusIdentifierRole).toString(),
                 c.statusID);
        QCOMPARE(row.data(LocalLibraryFinderModel::IdentifierRole).toString(), c.identifier);
        QCOMPARE(row.data(Qt::AccessibleTextRole).toString(), c.spoken);
        QCOMPARE(f.list->outline()->itemDelegate()->sizeHint({}, row).height(), c.height);
    }

    void flatRowsToggleOrInspect_data()
    {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QList<std::optional<int>>>("inspected");
        QTest::newRow("non-actionable row inspects, stays unselected")
            << QStringList{u"content:3"_s} << QStringList() << QList<std::optional<int>>{3};
        QTest::newRow("selectable row selects and inspects")
            << QStringList{u"content:1"_s} << QStringList{u"content:1"_s}
            << QList<std::optional<int>>{1};
        QTest::newRow("second click deselects and clears the inspector")
            << QStringList{u"content:1"_s, u"content:1"_s} << QStringList()
            << QList<std::optional<int>>{1, std::nullopt};
        QTest::newRow("deselecting the inspected row inspects the one left")
            << QStringList{u"content:4"_s, u"content:1"_s, u"content:1"_s}
            << QStringList{u"content:4"_s} << QList<std::optional<int>>{4, 1, 4};
    }

    void flatRowsToggleOrInspect()
    {
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, selected);
        QFETCH(QList<std::optional<int>>, inspected);
        Fixture f(finderFlatTree());
        QCOMPARE(f.list->currentPage(), f.list->flatList());
        QListView *flat = f.list->flatList();
        for (const QString &node : std::as_const(clicks))
            QTest::mouseClick(
                flat->viewport(), Qt::LeftButton, {}, flat->visualRect(f.row(node)).center());
        QCOMPARE(f.list->selectedNodeIDs(), QSet<QString>(selected.cbegin(), selected.cend()));
        QCOMPARE(f.state.selectedLibraryItemIDs().isEmpty(), selected.isEmpty());
        QCOMPARE(f.operations.inspected.size(), inspected.size());
        for (int i = 0; i < inspected.size(); ++i)
            QCOMPARE(f.operations.inspected[i] ? std::optional(f.operations.inspected[i]->id)
                                               : std::nullopt,
                     inspected[i] ? std::optional(finderItem(*inspected[i]).id) : std::nullopt);
    }

    void folderFirstAmongAddedNodesLeavesTheInspector()
    {
        Fixture f;
        f.list->outline()->expandAll();
        QItemSelection both(f.row(u"folder:a"_s), f.row(u"folder:a"_s));
        both.select(f.row(u"content:2"_s), f.row(u"content:2"_s));
        f.list->outline()->selectionModel()->select(both, QItemSelectionModel::Select);
        QCOMPARE(f.state.selectedLibraryItemIDs(), (QSet{finderItem(1).id, finderItem(2).id}));
        QVERIFY(f.operations.inspected.isEmpty());
    }

    void selectionIsPrunedOnlyWhenTheNewTreeArrives()
    {
        Fixture f;
        f.list->outline()->selectionModel()->select(f.row(u"content:3"_s),
                                                    QItemSelectionModel::Select);
        QCOMPARE(f.list->selectedNodeIDs(), QSet{u"content:3"_s});
        QList<LocalLibraryTreeNode> without = finderSampleTree();
        without.removeAt(1);
        f.state.setLocalLibraryItemsRevision(1); // the tree for it is still being built
        QCOMPARE(f.list->selectedNodeIDs(), QSet{u"content:3"_s});
        f.deliver(without);
        QVERIFY(f.list->selectedNodeIDs().isEmpty());
        QVERIFY(f.list->outline()->selectionModel()->selectedIndexes().isEmpty());
        QVERIFY(!f.operations.inspected.constLast());
    }

    void selectionFollowsNewTreesAndShowings_data()
    {
        QTest::addColumn<SelectionCase>("c");
        QTest::newRow("a selected folder holds the items added to it")
            << SelectionCase{.select = u"folder:a"_s,
                             .seventhItem = true,
                             .nodes = {u"folder:a"_s},
                             .items = {1, 2, 7}};
        QTest::newRow("shown again after the selection was cleared elsewhere")
            << SelectionCase{.select = u"content:2"_s, .hidden = true, .clearedElsewhere = true};
        QTest::newRow("a new tree does not bring back a selection cleared elsewhere")
            << SelectionCase{
                   .select = u"folder:a"_s, .clearedElsewhere = true, .seventhItem = true};
        QTest::newRow("a selected folder stays one when a selected row's record is gone")
            << SelectionCase{.select = u"folder:a"_s,
                             .alsoSelect = u"content:4"_s,
                             .gone = 4,
                             .nodes = {u"folder:a"_s},
                             .items = {1, 2}};
        QTest::newRow("a selected folder narrowed elsewhere still takes its new items")
            << SelectionCase{.select = u"folder:a"_s,
                             .seventhItem = true,
                             .gone = 2,
                             .nodes = {u"folder:a"_s},
                             .items = {1, 7}};
        QTest::newRow("shown again, a selected folder stays one") << SelectionCase{
            .select = u"folder:a"_s, .hidden = true, .nodes = {u"folder:a"_s}, .items = {1, 2}};
    }

    void selectionFollowsNewTreesAndShowings()
    {
        QFETCH(SelectionCase, c);
        Fixture f;
        f.list->outline()->expandAll();
        f.list->outline()->selectionModel()->select(f.row(c.select), QItemSelectionModel::Select);
        if (!c.alsoSelect.isEmpty())
            f.list->outline()->selectionModel()->select(f.row(c.alsoSelect),
                                                        QItemSelectionModel::Select);
        if (c.hidden)
            f.list->hide();
        if (c.clearedElsewhere)
            f.state.setSelectedLibraryItemIDs({});
        if (c.gone) {
            QSet<QUuid> kept = f.state.selectedLibraryItemIDs();
            kept.remove(finderItem(c.gone).id);
            f.state.setSelectedLibraryItemIDs(kept);
            f.deliver(withoutItem(finderSampleTree(), c.gone));
        }
        if (c.seventhItem)
            f.deliver(withoutItem(treeWithSeventhItem(), c.gone));
        if (c.hidden)
            f.list->show();
        QCOMPARE(f.list->selectedNodeIDs(), QSet<QString>(c.nodes.cbegin(), c.nodes.cend()));
        QCOMPARE(f.list->outline()->selectionModel()->selectedRows().size(), c.nodes.size());
        QSet<QUuid> items;
        for (int n : std::as_const(c.items))
            items.insert(finderItem(n).id);
        QCOMPARE(f.state.selectedLibraryItemIDs(), items);
    }

    void previewsWaitOneSecond_data()
    {
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("url");
        QTest::newRow("before 1 s") << 999 << u"content:3"_s << QString();
        QTest::newRow("after 1 s")
            << 1000 << u"content:3"_s << u"/library/previews/IMG_0003.CR3.jpg"_s;
        QTest::newRow("failed preview") << 1000 << u"content:1"_s << QString();
    }

    void previewsWaitOneSecond()
    {
        QFETCH(int, elapsedMs);
        QFETCH(QString, node);
        QFETCH(QString, url);
        Fixture f;
        f.timers.advance(std::chrono::milliseconds(elapsedMs));
        QCOMPARE(f.row(node).data(LocalLibraryFinderModel::PreviewURLRole).toString(), url);
    }

    void showMoreSetsTwentyFiveMoreThanThePageShows()
    {
        Fixture f;
        f.list->showMoreFolders(*f.list->model()->node(f.row(u"show-more-folders:folder:a"_s)));
        f.list->showMoreFolders(*f.list->model()->node(f.row(u"show-more-folders:folder:a"_s)));
        QCOMPARE(f.operations.treeRequests.constLast(),
                 (QHash<QString, qint64>{{u"folder:a"_s, 50}}));
    }

    // A new tree used to reset the outline: every folder collapsed and the view jumped to the top.
    void newTreesKeepFoldersExpandedAndRowsInView()
    {
        Fixture f(tallTree());
        QTreeView *outline = f.list->outline();
        outline->expand(f.row(u"folder:a"_s));
        outline->scrollTo(f.row(u"folder:50"_s), QAbstractItemView::PositionAtTop);
        for (int n = 0; n < 10; ++n) {
            f.deliver(tallTree());
            QVERIFY(outline->isExpanded(f.row(u"folder:a"_s)));
            QCOMPARE(outline->indexAt({1, 1}).data(LocalLibraryFinderModel::NodeIDRole).toString(),
                     u"folder:50"_s);
        }
    }

    void scrollingAsksNothingOfTheViewModel()
    {
        Fixture f(tallTree());
        f.timers.advance(LocalLibraryFinderList::previewDelay);
        QTreeView *outline = f.list->outline();
        outline->expandAll();
        const QStringList before = f.operations.calls;
        QScrollBar *bar = outline->verticalScrollBar();
        while (bar->value() < bar->maximum()) {
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
            outline->viewport()->grab();
        }
        QCOMPARE(f.operations.calls, before);
    }
};

QTEST_MAIN(FinderListTests)
#include "FinderListTests.moc"
