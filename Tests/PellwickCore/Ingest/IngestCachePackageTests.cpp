#include <PellwickCore/Ingest/IngestCache.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <Support/ContentHasherFakes.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;

class IngestCachePackageTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void archivedPackageCheck_data();
    void archivedPackageCheck();
    void removingTheOnlyPackagePrunesUpToTheRoot();
    void removingOneOfTwoPackagesKeepsTheBatch();
    void hiddenLeftoverKeepsItsFolder();
    void containmentFollowsSymbolicLinks();
    void parentStepAfterALinkLeavesTheCache();
    void filesOutsideTheRootAreNeverRemoved();
    void pruningNeverLeavesTheRoot();
    void pruningKeepsWhatArrivesMeanwhile();
    void removalStopsAtTheFirstFailure();
};

namespace {

const QByteArray rawBytes = patternBytes(4096, 1);
const QByteArray sidecarBytes = patternBytes(120, 2);

/// A cache with one package in one batch: root/2026/03/07-3f9a1c0b2d4e/DCIM/100MEDIA/IMG_0001.
struct CacheScene
{
    CacheScene()
        : root(dir.filePath(QStringLiteral("Ingest Cache")))
        , batch(root + QStringLiteral("/2026/03/07-3f9a1c0b2d4e"))
        , raw(batch + QStringLiteral("/DCIM/100MEDIA/IMG_0001.CR3"))
        , sidecar(batch + QStringLiteral("/DCIM/100MEDIA/IMG_0001.xmp"))
    {
        writeFile(raw, rawBytes);
        writeFile(sidecar, sidecarBytes);
    }

    IngestCache cache(std::shared_ptr<const FileManager> files
                      = std::make_shared<LocalFileManager>()) const
    {
        return IngestCache(root, std::move(files), std::make_shared<SHA256ContentHasher>());
    }

    QTemporaryDir dir;
    QString root;
    QString batch;
    QString raw;
    QString sidecar;
};

} // namespace

void IngestCachePackageTests::archivedPackageCheck_data()
{
    QTest::addColumn<QString>("rawState");     // "equal", "different", "missing", "outside"
    QTest::addColumn<QString>("sidecarState"); // "none", "equal", "different", "missing", ...
    QTest::addColumn<bool>("answer");
    const auto row = [](const char *raw, const char *sidecar, bool answer) {
        QTest::addRow("raw %s, sidecar %s", raw, sidecar)
            << QString::fromLatin1(raw) << QString::fromLatin1(sidecar) << answer;
    };
    row("equal", "none", true);
    row("equal", "equal", true);
    row("equal", "different", false);
    row("equal", "unreadable", false);
    row("equal", "missing", false);
    row("different", "none", false);
    row("different", "equal", false);
    row("unreadable", "equal", false);
    row("missing", "none", true);
    row("missing", "missing", true);
    row("missing", "equal", true);
    row("missing", "different", false);
    row("equal", "url only", false);
    row("equal", "hash only", false);
    row("missing", "url only", false);
    row("outside", "none", false);
    row("equal", "outside", false);
    // A file that cannot even be examined is not known to be missing.
    row("unexaminable", "none", false);
    row("unexaminable", "missing", false);
    row("missing", "unexaminable", false);
}

