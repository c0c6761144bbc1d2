#include "PackageRemovalScene.h"

#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Import/IngestCachePackageRemover.h>
#include <PellwickCore/Support/UuidText.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <latch>
#include <thread>

#include <Support/BackendReplies.h>
#include <Support/ChildProcess.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/KillPoints.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// Answers cancels from a table of statuses by backend id (204 when not listed); records calls.
class ScriptedCancelling final : public VerifiedBackupImportCancelling
{
public:
    QHash<qint64, int> statuses;
    mutable QList<qint64> calls;

    Result<void> cancelVerifiedBackupImport(const QString &token,
                                            qint64 libraryItemID,
                                            std::stop_token) const override
    {
        Q_ASSERT(token == QStringLiteral("token"));
        calls.append(libraryItemID);
        const int status = statuses.value(libraryItemID, 204);
        if (status == 204)
            return {};
        return tl::unexpected<Error>(unexpectedStatusError(status));
    }
};

} // namespace

/// Library records given as "label status backendID|- package stagedFolder [meanwhile]":
/// package "raw", "raw+xmp", "none", "shared" (the RAW original of the record before it) or
/// "linked" (its RAW original and sidecar, named through a symbolic link to the cache);
/// stagedFolder "yes" or "no" (or a staging phase, see `writeScene`). A record marked "meanwhile"
/// (new, or a label's record changed) is stored by another writer holding the library's
/// exclusive access while the removal runs, from its first look at the Staging Area on. Every
/// label's files lie in the cache at "<label>/<label>.CR3" and ".xmp".
class IngestCachePackageRemoverTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void removal_data();
    void removal();
    void failureLeavesTheRestForTheNextCall_data();
    void failureLeavesTheRestForTheNextCall();
    void cancelsOverHttp();
    void removalKilledAtAnyOperationCompletesOnRetry();

private:
    QList<LocalLibraryItem> writeScene(const QStringList &layouts);
    IngestCachePackageRemover remover(std::shared_ptr<const VerifiedBackupImportCancelling> api,
                                      std::shared_ptr<const FileManager> fileManager
                                      = std::make_shared<LocalFileManager>()) const;
    IngestCachePackageRemover remover(std::shared_ptr<const VerifiedBackupImportCancelling> api,
                                      const LocalLibraryCache &library) const;
    QStringList remainingLabels() const;
    QStringList stagedLabels() const;
    QSet<QUuid> idsOf(const QStringList &labels) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_cache;
    QString m_staging;
    QString m_library;
    QList<LocalLibraryItem> m_records;
    /// The records stored before the removal, when some are stored meanwhile.
    std::optional<QList<LocalLibraryItem>> m_recordsBefore;
};

void IngestCachePackageRemoverTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>(
        killTestDirectoryTemplate(u"IngestCachePackageRemoverTests"_s));
    QVERIFY(m_dir->isValid());
    m_cache = m_dir->filePath(u"cache"_s);
    m_staging = m_dir->filePath(u"staging"_s);
    m_library = m_dir->filePath(u"library"_s);
    QVERIFY(QDir().mkpath(m_cache));
    m_records.clear();
    m_recordsBefore.reset();
}

