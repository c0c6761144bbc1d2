#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QJsonDocument>
#include <QTest>

#include <limits>

#include <Support/BackendReplies.h>
#include <Support/ScriptedFetch.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;

namespace {

/// One item of the reply: every required key, plus `extra` members (raw JSON text) that add to or
/// replace them.
QByteArray itemJson(const QByteArray &extra = {}, qint64 id = 1)
{
    QJsonObject item{
        {QStringLiteral("id"), id},
        {QStringLiteral("original_filename"), QStringLiteral("IMG_0001.CR3")},
        {QStringLiteral("canonical_filename"), QStringLiteral("2024-05-01_IMG_0001.CR3")},
        {QStringLiteral("content_hash"), QStringLiteral("ab12")},
        {QStringLiteral("import_status"), QStringLiteral("verified_backup")},
        {QStringLiteral("imported_at"), 1700000000}};
    const QJsonObject overrides = QJsonDocument::fromJson("{" + extra + "}").object();
    for (auto it = overrides.begin(); it != overrides.end(); ++it)
        item.insert(it.key(), it.value());
    QByteArray text = QJsonDocument(item).toJson(QJsonDocument::Compact);
    // QJsonObject cannot hold an explicit null; put those back as written.
    for (const QByteArray &member : extra.split(',')) {
        if (member.endsWith(":null"))
            text.insert(text.size() - 1, "," + member);
    }
    return text;
}

QByteArray listJson(const QList<QByteArray> &items)
{
    QByteArray out = R"({"library_items":[)";
    for (qsizetype i = 0; i < items.size(); ++i)
        out += (i > 0 ? "," : "") + items[i];
    return out + "]}";
}

Result<QList<RemoteLibraryItem>> itemsFromReply(const QByteArray &body, int status = 200)
{
    ScriptedFetch fetch;
    fetch.reply(status, body);
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());
    return client.libraryItems(QStringLiteral("tok"));
}

RemoteLibraryItem expectedItem()
{
    RemoteLibraryItem item;
    item.id = 1;
    item.originalFilename = QStringLiteral("IMG_0001.CR3");
    item.canonicalFilename = QStringLiteral("2024-05-01_IMG_0001.CR3");
    item.contentHash = QStringLiteral("ab12");
    item.importStatus = LibraryItemImportStatus::VerifiedBackup;
    item.importedAt = Date::fromUnixSeconds(1700000000);
    item.importSourceName = QStringLiteral("Unknown Import Source");
    return item;
}

} // namespace

class LibraryItemsTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void itemsMapToLocalTerms_data();
    void itemsMapToLocalTerms();
    void oneUnreadableItemFailsTheWholeList_data();
    void oneUnreadableItemFailsTheWholeList();
    void listKeepsTheBackendsOrder();
    void itemsComeFromTheBackend();
};

void LibraryItemsTests::initTestCase()
{
    CurlFetch::initializeGlobally();
}

