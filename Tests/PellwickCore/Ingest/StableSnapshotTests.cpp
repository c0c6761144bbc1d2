#include "Support/MigrationFixture.h"
#include "Support/TestErrors.h"
#include "Support/TestFiles.h"

#include <PellwickCore/Ingest/IngestCacheMigrator.h>
#include <PellwickCore/Ingest/ParallelHashing_p.h>

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <cerrno>

using namespace Pellwick;
using namespace Pellwick::Test;

class StableSnapshotTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void emptyCacheTakesOnePass();
    void fileCopiedWithProgressRecords();
    void fileChangingOnEveryTryFailsTheMove();
    void fileGrowingWhileCopiedOnEveryTryFailsTheMove();
    void fileChangingOnceIsCopiedAgainAndCountedOnce();
    void fileCreatedDuringAPassIsIncludedInTheNext();
    void fileChangedBeforeItsTurnIsCopiedAsItIsThen();
    void cacheChangingInEveryPassNamesTheLastChange();
    void changesWithoutANameFailWithTheCacheName();
    void staleTargetEntriesAreRemovedDeepestFirst();
    void targetEntriesOfTheWrongKindAreReplaced();
    void identicalCopiesStayAndDifferentOnesAreReplaced();
    void shrinkingSpaceIsCheckedInEveryPass();
    void firstMismatchedPathWalksKeysInOrder();
    void listHashingReportsTheFirstFailureInListOrder();
};

namespace {

const QString marker = IngestCacheMigrator::markerName();

QString at(const QString &root, const QString &relative)
{
    return root + QLatin1Char('/') + relative;
}

QString at(const QString &root, const char *relative)
{
    return at(root, QString::fromUtf8(relative));
}

void verifyMirror(const QString &root, const QString &target)
{
    QMap<QString, QString> copied = fileManifest(target);
    copied.remove(marker);
    QCOMPARE(copied, fileManifest(root));
    QCOMPARE(folderList(target), folderList(root));
}

/// The path a move that gave up on a changing cache names, if that is how it failed.
std::optional<QString> changedTooOftenPath(const Result<IngestCacheMigration> &moved)
{
    if (moved)
        return std::nullopt;
    const auto *changed
        = MigrationFixture::ingestCacheError<IngestCacheError::MigrationSourceChangedTooOften>(
            moved.error());
    return changed ? std::optional(changed->relativePath) : std::nullopt;
}

QStringList retryingNames(const QList<TransferProgress> &records)
{
    QStringList names;
    for (const TransferProgress &record : records) {
        if (record.currentFilename && record.currentFilename->startsWith(QLatin1String("Retrying")))
            names.append(*record.currentFilename);
    }
    return names;
}

/// Counts the listings of the cache root: the move lists it once, then each pass before and
/// after copying, so listing 2k + 1 is the end of pass k.
struct RootListings
{
    explicit RootListings(MigrationFixture &fixture, std::function<void(int)> beforeListing = {})
    {
        auto counter = count;
        const QString root = fixture.root;
        fixture.fileManager->beforeOperation(FileOperation::EntriesOfDirectory,
                                             root,
                                             [counter, root, beforeListing](const QString &path) {
                                                 if (path != root)
                                                     return;
                                                 ++*counter;
                                                 if (beforeListing)
                                                     beforeListing(*counter);
                                             });
    }

    std::shared_ptr<int> count = std::make_shared<int>(0);
};

} // namespace

void StableSnapshotTests::emptyCacheTakesOnePass()
{
    MigrationFixture fixture;
    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY2(moved, failureText(moved).constData());
    QVERIFY(moved->fileHashes.isEmpty());
    // The move's own capacity check, then one per pass.
    QCOMPARE(fixture.capacityProbes->size(), 2);
}

