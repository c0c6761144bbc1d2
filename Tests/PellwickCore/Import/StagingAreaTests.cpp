#include "ImportFixtures.h"
#include "StagingCrashScript.h"

#include <PellwickCore/Import/StagingArea.h>
#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/UuidText.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <functional>

#include <Support/ChildProcess.h>
#include <Support/ContentHasherFakes.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/KillPoints.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <sys/stat.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const QString stateName = u"import-state.json"_s;

/// A card folder with a RAW original and its sidecar, and a Staging Area root that does not
/// exist yet.
struct Scene
{
    Scene()
        : root(dir.filePath(u"staging"_s))
        , card(dir.filePath(u"card"_s))
    {
        writeFile(card + u"/IMG_0001.CR3"_s, patternBytes(3000, 1));
        writeFile(card + u"/IMG_0001.xmp"_s, patternBytes(40, 2));
        writeFile(card + u"/IMG_0002.CR3"_s, patternBytes(2000, 3));
    }

    ImportReviewItem item(bool withSidecar = true) const
    {
        return scriptedItems(card).at(withSidecar ? 0 : 1);
    }

    StagingArea area(std::shared_ptr<const FileManager> fileManager
                     = std::make_shared<LocalFileManager>(),
                     std::shared_ptr<const ContentHashing> hasher
                     = std::make_shared<SHA256ContentHasher>()) const
    {
        return StagingArea(root, std::move(fileManager), std::move(hasher));
    }

    QStringList rootEntries() const
    {
        return QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                    | QDir::NoDotAndDotDot);
    }

    /// Writes raw bytes as the record of a new package folder and returns the state file.
    QString writeRawRecord(const QString &folder, const QByteArray &bytes) const
    {
        const QString path = root + u'/' + folder + u'/' + stateName;
        writeFile(path, bytes);
        return path;
    }

    QTemporaryDir dir{killTestDirectoryTemplate(u"StagingAreaTests"_s)};
    QString root;
    QString card;
};

QByteArray recordBytes(const StagedImportRecord &record)
{
    return *Json::serialize(toJson(record), Json::Format::Pretty);
}

int permissions(const QString &path)
{
    struct stat st
    {};

    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 0777);
}

const QString folderA = u"0A1B2C3D-0000-4000-8000-00000000000A"_s;
const QString folderB = u"0A1B2C3D-0000-4000-8000-00000000000B"_s;

} // namespace

class StagingAreaTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stagingLayout_data();
    void stagingLayout();
    void twoStagingsOfOneItem();
    void unsafeNamesAreRefused_data();
    void unsafeNamesAreRefused();
    void failedStagingLeavesNothing_data();
    void failedStagingLeavesNothing();
    void writtenRecordIsPrivateSortedAndExact();
    void failedRewriteKeepsTheRecord();
    void writeRecordRefusesPathsOutsideItsFolder_data();
    void writeRecordRefusesPathsOutsideItsFolder();
    void recoveryOfRootStates();
    void recoveryIssues_data();
    void recoveryIssues();
    void removal();
    void removalDeletesTheRecordLast();
    void abandonedPackages_data();
    void abandonedPackages();
    void stagingInProgressIsNotAbandoned();
    void localLibraryItemIDReadLeniently_data();
    void localLibraryItemIDReadLeniently();
    void killedAtEveryOperation();
    void killedAtRandomMoments();
};

void StagingAreaTests::stagingLayout_data()
{
    QTest::addColumn<bool>("withSidecar");
    QTest::newRow("with sidecar") << true;
    QTest::newRow("without sidecar") << false;
}

