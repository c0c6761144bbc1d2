#include <PellwickApp/Shell/State/LocalLibraryTree.h>

#include <QTest>

#include <algorithm>

#include <Support/LibraryFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

using Status = LibraryItemImportStatus;

namespace {

/// Record `n` at `path`: ready with its Ingest Cache copy, or a Verified Backup the backend
/// knows, with its size unless `sized` is false.
LocalLibraryItem
record(int n, const QString &path, Status status, const QString &hash = {}, bool sized = true)
{
    LocalLibraryItem item = minimalLibraryItem(n);
    item.id = QUuid(uint(n), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    item.contentHash = hash.isEmpty() ? u"h%1"_s.arg(n) : hash;
    item.cacheRelativePath = path;
    item.importStatus = status;
    item.ingestCacheOriginalURL = u"/cache/"_s + path;
    item.backendLibraryItemID = 100 + n;
    if (sized)
        item.archiveByteCount = 1000;
    return item;
}

struct Case
{
    QList<LocalLibraryItem> items = {};
    QHash<QString, qint64> counts = {};
    QString row = {};
    QList<uint> selected = {}; ///< `data1` of the ids, sorted
    QStringList flattened = {};
    QList<Status> statuses = {};
    QString title = {};
};

QList<uint> sortedNumbers(const QList<QUuid> &ids)
{
    QList<uint> numbers;
    for (const QUuid &id : ids)
        numbers.append(id.data1);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

} // namespace

Q_DECLARE_METATYPE(Case)

class LocalLibraryTreeNodeTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void properties_data()
    {
        QTest::addColumn<Case>("c");
        QTest::newRow("paging row")
            << Case{.items = {record(1, u"a/IMG_1.CR3"_s, Status::LocalCacheReady)},
                    .counts = {{u"folder:"_s, 0}},
                    .row = u"show-more-folders:folder:"_s,
                    .flattened = {u"show-more-folders:folder:"_s}};
        QTest::newRow("item row, ready and needing attention")
            << Case{.items = {record(1, u"IMG_1.CR3"_s, Status::NeedsAttention, u"H"_s),
                              record(2, u"IMG_1.CR3"_s, Status::LocalCacheReady, u"H"_s)},
                    .row = u"item:H"_s,
                    .selected = {2},
                    .flattened = {u"item:H"_s},
                    .statuses = {Status::LocalCacheReady, Status::NeedsAttention},
                    .title = u"Local Cache — Ready to Import · Local Cache — Needs Attention"_s};
        // A byte copy whose sidecar is a byte copy under another name waits beside the archived one.
        LocalLibraryItem archived = record(1, u"T_0001.DNG"_s, Status::VerifiedBackup, u"H"_s);
        archived.ingestCacheSidecarURL = u"/cache/T_0001.xmp"_s;
        archived.ingestCacheSidecarContentHash = u"A"_s;
        LocalLibraryItem twin = record(5, u"T_0005.DNG"_s, Status::LocalCacheReady, u"H"_s);
        twin.ingestCacheSidecarURL = u"/cache/T_0005.xmp"_s;
        twin.ingestCacheSidecarContentHash = u"A"_s;
        QTest::newRow("item row of a twin waiting beside an archived one")
            << Case{.items = {archived, twin},
                    .row = u"item:H+A/T_0005.xmp"_s,
                    .selected = {5},
                    .flattened = {u"item:H+A/T_0005.xmp"_s},
                    .statuses = {Status::LocalCacheReady},
                    .title = u"Local Cache — Ready to Import"_s};
        QTest::newRow("item row of three Verified Backups")
            << Case{.items = {record(1, u"IMG_1.CR3"_s, Status::VerifiedBackup, u"H"_s),
                              record(2, u"IMG_1.CR3"_s, Status::VerifiedBackup, u"H"_s),
                              record(3, u"IMG_1.CR3"_s, Status::VerifiedBackup, u"H"_s)},
                    .row = u"item:H"_s,
                    .selected = {1, 2, 3},
                    .flattened = {u"item:H"_s},
                    .statuses = {Status::VerifiedBackup},
                    .title = u"Online Archive — Verified"_s};
        QTest::newRow("item row of a Verified Backup without size")
            << Case{.items = {record(1, u"IMG_1.CR3"_s, Status::VerifiedBackup, {}, false)},
                    .row = u"item:h1"_s,
                    .flattened = {u"item:h1"_s},
                    .statuses = {Status::VerifiedBackup},
                    .title = u"Online Archive — Verified"_s};
        QTest::newRow("folder row with an item in a paged-out folder")
            << Case{.items = {record(1, u"top/A/IMG_1.CR3"_s, Status::LocalCacheReady),
                              record(2, u"top/B/IMG_2.CR3"_s, Status::VerifiedBackup),
                              record(3, u"top/B/IMG_3.CR3"_s, Status::Uploading)},
                    .counts = {{u"folder:top"_s, 1}},
                    .row = u"folder:top"_s,
                    .selected = {1, 2},
                    .flattened = {u"folder:top"_s,
                                  u"folder:top/A"_s,
                                  u"item:h1"_s,
                                  u"show-more-folders:folder:top"_s}};
    }

    void properties()
    {
        QFETCH(Case, c);
        const LocalFileManager files;
        const QList<LocalLibraryTreeNode> tree
            = LocalLibraryTree::build(c.items, u"/cache"_s, false, c.counts, files);
        std::optional<LocalLibraryTreeNode> found;
        for (const LocalLibraryTreeNode &root : tree) {
            for (const LocalLibraryTreeNode &row : root.flattened()) {
                if (row.id == c.row)
                    found = row;
            }
        }
        QVERIFY(found);
        QCOMPARE(sortedNumbers(found->actionSelectionItemIDs()), c.selected);
        QStringList flattened;
        for (const LocalLibraryTreeNode &row : found->flattened())
            flattened.append(row.id);
        QCOMPARE(flattened, c.flattened);
        QCOMPARE(found->importStatuses(), c.statuses);
        QCOMPARE(found->importStatusTitle(), c.title);
    }
};

QTEST_GUILESS_MAIN(LocalLibraryTreeNodeTests)
#include "LocalLibraryTreeNodeTests.moc"
