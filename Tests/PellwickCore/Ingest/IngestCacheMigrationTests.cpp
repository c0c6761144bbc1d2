#include "Support/KillPoints.h"
#include "Support/MigrationFixture.h"
#include "Support/ScopedBindMount.h"
#include "Support/StopAtCheckpoint.h"
#include "Support/TestErrors.h"
#include "Support/TestFiles.h"

#include <PellwickCore/Ingest/IngestCacheMigrator.h>
#include <PellwickCore/Ingest/MigrationTransferProgressReporter.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace Pellwick;
using namespace Pellwick::Test;

class IngestCacheMigrationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void targetsOverlappingTheCacheAreRefused_data();
    void targetsOverlappingTheCacheAreRefused();
    void targetsReachingTheCacheByAnotherPathAreRefused();
    void targetsWithUnrelatedEntriesAreRefused();
    void movesResumeOnlyFromTheCacheNamedByTheMarker();
    void interruptedMarkerWriteLeavesAResumableTarget();
    void deletedCacheRootIsRecreatedEmptyWhileItsParentExists();
    void unavailableCacheRootIsRefused_data();
    void unavailableCacheRootIsRefused();
    void unsupportedItemsAreRefusedBeforeAnythingIsWritten_data();
    void unsupportedItemsAreRefusedBeforeAnythingIsWritten();
    void identicalTargetNeedsNoBytes();
    void capacityIsCheckedBeforeWriting();
    void completeMigrationRemovesOnlyTheMarker();
    void listingIncludesHiddenItemsAndSkipsOnlyTheTopLevelMarker();
    void relativePathsDropTheRootComponents();
    void progressCountsEveryFileOnce();
    void folderThatCannotBeListedFailsTheMove();
    void injectedFaultsEndTheMoveWithTheirError_data();
    void injectedFaultsEndTheMoveWithTheirError();
    void killedMovesResumeToAnIdenticalCopy();
    void stoppedMoveLeavesAResumableTarget_data();
    void stoppedMoveLeavesAResumableTarget();
};

namespace {

const QString marker = IngestCacheMigrator::markerName();

void writeSmallCache(const QString &root)
{
    writeFile(root + QStringLiteral("/2024/03/05-0a1b2c3d4e5f/DCIM/IMG_0001.CR3"),
              patternBytes(3000, 1));
    writeFile(root + QStringLiteral("/2024/03/05-0a1b2c3d4e5f/DCIM/IMG_0001.xmp"),
              patternBytes(200, 2));
    writeFile(root + QStringLiteral("/2024/04/01-ffeeddccbbaa/IMG_0002.CR3"),
              patternBytes(5000, 3));
}

/// Target equals source: same files with equal hashes, same folders, the marker aside.
void verifyMirror(const QString &root, const QString &target)
{
    QMap<QString, QString> copied = fileManifest(target);
    copied.remove(IngestCacheMigrator::markerName());
    QCOMPARE(copied, fileManifest(root));
    QCOMPARE(folderList(target), folderList(root));
}

QHash<QString, QString> asHash(const QMap<QString, QString> &map)
{
    QHash<QString, QString> hash;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        hash.insert(it.key(), it.value());
    return hash;
}

bool loggedAnyWrite(const FaultInjectingFileManager &fileManager)
{
    for (const QString &line : fileManager.log()) {
        if (line.startsWith(QLatin1String("createDirectory"))
            || line.startsWith(QLatin1String("createFile"))
            || line.startsWith(QLatin1String("removeItem"))
            || line.startsWith(QLatin1String("moveItem"))
            || line.startsWith(QLatin1String("replaceItem")))
            return true;
    }
    return false;
}

} // namespace

void IngestCacheMigrationTests::targetsOverlappingTheCacheAreRefused_data()
{
    QTest::addColumn<QString>("relativeTarget");
    QTest::addColumn<bool>("refused");
    QTest::newRow("the cache itself") << QStringLiteral("Cache") << true;
    QTest::newRow("the cache with a trailing slash") << QStringLiteral("Cache/") << true;
    QTest::newRow("inside the cache") << QStringLiteral("Cache/Sub") << true;
    QTest::newRow("inside, written with dot-dot") << QStringLiteral("Other/../Cache/Sub") << true;
    QTest::newRow("containing the cache") << QString() << true;
    QTest::newRow("sibling with a common prefix") << QStringLiteral("Cache2") << false;
}

void IngestCacheMigrationTests::targetsOverlappingTheCacheAreRefused()
{
    QFETCH(QString, relativeTarget);
    QFETCH(bool, refused);
    MigrationFixture fixture;
    writeSmallCache(fixture.root);
    const QMap<QString, QString> before = fileManifest(fixture.root);
    const QString target = fixture.directory.path() + QLatin1Char('/') + relativeTarget;

    Result<IngestCacheMigration> moved = fixture.migrator().migrate(target, {}, QUuid());
    if (refused) {
        QVERIFY(!moved);
        QVERIFY(MigrationFixture::ingestCacheError<IngestCacheError::InvalidMigrationTarget>(
            moved.error()));
        QVERIFY(!loggedAnyWrite(*fixture.fileManager));
        QVERIFY(fixture.capacityProbes->isEmpty());
    } else {
        QVERIFY2(moved, failureText(moved).constData());
        verifyMirror(fixture.root, target);
    }
    QCOMPARE(fileManifest(fixture.root), before);
}

