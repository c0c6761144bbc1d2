#include "ImporterRunScene.h"

#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Import/VerifiedBackupImporterError.h>

#include <QFile>
#include <QTest>

#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const QUuid transferID = QUuid::fromString(u"AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");

Error unrecoverable()
{
    return VerifiedBackupImporterError::unrecoverableStagedImport();
}

} // namespace

class VerifiedBackupImporterTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void emptyImport();
    void missingCachedOriginalFailsBeforeStaging();
    void threeCachedItems();
    void failureMidUploadLeavesTheRestResumable();
    void previewReachesTheItem_data();
    void previewReachesTheItem();
    void changedCachedBytesNeedAttention();
    void safeToEraseOnlyWhatTheArchiveHolds_data();
    void safeToEraseOnlyWhatTheArchiveHolds();
    void duplicateOfAnItemArchivedInTheSameRunKnowsItsSidecar();
    void confirmedReview();
    void unusableUploadURLsAreNeverRecorded_data();
    void unusableUploadURLsAreNeverRecorded();
    void storageFullEquality_data();
    void storageFullEquality();
};

void VerifiedBackupImporterTests::emptyImport()
{
    ImporterRunScene scene;
    const Result<QList<LocalLibraryItem>> items
        = scene.importer().importVerifiedBackups(QList<LocalLibraryItem>(),
                                                 u"t"_s,
                                                 std::nullopt,
                                                 scene.callback(),
                                                 scene.rowSink(),
                                                 transferID);
    PELLWICK_VERIFY_SUCCESS(items);
    QVERIFY(items->isEmpty());
    QCOMPARE(scene.log->events(), QStringList());
}

void VerifiedBackupImporterTests::missingCachedOriginalFailsBeforeStaging()
{
    ImporterRunScene scene;
    scene.items[1].ingestCacheOriginalURL.reset();
    const Result<QList<LocalLibraryItem>> items = scene.importer().importVerifiedBackups(
        scene.items, u"t"_s, std::nullopt, scene.callback(), scene.rowSink(), transferID);
    QVERIFY(!items);
    QCOMPARE(items.error(), unrecoverable());
    QCOMPARE(scene.stagedFolders(), QStringList());
    QCOMPARE(scene.log->events(), QStringList());
}

void VerifiedBackupImporterTests::threeCachedItems()
{
    ImporterRunScene scene;
    const Result<QList<LocalLibraryItem>> items = scene.importer().importVerifiedBackups(
        scene.items, u"t"_s, u"res-1"_s, scene.callback(), scene.rowSink(), transferID);
    PELLWICK_VERIFY_SUCCESS(items);
    QCOMPARE(items->size(), 3);
    for (qsizetype i = 0; i < 3; ++i) {
        QCOMPARE(items->at(i).id, scene.items.at(i).id);
        QCOMPARE(items->at(i).importStatus, LibraryItemImportStatus::VerifiedBackup);
        // Names of cached items are kept.
        QCOMPARE(items->at(i).canonicalFilename, scene.items.at(i).canonicalFilename);
    }
    // Every row has the run's id and totals; each package starts with its staging row.
    qint64 totalBytes = 0;
    for (const QString &path : {*scene.items[0].ingestCacheOriginalURL,
                                *scene.items[0].ingestCacheSidecarURL,
                                *scene.items[1].ingestCacheOriginalURL,
                                *scene.items[2].ingestCacheOriginalURL,
                                *scene.items[2].ingestCacheSidecarURL})
        totalBytes += QFileInfo(path).size();
    for (const TransferProgress &row : scene.rows) {
        QCOMPARE(row.id, transferID);
        QCOMPARE(row.totalByteCount, totalBytes);
        QCOMPARE(row.totalPackageCount, 3);
    }
    QCOMPARE(scene.rows.last().completedByteCount, totalBytes);
    QCOMPARE(scene.rows.last().completedPackageCount, 3);
    // Per package: staging row, first record, callback finished before its first backend call.
    const QStringList events = scene.log->events();
    qsizetype from = 0;
    for (int n = 0; n < 3; ++n) {
        const qsizetype staging = events.indexOf(u"row staging"_s, from);
        const qsizetype record = events.indexOf(u"record"_s, staging);
        const qsizetype callback = events.indexOf(u"statusDidChange"_s, record);
        const qsizetype request = events.indexOf(u"request"_s, staging);
        QVERIFY(staging >= 0 && staging < record && record < callback && callback < request);
        from = request;
    }
    const QList<VerifiedBackupUploadRequest> requests = scene.api->requests();
    QCOMPARE(requests.first().reservationID, std::optional(u"res-1"_s));
    QCOMPARE(requests.at(1).sidecar, std::optional<VerifiedBackupSidecar>());
}

