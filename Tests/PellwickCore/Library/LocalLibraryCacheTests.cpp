#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Support/Json.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <Support/FaultInjectingFileManager.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

class LocalLibraryCacheTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void newStoreCreatesNothingUntilTheFirstWrite();
    void writtenFileIsThePlainSortedArray();
    void changesSurviveAFreshStore_data();
    void changesSurviveAFreshStore();
    void updatesOfUnknownIdsReturnNothing();
    void outsideChangesStayInvisibleUntilTheNextWrite_data();
    void outsideChangesStayInvisibleUntilTheNextWrite();
    void invalidFileIsOnlyReplacedByWriteItems_data();
    void invalidFileIsOnlyReplacedByWriteItems();
    void foldersUnderTheStoresNamesAreKept_data();
    void foldersUnderTheStoresNamesAreKept();
    void unchangedLibraryAppendsNothing();
    void upsert_data();
    void upsert();
    void optimisticWrite_data();
    void optimisticWrite();
    void failedWriteKeepsThePreviousLibrary_data();
    void failedWriteKeepsThePreviousLibrary();
    void acknowledgedChangesSurviveUnusualFiles_data();
    void acknowledgedChangesSurviveUnusualFiles();
    void exclusiveAccessIsReleasedAfterAFailure();
    void readersSeeWholeLibraries();
    void everyRecordIsFoundByItsId_data();
    void everyRecordIsFoundByItsId();
    void changedCopiesMatchAPlainList_data();
    void changedCopiesMatchAPlainList();
    void firstLoadDuringAWholeWriteSeesOneLibrary_data();
    void firstLoadDuringAWholeWriteSeesOneLibrary();
    void previewPaths_data();
    void previewPaths();

private:
    LocalLibraryCache store(std::shared_ptr<const FileManager> fileManager = nullptr,
                            qint64 foldBytes = 0) const;
    QList<LocalLibraryItem> reloaded() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
};

namespace {

QList<LocalLibraryItem> items(int count, int first = 0)
{
    QList<LocalLibraryItem> result;
    for (int n = first; n < first + count; ++n)
        result.append(filledLibraryItem(n));
    return result;
}

using Mutation = std::function<Result<void>(const LocalLibraryCache &)>;

template<typename T>
Result<void> done(const Result<T> &result)
{
    if (!result)
        return tl::unexpected<Error>(result.error());
    return {};
}

} // namespace

void LocalLibraryCacheTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_root = m_dir->filePath(QStringLiteral("Library Cache"));
}

LocalLibraryCache LocalLibraryCacheTests::store(std::shared_ptr<const FileManager> fileManager,
                                                qint64 foldBytes) const
{
    return LocalLibraryCache(
        m_root, fileManager ? fileManager : std::make_shared<LocalFileManager>(), {foldBytes});
}

QList<LocalLibraryItem> LocalLibraryCacheTests::reloaded() const
{
    const Result<QList<LocalLibraryItem>> loaded = store().readItems();
    if (!loaded)
        qWarning("reload failed: %s", qPrintable(describe(loaded.error())));
    return loaded.value_or(QList<LocalLibraryItem>());
}

void LocalLibraryCacheTests::newStoreCreatesNothingUntilTheFirstWrite()
{
    const LocalLibraryCache cache = store();
    QCOMPARE(cache.readItems().value(), QList<LocalLibraryItem>());
    QCOMPARE(cache.readItems().value(), QList<LocalLibraryItem>());
    QVERIFY(!QFileInfo::exists(m_root));
    PELLWICK_VERIFY_SUCCESS(cache.appendItems(items(2)));
    QVERIFY(QFileInfo::exists(m_root + QStringLiteral("/library-items.json")));
    QCOMPARE(reloaded(), items(2));
}

void LocalLibraryCacheTests::writtenFileIsThePlainSortedArray()
{
    QList<LocalLibraryItem> library = items(3);
    library.append(minimalLibraryItem(9));
    PELLWICK_VERIFY_SUCCESS(store().writeItems(library));
    const QByteArray file = readFile(m_root + QStringLiteral("/library-items.json"));
    QVERIFY(file.startsWith("[\n    {\n        \"archiveByteCount\": "));
    QVERIFY(file.endsWith("\n    }\n]\n"));
    const Result<QJsonValue> parsed = Json::parseValue(file);
    PELLWICK_VERIFY_SUCCESS(parsed);
    QCOMPARE(parsed->toArray().size(), 4);
    QJsonArray expected;
    for (const LocalLibraryItem &item : library)
        expected.append(item.toJson());
    QCOMPARE(parsed->toArray(), expected);
    // The file alone, as another program would leave it, loads as it stands.
    QVERIFY(QFile::remove(m_root + QStringLiteral("/library-items.journal")));
    QCOMPARE(reloaded(), library);
    PELLWICK_VERIFY_SUCCESS(store().writeItems({}));
    QCOMPARE(readFile(m_root + QStringLiteral("/library-items.json")), QByteArray("[\n]\n"));
    QCOMPARE(reloaded(), QList<LocalLibraryItem>());
}