void IngestCacheMigrationTests::targetsReachingTheCacheByAnotherPathAreRefused()
{
    MigrationFixture fixture;
    writeSmallCache(fixture.root);
    const QString base = fixture.directory.path();
    QVERIFY(QFile::link(fixture.root, base + QStringLiteral("/LinkToCache")));
    QDir().mkpath(base + QStringLiteral("/Real"));
    QVERIFY(QFile::link(base + QStringLiteral("/Real"), base + QStringLiteral("/Alias")));
    writeSmallCache(base + QStringLiteral("/Real/Cache"));

    struct Case
    {
        QString cacheRoot;
        QString target;
    };

    QList<Case> cases{
        {fixture.root, base + QStringLiteral("/LinkToCache")},
        {fixture.root, base + QStringLiteral("/LinkToCache/Sub/Deeper")},
        {base + QStringLiteral("/Alias/Cache"), base + QStringLiteral("/Real")},
        {base + QStringLiteral("/Alias/Cache"), base + QStringLiteral("/Real/Cache/New")},
    };
    // One folder at two paths with no link between them: only identity tells.
    const auto bound = ScopedBindMount::create(fixture.root, base + QStringLiteral("/Bound"));
    if (bound)
        cases << Case{fixture.root, base + QStringLiteral("/Bound")}
              << Case{fixture.root, base + QStringLiteral("/Bound/Sub")};
    for (const Case &c : cases) {
        Result<IngestCacheMigration> moved
            = fixture.migrator(c.cacheRoot).migrate(c.target, {}, QUuid());
        QVERIFY2(!moved, qPrintable(c.target));
        QVERIFY(MigrationFixture::ingestCacheError<IngestCacheError::InvalidMigrationTarget>(
            moved.error()));
    }
    QVERIFY(!loggedAnyWrite(*fixture.fileManager));
    QVERIFY(!QFileInfo::exists(fixture.root + QStringLiteral("/Sub")));
    QCOMPARE(fileManifest(fixture.root).size(), 3);
}

void IngestCacheMigrationTests::targetsWithUnrelatedEntriesAreRefused()
{
    MigrationFixture fixture;
    writeSmallCache(fixture.root);
    writeFile(fixture.target + QStringLiteral("/.directory"), "[Desktop Entry]");

    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY(!moved);
    QVERIFY(MigrationFixture::ingestCacheError<IngestCacheError::MigrationTargetIsNotEmpty>(
        moved.error()));
    QCOMPARE(fileManifest(fixture.target).keys(), QStringList{QStringLiteral(".directory")});

    // An empty folder is accepted and receives the marker naming the cache root as given.
    QVERIFY(QFile::remove(fixture.target + QStringLiteral("/.directory")));
    fixture.beforeHashing(
        fixture.root + QStringLiteral("/2024/04/01-ffeeddccbbaa/IMG_0002.CR3"), [&](int) {
            QCOMPARE(readFile(fixture.target + QLatin1Char('/') + marker), fixture.root.toUtf8());
        });
    QVERIFY(fixture.migrate());
    QCOMPARE(readFile(fixture.target + QLatin1Char('/') + marker), fixture.root.toUtf8());
}