void VerifiedBackupImporterTests::failureMidUploadLeavesTheRestResumable()
{
    ImporterRunScene scene;
    scene.uploader->failures
        = {{u"raw-2/2"_s, Error(TransportError{56, false, false, u"reset"_s})}};
    const Result<QList<LocalLibraryItem>> items = scene.importer().importVerifiedBackups(
        scene.items, u"t"_s, std::nullopt, scene.callback(), {}, transferID);
    QVERIFY(!items);
    QVERIFY(items.error().is<TransportError>());
    QCOMPARE(scene.storedItem(scene.items[0].id).importStatus,
             LibraryItemImportStatus::VerifiedBackup);
    QCOMPARE(scene.storedItem(scene.items[1].id).importStatus, LibraryItemImportStatus::Uploading);
    QCOMPARE(scene.storedItem(scene.items[2].id).importStatus,
             LibraryItemImportStatus::LocalCacheReady);
    QCOMPARE(scene.stagedFolders().size(), 2);
    const StagingRecoveryReport report = *scene.stagingArea().readRecoverableRecords();
    QList<StagedImportPhase> phases;
    for (const StagedImportRecord &record : report.records)
        phases.append(record.phase);
    QVERIFY(phases.contains(StagedImportPhase::Uploading));
    QVERIFY(phases.contains(StagedImportPhase::VerifiedBackup));

    // Recovery resumes the second package only.
    scene.uploader->failures.clear();
    scene.api->states = {VerifiedBackupUploadState{42, LibraryItemImportStatus::Uploading}};
    scene.api->decisions = {scene.api->decisions.at(1)};
    scene.api->finalizations = {scene.api->finalizations.at(1)};
    const Result<QList<LocalLibraryItem>> resumed
        = scene.importer().resumeInterruptedImports(u"t"_s, {}, {}, transferID);
    PELLWICK_VERIFY_SUCCESS(resumed);
    QCOMPARE(resumed->size(), 1);
    QCOMPARE(resumed->first().id, scene.items[1].id);
    QCOMPARE(resumed->first().importStatus, LibraryItemImportStatus::VerifiedBackup);
    QCOMPARE(scene.storedItem(scene.items[2].id).importStatus,
             LibraryItemImportStatus::LocalCacheReady);
}

void VerifiedBackupImporterTests::previewReachesTheItem_data()
{
    QTest::addColumn<bool>("generatorSucceeds");
    QTest::addColumn<bool>("alreadyShown");
    QTest::addColumn<QString>("expectedPreview");
    // The item's camera model before the import ("" for all unknown) and after it.
    QTest::addColumn<QString>("cameraBefore");
    QTest::addColumn<QString>("cameraAfter");
    QTest::newRow("made now") << true << false << u"previews/img_0001.cr3.jpg"_s << QString()
                              << u"Staged Cam"_s;
    QTest::newRow("refused: its reason is stored")
        << false << false << u"failed: too large"_s << QString() << u"Staged Cam"_s;
    QTest::newRow("refused while one is shown: kept")
        << false << true << u"previews/old.jpg"_s << QString() << u"Staged Cam"_s;
    QTest::newRow("metadata already known: kept")
        << true << false << u"previews/img_0001.cr3.jpg"_s << u"Known Cam"_s << u"Known Cam"_s;
}