void LocalLibraryCacheTests::changesSurviveAFreshStore_data()
{
    QTest::addColumn<Mutation>("mutation");
    QTest::addColumn<QList<LocalLibraryItem>>("expected");

    const QList<LocalLibraryItem> base = items(4);
    QList<LocalLibraryItem> expected = base;
    expected.append(items(2, 10));
    QTest::newRow("append keeps order")
        << Mutation([](const LocalLibraryCache &c) { return c.appendItems(items(2, 10)); })
        << expected;

    expected = base;
    expected.removeAt(1);
    expected.removeAt(2);
    QTest::newRow("remove closes the gaps") << Mutation([base](const LocalLibraryCache &c) {
        return c.removeItems({base[1].id, base[3].id, QUuid::createUuid()});
    }) << expected;

    expected = base;
    expected[2] = base[2].replacingImportStatus(LibraryItemImportStatus::Duplicate);
    QTest::newRow("import status") << Mutation([base](const LocalLibraryCache &c) {
        return done(c.updateImportStatus(base[2].id, LibraryItemImportStatus::Duplicate));
    }) << expected;

    expected = base;
    expected[0] = base[0].replacingArchiveSidecar(std::nullopt, std::nullopt, std::nullopt);
    QTest::newRow("archive sidecar cleared") << Mutation([base](const LocalLibraryCache &c) {
        return done(c.updateArchiveSidecar(base[0].id, std::nullopt, std::nullopt, std::nullopt));
    }) << expected;

    expected = base;
    expected[3] = base[3].replacingBackendLibraryItemID(42);
    QTest::newRow("backend id") << Mutation([base](const LocalLibraryCache &c) {
        return done(c.updateBackendLibraryItemID(base[3].id, 42));
    }) << expected;

    expected = base;
    expected[1] = base[1].replacingRestoreStatus(RestoreRequestStatus::NeedsAttention,
                                                 QStringLiteral("gone"));
    expected[2]
        = base[2].replacingRestoreStatus(RestoreRequestStatus::NeedsAttention, std::nullopt);
    QTest::newRow("restore status by backend id") << Mutation([base](const LocalLibraryCache &c) {
        return c.updateRestoreStatus(
            {*base[1].backendLibraryItemID, *base[2].backendLibraryItemID, 5},
            RestoreRequestStatus::NeedsAttention,
            {{*base[1].backendLibraryItemID, QStringLiteral("gone")}});
    }) << expected;

    expected = base;
    expected[2] = base[2].replacingIngestCachePackage(std::nullopt);
    QVERIFY(expected[2].cacheRelativePath);
    QTest::newRow("removed package keeps the folder path") << Mutation(
        [base](const LocalLibraryCache &c) { return c.removeIngestCachePackages({base[2].id}); })
                                                           << expected;

    expected = base;
    LocalFileManager fileManager;
    for (LocalLibraryItem &item : expected) {
        item = item.relocatingIngestCacheURLs(
            QStringLiteral("/home/ana/Pictures/Pellwick Ingest Cache"),
            QStringLiteral("/mnt/new cache"),
            fileManager);
    }
    QVERIFY(expected[0].ingestCacheOriginalURL->startsWith(QStringLiteral("/mnt/new cache/2024/")));
    QTest::newRow("relocation") << Mutation([](const LocalLibraryCache &c) {
        return c.relocateIngestCacheItems(
            QStringLiteral("/home/ana/Pictures/Pellwick Ingest Cache"),
            QStringLiteral("/mnt/new cache"));
    }) << expected;

    expected = base;
    expected[1] = minimalLibraryItem(1);
    expected.append(minimalLibraryItem(2));
    QTest::newRow("complete array under exclusive access")
        << Mutation([expected](const LocalLibraryCache &c) {
               return c.withExclusiveAccess([&] { return c.writeItemsLocked(expected); });
           })
        << expected;

    QTest::newRow("shorter complete array") << Mutation([base](const LocalLibraryCache &c) {
        return c.withExclusiveAccess([&] { return c.writeItemsLocked(base.mid(2)); });
    }) << base.mid(2);
}

void LocalLibraryCacheTests::changesSurviveAFreshStore()
{
    QFETCH(Mutation, mutation);
    QFETCH(QList<LocalLibraryItem>, expected);

    const LocalLibraryCache cache = store();
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(items(4)));
    PELLWICK_VERIFY_SUCCESS(mutation(cache));
    QCOMPARE(cache.readItems().value(), expected);
    QCOMPARE(reloaded(), expected);
}

void LocalLibraryCacheTests::updatesOfUnknownIdsReturnNothing()
{
    const LocalLibraryCache cache = store();
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(items(2)));
    const QUuid unknown = QUuid::createUuid();
    QCOMPARE(cache.updateImportStatus(unknown, LibraryItemImportStatus::Duplicate).value(),
             std::nullopt);
    QCOMPARE(cache.updateBackendLibraryItemID(unknown, 1).value(), std::nullopt);
    QCOMPARE(cache.updateArchiveSidecar(unknown, std::nullopt, 1, std::nullopt).value(),
             std::nullopt);
    const LocalLibraryItem updated
        = cache.updateImportStatus(items(2)[1].id, LibraryItemImportStatus::Duplicate)
              .value()
              .value();
    QCOMPARE(updated, items(2)[1].replacingImportStatus(LibraryItemImportStatus::Duplicate));

    // Deleted from outside: the next write, even one that changes nothing, recreates it.
    QVERIFY(QDir(m_root).removeRecursively());
    QCOMPARE(cache.updateImportStatus(unknown, LibraryItemImportStatus::Duplicate).value(),
             std::nullopt);
    QCOMPARE(reloaded(), QList<LocalLibraryItem>({items(2)[0], updated}));
}

void LocalLibraryCacheTests::outsideChangesStayInvisibleUntilTheNextWrite_data()
{
    QTest::addColumn<int>("change"); // 0 deleted, 1 replaced by another library, 2 journal deleted
    QTest::newRow("file deleted") << 0;
    QTest::newRow("file replaced") << 1;
    QTest::newRow("journal deleted") << 2;
}