QList<LocalLibraryItem> IngestCachePackageRemoverTests::writeScene(const QStringList &layouts)
{
    for (const QString &layout : layouts) {
        const QStringList words = layout.split(QLatin1Char(' '));
        const QString label = words.at(0);
        const bool meanwhile = words.size() > 5 && words.at(5) == u"meanwhile"_s;
        if (meanwhile && !m_recordsBefore)
            m_recordsBefore = m_records;
        const auto changed = std::find_if(m_records.begin(), m_records.end(), [&](const auto &r) {
            return r.originalFilename == label;
        });
        const int n = static_cast<int>(changed - m_records.begin());
        LocalLibraryItem item = minimalLibraryItem(n);
        item.originalFilename = label;
        item.importStatus = *libraryItemImportStatusFromRaw(words.at(1));
        if (words.at(2) != u"-"_s)
            item.backendLibraryItemID = words.at(2).toLongLong();
        const QString raw = m_cache + QLatin1Char('/') + label + QLatin1Char('/') + label;
        if (words.at(3) == u"shared"_s) {
            item.ingestCacheOriginalURL = m_records.last().ingestCacheOriginalURL;
        } else if (words.at(3) == u"linked"_s) {
            const QString link = m_dir->filePath(u"cache-link"_s);
            QFile::link(m_cache, link);
            const LocalLibraryItem &before = m_records.last();
            item.ingestCacheOriginalURL = link + before.ingestCacheOriginalURL->mid(m_cache.size());
            item.ingestCacheSidecarURL = link + before.ingestCacheSidecarURL->mid(m_cache.size());
        } else if (words.at(3) != u"none"_s) {
            item.ingestCacheOriginalURL = raw + u".CR3"_s;
            writeFile(raw + u".CR3"_s, patternBytes(100, 1));
        }
        if (words.at(3) == u"raw+xmp"_s) {
            item.ingestCacheSidecarURL = raw + u".xmp"_s;
            writeFile(raw + u".xmp"_s, patternBytes(10, 2));
        }
        // "verifiedBackup" or "duplicate": one Staging Area folder whose whole record ended so
        // under the backend id (the library may have missed it); "yes" and "twice": one or two
        // folders of an import under way; "no": none.
        const int folders = words.at(4) == u"twice"_s ? 2 : words.at(4) == u"no"_s ? 0 : 1;
        const std::optional<StagedImportPhase> phase
            = words.at(4) == u"yes"_s || words.at(4) == u"twice"_s
                  ? std::optional(StagedImportPhase::Uploading)
                  : stagedImportPhaseFromRaw(words.at(4));
        for (int i = 0; i < folders && phase; ++i) {
            const QString folder = uuidText(QUuid::createUuid());
            writeFile(m_staging + QLatin1Char('/') + folder + u"/"_s + label + u".CR3"_s,
                      patternBytes(100, 1));
            StagedImportRecord record;
            record.localLibraryItemID = item.id;
            record.backendLibraryItemID = item.backendLibraryItemID;
            record.originalFilename = label + u".CR3"_s;
            record.canonicalFilename = record.originalFilename;
            record.contentHash = item.contentHash;
            record.byteCount = 100;
            record.stagedOriginalRelativePath = folder + u"/"_s + label + u".CR3"_s;
            record.phase = *phase;
            if (!StagingArea(m_staging,
                             std::make_shared<LocalFileManager>(),
                             std::make_shared<SHA256ContentHasher>())
                     .writeRecord(record))
                qFatal("cannot write the staging record");
        }
        if (changed != m_records.end())
            *changed = item;
        else
            m_records.append(item);
    }
    const LocalLibraryCache cache(m_library, std::make_shared<LocalFileManager>());
    if (!cache.writeItems(m_recordsBefore.value_or(m_records)))
        qFatal("cannot write the library");
    return m_records;
}

IngestCachePackageRemover
IngestCachePackageRemoverTests::remover(std::shared_ptr<const VerifiedBackupImportCancelling> api,
                                        std::shared_ptr<const FileManager> fileManager) const
{
    const auto hasher = std::make_shared<SHA256ContentHasher>();
    return IngestCachePackageRemover(LocalLibraryCache(m_library, fileManager),
                                     StagingArea(m_staging, fileManager, hasher),
                                     IngestCache(m_cache, fileManager, hasher),
                                     std::move(api));
}

IngestCachePackageRemover
IngestCachePackageRemoverTests::remover(std::shared_ptr<const VerifiedBackupImportCancelling> api,
                                        const LocalLibraryCache &library) const
{
    const auto hasher = std::make_shared<SHA256ContentHasher>();
    return IngestCachePackageRemover(library,
                                     StagingArea(m_staging, library.fileManager(), hasher),
                                     IngestCache(m_cache, library.fileManager(), hasher),
                                     std::move(api));
}

QStringList IngestCachePackageRemoverTests::remainingLabels() const
{
    QStringList labels;
    const LocalLibraryCache cache(m_library, std::make_shared<LocalFileManager>());
    const QList<LocalLibraryItem> items = cache.readItems().value();
    for (const LocalLibraryItem &item : items)
        labels.append(item.originalFilename);
    return labels;
}

QStringList IngestCachePackageRemoverTests::stagedLabels() const
{
    QStringList labels;
    for (const QString &folder : QDir(m_staging).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString state = m_staging + QLatin1Char('/') + folder + u"/import-state.json"_s;
        const std::optional<QUuid> id = StagingArea::localLibraryItemID(readFile(state));
        for (const LocalLibraryItem &item : m_records) {
            if (id == item.id)
                labels.append(item.originalFilename);
        }
    }
    labels.sort();
    return labels;
}