void StagingAreaTests::stagingLayout()
{
    QFETCH(bool, withSidecar);
    const Scene scene;
    const StagingArea area = scene.area();
    const ImportReviewItem item = scene.item(withSidecar);

    const Result<StagedRawOriginal> staged = area.stage(item);
    PELLWICK_VERIFY_SUCCESS(staged);

    const QStringList folders = scene.rootEntries();
    QCOMPARE(folders.size(), 1);
    const QString folder = folders.first();
    QVERIFY(QRegularExpression(u"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_s)
                .match(folder)
                .hasMatch());
    const QString packagePath = scene.root + u'/' + folder;
    QCOMPARE(permissions(packagePath), 0700);
    QCOMPARE(staged->url, packagePath + u"/IMG_0001.CR3"_s);
    QCOMPARE(staged->byteCount, withSidecar ? 3000 : 2000);
    QCOMPARE(staged->relativePath, folder + u"/IMG_0001.CR3"_s);
    QCOMPARE(staged->stateURL, packagePath + u'/' + stateName);
    QCOMPARE(readFile(staged->url), readFile(item.url));
    // The production hasher's verdict is handed on, so the copy need not be read again.
    QCOMPARE(staged->verifiedContentHash, std::optional(referenceSha256(readFile(item.url))));
    QCOMPARE(staged->verifiedSidecarContentHash.has_value(), withSidecar);
    QStringList expectedEntries{u"IMG_0001.CR3"_s};
    if (withSidecar) {
        QCOMPARE(staged->sidecarURL, std::optional(QString(packagePath + u"/IMG_0001.xmp"_s)));
        QCOMPARE(staged->sidecarByteCount, 40);
        QCOMPARE(staged->sidecarRelativePath, std::optional(QString(folder + u"/IMG_0001.xmp"_s)));
        QCOMPARE(readFile(*staged->sidecarURL), readFile(item.sidecar->url));
        expectedEntries.append(u"IMG_0001.xmp"_s);
    } else {
        QCOMPARE(staged->sidecarURL, std::optional<QString>());
        QCOMPARE(staged->sidecarByteCount, 0);
        QCOMPARE(staged->sidecarRelativePath, std::optional<QString>());
    }
    QCOMPARE(QDir(packagePath).entryList(QDir::Files | QDir::Hidden), expectedEntries);

    // The record built from this staging lives beside the staged copy.
    StagedImportRecord record = preparedRecord(folder);
    record.stagedOriginalRelativePath = staged->relativePath;
    QCOMPARE(area.recordURL(record), staged->stateURL);
    QCOMPARE(area.stagedOriginalURL(record), staged->url);
    record.stagedSidecarRelativePath = staged->sidecarRelativePath;
    QCOMPARE(area.stagedSidecarURL(record), staged->sidecarURL);
}

void StagingAreaTests::twoStagingsOfOneItem()
{
    const Scene scene;
    const StagingArea area = scene.area();
    const Result<StagedRawOriginal> first = area.stage(scene.item());
    const Result<StagedRawOriginal> second = area.stage(scene.item());
    PELLWICK_VERIFY_SUCCESS(first);
    PELLWICK_VERIFY_SUCCESS(second);
    QVERIFY(first->relativePath != second->relativePath);
    QVERIFY(first->stateURL != second->stateURL);
    QCOMPARE(scene.rootEntries().size(), 2);
    QCOMPARE(readFile(first->url), readFile(second->url));

    // Another hasher's results are not handed on.
    const Result<StagedRawOriginal> counted
        = scene
              .area(std::make_shared<LocalFileManager>(), std::make_shared<CountingContentHasher>())
              .stage(scene.item());
    PELLWICK_VERIFY_SUCCESS(counted);
    QCOMPARE(counted->verifiedContentHash, std::optional<QString>());
    QCOMPARE(counted->verifiedSidecarContentHash, std::optional<QString>());
}

void StagingAreaTests::unsafeNamesAreRefused_data()
{
    QTest::addColumn<QString>("filename");
    QTest::addColumn<QString>("sidecarName");
    const QString raw = u"IMG_0001.CR3"_s;
    const QString xmp = u"IMG_0001.xmp"_s;
    QTest::newRow("parent reference") << u"../IMG_0001.CR3"_s << xmp;
    QTest::newRow("nested") << u"a/IMG_0001.CR3"_s << xmp;
    QTest::newRow("dot dot") << u".."_s << xmp;
    QTest::newRow("empty") << QString() << xmp;
    QTest::newRow("sidecar absolute") << raw << u"/etc/passwd"_s;
    QTest::newRow("sidecar dot") << raw << u"."_s;
}

void StagingAreaTests::unsafeNamesAreRefused()
{
    QFETCH(QString, filename);
    QFETCH(QString, sidecarName);
    const Scene scene;
    ImportReviewItem item = scene.item();
    item.filename = filename;
    item.sidecar->filename = sidecarName;
    const Result<StagedRawOriginal> staged = scene.area().stage(item);
    QVERIFY(!staged);
    QVERIFY(staged.error().is<FileSystemError>());
    QCOMPARE(staged.error().as<FileSystemError>()->code, EINVAL);
    QVERIFY(!QFileInfo::exists(scene.root));
    QVERIFY(!QFileInfo::exists(scene.dir.filePath(u"etc"_s)));
}

void StagingAreaTests::failedStagingLeavesNothing_data()
{
    QTest::addColumn<std::function<void(FaultInjectingFileManager &)>>("inject");
    QTest::addColumn<bool>("failHashOfSidecar");
    QTest::addColumn<bool>("missingSidecar");

    using Inject = std::function<void(FaultInjectingFileManager &)>;
    const Inject none = [](FaultInjectingFileManager &) {};
    QTest::newRow("sidecar hash fails") << none << true << false;
    QTest::newRow("sidecar source missing") << none << false << true;
    QTest::newRow("raw size query fails") << Inject([](FaultInjectingFileManager &fm) {
        fm.failOperation(FileOperation::AttributesOfItem, EIO, u"staging/"_s, 1);
    }) << false << false;
    QTest::newRow("sidecar size query fails") << Inject([](FaultInjectingFileManager &fm) {
        fm.failOperation(FileOperation::AttributesOfItem, EIO, u".xmp"_s);
    }) << false << false;
    QTest::newRow("raw write fails") << Inject([](FaultInjectingFileManager &fm) {
        fm.failOperation(FileOperation::Write, ENOSPC, u"CR3"_s);
    }) << false << false;
    QTest::newRow("folder cannot be made") << Inject([](FaultInjectingFileManager &fm) {
        fm.failOperation(FileOperation::CreateDirectory, EACCES, u"staging/"_s);
    }) << false << false;
}

void StagingAreaTests::failedStagingLeavesNothing()
{
    QFETCH(std::function<void(FaultInjectingFileManager &)>, inject);
    QFETCH(bool, failHashOfSidecar);
    QFETCH(bool, missingSidecar);
    const Scene scene;
    auto fileManager = std::make_shared<FaultInjectingFileManager>();
    inject(*fileManager);
    std::shared_ptr<const ContentHashing> hasher = std::make_shared<SHA256ContentHasher>();
    if (failHashOfSidecar)
        hasher = std::make_shared<FailingContentHasher>(u"xmp"_s,
                                                        FileSystemError{u"read"_s, u"xmp"_s, EIO});
    ImportReviewItem item = scene.item();
    if (missingSidecar)
        item.sidecar->url = scene.card + u"/gone.xmp"_s;

    const Result<StagedRawOriginal> staged = scene.area(fileManager, hasher).stage(item);
    QVERIFY(!staged);
    QCOMPARE(scene.rootEntries(), QStringList());
}

void StagingAreaTests::writtenRecordIsPrivateSortedAndExact()
{
    const Scene scene;
    const StagingArea area = scene.area();
    const StagedImportRecord record
        = preparedRecord(folderA)
              .replacingAuthorization(authorization(u"raw"_s, 100, true, true))
              .markingRawPartUploaded({1, u"\"e1\""_s});
    PELLWICK_VERIFY_SUCCESS(area.writeRecord(record));

    const QString path = area.recordURL(record);
    QCOMPARE(path, scene.root + u'/' + folderA + u'/' + stateName);
    QCOMPARE(permissions(path), 0600);
    QCOMPARE(permissions(parentPath(path)), 0700);
    const QByteArray bytes = readFile(path);
    QCOMPARE(bytes, *Json::serialize(toJson(record), Json::Format::Pretty));
    // Pretty-printed with sorted keys, and the signed URLs exactly as received.
    QVERIFY(bytes.startsWith("{\n    \"backendLibraryItemID\": 41,\n    \"byteCount\": 3000,"));
    QVERIFY(bytes.contains(signedURL(u"raw/2"_s).toUtf8()));
    QVERIFY(bytes.contains("X-Signature=ab%2Fcd+ef%3D%3D&x=a=b"));

    const Result<StagingRecoveryReport> report = area.readRecoverableRecords();
    PELLWICK_VERIFY_SUCCESS(report);
    QCOMPARE(report->records, QList<StagedImportRecord>{record});
    QCOMPARE(report->records.first().previewUploadURL, signedURL(u"preview"_s));
    QVERIFY(report->issues.isEmpty());
}

void StagingAreaTests::failedRewriteKeepsTheRecord()
{
    const Scene scene;
    auto fileManager = std::make_shared<FaultInjectingFileManager>();
    const StagingArea area = scene.area(fileManager);
    const StagedImportRecord first = preparedRecord(folderA);
    PELLWICK_VERIFY_SUCCESS(area.writeRecord(first));
    for (const FileOperation operation :
         {FileOperation::Write, FileOperation::Synchronize, FileOperation::ReplaceItem}) {
        fileManager->failOperation(operation, ENOSPC, folderA, 1);
        QVERIFY(!area.writeRecord(first.markingPreviewUploaded()));
        QCOMPARE(readFile(area.recordURL(first)), recordBytes(first));
        QCOMPARE(QDir(scene.root + u'/' + folderA).entryList(QDir::Files | QDir::Hidden),
                 QStringList{stateName});
    }
}

void StagingAreaTests::writeRecordRefusesPathsOutsideItsFolder_data()
{
    QTest::addColumn<QString>("original");
    QTest::addColumn<std::optional<QString>>("sidecar");
    QTest::addColumn<std::optional<QString>>("preview");
    const QString good = folderA + u"/IMG_0001.CR3"_s;
    QTest::newRow("no folder") << u"IMG_0001.CR3"_s << std::optional<QString>()
                               << std::optional<QString>();
    QTest::newRow("parent folder")
        << u"../IMG_0001.CR3"_s << std::optional<QString>() << std::optional<QString>();
    QTest::newRow("absolute") << u"/etc/x"_s << std::optional<QString>()
                              << std::optional<QString>();
    QTest::newRow("too deep") << u"a/b/c"_s << std::optional<QString>() << std::optional<QString>();
    QTest::newRow("sidecar elsewhere")
        << good << std::optional(QString(folderB + u"/x.xmp"_s)) << std::optional<QString>();
    QTest::newRow("preview climbs")
        << good << std::optional<QString>() << std::optional(u"../x.jpg"_s);
}

void StagingAreaTests::writeRecordRefusesPathsOutsideItsFolder()
{
    QFETCH(QString, original);
    QFETCH(std::optional<QString>, sidecar);
    QFETCH(std::optional<QString>, preview);
    const Scene scene;
    StagedImportRecord record = preparedRecord(folderA);
    record.stagedOriginalRelativePath = original;
    record.stagedSidecarRelativePath = sidecar;
    record.previewRelativePath = preview;
    const Result<void> written = scene.area().writeRecord(record);
    QVERIFY(!written);
    QCOMPARE(written.error().as<FileSystemError>()->code, EINVAL);
    QVERIFY(!QFileInfo::exists(scene.root));
}

void StagingAreaTests::recoveryOfRootStates()
{
    const Scene scene;
    const StagingArea area = scene.area();
    const QUuid id = preparedRecord().localLibraryItemID;

    // A root that does not exist is empty.
    QCOMPARE(*area.readRecoverableRecords(), StagingRecoveryReport());
    PELLWICK_VERIFY_SUCCESS(area.removeRecord(id));

    // Plain files, folders without a record and links to folders are no packages.
    writeFile(scene.root + u"/notes.txt"_s, "x");
    QDir().mkpath(scene.root + u"/" + folderB);
    writeFile(scene.root + u"/" + folderB + u"/IMG_0001.CR3"_s, "raw");
    QDir().mkpath(scene.dir.filePath(u"elsewhere"_s));
    writeFile(scene.dir.filePath(u"elsewhere/"_s) + stateName,
              recordBytes(preparedRecord(u"elsewhere"_s)));
    QVERIFY(QFile::link(scene.dir.filePath(u"elsewhere"_s), scene.root + u"/elsewhere"_s));
    QCOMPARE(*area.readRecoverableRecords(), StagingRecoveryReport());
    PELLWICK_VERIFY_SUCCESS(area.removeRecord(id));
    QVERIFY(QFileInfo::exists(scene.dir.filePath(u"elsewhere/"_s) + stateName));

    // A root that is a file cannot be listed.
    QTemporaryDir other;
    const QString fileRoot = other.filePath(u"root"_s);
    writeFile(fileRoot, "not a folder");
    const StagingArea broken(
        fileRoot, std::make_shared<LocalFileManager>(), std::make_shared<SHA256ContentHasher>());
    const Result<StagingRecoveryReport> report = broken.readRecoverableRecords();
    QVERIFY(!report);
    QVERIFY(report.error().is<FileSystemError>());
    QVERIFY(!broken.removeRecord(id));
}

void StagingAreaTests::recoveryIssues_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("namesItem");

    const StagedImportRecord good = preparedRecord(folderA);
    QJsonObject object = toJson(good);
    auto with = [&](const char *key, const QJsonValue &value) {
        QJsonObject changed = object;
        changed.insert(QLatin1String(key), value);
        return *Json::serialize(changed);
    };
    auto without = [&](const char *key) {
        QJsonObject changed = object;
        changed.remove(QLatin1String(key));
        return *Json::serialize(changed);
    };
    QTest::newRow("not JSON") << QByteArray("{\"localLibraryItemID\": ") << false;
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("top-level array") << QByteArray("[1, 2]") << false;
    QTest::newRow("number as id") << with("localLibraryItemID", 7) << false;
    QTest::newRow("malformed id") << with("localLibraryItemID", u"not-a-uuid"_s) << false;
    QTest::newRow("required key missing") << without("contentHash") << true;
    QTest::newRow("unknown phase") << with("phase", u"resting"_s) << true;
    QTest::newRow("original climbs out") << with("stagedOriginalRelativePath", u"../x"_s) << true;
    QTest::newRow("original absolute") << with("stagedOriginalRelativePath", u"/etc/x"_s) << true;
    QTest::newRow("original too deep") << with("stagedOriginalRelativePath", u"a/b/c"_s) << true;
    QTest::newRow("original in another folder")
        << with("stagedOriginalRelativePath", QString(folderB + u"/IMG_0001.CR3"_s)) << true;
    QTest::newRow("sidecar climbs out")
        << with("stagedSidecarRelativePath", QString(folderA + u"/../../x"_s)) << true;
    QTest::newRow("preview with folder") << with("previewRelativePath", u"a/b.jpg"_s) << true;
    QTest::newRow("preview parent") << with("previewRelativePath", u".."_s) << true;
    // Hostile files: refused unread, or past the size of any record.
    QTest::newRow("device in its place") << QByteArray("/dev/zero") << false;
    QTest::newRow("larger than any record")
        << QByteArray(9 * 1024 * 1024, ' ') + Json::serialize(object).value() << false;
}