void LocalLibraryCacheTests::outsideChangesStayInvisibleUntilTheNextWrite()
{
    QFETCH(int, change);
    const LocalLibraryCache cache = store();
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(items(3)));
    PELLWICK_VERIFY_SUCCESS(
        cache.updateImportStatus(items(3)[0].id, LibraryItemImportStatus::Uploading));
    const QList<LocalLibraryItem> library = cache.readItems().value();

    const QString file = m_root + QStringLiteral("/library-items.json");
    if (change == 0) {
        QVERIFY(QFile::remove(file));
    } else if (change == 1) {
        const LocalLibraryCache other(m_dir->filePath(QStringLiteral("other")),
                                      std::make_shared<LocalFileManager>());
        PELLWICK_VERIFY_SUCCESS(other.writeItems(items(1, 50)));
        QVERIFY(QFile::remove(file));
        QVERIFY(QFile::copy(m_dir->filePath(QStringLiteral("other/library-items.json")), file));
        QCOMPARE(reloaded(), items(1, 50)); // the journal names the old file and is ignored
    } else {
        QVERIFY(QFile::remove(m_root + QStringLiteral("/library-items.journal")));
    }
    QCOMPARE(cache.readItems().value(), library);

    PELLWICK_VERIFY_SUCCESS(
        cache.updateImportStatus(QUuid::createUuid(), LibraryItemImportStatus::Duplicate));
    QCOMPARE(reloaded(), library);
}

namespace {

struct DamagedFiles
{
    const char *damage = "json";
    /// The failure as `describe` words it, with "ROOT" for the store's folder; empty: any
    /// file-system failure.
    QString failure = QString();
};

} // namespace

Q_DECLARE_METATYPE(DamagedFiles)

void LocalLibraryCacheTests::invalidFileIsOnlyReplacedByWriteItems_data()
{
    QTest::addColumn<DamagedFiles>("files");
    QTest::newRow("invalid JSON") << DamagedFiles{
        .failure = u"decoding failed (data corrupted) at \"library-items.json\": "
                   "The given data was not valid JSON. object is missing after a comma"_s};
    QTest::newRow("empty library file")
        << DamagedFiles{.damage = "empty",
                        .failure = u"decoding failed (data corrupted) at \"library-items.json\": "
                                   "The library file is empty"_s};
    // A link into a folder that is not there (a disk not mounted) is no missing file.
    QTest::newRow("library file a link to a missing file") << DamagedFiles{.damage = "file link"};
    QTest::newRow("journal a link to a missing file") << DamagedFiles{.damage = "journal link"};
    // A device never ends: refused before a byte is read.
    QTest::newRow("library file a device")
        << DamagedFiles{.damage = "file device",
                        .failure = u"read ROOT/library-items.json: Invalid argument (errno 22)"_s};
    QTest::newRow("journal a device") << DamagedFiles{
        .damage = "journal device",
        .failure = u"read ROOT/library-items.journal: Invalid argument (errno 22)"_s};
}

void LocalLibraryCacheTests::invalidFileIsOnlyReplacedByWriteItems()
{
    QFETCH(DamagedFiles, files);
    const QString damage = QString::fromLatin1(files.damage);
    const QString file = m_root + QStringLiteral("/library-items.json");
    const QString journal = m_root + QStringLiteral("/library-items.journal");
    const QString away = damage.endsWith(u"device")
                             ? u"/dev/zero"_s
                             : m_dir->filePath(QStringLiteral("unmounted/library-items.json"));
    if (damage == u"json") {
        writeFile(file, "[{\"id\": ");
    } else if (damage == u"empty") {
        writeFile(file, "");
    } else if (damage.startsWith(u"file")) {
        QVERIFY(QDir().mkpath(m_root));
        QVERIFY(QFile::link(away, file));
    } else {
        PELLWICK_VERIFY_SUCCESS(store().appendItems(items(3)));
        PELLWICK_VERIFY_SUCCESS(
            store().updateImportStatus(items(3)[1].id, LibraryItemImportStatus::Duplicate));
        QVERIFY(QFile::remove(journal));
        QVERIFY(QFile::link(away, journal));
    }
    // Each entry with its link target or contents; the kept copies under their original names.
    const auto folder = [&](bool kept) {
        QStringList entries;
        for (const QFileInfo &entry :
             QDir(m_root).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System)) {
            QString name = entry.fileName();
            if (kept != name.contains(u".damaged-"))
                continue;
            name.truncate(name.indexOf(u".damaged-") < 0 ? name.size()
                                                         : name.indexOf(u".damaged-"));
            entries.append(name + QLatin1Char(' ') + entry.symLinkTarget() + QLatin1Char(' ')
                           + QString::fromLatin1(entry.isSymLink()
                                                     ? QByteArray()
                                                     : readFile(entry.filePath()).toHex()));
        }
        return entries;
    };
    const QStringList before = folder(false);
    const LocalLibraryCache cache = store();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Result<QList<LocalLibraryItem>> read = cache.readItems();
        QVERIFY(!read);
        if (files.failure.isEmpty())
            QVERIFY(read.error().is<FileSystemError>());
        else
            QCOMPARE(describe(read.error()), QString(files.failure).replace(u"ROOT"_s, m_root));
    }
    QVERIFY(!cache.appendItems(items(1)));
    QVERIFY(!cache.updateImportStatus(items(1)[0].id, LibraryItemImportStatus::Duplicate));
    QCOMPARE(folder(false), before);
    QCOMPARE(folder(true), QStringList());
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(items(2)));
    QCOMPARE(cache.readItems().value(), items(2));
    QCOMPARE(reloaded(), items(2));
    // The files that did not load are kept beside the new ones, as they were.
    QStringList damaged;
    for (const QString &entry : before) {
        if (entry.startsWith(u"library-items."))
            damaged.append(entry);
    }
    QCOMPARE(folder(true), damaged);
}