void IngestCachePackageTests::archivedPackageCheck()
{
    QFETCH(QString, rawState);
    QFETCH(QString, sidecarState);
    QFETCH(bool, answer);
    const CacheScene scene;
    const QString rawHash = referenceSha256(rawBytes);
    const QString sidecarHash = referenceSha256(sidecarBytes);

    QString raw = scene.raw;
    QString expectedRawHash = rawHash;
    if (rawState == QLatin1String("different"))
        expectedRawHash = referenceSha256("other bytes");
    else if (rawState == QLatin1String("missing"))
        QVERIFY(QFile::remove(scene.raw));
    else if (rawState == QLatin1String("outside")) {
        raw = scene.dir.filePath(QStringLiteral("elsewhere/IMG_0001.CR3"));
        writeFile(raw, rawBytes);
    }

    std::optional<QString> sidecar = scene.sidecar;
    std::optional<QString> expectedSidecarHash = sidecarHash;
    if (sidecarState == QLatin1String("none")) {
        sidecar.reset();
        expectedSidecarHash.reset();
    } else if (sidecarState == QLatin1String("different")) {
        expectedSidecarHash = referenceSha256("other sidecar");
    } else if (sidecarState == QLatin1String("missing")) {
        QVERIFY(QFile::remove(scene.sidecar));
    } else if (sidecarState == QLatin1String("url only")) {
        expectedSidecarHash.reset();
    } else if (sidecarState == QLatin1String("hash only")) {
        sidecar.reset();
    } else if (sidecarState == QLatin1String("outside")) {
        sidecar = scene.dir.filePath(QStringLiteral("elsewhere/IMG_0001.xmp"));
        writeFile(*sidecar, sidecarBytes);
    }

    // A file that cannot be read never counts as archived.
    QString unreadable;
    if (rawState == QLatin1String("unreadable"))
        unreadable = QStringLiteral("IMG_0001.CR3");
    else if (sidecarState == QLatin1String("unreadable"))
        unreadable = QStringLiteral("IMG_0001.xmp");
    auto hasher = std::make_shared<FailingContentHasher>(
        unreadable.isEmpty() ? QStringLiteral("\n") : unreadable,
        FileSystemError{QStringLiteral("read"), unreadable, EIO});
    // Its folder cannot be searched: stat and lstat alike fail.
    auto files = std::make_shared<FaultInjectingFileManager>();
    for (const FileOperation operation :
         {FileOperation::FileExists, FileOperation::AttributesOfItem}) {
        if (rawState == QLatin1String("unexaminable"))
            files->failOperation(operation, EACCES, QStringLiteral("IMG_0001.CR3"));
        if (sidecarState == QLatin1String("unexaminable"))
            files->failOperation(operation, EACCES, QStringLiteral("IMG_0001.xmp"));
    }
    const IngestCache cache(scene.root, files, hasher);
    QCOMPARE(cache.matchesArchivedPackage(raw, sidecar, expectedRawHash, expectedSidecarHash),
             answer);
}