void StagingAreaTests::recoveryIssues()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, namesItem);
    const Scene scene;
    const StagingArea area = scene.area();
    const StagedImportRecord good = preparedRecord(folderB);
    PELLWICK_VERIFY_SUCCESS(area.writeRecord(good));
    const QString state = scene.writeRawRecord(folderA, bytes);
    if (bytes == "/dev/zero") {
        QVERIFY(QFile::remove(state));
        QVERIFY(QFile::link(u"/dev/zero"_s, state));
    }

    const Result<StagingRecoveryReport> report = area.readRecoverableRecords();
    PELLWICK_VERIFY_SUCCESS(report);
    QCOMPARE(report->records, QList<StagedImportRecord>{good});
    const std::optional<QUuid> id
        = namesItem ? std::optional(good.localLibraryItemID) : std::nullopt;
    QCOMPARE(report->issues, (QList<StagingRecoveryIssue>{{state, id}}));

    // Removal finds a damaged record by the id it still names, and skips one that names none.
    PELLWICK_VERIFY_SUCCESS(area.removeRecord(good.localLibraryItemID));
    PELLWICK_VERIFY_SUCCESS(area.removeRecord(good.localLibraryItemID));
    QCOMPARE(QFileInfo::exists(state), !namesItem);
    QVERIFY(!QFileInfo::exists(area.recordURL(good)));
}