void VerifiedBackupImporterTests::previewReachesTheItem()
{
    QFETCH(bool, generatorSucceeds);
    QFETCH(bool, alreadyShown);
    QFETCH(QString, expectedPreview);
    QFETCH(QString, cameraBefore);
    QFETCH(QString, cameraAfter);
    ImporterRunScene scene;
    scene.metadata = std::make_shared<FixedMetadataExtractor>(
        PhotoMetadata{{}, {}, CameraModelMetadata::known(u"Staged Cam"_s)});
    if (!generatorSucceeds)
        scene.previews = StubPreviewGenerator::refusing(u"too large"_s);
    if (alreadyShown)
        scene.items[0].preview = LocalPreviewState::available(u"previews/old.jpg"_s);
    if (!cameraBefore.isEmpty())
        scene.items[0].metadata.cameraModel = CameraModelMetadata::known(cameraBefore);
    PELLWICK_VERIFY_SUCCESS(scene.cache().writeItems(scene.items));
    const Result<QList<LocalLibraryItem>> items = scene.importer().importVerifiedBackups(
        {scene.items[0]}, u"t"_s, std::nullopt, scene.callback(), {}, transferID);
    PELLWICK_VERIFY_SUCCESS(items);
    const LocalPreviewState expected = expectedPreview.startsWith(u"failed: "_s)
                                           ? LocalPreviewState::failed(expectedPreview.mid(8))
                                           : LocalPreviewState::available(expectedPreview);
    QCOMPARE(items->first().preview, expected);
    QCOMPARE(scene.storedItem(scene.items[0].id).preview, expected);
    const LocalLibraryItem stored = scene.storedItem(scene.items[0].id);
    QCOMPARE(stored.metadata.cameraModel, CameraModelMetadata::known(cameraAfter));
    QCOMPARE(stored.canonicalFilename, scene.items[0].canonicalFilename);
}

void VerifiedBackupImporterTests::changedCachedBytesNeedAttention()
{
    ImporterRunScene scene;
    writeFile(*scene.items[0].ingestCacheOriginalURL, "other bytes");
    const Result<QList<LocalLibraryItem>> items = scene.importer().importVerifiedBackups(
        scene.items, u"t"_s, std::nullopt, scene.callback(), {}, transferID);
    QVERIFY(!items);
    QCOMPARE(items.error(), unrecoverable());
    QCOMPARE(scene.storedItem(scene.items[0].id).importStatus,
             LibraryItemImportStatus::NeedsAttention);
    QCOMPARE(scene.log->events(), QStringList{u"statusDidChange"_s});
    QCOMPARE(scene.stagedFolders(), QStringList());
}

void VerifiedBackupImporterTests::safeToEraseOnlyWhatTheArchiveHolds_data()
{
    // Each item carries evidence of its card made from its cached files; then `change` is done
    // ("" nothing) and all three packages are imported. Item 2 has no sidecar.
    QTest::addColumn<QString>("change");
    QTest::addColumn<QList<bool>>("safe");

    QTest::newRow("cache as copied from the card") << "" << QList<bool>{true, true, true};
    QTest::newRow("cached sidecar edited after the copy")
        << "edit sidecar 1" << QList<bool>{false, true, true};
    QTest::newRow("card held a sidecar the cache did not get")
        << "card sidecar 2" << QList<bool>{true, false, true};
    QTest::newRow("card's RAW original hashed after it changed")
        << "card raw 3" << QList<bool>{true, true, false};
}

