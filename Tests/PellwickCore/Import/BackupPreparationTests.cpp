#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Import/VerifiedBackupImporterError.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <Support/ContentHasherFakes.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/ImporterFakes.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const Date importDate = Date::fromUnixSeconds(1778000000.0);
const QByteArray previewBytes = "\xFF\xD8 small preview \xFF\xD9";

/// An Ingest Cache with one package (RAW original and sidecar), a library holding its item, an
/// empty Staging Area, and an importer over them with replaceable collaborators.
struct Scene
{
    Scene()
        : cacheRoot(dir.filePath(u"cache"_s))
        , libraryRoot(dir.filePath(u"library"_s))
        , stagingRoot(dir.filePath(u"staging"_s))
        , raw(cacheRoot + u"/2026-05-01/CARD/IMG_0001.CR3"_s)
        , sidecar(cacheRoot + u"/2026-05-01/CARD/IMG_0001.xmp"_s)
        , rawBytes(patternBytes(5000, 1))
        , sidecarBytes(patternBytes(300, 2))
    {
        writeFile(raw, rawBytes);
        writeFile(sidecar, sidecarBytes);
        cached.id = QUuid::createUuid();
        cached.originalFilename = u"IMG_0001.CR3"_s;
        cached.canonicalFilename = u"20260501-101500_canon-eos-r5_img_0001_0123456789ab.cr3"_s;
        cached.contentHash = referenceSha256(rawBytes);
        cached.importDate = importDate;
        cached.ingestCacheOriginalURL = raw;
        cached.ingestCacheSidecarURL = sidecar;
        cached.ingestSourceName = u"CARD"_s;
        cached.sourceRelativePath = u"DCIM/100CANON/IMG_0001.CR3"_s;
        cached.cacheRelativePath = u"2026-05-01/CARD/IMG_0001.CR3"_s;
        cached.preview = LocalPreviewState::failed(u"Generated when Import starts"_s);
    }

    VerifiedBackupImporter importer() const
    {
        return VerifiedBackupImporter(LocalLibraryCache(libraryRoot, fileManager),
                                      StagingArea(stagingRoot, fileManager, stagingHasher),
                                      metadata,
                                      previews,
                                      hasher,
                                      nullptr,
                                      nullptr,
                                      std::make_shared<FixedImportClock>(importDate));
    }

    QStringList stagedFolders() const
    {
        return QDir(stagingRoot).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    bool libraryWritten() const
    {
        return !QDir(libraryRoot)
                    .entryList({u"library-items*"_s}, QDir::Files | QDir::Hidden)
                    .isEmpty();
    }

    QTemporaryDir dir;
    QString cacheRoot;
    QString libraryRoot;
    QString stagingRoot;
    QString raw;
    QString sidecar;
    QByteArray rawBytes;
    QByteArray sidecarBytes;
    LocalLibraryItem cached;
    std::shared_ptr<FaultInjectingFileManager> fileManager
        = std::make_shared<FaultInjectingFileManager>();
    std::shared_ptr<const ContentHashing> stagingHasher = std::make_shared<SHA256ContentHasher>();
    std::shared_ptr<const ContentHashing> hasher = std::make_shared<SHA256ContentHasher>();
    std::shared_ptr<const PhotoMetadataExtracting> metadata
        = std::make_shared<FixedMetadataExtractor>(PhotoMetadata::unknown());
    std::shared_ptr<const PreviewGenerating> previews = StubPreviewGenerator::writing(previewBytes);
};

using Setup = std::function<void(Scene &)>;

bool isUnrecoverable(const Error &error)
{
    return error == Error(VerifiedBackupImporterError::unrecoverableStagedImport());
}

} // namespace

class BackupPreparationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reviewItemOfCachedItem_data();
    void reviewItemOfCachedItem();
    void existingItemKeepsItsName();
    void newPackagesGetUniqueNames();
    void newItemFields_data();
    void newItemFields();
    void refusedPreview();
    void hashesOnlyTheStagedCopies();
    void failuresLeaveNothing_data();
    void failuresLeaveNothing();
    void previewOfAnotherPhotoIsNotOverwritten();
    void unusablePreviewName();
};

