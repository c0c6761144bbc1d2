#include "ShellViewModelFixture.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>

#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <limits>

#include <Support/LibraryFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

using Status = LibraryItemImportStatus;
using Indices = QList<int>;
using Names = QList<std::optional<QString>>;

namespace {

const QString cacheRoot = u"/cache"_s;

struct Record
{
    Status status = Status::LocalCacheReady;
    std::optional<qint64> backendID;
    std::optional<qint64> bytes;
    std::optional<QString> cachedOriginal;
};

LocalLibraryItem item(int n, const Record &record)
{
    LocalLibraryItem item = minimalLibraryItem(n);
    item.importStatus = record.status;
    item.backendLibraryItemID = record.backendID;
    item.archiveByteCount = record.bytes;
    item.ingestCacheOriginalURL = record.cachedOriginal;
    return item;
}

/// The stored library of the selection tests, in stored order.
const QList<Record> &selectionLibrary()
{
    static const QList<Record> records{
        {Status::LocalCacheReady, {}, {}, u"/cache/a/0.CR3"_s},   // 0
        {Status::Uploading, {}, {}, u"/cache/a/1.CR3"_s},         // 1
        {Status::VerifiedBackup, 12, 100, {}},                    // 2
        {Status::VerifiedBackup, {}, 300, {}},                    // 3: no backend id
        {Status::NeedsAttention, {}, {}, u"/cache/b/4.CR3"_s},    // 4
        {Status::NeedsAttention, {}, {}, {}},                     // 5: not cached
        {Status::CleanupPending, 16, 500, u"/cache/b/6.CR3"_s},   // 6
        {Status::VerifiedBackup, 17, {}, {}},                     // 7: size unknown
        {Status::LocalCacheReady, {}, {}, u"/elsewhere/8.CR3"_s}, // 8: outside the cache
    };
    return records;
}

QList<LocalLibraryItem> selectionLibraryItems()
{
    QList<LocalLibraryItem> items;
    for (int n = 0; n < selectionLibrary().size(); ++n)
        items.append(item(n, selectionLibrary()[n]));
    return items;
}

QList<QUuid> idsOf(const QList<LocalLibraryItem> &items)
{
    QList<QUuid> ids;
    for (const LocalLibraryItem &each : items)
        ids.append(each.id);
    return ids;
}

QList<QUuid> idsAt(const Indices &indices)
{
    QList<QUuid> ids;
    for (int n : indices)
        ids.append(minimalLibraryItem(n).id);
    return ids;
}

QSet<QUuid> idSet(const Indices &indices)
{
    const QList<QUuid> ids = idsAt(indices);
    return QSet<QUuid>(ids.cbegin(), ids.cend());
}

RestoreRequest requestFor(const QList<qint64> &backendIDs)
{
    RestoreRequest request;
    request.id = 7;
    for (qint64 id : backendIDs)
        request.items.append(RestoreRequestItem{id, u"F.CR3"_s, 1, {}, {}});
    return request;
}

} // namespace

class VisibleItemsAndSelectionsTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void refreshPublishesMatchesAndPrunesOnRequest_data();
    void refreshPublishesMatchesAndPrunesOnRequest();
    void unreadableLibraryShowsNothingAndEmptiesTheSelection();
    void revisionAdvancesByOnePerRefresh_data();
    void revisionAdvancesByOnePerRefresh();
    void selectionsKeepStoredOrderAndTheirConditions_data();
    void selectionsKeepStoredOrderAndTheirConditions();
    void restoreSummaryAddsKnownSizes_data();
    void restoreSummaryAddsKnownSizes();
    void restoreWorkflowFollowsTheActiveRequest_data();
    void restoreWorkflowFollowsTheActiveRequest();
    void derivedSelectionsFollowEveryChange_data();
    void derivedSelectionsFollowEveryChange();
    void ingestSourcesAreDistinctInCodeUnitOrder_data();
    void ingestSourcesAreDistinctInCodeUnitOrder();
    void treeIsBuiltOncePerRevisionFlagAndCounts_data();
    void treeIsBuiltOncePerRevisionFlagAndCounts();
    void olderTreeBuildNeverReplacesANewerOne();
    void searchAfterARefreshTakesTheTreeBuiltAhead_data();
    void searchAfterARefreshTakesTheTreeBuiltAhead();
    void inspectorShowsOnlyAVisibleItem();

