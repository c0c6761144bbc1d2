#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/FileManager_p.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

int renameCalls = 0;
int linkCalls = 0;

/// The system's calls, with the rename flag or hard links refused as some file systems do.
Detail::NoReplaceMoveCalls callsRefusing(bool renameFlag, bool hardLinks)
{
    Detail::NoReplaceMoveCalls calls = Detail::systemNoReplaceMoveCalls();
    if (renameFlag) {
        calls.renameNoReplace = [](const char *, const char *) {
            errno = EINVAL;
            return -1;
        };
    }
    if (hardLinks) {
        calls.link = [](const char *, const char *) {
            ++linkCalls;
            errno = EPERM;
            return -1;
        };
    } else {
        calls.link = [](const char *from, const char *to) {
            ++linkCalls;
            return ::link(from, to);
        };
    }
    calls.rename = [](const char *from, const char *to) {
        ++renameCalls;
        return ::rename(from, to);
    };
    return calls;
}

} // namespace

class LocalFileManagerTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void removalNeverEntersAMountedVolume_data();
    void removalNeverEntersAMountedVolume();
    void moveNeverReplacesAnExistingItem_data();
    void moveNeverReplacesAnExistingItem();
    void moveRenamesIntoAFreeName_data();
    void moveRenamesIntoAFreeName();
    void moveFailureOtherThanARefusedFlagIsFinal();
    void createFileMakesANewFileInsteadOfEmptyingTheOld();
    void createDirectoryMakesTheChainButNotOverAFile();
    void replaceTakesTheNameAtOnce_data();
    void replaceTakesTheNameAtOnce();
    void replacingOftenKeepsFewReplacedFilesOpen();
};

void LocalFileManagerTests::init()
{
    renameCalls = 0;
    linkCalls = 0;
}

void LocalFileManagerTests::removalNeverEntersAMountedVolume_data()
{
    QTest::addColumn<bool>("bindMount");
    QTest::newRow("another file system") << false;
    QTest::newRow("a folder of the same file system, bound") << true;
}

void LocalFileManagerTests::removalNeverEntersAMountedVolume()
{
    // A volume mounted inside a folder being removed (a card mounted inside an old cache folder)
    // keeps everything on it. The mount lives in a private mount namespace of a child process.
    QFETCH(bool, bindMount);
    const QTemporaryDir dir;
    const QString outer = dir.filePath(u"old cache"_s);
    const QString mountPoint = outer + u"/media"_s;
    const QString elsewhere = dir.filePath(u"elsewhere"_s);
    QVERIFY(QDir().mkpath(mountPoint));
    writeFile(outer + u"/cached.CR3"_s, "ours");
    writeFile(elsewhere + u"/card.CR3"_s, "theirs");

    enum Outcome : int {
        Kept = 0,
        NoNamespace = 77,
        Entered = 1,
        WrongError = 2,
        Unmounted = 3,
    };

    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const QByteArray target = QFile::encodeName(mountPoint);
        const bool root = ::geteuid() == 0;
        const QByteArray uid = QByteArray::number(::geteuid());
        const QByteArray gid = QByteArray::number(::getegid());
        // Without root, a user namespace where this user is root may mount.
        const auto mapped = [&] {
            const auto put = [](const char *file, const QByteArray &text) {
                QFile f(QString::fromLatin1(file));
                return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
            };
            return root
                   || (put("/proc/self/setgroups", "deny")
                       && put("/proc/self/uid_map", "0 " + uid + " 1")
                       && put("/proc/self/gid_map", "0 " + gid + " 1"));
        };
        const bool mounted
            = ::unshare(root ? CLONE_NEWNS : (CLONE_NEWUSER | CLONE_NEWNS)) == 0 && mapped()
              && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
              && (bindMount ? ::mount(QFile::encodeName(elsewhere).constData(),
                                      target.constData(),
                                      nullptr,
                                      MS_BIND,
                                      nullptr)
                            : ::mount("none", target.constData(), "tmpfs", 0, nullptr))
                     == 0;
        if (!mounted)
            ::_exit(NoNamespace);
        if (!bindMount)
            writeFile(mountPoint + u"/card.CR3"_s, "theirs");
        const Result<void> removed = LocalFileManager().removeItem(outer);
        if (removed)
            ::_exit(Entered);
        if (!(removed.error() == Error(FileSystemError{u"remove"_s, mountPoint, EXDEV})))
            ::_exit(WrongError);
        if (readFile(mountPoint + u"/card.CR3"_s) != "theirs")
            ::_exit(Entered);
        ::_exit(::umount(target.constData()) == 0 ? Kept : Unmounted);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    if (WEXITSTATUS(status) == NoNamespace)
        QSKIP("mounting in a private namespace is not permitted here");
    QCOMPARE(WEXITSTATUS(status), int(Kept));
    QCOMPARE(readFile(elsewhere + u"/card.CR3"_s), QByteArray("theirs"));
    // Once the volume is gone, the folder is removed whole.
    PELLWICK_VERIFY_SUCCESS(LocalFileManager().removeItem(outer));
    QVERIFY(!QFileInfo::exists(outer));
}