QSet<QUuid> IngestCachePackageRemoverTests::idsOf(const QStringList &labels) const
{
    QSet<QUuid> ids;
    for (const LocalLibraryItem &item : m_records) {
        if (labels.contains(item.originalFilename))
            ids.insert(item.id);
    }
    return ids;
}

void IngestCachePackageRemoverTests::removal_data()
{
    QTest::addColumn<QStringList>("layouts");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QList<int>>("failingIDs"); // answered 404 for ids below 100, else 500
    QTest::addColumn<QStringList>("expectedRemoved");
    QTest::addColumn<QList<qint64>>("expectedCalls");
    QTest::addColumn<int>("expectedStatus"); // 0 for success

    const QStringList others = texts({"v verifiedBackup 1 raw yes",
                                      "c cleanupPending 2 raw yes",
                                      "d duplicate 3 raw yes",
                                      "u uploading 4 raw+xmp yes",
                                      "w verifying 5 raw yes",
                                      "n staging - none yes",
                                      "m needsAttention 6 none no"});
    QTest::newRow("empty selection")
        << others << QStringList{} << QList<int>{} << QStringList{} << QList<qint64>{} << 0;
    QTest::newRow("items that do not qualify")
        << others << texts({"v", "c", "d", "u", "w", "n", "m", "unknown"}) << QList<int>{}
        << QStringList{} << QList<qint64>{} << 0;
    QTest::newRow("ready item without backend id")
        << texts({"a staging - raw+xmp yes", "b staging - raw+xmp yes"}) << texts({"a"})
        << QList<int>{} << texts({"a"}) << QList<qint64>{} << 0;
    QTest::newRow("needs attention, backend answers 404")
        << texts({"a needsAttention 7 raw+xmp yes"}) << texts({"a"}) << QList<int>{7}
        << texts({"a"}) << QList<qint64>{7} << 0;
    QTest::newRow("500 for the second of three") << texts(
        {"a staging 1 raw yes", "b needsAttention 200 raw+xmp yes", "c staging 3 raw+xmp yes"})
                                                 << texts({"a", "b", "c"}) << QList<int>{200}
                                                 << texts({"a"}) << QList<qint64>{1, 200} << 500;
    QTest::newRow("without Staging Area folder")
        << texts({"a needsAttention - raw+xmp no"}) << texts({"a"}) << QList<int>{} << texts({"a"})
        << QList<qint64>{} << 0;
    QTest::newRow("backend id no staging of this machine holds (a rebuilt record): never cancelled")
        << texts({"a staging 8 raw+xmp no", "b needsAttention 9 raw yes"}) << texts({"a", "b"})
        << QList<int>{} << texts({"a", "b"}) << QList<qint64>{9} << 0;
    QTest::newRow("without sidecar")
        << texts({"a staging - raw yes", "b staging - raw yes"}) << texts({"a", "b"})
        << QList<int>{} << texts({"a", "b"}) << QList<qint64>{} << 0;
    QTest::newRow("staged twice: both stagings go")
        << texts({"a needsAttention 9 raw twice", "b staging - raw twice"}) << texts({"a"})
        << QList<int>{} << texts({"a"}) << QList<qint64>{9} << 0;
    QTest::newRow("backend item a verified record holds: never cancelled")
        << texts({"v verifiedBackup 7 raw yes",
                  "a needsAttention 7 raw+xmp yes",
                  "b needsAttention 8 raw yes"})
        << texts({"a", "b"}) << QList<int>{} << texts({"a", "b"}) << QList<qint64>{8} << 0;
    QTest::newRow("backend item a cleanup-pending or duplicate record holds: never cancelled")
        << texts({"c cleanupPending 7 raw yes",
                  "d duplicate 9 raw yes",
                  "a needsAttention 7 raw yes",
                  "b staging 9 raw yes"})
        << texts({"a", "b"}) << QList<int>{} << texts({"a", "b"}) << QList<qint64>{} << 0;
    QTest::newRow("backend item a staging ended verified or duplicate under: never cancelled")
        << texts({"a needsAttention 7 raw verifiedBackup",
                  "b needsAttention 8 raw duplicate",
                  "c needsAttention 9 raw yes"})
        << texts({"a", "b", "c"}) << QList<int>{} << texts({"a", "b", "c"}) << QList<qint64>{9}
        << 0;
    QTest::newRow("backend item only removed records hold: cancelled")
        << texts({"a needsAttention 7 raw yes", "b staging 7 raw yes", "u uploading 7 raw yes"})
        << texts({"a", "b"}) << QList<int>{} << texts({"a", "b"}) << QList<qint64>{7, 7} << 0;
    QTest::newRow("file another record still names")
        << texts({"old needsAttention - raw+xmp yes", "new staging - shared no"}) << texts({"old"})
        << QList<int>{} << texts({"old"}) << QList<qint64>{} << 0;
    QTest::newRow("file another record names through a symbolic link")
        << texts({"old needsAttention - raw+xmp yes", "new staging - linked no"}) << texts({"old"})
        << QList<int>{} << texts({"old"}) << QList<qint64>{} << 0;
    QTest::newRow("file a record stored meanwhile names (a reconciliation's)")
        << texts({"old staging - raw+xmp no", "new staging - shared no meanwhile"})
        << texts({"old"}) << QList<int>{} << texts({"old"}) << QList<qint64>{} << 0;
    QTest::newRow("record linked meanwhile to its archived item (a rebuild's)")
        << texts({"a staging - raw+xmp no", "a verifiedBackup 7 raw+xmp no meanwhile"})
        << texts({"a"}) << QList<int>{} << QStringList{} << QList<qint64>{} << 0;
    QTest::newRow("both records of a shared file")
        << texts({"old needsAttention - raw yes", "new staging - shared yes"})
        << texts({"old", "new"}) << QList<int>{} << texts({"new", "old"}) << QList<qint64>{} << 0;
}