void StableSnapshotTests::fileCopiedWithProgressRecords()
{
    MigrationFixture fixture;
    const qint64 size = 1024 * 1024 + 512;
    writeFile(at(fixture.root, "a/X.CR3"), patternBytes(size, 5));
    QList<TransferProgress> records;
    Result<IngestCacheMigration> moved
        = fixture.migrate([&](const TransferProgress &record) { records.append(record); });
    QVERIFY2(moved, failureText(moved).constData());

    struct Expected
    {
        TransferProgressPhase phase;
        std::optional<QString> name;
        std::optional<qint64> fileDone;
        std::optional<qint64> fileTotal;
        qint64 done;
    };

    const QString name = QStringLiteral("a/X.CR3");
    const QList<Expected> expected{
        {TransferProgressPhase::Preparing, std::nullopt, std::nullopt, std::nullopt, 0},
        {TransferProgressPhase::Copying, name, 0, size, 0},
        {TransferProgressPhase::Copying, name, 1024 * 1024, size, 1024 * 1024},
        {TransferProgressPhase::Copying, name, size, size, size},
        {TransferProgressPhase::Verifying, name, std::nullopt, std::nullopt, size},
        {TransferProgressPhase::Copying, name, size, size, size},
    };
    QCOMPARE(records.size(), expected.size());
    for (qsizetype i = 0; i < records.size(); ++i) {
        const TransferProgress &record = records.at(i);
        QCOMPARE(record.phase, expected.at(i).phase);
        QCOMPARE(record.currentFilename, expected.at(i).name);
        QCOMPARE(record.currentFileCompletedByteCount, expected.at(i).fileDone);
        QCOMPARE(record.currentFileTotalByteCount, expected.at(i).fileTotal);
        QCOMPARE(record.completedByteCount, expected.at(i).done);
        QCOMPARE(record.totalByteCount, size);
    }
}

void StableSnapshotTests::fileChangingOnEveryTryFailsTheMove()
{
    MigrationFixture fixture;
    writeFile(at(fixture.root, "a/X.CR3"), patternBytes(1000, 1));
    writeFile(at(fixture.root, "b.CR3"), patternBytes(300, 2));
    // Each time the copy is checked, the source has grown since it was copied.
    fixture.beforeHashing(at(fixture.target, "a/X.CR3"),
                          [&](int) { appendToFile(at(fixture.root, "a/X.CR3"), "more"); });
    QList<TransferProgress> records;
    Result<IngestCacheMigration> moved
        = fixture.migrate([&](const TransferProgress &record) { records.append(record); });

    QCOMPARE(changedTooOftenPath(moved), std::optional(QStringLiteral("a/X.CR3")));
    QCOMPARE(retryingNames(records), QStringList(3, QStringLiteral("Retrying a/X.CR3")));
    // The move ends at once: no second pass was started.
    QCOMPARE(fixture.capacityProbes->size(), 2);
    QVERIFY(!QFileInfo::exists(at(fixture.target, "a/X.CR3")));
    QCOMPARE(readFile(at(fixture.target, marker)), fixture.root.toUtf8());
}

void StableSnapshotTests::fileGrowingWhileCopiedOnEveryTryFailsTheMove()
{
    // Still being written: every try outgrows the size it was opened with.
    MigrationFixture fixture;
    const QString growing = at(fixture.root, "a/X.CR3");
    writeFile(growing, patternBytes(2 * 1024 * 1024, 1));
    fixture.fileManager->beforeOperation(FileOperation::Read, growing, [growing](const QString &) {
        appendToFile(growing, QByteArray(64 * 1024, '+'));
    });

    Result<IngestCacheMigration> moved = fixture.migrate();

    QCOMPARE(changedTooOftenPath(moved), std::optional(QStringLiteral("a/X.CR3")));
    QVERIFY(!QFileInfo::exists(at(fixture.target, "a/X.CR3")));
}

void StableSnapshotTests::fileChangingOnceIsCopiedAgainAndCountedOnce()
{
    MigrationFixture fixture;
    writeFile(at(fixture.root, "a/X.CR3"), patternBytes(1000, 1));
    writeFile(at(fixture.root, "b.CR3"), patternBytes(300, 2));
    fixture.beforeHashing(at(fixture.target, "a/X.CR3"), [&](int occurrence) {
        if (occurrence == 1)
            appendToFile(at(fixture.root, "a/X.CR3"), "!");
    });
    QList<TransferProgress> records;
    Result<IngestCacheMigration> moved
        = fixture.migrate([&](const TransferProgress &record) { records.append(record); });

    QVERIFY2(moved, failureText(moved).constData());
    verifyMirror(fixture.root, fixture.target);
    QCOMPARE(moved->fileHashes.value(QStringLiteral("a/X.CR3")),
             referenceSha256(readFile(at(fixture.root, "a/X.CR3"))));
    // The first pass saw the change, the second found everything stable.
    QCOMPARE(fixture.capacityProbes->size(), 3);
    QCOMPARE(retryingNames(records), QStringList{QStringLiteral("Retrying a/X.CR3")});
    // Completed in both passes, counted once, with the size it had when it was copied.
    QCOMPARE(records.last().completedByteCount, 1001 + 300);
    QCOMPARE(records.last().totalByteCount, 1000 + 300);
}