private:
    std::unique_ptr<LibraryShellViewModel> makeWith(const QList<LocalLibraryItem> &items);

    std::unique_ptr<ShellViewModelFixture> m_fixture;
};

void VisibleItemsAndSelectionsTests::init()
{
    m_fixture = std::make_unique<ShellViewModelFixture>();
    QVERIFY(m_fixture->dir.isValid());
    m_fixture->ingestCacheRoot = cacheRoot;
}

std::unique_ptr<LibraryShellViewModel>
VisibleItemsAndSelectionsTests::makeWith(const QList<LocalLibraryItem> &items)
{
    if (!m_fixture->library.writeItems(items))
        return nullptr;
    return m_fixture->make();
}

void VisibleItemsAndSelectionsTests::refreshPublishesMatchesAndPrunesOnRequest_data()
{
    QTest::addColumn<QString>("searchText");
    QTest::addColumn<bool>("removeOne");
    QTest::addColumn<bool>("pruning");
    QTest::addColumn<Indices>("selected");
    QTest::addColumn<Indices>("visible");
    // Records 0, 1 and 2 are stored; 0 and 2 are selected; record 2 may be removed.
    QTest::newRow("pruning drops a removed record")
        << QString() << true << true << Indices{0} << Indices{0, 1};
    QTest::newRow("without pruning a removed record stays selected")
        << QString() << true << false << Indices{0, 2} << Indices{0, 1};
    QTest::newRow("a record hidden by the search stays selected")
        << u"img_0001"_s << false << true << Indices{0, 2} << Indices{1};
    QTest::newRow("nothing changed")
        << QString() << false << true << Indices{0, 2} << Indices{0, 1, 2};
}

void VisibleItemsAndSelectionsTests::refreshPublishesMatchesAndPrunesOnRequest()
{
    QFETCH(QString, searchText);
    QFETCH(bool, removeOne);
    QFETCH(bool, pruning);
    QFETCH(Indices, selected);
    QFETCH(Indices, visible);
    const auto model = makeWith({item(0, {}), item(1, {}), item(2, {})});
    QVERIFY(model);
    model->libraryState().setSelectedLibraryItemIDs(idSet({0, 2}));
    model->libraryState().setLocalLibrarySearchText(searchText);
    if (removeOne)
        QVERIFY(m_fixture->library.removeItems({minimalLibraryItem(2).id}));
    QSignalSpy selection(&model->libraryState(), &LibraryState::selectedLibraryItemIDsChanged);

    model->libraryWorkflows().refreshVisibleLocalLibraryItems(pruning);

    QCOMPARE(model->libraryState().selectedLibraryItemIDs(), idSet(selected));
    // The selection is assigned whenever it is pruned, also when nothing leaves it.
    QCOMPARE(selection.count(), pruning ? 1 : 0);
    QCOMPARE(idsOf(model->libraryState().localLibraryItems()), idsAt(visible));
    QVERIFY(model->libraryState().hasLocalLibraryRecords());
}

void VisibleItemsAndSelectionsTests::unreadableLibraryShowsNothingAndEmptiesTheSelection()
{
    QDir().mkpath(m_fixture->libraryRoot());
    QFile damaged(m_fixture->libraryRoot() + u"/library-items.json"_s);
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write("{\"items\": [");
    damaged.close();
    const auto model = m_fixture->make();
    model->libraryState().setSelectedLibraryItemIDs(idSet({0}));

    model->libraryWorkflows().refreshVisibleLocalLibraryItems(true);

    QVERIFY(!model->libraryState().hasLocalLibraryRecords());
    QVERIFY(model->libraryState().localLibraryItems().isEmpty());
    QVERIFY(model->libraryState().selectedLibraryItemIDs().isEmpty());
    QCOMPARE(model->libraryState().localLibraryItemsRevision(), 2);
    model->libraryState().setSelectedLibraryItemIDs(idSet({0}));
    QVERIFY(model->restoreWorkflows().selectedRestoreItems().isEmpty());
    QVERIFY(model->libraryWorkflows().localLibraryIngestSources().isEmpty());
}