void BackupPreparationTests::reviewItemOfCachedItem_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<bool>("unrecoverable");

    QTest::newRow("with sidecar") << Setup([](Scene &) {}) << false;
    QTest::newRow("no source name")
        << Setup([](Scene &s) { s.cached.ingestSourceName.reset(); }) << false;
    QTest::newRow("no sidecar") << Setup([](Scene &s) { s.cached.ingestCacheSidecarURL.reset(); })
                                << false;
    QTest::newRow("cached file named differently")
        << Setup([](Scene &s) { s.cached.originalFilename = u"DSC_7777.CR3"_s; }) << false;
    QTest::newRow("no cached original")
        << Setup([](Scene &s) { s.cached.ingestCacheOriginalURL.reset(); }) << true;
    QTest::newRow("sidecar without size") << Setup([](Scene &s) {
        QFile::remove(s.sidecar);
        QDir().mkpath(s.sidecar);
    }) << true;
    QTest::newRow("size query fails") << Setup([](Scene &s) {
        s.fileManager->failOperation(FileOperation::AttributesOfItem, EIO, u".CR3"_s);
    }) << false;
}

void BackupPreparationTests::reviewItemOfCachedItem()
{
    QFETCH(Setup, setup);
    QFETCH(bool, unrecoverable);
    Scene scene;
    setup(scene);
    const bool sizeFails = QTest::currentDataTag() == QByteArray("size query fails");
    const qsizetype logStart = scene.fileManager->log().size();

    const Result<ImportReviewItem> item = scene.importer().cacheReviewItem(scene.cached);
    if (unrecoverable || sizeFails) {
        QVERIFY(!item);
        QCOMPARE(isUnrecoverable(item.error()), unrecoverable);
        QCOMPARE(item.error().is<FileSystemError>(), sizeFails);
        return;
    }
    PELLWICK_VERIFY_SUCCESS(item);
    QCOMPARE(item->id, scene.raw);
    QCOMPARE(item->url, scene.raw);
    QCOMPARE(item->volumeName, scene.cached.ingestSourceName.value_or(u"Ingest Cache"_s));
    QCOMPARE(item->filename, scene.cached.originalFilename);
    QCOMPARE(item->byteCount, scene.rawBytes.size());
    QVERIFY(item->status.isSupported());
    QCOMPARE(item->sourceRelativePath, scene.cached.sourceRelativePath);
    if (scene.cached.ingestCacheSidecarURL)
        QCOMPARE(item->sidecar,
                 std::optional(ImportReviewSidecar{
                     scene.sidecar, u"IMG_0001.xmp"_s, scene.sidecarBytes.size()}));
    else
        QCOMPARE(item->sidecar, std::optional<ImportReviewSidecar>());
    // Sizes only: no file is opened.
    for (const QString &line : scene.fileManager->log().mid(logStart))
        QVERIFY2(!line.startsWith(u"openForReading"_s), qPrintable(line));
}

