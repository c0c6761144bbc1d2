#include "CacheUpkeepFixture.h"

#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>

#include <cerrno>
#include <cstdio>

#include <Support/ContentHasherFakes.h>
#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Status = LibraryItemImportStatus;

class CacheCleanupWorkflowTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupAndRetry_data();
    void cleanupAndRetry();
};

struct CleanupCase
{
    Status first = Status::VerifiedBackup;
    /// Package 1 shares package 0's sidecar ("P0.xmp"), with this status, and names its files
    /// through a symbolic link to their folder when `throughLink`.
    std::optional<Status> sharing = {};
    bool throughLink = false;
    /// errno of a failing deletion of package 0, or of a failing library write (each once).
    int undeletable = 0;
    int libraryWriteFails = 0;
    /// Done to package 0: "edit", "deleteRaw", "hashFails", "outside", "move" (pending before
    /// the pass, or before the retry when undeletable), or "saveSidecar" (an editor saves the
    /// sidecar by rename as its RAW original is about to go).
    QString change = {};
    QList<int> removed = {0, 1, 2};
    qint64 pending = 0;
    Status firstAfter = Status::VerifiedBackup;
    /// Package 0 keeps its link and its files.
    bool firstKept = false;
    /// Package 0's Staging Area folder, left by its import in this phase; none when unset.
    std::optional<StagedImportPhase> staged = {};
    bool stagedKept = false;
    /// The library is loaded anew before the pass, from files a killed process may not have
    /// flushed.
    bool reopened = false;
};

Q_DECLARE_METATYPE(CleanupCase)

void CacheCleanupWorkflowTests::cleanupAndRetry_data()
{
    QTest::addColumn<CleanupCase>("c");
    const CleanupCase busy{.undeletable = EBUSY,
                           .removed = {1, 2},
                           .pending = 1,
                           .firstAfter = Status::CleanupPending,
                           .firstKept = true};
    CleanupCase denied = busy, duplicate = busy, moved = busy;
    denied.undeletable = EACCES;
    duplicate.first = duplicate.firstAfter = Status::Duplicate;
    moved.change = u"move"_s;
    QTest::newRow("one undeletable package of three (EBUSY)") << busy;
    QTest::newRow("one undeletable package of three (EACCES)") << denied;
    QTest::newRow("an undeletable duplicate stays a duplicate") << duplicate;
    QTest::newRow("a move during the retry ends it") << moved;
    QTest::newRow("a pass during a pending move")
        << CleanupCase{.change = u"move"_s, .removed = {}, .firstKept = true};
    QTest::newRow("cleanup pending with an edited RAW")
        << CleanupCase{.first = Status::CleanupPending, .change = u"edit"_s, .removed = {1, 2}};
    QTest::newRow("a hash failure") << CleanupCase{.change = u"hashFails"_s, .removed = {1, 2}};
    QTest::newRow("outside the active root")
        << CleanupCase{.change = u"outside"_s, .removed = {1, 2}};
    QTest::newRow("the leftover sidecar of a RAW deleted by hand")
        << CleanupCase{.change = u"deleteRaw"_s};
    QTest::newRow("a shared sidecar goes with the last package")
        << CleanupCase{.sharing = Status::VerifiedBackup};
    QTest::newRow("a shared sidecar stays for a package not archived")
        << CleanupCase{.sharing = Status::LocalCacheReady, .removed = {0, 2}};
    QTest::newRow("a shared sidecar stays for a package not archived naming it through a link")
        << CleanupCase{.sharing = Status::LocalCacheReady, .throughLink = true, .removed = {0, 2}};
    QTest::newRow("a sidecar saved anew between the check and the unlink stays")
        << CleanupCase{.change = u"saveSidecar"_s, .removed = {1, 2}};
    QTest::newRow("the library is flushed before anything is deleted")
        << CleanupCase{.reopened = true};
    QTest::newRow("a library write failing mid-pass")
        << CleanupCase{.first = Status::CleanupPending, .libraryWriteFails = EIO};
    QTest::newRow("the staged copies of a Verified Backup go")
        << CleanupCase{.staged = StagedImportPhase::VerifiedBackup};
    QTest::newRow("the staged copies of a package needing attention stay")
        << CleanupCase{.staged = StagedImportPhase::NeedsAttention, .stagedKept = true};
    CleanupCase busyStaged = busy;
    busyStaged.staged = StagedImportPhase::VerifiedBackup;
    busyStaged.stagedKept = true;
    QTest::newRow("the staged copies of a package still cached stay") << busyStaged;
}