void IngestCachePackageTests::removingTheOnlyPackagePrunesUpToTheRoot()
{
    const CacheScene scene;
    PELLWICK_VERIFY_SUCCESS(scene.cache().removeArchivedPackage(scene.raw, scene.sidecar));
    QVERIFY(QFileInfo(scene.root).isDir());
    QVERIFY(QDir(scene.root).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    // Removing it again finds nothing to remove and prunes nothing.
    QVERIFY(QDir().mkpath(scene.batch));
    PELLWICK_VERIFY_SUCCESS(scene.cache().removeUnarchivedPackage(scene.raw, scene.sidecar));
    QVERIFY(QFileInfo(scene.batch).isDir());
}

void IngestCachePackageTests::removingOneOfTwoPackagesKeepsTheBatch()
{
    const CacheScene scene;
    const QString other = scene.batch + QStringLiteral("/DCIM/101MEDIA/IMG_0100.CR3");
    writeFile(other, rawBytes);
    PELLWICK_VERIFY_SUCCESS(scene.cache().removeUnarchivedPackage(scene.raw, scene.sidecar));
    QVERIFY(!QFileInfo::exists(scene.raw));
    QVERIFY(!QFileInfo::exists(scene.sidecar));
    QVERIFY(!QFileInfo::exists(scene.batch + QStringLiteral("/DCIM/100MEDIA")));
    QVERIFY(QFileInfo::exists(other));
}

void IngestCachePackageTests::hiddenLeftoverKeepsItsFolder()
{
    const CacheScene scene;
    const QString partial = scene.batch + QStringLiteral("/.IMG_0002.CR3.pellwick-partial");
    writeFile(partial, "partial");
    PELLWICK_VERIFY_SUCCESS(scene.cache().removeArchivedPackage(scene.raw, scene.sidecar));
    QVERIFY(!QFileInfo::exists(scene.batch + QStringLiteral("/DCIM")));
    QVERIFY(QFileInfo::exists(partial));
}

void IngestCachePackageTests::containmentFollowsSymbolicLinks()
{
    const CacheScene scene;
    const QString shortcut = scene.dir.filePath(QStringLiteral("shortcut"));
    QVERIFY(QFile::link(scene.batch + QStringLiteral("/DCIM/100MEDIA"), shortcut));
    const IngestCache cache = scene.cache();
    QVERIFY(cache.isInsideActiveRoot(shortcut + QStringLiteral("/IMG_0001.CR3")));
    QVERIFY(cache.isInsideActiveRoot(scene.root + QStringLiteral("/not/yet/there.CR3")));
    QVERIFY(!cache.isInsideActiveRoot(scene.root));
    QVERIFY(!cache.isInsideActiveRoot(scene.root + QStringLiteral("-old/IMG_0001.CR3")));
    QVERIFY(!cache.isInsideActiveRoot(scene.root + QStringLiteral("/../elsewhere.CR3")));

    PELLWICK_VERIFY_SUCCESS(
        cache.removeUnarchivedPackage(shortcut + QStringLiteral("/IMG_0001.CR3"), std::nullopt));
    QVERIFY(!QFileInfo::exists(scene.raw));
    QVERIFY(QFileInfo::exists(scene.sidecar));
}

void IngestCachePackageTests::parentStepAfterALinkLeavesTheCache()
{
    // "<batch>/away/../keep.CR3" reads as a file of the batch, but the system takes ".." from the
    // link's target: it names <elsewhere>/keep.CR3, outside the cache.
    const CacheScene scene;
    const QString outside = scene.dir.filePath(QStringLiteral("elsewhere/keep.CR3"));
    writeFile(outside, rawBytes);
    QVERIFY(QDir().mkpath(scene.dir.filePath(QStringLiteral("elsewhere/sub"))));
    QVERIFY(QFile::link(scene.dir.filePath(QStringLiteral("elsewhere/sub")),
                        scene.batch + QStringLiteral("/away")));
    const QString tricky = scene.batch + QStringLiteral("/away/../keep.CR3");
    const IngestCache cache = scene.cache();

    QVERIFY(!cache.isInsideActiveRoot(tricky));
    QVERIFY(!cache.isInsideActiveRoot(scene.batch + QStringLiteral("/away/../not-there.CR3")));
    QVERIFY(!cache.matchesArchivedPackage(
        tricky, std::nullopt, referenceSha256(rawBytes), std::nullopt));
    QVERIFY(!cache.removeUnarchivedPackage(tricky, std::nullopt));
    PELLWICK_VERIFY_SUCCESS(cache.removeArchivedPackage(tricky, std::nullopt));
    QVERIFY(QFileInfo::exists(outside));

    // A ".." between real folders of the cache stays inside.
    QVERIFY(cache.isInsideActiveRoot(scene.batch + QStringLiteral("/DCIM/../DCIM/IMG_0001.CR3")));
}

void IngestCachePackageTests::filesOutsideTheRootAreNeverRemoved()
{
    const CacheScene scene;
    const QString outside = scene.root + QStringLiteral("-old/IMG_0001.xmp");
    writeFile(outside, sidecarBytes);

    const Result<void> refused = scene.cache().removeUnarchivedPackage(scene.raw, outside);
    QVERIFY(!refused);
    QCOMPARE(refused.error(),
             Error(IngestCacheError{IngestCacheError::PackageOutsideActiveRoot{}}));
    PELLWICK_VERIFY_SUCCESS(scene.cache().removeArchivedPackage(scene.raw, outside));
    QVERIFY(QFileInfo::exists(scene.raw));
    QVERIFY(QFileInfo::exists(outside));

    // A record that names a folder never empties it.
    const Result<void> folder = scene.cache().removeUnarchivedPackage(scene.batch, std::nullopt);
    QVERIFY(!folder);
    QCOMPARE(folder.error().as<FileSystemError>()->code, EISDIR);
    QVERIFY(QFileInfo::exists(scene.raw));

    // A cache whose root was never configured holds nothing.
    const IngestCache unconfigured(
        QString(), std::make_shared<LocalFileManager>(), std::make_shared<SHA256ContentHasher>());
    QVERIFY(!unconfigured.removeUnarchivedPackage(scene.raw, std::nullopt));
    QVERIFY(QFileInfo::exists(scene.raw));
}

void IngestCachePackageTests::pruningNeverLeavesTheRoot()
{
    // "<root>-old" begins with the root's text but is a sibling; here it is a link into a batch,
    // so the file reached through it is inside the cache while its folder is not.
    const CacheScene scene;
    const QString sibling = scene.root + QStringLiteral("-old");
    QVERIFY(QFile::link(scene.batch + QStringLiteral("/DCIM/100MEDIA"), sibling));
    PELLWICK_VERIFY_SUCCESS(scene.cache().removeArchivedPackage(
        sibling + QStringLiteral("/IMG_0001.CR3"), sibling + QStringLiteral("/IMG_0001.xmp")));
    QVERIFY(!QFileInfo::exists(scene.raw));
    QVERIFY(QFileInfo(sibling).isSymLink());
    QVERIFY(QFileInfo(scene.batch + QStringLiteral("/DCIM/100MEDIA")).isDir());

    PELLWICK_VERIFY_SUCCESS(scene.cache().removeEmptyParentFolders(sibling));
    QVERIFY(QFileInfo(sibling).isSymLink());
    PELLWICK_VERIFY_SUCCESS(scene.cache().removeEmptyParentFolders(scene.root));
    QVERIFY(QFileInfo(scene.root).isDir());
}

void IngestCachePackageTests::pruningKeepsWhatArrivesMeanwhile()
{
    // A copy-in may start a new batch in the month folder after pruning found it empty and before
    // pruning removes it: the new batch and its copies must stay.
    const CacheScene scene;
    const QString month = scene.root + QStringLiteral("/2026/03");
    const QString arrived = month + QStringLiteral("/08-0123456789ab/IMG_0002.CR3");
    auto files = std::make_shared<FaultInjectingFileManager>();
    const auto arrive = [&](const QString &path) {
        if (path == month && !QFileInfo::exists(arrived))
            writeFile(arrived, rawBytes);
    };
    files->beforeOperation(FileOperation::RemoveItem, month, arrive);
    files->beforeOperation(FileOperation::RemoveDirectory, month, arrive);

    PELLWICK_VERIFY_SUCCESS(scene.cache(files).removeArchivedPackage(scene.raw, scene.sidecar));
    QVERIFY(!QFileInfo::exists(scene.batch));
    QCOMPARE(readFile(arrived), rawBytes);
}

void IngestCachePackageTests::removalStopsAtTheFirstFailure()
{
    const CacheScene scene;
    auto files = std::make_shared<FaultInjectingFileManager>();
    files->failOperation(FileOperation::RemoveItem, EIO, QStringLiteral("IMG_0001.xmp"));
    const Result<void> removed = scene.cache(files).removeArchivedPackage(scene.raw, scene.sidecar);
    QVERIFY(!removed);
    QCOMPARE(removed.error().as<FileSystemError>()->code, EIO);
    QVERIFY(!QFileInfo::exists(scene.raw));
    QVERIFY(QFileInfo::exists(scene.sidecar));

    auto listing = std::make_shared<FaultInjectingFileManager>();
    listing->failOperation(FileOperation::ContentsOfDirectory, EIO, QStringLiteral("100MEDIA"));
    const Result<void> pruning
        = scene.cache(listing).removeUnarchivedPackage(scene.sidecar, std::nullopt);
    QVERIFY(!pruning);
    QCOMPARE(pruning.error().as<FileSystemError>()->code, EIO);
    QVERIFY(!QFileInfo::exists(scene.sidecar));
}

QTEST_GUILESS_MAIN(IngestCachePackageTests)
#include "IngestCachePackageTests.moc"
