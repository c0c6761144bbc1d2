#include <PellwickCore/Ingest/VerifiedFileCopy.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <Support/ContentHasherFakes.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/ScopedSharedExecutor.h>
#include <Support/StopAtCheckpoint.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Pellwick;
using namespace Pellwick::Test;

namespace {

constexpr qint64 mebibyte = 1024 * 1024;

const Error contentHashMismatch{
    VerifiedFileCopyError{VerifiedFileCopyError::ContentHashMismatch{}}};

/// Every entry of a folder, hidden ones included, sorted.
QStringList entries(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                               | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

/// Overwrites the first bytes of a file in place, keeping its size.
void scribble(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || file.write("changed") != 7)
        qFatal("cannot change %s", qPrintable(path));
}

/// A source file in a temporary folder and a destination one folder down.
struct Scene
{
    explicit Scene(qint64 size = 2 * mebibyte + mebibyte / 2)
        : sourceBytes(patternBytes(size, 7))
        , source(dir.filePath(QStringLiteral("card/DCIM/IMG_0001.CR3")))
        , folder(dir.filePath(QStringLiteral("cache/2026-05-01")))
        , destination(folder + QStringLiteral("/IMG_0001.CR3"))
        , partial(VerifiedFileCopy::partialURL(destination))
    {
        writeFile(source, sourceBytes);
    }

    QTemporaryDir dir;
    QByteArray sourceBytes;
    QString source;
    QString folder;
    QString destination;
    QString partial;
};

} // namespace

class VerifiedFileCopyTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void partialFileIsHiddenBesideTheDestination();
    void copiesTheBytesAndReportsEachMiB_data();
    void copiesTheBytesAndReportsEachMiB();
    void copyIsFlushedAndUncachedBeforeSourceThenCopyAreHashed();
    void missingFolderChainIsCreated();
    void leftoverPartialIsReplaced();
    void leftoverPartialThatCannotBeRemovedIsStillReplaced();
    void existingDestinationIsNeverTouched();
    void sourceChangingDuringTheCopyIsAMismatch_data();
    void sourceChangingDuringTheCopyIsAMismatch();
    void failureAtEachStepLeavesNothingBehind_data();
    void failureAtEachStepLeavesNothingBehind();
    void hashingFailuresArePassedOnUnchanged_data();
    void hashingFailuresArePassedOnUnchanged();
    void folderIsFlushedAfterTheMove();
    void hashesAtOnceOnlyWhereTheHasherAllows_data();
    void hashesAtOnceOnlyWhereTheHasherAllows();
    void stopEndsTheCopyAndTheNextOneCompletes_data();
    void stopEndsTheCopyAndTheNextOneCompletes();
    void sourceThatIsNotARegularFileIsRefused_data();
    void sourceThatIsNotARegularFileIsRefused();
    void sourceGrowingPastItsSizeStopsTheCopy_data();
    void sourceGrowingPastItsSizeStopsTheCopy();
    void namesNearTheLimitAreCopied_data();
    void namesNearTheLimitAreCopied();
};

void VerifiedFileCopyTests::partialFileIsHiddenBesideTheDestination()
{
    QCOMPARE(VerifiedFileCopy::partialURL(QStringLiteral("/cache/2026/IMG_0001.CR3")),
             QStringLiteral("/cache/2026/.IMG_0001.CR3.pellwick-partial"));
    QCOMPARE(VerifiedFileCopy::partialURL(QStringLiteral("/IMG_0001.CR3")),
             QStringLiteral("/.IMG_0001.CR3.pellwick-partial"));
}

void VerifiedFileCopyTests::copiesTheBytesAndReportsEachMiB_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<qint64>>("progress");
    QTest::addColumn<bool>("throughHandles");

    const QList<std::tuple<const char *, qint64, QList<qint64>>> sizes{
        {"empty file", 0, {}},
        {"one byte", 1, {1}},
        {"exactly one MiB", mebibyte, {mebibyte}},
        {"one MiB and one byte", mebibyte + 1, {mebibyte, mebibyte + 1}},
        {"three MiB and a bit",
         3 * mebibyte + 5,
         {mebibyte, 2 * mebibyte, 3 * mebibyte, 3 * mebibyte + 5}},
    };
    for (const auto &[name, size, progress] : sizes) {
        // The local file manager lets the kernel copy; the wrapper's handles force read and write.
        QTest::addRow("%s, kernel copy", name) << size << progress << false;
        QTest::addRow("%s, read and write", name) << size << progress << true;
    }
}