void VisibleItemsAndSelectionsTests::revisionAdvancesByOnePerRefresh_data()
{
    QTest::addColumn<qint64>("before");
    QTest::addColumn<qint64>("after");
    QTest::newRow("after launch") << qint64(1) << qint64(2);
    QTest::newRow("wraps at the maximum")
        << std::numeric_limits<qint64>::max() << std::numeric_limits<qint64>::min();
}

void VisibleItemsAndSelectionsTests::revisionAdvancesByOnePerRefresh()
{
    QFETCH(qint64, before);
    QFETCH(qint64, after);
    const auto model = makeWith({item(0, {})});
    QVERIFY(model);
    QCOMPARE(model->libraryState().localLibraryItemsRevision(), 1);
    model->libraryState().setLocalLibraryItemsRevision(before);
    model->libraryWorkflows().refreshVisibleLocalLibraryItems(false);
    QCOMPARE(model->libraryState().localLibraryItemsRevision(), after);
    model->libraryWorkflows().refreshVisibleLocalLibraryItems(true);
    QCOMPARE(model->libraryState().localLibraryItemsRevision(), after + 1);
}

void VisibleItemsAndSelectionsTests::selectionsKeepStoredOrderAndTheirConditions_data()
{
    QTest::addColumn<Indices>("selected");
    QTest::addColumn<bool>("importing");
    QTest::addColumn<bool>("movePending");
    QTest::addColumn<bool>("recovering");
    QTest::addColumn<Indices>("importable");
    QTest::addColumn<Indices>("removable");
    QTest::addColumn<Indices>("restorable");
    const Indices all{8, 7, 6, 5, 4, 3, 2, 1, 0};
    QTest::newRow("everything selected")
        << all << false << false << false << Indices{0} << Indices{0, 4, 8} << Indices{2, 7};
    QTest::newRow("during an import")
        << all << true << false << false << Indices{0} << Indices{} << Indices{2, 7};
    QTest::newRow("while a move is pending")
        << all << false << true << false << Indices{} << Indices{} << Indices{2, 7};
    QTest::newRow("uploading, unbacked, uncached and size-less selected")
        << Indices{1, 3, 5, 7} << false << false << false << Indices{} << Indices{} << Indices{7};
    QTest::newRow("while interrupted imports are recovered")
        << all << false << false << true << Indices{0} << Indices{} << Indices{2, 7};
    QTest::newRow("nothing selected")
        << Indices{} << false << false << false << Indices{} << Indices{} << Indices{};
    QTest::newRow("only an id the library lacks")
        << Indices{42} << false << false << false << Indices{} << Indices{} << Indices{};
}

void VisibleItemsAndSelectionsTests::selectionsKeepStoredOrderAndTheirConditions()
{
    QFETCH(Indices, selected);
    QFETCH(bool, importing);
    QFETCH(bool, movePending);
    QFETCH(bool, recovering);
    QFETCH(Indices, importable);
    QFETCH(Indices, removable);
    QFETCH(Indices, restorable);
    const auto model = makeWith(selectionLibraryItems());
    QVERIFY(model);
    model->libraryState().setSelectedLibraryItemIDs(idSet(selected));
    model->importState().setIsImporting(importing);
    model->importState().setIsRecoveringInterruptedImports(recovering);
    if (movePending) {
        model->ingestCacheState().setPendingIngestCacheMigration(
            IngestCacheLocationStoring::PendingMigration{cacheRoot, u"/new"_s});
    }

    QCOMPARE(idsOf(model->importWorkflows().selectedImportItems()), idsAt(importable));
    QCOMPARE(idsOf(model->ingestCacheWorkflows().selectedRemovableIngestCacheItems()),
             idsAt(removable));
    QCOMPARE(idsOf(model->restoreWorkflows().selectedRestoreItems()), idsAt(restorable));
    QCOMPARE(idsOf(model->restoreWorkflows().restoreWorkflowItems()), idsAt(restorable));
}