void StableSnapshotTests::fileCreatedDuringAPassIsIncludedInTheNext()
{
    MigrationFixture fixture;
    writeFile(at(fixture.root, "a/X.CR3"), patternBytes(1000, 1));
    fixture.beforeHashing(at(fixture.target, "a/X.CR3"), [&](int occurrence) {
        if (occurrence == 1)
            writeFile(at(fixture.root, "c/new.CR3"), patternBytes(50, 3));
    });

    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY2(moved, failureText(moved).constData());
    QCOMPARE(fixture.capacityProbes->size(), 3);
    QVERIFY(moved->fileHashes.contains(QStringLiteral("c/new.CR3")));
    verifyMirror(fixture.root, fixture.target);
    QCOMPARE(readFile(at(fixture.target, marker)), fixture.root.toUtf8());
}

void StableSnapshotTests::fileChangedBeforeItsTurnIsCopiedAsItIsThen()
{
    // With the production hasher a file's first hash may be taken while the one before it is
    // copied; a change after that hash must still end with the file as it is now.
    MigrationFixture fixture;
    const qint64 size = 5 * 1024 * 1024;
    writeFile(at(fixture.root, "a.CR3"), patternBytes(size, 1));
    writeFile(at(fixture.root, "b.CR3"), patternBytes(size, 2));
    const QString copyOfA = at(fixture.target, "a.CR3");
    auto changed = std::make_shared<bool>(false);
    fixture.fileManager->beforeOperation(
        FileOperation::MoveItem, copyOfA, [&, changed](const QString &path) {
            if (path == copyOfA && !*changed) {
                *changed = true;
                writeFile(at(fixture.root, "b.CR3"), patternBytes(size, 3));
            }
        });

    Result<IngestCacheMigration> moved
        = fixture.migrator({}, std::make_shared<SHA256ContentHasher>())
              .migrate(fixture.target, {}, QUuid());
    QVERIFY2(moved, failureText(moved).constData());
    QVERIFY(*changed);
    QCOMPARE(readFile(at(fixture.target, "b.CR3")), patternBytes(size, 3));
    QCOMPARE(moved->fileHashes.value(QStringLiteral("b.CR3")),
             referenceSha256(patternBytes(size, 3)));
    verifyMirror(fixture.root, fixture.target);
}

void StableSnapshotTests::cacheChangingInEveryPassNamesTheLastChange()
{
    // A file copied intact but changed again before the end of every pass.
    MigrationFixture fixture;
    writeFile(at(fixture.root, "a/X.CR3"), patternBytes(1000, 1));
    writeFile(at(fixture.root, "b.CR3"), patternBytes(300, 2));
    RootListings listings(fixture);
    auto changedInListing = std::make_shared<int>(0);
    fixture.beforeHashing(at(fixture.root, "b.CR3"), [&, changedInListing](int) {
        const int listing = *listings.count;
        if (listing >= 3 && listing % 2 == 1 && *changedInListing != listing) {
            *changedInListing = listing;
            appendToFile(at(fixture.root, "b.CR3"), "edit");
        }
    });

    Result<IngestCacheMigration> moved = fixture.migrate();
    QCOMPARE(changedTooOftenPath(moved), std::optional(QStringLiteral("b.CR3")));
    QCOMPARE(*listings.count, 7);

    // New files appearing in every pass: the last pass's one is named.
    MigrationFixture growing;
    writeFile(at(growing.root, "a/X.CR3"), patternBytes(1000, 1));
    RootListings growingListings(growing, [&](int listing) {
        if (listing >= 3 && listing % 2 == 1)
            writeFile(growing.root + QStringLiteral("/new-%1.CR3").arg(listing / 2), "n");
    });
    Result<IngestCacheMigration> grown = growing.migrate();
    QCOMPARE(changedTooOftenPath(grown), std::optional(QStringLiteral("new-3.CR3")));
}