void VerifiedFileCopyTests::copiesTheBytesAndReportsEachMiB()
{
    QFETCH(qint64, size);
    QFETCH(QList<qint64>, progress);
    QFETCH(bool, throughHandles);
    const Scene scene(size);
    const LocalFileManager local;
    const FaultInjectingFileManager wrapped;
    const FileManager &fileManager
        = throughHandles ? static_cast<const FileManager &>(wrapped) : local;
    QList<qint64> reported;
    int willVerifyCalls = 0;
    qsizetype reportedBeforeVerify = -1;

    const Result<void> result = VerifiedFileCopy::copy(
        scene.source,
        scene.destination,
        fileManager,
        SHA256ContentHasher(),
        [&] {
            ++willVerifyCalls;
            reportedBeforeVerify = reported.size();
        },
        [&](qint64 total) { reported.append(total); });

    PELLWICK_VERIFY_SUCCESS(result);
    QCOMPARE(reported, progress);
    QCOMPARE(willVerifyCalls, 1);
    QCOMPARE(reportedBeforeVerify, progress.size());
    QCOMPARE(readFile(scene.destination), scene.sourceBytes);
    QCOMPARE(entries(scene.folder), QStringList{QStringLiteral("IMG_0001.CR3")});
}

void VerifiedFileCopyTests::copyIsFlushedAndUncachedBeforeSourceThenCopyAreHashed()
{
    const Scene scene(0);
    const FaultInjectingFileManager fileManager;
    ScriptedContentHasher hasher;
    QStringList events;
    hasher.setBeforeEachCall([&](const QString &path) {
        events.append(QStringLiteral("hash ") + path);
        // What the file manager did last before this hash.
        events.append(QStringLiteral("after ") + fileManager.log().constLast());
    });

    const Result<void> result
        = VerifiedFileCopy::copy(scene.source, scene.destination, fileManager, hasher, [&] {
              events.append(QStringLiteral("willVerify"));
          });

    PELLWICK_VERIFY_SUCCESS(result);
    const QStringList log = fileManager.log();
    const qsizetype flushed = log.indexOf(QStringLiteral("synchronize ") + scene.partial);
    QVERIFY(flushed >= 0);
    QCOMPARE(log.at(flushed + 1), QStringLiteral("dropCachedPages ") + scene.partial);
    QCOMPARE(events,
             (QStringList{QStringLiteral("willVerify"),
                          QStringLiteral("hash ") + scene.source,
                          QStringLiteral("after dropCachedPages ") + scene.partial,
                          QStringLiteral("hash ") + scene.partial,
                          QStringLiteral("after dropCachedPages ") + scene.partial}));
    QCOMPARE(hasher.hashedPaths(), (QStringList{scene.source, scene.partial}));
    // Both hashes are of empty input, so the empty copy is verified and moved into place.
    QCOMPARE(QFileInfo(scene.destination).size(), 0);
}

void VerifiedFileCopyTests::missingFolderChainIsCreated()
{
    const Scene scene(10);
    const QString destination = scene.dir.filePath(QStringLiteral("a/b/c/d/IMG_0001.CR3"));

    PELLWICK_VERIFY_SUCCESS(VerifiedFileCopy::copy(
        scene.source, destination, LocalFileManager(), SHA256ContentHasher()));

    QCOMPARE(readFile(destination), scene.sourceBytes);
    QCOMPARE(entries(scene.dir.filePath(QStringLiteral("a/b/c/d"))),
             QStringList{QStringLiteral("IMG_0001.CR3")});
}

void VerifiedFileCopyTests::leftoverPartialIsReplaced()
{
    const Scene scene;
    const QByteArray leftover = patternBytes(4 * mebibyte, 99);
    writeFile(scene.partial, leftover);

    PELLWICK_VERIFY_SUCCESS(VerifiedFileCopy::copy(
        scene.source, scene.destination, LocalFileManager(), SHA256ContentHasher()));

    QCOMPARE(readFile(scene.destination), scene.sourceBytes);
    QCOMPARE(entries(scene.folder), QStringList{QStringLiteral("IMG_0001.CR3")});
}