void IngestCachePackageRemoverTests::removal()
{
    QFETCH(QStringList, layouts);
    QFETCH(QStringList, selected);
    QFETCH(QList<int>, failingIDs);
    QFETCH(QStringList, expectedRemoved);
    QFETCH(QList<qint64>, expectedCalls);
    QFETCH(int, expectedStatus);

    const QList<LocalLibraryItem> records = writeScene(layouts);
    const QMap<QString, QString> cacheBefore = fileManifest(m_cache);
    const QStringList stagedBefore = stagedLabels();
    const QString realCache = QFileInfo(m_cache).canonicalFilePath();
    QHash<QString, QString> cachePaths; // by each spelling, while the files are there
    for (const LocalLibraryItem &item : records)
        for (const auto &url : {item.ingestCacheOriginalURL, item.ingestCacheSidecarURL})
            if (url)
                cachePaths.insert(
                    *url, QDir(realCache).relativeFilePath(QFileInfo(*url).canonicalFilePath()));
    auto api = std::make_shared<ScriptedCancelling>();
    for (const int id : failingIDs)
        api->statuses.insert(id, id < 100 ? 404 : 500);

    const auto files = std::make_shared<FaultInjectingFileManager>();
    const LocalLibraryCache library(m_library, files);
    std::latch holding(1), stored(1);
    std::thread writer;
    if (m_recordsBefore) {
        writer = std::thread([&] {
            (void) library.withExclusiveAccess([&] {
                holding.count_down();
                stored.wait();
                return library.writeItemsLocked(m_records);
            });
        });
        holding.wait();
        files->beforeOperation(FileOperation::FileExists, m_staging, [&](const QString &) {
            if (!std::exchange(m_recordsBefore, std::nullopt))
                return;
            stored.count_down();
        });
    }
    const Result<QSet<QUuid>> removed
        = remover(api, library).removePackages(idsOf(selected), u"token"_s);
    if (std::exchange(m_recordsBefore, std::nullopt))
        stored.count_down(); // the removal never looked
    if (writer.joinable())
        writer.join();
    if (expectedStatus) {
        QVERIFY(!removed);
        QCOMPARE(removed.error(), unexpectedStatusError(expectedStatus));
    } else {
        PELLWICK_VERIFY_SUCCESS(removed);
        QCOMPARE(*removed, idsOf(expectedRemoved));
    }
    QCOMPARE(api->calls, expectedCalls);

    // Removed items leave nothing behind but files other records still name; the rest is as it was.
    QSet<QString> stillNamed;
    QStringList expectedRemaining, expectedStaged;
    for (const LocalLibraryItem &item : records) {
        if (expectedRemoved.contains(item.originalFilename))
            continue;
        expectedRemaining.append(item.originalFilename);
        for (const QString &label : stagedBefore)
            if (label == item.originalFilename)
                expectedStaged.append(label);
        for (const auto &url : {item.ingestCacheOriginalURL, item.ingestCacheSidecarURL}) {
            if (url)
                stillNamed.insert(cachePaths.value(*url));
        }
    }
    QMap<QString, QString> expectedCache;
    for (auto it = cacheBefore.cbegin(); it != cacheBefore.cend(); ++it) {
        if (stillNamed.contains(it.key()))
            expectedCache.insert(it.key(), it.value());
    }
    expectedStaged.sort();
    QCOMPARE(remainingLabels(), expectedRemaining);
    QCOMPARE(stagedLabels(), expectedStaged);
    QCOMPARE(fileManifest(m_cache), expectedCache);
}