void BackupPreparationTests::existingItemKeepsItsName()
{
    Scene scene;
    const VerifiedBackupImporter importer = scene.importer();
    QSet<QString> used{scene.cached.canonicalFilename, u"other.cr3"_s};
    const QSet<QString> before = used;
    const Result<ImportReviewItem> review = importer.cacheReviewItem(scene.cached);
    PELLWICK_VERIFY_SUCCESS(review);

    const Result<PreparedBackup> prepared
        = importer.prepareBackup(*review, u"reservation-9"_s, used, scene.cached);
    PELLWICK_VERIFY_SUCCESS(prepared);
    QCOMPARE(used, before);
    QCOMPARE(prepared->item, scene.cached);
    const QString name = scene.cached.canonicalFilename;
    QCOMPARE(prepared->preview.state,
             LocalPreviewState::available(u"previews/"_s + name + u".jpg"_s));
    QCOMPARE(prepared->preview.url,
             std::optional(QString(scene.libraryRoot + u"/previews/"_s + name + u".jpg"_s)));
    QCOMPARE(prepared->preview.byteCount, previewBytes.size());
    QCOMPARE(readFile(*prepared->preview.url), previewBytes);

    const StagedImportRecord &record = prepared->record;
    const StagedRawOriginal &staged = prepared->stagedOriginal;
    QCOMPARE(record.localLibraryItemID, scene.cached.id);
    QCOMPARE(record.backendLibraryItemID, std::optional<qint64>());
    QCOMPARE(record.originalFilename, u"IMG_0001.CR3"_s);
    QCOMPARE(record.canonicalFilename, name);
    QCOMPARE(record.contentHash, scene.cached.contentHash);
    QCOMPARE(record.byteCount, scene.rawBytes.size());
    QCOMPARE(record.previewByteCount, previewBytes.size());
    QCOMPARE(record.importSourceName, std::optional(u"CARD"_s));
    QCOMPARE(record.sourceRelativePath, scene.cached.sourceRelativePath);
    QCOMPARE(record.cacheRelativePath, scene.cached.cacheRelativePath);
    QCOMPARE(record.stagedOriginalRelativePath, staged.relativePath);
    QCOMPARE(record.previewRelativePath, std::optional(QString(name + u".jpg"_s)));
    QCOMPARE(record.sidecarFilename, std::optional(u"IMG_0001.xmp"_s));
    QCOMPARE(record.sidecarContentHash, std::optional(referenceSha256(scene.sidecarBytes)));
    QCOMPARE(record.sidecarByteCount, scene.sidecarBytes.size());
    QCOMPARE(record.importCapacityReservationID, std::optional(u"reservation-9"_s));
    QCOMPARE(record.stagedSidecarRelativePath, staged.sidecarRelativePath);
    QCOMPARE(record.previewUploadURL, std::optional<QString>());
    QVERIFY(!record.previewUploaded);
    QCOMPARE(record.phase, StagedImportPhase::NotStarted);
    QVERIFY(!record.multipartUpload && !record.sidecarMultipartUpload);
    // Preparation writes no record and no library item.
    QVERIFY(!QFileInfo::exists(staged.stateURL));
    QVERIFY(!scene.libraryWritten());
    // The preview is made from the staged copy.
    QCOMPARE(std::static_pointer_cast<const StubPreviewGenerator>(scene.previews)->sources(),
             QStringList{staged.url});
}

void BackupPreparationTests::newPackagesGetUniqueNames()
{
    Scene scene;
    const VerifiedBackupImporter importer = scene.importer();
    QSet<QString> used;
    const Result<ImportReviewItem> review = importer.cacheReviewItem(scene.cached);
    PELLWICK_VERIFY_SUCCESS(review);
    const Result<PreparedBackup> first = importer.prepareBackup(*review, std::nullopt, used, {});
    const Result<PreparedBackup> second = importer.prepareBackup(*review, std::nullopt, used, {});
    PELLWICK_VERIFY_SUCCESS(first);
    PELLWICK_VERIFY_SUCCESS(second);
    QVERIFY(first->item.canonicalFilename != second->item.canonicalFilename);
    QCOMPARE(used, (QSet<QString>{first->item.canonicalFilename, second->item.canonicalFilename}));
    QVERIFY(first->item.canonicalFilename.startsWith(u"unknown-date_unknown-camera_img_0001_"_s));
    QVERIFY(first->item.id != second->item.id);
    QCOMPARE(first->record.importCapacityReservationID, std::optional<QString>());
}

void BackupPreparationTests::newItemFields_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("expectedSourcePath");
    QTest::newRow("with source path") << Setup([](Scene &) {}) << u"DCIM/100CANON/IMG_0001.CR3"_s;
    QTest::newRow("source path falls back to the filename")
        << Setup([](Scene &s) { s.cached.sourceRelativePath.reset(); }) << u"IMG_0001.CR3"_s;
    QTest::newRow("metadata unreadable") << Setup([](Scene &s) {
        s.metadata = std::make_shared<FixedMetadataExtractor>(
            Result<PhotoMetadata>(failure(FileSystemError{u"open"_s, s.raw, EIO})));
    }) << u"DCIM/100CANON/IMG_0001.CR3"_s;
}