void VerifiedFileCopyTests::leftoverPartialThatCannotBeRemovedIsStillReplaced()
{
    // After an interrupted move on a file system without rename flags, the leftover partial can
    // be a second name of a finished file; emptying it in place would empty that file too.
    const Scene scene;
    const QString finished = scene.folder + QStringLiteral("/IMG_0000.CR3");
    const QByteArray finishedBytes = patternBytes(mebibyte, 5);
    writeFile(finished, finishedBytes);
    QCOMPARE(::link(QFile::encodeName(finished).constData(),
                    QFile::encodeName(scene.partial).constData()),
             0);
    FaultInjectingFileManager fileManager;
    fileManager.failOperation(FileOperation::RemoveItem, EBUSY, scene.partial, 1);

    PELLWICK_VERIFY_SUCCESS(VerifiedFileCopy::copy(
        scene.source, scene.destination, fileManager, SHA256ContentHasher()));

    QCOMPARE(readFile(scene.destination), scene.sourceBytes);
    QCOMPARE(readFile(finished), finishedBytes);
    QCOMPARE(entries(scene.folder),
             (QStringList{QStringLiteral("IMG_0000.CR3"), QStringLiteral("IMG_0001.CR3")}));
}

void VerifiedFileCopyTests::existingDestinationIsNeverTouched()
{
    const Scene scene;
    const QByteArray existing = patternBytes(1000, 3);
    writeFile(scene.destination, existing);
    bool verified = false;
    qint64 copied = 0;

    const Result<void> result = VerifiedFileCopy::copy(
        scene.source,
        scene.destination,
        LocalFileManager(),
        SHA256ContentHasher(),
        [&] { verified = true; },
        [&](qint64 total) { copied = total; });

    QVERIFY(!result);
    QCOMPARE(result.error(),
             Error(FileSystemError{QStringLiteral("rename"), scene.destination, EEXIST}));
    // The copy was made and verified in full before the move refused to replace.
    QVERIFY(verified);
    QCOMPARE(copied, scene.sourceBytes.size());
    QCOMPARE(readFile(scene.destination), existing);
    QCOMPARE(entries(scene.folder), QStringList{QStringLiteral("IMG_0001.CR3")});
}

void VerifiedFileCopyTests::sourceChangingDuringTheCopyIsAMismatch_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("changed after its first MiB was copied") << QStringLiteral("copying");
    QTest::newRow("changed before verification") << QStringLiteral("willVerify");
    QTest::newRow("hasher reads different bytes") << QStringLiteral("hasher");
}

void VerifiedFileCopyTests::sourceChangingDuringTheCopyIsAMismatch()
{
    QFETCH(QString, when);
    const Scene scene;
    ScriptedContentHasher hasher;
    if (when == QLatin1String("hasher")) {
        hasher.setBeforeEachCall([&](const QString &path) {
            if (path == scene.source)
                scribble(scene.source);
        });
    }

    const Result<void> result = VerifiedFileCopy::copy(
        scene.source,
        scene.destination,
        LocalFileManager(),
        hasher,
        [&] {
            if (when == QLatin1String("willVerify"))
                scribble(scene.source);
        },
        [&](qint64 total) {
            if (when == QLatin1String("copying") && total == mebibyte)
                scribble(scene.source);
        });

    QVERIFY(!result);
    QCOMPARE(result.error(), contentHashMismatch);
    QCOMPARE(entries(scene.folder), QStringList());
}

void VerifiedFileCopyTests::failureAtEachStepLeavesNothingBehind_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("on"); // "folder", "source", "partial" or "destination"
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("reportedOperation"); // empty: unableToCreatePartial
    QTest::addColumn<bool>("verified");

    auto row = [](const char *name,
                  FileOperation operation,
                  const char *on,
                  int occurrence,
                  int code,
                  const char *reported,
                  bool verified) {
        QTest::newRow(name) << static_cast<int>(operation) << QString::fromLatin1(on) << occurrence
                            << code << QString::fromLatin1(reported) << verified;
    };
    row("folder cannot be created",
        FileOperation::CreateDirectory,
        "folder",
        0,
        EACCES,
        "mkdir",
        false);
    row("partial cannot be created", FileOperation::CreateFile, "partial", 0, ENOSPC, "", false);
    row("source cannot be opened",
        FileOperation::OpenForReading,
        "source",
        0,
        EACCES,
        "open",
        false);
    row("partial cannot be opened",
        FileOperation::OpenForWriting,
        "partial",
        0,
        EACCES,
        "open",
        false);
    row("source read fails midway", FileOperation::Read, "source", 2, EIO, "read", false);
    row("disk full while writing", FileOperation::Write, "partial", 2, ENOSPC, "write", false);
    row("flush to storage fails", FileOperation::Synchronize, "partial", 0, EIO, "fsync", false);
    row("move fails", FileOperation::MoveItem, "destination", 0, EIO, "rename", true);
    row("destination appears before the move",
        FileOperation::MoveItem,
        "destination",
        0,
        EEXIST,
        "rename",
        true);
}