void IngestCacheMigrationTests::movesResumeOnlyFromTheCacheNamedByTheMarker()
{
    MigrationFixture fixture;
    writeSmallCache(fixture.root);
    Result<IngestCacheMigration> first = fixture.migrate();
    QVERIFY2(first, failureText(first).constData());
    QCOMPARE(first->copiedByteCount, 8200);
    QCOMPARE(first->oldRootURL, fixture.root);
    QCOMPARE(first->newRootURL, fixture.target);
    QCOMPARE(first->fileHashes, asHash(fileManifest(fixture.root)));

    // While the marker is there, a second run copies only what is missing or different.
    writeFile(fixture.root + QStringLiteral("/2024/04/01-ffeeddccbbaa/IMG_0002.CR3"),
              patternBytes(4000, 9));
    writeFile(fixture.root + QStringLiteral("/2024/05/new/IMG_0003.CR3"), patternBytes(700, 4));
    QVERIFY(
        QFile::remove(fixture.root + QStringLiteral("/2024/03/05-0a1b2c3d4e5f/DCIM/IMG_0001.xmp")));
    Result<IngestCacheMigration> second = fixture.migrate();
    QVERIFY2(second, failureText(second).constData());
    QCOMPARE(second->copiedByteCount, 4700);
    verifyMirror(fixture.root, fixture.target);

    // Another cache may not take over the target.
    const QString otherRoot = fixture.directory.path() + QStringLiteral("/OtherCache");
    writeSmallCache(otherRoot);
    Result<IngestCacheMigration> other
        = fixture.migrator(otherRoot).migrate(fixture.target, {}, QUuid());
    QVERIFY(!other);
    QVERIFY(MigrationFixture::ingestCacheError<IngestCacheError::MigrationTargetIsNotEmpty>(
        other.error()));

    // A marker another program grew far past any path is not ours, and is not read whole.
    const QString markerPath = fixture.target + QLatin1Char('/') + marker;
    QCOMPARE(::truncate(QFile::encodeName(markerPath).constData(), qint64(16) << 30), 0);
    Result<IngestCacheMigration> grown = fixture.migrate();
    QVERIFY(!grown);
    QVERIFY(MigrationFixture::ingestCacheError<IngestCacheError::MigrationTargetIsNotEmpty>(
        grown.error()));
    writeFile(markerPath, fixture.root.toUtf8());

    // Once completed, the new root is an ordinary cache and no longer a move target.
    QVERIFY(fixture.migrator().completeMigration(fixture.target));
    QVERIFY(!QFileInfo::exists(fixture.target + QLatin1Char('/') + marker));
    Result<IngestCacheMigration> again = fixture.migrate();
    QVERIFY(!again);
    QVERIFY(MigrationFixture::ingestCacheError<IngestCacheError::MigrationTargetIsNotEmpty>(
        again.error()));
    verifyMirror(fixture.root, fixture.target);
}

void IngestCacheMigrationTests::interruptedMarkerWriteLeavesAResumableTarget()
{
    MigrationFixture fixture;
    writeSmallCache(fixture.root);
    const QString leftover
        = fixture.target + QLatin1Char('/') + IngestCacheMigrator::markerTemporaryName();
    writeFile(leftover, fixture.root.left(5).toUtf8());

    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY2(moved, failureText(moved).constData());
    QVERIFY(!QFileInfo::exists(leftover));
    QCOMPARE(readFile(fixture.target + QLatin1Char('/') + marker), fixture.root.toUtf8());
    verifyMirror(fixture.root, fixture.target);

    // Anything else beside such a leftover is still someone else's.
    MigrationFixture busy;
    writeFile(busy.target + QLatin1Char('/') + IngestCacheMigrator::markerTemporaryName(), "");
    writeFile(busy.target + QStringLiteral("/notes.txt"), "mine");
    Result<IngestCacheMigration> refused = busy.migrate();
    QVERIFY(!refused);
    QVERIFY(MigrationFixture::ingestCacheError<IngestCacheError::MigrationTargetIsNotEmpty>(
        refused.error()));
}

void IngestCacheMigrationTests::deletedCacheRootIsRecreatedEmptyWhileItsParentExists()
{
    MigrationFixture fixture;
    QVERIFY(QDir(fixture.root).removeRecursively());

    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY2(moved, failureText(moved).constData());
    QVERIFY(QFileInfo(fixture.root).isDir());
    QCOMPARE(moved->copiedByteCount, 0);
    QVERIFY(moved->fileHashes.isEmpty());
    QVERIFY(fileManifest(fixture.root).isEmpty());
    QCOMPARE(fileManifest(fixture.target).keys(), QStringList{marker});
}

void IngestCacheMigrationTests::unavailableCacheRootIsRefused_data()
{
    // How the cache root is unavailable, and the errno the refusal keeps as its cause.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code");
    QTest::addRow("volume unplugged") << QStringLiteral("missing parent") << ENOENT;
    QTest::addRow("a plain file") << QStringLiteral("file") << ENOTDIR;
    QTest::addRow("unreadable folder") << QStringLiteral("unreadable") << EACCES;
    QTest::addRow("failing listing") << QStringLiteral("listing fails") << EIO;
}

void IngestCacheMigrationTests::unavailableCacheRootIsRefused()
{
    QFETCH(QString, kind);
    QFETCH(int, code);
    MigrationFixture fixture;
    QString cacheRoot = fixture.root;
    if (kind == QLatin1String("missing parent")) {
        cacheRoot = fixture.directory.path() + QStringLiteral("/Unplugged/Cache");
    } else if (kind == QLatin1String("file")) {
        cacheRoot = fixture.directory.path() + QStringLiteral("/file");
        writeFile(cacheRoot, "x");
    } else if (kind == QLatin1String("unreadable")) {
        fixture.fileManager->failOperation(FileOperation::IsReadableFile, EACCES, fixture.root);
        fixture.fileManager->failOperation(
            FileOperation::ContentsOfDirectory, EACCES, fixture.root);
    } else {
        writeFile(fixture.root + QStringLiteral("/a/IMG_0001.CR3"), "x");
        fixture.fileManager->failOperation(FileOperation::EntriesOfDirectory, EIO, fixture.root, 1);
    }
    Result<IngestCacheMigration> moved
        = fixture.migrator(cacheRoot).migrate(fixture.target, {}, QUuid());
    QVERIFY(!moved);
    const auto *unavailable
        = MigrationFixture::ingestCacheError<IngestCacheError::MigrationSourceIsUnavailable>(
            moved.error());
    QVERIFY2(unavailable, qPrintable(describe(moved.error())));
    QVERIFY(unavailable->cause);
    QCOMPARE(MigrationFixture::fileSystemCode(*unavailable->cause.get()), code);
    QVERIFY(!QFileInfo::exists(fixture.directory.path() + QStringLiteral("/Unplugged")));
    QVERIFY(!QFileInfo::exists(fixture.target));
}