void VerifiedBackupImporterTests::safeToEraseOnlyWhatTheArchiveHolds()
{
    QFETCH(QString, change);
    QFETCH(QList<bool>, safe);
    ImporterRunScene scene;
    for (LocalLibraryItem &item : scene.items) {
        SourceMediaEvidence evidence;
        evidence.sourceRootURL = scene.dir.filePath(u"card"_s);
        evidence.sourceIdentity = ImportSourceIdentity::volume(u"0A1B-2C3D"_s);
        evidence.rawRelativePath = u"DCIM/"_s + item.originalFilename;
        evidence.rawContentHash = item.contentHash;
        if (item.ingestCacheSidecarURL) {
            evidence.sidecarRelativePath
                = u"DCIM/"_s + lastPathComponent(*item.ingestCacheSidecarURL);
            evidence.sidecarContentHash = referenceSha256(readFile(*item.ingestCacheSidecarURL));
            item.ingestCacheSidecarContentHash = evidence.sidecarContentHash;
        }
        item.sourceMediaEvidence = evidence;
    }
    if (change == u"edit sidecar 1"_s)
        writeFile(*scene.items[0].ingestCacheSidecarURL, "<x:xmpmeta rating='5'/>");
    if (change == u"card sidecar 2"_s) {
        scene.items[1].sourceMediaEvidence->sidecarRelativePath = u"DCIM/IMG_0002.xmp"_s;
        scene.items[1].sourceMediaEvidence->sidecarContentHash = referenceSha256("card xmp");
    }
    if (change == u"card raw 3"_s)
        scene.items[2].sourceMediaEvidence->rawContentHash = referenceSha256("rewritten");
    PELLWICK_VERIFY_SUCCESS(scene.cache().writeItems(scene.items));

    const Result<QList<LocalLibraryItem>> items = scene.importer().importVerifiedBackups(
        scene.items, u"t"_s, std::nullopt, scene.callback(), {}, transferID);
    PELLWICK_VERIFY_SUCCESS(items);
    QList<bool> actual;
    for (const LocalLibraryItem &item : scene.items) {
        const LocalLibraryItem stored = scene.storedItem(item.id);
        QCOMPARE(stored.importStatus, LibraryItemImportStatus::VerifiedBackup);
        QCOMPARE(stored.sourceMediaEvidence, item.sourceMediaEvidence);
        actual.append(stored.isSafeToEraseSourceMedia());
    }
    QCOMPARE(actual, safe);
}

void VerifiedBackupImporterTests::duplicateOfAnItemArchivedInTheSameRunKnowsItsSidecar()
{
    // IMG_0001 duplicates an item archived before, so the archive's list is read at once;
    // IMG_0004, a byte copy of IMG_0003 and its sidecar, duplicates the item IMG_0003 makes later.
    ImporterRunScene scene(4);
    LocalLibraryItem &copy = scene.items[3];
    const LocalLibraryItem &twin = scene.items[2];
    writeFile(*copy.ingestCacheOriginalURL, readFile(*twin.ingestCacheOriginalURL));
    writeFile(*copy.ingestCacheSidecarURL, readFile(*twin.ingestCacheSidecarURL));
    copy.contentHash = twin.contentHash;
    PELLWICK_VERIFY_SUCCESS(scene.cache().writeItems(scene.items));
    const auto duplicateOf = [](qint64 id, const LocalLibraryItem &item) {
        const qint64 size = QFileInfo(*item.ingestCacheOriginalURL).size();
        return VerifiedBackupUploadDecision{VerifiedBackupUploadDecision::Duplicate{
            {id, item.originalFilename, item.contentHash, size}}};
    };
    const auto listed = [](qint64 id, const LocalLibraryItem &item) {
        RemoteLibraryItem remote;
        remote.id = id;
        remote.contentHash = item.contentHash;
        remote.archiveSidecarFilename = lastPathComponent(*item.ingestCacheSidecarURL);
        remote.archiveSidecarByteCount = QFileInfo(*item.ingestCacheSidecarURL).size();
        remote.archiveSidecarContentHash = referenceSha256(readFile(*item.ingestCacheSidecarURL));
        return remote;
    };
    const QList<VerifiedBackupUploadDecision> uploads{*scene.api->decisions.at(1),
                                                      *scene.api->decisions.at(2)};
    scene.api->decisions
        = {duplicateOf(7, scene.items[0]), uploads[0], uploads[1], duplicateOf(43, twin)};
    scene.api->archives = {QList{listed(7, scene.items[0])}};
    scene.api->archive = QList{listed(7, scene.items[0]), listed(43, twin)};

    PELLWICK_VERIFY_SUCCESS(scene.importer().importVerifiedBackups(
        scene.items, u"t"_s, std::nullopt, scene.callback(), {}, transferID));
    const LocalLibraryItem stored = scene.storedItem(copy.id);
    QCOMPARE(stored.importStatus, LibraryItemImportStatus::Duplicate);
    QCOMPARE(stored.archiveSidecarFilename, std::optional(u"IMG_0003.xmp"_s));
    QCOMPARE(stored.archiveSidecarContentHash, listed(43, twin).archiveSidecarContentHash);
}