void LocalLibraryCacheTests::foldersUnderTheStoresNamesAreKept_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("singleChanges"); // single changes can still be made durable
    QTest::newRow("folder in place of the journal") << "library-items.journal" << false;
    QTest::newRow("folder named like a leftover") << ".library-items.json.mine" << true;
}

void LocalLibraryCacheTests::foldersUnderTheStoresNamesAreKept()
{
    QFETCH(QString, name);
    QFETCH(bool, singleChanges);
    PELLWICK_VERIFY_SUCCESS(store().writeItems(items(3)));
    const QString folder = m_root + QLatin1Char('/') + name;
    (void) QFile::remove(folder);
    QVERIFY(QDir().mkpath(folder));
    writeFile(folder + QStringLiteral("/keep.txt"), "mine");

    const LocalLibraryCache cache = store();
    QCOMPARE(cache.readItems().value_or(QList<LocalLibraryItem>()), items(3));
    const Result<std::optional<LocalLibraryItem>> changed
        = cache.updateImportStatus(items(3)[0].id, LibraryItemImportStatus::Duplicate);
    QCOMPARE(changed.has_value(), singleChanges);
    QList<LocalLibraryItem> expected = items(2);
    expected[1] = expected[1].replacingImportStatus(LibraryItemImportStatus::Verifying);
    for (const QList<LocalLibraryItem> &library : {items(2), expected}) {
        PELLWICK_VERIFY_SUCCESS(cache.writeItems(library));
        QCOMPARE(reloaded(), library);
        QCOMPARE(readFile(folder + QStringLiteral("/keep.txt")), QByteArray("mine"));
    }
}

void LocalLibraryCacheTests::unchangedLibraryAppendsNothing()
{
    const LocalLibraryCache cache = store();
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(items(2)));
    const QString journal = m_root + QStringLiteral("/library-items.journal");
    const QByteArray before = readFile(journal);
    PELLWICK_VERIFY_SUCCESS(cache.updateImportStatus(items(2)[0].id, items(2)[0].importStatus));
    PELLWICK_VERIFY_SUCCESS(cache.removeItems({QUuid::createUuid()}));
    PELLWICK_VERIFY_SUCCESS(cache.upsertIngestCacheItems({}));
    QCOMPARE(readFile(journal), before);
    PELLWICK_VERIFY_SUCCESS(
        cache.updateImportStatus(items(2)[0].id, LibraryItemImportStatus::Duplicate));
    QVERIFY(readFile(journal).size() > before.size());
}

void LocalLibraryCacheTests::upsert_data()
{
    QTest::addColumn<QList<LocalLibraryItem>>("stored");
    QTest::addColumn<QList<LocalLibraryItem>>("inputs");
    QTest::addColumn<QList<LocalLibraryItem>>("expectedResults");
    QTest::addColumn<QList<LocalLibraryItem>>("expectedLibrary");

    LocalFileManager fileManager;
    LocalLibraryItem first = minimalLibraryItem(1);
    first.ingestCacheOriginalURL = QStringLiteral("/cache/a/IMG_1.CR3");
    first.cacheRelativePath = QStringLiteral("a/IMG_1.CR3");
    LocalLibraryItem second = minimalLibraryItem(2);
    second.contentHash = first.contentHash;
    second.ingestCacheOriginalURL = QStringLiteral("/cache/b/IMG_1.CR3");
    second.cacheRelativePath = QStringLiteral("b/IMG_1.CR3");
    const LocalLibraryItem replaced = first.replacingIngestCacheItem(second, fileManager);
    QTest::newRow("two inputs with one new hash")
        << QList<LocalLibraryItem>{items(1)} << QList<LocalLibraryItem>{first, second}
        << QList<LocalLibraryItem>{first, replaced}
        << QList<LocalLibraryItem>{items(1)[0], replaced};

    LocalLibraryItem edited = second;
    edited.ingestCacheSidecarURL = QStringLiteral("/cache/b/IMG_1.xmp");
    edited.ingestCacheSidecarContentHash = QStringLiteral("edited");
    QTest::newRow("a byte copy with a sidecar of its own")
        << QList<LocalLibraryItem>{} << QList<LocalLibraryItem>{first, edited}
        << QList<LocalLibraryItem>{first, edited} << QList<LocalLibraryItem>{first, edited};

    LocalLibraryItem archived
        = filledLibraryItem(7).replacingImportStatus(LibraryItemImportStatus::VerifiedBackup);
    LocalLibraryItem copy = minimalLibraryItem(8);
    copy.contentHash = archived.contentHash;
    copy.ingestCacheOriginalURL = QStringLiteral("/cache/c/IMG_8.CR3");
    QTest::newRow("archived record with another package")
        << QList<LocalLibraryItem>{archived} << QList<LocalLibraryItem>{copy}
        << QList<LocalLibraryItem>{copy} << QList<LocalLibraryItem>{archived, copy};

    LocalLibraryItem bare
        = archived.replacingArchiveSidecar(std::nullopt, std::nullopt, std::nullopt);
    const LocalLibraryItem matched = bare.replacingIngestCacheItem(copy, fileManager);
    QTest::newRow("archived record with the same package")
        << QList<LocalLibraryItem>{bare} << QList<LocalLibraryItem>{copy}
        << QList<LocalLibraryItem>{matched} << QList<LocalLibraryItem>{matched};
    const LocalLibraryItem pending
        = bare.replacingImportStatus(LibraryItemImportStatus::CleanupPending);
    const LocalLibraryItem pendingMatched = pending.replacingIngestCacheItem(copy, fileManager);
    QTest::newRow("a cleanup-pending record with a copy of the pair its archive holds")
        << QList<LocalLibraryItem>{pending} << QList<LocalLibraryItem>{copy}
        << QList<LocalLibraryItem>{pendingMatched} << QList<LocalLibraryItem>{pendingMatched};
    LocalLibraryItem waiting = copy;
    waiting.id = minimalLibraryItem(9).id;
    waiting.importStatus = LibraryItemImportStatus::NeedsAttention;
    waiting.ingestCacheOriginalURL = QStringLiteral("/cache/w/IMG_8.CR3");
    QTest::newRow("a waiting twin's copy of a pair the archive holds")
        << QList<LocalLibraryItem>{bare, waiting} << QList<LocalLibraryItem>{copy}
        << QList<LocalLibraryItem>{matched} << QList<LocalLibraryItem>{matched, waiting};
    LocalLibraryItem cut = minimalLibraryItem(10);
    cut.contentHash = first.contentHash;
    cut.importStatus = LibraryItemImportStatus::NeedsAttention;
    cut.preview = LocalPreviewState::discoveredInIngestCache();
    cut.ingestCacheOriginalURL = QStringLiteral("/cache/d/IMG_1.CR3");
    cut.ingestCacheSidecarURL = QStringLiteral("/cache/d/IMG_1.xmp");
    cut.ingestCacheSidecarContentHash = QStringLiteral("its own");
    QTest::newRow("a copy cut short keeps its sidecar from a byte copy with another")
        << QList<LocalLibraryItem>{cut} << QList<LocalLibraryItem>{edited}
        << QList<LocalLibraryItem>{edited} << QList<LocalLibraryItem>{cut, edited};
    LocalLibraryItem cutBare = cut;
    cutBare.ingestCacheSidecarURL.reset();
    cutBare.ingestCacheSidecarContentHash.reset();
    QTest::newRow("a copy cut short without a sidecar keeps its photo from a twin's with one")
        << QList<LocalLibraryItem>{cutBare} << QList<LocalLibraryItem>{edited}
        << QList<LocalLibraryItem>{edited} << QList<LocalLibraryItem>{cutBare, edited};
    QTest::newRow("nothing to merge")
        << items(2) << QList<LocalLibraryItem>() << QList<LocalLibraryItem>() << items(2);
}