void VerifiedFileCopyTests::failureAtEachStepLeavesNothingBehind()
{
    QFETCH(int, operation);
    QFETCH(QString, on);
    QFETCH(int, occurrence);
    QFETCH(int, code);
    QFETCH(QString, reportedOperation);
    QFETCH(bool, verified);
    const Scene scene;
    const QString path = on == QLatin1String("folder")    ? scene.folder
                         : on == QLatin1String("source")  ? scene.source
                         : on == QLatin1String("partial") ? scene.partial
                                                          : scene.destination;
    FaultInjectingFileManager fileManager;
    fileManager.failOperation(static_cast<FileOperation>(operation), code, path, occurrence);
    bool willVerifyCalled = false;
    const int descriptors = openDescriptorCount();

    const Result<void> result = VerifiedFileCopy::copy(
        scene.source, scene.destination, fileManager, CountingContentHasher(), [&] {
            willVerifyCalled = true;
        });

    QVERIFY(!result);
    const Error expected
        = reportedOperation.isEmpty()
              ? Error(VerifiedFileCopyError{VerifiedFileCopyError::UnableToCreatePartial{
                  .partialPath = scene.partial, .cause = {}}})
              : Error(FileSystemError{reportedOperation, path, code});
    QCOMPARE(result.error(), expected);
    QCOMPARE(willVerifyCalled, verified);
    QCOMPARE(entries(scene.folder), QStringList());
    QCOMPARE(openDescriptorCount(), descriptors);
    QCOMPARE(readFile(scene.source), scene.sourceBytes);
}

void VerifiedFileCopyTests::hashingFailuresArePassedOnUnchanged_data()
{
    QTest::addColumn<bool>("failSource");
    QTest::newRow("source cannot be hashed") << true;
    QTest::newRow("copy cannot be hashed") << false;
}

void VerifiedFileCopyTests::hashingFailuresArePassedOnUnchanged()
{
    QFETCH(bool, failSource);
    const Scene scene;
    const QString failing = failSource ? scene.source : scene.partial;
    const Error error = FileSystemError{QStringLiteral("read"), failing, EIO};
    const FailingContentHasher hasher(failing, error);

    const Result<void> result
        = VerifiedFileCopy::copy(scene.source, scene.destination, LocalFileManager(), hasher);

    QVERIFY(!result);
    QCOMPARE(result.error(), error);
    // An injected hasher is asked in order and not asked again after a failure.
    QCOMPARE(hasher.hashedPaths(),
             failSource ? QStringList{scene.source} : (QStringList{scene.source, scene.partial}));
    QCOMPARE(entries(scene.folder), QStringList());
}

void VerifiedFileCopyTests::folderIsFlushedAfterTheMove()
{
    const Scene scene(100);
    FaultInjectingFileManager fileManager;
    // A name that a power loss may take away is no copy: the flush's failure is the copy's.
    fileManager.failOperation(FileOperation::SynchronizeDirectory, EIO, scene.folder);

    const Result<void> result = VerifiedFileCopy::copy(
        scene.source, scene.destination, fileManager, SHA256ContentHasher());

    QVERIFY(!result);
    QCOMPARE(result.error(), Error(FileSystemError{QStringLiteral("fsync"), scene.folder, EIO}));
    const QStringList log = fileManager.log();
    QCOMPARE(log.mid(log.size() - 3),
             (QStringList{QStringLiteral("moveItem ") + scene.destination,
                          QStringLiteral("synchronizeDirectory ") + scene.folder,
                          QStringLiteral("removeItem ") + scene.destination}));
    QCOMPARE(entries(scene.folder), QStringList());
}

void VerifiedFileCopyTests::hashesAtOnceOnlyWhereTheHasherAllows_data()
{
    QTest::addColumn<bool>("optsIn");
    QTest::addColumn<bool>("threadsAvailable");
    QTest::addColumn<bool>("expectConcurrent");
    QTest::newRow("hasher keeps its call order") << false << true << false;
    QTest::newRow("hasher allows concurrent calls") << true << true << true;
    QTest::newRow("allowed, but no thread to be had") << true << false << false;
}