void StagingAreaTests::removal()
{
    const Scene scene;
    auto fileManager = std::make_shared<FaultInjectingFileManager>();
    const StagingArea area = scene.area(fileManager);
    const StagedImportRecord first = preparedRecord(folderA);
    const StagedImportRecord second = preparedRecord(folderB);
    PELLWICK_VERIFY_SUCCESS(area.writeRecord(first));
    PELLWICK_VERIFY_SUCCESS(area.writeRecord(second));
    // Unreadable records: a folder named like the record file, and a record of another item.
    QDir().mkpath(scene.root + u"/C/"_s + stateName);
    StagedImportRecord otherItem = preparedRecord(u"D"_s);
    otherItem.localLibraryItemID = QUuid::createUuid();
    PELLWICK_VERIFY_SUCCESS(area.writeRecord(otherItem));

    const Result<StagingRecoveryReport> before = area.readRecoverableRecords();
    PELLWICK_VERIFY_SUCCESS(before);
    QCOMPARE(before->records.size(), 3);
    QCOMPARE(before->issues,
             (QList<StagingRecoveryIssue>{{scene.root + u"/C/"_s + stateName, std::nullopt}}));
    // Both records name one item; one call removes the first in listing order only.
    QList<StagedImportRecord> named;
    for (const StagedImportRecord &record : before->records)
        if (record.localLibraryItemID == first.localLibraryItemID)
            named.append(record);
    QCOMPARE(named.size(), 2);

    PELLWICK_VERIFY_SUCCESS(area.removeRecord(first.localLibraryItemID));
    QVERIFY(!QFileInfo::exists(parentPath(area.recordURL(named.at(0)))));
    QVERIFY(QFileInfo::exists(area.recordURL(named.at(1))));
    PELLWICK_VERIFY_SUCCESS(area.removeRecord(first.localLibraryItemID));
    QVERIFY(!QFileInfo::exists(parentPath(area.recordURL(named.at(1)))));
    PELLWICK_VERIFY_SUCCESS(area.removeRecord(first.localLibraryItemID));
    QVERIFY(QFileInfo::exists(area.recordURL(otherItem)));
    QVERIFY(QFileInfo::exists(scene.root + u"/C/"_s + stateName));

    // A deletion that fails fails the call.
    fileManager->failOperation(FileOperation::RemoveItem, EIO, u"/D/"_s);
    QVERIFY(!area.removeRecord(otherItem.localLibraryItemID));
}