void LocalLibraryCacheTests::upsert()
{
    QFETCH(QList<LocalLibraryItem>, stored);
    QFETCH(QList<LocalLibraryItem>, inputs);
    QFETCH(QList<LocalLibraryItem>, expectedResults);
    QFETCH(QList<LocalLibraryItem>, expectedLibrary);

    const LocalLibraryCache cache = store();
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(stored));
    QCOMPARE(cache.upsertIngestCacheItems(inputs).value(), expectedResults);
    QCOMPARE(cache.readItems().value(), expectedLibrary);
    QCOMPARE(reloaded(), expectedLibrary);
}

void LocalLibraryCacheTests::optimisticWrite_data()
{
    QTest::addColumn<bool>("expectationHolds");
    QTest::newRow("stored items as expected") << true;
    QTest::newRow("one field of one record differs") << false;
}

void LocalLibraryCacheTests::optimisticWrite()
{
    QFETCH(bool, expectationHolds);
    const LocalLibraryCache cache = store();
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(items(3)));
    QList<LocalLibraryItem> expected = items(3);
    if (!expectationHolds)
        expected[1].ingestCacheSidecarContentHash = QString(64, QLatin1Char('0'));
    const QByteArray journal = readFile(m_root + QStringLiteral("/library-items.journal"));
    const QList<LocalLibraryItem> changed = items(2, 20);
    const Result<bool> written = cache.withExclusiveAccess(
        [&] { return cache.writeItemsIfUnchangedLocked(changed, expected); });
    QCOMPARE(written.value(), expectationHolds);
    QCOMPARE(reloaded(), expectationHolds ? changed : items(3));
    if (!expectationHolds)
        QCOMPARE(readFile(m_root + QStringLiteral("/library-items.journal")), journal);
}

void LocalLibraryCacheTests::failedWriteKeepsThePreviousLibrary_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("fold"); // the change rewrites the whole file

    using F = FileOperation;
    QTest::newRow("journal append") << int(F::Write) << "library-items.journal" << ENOSPC << false;
    QTest::newRow("journal flush")
        << int(F::SynchronizeData) << "library-items.journal" << EIO << false;
    QTest::newRow("journal opening")
        << int(F::OpenForWriting) << "library-items.journal" << EIO << false;
    QTest::newRow("new file write") << int(F::Write) << ".library-items.json" << ENOSPC << true;
    QTest::newRow("new file flush") << int(F::Synchronize) << ".library-items.json" << EIO << true;
    QTest::newRow("new journal write")
        << int(F::Write) << ".library-items.journal" << ENOSPC << true;
    QTest::newRow("second name of the old file")
        << int(F::LinkItem) << ".library-items" << EIO << true;
    QTest::newRow("rename over") << int(F::ReplaceItem) << "/library-items.json" << EIO << true;
    QTest::newRow("folder flush after rename")
        << int(F::SynchronizeDirectory) << "Library Cache" << EIO << true;
    QTest::newRow("read-only folder")
        << int(F::OpenForWriting) << ".library-items.json" << EROFS << true;
}