void BackupPreparationTests::newItemFields()
{
    QFETCH(Setup, setup);
    QFETCH(QString, expectedSourcePath);
    Scene scene;
    setup(scene);
    const VerifiedBackupImporter importer = scene.importer();
    QSet<QString> used;
    const Result<ImportReviewItem> review = importer.cacheReviewItem(scene.cached);
    PELLWICK_VERIFY_SUCCESS(review);
    const Result<PreparedBackup> prepared = importer.prepareBackup(*review, u"r"_s, used, {});
    PELLWICK_VERIFY_SUCCESS(prepared);

    const LocalLibraryItem &item = prepared->item;
    QVERIFY(!item.id.isNull() && item.id != scene.cached.id);
    QCOMPARE(item.originalFilename, u"IMG_0001.CR3"_s);
    QVERIFY(item.canonicalFilename.endsWith(u"_img_0001_"_s + scene.cached.contentHash.left(12)
                                            + u".cr3"_s));
    QCOMPARE(item.contentHash, scene.cached.contentHash);
    QCOMPARE(item.archiveByteCount,
             std::optional<qint64>(scene.rawBytes.size() + scene.sidecarBytes.size()));
    QVERIFY(!item.archiveSidecarFilename && !item.archiveSidecarByteCount
            && !item.archiveSidecarContentHash);
    QCOMPARE(item.importDate, importDate);
    QCOMPARE(item.importStatus, LibraryItemImportStatus::LocalCacheReady);
    QVERIFY(!item.backendLibraryItemID && !item.ingestCacheOriginalURL && !item.cacheRelativePath);
    QCOMPARE(item.ingestSourceName, std::optional(u"CARD"_s));
    QCOMPARE(item.sourceRelativePath, std::optional(expectedSourcePath));
    QCOMPARE(item.metadata, PhotoMetadata::unknown());
    QCOMPARE(item.preview, prepared->preview.state);
    QCOMPARE(prepared->record.sourceRelativePath, item.sourceRelativePath);
    QCOMPARE(prepared->record.localLibraryItemID, item.id);
}

void BackupPreparationTests::refusedPreview()
{
    Scene scene;
    scene.previews = StubPreviewGenerator::refusing(u"Preview exceeds its size budget"_s);
    const VerifiedBackupImporter importer = scene.importer();
    QSet<QString> used;
    const Result<PreparedBackup> prepared = importer.prepareBackup(
        *importer.cacheReviewItem(scene.cached), std::nullopt, used, scene.cached);
    PELLWICK_VERIFY_SUCCESS(prepared);
    QCOMPARE(prepared->preview,
             (GeneratedPreview{LocalPreviewState::failed(u"Preview exceeds its size budget"_s),
                               std::nullopt,
                               0}));
    QCOMPARE(prepared->record.previewByteCount, 0);
    QCOMPARE(prepared->record.previewRelativePath, std::optional<QString>());
}

void BackupPreparationTests::hashesOnlyTheStagedCopies()
{
    Scene scene;
    auto counting = std::make_shared<CountingContentHasher>();
    scene.hasher = counting;
    const VerifiedBackupImporter importer = scene.importer();
    QSet<QString> used;
    const Result<PreparedBackup> prepared
        = importer.prepareBackup(*importer.cacheReviewItem(scene.cached), std::nullopt, used, {});
    PELLWICK_VERIFY_SUCCESS(prepared);
    QCOMPARE(counting->hashedPaths(),
             (QStringList{prepared->stagedOriginal.url, *prepared->stagedOriginal.sidecarURL}));
}