void StableSnapshotTests::changesWithoutANameFailWithTheCacheName()
{
    // An entry that turns from file into folder and back during every pass: the listings
    // differ, yet no path is in only one of them.
    MigrationFixture fixture;
    writeFile(at(fixture.root, "A.CR3"), patternBytes(100, 1));
    writeFile(at(fixture.root, "0toggle"), "f");
    const QString toggle = at(fixture.root, "0toggle");
    RootListings listings(fixture, [&](int listing) {
        if (listing < 3 || listing % 2 == 0)
            return;
        if (QFileInfo(toggle).isDir()) {
            QDir().rmdir(toggle);
            writeFile(toggle, "f");
        } else {
            QFile::remove(toggle);
            QDir().mkdir(toggle);
        }
    });

    Result<IngestCacheMigration> moved = fixture.migrate();
    QCOMPARE(changedTooOftenPath(moved), std::optional(QStringLiteral("Ingest Cache")));
}

void StableSnapshotTests::staleTargetEntriesAreRemovedDeepestFirst()
{
    MigrationFixture fixture;
    writeFile(at(fixture.root, "a/X.CR3"), patternBytes(100, 1));
    writeFile(at(fixture.target, marker), fixture.root.toUtf8());
    writeFile(at(fixture.target, "old/file.CR3"), "stale");
    writeFile(at(fixture.target, "x.CR3"), "stale");
    QDir().mkpath(at(fixture.target, "old/deeper/deepest"));
    QDir().mkpath(at(fixture.target, "a/empty"));

    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY2(moved, failureText(moved).constData());
    verifyMirror(fixture.root, fixture.target);
    QCOMPARE(readFile(at(fixture.target, marker)), fixture.root.toUtf8());

    QStringList removals;
    for (const QString &line : fixture.fileManager->log()) {
        if (line.startsWith(QLatin1String("removeItem "))
            && !line.contains(QLatin1String("partial")))
            removals.append(line.mid(11));
    }
    QCOMPARE(removals,
             (QStringList{at(fixture.target, "old/file.CR3"),
                          at(fixture.target, "x.CR3"),
                          at(fixture.target, "old/deeper/deepest"),
                          at(fixture.target, "old/deeper"),
                          at(fixture.target, "a/empty"),
                          at(fixture.target, "old")}));
}

void StableSnapshotTests::targetEntriesOfTheWrongKindAreReplaced()
{
    MigrationFixture fixture;
    writeFile(at(fixture.root, "a/X.CR3"), patternBytes(100, 1));
    writeFile(at(fixture.root, "b.CR3"), patternBytes(200, 2));
    writeFile(at(fixture.target, marker), fixture.root.toUtf8());
    // A file where the cache has a folder, and a folder where it has a file.
    writeFile(at(fixture.target, "a"), "was a file");
    writeFile(at(fixture.target, "b.CR3/inside.CR3"), "was a folder");

    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY2(moved, failureText(moved).constData());
    QCOMPARE(moved->copiedByteCount, 300);
    verifyMirror(fixture.root, fixture.target);
}

void StableSnapshotTests::identicalCopiesStayAndDifferentOnesAreReplaced()
{
    MigrationFixture fixture;
    writeFile(at(fixture.root, "a/X.CR3"), patternBytes(100, 1));
    writeFile(at(fixture.root, "b.CR3"), patternBytes(200, 2));
    writeFile(at(fixture.target, marker), fixture.root.toUtf8());
    writeFile(at(fixture.target, "a/X.CR3"), patternBytes(100, 1));
    writeFile(at(fixture.target, "b.CR3"), patternBytes(200, 9));
    LocalFileManager local;
    const quint64 identicalInode = local.attributesOfItem(at(fixture.target, "a/X.CR3"))->inode;

    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY2(moved, failureText(moved).constData());
    QCOMPARE(moved->copiedByteCount, 200);
    QCOMPARE(local.attributesOfItem(at(fixture.target, "a/X.CR3"))->inode, identicalInode);
    verifyMirror(fixture.root, fixture.target);
}