void VerifiedBackupImporterTests::confirmedReview()
{
    ImporterRunScene scene;
    const QString card = scene.dir.filePath(u"card"_s);
    writeFile(card + u"/a/IMG_0001.CR3"_s, patternBytes(1200, 31));
    writeFile(card + u"/b/IMG_0001.CR3"_s, patternBytes(1300, 32));
    writeFile(card + u"/IMG_0009.JPG"_s, "jpeg");
    auto supported = [&](const QString &path, qint64 size) {
        return ImportReviewItem(u"CARD"_s,
                                path,
                                u"IMG_0001.CR3"_s,
                                size,
                                ImportReviewItemStatus::supported(),
                                std::nullopt,
                                std::nullopt);
    };
    ImportReview review;
    review.items = {supported(card + u"/a/IMG_0001.CR3"_s, 1200),
                    ImportReviewItem(u"CARD"_s,
                                     card + u"/IMG_0009.JPG"_s,
                                     u"IMG_0009.JPG"_s,
                                     4,
                                     ImportReviewItemStatus::unsupported(
                                         ImportReviewUnsupportedReason::ExcludedBackupTarget),
                                     std::nullopt,
                                     std::nullopt),
                    supported(card + u"/b/IMG_0001.CR3"_s, 1300)};
    // Each new item is in the library before its first record is written.
    bool itemBeforeRecord = true;
    scene.fileManager->beforeOperation(
        FileOperation::ReplaceItem, u"import-state"_s, [&](const QString &) {
            itemBeforeRecord
                = itemBeforeRecord && scene.cache().readItems()->size() > scene.items.size();
        });
    const Result<QList<LocalLibraryItem>> items = scene.importer().importVerifiedBackups(
        review, u"t"_s, std::nullopt, scene.callback(), scene.rowSink(), transferID);
    PELLWICK_VERIFY_SUCCESS(items);
    QCOMPARE(items->size(), 2);
    QVERIFY(itemBeforeRecord);
    QVERIFY(items->at(0).canonicalFilename != items->at(1).canonicalFilename);
    for (const LocalLibraryItem &cached : scene.items)
        QVERIFY(items->at(0).canonicalFilename != cached.canonicalFilename);
    QCOMPARE(scene.rows.first().totalByteCount, 2500);
    QCOMPARE(scene.rows.first().totalPackageCount, 2);
    QCOMPARE(scene.cache().readItems()->size(), 5);
}

void VerifiedBackupImporterTests::unusableUploadURLsAreNeverRecorded_data()
{
    // Item 1's authorization with one URL replaced; its preview is refused, so a preview URL is
    // never used, nor is the second URL of a part listed twice.
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("url");
    QTest::newRow("relative preview URL") << u"preview"_s << u"/uploads/preview.jpg"_s;
    QTest::newRow("preview URL of another scheme")
        << u"preview"_s << u"ftp://objects.example.test/preview"_s;
    QTest::newRow("preview URL without host") << u"preview"_s << u"https:///preview"_s;
    QTest::newRow("second URL of a part listed twice") << u"repeated"_s << u"file:///tmp/part"_s;
    QTest::newRow("RAW part URL without scheme") << u"raw"_s << u"objects.example.test/raw/1"_s;
    QTest::newRow("sidecar part URL of another scheme")
        << u"sidecar"_s << u"ftp://objects.example.test/xmp/1"_s;
}