void LocalFileManagerTests::moveNeverReplacesAnExistingItem_data()
{
    QTest::addColumn<bool>("refuseFlag");
    QTest::addColumn<bool>("refuseLinks");
    QTest::addColumn<bool>("danglingLink");
    QTest::addColumn<QString>("reportedOperation");
    for (const bool danglingLink : {false, true}) {
        const char *target = danglingLink ? "dangling symbolic link" : "file";
        QTest::addRow("rename flag, over a %s", target)
            << false << false << danglingLink << QStringLiteral("rename");
        QTest::addRow("hard link, over a %s", target)
            << true << false << danglingLink << QStringLiteral("link");
        QTest::addRow("existence check, over a %s", target)
            << true << true << danglingLink << QStringLiteral("rename");
    }
}

void LocalFileManagerTests::moveNeverReplacesAnExistingItem()
{
    QFETCH(bool, refuseFlag);
    QFETCH(bool, refuseLinks);
    QFETCH(bool, danglingLink);
    QFETCH(QString, reportedOperation);
    const QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral(".IMG_0001.CR3.pellwick-partial"));
    const QString to = dir.filePath(QStringLiteral("IMG_0001.CR3"));
    writeFile(from, "new");
    if (danglingLink)
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), to));
    else
        writeFile(to, "old");

    const Result<void> result
        = Detail::moveWithoutReplacing(from, to, callsRefusing(refuseFlag, refuseLinks));

    QVERIFY(!result);
    QCOMPARE(result.error(), Error(FileSystemError{reportedOperation, to, EEXIST}));
    QCOMPARE(renameCalls, 0);
    QCOMPARE(readFile(from), QByteArray("new"));
    if (danglingLink)
        QVERIFY(QFileInfo(to).isSymLink());
    else
        QCOMPARE(readFile(to), QByteArray("old"));
}

void LocalFileManagerTests::moveRenamesIntoAFreeName_data()
{
    QTest::addColumn<bool>("refuseFlag");
    QTest::addColumn<bool>("refuseLinks");
    QTest::addColumn<int>("expectedLinks");
    QTest::addColumn<int>("expectedRenames");
    QTest::newRow("rename flag") << false << false << 0 << 0;
    QTest::newRow("hard link then unlink") << true << false << 1 << 0;
    QTest::newRow("existence check then rename") << true << true << 1 << 1;
}

void LocalFileManagerTests::moveRenamesIntoAFreeName()
{
    QFETCH(bool, refuseFlag);
    QFETCH(bool, refuseLinks);
    QFETCH(int, expectedLinks);
    QFETCH(int, expectedRenames);
    const QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral(".IMG_0001.CR3.pellwick-partial"));
    const QString to = dir.filePath(QStringLiteral("IMG_0001.CR3"));
    writeFile(from, "new");

    PELLWICK_VERIFY_SUCCESS(
        Detail::moveWithoutReplacing(from, to, callsRefusing(refuseFlag, refuseLinks)));

    QCOMPARE(readFile(to), QByteArray("new"));
    QVERIFY(!QFileInfo::exists(from));
    QCOMPARE(linkCalls, expectedLinks);
    QCOMPARE(renameCalls, expectedRenames);

    // And the production calls, on this file system.
    writeFile(from, "newer");
    const QString other = dir.filePath(QStringLiteral("IMG_0002.CR3"));
    PELLWICK_VERIFY_SUCCESS(LocalFileManager().moveItem(from, other));
    QCOMPARE(readFile(other), QByteArray("newer"));
    QVERIFY(!QFileInfo::exists(from));
}

void LocalFileManagerTests::moveFailureOtherThanARefusedFlagIsFinal()
{
    const QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("missing"));
    const QString to = dir.filePath(QStringLiteral("IMG_0001.CR3"));
    Detail::NoReplaceMoveCalls calls = callsRefusing(false, false);

    const Result<void> result = Detail::moveWithoutReplacing(from, to, calls);

    QVERIFY(!result);
    QCOMPARE(result.error(), Error(FileSystemError{QStringLiteral("rename"), to, ENOENT}));
    QCOMPARE(linkCalls, 0);
    QCOMPARE(renameCalls, 0);
}