void IngestCachePackageRemoverTests::failureLeavesTheRestForTheNextCall_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("pathFragment");

    using F = FileOperation;
    QTest::newRow("Staging Area removal") << int(F::RemoveItem) << u"/b.CR3"_s;
    QTest::newRow("cache file removal") << int(F::RemoveItem) << u"cache/b/b.xmp"_s;
    // Neither stat nor lstat can tell whether the file is there: it is not known to be gone.
    QTest::newRow("cache file examination") << int(F::AttributesOfItem) << u"cache/b/b.xmp"_s;
    QTest::newRow("library write") << int(F::Write) << u"library-items"_s;
}

void IngestCachePackageRemoverTests::failureLeavesTheRestForTheNextCall()
{
    QFETCH(int, operation);
    QFETCH(QString, pathFragment);

    writeScene(texts({"a staging - raw+xmp yes",
                      "b staging - raw+xmp yes",
                      "c needsAttention - raw+xmp yes",
                      "k staging - raw+xmp yes"}));
    auto faults = std::make_shared<FaultInjectingFileManager>();
    if (operation == int(FileOperation::Write)) {
        // Only the second item's library write fails: armed once its cached files are gone.
        faults->beforeOperation(
            FileOperation::RemoveItem, u"cache/b/b.xmp"_s, [&](const QString &) {
                faults->failOperation(FileOperation::Write, EIO, pathFragment);
            });
    } else if (operation == int(FileOperation::AttributesOfItem)) {
        faults->failOperation(FileOperation::FileExists, EIO, pathFragment);
        faults->failOperation(FileOperation::AttributesOfItem, EIO, pathFragment);
    } else {
        faults->failOperation(FileOperation(operation), EIO, pathFragment);
    }
    const auto api = std::make_shared<ScriptedCancelling>();
    const QSet<QUuid> selected = idsOf(texts({"a", "b", "c"}));

    const Result<QSet<QUuid>> failed = remover(api, faults).removePackages(selected, u"token"_s);
    QVERIFY(!failed);
    QVERIFY(failed.error().is<FileSystemError>());
    QCOMPARE(failed.error().as<FileSystemError>()->code, EIO);
    QCOMPARE(remainingLabels(), texts({"b", "c", "k"}));
    QVERIFY(QFileInfo::exists(m_cache + u"/c/c.CR3"_s));
    QVERIFY(QFileInfo::exists(m_cache + u"/k/k.CR3"_s));
    QVERIFY(!QFileInfo::exists(m_cache + u"/a"_s));
    QVERIFY(stagedLabels().contains(u"c"_s));

    // The next call finishes the partly removed item and removes the rest.
    const Result<QSet<QUuid>> retried = remover(api).removePackages(selected, u"token"_s);
    PELLWICK_VERIFY_SUCCESS(retried);
    QCOMPARE(*retried, idsOf(texts({"b", "c"})));
    QCOMPARE(remainingLabels(), texts({"k"}));
    QCOMPARE(stagedLabels(), texts({"k"}));
    QCOMPARE(fileManifest(m_cache).keys(), texts({"k/k.CR3", "k/k.xmp"}));
}