void StagingAreaTests::removalDeletesTheRecordLast()
{
    const Scene scene;
    auto fileManager = std::make_shared<FaultInjectingFileManager>();
    const StagingArea area = scene.area(fileManager);
    const Result<StagedRawOriginal> staged = area.stage(scene.item());
    PELLWICK_VERIFY_SUCCESS(staged);
    StagedImportRecord record = preparedRecord(staged->relativePath.section(u'/', 0, 0));
    PELLWICK_VERIFY_SUCCESS(area.writeRecord(record));

    // A crash between two deletions leaves a record that recovery still finds.
    fileManager->failOperation(FileOperation::RemoveItem, EIO, u".xmp"_s, 1);
    QVERIFY(!area.removeRecord(record.localLibraryItemID));
    const Result<StagingRecoveryReport> report = area.readRecoverableRecords();
    PELLWICK_VERIFY_SUCCESS(report);
    QCOMPARE(report->records, QList<StagedImportRecord>{record});

    const qsizetype logStart = fileManager->log().size();
    PELLWICK_VERIFY_SUCCESS(area.removeRecord(record.localLibraryItemID));
    QStringList removals;
    for (const QString &line : fileManager->log().mid(logStart))
        if (line.startsWith(u"remove"_s))
            removals.append(lastPathComponent(line));
    QCOMPARE(removals.last(), staged->relativePath.section(u'/', 0, 0));
    QCOMPARE(removals.at(removals.size() - 2), stateName);
    QVERIFY(scene.rootEntries().isEmpty());
}

