#include <PellwickApp/Shell/State/LocalLibraryTree.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <clocale>
#include <functional>

#include <Support/FaultInjectingFileManager.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestFiles.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

using Status = LibraryItemImportStatus;

namespace {

/// Record `n` at `path` below the Ingest Cache; `hash` defaults to one of its own.
LocalLibraryItem record(int n,
                        const QString &path,
                        Status status = Status::LocalCacheReady,
                        const QString &hash = {})
{
    LocalLibraryItem item = minimalLibraryItem(n);
    item.id = QUuid(uint(n), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    item.contentHash = hash.isEmpty() ? u"h%1"_s.arg(n) : hash;
    item.cacheRelativePath = path;
    item.importStatus = status;
    return item;
}

QStringList folders(const char *format, int count)
{
    QStringList paths;
    for (int n = 1; n <= count; ++n)
        paths.append(QString::asprintf(format, n));
    return paths;
}

/// The rows as an outline, two spaces per level: ids, with the names, display item and
/// represented items of content rows and the page of paging rows.
void outline(const QList<LocalLibraryTreeNode> &rows, int depth, QStringList &lines)
{
    for (const LocalLibraryTreeNode &row : rows) {
        QString line = QString(depth * 2, u' ') + row.id;
        if (row.item()) {
            QStringList represented;
            for (const LocalLibraryItem &item : row.representedItems)
                represented.append(QString::number(item.id.data1));
            represented.sort();
            line += u" %1 shows %2 of %3"_s.arg(
                row.name, QString::number(row.item()->id.data1), represented.join(u','));
        }
        if (row.folderPage)
            line += u" %1+%2"_s.arg(row.folderPage->visibleFolderCount)
                        .arg(row.folderPage->nextFolderCount);
        lines.append(line);
        if (row.children)
            outline(*row.children, depth + 1, lines);
    }
}

QStringList outline(const QList<LocalLibraryTreeNode> &rows)
{
    QStringList lines;
    outline(rows, 0, lines);
    return lines;
}

struct Case
{
    QList<LocalLibraryItem> items = {};
    /// Made below the Ingest Cache root: a path ending in "/" is a folder, "->" makes a symbolic
    /// link to the root.
    QStringList files = {};
    QHash<QString, qint64> counts = {};
    /// Where the Ingest Cache root is, relative to the temporary folder.
    QString root = u"cache"_s;
    std::function<void(FaultInjectingFileManager &)> faults = {};
    QStringList rows = {};
};

QStringList thirtyFolderRows(int shown, const QString &paging)
{
    QStringList rows = folders("folder:f%02d", shown);
    if (!paging.isEmpty())
        rows.append(paging);
    rows.append(u"file:z.txt"_s);
    return rows;
}

} // namespace

Q_DECLARE_METATYPE(Case)

class LocalLibraryTreeTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase()
    {
        qputenv("LANG", "C.UTF-8");
        std::setlocale(LC_ALL, "C.UTF-8");
        QLocale::setDefault(QLocale::c());
    }