void IngestCacheMigrationTests::unsupportedItemsAreRefusedBeforeAnythingIsWritten_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("link to a file, nested") << "file link"
                                            << "2024/03/link.CR3";
    QTest::newRow("link to a folder, at the top") << "folder link"
                                                  << "Elsewhere";
    QTest::newRow("named pipe") << "fifo"
                                << "2024/04/pipe";
}

void IngestCacheMigrationTests::unsupportedItemsAreRefusedBeforeAnythingIsWritten()
{
    QFETCH(QString, kind);
    QFETCH(QString, relativePath);
    MigrationFixture fixture;
    writeSmallCache(fixture.root);
    const QString path = fixture.root + QLatin1Char('/') + relativePath;
    if (kind == QLatin1String("file link"))
        QVERIFY(QFile::link(fixture.root + QStringLiteral("/2024/04/01-ffeeddccbbaa/IMG_0002.CR3"),
                            path));
    else if (kind == QLatin1String("folder link"))
        QVERIFY(QFile::link(fixture.directory.path(), path));
    else
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);

    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY(!moved);
    const auto *unsupported
        = MigrationFixture::ingestCacheError<IngestCacheError::UnsupportedMigrationItem>(
            moved.error());
    QVERIFY2(unsupported, failureText(moved).constData());
    QCOMPARE(unsupported->relativePath, relativePath);
    QVERIFY(!QFileInfo::exists(fixture.target));
    QVERIFY(!loggedAnyWrite(*fixture.fileManager));
}

void IngestCacheMigrationTests::identicalTargetNeedsNoBytes()
{
    MigrationFixture fixture;
    writeSmallCache(fixture.root);
    QVERIFY(fixture.migrate());
    const qsizetype callsBefore = fixture.hasher->hashedPaths().size();

    Result<IngestCacheMigration> again = fixture.migrate();
    QVERIFY(again);
    QCOMPARE(again->copiedByteCount, 0);
    // Every file is still verified by its hash.
    const QStringList calls = fixture.hasher->hashedPaths().mid(callsBefore);
    for (const QString &path : fileManifest(fixture.root).keys()) {
        QVERIFY(calls.contains(fixture.root + QLatin1Char('/') + path));
        QVERIFY(calls.contains(fixture.target + QLatin1Char('/') + path));
    }
    verifyMirror(fixture.root, fixture.target);
}

void IngestCacheMigrationTests::capacityIsCheckedBeforeWriting()
{
    MigrationFixture fixture;
    writeSmallCache(fixture.root);
    *fixture.availableBytes = 8199;

    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY(!moved);
    const auto *capacity
        = MigrationFixture::ingestCacheError<IngestCacheError::InsufficientCapacity>(moved.error());
    QVERIFY(capacity);
    QCOMPARE(capacity->requiredBytes, 8200);
    QCOMPARE(capacity->availableBytes, 8199);
    QVERIFY(!QFileInfo::exists(fixture.target));
    // While the target does not exist its parent is asked.
    QCOMPARE(*fixture.capacityProbes, QStringList{fixture.directory.path()});

    *fixture.availableBytes = 8200;
    fixture.capacityProbes->clear();
    QVERIFY(fixture.migrate());
    QCOMPARE(fixture.capacityProbes->first(), fixture.directory.path());
    QCOMPARE(fixture.capacityProbes->last(), fixture.target);

    // The probe is asked even when nothing is needed, and its failure ends the move.
    MigrationFixture failing;
    const IngestCacheMigrator migrator(IngestCache(failing.root,
                                                   failing.fileManager,
                                                   failing.hasher,
                                                   [](const QString &path) -> Result<qint64> {
                                                       return fileSystemFailure(
                                                           QStringLiteral("statvfs"), path, EIO);
                                                   }));
    Result<IngestCacheMigration> probeFailed = migrator.migrate(failing.target, {}, QUuid());
    QVERIFY(!probeFailed);
    QCOMPARE(MigrationFixture::fileSystemCode(probeFailed.error()), EIO);
}