void CacheCleanupWorkflowTests::cleanupAndRetry()
{
    QFETCH(CleanupCase, c);
    CacheUpkeepFixture fixture;
    const auto hasher = std::make_shared<CountingContentHasher>(true);
    fixture.contentHasher = hasher;
    if (c.change == u"hashFails")
        fixture.contentHasher = std::make_shared<FailingContentHasher>(
            u"P0.DNG"_s, FileSystemError{u"open"_s, {}, EIO});
    QList<LocalLibraryItem> items{
        fixture.addPackage(0, c.first, u"P%1.xmp"_s, c.change == u"outside" ? u"../out"_s : u"b"_s),
        fixture.addPackage(
            1,
            c.sharing.value_or(Status::VerifiedBackup),
            c.sharing ? u"P0.xmp"_s : u"P%1.xmp"_s,
            c.throughLink
                    && QFile::link(fixture.cacheRoot() + u"/b"_s, fixture.cacheRoot() + u"/l"_s)
                ? u"l"_s
                : u"b"_s),
        fixture.addPackage(2, Status::VerifiedBackup)};
    const QString raw = *items[0].ingestCacheOriginalURL, sidecar = *items[0].ingestCacheSidecarURL;
    if (c.change == u"edit")
        writeFile(raw, "edited");
    if (c.change == u"deleteRaw")
        QFile::remove(raw);
    const QByteArray rawBefore = readFile(raw), sidecarBefore = readFile(sidecar);
    if (c.undeletable)
        fixture.files->failOperation(FileOperation::RemoveItem, c.undeletable, u"P0.DNG"_s, 1);
    const QByteArray savedSidecar = "<x:xmpmeta>saved</x:xmpmeta>";
    if (c.change == u"saveSidecar")
        fixture.files->beforeOperation(
            FileOperation::RemoveItem, u"P0.DNG"_s, [&](const QString &) {
                writeFile(sidecar + u".saving"_s, savedSidecar);
                const QByteArray saving = QFile::encodeName(sidecar + u".saving"_s);
                QVERIFY(std::rename(saving.constData(), QFile::encodeName(sidecar).constData())
                        == 0);
            });
    if (c.libraryWriteFails)
        fixture.files->failOperation(
            FileOperation::Write, c.libraryWriteFails, u"/LocalLibraryCache/"_s, 1);
    const StagingArea staging(fixture.filePath(u"StagingArea"_s),
                              fixture.fileManager,
                              std::make_shared<SHA256ContentHasher>());
    if (c.staged) {
        StagedImportRecord record;
        record.localLibraryItemID = items[0].id;
        record.contentHash = items[0].contentHash;
        record.stagedOriginalRelativePath = u"0E1F2A3B-0000-4000-8000-000000000001/P0.DNG"_s;
        record.sidecarContentHash = items[0].archiveSidecarContentHash;
        record.phase = *c.staged;
        writeFile(staging.stagedOriginalURL(record), rawBefore);
        PELLWICK_VERIFY_SUCCESS(staging.writeRecord(record));
    }
    const qsizetype reopenedAt = fixture.files->log().size();
    if (c.reopened)
        fixture.library = LocalLibraryCache(fixture.libraryRoot(), fixture.files);
    const auto model = fixture.make();
    if (c.change == u"move" && !c.undeletable)
        fixture.pendMove(*model);
    fixture.mainThreadDiskWork = 0;

    Result<IngestCacheWorkflows::ArchivedCacheCleanup> cleanup = fixture.cleanup(*model);
    if (c.libraryWriteFails) {
        QVERIFY(!cleanup);
        cleanup = fixture.cleanup(*model); // the next pass finishes the work
    }

    QVERIFY(cleanup);
    QSet<QUuid> removed;
    for (const int n : c.removed)
        removed.insert(items[n].id);
    QCOMPARE(cleanup->removedItemIDs, removed);
    QCOMPARE(cleanup->pendingCount, c.pending);
    model->ingestCacheWorkflows().scheduleCacheCleanupRetryIfNeeded(cleanup->pendingCount);
    QCOMPARE(fixture.stored(items[0].id)->importStatus, c.firstAfter);
    QCOMPARE(fixture.stored(items[0].id)->ingestCacheOriginalURL.has_value(), c.firstKept);
    for (int n = 1; n < 3; ++n) // a removed package leaves no file
        QCOMPARE(QFile::exists(*items[n].ingestCacheOriginalURL), !removed.contains(items[n].id));
    const bool sidecarNeeded = c.sharing && !removed.contains(items[1].id);
    QCOMPARE(QFile::exists(sidecar), !removed.contains(items[0].id) || sidecarNeeded);
    const bool saved = c.change == u"saveSidecar";
    if (!removed.contains(items[0].id)) {
        if (!saved)
            QCOMPARE(readFile(raw), rawBefore);
        QCOMPARE(readFile(sidecar), saved ? savedSidecar : sidecarBefore);
    }
    if (c.reopened) {
        const QStringList log = fixture.files->log().mid(reopenedAt);
        const auto flushed = std::find_if(log.cbegin(), log.cend(), [&](const QString &line) {
            return line.startsWith(u"synchronize"_s) && line.contains(fixture.libraryRoot());
        });
        const auto deleted = std::find_if(log.cbegin(), log.cend(), [&](const QString &line) {
            return line.startsWith(u"removeItem "_s) && line.contains(fixture.cacheRoot());
        });
        QVERIFY(deleted != log.cend() && flushed < deleted);
    }
    QCOMPARE(fixture.mainThreadDiskWork.load(), 0);
    QVERIFY(!hasher->callingThreads().contains(std::this_thread::get_id()));
    QCOMPARE(staging.readRecoverableRecords().value().records.size(), c.stagedKept ? 1 : 0);

    QCOMPARE(model->ingestCacheWorkflows().cacheCleanupRetryTask().has_value(), c.pending > 0);
    if (c.change == u"move")
        fixture.pendMove(*model);
    fixture.manualTimers.advance(std::chrono::seconds(30));
    QVERIFY(
        QTest::qWaitFor([&] { return !model->ingestCacheWorkflows().cacheCleanupRetryTask(); }));
    const bool retried = c.undeletable && c.change != u"move";
    QCOMPARE(QFile::exists(raw), !removed.contains(items[0].id) && !retried && !saved);
    if (retried) // as a first pass that could delete would have left it
        QCOMPARE(*fixture.stored(items[0].id),
                 items[0].replacingImportStatus(c.first).replacingIngestCachePackage(std::nullopt));
}

QTEST_GUILESS_MAIN(CacheCleanupWorkflowTests)
#include "CacheCleanupWorkflowTests.moc"