void LibraryItemsTests::itemsMapToLocalTerms_data()
{
    QTest::addColumn<QByteArray>("members");
    QTest::addColumn<RemoteLibraryItem>("expected");
    const RemoteLibraryItem base = expectedItem();
    auto with = [&base](const std::function<void(RemoteLibraryItem &)> &change) {
        RemoteLibraryItem item = base;
        change(item);
        return item;
    };
    using S = LibraryItemImportStatus;

    QTest::newRow("only required keys") << QByteArray() << base;
    QTest::newRow("raw and sidecar bytes add up")
        << QByteArray(R"("byte_count":1000,"sidecar_byte_count":24)") << with([](auto &i) {
               i.archiveByteCount = 1024;
               i.archiveSidecarByteCount = 24;
           });
    QTest::newRow("zero sidecar bytes") << QByteArray(R"("byte_count":1000,"sidecar_byte_count":0)")
                                        << with([](auto &i) { i.archiveByteCount = 1000; });
    QTest::newRow("sidecar bytes only")
        << QByteArray(R"("sidecar_byte_count":24)") << with([](auto &i) {
               i.archiveByteCount = 24;
               i.archiveSidecarByteCount = 24;
           });
    QTest::newRow("null counts") << QByteArray(R"("byte_count":null,"sidecar_byte_count":null)")
                                 << base;
    QTest::newRow("largest sum") << QByteArray(
        R"("byte_count":9223372036854775806,"sidecar_byte_count":1)")
                                 << with([](auto &i) {
                                        i.archiveByteCount = std::numeric_limits<qint64>::max();
                                        i.archiveSidecarByteCount = 1;
                                    });
    QTest::newRow("sidecar names copied, empty stays empty")
        << QByteArray(R"("sidecar_filename":"","sidecar_content_hash":"cd34")")
        << with([](auto &i) {
               i.archiveSidecarFilename = QString();
               i.archiveSidecarContentHash = QStringLiteral("cd34");
           });
    QTest::newRow("epoch") << QByteArray(R"("imported_at":0)")
                           << with([](auto &i) { i.importedAt = Date::fromUnixSeconds(0); });
    QTest::newRow("first second of year 1")
        << QByteArray(R"("imported_at":-62135596800)")
        << with([](auto &i) { i.importedAt = Date::fromUnixSeconds(-62135596800.0); });
    QTest::newRow("last second of year 9999")
        << QByteArray(R"("imported_at":253402300799)")
        << with([](auto &i) { i.importedAt = Date::fromUnixSeconds(253402300799.0); });
    QTest::newRow("half a second keeps its fraction")
        << QByteArray(R"("imported_at":0.5)")
        << with([](auto &i) { i.importedAt = Date::fromUnixSeconds(0.5); });
    QTest::newRow("null source name") << QByteArray(R"("import_source_name":null)") << base;
    QTest::newRow("empty source name stays empty")
        << QByteArray(R"("import_source_name":"")")
        << with([](auto &i) { i.importSourceName = QString(); });
    QTest::newRow("empty and null paths are absent")
        << QByteArray(R"("source_relative_path":"","cache_relative_path":null)") << base;
    QTest::newRow("paths") << QByteArray(R"("source_relative_path":"DCIM/IMG_0001.CR3",)"
                                         R"("cache_relative_path":"2024-05-01/IMG_0001.CR3")")
                           << with([](auto &i) {
                                  i.sourceRelativePath = QStringLiteral("DCIM/IMG_0001.CR3");
                                  i.cacheRelativePath = QStringLiteral("2024-05-01/IMG_0001.CR3");
                              });
    QTest::newRow("staging") << QByteArray(R"("import_status":"staging")")
                             << with([](auto &i) { i.importStatus = S::LocalCacheReady; });
    QTest::newRow("uploading") << QByteArray(R"("import_status":"uploading")")
                               << with([](auto &i) { i.importStatus = S::Uploading; });
    QTest::newRow("needs_attention") << QByteArray(R"("import_status":"needs_attention")")
                                     << with([](auto &i) { i.importStatus = S::NeedsAttention; });
}

void LibraryItemsTests::itemsMapToLocalTerms()
{
    QFETCH(QByteArray, members);
    QFETCH(RemoteLibraryItem, expected);
    Result<QList<RemoteLibraryItem>> items = itemsFromReply(listJson({itemJson(members)}));
    PELLWICK_VERIFY_SUCCESS(items);
    QCOMPARE(items->size(), 1);
    QVERIFY(items->front() == expected);
}

void LibraryItemsTests::oneUnreadableItemFailsTheWholeList_data()
{
    QTest::addColumn<QByteArray>("members");
    QTest::addColumn<QString>("keyPath");
    QTest::addColumn<DecodingError::Kind>("kind");
    using K = DecodingError::Kind;
    QTest::newRow("duplicate is not a word of this list")
        << QByteArray(R"("import_status":"duplicate")")
        << QStringLiteral("library_items[1].import_status") << K::DataCorrupted;
    QTest::newRow("verifying is a local status")
        << QByteArray(R"("import_status":"verifying")")
        << QStringLiteral("library_items[1].import_status") << K::DataCorrupted;
    QTest::newRow("null id") << QByteArray(R"("id":null)") << QStringLiteral("library_items[1].id")
                             << K::ValueNotFound;
    QTest::newRow("count as text")
        << QByteArray(R"("byte_count":"1000")") << QStringLiteral("library_items[1].byte_count")
        << K::TypeMismatch;
    QTest::newRow("date as text") << QByteArray(R"("imported_at":"2024-05-01")")
                                  << QStringLiteral("library_items[1].imported_at")
                                  << K::TypeMismatch;
    QTest::newRow("sum beyond 64 bits")
        << QByteArray(R"("byte_count":9223372036854775807,"sidecar_byte_count":1)")
        << QStringLiteral("library_items[1].sidecar_byte_count") << K::DataCorrupted;
    QTest::newRow("negative byte count")
        << QByteArray(R"("byte_count":-1)") << QStringLiteral("library_items[1].byte_count")
        << K::DataCorrupted;
    QTest::newRow("negative sidecar byte count")
        << QByteArray(R"("byte_count":1000,"sidecar_byte_count":-5)")
        << QStringLiteral("library_items[1].sidecar_byte_count") << K::DataCorrupted;
    QTest::newRow("date before year 1")
        << QByteArray(R"("imported_at":-62135596801)")
        << QStringLiteral("library_items[1].imported_at") << K::DataCorrupted;
    QTest::newRow("date after year 9999")
        << QByteArray(R"("imported_at":253402300800)")
        << QStringLiteral("library_items[1].imported_at") << K::DataCorrupted;
}