void IngestCacheMigrationTests::completeMigrationRemovesOnlyTheMarker()
{
    MigrationFixture fixture;
    QVERIFY(fixture.migrator().completeMigration(fixture.target));
    QVERIFY(!QFileInfo::exists(fixture.target));

    writeFile(fixture.target + QLatin1Char('/') + marker, "/somewhere/else");
    writeFile(fixture.target + QStringLiteral("/2024/a.CR3"), "a");
    QVERIFY(fixture.migrator().completeMigration(fixture.target));
    QCOMPARE(fileManifest(fixture.target).keys(), QStringList{QStringLiteral("2024/a.CR3")});

    writeFile(fixture.target + QLatin1Char('/') + marker, "x");
    fixture.fileManager->failOperation(FileOperation::RemoveItem, EBUSY, marker);
    Result<void> failed = fixture.migrator().completeMigration(fixture.target);
    QVERIFY(!failed);
    QCOMPARE(MigrationFixture::fileSystemCode(failed.error()), EBUSY);
}

void IngestCacheMigrationTests::listingIncludesHiddenItemsAndSkipsOnlyTheTopLevelMarker()
{
    MigrationFixture fixture;
    const QString root = fixture.root;
    writeFile(root + QStringLiteral("/b/z.CR3"), "z");
    writeFile(root + QStringLiteral("/b/.hidden"), "h");
    writeFile(root + QStringLiteral("/a.CR3"), "a");
    writeFile(root + QLatin1Char('/') + marker, "m");
    writeFile(root + QStringLiteral("/b/") + marker, "nested");
    QDir().mkpath(root + QStringLiteral("/b/empty"));

    Result<MigrationContents> all = fixture.migrator().migrationContents(root, std::nullopt);
    QVERIFY(all);
    QCOMPARE(all->directories,
             (QStringList{root + QStringLiteral("/b"), root + QStringLiteral("/b/empty")}));
    QCOMPARE(all->files,
             (QStringList{root + QLatin1Char('/') + marker,
                          root + QStringLiteral("/a.CR3"),
                          root + QStringLiteral("/b/.hidden"),
                          root + QStringLiteral("/b/") + marker,
                          root + QStringLiteral("/b/z.CR3")}));

    Result<MigrationContents> withoutMarker = fixture.migrator().migrationContents(root, marker);
    QVERIFY(withoutMarker);
    QCOMPARE(withoutMarker->files.size(), 4);
    QVERIFY(!withoutMarker->files.contains(root + QLatin1Char('/') + marker));

    Result<MigrationContents> missing = fixture.migrator().migrationContents(
        fixture.directory.path() + QStringLiteral("/nothing"), std::nullopt);
    QVERIFY(missing);
    QCOMPARE(*missing, MigrationContents{});
}

void IngestCacheMigrationTests::relativePathsDropTheRootComponents()
{
    QCOMPARE(IngestCacheMigrator::relativePath(
                 QStringLiteral("/Users/me/Cache/2024/03/05-0a1b2c3d4e5f/IMG_0001.CR3"),
                 QStringLiteral("/Users/me/Cache")),
             QStringLiteral("2024/03/05-0a1b2c3d4e5f/IMG_0001.CR3"));
    QCOMPARE(IngestCacheMigrator::relativePath(QStringLiteral("/Users/me/Cache/./a//b.CR3"),
                                               QStringLiteral("/Users/me/Cache/")),
             QStringLiteral("a/b.CR3"));
    QCOMPARE(IngestCacheMigrator::relativePath(QStringLiteral("/a.CR3"), QStringLiteral("/")),
             QStringLiteral("a.CR3"));
}