void LocalLibraryCacheTests::failedWriteKeepsThePreviousLibrary()
{
    QFETCH(int, operation);
    QFETCH(QString, path);
    QFETCH(int, code);
    QFETCH(bool, fold);

    PELLWICK_VERIFY_SUCCESS(store().writeItems(items(3)));
    auto faults = std::make_shared<FaultInjectingFileManager>();
    const LocalLibraryCache cache = store(faults);
    PELLWICK_VERIFY_SUCCESS(
        cache.updateImportStatus(items(3)[2].id, LibraryItemImportStatus::Uploading));
    const QList<LocalLibraryItem> previous = cache.readItems().value();

    faults->failOperation(static_cast<FileOperation>(operation), code, path, 1);
    const Result<void> changed
        = fold ? cache.writeItems(items(2, 30))
               : done(cache.updateImportStatus(items(3)[0].id, LibraryItemImportStatus::Duplicate));
    QVERIFY(!changed);
    QCOMPARE(changed.error().as<FileSystemError>()->code, code);
    QCOMPARE(cache.readItems().value(), previous);
    QCOMPARE(reloaded(), previous);

    // Without the fault the same store goes on, and what it then writes loads.
    PELLWICK_VERIFY_SUCCESS(
        cache.updateImportStatus(items(3)[1].id, LibraryItemImportStatus::Verifying));
    QList<LocalLibraryItem> expected = previous;
    expected[1] = expected[1].replacingImportStatus(LibraryItemImportStatus::Verifying);
    QCOMPARE(reloaded(), expected);
    const QStringList leftovers = QDir(m_root).entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(leftovers.size() <= 3, qPrintable(leftovers.join(QLatin1Char(' '))));
}

void LocalLibraryCacheTests::acknowledgedChangesSurviveUnusualFiles_data()
{
    QTest::addColumn<int>("operation"); // -1: no fault
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<bool>("dropJournal");  // the store starts from the library file alone
    QTest::addColumn<bool>("symbolicLink"); // the library file is a link, its target edited

    using F = FileOperation;
    const QString journal = QStringLiteral("/library-items.journal");
    QTest::newRow("journal unrecognisable after an append")
        << int(F::AttributesOfItem) << journal << EIO << 2 << false << false;
    QTest::newRow("journal unrecognisable after it was made")
        << int(F::AttributesOfItem) << journal << EIO << 1 << true << false;
    QTest::newRow("file system without hard links")
        << int(F::LinkItem) << QString() << EPERM << 0 << false << false;
    QTest::newRow("file system without hard links, first journal")
        << int(F::LinkItem) << QString() << EOPNOTSUPP << 0 << true << false;
    QTest::newRow("library file is a link whose target is edited from outside")
        << -1 << QString() << 0 << 0 << false << true;
}

void LocalLibraryCacheTests::acknowledgedChangesSurviveUnusualFiles()
{
    QFETCH(int, operation);
    QFETCH(QString, path);
    QFETCH(int, code);
    QFETCH(int, occurrence);
    QFETCH(bool, dropJournal);
    QFETCH(bool, symbolicLink);

    PELLWICK_VERIFY_SUCCESS(store().writeItems(items(3)));
    PELLWICK_VERIFY_SUCCESS(
        store().updateImportStatus(items(3)[2].id, LibraryItemImportStatus::Uploading));
    const QString file = m_root + QStringLiteral("/library-items.json");
    if (dropJournal)
        QVERIFY(QFile::remove(m_root + QStringLiteral("/library-items.journal")));
    const QString target = m_dir->filePath(QStringLiteral("elsewhere.json"));
    if (symbolicLink) {
        QVERIFY(QFile::rename(file, target));
        QVERIFY(QFile::link(target, file));
    }
    auto faults = std::make_shared<FaultInjectingFileManager>();
    const LocalLibraryCache cache = store(faults);
    QVERIFY(cache.readItems());
    if (operation >= 0)
        faults->failOperation(static_cast<FileOperation>(operation), code, path, occurrence);

    const QList<Mutation> script = {
        [](const LocalLibraryCache &c) {
            return done(c.updateImportStatus(items(3)[0].id, LibraryItemImportStatus::Uploading));
        },
        [](const LocalLibraryCache &c) { return c.appendItems(items(1, 40)); },
        [](const LocalLibraryCache &c) {
            QList<LocalLibraryItem> all = c.readItems().value();
            all[1] = all[1].replacingImportStatus(LibraryItemImportStatus::Verifying);
            return c.writeItems(all);
        },
        [](const LocalLibraryCache &c) {
            return done(c.updateImportStatus(items(3)[2].id, LibraryItemImportStatus::Duplicate));
        },
        [](const LocalLibraryCache &c) { return c.removeItems({items(3)[0].id}); },
    };
    for (qsizetype step = 0; step < script.size(); ++step) {
        PELLWICK_VERIFY_SUCCESS(script[step](cache));
        if (symbolicLink)
            writeFile(target, "[]\n");
        QVERIFY2(reloaded() == cache.readItems().value(),
                 qPrintable(QStringLiteral("after step %1").arg(step)));
    }
    QCOMPARE(reloaded().size(), 3);
}

void LocalLibraryCacheTests::exclusiveAccessIsReleasedAfterAFailure()
{
    const LocalLibraryCache cache = store();
    const Result<int> failed = cache.withExclusiveAccess([&]() -> Result<int> {
        PELLWICK_TRY(cache.appendItems(items(1))); // re-entered on this thread
        return failure(FileSystemError{QStringLiteral("check"), m_root, EIO});
    });
    QVERIFY(!failed);
    std::atomic<bool> appended = false;
    std::thread other([&] { appended = cache.appendItems(items(1, 5)).has_value(); });
    other.join();
    QVERIFY(appended);
    QCOMPARE(reloaded(), QList<LocalLibraryItem>({items(1)[0], items(1, 5)[0]}));
}