void StagingAreaTests::abandonedPackages_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("removed");

    QTest::newRow("package folder with copies only") << u"copies"_s << true;
    QTest::newRow("empty package folder") << u"empty"_s << true;
    QTest::newRow("first record write torn") << u"temporary record"_s << true;
    QTest::newRow("readable record") << u"record"_s << false;
    QTest::newRow("unreadable record") << u"garbage record"_s << false;
    QTest::newRow("folder named as the record") << u"record folder"_s << false;
    QTest::newRow("record is a dangling link") << u"record link"_s << false;
    QTest::newRow("lower-case name") << u"lower-case"_s << false;
    QTest::newRow("not a package name") << u"other name"_s << false;
    QTest::newRow("plain file") << u"file"_s << false;
    QTest::newRow("link to a folder") << u"folder link"_s << false;
}

void StagingAreaTests::abandonedPackages()
{
    QFETCH(QString, entry);
    QFETCH(bool, removed);
    const Scene scene;
    const StagingArea area = scene.area();
    // A missing root has nothing to clean.
    QCOMPARE(*area.removeAbandonedPackages(), 0);

    // A package that went its normal way stays in every row.
    const StagedImportRecord kept = preparedRecord(folderB);
    PELLWICK_VERIFY_SUCCESS(area.writeRecord(kept));
    const QString outside = scene.dir.filePath(u"outside"_s);
    writeFile(outside + u"/IMG_0001.CR3"_s, "raw");

    QString path = scene.root + u'/' + folderA;
    const QString raw = path + u"/IMG_0001.CR3"_s;
    if (entry == u"copies") {
        writeFile(raw, "raw");
        writeFile(path + u"/IMG_0001.xmp"_s, "xmp");
    } else if (entry == u"empty") {
        QVERIFY(QDir().mkpath(path));
    } else if (entry == u"temporary record") {
        writeFile(raw, "raw");
        writeFile(path + u"/.import-state.json.1234.tmp"_s, recordBytes(preparedRecord(folderA)));
    } else if (entry == u"record") {
        writeFile(raw, "raw");
        writeFile(path + u'/' + stateName, recordBytes(preparedRecord(folderA)));
    } else if (entry == u"garbage record") {
        writeFile(raw, "raw");
        writeFile(path + u'/' + stateName, "{\"localLib");
    } else if (entry == u"record folder") {
        writeFile(raw, "raw");
        QVERIFY(QDir().mkpath(path + u'/' + stateName));
    } else if (entry == u"record link") {
        writeFile(raw, "raw");
        QVERIFY(QFile::link(scene.dir.filePath(u"nowhere"_s), path + u'/' + stateName));
    } else if (entry == u"lower-case") {
        path = scene.root + u'/' + folderA.toLower();
        writeFile(path + u"/IMG_0001.CR3"_s, "raw");
    } else if (entry == u"other name") {
        path = scene.root + u"/Keep me"_s;
        writeFile(path + u"/IMG_0001.CR3"_s, "raw");
    } else if (entry == u"file") {
        writeFile(path, "a file named like a package");
    } else if (entry == u"folder link") {
        QVERIFY(QFile::link(outside, path));
    }

    const Result<qsizetype> count = area.removeAbandonedPackages();
    PELLWICK_VERIFY_SUCCESS(count);
    QCOMPARE(*count, removed ? 1 : 0);
    QCOMPARE(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), !removed);
    QVERIFY(QFileInfo::exists(area.recordURL(kept)));
    QVERIFY(QFileInfo::exists(outside + u"/IMG_0001.CR3"_s));
    // Nothing is left for a second pass.
    QCOMPARE(*area.removeAbandonedPackages(), 0);
}