void IngestCacheMigrationTests::progressCountsEveryFileOnce()
{
    // The reporter on its own: a file completed twice counts once.
    QList<TransferProgress> records;
    const QUuid id = QUuid::createUuid();
    MigrationTransferProgressReporter reporter(
        id,
        {{QStringLiteral("a"), 10}, {QStringLiteral("b"), 5}},
        [&](const TransferProgress &record) { records.append(record); });
    reporter.completed(QStringLiteral("a"), 10);
    reporter.retrying(QStringLiteral("a"));
    reporter.completed(QStringLiteral("a"), 10);
    QCOMPARE(reporter.completedBytes(), 10);
    QCOMPARE(records.size(), 4);
    const TransferProgress first{id,
                                 QStringLiteral("Move Ingest Cache"),
                                 TransferProgressPhase::Preparing,
                                 std::nullopt,
                                 std::nullopt,
                                 std::nullopt,
                                 std::nullopt,
                                 0,
                                 15,
                                 0,
                                 0};
    QCOMPARE(records.at(0), first);
    QCOMPARE(records.at(2).currentFilename, std::optional(QStringLiteral("Retrying a")));
    QCOMPARE(records.at(2).phase, TransferProgressPhase::Preparing);
    QCOMPARE(records.at(2).completedByteCount, 10);
    QCOMPARE(records.at(3).phase, TransferProgressPhase::Copying);
    QCOMPARE(records.at(3).currentFileCompletedByteCount, std::optional<qint64>(10));
    QCOMPARE(records.at(3).completedByteCount, 10);

    // A whole move: every record belongs to it and the bar ends full.
    MigrationFixture fixture;
    writeSmallCache(fixture.root);
    QList<TransferProgress> moveRecords;
    Result<IngestCacheMigration> moved
        = fixture.migrate([&](const TransferProgress &record) { moveRecords.append(record); }, id);
    QVERIFY(moved);
    QVERIFY(!moveRecords.isEmpty());
    QStringList completedFiles;
    for (const TransferProgress &record : std::as_const(moveRecords)) {
        QCOMPARE(record.id, id);
        QCOMPARE(record.operationName, QStringLiteral("Move Ingest Cache"));
        QCOMPARE(record.detail, std::nullopt);
        QCOMPARE(record.totalByteCount, 8200);
        QCOMPARE(record.totalPackageCount, 0);
        if (record.phase == TransferProgressPhase::Copying
            && record.currentFileCompletedByteCount == record.currentFileTotalByteCount
            && record.currentFileTotalByteCount > 0)
            completedFiles.append(*record.currentFilename);
    }
    QCOMPARE(moveRecords.first().phase, TransferProgressPhase::Preparing);
    QCOMPARE(moveRecords.last().completedByteCount, 8200);
    QVERIFY(completedFiles.contains(QStringLiteral("2024/04/01-ffeeddccbbaa/IMG_0002.CR3")));
}

void IngestCacheMigrationTests::folderThatCannotBeListedFailsTheMove()
{
    MigrationFixture fixture;
    writeSmallCache(fixture.root);
    fixture.fileManager->failOperation(
        FileOperation::EntriesOfDirectory, EIO, QStringLiteral("/Cache/2024/04"));

    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY(!moved);
    QCOMPARE(MigrationFixture::fileSystemCode(moved.error()), EIO);
    QVERIFY(!QFileInfo::exists(fixture.target));
}

/// A file operation of the move that fails.
struct InjectedFault
{
    FileOperation operation;
    QString fragment; ///< of the paths it fails on
    int code = EIO;
    bool staleEntry = false;
    bool inPlace = false; ///< an earlier move left IMG_0002.CR3 copied
    int failures = 0;     ///< how many of the first calls fail; 0: every one
};
Q_DECLARE_METATYPE(InjectedFault)

void IngestCacheMigrationTests::injectedFaultsEndTheMoveWithTheirError_data()
{
    QTest::addColumn<InjectedFault>("fault");
    using Op = FileOperation;
    QTest::newRow("no space left for a copy") << InjectedFault{
        .operation = Op::Write, .fragment = QStringLiteral(".pellwick-partial"), .code = ENOSPC};
    QTest::newRow("no space left for the marker") << InjectedFault{
        .operation = Op::Write, .fragment = QStringLiteral("/Moved/"), .code = ENOSPC};
    QTest::newRow("source file unreadable")
        << InjectedFault{.operation = Op::Read,
                         .fragment = QStringLiteral("/Cache/2024/04/01-ffeeddccbbaa/IMG_0002.CR3")};
    QTest::newRow("stale target entry cannot be removed")
        << InjectedFault{.operation = Op::RemoveItem,
                         .fragment = QStringLiteral("/Moved/stale.CR3"),
                         .code = EACCES,
                         .staleEntry = true};
    QTest::newRow("marker cannot be written")
        << InjectedFault{.operation = Op::OpenForWriting,
                         .fragment = QStringLiteral("pellwick-migration-in-progress"),
                         .code = EROFS};
    QTest::newRow("target folder cannot be created") << InjectedFault{
        .operation = Op::CreateDirectory, .fragment = QStringLiteral("/Moved"), .code = EACCES};
    QTest::newRow("folder of a copy found in place cannot be flushed")
        << InjectedFault{.operation = Op::SynchronizeDirectory,
                         .fragment = QStringLiteral("/Moved/2024/04/01-ffeeddccbbaa"),
                         .inPlace = true};
    QTest::newRow("parent of a folder found in place fails to flush twice")
        << InjectedFault{.operation = Op::SynchronizeDirectory,
                         .fragment = QStringLiteral("/Moved/2024/04"),
                         .inPlace = true,
                         .failures = 2};
}