void LocalLibraryCacheTests::everyRecordIsFoundByItsId_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("small library") << 10;
    QTest::newRow("library indexed on several threads") << 9000;
}

void LocalLibraryCacheTests::everyRecordIsFoundByItsId()
{
    QFETCH(int, count);
    QList<LocalLibraryItem> list;
    for (int n = 0; n < count; ++n)
        list.append(minimalLibraryItem(n));
    list.last().id = list[3].id; // an id stored twice
    for (const LocalLibraryCacheRecords &records :
         {LocalLibraryCacheRecords(list),
          LocalLibraryCacheRecords(list).changed({list[1].id}, {{0, list[0]}})}) {
        const bool removed = records.size() < count;
        const qsizetype shift = removed ? 1 : 0;
        for (qsizetype p = 0; p < records.size(); ++p) {
            const QList<qsizetype> found = records.positions(records.at(p).id);
            if (records.at(p).id == list[3].id)
                QCOMPARE(found, QList<qsizetype>({3 - shift, count - 1 - shift}));
            else
                QCOMPARE(found, QList<qsizetype>({p}));
        }
        QVERIFY(records.positions(QUuid::createUuid()).isEmpty());
        QCOMPARE(records.positions(list[1].id).isEmpty(), removed);
    }
}

void LocalLibraryCacheTests::changedCopiesMatchAPlainList_data()
{
    QTest::addColumn<int>("count");
    // Sizes around the boundaries of the storage the records are kept in.
    for (const int count : {0, 1, 15, 16, 17, 1023, 1024, 1025, 2048, 3000})
        QTest::addRow("%d records", count) << count;
}

void LocalLibraryCacheTests::changedCopiesMatchAPlainList()
{
    QFETCH(int, count);
    QRandomGenerator random(static_cast<quint32>(count) + 7);
    QList<LocalLibraryItem> model;
    for (int n = 0; n < count; ++n)
        model.append(minimalLibraryItem(n));
    LocalLibraryCacheRecords records(model);
    int next = count;
    for (int round = 0; round < 60; ++round) {
        const LocalLibraryCacheRecords before = records;
        const QList<LocalLibraryItem> modelBefore = model;

        QSet<QUuid> removed;
        if (round % 3 == 0) {
            for (int r = 0; r < 3 && !model.isEmpty(); ++r)
                removed.insert(model[random.bounded(static_cast<int>(model.size()))].id);
            removed.insert(QUuid::createUuid()); // not in the library
        }
        model.removeIf([&](const LocalLibraryItem &item) { return removed.contains(item.id); });
        QList<std::pair<qsizetype, LocalLibraryItem>> assignments;
        for (int a = random.bounded(4); a > 0 && !model.isEmpty(); --a) {
            const qsizetype position = random.bounded(static_cast<int>(model.size()));
            LocalLibraryItem item = model[position].replacingImportStatus(
                round % 2 ? LibraryItemImportStatus::Duplicate
                          : LibraryItemImportStatus::Uploading);
            model[position] = item;
            assignments.append({position, item});
        }
        for (int a = random.bounded(40); a > 0; --a) {
            model.append(minimalLibraryItem(next++));
            assignments.append({model.size() - 1, model.last()});
        }

        records = records.changed(removed, assignments);
        QCOMPARE(records.items(), model);
        QCOMPARE(before.items(), modelBefore); // the library it was made from is unchanged
        for (const qsizetype p : {qsizetype{0}, model.size() / 2, model.size() - 1}) {
            if (p >= 0 && p < model.size())
                QCOMPARE(records.positions(model[p].id), QList<qsizetype>({p}));
        }
        for (const QUuid &id : removed)
            QVERIFY(records.positions(id).isEmpty());
    }
}

void LocalLibraryCacheTests::readersSeeWholeLibraries()
{
    const LocalLibraryCache cache = store();
    // Every record takes each status, so a duplicate, which takes none, is left out.
    QList<LocalLibraryItem> library = items(40);
    for (LocalLibraryItem &item : library) {
        if (item.importStatus == LibraryItemImportStatus::Duplicate)
            item.importStatus = LibraryItemImportStatus::VerifiedBackup;
    }
    PELLWICK_VERIFY_SUCCESS(cache.writeItems(library));
    QSet<qint64> backendIDs;
    for (const LocalLibraryItem &item : library)
        backendIDs.insert(*item.backendLibraryItemID);
    PELLWICK_VERIFY_SUCCESS(cache.updateRestoreStatus(backendIDs, std::nullopt, {}));

    std::atomic<bool> stop = false;
    std::atomic<int> mixed = 0;
    std::atomic<int> reads = 0;
    std::thread reader([&] {
        while (!stop) {
            const LocalLibraryCacheRecords records = cache.cachedRecords().value();
            QSet<int> statuses;
            records.forEach([&](const LocalLibraryItem &item) {
                statuses.insert(item.restoreStatus ? int(*item.restoreStatus) : -1);
            });
            if (statuses.size() != 1 || records.size() != 40)
                ++mixed;
            ++reads;
        }
    });
    for (int round = 0; round < 30; ++round) {
        const auto status = static_cast<RestoreRequestStatus>(round % 5);
        PELLWICK_VERIFY_SUCCESS(cache.updateRestoreStatus(backendIDs, status, {}));
    }
    QTRY_VERIFY(reads > 0);
    stop = true;
    reader.join();
    QCOMPARE(mixed.load(), 0);
}

