#include <PellwickApp/Workflows/UserManagedIngestCacheRefreshWorker.h>
#include <PellwickCore/Ingest/ContentHashing.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

#include <Support/FaultInjectingFileManager.h>
#include <Support/ImporterFakes.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <sys/syscall.h>
#include <unistd.h>

Q_DECLARE_METATYPE(Pellwick::IngestCacheReconciliation)

using namespace Pellwick;
using namespace Pellwick::Test;

namespace {

/// True once the thread sleeps in a futex wait, that is, on a lock.
bool isWaitingOnLock(pid_t thread)
{
    QFile file(QStringLiteral("/proc/self/task/%1/syscall").arg(thread));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll().split(' ').value(0).toLong() == SYS_futex;
}

} // namespace

/// A library holding one archived record, and an Ingest Cache whose RAW originals are given by
/// path relative to its root. A library record is summarised as "filename:status".
class UserManagedIngestCacheRefreshWorkerTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void reconcile_data();
    void reconcile();
    void scanFailureIsPassedOnAndWritesNothing();
    void moveDuringTheWaitForTheLibraryMakesTheResultStale();

private:
    UserManagedIngestCacheRefreshWorker worker(qint64 generation) const;
    QStringList summary() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_cacheRoot;
    QString m_libraryRoot;
    std::shared_ptr<FaultInjectingFileManager> m_scanFiles;
    std::shared_ptr<IngestCacheRefreshGeneration> m_generation;
    std::optional<LocalLibraryCache> m_library; ///< the store the workers share
};

void UserManagedIngestCacheRefreshWorkerTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_cacheRoot = m_dir->filePath(QStringLiteral("Pellwick Ingest Cache"));
    m_libraryRoot = m_dir->filePath(QStringLiteral("LocalLibraryCache"));
    QVERIFY(QDir().mkpath(m_cacheRoot));
    m_scanFiles = std::make_shared<FaultInjectingFileManager>();
    m_generation = std::make_shared<IngestCacheRefreshGeneration>();

    LocalLibraryItem archived = minimalLibraryItem(1);
    archived.importStatus = LibraryItemImportStatus::VerifiedBackup;
    m_library.emplace(m_libraryRoot, std::make_shared<LocalFileManager>());
    PELLWICK_VERIFY_SUCCESS(m_library->writeItems({archived}));
}

UserManagedIngestCacheRefreshWorker
UserManagedIngestCacheRefreshWorkerTests::worker(qint64 generation) const
{
    const auto files = std::make_shared<LocalFileManager>();
    return UserManagedIngestCacheRefreshWorker(
        IngestCache(m_cacheRoot, files, std::make_shared<SHA256ContentHasher>()),
        *m_library,
        ImportReviewBuilder(m_scanFiles),
        std::make_shared<FixedMetadataExtractor>(PhotoMetadata{}),
        m_generation,
        generation);
}

QStringList UserManagedIngestCacheRefreshWorkerTests::summary() const
{
    // A fresh store reads what is on disk, not what the worker's store holds in memory.
    const LocalLibraryCache library(m_libraryRoot, std::make_shared<LocalFileManager>());
    const Result<QList<LocalLibraryItem>> items = library.readItems();
    if (!items)
        return {QStringLiteral("unreadable: ") + describe(items.error())};
    QStringList lines;
    for (const LocalLibraryItem &item : *items)
        lines.append(item.originalFilename + QLatin1Char(':') + toRaw(item.importStatus));
    return lines;
}

void UserManagedIngestCacheRefreshWorkerTests::reconcile_data()
{
    QTest::addColumn<QStringList>("cacheFiles");
    QTest::addColumn<QStringList>("interruptedFolders");
    QTest::addColumn<bool>("rootDeleted");
    QTest::addColumn<int>("counter");
    QTest::addColumn<int>("generation");
    QTest::addColumn<IngestCacheReconciliation>("expected");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<bool>("scanned");

    const QString archived = QStringLiteral("IMG_0001.CR3:verifiedBackup");
    const QStringList untouched{archived};

    QTest::newRow("a file copied in by another tool")
        << texts({"2026-12-01/Card/a.CR3"}) << QStringList() << false << 0 << 0
        << IngestCacheReconciliation{1, 0, true}
        << QStringList{archived, QStringLiteral("a.CR3:staging")} << true;
    QTest::newRow("a batch folder with an interrupted copy is blocked")
        << texts({"2026-12-01/Card/a.CR3", "2026-12-02/Card/b.CR3"}) << texts({"2026-12-02"})
        << false << 0 << 0 << IngestCacheReconciliation{2, 0, true}
        << QStringList{archived,
                       QStringLiteral("a.CR3:staging"),
                       QStringLiteral("b.CR3:needsAttention")}
        << true;
    QTest::newRow("the current generation after moves")
        << texts({"b/a.CR3"}) << QStringList() << false << 4 << 4
        << IngestCacheReconciliation{1, 0, true}
        << QStringList{archived, QStringLiteral("a.CR3:staging")} << true;
    QTest::newRow("a stale generation writes nothing")
        << texts({"b/a.CR3"}) << QStringList() << false << 4 << 3
        << IngestCacheReconciliation{0, 0, false} << untouched << true;
    QTest::newRow("a deleted root gives nothing, applied, unscanned")
        << texts({"b/a.CR3"}) << QStringList() << true << 0 << 0
        << IngestCacheReconciliation{0, 0, true} << untouched << false;
}