void IngestCacheMigrationTests::injectedFaultsEndTheMoveWithTheirError()
{
    QFETCH(InjectedFault, fault);
    MigrationFixture fixture;
    writeSmallCache(fixture.root);
    if (fault.staleEntry || fault.inPlace)
        writeFile(fixture.target + QLatin1Char('/') + marker, fixture.root.toUtf8());
    if (fault.staleEntry)
        writeFile(fixture.target + QStringLiteral("/stale.CR3"), "old");
    if (fault.inPlace) {
        const QString copied = QStringLiteral("/2024/04/01-ffeeddccbbaa/IMG_0002.CR3");
        writeFile(fixture.target + copied, readFile(fixture.root + copied));
    }
    const QMap<QString, QString> before = fileManifest(fixture.root);
    const QStringList foldersBefore = folderList(fixture.root);
    // One rule per failing call: each fails the first call that reaches it.
    for (int rule = 0; rule < std::max(fault.failures, 1); ++rule)
        fixture.fileManager->failOperation(
            fault.operation, fault.code, fault.fragment, fault.failures > 0 ? 1 : 0);

    Result<IngestCacheMigration> moved = fixture.migrate();
    QVERIFY(!moved);
    QCOMPARE(MigrationFixture::fileSystemCode(moved.error()), fault.code);
    QCOMPARE(fileManifest(fixture.root), before);
    QCOMPARE(folderList(fixture.root), foldersBefore);
}

namespace {

constexpr const char *childFlag = "--move-child";

/// Runs one move in this process as a child of the crash test: `root target killAtOperation
/// killAfterMicroseconds`. Prints the number of file operations of a complete move.
int runMoveChild(int argc, char **argv)
{
    if (argc != 6)
        return 2;
    const QString root = QString::fromLocal8Bit(argv[2]);
    const QString target = QString::fromLocal8Bit(argv[3]);
    const int killAt = std::atoi(argv[4]);
    const long killAfter = std::atol(argv[5]);
    auto fileManager = std::make_shared<FaultInjectingFileManager>();
    if (killAt > 0)
        fileManager->killAtOperation(killAt);
    if (killAfter > 0) {
        std::thread([killAfter] {
            std::this_thread::sleep_for(std::chrono::microseconds(killAfter));
            ::kill(::getpid(), SIGKILL);
        }).detach();
    }
    const IngestCache cache(root,
                            fileManager,
                            std::make_shared<SHA256ContentHasher>(),
                            [](const QString &) { return Result<qint64>(qint64(1) << 40); });
    Result<IngestCacheMigration> moved = cache.migrate(target, {}, QUuid::createUuid());
    if (!moved) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(moved.error())));
        return 3;
    }
    std::printf("operations %d\n", fileManager->operationCount());
    return 0;
}

struct ChildRun
{
    bool crashed = false;
    int exitCode = 0;
    QByteArray output;
};

ChildRun runChild(const QString &root, const QString &target, int killAt, qint64 killAfter)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QString::fromLatin1(childFlag),
                 root,
                 target,
                 QString::number(killAt),
                 QString::number(killAfter)});
    if (!child.waitForFinished(60000))
        qFatal("move child did not finish");
    return {child.exitStatus() == QProcess::CrashExit,
            child.exitCode(),
            child.readAllStandardOutput() + child.readAllStandardError()};
}

} // namespace

void IngestCacheMigrationTests::killedMovesResumeToAnIdenticalCopy()
{
    QTemporaryDir directory(killTestDirectoryTemplate(QStringLiteral("IngestCacheMigrationTests")));
    QVERIFY(directory.isValid());
    const QString root = directory.path() + QStringLiteral("/Cache");
    const QString target = directory.path() + QStringLiteral("/Moved");
    writeGeneratedCache(root, 36, 48 * 1024, 7);
    writeFile(root + QStringLiteral("/2024/06/01-aabbccddeeff/DCIM/IMG_9999.CR3"),
              patternBytes(2 * 1024 * 1024 + 17, 99));
    const QMap<QString, QString> source = fileManifest(root);
    const QMap<QString, QByteArray> sourceContents = fileContents(root);
    const QStringList sourceFolders = folderList(root);
    QVERIFY(source.size() >= 30);

    QElapsedTimer clock;
    clock.start();
    const ChildRun complete = runChild(root, target, 0, 0);
    const qint64 fullRunMicroseconds = clock.nsecsElapsed() / 1000;
    QVERIFY2(!complete.crashed && complete.exitCode == 0, complete.output.constData());
    const int operations = complete.output.split(' ').value(1).trimmed().toInt();
    QVERIFY(operations > 100);

    const IngestCache resumer(root,
                              std::make_shared<LocalFileManager>(),
                              std::make_shared<SHA256ContentHasher>(),
                              [](const QString &) { return Result<qint64>(1LL << 40); });

    QRandomGenerator random(20240305);
    QList<qint64> killDelays;
    for (int i = 0; i < randomKillCount(); ++i)
        killDelays.append(1 + random.bounded(fullRunMicroseconds));

    int kills = 0;
    auto resumeAndCompare = [&](const QString &label) {
        Result<IngestCacheMigration> resumed = resumer.migrate(target, {}, QUuid::createUuid());
        QVERIFY2(
            resumed,
            qPrintable(label + QLatin1String(": ") + QString::fromLocal8Bit(failureText(resumed))));
        QCOMPARE(resumed->fileHashes, asHash(source));
        // Byte for byte: stronger than comparing hashes, and faster in a loop of many runs.
        QMap<QString, QByteArray> copied = fileContents(target);
        copied.remove(marker);
        QVERIFY2(copied == sourceContents, qPrintable(label));
        QCOMPARE(folderList(target), sourceFolders);
        QVERIFY2(fileContents(root) == sourceContents, qPrintable(label));
        QCOMPARE(folderList(root), sourceFolders);
    };

    const QList<int> operationKills = killPoints(operations);
    for (const int killAt : operationKills) {
        QVERIFY(QDir(target).removeRecursively());
        const ChildRun run = runChild(root, target, killAt, 0);
        QVERIFY2(run.crashed, qPrintable(QStringLiteral("not killed at %1").arg(killAt)));
        ++kills;
        resumeAndCompare(QStringLiteral("killed at operation %1").arg(killAt));
        if (QTest::currentTestFailed())
            return;
    }
    for (qint64 delay : std::as_const(killDelays)) {
        QVERIFY(QDir(target).removeRecursively());
        const ChildRun run = runChild(root, target, 0, delay);
        QVERIFY2(run.crashed || run.exitCode == 0, run.output.constData());
        kills += run.crashed ? 1 : 0;
        resumeAndCompare(QStringLiteral("killed after %1 us").arg(delay));
        if (QTest::currentTestFailed())
            return;
    }
    qInfo("%d moves killed, %lld of them at one of %d operations",
          kills,
          static_cast<long long>(operationKills.size()),
          operations);
}