void StableSnapshotTests::shrinkingSpaceIsCheckedInEveryPass()
{
    MigrationFixture fixture;
    writeFile(at(fixture.root, "a/X.CR3"), patternBytes(100, 1));
    auto probes = std::make_shared<int>(0);
    const IngestCacheMigrator migrator(IngestCache(
        fixture.root,
        fixture.fileManager,
        fixture.hasher,
        [probes](const QString &) -> Result<qint64> { return ++*probes == 1 ? 1000 : 60; }));
    Result<IngestCacheMigration> moved = migrator.migrate(fixture.target, {}, QUuid());
    QVERIFY(!moved);
    const auto *capacity
        = MigrationFixture::ingestCacheError<IngestCacheError::InsufficientCapacity>(moved.error());
    QVERIFY(capacity);
    QCOMPARE(capacity->requiredBytes, 100);
    QCOMPARE(capacity->availableBytes, 60);
    QVERIFY(!QFileInfo::exists(at(fixture.target, "a")));
}

void StableSnapshotTests::firstMismatchedPathWalksKeysInOrder()
{
    using Hashes = QHash<QString, QString>;
    const std::optional<QString> fallback = QStringLiteral("earlier");
    const Hashes a{{QStringLiteral("c"), QStringLiteral("3")},
                   {QStringLiteral("a/b"), QStringLiteral("1")},
                   {QStringLiteral("a-b"), QStringLiteral("2")}};
    QCOMPARE(IngestCacheMigrator::firstMismatchedPath(
                 a, Hashes{{QStringLiteral("c"), QStringLiteral("3")}}, fallback),
             std::optional(QStringLiteral("a-b")));
    QCOMPARE(IngestCacheMigrator::firstMismatchedPath(
                 a,
                 Hashes{{QStringLiteral("a-b"), QStringLiteral("2")},
                        {QStringLiteral("a/b"), QStringLiteral("1")},
                        {QStringLiteral("c"), QStringLiteral("changed")}},
                 fallback),
             std::optional(QStringLiteral("c")));
    // Keys only in the second dictionary are not looked at.
    Hashes more = a;
    more.insert(QStringLiteral("0"), QStringLiteral("new"));
    QCOMPARE(IngestCacheMigrator::firstMismatchedPath(a, more, fallback), fallback);
    QCOMPARE(IngestCacheMigrator::firstMismatchedPath(a, more, std::nullopt), std::nullopt);
}

void StableSnapshotTests::listHashingReportsTheFirstFailureInListOrder()
{
    MigrationFixture fixture;
    // Large enough to be hashed on several threads by the production hasher.
    writeFile(at(fixture.root, "big1.CR3"), patternBytes(6 * 1024 * 1024, 1));
    writeFile(at(fixture.root, "big2.CR3"), patternBytes(6 * 1024 * 1024, 2));
    const QStringList files{at(fixture.root, "big1.CR3"),
                            at(fixture.root, "gone1.CR3"),
                            at(fixture.root, "big2.CR3"),
                            at(fixture.root, "gone2.CR3")};
    QVERIFY(hashingWorkers(files) > 1);

    const IngestCacheMigrator production(
        IngestCache(fixture.root,
                    fixture.fileManager,
                    std::make_shared<SHA256ContentHasher>(),
                    [](const QString &) { return Result<qint64>(0); }));
    for (int run = 0; run < 5; ++run) {
        Result<QHash<QString, QString>> hashes = production.hashes(files, fixture.root);
        QVERIFY(!hashes);
        const auto *error = hashes.error().as<FileSystemError>();
        QVERIFY(error);
        QCOMPARE(error->path, at(fixture.root, "gone1.CR3"));
    }
    Result<QHash<QString, QString>> some
        = production.hashes({files.at(0), files.at(2)}, fixture.root);
    QVERIFY(some);
    QCOMPARE(some->value(QStringLiteral("big2.CR3")), referenceSha256(patternBytes(6 << 20, 2)));

    // Any other hasher is called in list order and not again after a failure.
    auto failing = std::make_shared<FailingContentHasher>(
        QStringLiteral("big1.CR3"), Error(FileSystemError{QStringLiteral("read"), {}, EIO}));
    Result<QHash<QString, QString>> scripted
        = fixture.migrator({}, failing).hashes(files, fixture.root);
    QVERIFY(!scripted);
    QCOMPARE(MigrationFixture::fileSystemCode(scripted.error()), EIO);
    QCOMPARE(failing->hashedPaths(), QStringList{files.at(0)});
}

QTEST_GUILESS_MAIN(StableSnapshotTests)

#include "StableSnapshotTests.moc"