    void rows_data()
    {
        QTest::addColumn<Case>("c");
        const QStringList thirty = folders("f%02d/", 30) + QStringList{u"z.txt"_s};
        QTest::newRow("one content at two paths")
            << Case{.items = {record(1, u"x/IMG_1.CR3"_s, Status::LocalCacheReady, u"H"_s),
                              record(2, u"y/IMG_1.CR3"_s, Status::VerifiedBackup, u"H"_s)},
                    .files = {u"x/IMG_1.CR3"_s, u"y/IMG_1.CR3"_s},
                    .rows = {u"folder:x"_s,
                             u"  item:H IMG_1.CR3 shows 1 of 1,2"_s,
                             u"folder:y"_s,
                             u"  file:y/IMG_1.CR3"_s}};
        // A byte copy kept with another sidecar is another photo; the archive holds the first.
        LocalLibraryItem copy = record(2, u"x/IMG_2.CR3"_s, Status::Duplicate, u"H"_s);
        copy.ingestCacheOriginalURL = u"/cache/x/IMG_2.CR3"_s;
        copy.ingestCacheSidecarContentHash = u"B"_s;
        copy.archiveSidecarContentHash = u"A"_s;
        LocalLibraryItem archived = record(1, u"x/IMG_1.CR3"_s, Status::VerifiedBackup, u"H"_s);
        archived.archiveSidecarContentHash = u"A"_s;
        QTest::newRow("one content with two sidecars")
            << Case{.items = {archived, copy},
                    .rows = {u"folder:x"_s,
                             u"  item:H+A IMG_1.CR3 shows 1 of 1"_s,
                             u"  item:H+B IMG_2.CR3 shows 2 of 2"_s}};
        // Byte copies, each with a byte copy of the other's sidecar under a name of its own.
        const auto twin = [](int n) {
            LocalLibraryItem item
                = record(n, u"x/T_000%1.DNG"_s.arg(n), Status::LocalCacheReady, u"H"_s);
            item.ingestCacheOriginalURL = u"/cache/x/T_000%1.DNG"_s.arg(n);
            item.ingestCacheSidecarURL = u"/cache/x/T_000%1.xmp"_s.arg(n);
            item.ingestCacheSidecarContentHash = u"A"_s;
            return item;
        };
        QTest::newRow("twins with equal sidecars of other names")
            << Case{.items = {twin(5), twin(1)},
                    .files = {u"x/T_0001.DNG"_s, u"x/T_0005.DNG"_s},
                    .rows = {u"folder:x"_s,
                             u"  item:H+A/T_0001.xmp T_0001.DNG shows 1 of 1"_s,
                             u"  item:H+A/T_0005.xmp T_0005.DNG shows 5 of 5"_s}};
        QTest::newRow("thirty child folders, no count") << Case{
            .files = thirty, .rows = thirtyFolderRows(25, u"show-more-folders:folder: 25+5"_s)};
        QTest::newRow("thirty child folders, count 50") << Case{
            .files = thirty, .counts = {{u"folder:"_s, 50}}, .rows = thirtyFolderRows(30, {})};
        QTest::newRow("thirty child folders, count 0")
            << Case{.files = thirty,
                    .counts = {{u"folder:"_s, 0}},
                    .rows = thirtyFolderRows(0, u"show-more-folders:folder: 0+25"_s)};
        QTest::newRow("a negative count acts as 0")
            << Case{.files = thirty,
                    .counts = {{u"folder:"_s, -3}},
                    .rows = thirtyFolderRows(0, u"show-more-folders:folder: 0+25"_s)};
        QTest::newRow("names in file-browser order")
            << Case{.files = {u"img10/"_s, u"img2/"_s, u"IMG1/"_s},
                    .rows = {u"folder:IMG1"_s, u"folder:img2"_s, u"folder:img10"_s}};
        QTest::newRow("an unreadable subfolder") << Case{
            .items = {record(1, u"a/IMG_1.CR3"_s)},
            .files = {u"a/IMG_1.CR3"_s, u"a/IMG_1.xmp"_s, u"b/IMG_2.CR3"_s, u"c/IMG_3.CR3"_s},
            .faults =
                [](FaultInjectingFileManager &files) {
                    files.failOperation(FileOperation::EntriesOfDirectory, EACCES, u"/cache/b"_s);
                },
            .rows = {u"folder:a"_s,
                     u"  item:h1 IMG_1.CR3 shows 1 of 1"_s,
                     u"  file:a/IMG_1.xmp"_s,
                     u"folder:b"_s,
                     u"folder:c"_s,
                     u"  file:c/IMG_3.CR3"_s}};
        QTest::newRow("a folder removed during the walk")
            << Case{.files = {u"a/IMG_1.CR3"_s, u"b/IMG_2.CR3"_s},
                    .faults =
                        [](FaultInjectingFileManager &files) {
                            files.beforeOperation(
                                FileOperation::EntriesOfDirectory,
                                u"/cache/a"_s,
                                [](const QString &path) { QDir(path).removeRecursively(); });
                        },
                    .rows = {u"folder:a"_s, u"folder:b"_s, u"  file:b/IMG_2.CR3"_s}};
        QTest::newRow("a name that is not UTF-8")
            << Case{.files = {u"a/bad\xff.CR3"_s, u"a/ok.CR3"_s, u"a/sub\xff/"_s},
                    .rows = {u"folder:a"_s,
                             u"  folder:a/sub\\xFF"_s,
                             u"  file:a/bad\\xFF.CR3"_s,
                             u"  file:a/ok.CR3"_s}};
        QTest::newRow("a symbolic link to the root")
            << Case{.files = {u"loop->"_s, u"a/IMG_1.CR3"_s, u".marker"_s, u".partial/IMG_9.CR3"_s},
                    .rows = {u"folder:a"_s, u"  file:a/IMG_1.CR3"_s, u"file:loop"_s}};
        QTest::newRow("a missing root")
            << Case{.items = {record(1, u"a/IMG_1.CR3"_s)},
                    .root = u"missing"_s,
                    .rows = {u"folder:a"_s, u"  item:h1 IMG_1.CR3 shows 1 of 1"_s}};
        QTest::newRow("a root that is a file")
            << Case{.items = {record(1, u"a/IMG_1.CR3"_s)},
                    .files = {u"IMG_2.CR3"_s},
                    .root = u"cache/IMG_2.CR3"_s,
                    .rows = {u"folder:a"_s, u"  item:h1 IMG_1.CR3 shows 1 of 1"_s}};
    }