void IngestCacheMigrationTests::stoppedMoveLeavesAResumableTarget_data()
{
    // Checkpoints are the progress rows of the move; 0 stops it before it starts.
    QTest::addColumn<int>("stopAt");
    QTest::addColumn<bool>("concurrentHasher");
    for (const int stopAt : {0, 1, 3, 8, 20, 40}) {
        QTest::addRow("at row %d, hashes at once", stopAt) << stopAt << true;
        QTest::addRow("at row %d, hashes in order", stopAt) << stopAt << false;
    }
}

void IngestCacheMigrationTests::stoppedMoveLeavesAResumableTarget()
{
    QFETCH(int, stopAt);
    QFETCH(bool, concurrentHasher);
    QTemporaryDir directory(killTestDirectoryTemplate(QStringLiteral("IngestCacheMigrationTests")));
    const QString root = directory.path() + QStringLiteral("/Cache");
    const QString target = directory.path() + QStringLiteral("/Moved");
    writeGeneratedCache(root, 12, 64 * 1024, 5);
    writeFile(root + QStringLiteral("/2024/06/01-aabbccddeeff/DCIM/IMG_9999.CR3"),
              patternBytes(3 * 1024 * 1024 + 17, 99));
    const QMap<QString, QString> source = fileManifest(root);
    const IngestCache cache(root,
                            std::make_shared<LocalFileManager>(),
                            std::make_shared<CountingContentHasher>(concurrentHasher),
                            [](const QString &) { return Result<qint64>(1LL << 40); });
    StopAtCheckpoint stop(stopAt);

    const Result<IngestCacheMigration> stopped = stop.run([&] {
        return cache.migrate(
            target,
            [&](const TransferProgress &) { stop.checkpoint(); },
            QUuid::createUuid(),
            stop.token());
    });

    QVERIFY(stop.stopped());
    QVERIFY(!stopped);
    QCOMPARE(stopped.error(), Error(CancellationError{}));
    QCOMPARE(fileManifest(root), source);
    // What an interruption leaves: the marker once the target was prepared, and every copy in
    // place complete, with no partial file beside it.
    QMap<QString, QString> copied = fileManifest(target);
    if (!copied.isEmpty())
        QVERIFY(copied.contains(marker));
    copied.remove(marker);
    for (auto file = copied.cbegin(); file != copied.cend(); ++file) {
        QVERIFY2(!file.key().endsWith(QLatin1String(".pellwick-partial")), qPrintable(file.key()));
        QCOMPARE(file.value(), source.value(file.key()));
    }

    // The next move finishes; completing it is stopped the same way, keeping the marker.
    const Result<IngestCacheMigration> resumed = cache.migrate(target, {}, QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(resumed);
    QCOMPARE(resumed->fileHashes, asHash(source));
    verifyMirror(root, target);
    std::stop_source stopNow;
    stopNow.request_stop();
    QCOMPARE(cache.completeMigration(target, stopNow.get_token()).error(),
             Error(CancellationError{}));
    QVERIFY(QFileInfo::exists(target + QLatin1Char('/') + marker));
    PELLWICK_VERIFY_SUCCESS(cache.completeMigration(target));
    QVERIFY(!QFileInfo::exists(target + QLatin1Char('/') + marker));
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], childFlag) == 0)
        return runMoveChild(argc, argv);
    QCoreApplication application(argc, argv);
    IngestCacheMigrationTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "IngestCacheMigrationTests.moc"