void StagingAreaTests::stagingInProgressIsNotAbandoned()
{
    const Scene scene;
    const StagingArea area = scene.area();
    // Staged, record not written yet: a clean-up meanwhile (recovery running beside an import)
    // leaves the folder to its staging.
    const Result<StagedRawOriginal> filling = area.stage(scene.item());
    PELLWICK_VERIFY_SUCCESS(filling);
    const Result<StagedRawOriginal> dropped = area.stage(scene.item(false));
    PELLWICK_VERIFY_SUCCESS(dropped);
    QCOMPARE(*area.removeAbandonedPackages(), 0);
    QVERIFY(QFileInfo::exists(filling->url));

    // Once its record is written the record keeps it; a staging given up takes its folder.
    const QString folder = filling->relativePath.section(u'/', 0, 0);
    PELLWICK_VERIFY_SUCCESS(area.writeRecord(preparedRecord(folder)));
    PELLWICK_VERIFY_SUCCESS(area.discardStaged(*dropped));
    QVERIFY(!QFileInfo::exists(parentPath(dropped->url)));
    QCOMPARE(*area.removeAbandonedPackages(), 0);
    QVERIFY(QFileInfo::exists(filling->url));

    // Another Staging Area value of this process over the same root knows the staging too.
    const Result<StagedRawOriginal> other = scene.area().stage(scene.item(false));
    PELLWICK_VERIFY_SUCCESS(other);
    QCOMPARE(*area.removeAbandonedPackages(), 0);
    // Given up with its record already in place (a write that failed after its rename): kept.
    const QString otherFolder = other->relativePath.section(u'/', 0, 0);
    writeFile(scene.root + u'/' + otherFolder + u'/' + stateName,
              recordBytes(preparedRecord(otherFolder)));
    PELLWICK_VERIFY_SUCCESS(area.discardStaged(*other));
    QVERIFY(QFileInfo::exists(other->url));
    QCOMPARE(*area.removeAbandonedPackages(), 0);
}

void StagingAreaTests::localLibraryItemIDReadLeniently_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<std::optional<QUuid>>("id");
    const QUuid id = QUuid::fromString(u"5D2F1B4E-6A7C-4D8E-9F00-112233445566");
    QTest::newRow("only the id") << QByteArray(
        R"({"localLibraryItemID":"5D2F1B4E-6A7C-4D8E-9F00-112233445566"})")
                                 << std::optional(id);
    QTest::newRow("lower case") << QByteArray(
        R"({"localLibraryItemID":"5d2f1b4e-6a7c-4d8e-9f00-112233445566"})")
                                << std::optional(id);
    QTest::newRow("array") << QByteArray("[]") << std::optional<QUuid>();
    QTest::newRow("not JSON") << QByteArray("local") << std::optional<QUuid>();
    QTest::newRow("number") << QByteArray(R"({"localLibraryItemID":5})") << std::optional<QUuid>();
    QTest::newRow("braces") << QByteArray(
        R"({"localLibraryItemID":"{5D2F1B4E-6A7C-4D8E-9F00-112233445566}"})")
                            << std::optional<QUuid>();
    QTest::newRow("missing") << QByteArray("{}") << std::optional<QUuid>();
}