void UserManagedIngestCacheRefreshWorkerTests::reconcile()
{
    QFETCH(QStringList, cacheFiles);
    QFETCH(QStringList, interruptedFolders);
    QFETCH(bool, rootDeleted);
    QFETCH(int, counter);
    QFETCH(int, generation);
    QFETCH(IngestCacheReconciliation, expected);
    QFETCH(QStringList, records);
    QFETCH(bool, scanned);

    for (qsizetype i = 0; i < cacheFiles.size(); ++i)
        writeFile(m_cacheRoot + QLatin1Char('/') + cacheFiles.at(i),
                  patternBytes(2048 + i, static_cast<quint32>(i + 7)));
    const IngestCache cache(
        m_cacheRoot, std::make_shared<LocalFileManager>(), std::make_shared<SHA256ContentHasher>());
    for (const QString &folder : interruptedFolders) {
        PELLWICK_VERIFY_SUCCESS(cache.writeIncompleteCopyMarker(
            m_cacheRoot + QLatin1Char('/') + folder, IncompleteCopyMarker{}));
    }
    if (rootDeleted)
        QVERIFY(QDir(m_cacheRoot).removeRecursively());
    while (m_generation->value() < counter)
        m_generation->advance();
    const QMap<QString, QString> libraryBefore = fileManifest(m_libraryRoot);

    const Result<IngestCacheReconciliation> result = worker(generation).reconcile();

    PELLWICK_VERIFY_SUCCESS(result);
    QCOMPARE(*result, expected);
    QCOMPARE(summary(), records);
    if (!expected.didApply || expected.addedCount == 0)
        QCOMPARE(fileManifest(m_libraryRoot), libraryBefore); // byte for byte
    QCOMPARE(!m_scanFiles->log().isEmpty(), scanned);
}

void UserManagedIngestCacheRefreshWorkerTests::scanFailureIsPassedOnAndWritesNothing()
{
    writeFile(m_cacheRoot + QStringLiteral("/2026-12-01/Card/a.CR3"), patternBytes(2048, 7));
    m_scanFiles->failOperation(FileOperation::EntriesOfDirectory, EIO, QStringLiteral("/Card"));
    m_scanFiles->failOperation(FileOperation::ContentsOfDirectory, EIO, QStringLiteral("/Card"));
    const QMap<QString, QString> libraryBefore = fileManifest(m_libraryRoot);

    const Result<IngestCacheReconciliation> result = worker(0).reconcile();

    QVERIFY(!result);
    QVERIFY2(result.error().as<FileSystemError>(), qPrintable(describe(result.error())));
    QCOMPARE(result.error().as<FileSystemError>()->code, EIO);
    QCOMPARE(fileManifest(m_libraryRoot), libraryBefore);
}

void UserManagedIngestCacheRefreshWorkerTests::moveDuringTheWaitForTheLibraryMakesTheResultStale()
{
    writeFile(m_cacheRoot + QStringLiteral("/b/a.CR3"), patternBytes(2048, 7));
    const QMap<QString, QString> libraryBefore = fileManifest(m_libraryRoot);
    const UserManagedIngestCacheRefreshWorker refresh = worker(0);

    std::optional<Result<IngestCacheReconciliation>> result;
    std::atomic<pid_t> workerThread = 0;
    bool sawWorkerWaiting = false;
    std::thread thread;
    // As the cache move does: advance the generation while holding the library's exclusive
    // access, after the worker finished its scan and waits for that access.
    const Result<void> held = m_library->withExclusiveAccess([&]() -> Result<void> {
        thread = std::thread([&] {
            workerThread = static_cast<pid_t>(::syscall(SYS_gettid));
            result.emplace(refresh.reconcile());
        });
        // A wait seen many times in a row is the wait for the library, not a passing one.
        const QDeadlineTimer deadline(10000);
        int waitingSeen = 0;
        while (waitingSeen < 50 && !deadline.hasExpired()) {
            const bool waiting = workerThread != 0 && isWaitingOnLock(workerThread);
            waitingSeen = waiting ? waitingSeen + 1 : 0;
            QThread::yieldCurrentThread();
        }
        sawWorkerWaiting = waitingSeen == 50;
        m_generation->advance();
        return {};
    });
    thread.join();

    PELLWICK_VERIFY_SUCCESS(held);
    QVERIFY(sawWorkerWaiting);
    QVERIFY(result.has_value());
    PELLWICK_VERIFY_SUCCESS(*result);
    QCOMPARE(**result, (IngestCacheReconciliation{0, 0, false}));
    QCOMPARE(fileManifest(m_libraryRoot), libraryBefore);
}

QTEST_GUILESS_MAIN(UserManagedIngestCacheRefreshWorkerTests)
#include "UserManagedIngestCacheRefreshWorkerTests.moc"