void VerifiedFileCopyTests::hashesAtOnceOnlyWhereTheHasherAllows()
{
    QFETCH(bool, optsIn);
    QFETCH(bool, threadsAvailable);
    QFETCH(bool, expectConcurrent);
    const ScopedSharedExecutor executor(threadsAvailable ? std::make_shared<const Executor>()
                                                         : ScopedSharedExecutor::withoutThreads());
    const Scene scene;
    const CountingContentHasher hasher(optsIn);

    PELLWICK_VERIFY_SUCCESS(
        VerifiedFileCopy::copy(scene.source, scene.destination, LocalFileManager(), hasher));

    QCOMPARE(readFile(scene.destination), scene.sourceBytes);
    QStringList paths = hasher.hashedPaths();
    const QList<std::thread::id> threads = hasher.callingThreads();
    QCOMPARE(threads.size(), 2);
    if (expectConcurrent) {
        // The source on a thread of the executor, the copy on the caller's, in either order.
        paths.sort();
        QCOMPARE(paths, (QStringList{scene.partial, scene.source}));
        QCOMPARE(threads.count(std::this_thread::get_id()), 1);
    } else {
        QCOMPARE(paths, (QStringList{scene.source, scene.partial}));
        QCOMPARE(threads, (QList<std::thread::id>(2, std::this_thread::get_id())));
    }
}

void VerifiedFileCopyTests::stopEndsTheCopyAndTheNextOneCompletes_data()
{
    // Checkpoints: one per MiB written (three for 2.5 MiB), then one just before hashing.
    QTest::addColumn<int>("stopAt");
    QTest::addColumn<bool>("optsIn");
    QTest::newRow("before the copy starts") << 0 << true;
    QTest::newRow("after the first MiB") << 1 << true;
    QTest::newRow("after the second MiB, hasher in order") << 2 << false;
    QTest::newRow("after the last chunk") << 3 << true;
    QTest::newRow("before hashing") << 4 << true;
    QTest::newRow("before hashing, hasher in order") << 4 << false;
}

void VerifiedFileCopyTests::stopEndsTheCopyAndTheNextOneCompletes()
{
    QFETCH(int, stopAt);
    QFETCH(bool, optsIn);
    const Scene scene;
    const CountingContentHasher hasher(optsIn);
    StopAtCheckpoint stop(stopAt);

    const Result<void> stopped = stop.run([&] {
        return VerifiedFileCopy::copy(
            scene.source,
            scene.destination,
            LocalFileManager(),
            hasher,
            [&] { stop.checkpoint(); },
            [&](qint64) { stop.checkpoint(); },
            nullptr,
            stop.token());
    });

    QVERIFY(stop.stopped());
    QVERIFY(!stopped);
    QCOMPARE(stopped.error(), Error(CancellationError{}));
    // As after any failure: nothing at the destination, no partial file.
    QCOMPARE(entries(scene.folder), QStringList());
    QCOMPARE(stop.reached(), stopAt);

    PELLWICK_VERIFY_SUCCESS(
        VerifiedFileCopy::copy(scene.source, scene.destination, LocalFileManager(), hasher));
    QCOMPARE(readFile(scene.destination), scene.sourceBytes);
    QCOMPARE(entries(scene.folder), QStringList{QStringLiteral("IMG_0001.CR3")});
}

void VerifiedFileCopyTests::namesNearTheLimitAreCopied_data()
{
    // A card's file may take up to 255 bytes; its partial file must fit beside it as well.
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("plainPartialName");
    const auto ascii = [](qsizetype bytes) -> QString {
        return QString(bytes - 4, QLatin1Char('n')) + QStringLiteral(".CR3");
    };
    QTest::addRow("200 bytes") << ascii(200) << true;
    QTest::addRow("237 bytes, the longest with a plain partial name") << ascii(237) << true;
    QTest::addRow("238 bytes") << ascii(238) << false;
    QTest::addRow("255 bytes") << ascii(255) << false;
    QTest::addRow("CJK, 255 bytes") << QString(85, QChar(0x5199)) << false;
    QString emoji = QStringLiteral("a");
    for (int i = 0; i < 60; ++i)
        emoji.append(QString::fromUcs4(U"\U0001F4F7", 1));
    emoji.append(QStringLiteral(".dng"));
    QTest::addRow("emoji across the cut") << emoji << false;
}