void BackupPreparationTests::failuresLeaveNothing_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<bool>("unrecoverable");

    QTest::newRow("hashing the staged raw fails") << Setup([](Scene &s) {
        s.hasher = std::make_shared<FailingContentHasher>(
            u"staging/"_s, FileSystemError{u"read"_s, u"staged"_s, EIO});
    }) << false;
    QTest::newRow("hashing the staged sidecar fails") << Setup([](Scene &s) {
        s.hasher = std::make_shared<FailingContentHasher>(
            u".xmp"_s, FileSystemError{u"read"_s, u"staged"_s, EIO});
    }) << false;
    QTest::newRow("cached bytes changed since the library learned their hash")
        << Setup([](Scene &s) { s.cached.contentHash = QString(64, u'0'); }) << true;
    QTest::newRow("generator fails") << Setup([](Scene &s) {
        s.previews = StubPreviewGenerator::failing(FileSystemError{u"write"_s, u"p"_s, ENOSPC});
    }) << false;
    QTest::newRow("preview folder cannot be made") << Setup([](Scene &s) {
        s.fileManager->failOperation(FileOperation::CreateDirectory, EACCES, u"previews"_s);
    }) << false;
    QTest::newRow("preview size query fails") << Setup([](Scene &s) {
        s.fileManager->failOperation(FileOperation::AttributesOfItem, EIO, u".jpg"_s);
    }) << false;
}

void BackupPreparationTests::failuresLeaveNothing()
{
    QFETCH(Setup, setup);
    QFETCH(bool, unrecoverable);
    Scene scene;
    setup(scene);
    const VerifiedBackupImporter importer = scene.importer();
    const Result<ImportReviewItem> review = importer.cacheReviewItem(scene.cached);
    PELLWICK_VERIFY_SUCCESS(review);
    QSet<QString> used{u"a"_s};
    const Result<PreparedBackup> prepared
        = importer.prepareBackup(*review, std::nullopt, used, scene.cached);
    QVERIFY(!prepared);
    QCOMPARE(isUnrecoverable(prepared.error()), unrecoverable);
    if (!unrecoverable)
        QVERIFY2(prepared.error().is<FileSystemError>(), qPrintable(describe(prepared.error())));
    QCOMPARE(scene.stagedFolders(), QStringList());
    QVERIFY(!scene.libraryWritten());
    QCOMPARE(used, QSet<QString>{u"a"_s});
}

void BackupPreparationTests::previewOfAnotherPhotoIsNotOverwritten()
{
    // Two cards, each with an "IMG_0001.CR3" of other bytes, keep the same canonical name.
    Scene scene;
    LocalLibraryItem other = scene.cached;
    other.id = QUuid::createUuid();
    other.contentHash = QString(64, u'e');
    PELLWICK_VERIFY_SUCCESS(
        LocalLibraryCache(scene.libraryRoot, scene.fileManager).appendItems({other, scene.cached}));
    const QString shared
        = scene.libraryRoot + u"/previews/"_s + scene.cached.canonicalFilename + u".jpg"_s;
    writeFile(shared, "the other photo");

    const VerifiedBackupImporter importer = scene.importer();
    QSet<QString> used;
    const Result<PreparedBackup> prepared = importer.prepareBackup(
        *importer.cacheReviewItem(scene.cached), std::nullopt, used, scene.cached);
    PELLWICK_VERIFY_SUCCESS(prepared);
    const QString name
        = scene.cached.canonicalFilename + u'-' + scene.cached.contentHash.left(12) + u".jpg"_s;
    QCOMPARE(prepared->preview.state, LocalPreviewState::available(u"previews/"_s + name));
    QCOMPARE(prepared->record.previewRelativePath, std::optional(name));
    QCOMPARE(prepared->record.canonicalFilename, scene.cached.canonicalFilename);
    QCOMPARE(readFile(shared), QByteArray("the other photo"));
    QCOMPARE(readFile(scene.libraryRoot + u"/previews/"_s + name), previewBytes);
}

void BackupPreparationTests::unusablePreviewName()
{
    Scene scene;
    const Result<GeneratedPreview> preview
        = scene.importer().previewState(scene.raw, u"../escape"_s);
    QVERIFY(!preview);
    QCOMPARE(preview.error().as<FileSystemError>()->code, EINVAL);
    QCOMPARE(preview.error().as<FileSystemError>()->path, u"../escape"_s);
    QVERIFY(!QFileInfo::exists(scene.dir.filePath(u"escape.jpg"_s)));
}

QTEST_GUILESS_MAIN(BackupPreparationTests)
#include "BackupPreparationTests.moc"