void LocalFileManagerTests::createFileMakesANewFileInsteadOfEmptyingTheOld()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("partial"));
    const QString otherName = dir.filePath(QStringLiteral("finished"));
    const QString linkTarget = dir.filePath(QStringLiteral("target"));
    const LocalFileManager fileManager;

    writeFile(otherName, "keep me");
    QCOMPARE(::link(QFile::encodeName(otherName).constData(), QFile::encodeName(path).constData()),
             0);
    QVERIFY(fileManager.createFile(path));
    QCOMPARE(QFileInfo(path).size(), 0);
    QCOMPARE(readFile(otherName), QByteArray("keep me"));

    QVERIFY(QFile::remove(path));
    writeFile(linkTarget, "keep me too");
    QVERIFY(QFile::link(linkTarget, path));
    QVERIFY(fileManager.createFile(path));
    QVERIFY(!QFileInfo(path).isSymLink());
    QCOMPARE(QFileInfo(path).size(), 0);
    QCOMPARE(readFile(linkTarget), QByteArray("keep me too"));

    QVERIFY(!fileManager.createFile(dir.filePath(QStringLiteral("no/such/folder/file"))));
}

void LocalFileManagerTests::createDirectoryMakesTheChainButNotOverAFile()
{
    const QTemporaryDir dir;
    const LocalFileManager fileManager;
    const QString chain = dir.filePath(QStringLiteral("a/b/c"));

    PELLWICK_VERIFY_SUCCESS(fileManager.createDirectory(chain));
    QVERIFY(QFileInfo(chain).isDir());
    PELLWICK_VERIFY_SUCCESS(fileManager.createDirectory(chain));

    const QString file = dir.filePath(QStringLiteral("a/file"));
    writeFile(file, "x");
    const Result<void> result = fileManager.createDirectory(file + QStringLiteral("/d"));
    QVERIFY(!result);
    QCOMPARE(result.error(), Error(FileSystemError{QStringLiteral("mkdir"), file, EEXIST}));
}

void LocalFileManagerTests::replaceTakesTheNameAtOnce_data()
{
    QTest::addColumn<QString>("target"); // "missing", "file", "linked file", "symbolic link"

    QTest::newRow("no file at the name") << u"missing"_s;
    QTest::newRow("a file") << u"file"_s;
    QTest::newRow("a file with a second name") << u"linked file"_s;
    QTest::newRow("a symbolic link") << u"symbolic link"_s;
}

void LocalFileManagerTests::replaceTakesTheNameAtOnce()
{
    QFETCH(QString, target);
    const QTemporaryDir dir;
    const QString from = dir.filePath(u".import-state.json.tmp"_s);
    const QString to = dir.filePath(u"import-state.json"_s);
    const QString secondName = dir.filePath(u"second"_s);
    const LocalFileManager fileManager;

    writeFile(from, "new");
    if (target == u"file" || target == u"linked file")
        writeFile(to, "old");
    if (target == u"linked file")
        QCOMPARE(
            ::link(QFile::encodeName(to).constData(), QFile::encodeName(secondName).constData()),
            0);
    if (target == u"symbolic link") {
        writeFile(secondName, "old");
        QVERIFY(QFile::link(secondName, to));
    }

    PELLWICK_VERIFY_SUCCESS(fileManager.replaceItem(from, to));
    QVERIFY(!QFileInfo::exists(from));
    QVERIFY(!QFileInfo(to).isSymLink());
    QCOMPARE(readFile(to), QByteArray("new"));
    if (target == u"linked file" || target == u"symbolic link")
        QCOMPARE(readFile(secondName), QByteArray("old"));

    // A failed replace leaves the name as it was.
    const Result<void> failed = fileManager.replaceItem(from, to);
    QVERIFY(!failed);
    QCOMPARE(failed.error(), Error(FileSystemError{u"rename"_s, to, ENOENT}));
    QCOMPARE(readFile(to), QByteArray("new"));
}

void LocalFileManagerTests::replacingOftenKeepsFewReplacedFilesOpen()
{
    const QTemporaryDir dir;
    const QString from = dir.filePath(u"next"_s);
    const QString to = dir.filePath(u"record"_s);
    const LocalFileManager fileManager;
    auto openDescriptors = [] { return QDir(u"/proc/self/fd"_s).count(); };

    writeFile(to, "0");
    const qsizetype before = openDescriptors();
    for (int i = 1; i <= 300; ++i) {
        writeFile(from, QByteArray::number(i));
        PELLWICK_VERIFY_SUCCESS(fileManager.replaceItem(from, to));
        QCOMPARE(readFile(to), QByteArray::number(i));
        // The replaced files wait to be freed; their descriptors stay few.
        QVERIFY(openDescriptors() <= before + Detail::maximumPendingBackgroundCloses);
    }
}

QTEST_GUILESS_MAIN(LocalFileManagerTests)
#include "LocalFileManagerTests.moc"