void VerifiedFileCopyTests::namesNearTheLimitAreCopied()
{
    QFETCH(QString, name);
    QFETCH(bool, plainPartialName);
    Scene scene(mebibyte + 3);
    const QString destination = scene.folder + QLatin1Char('/') + name;
    const QString partial = VerifiedFileCopy::partialURL(destination);
    QCOMPARE(parentPath(partial), scene.folder);
    const QString partialName = lastPathComponent(partial);
    QVERIFY2(partialName.toUtf8().size() <= 255, qPrintable(partialName));
    QVERIFY(partialName.startsWith(QLatin1Char('.')));
    QVERIFY(partialName.endsWith(QLatin1String(".pellwick-partial")));
    QVERIFY(partialName.isValidUtf16());
    QCOMPARE(partialName == QLatin1Char('.') + name + QStringLiteral(".pellwick-partial"),
             plainPartialName);
    // Another name with the same start gets a partial file of its own.
    QVERIFY(VerifiedFileCopy::partialURL(destination + QLatin1Char('x')) != partial);

    // A leftover of an interrupted copy is found again and replaced.
    writeFile(partial, "leftover");
    const Result<void> copied = VerifiedFileCopy::copy(
        scene.source, destination, LocalFileManager(), SHA256ContentHasher());
    QVERIFY2(copied, copied ? "" : qPrintable(describe(copied.error())));
    QCOMPARE(readFile(destination), scene.sourceBytes);
    QCOMPARE(entries(scene.folder), QStringList{name});
}

QTEST_GUILESS_MAIN(VerifiedFileCopyTests)
#include "VerifiedFileCopyTests.moc"

void VerifiedFileCopyTests::sourceThatIsNotARegularFileIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code");
    // A FIFO would wait for a writer for ever, and a device never ends or is not the photo.
    QTest::newRow("FIFO put where the file was") << QStringLiteral("fifo") << EINVAL;
    QTest::newRow("character device") << QStringLiteral("/dev/null") << EINVAL;
    QTest::newRow("folder") << QStringLiteral("folder") << EISDIR;
}

void VerifiedFileCopyTests::sourceThatIsNotARegularFileIsRefused()
{
    QFETCH(QString, kind);
    QFETCH(int, code);
    const Scene scene;
    QString source = scene.source;
    QVERIFY(QFile::remove(source));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(source).constData(), 0600), 0);
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(source));
    else
        source = kind;
    const CountingContentHasher hasher;
    qint64 copied = 0;

    const Result<void> result = VerifiedFileCopy::copy(
        source, scene.destination, LocalFileManager(), hasher, {}, [&](qint64 total) {
            copied = total;
        });

    QVERIFY(!result);
    QCOMPARE(result.error(), Error(FileSystemError{QStringLiteral("read"), source, code}));
    QCOMPARE(copied, qint64(0));
    QCOMPARE(hasher.callCount(), 0);
    QCOMPARE(entries(scene.folder), QStringList());
}

void VerifiedFileCopyTests::sourceGrowingPastItsSizeStopsTheCopy_data()
{
    QTest::addColumn<bool>("throughHandles");
    QTest::newRow("kernel copy") << false;
    QTest::newRow("copy through the file handles") << true;
}

void VerifiedFileCopyTests::sourceGrowingPastItsSizeStopsTheCopy()
{
    QFETCH(bool, throughHandles);
    const Scene scene;
    FaultInjectingFileManager faulty;
    const LocalFileManager local;
    const FileManager &fileManager = throughHandles ? static_cast<const FileManager &>(faulty)
                                                    : static_cast<const FileManager &>(local);
    // Still being written: more bytes arrive once the first MiB has been copied.
    bool grown = false;
    const auto grow = [&] {
        if (grown)
            return;
        grown = true;
        QFile file(scene.source);
        QVERIFY(file.open(QIODevice::Append));
        QCOMPARE(file.write(patternBytes(mebibyte, 3)), mebibyte);
    };
    const CountingContentHasher hasher;

    const Result<void> result = VerifiedFileCopy::copy(
        scene.source, scene.destination, fileManager, hasher, {}, [&](qint64 total) {
            if (total == mebibyte)
                grow();
        });

    QVERIFY(grown);
    QVERIFY(!result);
    QCOMPARE(result.error(), Error(FileSystemError{QStringLiteral("read"), scene.source, EFBIG}));
    QCOMPARE(hasher.callCount(), 0);
    QCOMPARE(entries(scene.folder), QStringList());
}