void LibraryItemsTests::oneUnreadableItemFailsTheWholeList()
{
    QFETCH(QByteArray, members);
    QFETCH(QString, keyPath);
    QFETCH(DecodingError::Kind, kind);
    // A valid item before and after the bad one: no partial list.
    Result<QList<RemoteLibraryItem>> items
        = itemsFromReply(listJson({itemJson({}, 1), itemJson(members, 2), itemJson({}, 3)}));
    QVERIFY(!items);
    const DecodingError *error = items.error().as<DecodingError>();
    QVERIFY2(error, failureText(items));
    QCOMPARE(error->keyPath, keyPath);
    QCOMPARE(error->kind, kind);
}

void LibraryItemsTests::listKeepsTheBackendsOrder()
{
    QCOMPARE(itemsFromReply(R"({"library_items":[]})").value(), QList<RemoteLibraryItem>());
    Result<QList<RemoteLibraryItem>> items
        = itemsFromReply(listJson({itemJson({}, 30), itemJson({}, 10), itemJson({}, 20)}));
    QCOMPARE(items->size(), 3);
    QCOMPARE((QList<qint64>{items->at(0).id, items->at(1).id, items->at(2).id}),
             (QList<qint64>{30, 10, 20}));

    QCOMPARE(itemsFromReply(R"({"items":[]})").error().as<DecodingError>()->kind,
             DecodingError::Kind::KeyNotFound);
    QCOMPARE(itemsFromReply(listJson({}), 201).error(), unexpectedStatusError(201));

    // Items differing only in their import time differ.
    RemoteLibraryItem later = expectedItem();
    later.importedAt = later.importedAt.addingSeconds(0.001);
    QVERIFY(later != expectedItem());
}

void LibraryItemsTests::itemsComeFromTheBackend()
{
    TestBackend backend;
    TestBackend::Account account;
    account.email = QStringLiteral("ada@example.test");
    backend.addAccount(account);
    TestBackend::LibraryItem stored;
    stored.originalFilename = QStringLiteral("IMG_0001.CR3");
    stored.canonicalFilename = QStringLiteral("2024-05-01_IMG_0001.CR3");
    stored.contentHash = QStringLiteral("ab12");
    stored.byteCount = 1000;
    stored.sidecarByteCount = 24;
    stored.sidecarFilename = QStringLiteral("IMG_0001.xmp");
    stored.importStatus = QStringLiteral("needs_attention");
    stored.importedAt = 1700000000.25;
    stored.importSourceName = QStringLiteral("EOS_DIGITAL");
    stored = backend.addLibraryItem(account.email, stored);

    const LibrarySessionClient client(backend.baseURL(), CurlFetch());
    Result<QList<RemoteLibraryItem>> items = client.libraryItems(backend.issueToken(account.email));
    PELLWICK_VERIFY_SUCCESS(items);
    RemoteLibraryItem expected = expectedItem();
    expected.id = stored.id;
    expected.archiveByteCount = 1024;
    expected.archiveSidecarByteCount = 24;
    expected.archiveSidecarFilename = QStringLiteral("IMG_0001.xmp");
    expected.importStatus = LibraryItemImportStatus::NeedsAttention;
    expected.importedAt = Date::fromUnixSeconds(1700000000.25);
    expected.importSourceName = QStringLiteral("EOS_DIGITAL");
    QCOMPARE(items->size(), 1);
    QVERIFY(items->front() == expected);

    QCOMPARE(client.libraryItems(QStringLiteral("not-a-session")).error(),
             unexpectedStatusError(401));
}

QTEST_GUILESS_MAIN(LibraryItemsTests)
#include "LibraryItemsTests.moc"