void VisibleItemsAndSelectionsTests::restoreSummaryAddsKnownSizes_data()
{
    QTest::addColumn<QList<std::optional<qint64>>>("sizes");
    QTest::addColumn<qint64>("byteCount");
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    QTest::newRow("known sizes") << QList<std::optional<qint64>>{100, 23} << qint64(123);
    QTest::newRow("an unknown size counts 0")
        << QList<std::optional<qint64>>{100, std::nullopt} << qint64(100);
    QTest::newRow("a sum past the largest count saturates")
        << QList<std::optional<qint64>>{max, max, 1} << max;
    QTest::newRow("nothing restorable") << QList<std::optional<qint64>>{} << qint64(0);
}

void VisibleItemsAndSelectionsTests::restoreSummaryAddsKnownSizes()
{
    QFETCH(QList<std::optional<qint64>>, sizes);
    QFETCH(qint64, byteCount);
    QList<LocalLibraryItem> items;
    Indices all;
    for (int n = 0; n < sizes.size(); ++n) {
        items.append(item(n, {Status::VerifiedBackup, 100 + n, sizes[n], {}}));
        all.append(n);
    }
    // Selected but not restorable: left out of the summary.
    items.append(item(99, {Status::Uploading, 99, 1000, {}}));
    all.append(99);
    const auto model = makeWith(items);
    QVERIFY(model);
    model->libraryState().setSelectedLibraryItemIDs(idSet(all));

    const RestoreSelectionSummary summary = model->restoreWorkflows().restoreSelectionSummary();
    QCOMPARE(summary.itemCount, sizes.size());
    QCOMPARE(summary.byteCount, byteCount);
    QStringList filenames;
    for (int n = 0; n < sizes.size(); ++n)
        filenames.append(minimalLibraryItem(n).originalFilename);
    QCOMPARE(summary.filenames, filenames);
}

void VisibleItemsAndSelectionsTests::restoreWorkflowFollowsTheActiveRequest_data()
{
    QTest::addColumn<Indices>("selected");
    QTest::addColumn<QList<qint64>>("requested");
    QTest::addColumn<Indices>("listed");
    QTest::newRow("request listed against the stored order, nothing selected")
        << Indices{} << QList<qint64>{17, 12} << Indices{2, 7};
    QTest::newRow("selection outside the request is not listed")
        << Indices{7} << QList<qint64>{12} << Indices{2};
    QTest::newRow("request items need not be Verified Backups")
        << Indices{} << QList<qint64>{16, 404} << Indices{6};
    QTest::newRow("request without items") << Indices{2, 7} << QList<qint64>{} << Indices{};
}

void VisibleItemsAndSelectionsTests::restoreWorkflowFollowsTheActiveRequest()
{
    QFETCH(Indices, selected);
    QFETCH(QList<qint64>, requested);
    QFETCH(Indices, listed);
    const auto model = makeWith(selectionLibraryItems());
    QVERIFY(model);
    model->libraryState().setSelectedLibraryItemIDs(idSet(selected));
    model->restoreState().setActiveRestoreRequest(requestFor(requested));
    QCOMPARE(idsOf(model->restoreWorkflows().restoreWorkflowItems()), idsAt(listed));
}

namespace {

/// Everything the selection getters derive, in a comparable form.
struct Derived
{
    QList<QUuid> importable;
    QList<QUuid> removable;
    QList<QUuid> restorable;
    QList<QUuid> workflow;
    RestoreSelectionSummary summary;
    QStringList sources;

    explicit Derived(const LibraryShellViewModel &model)
        : importable(idsOf(model.importWorkflows().selectedImportItems()))
        , removable(idsOf(model.ingestCacheWorkflows().selectedRemovableIngestCacheItems()))
        , restorable(idsOf(model.restoreWorkflows().selectedRestoreItems()))
        , workflow(idsOf(model.restoreWorkflows().restoreWorkflowItems()))
        , summary(model.restoreWorkflows().restoreSelectionSummary())
        , sources(model.libraryWorkflows().localLibraryIngestSources())
    {}