void IngestCachePackageRemoverTests::cancelsOverHttp()
{
    CurlFetch::initializeGlobally();
    TestBackend backend;
    TestBackend::Account newAccount;
    newAccount.email = u"ana@example.test"_s;
    newAccount.password = u"secret password"_s;
    const TestBackend::Account account = backend.addAccount(newAccount);
    const QString token = backend.issueToken(account.email);
    writeScene(texts({"a needsAttention 11 raw yes",
                      "b needsAttention 12 raw yes",
                      "c needsAttention 13 raw yes"}));
    const QByteArray path
        = backend.baseURL().path().toUtf8() + "/api/library/verified_backup_uploads/";
    backend.injectFault("DELETE", path + "11", TestBackend::Fault::reply(204));
    backend.injectFault("DELETE", path + "12", TestBackend::Fault::reply(404));
    backend.injectFault("DELETE", path + "13", TestBackend::Fault::reply(500));
    const auto client = std::make_shared<LibrarySessionClient>(backend.baseURL(), CurlFetch());

    const Result<QSet<QUuid>> removed
        = remover(client).removePackages(idsOf(texts({"a", "b", "c"})), token);
    QVERIFY(!removed);
    QCOMPARE(removed.error(), unexpectedStatusError(500));
    QCOMPARE(remainingLabels(), texts({"c"}));
    QStringList deleted;
    for (const RecordedRequest &request : backend.requests()) {
        if (request.method == "DELETE") {
            deleted.append(QString::fromUtf8(request.path.mid(path.size())));
        }
    }
    QCOMPARE(deleted, texts({"11", "12", "13"}));
}

void IngestCachePackageRemoverTests::removalKilledAtAnyOperationCompletesOnRetry()
{
    const QString child = QStringLiteral(PELLWICK_PACKAGE_REMOVER_CRASH_CHILD);
    const auto scene = [&](int run) {
        PackageRemovalScene made{m_dir->filePath(u"run-"_s + QString::number(run))};
        made.write();
        return made;
    };
    const PackageRemovalScene whole = scene(0);
    QCOMPARE(runChildProcess(child, {whole.root}).exitCode, 0);
    const int operations = readFile(whole.root + u"/operations"_s).toInt();
    QVERIFY(operations > 10);

    const auto hasher = std::make_shared<SHA256ContentHasher>();
    const auto fileManager = std::make_shared<LocalFileManager>();
    for (const int killAt : killPoints(operations)) {
        const PackageRemovalScene interrupted = scene(killAt);
        const QList<LocalLibraryItem> records = interrupted.records();
        const QMap<QString, QString> keptFiles = [&] {
            QMap<QString, QString> files = fileManifest(interrupted.cache());
            files.remove(u"b/sel1.CR3"_s);
            files.remove(u"b/sel1.xmp"_s);
            files.remove(u"b/sel2.CR3"_s);
            files.remove(u"b/sel2.xmp"_s);
            return files;
        }();
        const ChildRun run = runChildProcess(child, {interrupted.root, QString::number(killAt)});
        QVERIFY2(run.killed, qPrintable(QString::number(killAt)));
        for (const QString &kept : keptFiles.keys())
            QVERIFY2(QFileInfo::exists(interrupted.cache() + u"/"_s + kept), qPrintable(kept));

        const IngestCachePackageRemover retry(
            LocalLibraryCache(interrupted.library(), fileManager),
            StagingArea(interrupted.staging(), fileManager, hasher),
            IngestCache(interrupted.cache(), fileManager, hasher),
            std::make_shared<ScriptedCancelling>());
        const Result<QSet<QUuid>> removed
            = retry.removePackages(PackageRemovalScene::selectedIDs(), u"token"_s);
        PELLWICK_VERIFY_SUCCESS(removed);
        const LocalLibraryCache library(interrupted.library(), fileManager);
        QCOMPARE(library.readItems().value(), (QList{records.at(1), records.at(4)}));
        QCOMPARE(fileManifest(interrupted.cache()), keptFiles);
        // A kill between the record's removal and its folder's may leave an empty folder, which
        // recovery ignores; only the kept packages still have records.
        QStringList recorded;
        for (const QString &folder :
             QDir(interrupted.staging()).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (QFileInfo::exists(interrupted.staging() + u"/"_s + folder
                                  + u"/import-state.json"_s))
                recorded.append(folder);
        }
        QCOMPARE(recorded.size(), 2);
    }
}

QTEST_GUILESS_MAIN(IngestCachePackageRemoverTests)
#include "IngestCachePackageRemoverTests.moc"