    void rows()
    {
        QFETCH(Case, c);
        QTemporaryDir dir;
        const QString cache = dir.filePath(u"cache"_s);
        QVERIFY(QDir().mkpath(cache));
        for (const QString &file : std::as_const(c.files)) {
            const QString path = cache + u'/' + file;
            if (file.endsWith(u"->"_s)) {
                QVERIFY(QFile::link(cache, path.chopped(2)));
                continue;
            }
            // Raw bytes: "\xff" in a name stands for that byte, not UTF-8 text.
            const bool isFolder = file.endsWith(u'/');
            const QByteArray name = (isFolder ? path.chopped(1) : path).toLatin1();
            QVERIFY(QDir().mkpath(QFileInfo(QString::fromLatin1(name)).path()));
            if (isFolder) {
                QCOMPARE(::mkdir(name.constData(), 0755), 0);
            } else {
                const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
                QVERIFY(fd >= 0);
                ::close(fd);
            }
        }
        FaultInjectingFileManager files;
        if (c.faults)
            c.faults(files);
        const QList<LocalLibraryTreeNode> tree
            = LocalLibraryTree::build(c.items, dir.filePath(c.root), true, c.counts, files);
        // QTemporaryDir cannot remove a name that is not UTF-8.
        QVERIFY(LocalFileManager().removeItem(cache));
        QCOMPARE(outline(tree), c.rows);
    }

    void equalTreesOnTwoThreads()
    {
        QTemporaryDir dir;
        const QString cache = dir.filePath(u"cache"_s);
        writeGeneratedCache(cache, 600, 1);
        QList<LocalLibraryItem> items;
        for (int n = 0; n < 3000; ++n)
            items.append(filledLibraryItem(n, cache));
        const LocalFileManager files;
        const auto build = [&] { return LocalLibraryTree::build(items, cache, true, {}, files); };
        QFuture<QList<LocalLibraryTreeNode>> first = QtConcurrent::run(build);
        QFuture<QList<LocalLibraryTreeNode>> second = QtConcurrent::run(build);
        QVERIFY(!first.result().isEmpty());
        QCOMPARE(first.result(), second.result());
    }
};

QTEST_GUILESS_MAIN(LocalLibraryTreeTests)
#include "LocalLibraryTreeTests.moc"