    bool operator==(const Derived &) const = default;
};

enum class Change {
    Nothing,
    RecordChangedInTheStore,
    RecordRemovedFromTheStore,
    RecordAppendedToTheStore,
    SelectionNarrowed,
    SelectionSetAnewEqual,
    ImportStarted,
    MovePending,
    MoveRunning,
    RequestStarted,
    RequestChanged,
};

} // namespace

void VisibleItemsAndSelectionsTests::derivedSelectionsFollowEveryChange_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("changesSomething");

    QTest::newRow("nothing") << Change::Nothing << false;
    QTest::newRow("record changed in the store") << Change::RecordChangedInTheStore << true;
    QTest::newRow("record removed from the store") << Change::RecordRemovedFromTheStore << true;
    QTest::newRow("record appended to the store") << Change::RecordAppendedToTheStore << true;
    QTest::newRow("selection narrowed") << Change::SelectionNarrowed << true;
    QTest::newRow("equal selection set anew") << Change::SelectionSetAnewEqual << false;
    QTest::newRow("import started") << Change::ImportStarted << true;
    QTest::newRow("move pending") << Change::MovePending << true;
    QTest::newRow("move running") << Change::MoveRunning << true;
    QTest::newRow("restore request started") << Change::RequestStarted << true;
    QTest::newRow("restore request changed") << Change::RequestChanged << true;
}