void StagingAreaTests::localLibraryItemIDReadLeniently()
{
    QFETCH(QByteArray, bytes);
    QFETCH(std::optional<QUuid>, id);
    QCOMPARE(StagingArea::localLibraryItemID(bytes), id);
}

namespace {

/// What a kill may leave: record-less folders, or records that are among those written.
/// Empty when so.
QString problemAfterKill(const QString &root)
{
    const StagingArea area(
        root, std::make_shared<LocalFileManager>(), std::make_shared<SHA256ContentHasher>());
    const Result<StagingRecoveryReport> report = area.readRecoverableRecords();
    if (!report)
        return u"recovery failed: "_s + describe(report.error());
    if (!report->issues.isEmpty())
        return u"unreadable record "_s + report->issues.first().stateURL;
    for (const StagedImportRecord &record : report->records) {
        const QString folder = record.stagedOriginalRelativePath.section(u'/', 0, 0);
        const bool withSidecar = record.sidecarFilename.has_value();
        if (!scriptedRecords(folder, withSidecar).contains(record))
            return u"unexpected record in "_s + folder;
        if (!withSidecar && QFileInfo::exists(root + u'/' + folder + u"/IMG_0001.xmp"_s))
            return u"sidecar in a package without one: "_s + folder;
    }
    // Recovery's clean-up takes every folder the kill left without a record, and no record.
    if (!area.removeAbandonedPackages())
        return u"clean-up failed"_s;
    const Result<StagingRecoveryReport> after = area.readRecoverableRecords();
    if (!after || *after != *report)
        return u"clean-up changed the records"_s;
    for (const QString &folder : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (!QFileInfo::exists(root + u'/' + folder + u'/' + stateName))
            return u"folder without record left: "_s + folder;
    return {};
}

} // namespace

void StagingAreaTests::killedAtEveryOperation()
{
    const Scene scene;
    // Count the operations of an undisturbed run, then kill at them.
    auto counting = std::make_shared<FaultInjectingFileManager>();
    PELLWICK_VERIFY_SUCCESS(runStagingScript(scene.area(counting), scene.card));
    const int operations = counting->operationCount();
    const QList<int> operationsToKill = killPoints(operations);
    for (const int operation : operationsToKill) {
        QDir(scene.root).removeRecursively();
        const ChildRun run = runChildProcess(QStringLiteral(PELLWICK_STAGING_CRASH_CHILD),
                                             {scene.root, scene.card, QString::number(operation)});
        QVERIFY2(run.killed, qPrintable(u"operation %1 of %2"_s.arg(operation).arg(operations)));
        const QString problem = problemAfterKill(scene.root);
        QVERIFY2(problem.isEmpty(),
                 qPrintable(u"killed at operation %1: %2"_s.arg(operation).arg(problem)));
    }
    qInfo("%lld kill points of %d operations",
          static_cast<long long>(operationsToKill.size()),
          operations);
}

void StagingAreaTests::killedAtRandomMoments()
{
    const Scene scene;
    QList<qint64> times;
    for (int i = 0; i < 3; ++i) {
        QDir(scene.root).removeRecursively();
        qint64 runTime = 0;
        const ChildRun run = runChildProcess(QStringLiteral(PELLWICK_STAGING_CRASH_CHILD),
                                             {scene.root, scene.card},
                                             std::nullopt,
                                             &runTime);
        QVERIFY(!run.killed);
        QCOMPARE(run.exitCode, 0);
        times.append(runTime);
    }
    std::sort(times.begin(), times.end());
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    for (int i = 0; i < randomKillCount(); ++i) {
        QDir(scene.root).removeRecursively();
        const std::chrono::microseconds delay(random.bounded(times.at(1) + 1));
        const ChildRun run = runChildProcess(
            QStringLiteral(PELLWICK_STAGING_CRASH_CHILD), {scene.root, scene.card}, delay);
        if (!run.killed)
            QCOMPARE(run.exitCode, 0);
        const QString problem = problemAfterKill(scene.root);
        QVERIFY2(
            problem.isEmpty(),
            qPrintable(
                u"seed %1, killed after %2 us: %3"_s.arg(seed).arg(delay.count()).arg(problem)));
    }
}

QTEST_GUILESS_MAIN(StagingAreaTests)
#include "StagingAreaTests.moc"