void VerifiedBackupImporterTests::unusableUploadURLsAreNeverRecorded()
{
    QFETCH(QString, target);
    QFETCH(QString, url);
    ImporterRunScene scene;
    scene.previews = StubPreviewGenerator::refusing(u"unsupported"_s);
    const VerifiedBackupUploadDecision sane = *scene.api->decisions.first();
    VerifiedBackupUploadAuthorization hostile
        = std::get<VerifiedBackupUploadDecision::Upload>(sane.value).authorization;
    if (target == u"preview"_s)
        hostile.previewUpload->url = url;
    if (target == u"repeated"_s)
        hostile.rawOriginalUpload.parts.append(PresignedUploadPart{2, url});
    if (target == u"raw"_s)
        hostile.rawOriginalUpload.parts[0].url = url;
    if (target == u"sidecar"_s)
        hostile.sidecarUpload->parts[0].url = url;
    scene.api->decisions
        = {VerifiedBackupUploadDecision{VerifiedBackupUploadDecision::Upload{hostile}}};

    // A record that cannot be read back would turn the package into an unreadable one at the
    // next start: the reply is refused before anything of it is kept.
    const Result<QList<LocalLibraryItem>> items = scene.importer().importVerifiedBackups(
        {scene.items[0]}, u"t"_s, std::nullopt, scene.callback(), {}, transferID);
    QVERIFY(!items);
    QVERIFY(items.error().is<DecodingError>());
    QCOMPARE(scene.log->matching(u"part"_s), QStringList());
    StagingRecoveryReport report = *scene.stagingArea().readRecoverableRecords();
    QCOMPARE(report.issues, QList<StagingRecoveryIssue>());
    QCOMPARE(report.records.size(), 1);
    QCOMPARE(report.records.first().phase, StagedImportPhase::NotStarted);
    QCOMPARE(scene.storedItem(scene.items[0].id).importStatus,
             LibraryItemImportStatus::LocalCacheReady);

    // Resumed against a sane backend, the item is verified, and stays so at the next start.
    scene.api->decisions = {sane};
    PELLWICK_VERIFY_SUCCESS(scene.importer().resumeInterruptedImports(u"t"_s, {}, {}, transferID));
    PELLWICK_VERIFY_SUCCESS(scene.importer().resumeInterruptedImports(u"t"_s, {}, {}, transferID));
    report = *scene.stagingArea().readRecoverableRecords();
    QCOMPARE(report.issues, QList<StagingRecoveryIssue>());
    QCOMPARE(report.records.first().phase, StagedImportPhase::VerifiedBackup);
    QCOMPARE(scene.storedItem(scene.items[0].id).importStatus,
             LibraryItemImportStatus::VerifiedBackup);
}

void VerifiedBackupImporterTests::storageFullEquality_data()
{
    QTest::addColumn<Error>("a");
    QTest::addColumn<Error>("b");
    QTest::addColumn<bool>("equal");
    const auto full = [](QString message) {
        return Error(VerifiedBackupImporterError::storageFull({1, 2, 1, message}));
    };
    QTest::newRow("same") << full(u"m"_s) << full(u"m"_s) << true;
    QTest::newRow("other message") << full(u"m"_s) << full(u"n"_s) << false;
    QTest::newRow("unrecoverable twice") << unrecoverable() << unrecoverable() << true;
    QTest::newRow("full and unrecoverable") << full(u"m"_s) << unrecoverable() << false;
}

void VerifiedBackupImporterTests::storageFullEquality()
{
    QFETCH(Error, a);
    QFETCH(Error, b);
    QFETCH(bool, equal);
    QCOMPARE(a == b, equal);
}

QTEST_GUILESS_MAIN(VerifiedBackupImporterTests)
#include "VerifiedBackupImporterTests.moc"