void VisibleItemsAndSelectionsTests::derivedSelectionsFollowEveryChange()
{
    QFETCH(Change, change);
    QFETCH(bool, changesSomething);

    QList<LocalLibraryItem> items = selectionLibraryItems();
    for (int n = 0; n < items.size(); ++n)
        items[n].ingestSourceName = u"CARD %1"_s.arg(n % 3);
    const auto model = makeWith(items);
    QVERIFY(model);
    const Indices all{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    model->libraryState().setSelectedLibraryItemIDs(idSet(all));
    if (change == Change::RequestChanged)
        model->restoreState().setActiveRestoreRequest(requestFor({12, 17}));
    // Read twice: whatever the getters keep is in place before the change.
    const Derived before(*model);
    QVERIFY(Derived(*model) == before);

    // The library changes through another copy of the store, as workflows change it.
    const LocalLibraryCache &store = m_fixture->library;
    switch (change) {
    case Change::Nothing:
        break;
    case Change::RecordChangedInTheStore:
        QVERIFY(store.updateBackendLibraryItemID(minimalLibraryItem(3).id, 13));
        break;
    case Change::RecordRemovedFromTheStore:
        QVERIFY(store.removeItems({minimalLibraryItem(0).id}));
        break;
    case Change::RecordAppendedToTheStore: {
        LocalLibraryItem added = item(9, {Status::VerifiedBackup, 19, 5, {}});
        added.ingestSourceName = u"CARD 9"_s;
        QVERIFY(store.appendItems({added}));
        break;
    }
    case Change::SelectionNarrowed:
        model->libraryState().setSelectedLibraryItemIDs(idSet({0, 2, 4}));
        break;
    case Change::SelectionSetAnewEqual:
        model->libraryState().setSelectedLibraryItemIDs(idSet(all));
        break;
    case Change::ImportStarted:
        model->importState().setIsImporting(true);
        break;
    case Change::MovePending:
        model->ingestCacheState().setPendingIngestCacheMigration(
            IngestCacheLocationStoring::PendingMigration{cacheRoot, u"/new"_s});
        break;
    case Change::MoveRunning:
        model->ingestCacheState().setIsMigratingIngestCache(true);
        break;
    case Change::RequestStarted:
        model->restoreState().setActiveRestoreRequest(requestFor({16}));
        break;
    case Change::RequestChanged:
        model->restoreState().setActiveRestoreRequest(requestFor({12}));
        break;
    }

    // A view model that never derived anything, in the same state, is the reference.
    const auto fresh = m_fixture->make();
    fresh->libraryState().setSelectedLibraryItemIDs(model->libraryState().selectedLibraryItemIDs());
    fresh->importState().setIsImporting(model->importState().isImporting());
    fresh->ingestCacheState().setPendingIngestCacheMigration(
        model->ingestCacheState().pendingIngestCacheMigration());
    fresh->ingestCacheState().setIsMigratingIngestCache(
        model->ingestCacheState().isMigratingIngestCache());
    fresh->restoreState().setActiveRestoreRequest(model->restoreState().activeRestoreRequest());
    const Derived expected(*fresh);
    const Derived after(*model);
    QCOMPARE(after.importable, expected.importable);
    QCOMPARE(after.removable, expected.removable);
    QCOMPARE(after.restorable, expected.restorable);
    QCOMPARE(after.workflow, expected.workflow);
    QCOMPARE(after.summary, expected.summary);
    QCOMPARE(after.sources, expected.sources);
    QCOMPARE(after == before, !changesSomething);
}

void VisibleItemsAndSelectionsTests::ingestSourcesAreDistinctInCodeUnitOrder_data()
{
    QTest::addColumn<Names>("stored");
    QTest::addColumn<QStringList>("sources");
    QTest::newRow("duplicates and a record without a source")
        << Names{u"B"_s, u"A"_s, u"B"_s, std::nullopt} << QStringList{u"A"_s, u"B"_s};
    QTest::newRow("upper case before lower case, an empty name first")
        << Names{u"b"_s, u"B"_s, u"a"_s, QString()}
        << QStringList{QString(), u"B"_s, u"a"_s, u"b"_s};
    QTest::newRow("accented letters after ASCII")
        << Names{u"Élan"_s, u"Zoom"_s} << QStringList{u"Zoom"_s, u"Élan"_s};
    QTest::newRow("no names") << Names{std::nullopt} << QStringList{};
}

void VisibleItemsAndSelectionsTests::ingestSourcesAreDistinctInCodeUnitOrder()
{
    QFETCH(Names, stored);
    QFETCH(QStringList, sources);
    QList<LocalLibraryItem> items;
    for (int n = 0; n < stored.size(); ++n) {
        items.append(item(n, {}));
        items.last().ingestSourceName = stored[n];
    }
    const auto model = makeWith(items);
    QVERIFY(model);
    QCOMPARE(model->libraryWorkflows().localLibraryIngestSources(), sources);
}

void VisibleItemsAndSelectionsTests::treeIsBuiltOncePerRevisionFlagAndCounts_data()
{
    QTest::addColumn<QString>("between");
    QTest::addColumn<int>("builds");
    QTest::addColumn<bool>("physicalEntries");
    QTest::newRow("equal counts") << u"nothing"_s << 1 << true;
    QTest::newRow("other counts") << u"counts"_s << 2 << true;
    QTest::newRow("a refresh") << u"refresh"_s << 2 << true;
    QTest::newRow("a filter") << u"filter"_s << 2 << false;
    QTest::newRow("a filter put back") << u"filter put back"_s << 2 << true;
}

void VisibleItemsAndSelectionsTests::treeIsBuiltOncePerRevisionFlagAndCounts()
{
    QFETCH(QString, between);
    QFETCH(int, builds);
    QFETCH(bool, physicalEntries);
    const auto model = makeWith({item(0, {}), item(1, {})});
    QVERIFY(model);
    QVERIFY(model->libraryWorkflows().localLibraryTree({}).value().isEmpty()); // the stand-in
    std::atomic<int> count = 0;
    std::atomic<bool> lastPhysicalEntries = false;
    model->libraryWorkflows().setLocalLibraryTreeBuilder([&](const QList<LocalLibraryItem> &items,
                                                             const QString &root,
                                                             bool includePhysicalEntries,
                                                             const QHash<QString, qint64> &counts) {
        ++count;
        lastPhysicalEntries = includePhysicalEntries;
        LocalLibraryTreeNode node;
        node.id = u"folder:"_s + root;
        node.representedItems = items;
        node.folderPage = LocalLibraryFolderPage{u"folder:"_s, int(counts.value(u"folder:"_s)), 0};
        return QList{node};
    });
    QSignalSpy built(&model->libraryState(), &LibraryState::localLibraryTreeChanged);
    const QHash<QString, qint64> counts{{u"folder:"_s, 25}};
    QVERIFY(!model->libraryWorkflows().localLibraryTree(counts)); // built off the main thread
    QTRY_COMPARE(built.count(), 1);
    const QList<LocalLibraryTreeNode> first
        = model->libraryWorkflows().localLibraryTree(counts).value();
    QCOMPARE(first.size(), 1);
    QCOMPARE(first[0].id, u"folder:/cache"_s);
    QCOMPARE(first[0].representedItems.toList(), model->libraryState().localLibraryItems());

    QHash<QString, qint64> again = counts;
    if (between == u"counts")
        again.insert(u"folder:"_s, 50);
    else if (between == u"refresh")
        model->libraryWorkflows().refreshVisibleLocalLibraryItems(false);
    else if (between.startsWith(u"filter"))
        model->libraryState().setLocalLibraryIngestSourceFilter(u"CARD"_s);
    if (between == u"filter put back")
        model->libraryState().setLocalLibraryIngestSourceFilter(std::nullopt);
    // Until the new build ends, the newest tree stands in; asking again starts no second build.
    QCOMPARE(model->libraryWorkflows().localLibraryTree(again).value(), first);
    QCOMPARE(model->libraryWorkflows().localLibraryTree(again).value(), first);
    QTRY_COMPARE(built.count(), builds);
    const QList<LocalLibraryTreeNode> second
        = model->libraryWorkflows().localLibraryTree(again).value();

    QCOMPARE(count.load(), builds);
    QCOMPARE(lastPhysicalEntries.load(), physicalEntries);
    QCOMPARE(second[0].representedItems.toList(), model->libraryState().localLibraryItems());
}

void VisibleItemsAndSelectionsTests::olderTreeBuildNeverReplacesANewerOne()
{
    const auto model = makeWith({item(0, {})});
    QVERIFY(model);
    QSemaphore release;
    model->libraryWorkflows().setLocalLibraryTreeBuilder([&](const QList<LocalLibraryItem> &,
                                                             const QString &,
                                                             bool,
                                                             const QHash<QString, qint64> &counts) {
        if (counts.value(u"folder:"_s) == 1)
            release.acquire(); // the older build ends last
        LocalLibraryTreeNode node;
        node.id = u"built for %1"_s.arg(counts.value(u"folder:"_s));
        return QList{node};
    });
    QSignalSpy built(&model->libraryState(), &LibraryState::localLibraryTreeChanged);
    QVERIFY(!model->libraryWorkflows().localLibraryTree({{u"folder:"_s, 1}}));
    QVERIFY(!model->libraryWorkflows().localLibraryTree({{u"folder:"_s, 2}}));
    QTRY_COMPARE(built.count(), 1);
    release.release();
    QVERIFY(WorkflowPools::utility().waitForDone(10000));
    QCoreApplication::processEvents();
    QCOMPARE(built.count(), 1);
    QCOMPARE(
        model->libraryWorkflows().localLibraryTree({{u"folder:"_s, 2}}).value().constFirst().id,
        u"built for 2"_s);
}

void VisibleItemsAndSelectionsTests::searchAfterARefreshTakesTheTreeBuiltAhead_data()
{
    QTest::addColumn<QString>("before");
    QTest::newRow("the tree built after a refresh answers the first key") << u"built"_s;
    QTest::newRow("a build for an older refresh that ends last is not used") << u"newer refresh"_s;
    QTest::newRow("a key typed while the tree is built ahead waits for it") << u"building"_s;
}

void VisibleItemsAndSelectionsTests::searchAfterARefreshTakesTheTreeBuiltAhead()
{
    QFETCH(QString, before);
    // Large enough a library for its tree to be built ahead, also without one record.
    QList<LocalLibraryItem> stored;
    for (int n = 0; n < 5'001; ++n)
        stored.append(item(n, {}));
    const auto model = makeWith(stored);
    QVERIFY(model);
    QSemaphore release;
    const auto releasing = qScopeGuard([&] {
        release.release();
        QVERIFY(WorkflowPools::utility().waitForDone(10000));
    });
    std::atomic<int> builds = 0;
    model->libraryWorkflows().setLocalLibraryTreeBuilder([&](const QList<LocalLibraryItem> &items,
                                                             const QString &,
                                                             bool includePhysicalEntries,
                                                             const QHash<QString, qint64> &) {
        ++builds;
        if (before != u"built" && !includePhysicalEntries && items.size() == stored.size())
            release.acquire(); // the first build ahead ends when let go
        LocalLibraryTreeNode node;
        node.id = u"%1 items%2"_s.arg(items.size())
                      .arg(includePhysicalEntries ? u" and files"_s : QString());
        node.representedItems = items;
        return QList{node};
    });
    QSignalSpy built(&model->libraryState(), &LibraryState::localLibraryTreeChanged);
    model->libraryWorkflows().refreshVisibleLocalLibraryItems(false);
    QVERIFY(!model->libraryWorkflows().localLibraryTree({}));
    if (before == u"newer refresh") {
        QVERIFY(m_fixture->library.removeItems({minimalLibraryItem(0).id}));
        model->libraryWorkflows().refreshVisibleLocalLibraryItems(false);
        model->libraryWorkflows().localLibraryTree({});
        release.release();
    }
    if (before == u"building") {
        QTRY_COMPARE(built.count(), 1); // the tree with the folders' files
        QTRY_COMPARE(builds.load(), 2); // and the build ahead, begun on a busy pool
    } else {
        QVERIFY(WorkflowPools::utility().waitForDone(10000));
        // A finished build reaches the workflows in two queued steps.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    const QList<LocalLibraryItem> visible = model->libraryState().localLibraryItems();
    const int buildsBeforeTheKey = builds;

    // Every record's filename begins with it: the search finds the same items.
    model->libraryState().setLocalLibrarySearchText(u"img_"_s);

    QCOMPARE(model->libraryState().localLibraryItems(), visible);
    std::optional<QList<LocalLibraryTreeNode>> tree
        = model->libraryWorkflows().localLibraryTree({});
    if (before == u"building") {
        QCOMPARE(tree.value().constFirst().id, u"%1 items and files"_s.arg(visible.size()));
        release.release();
        QTRY_COMPARE(built.count(), 2);
        tree = model->libraryWorkflows().localLibraryTree({});
    }
    QVERIFY(tree);
    QCOMPARE(tree->size(), 1);
    QCOMPARE(tree->constFirst().id, u"%1 items"_s.arg(visible.size()));
    QCOMPARE(tree->constFirst().representedItems.toList(), visible);
    QVERIFY(WorkflowPools::utility().waitForDone(10000));
    QCOMPARE(builds.load(), buildsBeforeTheKey);
}

void VisibleItemsAndSelectionsTests::inspectorShowsOnlyAVisibleItem()
{
    const auto model = makeWith({item(0, {}), item(1, {})});
    QVERIFY(model);
    QVERIFY(!model->libraryWorkflows().inspectedLocalLibraryItem());
    const LocalLibraryItem inspected = model->libraryState().localLibraryItems().at(1);
    QSignalSpy changed(&model->libraryState(), &LibraryState::inspectedLocalLibraryItemIDChanged);
    model->libraryWorkflows().inspectLocalLibraryItem(inspected);
    model->libraryWorkflows().inspectLocalLibraryItem(inspected);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(model->libraryWorkflows().inspectedLocalLibraryItem(), inspected);

    model->libraryState().setLocalLibrarySearchText(u"IMG_0000"_s);
    QVERIFY(!model->libraryWorkflows().inspectedLocalLibraryItem());
    QCOMPARE(model->libraryState().inspectedLocalLibraryItemID(), inspected.id);

    model->libraryState().setLocalLibrarySearchText(QString());
    QCOMPARE(model->libraryWorkflows().inspectedLocalLibraryItem(), inspected);

    model->libraryWorkflows().inspectLocalLibraryItem(std::nullopt);
    QVERIFY(!model->libraryState().inspectedLocalLibraryItemID());
    QVERIFY(!model->libraryWorkflows().inspectedLocalLibraryItem());
}

QTEST_GUILESS_MAIN(VisibleItemsAndSelectionsTests)
#include "VisibleItemsAndSelectionsTests.moc"
