#include "FinderTreeSamples.h"

#include <PellwickApp/Views/Library/LocalLibraryFinderList.h>
#include <PellwickApp/Views/Library/LocalLibraryFinderModel.h>

#include <QTest>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

enum class Translation {
    NodeIDs,
    SelectedItemIDs,
    RetainedNodeIDs,
    InspectedItem
};

struct Case
{
    Translation translation = Translation::NodeIDs;
    QList<int> items = {};  ///< item numbers given to nodeIDs
    QStringList nodes = {}; ///< node ids given to the other three
    bool emptyTree = false;
    QStringList expectedNodes = {};
    QList<int> expectedItems = {};
    std::optional<int> inspected = {};
};

QSet<QUuid> itemIDs(const QList<int> &numbers)
{
    QSet<QUuid> ids;
    for (int n : numbers)
        ids.insert(finderItem(n).id);
    return ids;
}

} // namespace

Q_DECLARE_METATYPE(Case)

class FinderSelectionTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void translationsWalkTheTreeInPreOrder_data()
    {
        QTest::addColumn<Case>("c");
        using T = Translation;
        QTest::newRow("item -> every node representing it")
            << Case{.items = {5, 3}, .expectedNodes = {u"content:1"_s, u"content:3"_s}};
        QTest::newRow("unknown item") << Case{.items = {9}};
        QTest::newRow("no items") << Case{};
        QTest::newRow("empty tree") << Case{.items = {1}, .emptyTree = true};
        QTest::newRow("folder -> its action items")
            << Case{.translation = T::SelectedItemIDs,
                    .nodes = {u"folder:a"_s, u"content:2"_s},
                    .expectedItems = {1, 2}};
        QTest::newRow("paging, non-actionable and unknown nodes give nothing")
            << Case{.translation = T::SelectedItemIDs,
                    .nodes = {u"show-more-folders:folder:a"_s, u"content:3"_s, u"gone"_s}};
        QTest::newRow("group -> its actionable members") << Case{
            .translation = T::SelectedItemIDs, .nodes = {u"content:4"_s}, .expectedItems = {4}};
        QTest::newRow("retained drops unknown ids")
            << Case{.translation = T::RetainedNodeIDs,
                    .nodes = {u"content:2"_s, u"gone"_s, u"file:a/notes.txt"_s},
                    .expectedNodes = {u"content:2"_s, u"file:a/notes.txt"_s}};
        QTest::newRow("retained in an empty tree") << Case{
            .translation = T::RetainedNodeIDs, .nodes = {u"content:2"_s}, .emptyTree = true};
        QTest::newRow("inspected: first in pre-order")
            << Case{.translation = T::InspectedItem,
                    .nodes = {u"content:4"_s, u"content:2"_s},
                    .inspected = 2};
        QTest::newRow("inspected: a folder first gives none")
            << Case{.translation = T::InspectedItem, .nodes = {u"content:3"_s, u"folder:a"_s}};
        QTest::newRow("inspected: unknown ids")
            << Case{.translation = T::InspectedItem, .nodes = {u"gone"_s}};
        QTest::newRow("inspected: empty set") << Case{.translation = T::InspectedItem};
    }

    void translationsWalkTheTreeInPreOrder()
    {
        QFETCH(Case, c);
        const LocalLibraryTreeIndex tree(c.emptyTree ? QList<LocalLibraryTreeNode>()
                                                     : finderSampleTree());
        const QSet<QString> nodes(c.nodes.cbegin(), c.nodes.cend());
        const QSet<QString> expectedNodes(c.expectedNodes.cbegin(), c.expectedNodes.cend());
        switch (c.translation) {
        case Translation::NodeIDs:
            QCOMPARE(LocalLibraryFinderList::nodeIDs(itemIDs(c.items), tree), expectedNodes);
            break;
        case Translation::SelectedItemIDs:
            QCOMPARE(LocalLibraryFinderList::selectedItemIDs(nodes, tree),
                     itemIDs(c.expectedItems));
            break;
        case Translation::RetainedNodeIDs:
            QCOMPARE(LocalLibraryFinderList::retainedNodeIDs(nodes, tree), expectedNodes);
            break;
        case Translation::InspectedItem: {
            const std::optional<LocalLibraryItem> item
                = LocalLibraryFinderList::inspectedItem(nodes, tree);
            QCOMPARE(item.has_value(), c.inspected.has_value());
            if (c.inspected)
                QCOMPARE(item->id, finderItem(*c.inspected).id);
            break;
        }
        }
    }
};

QTEST_GUILESS_MAIN(FinderSelectionTests)
#include "FinderSelectionTests.moc"