void LocalLibraryCacheTests::firstLoadDuringAWholeWriteSeesOneLibrary_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QList<LocalLibraryItem>>("written");
    QTest::newRow("read, larger library") << "read" << items(5, 10);
    QTest::newRow("search, empty library") << "search" << QList<LocalLibraryItem>();
    QTest::newRow("records, one record") << "records" << items(1, 20);
}

void LocalLibraryCacheTests::firstLoadDuringAWholeWriteSeesOneLibrary()
{
    QFETCH(QString, reader);
    QFETCH(QList<LocalLibraryItem>, written);

    // The library on disk is a file plus a journal entry.
    {
        const LocalLibraryCache first = store();
        PELLWICK_VERIFY_SUCCESS(first.writeItems(items(3)));
        PELLWICK_VERIFY_SUCCESS(first.appendItems(items(1, 3)));
    }
    const QList<LocalLibraryItem> before = items(4);

    // The first load stops while it reads the files (at the journal's stamp) and lets a whole
    // write run meanwhile, if the store lets it: the files and what the load records of them
    // would then disagree.
    auto files = std::make_shared<FaultInjectingFileManager>();
    std::mutex mutex;
    std::condition_variable changed;
    bool loadPaused = false;
    bool wrote = false;
    bool wroteWhileLoading = false;
    std::thread::id readerThread;
    files->beforeOperation(FileOperation::AttributesOfItem,
                           QStringLiteral("library-items.j"),
                           [&](const QString &path) {
                               std::unique_lock guard(mutex);
                               if (std::this_thread::get_id() == readerThread) {
                                   if (loadPaused || !path.endsWith(QStringLiteral(".journal")))
                                       return;
                                   loadPaused = true;
                                   changed.notify_all();
                                   changed.wait_for(
                                       guard, std::chrono::seconds(1), [&] { return wrote; });
                                   wroteWhileLoading = wrote;
                               } else if (path.endsWith(QStringLiteral("/library-items.json"))) {
                                   wrote = true; // the writer stamps the files it wrote
                                   changed.notify_all();
                               }
                           });
    const LocalLibraryCache cache = store(files);

    std::optional<QList<LocalLibraryItem>> seen;
    std::thread readerRun([&] {
        {
            const std::lock_guard guard(mutex);
            readerThread = std::this_thread::get_id();
        }
        if (reader == QLatin1String("read")) {
            seen = cache.readItems().value_or(QList<LocalLibraryItem>{});
        } else if (reader == QLatin1String("search")) {
            LocalLibrarySearchQuery everything;
            everything.duplicateVisibility = LocalLibraryDuplicateVisibility::Included;
            const Result<LocalLibrarySearchResult> found = cache.search(everything);
            seen = found ? found->items() : QList<LocalLibraryItem>{};
        } else {
            seen = cache.cachedRecords()
                       .map([](const auto &r) { return r.items(); })
                       .value_or(QList<LocalLibraryItem>{});
        }
    });
    {
        std::unique_lock guard(mutex);
        QVERIFY(changed.wait_for(guard, std::chrono::seconds(10), [&] { return loadPaused; }));
    }
    Result<void> write;
    std::thread writerRun([&] { write = cache.writeItems(written); });
    readerRun.join();
    writerRun.join();

    PELLWICK_VERIFY_SUCCESS(write);
    QVERIFY2(!wroteWhileLoading, "the files were replaced while a first load read them");
    QVERIFY(seen);
    QVERIFY2(*seen == before || *seen == written,
             qPrintable(QStringLiteral("a load saw %1 records").arg(seen->size())));
    QCOMPARE(cache.readItems().value(), written);
    QCOMPARE(reloaded(), written);
    PELLWICK_VERIFY_SUCCESS(cache.appendItems(items(1, 30)));
    QCOMPARE(reloaded(), written + items(1, 30));
}

void LocalLibraryCacheTests::previewPaths_data()
{
    QTest::addColumn<QString>("canonicalFilename");
    QTest::addColumn<bool>("named");
    QTest::addColumn<QString>("relativePath"); // empty: preview failed
    QTest::addColumn<bool>("absolute");

    QTest::newRow("RAW name keeps its extension")
        << "2024-05-01_IMG_1.CR3" << true << "previews/2024-05-01_IMG_1.CR3.jpg" << true;
    QTest::newRow("name with a slash")
        << "../../etc/passwd" << false << "previews/../x.jpg" << false;
    QTest::newRow("dot dot") << ".." << false << "previews/a/b.jpg" << false;
    QTest::newRow("empty name") << "" << false << "elsewhere/a.jpg" << false;
    QTest::newRow("failed preview") << "a.NEF" << true << "" << false;
}

void LocalLibraryCacheTests::previewPaths()
{
    QFETCH(QString, canonicalFilename);
    QFETCH(bool, named);
    QFETCH(QString, relativePath);
    QFETCH(bool, absolute);

    const LocalLibraryCache cache = store();
    QCOMPARE(cache.previewURL(canonicalFilename),
             named ? std::optional(m_root + QStringLiteral("/previews/") + canonicalFilename
                                   + QStringLiteral(".jpg"))
                   : std::nullopt);
    LocalLibraryItem item = minimalLibraryItem(1);
    if (!relativePath.isEmpty())
        item.preview = LocalPreviewState::available(relativePath);
    QCOMPARE(cache.absolutePreviewURL(item),
             absolute ? std::optional(m_root + QLatin1Char('/') + relativePath) : std::nullopt);
}

QTEST_GUILESS_MAIN(LocalLibraryCacheTests)
#include "LocalLibraryCacheTests.moc"
