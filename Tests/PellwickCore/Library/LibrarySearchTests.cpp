#include <PellwickCore/Library/LocalLibraryCache.h>

#include <QTemporaryDir>
#include <QTest>

#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;

class LibrarySearchTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void search_data();
    void search();
    void emptyLibraryOnEveryPath();
    void appendedRecordsAreFound();

private:
    QTemporaryDir m_dir;
    std::optional<LocalLibraryCache> m_cache;
};

namespace {

using S = LibraryItemImportStatus;
using V = LocalLibraryDuplicateVisibility;

/// name, canonical name, camera (empty: unknown), status, capture time (negative: unknown),
/// source (empty: none), location known
LocalLibraryItem record(int n,
                        const QString &original,
                        const QString &canonical,
                        const QString &camera,
                        S status,
                        double captured,
                        const QString &source,
                        bool located)
{
    LocalLibraryItem item = minimalLibraryItem(n);
    item.originalFilename = original;
    item.canonicalFilename = canonical;
    if (!camera.isEmpty())
        item.metadata.cameraModel = CameraModelMetadata::known(camera);
    item.importStatus = status;
    if (captured >= 0)
        item.metadata.captureTime = CaptureTimeMetadata::known(Date{captured});
    if (!source.isEmpty())
        item.ingestSourceName = source;
    if (located)
        item.metadata.captureLocation = CaptureLocationMetadata::known({47.1, 8.2});
    item.importDate = Date{1000.0 * n};
    return item;
}

// Positions in the library below.
const QList<LocalLibraryItem> library = {
    record(0,
           QStringLiteral("IMG_0001.CR3"),
           QStringLiteral("2024-05-01_IMG_0001.CR3"),
           QStringLiteral("Canon EOS R5"),
           S::VerifiedBackup,
           100,
           QStringLiteral("CARD A"),
           true),
    record(1,
           QStringLiteral("DSC_0002.NEF"),
           QStringLiteral("x_img_0002.NEF"),
           QStringLiteral("NIKON Z 8"),
           S::LocalCacheReady,
           -1,
           QStringLiteral("CARD B"),
           false),
    record(2,
           QStringLiteral("IMG_0003.CR3"),
           QStringLiteral("IMG_0003.CR3"),
           QStringLiteral("canon eos r5"),
           S::Duplicate,
           300,
           QStringLiteral("CARD A"),
           false),
    record(3,
           QStringLiteral("IMGX.ARW"),
           QStringLiteral("IMGX.ARW"),
           QString(),
           S::Uploading,
           400,
           QString(),
           true),
    record(4,
           QStringLiteral("İstanbul_Σ.NEF"),
           QStringLiteral("İstanbul_Σ.NEF"),
           QStringLiteral("SIMG"),
           S::VerifiedBackup,
           -1,
           QStringLiteral("CARD A"),
           false),
    record(5,
           QStringLiteral("e\u0301te\u0301.RAF"),
           QStringLiteral("ete.RAF"),
           QString(),
           S::NeedsAttention,
           600,
           QStringLiteral("card a"),
           false),
    record(6,
           QStringLiteral("👨‍👩‍👧_fam.DNG"),
           QStringLiteral("fam.DNG"),
           QString(),
           S::CleanupPending,
           700,
           QStringLiteral("CARD A"),
           false),
    record(7,
           QStringLiteral(".hidden"),
           QStringLiteral("a"),
           QString(),
           S::VerifiedBackup,
           800,
           QStringLiteral("CARD A"),
           false),
};

} // namespace

void LibrarySearchTests::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_cache.emplace(m_dir.path(), std::make_shared<LocalFileManager>());
    PELLWICK_VERIFY_SUCCESS(m_cache->writeItems(library));
}

void LibrarySearchTests::search_data()
{
    QTest::addColumn<LocalLibrarySearchQuery>("query");
    QTest::addColumn<QList<int>>("expected");

    const auto text = [](const QString &t) {
        LocalLibrarySearchQuery q;
        q.text = t;
        return q;
    };
    QTest::newRow("no text") << LocalLibrarySearchQuery() << QList<int>{0, 1, 3, 4, 5, 6, 7};
    QTest::newRow("only spaces and newlines")
        << text(QStringLiteral(" \n\t\u2028\u0085 ")) << QList<int>{0, 1, 3, 4, 5, 6, 7};
    QTest::newRow("prefix of an original name in any case")
        << text(QStringLiteral("iMg")) << QList<int>{0, 3};
    QTest::newRow("prefix is the original stem's only")
        << text(QStringLiteral("dsc")) << QList<int>{1};
    QTest::newRow("camera model in any case, once each")
        << text(QStringLiteral("CANON EOS R5")) << QList<int>{0};
    QTest::newRow("full canonical name from the exact index only")
        << text(QStringLiteral("x_img_0002.nef")) << QList<int>{1};
    QTest::newRow("stem is an exact key") << text(QStringLiteral("img_0001")) << QList<int>{0};
    QTest::newRow("exact hit on a duplicate ends the search")
        << text(QStringLiteral("img_0003")) << QList<int>{};
    QTest::newRow("one character: exact key") << text(QStringLiteral("A")) << QList<int>{7};
    QTest::newRow("one character: substring") << text(QStringLiteral("x")) << QList<int>{1, 3};
    QTest::newRow("substring of a canonical name")
        << text(QStringLiteral("_img_")) << QList<int>{0, 1};
    QTest::newRow("dotted capital I lowercases fully")
        << text(QStringLiteral("İSTANBUL")) << QList<int>{4};
    QTest::newRow("sigma") << text(QStringLiteral("σ")) << QList<int>{4};
    QTest::newRow("combining marks: whole characters")
        << text(QStringLiteral("e\u0301t")) << QList<int>{5};
    QTest::newRow("emoji sequence as one character")
        << text(QStringLiteral("👨‍👩‍👧_")) << QList<int>{6};
    QTest::newRow("leading dot: empty stem") << text(QStringLiteral(".hidden")) << QList<int>{7};

    LocalLibrarySearchQuery q = text(QStringLiteral("x_img_0002.nef"));
    q.duplicateVisibility = V::Included;
    QTest::newRow("same text with a filter: substring") << q << QList<int>{1};
    q = text(QStringLiteral("img_0003"));
    q.duplicateVisibility = V::Included;
    QTest::newRow("duplicates included") << q << QList<int>{2};
    q = LocalLibrarySearchQuery();
    q.captureTimeKnown = false;
    q.captureTime = LocalLibraryDateRange{Date{0}, Date{50}};
    QTest::newRow("unknown capture time, range ignored") << q << QList<int>{1, 4};
    q = LocalLibrarySearchQuery();
    q.captureTime = LocalLibraryDateRange{Date{100}, Date{400}};
    QTest::newRow("range drops unknown times, ends included") << q << QList<int>{0, 3};
    q = LocalLibrarySearchQuery();
    q.importStatus = S::Duplicate;
    QTest::newRow("duplicate status with hidden") << q << QList<int>{2};
    q = LocalLibrarySearchQuery();
    q.importStatus = S::VerifiedBackup;
    q.duplicateVisibility = V::Only;
    QTest::newRow("verified with only") << q << QList<int>{};
    q = LocalLibrarySearchQuery();
    q.duplicateVisibility = V::Only;
    QTest::newRow("only duplicates") << q << QList<int>{2};
    q = LocalLibrarySearchQuery();
    q.ingestSourceName = QStringLiteral("CARD A");
    QTest::newRow("source exact and case-sensitive") << q << QList<int>{0, 4, 6, 7};
    q = LocalLibrarySearchQuery();
    q.captureLocationKnown = true;
    q.importDate = LocalLibraryDateRange{Date{0}, Date{3000}};
    QTest::newRow("location and import date") << q << QList<int>{0, 3};
}

void LibrarySearchTests::search()
{
    QFETCH(LocalLibrarySearchQuery, query);
    QFETCH(QList<int>, expected);
    QList<LocalLibraryItem> expectedItems;
    for (const int p : expected)
        expectedItems.append(library[p]);
    QCOMPARE(m_cache->search(query)->items(), expectedItems);
}

void LibrarySearchTests::emptyLibraryOnEveryPath()
{
    const LocalLibraryCache empty(m_dir.filePath(QStringLiteral("none")),
                                  std::make_shared<LocalFileManager>());
    for (const QString &text :
         {QString(), QStringLiteral("img"), QStringLiteral("a"), QStringLiteral("zzz")}) {
        LocalLibrarySearchQuery query;
        if (!text.isEmpty())
            query.text = text;
        QCOMPARE(empty.search(query)->items(), QList<LocalLibraryItem>());
        query.duplicateVisibility = V::Included;
        QCOMPARE(empty.search(query)->items(), QList<LocalLibraryItem>());
    }
}

void LibrarySearchTests::appendedRecordsAreFound()
{
    const LocalLibraryCache cache(m_dir.filePath(QStringLiteral("appended")),
                                  std::make_shared<LocalFileManager>());
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(library));
    LocalLibrarySearchQuery query;
    query.text = QStringLiteral("img");
    QCOMPARE(cache.search(query)->size(), 2); // builds the indexes
    const LocalLibraryItem added = record(20,
                                          QStringLiteral("IMG_0020.CR3"),
                                          QStringLiteral("IMG_0020.CR3"),
                                          QString(),
                                          S::LocalCacheReady,
                                          -1,
                                          QString(),
                                          false);
    PELLWICK_VERIFY_SUCCESS(cache.appendItems({added}));
    QCOMPARE(cache.search(query)->size(), 3);
    query.text = QStringLiteral("img_0020");
    QCOMPARE(cache.search(query)->items(), QList<LocalLibraryItem>{added});
    PELLWICK_VERIFY_SUCCESS(cache.removeItems({library[0].id}));
    query.text = QStringLiteral("img");
    QCOMPARE(cache.search(query)->size(), 2);
}

QTEST_GUILESS_MAIN(LibrarySearchTests)
#include "LibrarySearchTests.moc"
