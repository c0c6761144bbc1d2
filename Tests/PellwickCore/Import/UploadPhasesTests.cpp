#include "ImporterScene.h"

#include <PellwickCore/Backend/PresignedURLUploadError.h>
#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Import/VerifiedBackupImporterError.h>

#include <QRegularExpression>
#include <QTest>

#include <limits>

#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

Error status(int code)
{
    return LibrarySessionClientError{LibrarySessionClientError::UnexpectedStatus{code}};
}

QStringList partEvents(const EventLog &log)
{
    QStringList out;
    for (const QString &event : log.events())
        if (event.startsWith(u"part "_s) || event == u"record"_s)
            out.append(event.startsWith(u"part "_s) ? event.section(u' ', 2) : event);
    return out;
}

} // namespace

class UploadPhasesTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rawParts_data();
    void rawParts();
    void completedStateSendsNothing();
    void partsPastTheFileAreRefused_data();
    void partsPastTheFileAreRefused();
    void confusedPartListsNeverCompleteAWrongObject_data();
    void confusedPartListsNeverCompleteAWrongObject();
    void sidecarPhase_data();
    void sidecarPhase();
    void authorizationFailures_data();
    void authorizationFailures();
    void previewWithoutTarget_data();
    void previewWithoutTarget();
    void previewUpload();
    void markRecord_data();
    void markRecord();
};

void UploadPhasesTests::rawParts_data()
{
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<qint64>("partSize");
    QTest::addColumn<QList<qint64>>("order");
    QTest::addColumn<QList<qint64>>("alreadyUploaded");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("out of order, sent ascending, each recorded before the next")
        << qint64(2500) << qint64(1000) << QList<qint64>{3, 1, 2} << QList<qint64>()
        << QStringList{
               u"0-1000"_s, u"record"_s, u"1000-2000"_s, u"record"_s, u"2000-2500"_s, u"record"_s};
    QTest::newRow("exact multiple")
        << qint64(2000) << qint64(1000) << QList<qint64>{1, 2} << QList<qint64>()
        << QStringList{u"0-1000"_s, u"record"_s, u"1000-2000"_s, u"record"_s};
    QTest::newRow("part larger than the file")
        << qint64(2500) << qint64(4096) << QList<qint64>{1} << QList<qint64>()
        << QStringList{u"0-2500"_s, u"record"_s};
    QTest::newRow("only the missing part")
        << qint64(2500) << qint64(1000) << QList<qint64>{1, 2, 3} << QList<qint64>{1, 3}
        << QStringList{u"1000-2000"_s, u"record"_s};
    QTest::newRow("every part recorded: nothing sent")
        << qint64(2500) << qint64(1000) << QList<qint64>{1, 2, 3} << QList<qint64>{1, 2, 3}
        << QStringList();
    QTest::newRow("part starting at the end belongs to no object")
        << qint64(2000) << qint64(1000) << QList<qint64>{1, 2, 3} << QList<qint64>{1, 2}
        << QStringList();
}

void UploadPhasesTests::rawParts()
{
    QFETCH(qint64, fileSize);
    QFETCH(qint64, partSize);
    QFETCH(QList<qint64>, order);
    QFETCH(QList<qint64>, alreadyUploaded);
    QFETCH(QStringList, expected);
    ImporterScene scene(fileSize, 0);
    StagedImportRecord record
        = scene.record.replacingAuthorization(scene.authorizationFor(partSize, order));
    for (qint64 part : alreadyUploaded)
        record = record.markingRawPartUploaded({part, u"\"old\""_s});
    QList<TransferProgress> rows;
    ImportTransferProgressReporter progress(
        QUuid::createUuid(), fileSize, 1, [&](const TransferProgress &row) { rows.append(row); });
    scene.api->completions = {Result<void>()};

    const Result<std::optional<StagedImportRecord>> completed
        = scene.importer().completeRawUploadIfNeeded(
            record, scene.staged.url, u"token"_s, &progress);
    PELLWICK_VERIFY_SUCCESS(completed);
    QVERIFY(completed->has_value());
    QCOMPARE(partEvents(*scene.log), expected + QStringList{u"record"_s});
    // The completion is sent even when nothing was uploaded, with every part once.
    const QStringList completions = scene.log->matching(u"complete "_s);
    QCOMPARE(completions.size(), 1);
    QCOMPARE((*completed)->multipartUpload->uploadedParts.size(),
             (fileSize + partSize - 1) / partSize);
    QVERIFY((*completed)->multipartUpload->isCompleted);
    QCOMPARE(scene.storedRecord(), **completed);
    // Rows start at the bytes already sent and end at the file size.
    QVERIFY(!rows.isEmpty());
    QCOMPARE(rows.last().completedByteCount, fileSize);
    if (expected.isEmpty())
        QCOMPARE(rows.size(), 1);
    QCOMPARE(progress.completedByteCount(), 0);
    // The bytes each part URL received are the file's bytes of its range.
    for (const QString &event : scene.log->matching(u"part "_s)) {
        const QString url = event.section(u' ', 1, 1);
        const QStringList bounds = event.section(u' ', 2).split(u'-');
        QCOMPARE(scene.uploader->received(url),
                 scene.rawBytes.mid(bounds.at(0).toLongLong(),
                                    bounds.at(1).toLongLong() - bounds.at(0).toLongLong()));
    }
}

void UploadPhasesTests::partsPastTheFileAreRefused_data()
{
    QTest::addColumn<qint64>("partSize");
    QTest::addColumn<QList<qint64>>("parts");

    constexpr qint64 huge = qint64{1} << 62;
    QTest::newRow("part after the end") << qint64(1000) << QList<qint64>{1, 2, 3, 4};
    QTest::newRow("offset past 64 bits") << huge << QList<qint64>{1, 3};
    QTest::newRow("largest part size") << std::numeric_limits<qint64>::max() << QList<qint64>{1, 2};
    QTest::newRow("largest part number")
        << huge << QList<qint64>{1, UploadedMultipartPart::maximumPartNumber};
}

void UploadPhasesTests::partsPastTheFileAreRefused()
{
    QFETCH(qint64, partSize);
    QFETCH(QList<qint64>, parts);
    ImporterScene scene(2500, 0);
    const StagedImportRecord record
        = scene.record.replacingAuthorization(scene.authorizationFor(partSize, parts));

    const Result<std::optional<StagedImportRecord>> completed
        = scene.importer().completeRawUploadIfNeeded(record, scene.staged.url, u"token"_s, nullptr);
    QVERIFY(!completed);
    QCOMPARE(completed.error(),
             Error(PresignedURLUploadError{PresignedURLUploadError::UnexpectedStatus{-1}}));
    // Nothing is sent, and nothing is recorded as sent.
    QCOMPARE(scene.log->events(), QStringList());
    QCOMPARE(VerifiedBackupImporter::uploadedByteCount(*record.multipartUpload, 2500), 0);
}

void UploadPhasesTests::confusedPartListsNeverCompleteAWrongObject_data()
{
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<qint64>("partSize");
    QTest::addColumn<QList<qint64>>("authorized");
    // Receipts already in the record, "number:etag", in the order they were recorded.
    QTest::addColumn<QStringList>("receipts");
    // The ranges sent, then the completion's parts; empty when refused before sending.
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("completion");

    const QString refused;
    QTest::newRow("gap in the authorized parts")
        << qint64(2500) << qint64(1000) << QList<qint64>{1, 3} << QStringList() << QStringList()
        << refused;
    QTest::newRow("gap filled by a receipt")
        << qint64(2500) << qint64(1000) << QList<qint64>{1, 3} << QStringList{u"2:\"b\""_s}
        << QStringList{u"0-1000"_s, u"2000-2500"_s} << u"1:e1,2:\"b\",3:e2"_s;
    QTest::newRow("no parts at all") << qint64(2500) << qint64(1000) << QList<qint64>()
                                     << QStringList() << QStringList() << refused;
    QTest::newRow("part listed twice is sent once")
        << qint64(2500) << qint64(1000) << QList<qint64>{1, 2, 2, 3} << QStringList()
        << QStringList{u"0-1000"_s, u"1000-2000"_s, u"2000-2500"_s} << u"1:e1,2:e2,3:e3"_s;
    QTest::newRow("part zero") << qint64(2500) << qint64(1000) << QList<qint64>{0, 1, 2, 3}
                               << QStringList() << QStringList() << refused;
    QTest::newRow("negative part") << qint64(2500) << qint64(1000) << QList<qint64>{-1, 1, 2, 3}
                                   << QStringList() << QStringList() << refused;
    QTest::newRow("receipt without ETag is sent again")
        << qint64(2500) << qint64(1000) << QList<qint64>{1, 2, 3}
        << QStringList{u"1:\"a\""_s, u"2:"_s, u"3: "_s}
        << QStringList{u"1000-2000"_s, u"2000-2500"_s} << u"1:\"a\",2:e1,3:e2"_s;
    QTest::newRow("receipt without ETag and no URL for it")
        << qint64(2500) << qint64(1000) << QList<qint64>{1, 3} << QStringList{u"2:"_s}
        << QStringList() << refused;
    QTest::newRow("receipts past the end are left out")
        << qint64(2500) << qint64(1000) << QList<qint64>{1, 2, 3}
        << QStringList{u"4:\"x\""_s, u"1:\"a\""_s, u"2:\"b\""_s, u"3:\"c\""_s, u"9999:\"y\""_s}
        << QStringList() << u"1:\"a\",2:\"b\",3:\"c\""_s;
    QTest::newRow("completion in ascending order")
        << qint64(2500) << qint64(1000) << QList<qint64>{1, 2, 3}
        << QStringList{u"3:\"c\""_s, u"1:\"a\""_s} << QStringList{u"1000-2000"_s}
        << u"1:\"a\",2:e1,3:\"c\""_s;
    QTest::newRow("more parts than object storage holds")
        << qint64(20001) << qint64(2) << QList<qint64>{1, 2, 3} << QStringList() << QStringList()
        << refused;
    QTest::newRow("part size zero") << qint64(2500) << qint64(0) << QList<qint64>{1}
                                    << QStringList() << QStringList() << refused;
    QTest::newRow("negative part size") << qint64(2500) << qint64(-1000) << QList<qint64>{1, 2, 3}
                                        << QStringList() << QStringList() << refused;
    QTest::newRow("empty file is one empty part")
        << qint64(0) << qint64(1000) << QList<qint64>{1} << QStringList() << QStringList{u"0-0"_s}
        << u"1:e1"_s;
}

void UploadPhasesTests::confusedPartListsNeverCompleteAWrongObject()
{
    QFETCH(qint64, fileSize);
    QFETCH(qint64, partSize);
    QFETCH(QList<qint64>, authorized);
    QFETCH(QStringList, receipts);
    QFETCH(QStringList, sent);
    QFETCH(QString, completion);
    ImporterScene scene(fileSize, 0);
    StagedImportRecord record
        = scene.record.replacingAuthorization(scene.authorizationFor(partSize, authorized));
    for (const QString &receipt : receipts)
        record = record.markingRawPartUploaded(
            {receipt.section(u':', 0, 0).toLongLong(), receipt.section(u':', 1)});
    scene.api->completions = {Result<void>()};

    const Result<std::optional<StagedImportRecord>> completed
        = scene.importer().completeRawUploadIfNeeded(record, scene.staged.url, u"token"_s, nullptr);
    QStringList ranges;
    for (const QString &event : scene.log->matching(u"part "_s))
        ranges.append(event.section(u' ', 2));
    QCOMPARE(ranges, sent);
    if (completion.isNull()) {
        QVERIFY(!completed);
        QCOMPARE(completed.error(),
                 Error(PresignedURLUploadError{PresignedURLUploadError::UnexpectedStatus{-1}}));
        QCOMPARE(scene.log->matching(u"complete "_s), QStringList());
        return;
    }
    PELLWICK_VERIFY_SUCCESS(completed);
    QVERIFY(completed->has_value());
    // "eN" stands for the ETag of the N-th part the uploader received.
    completion.replace(QRegularExpression(u"e(\\d+)"_s), u"\"etag-\\1\""_s);
    QCOMPARE(scene.log->matching(u"complete "_s), QStringList{u"complete 41 raw "_s + completion});
    QCOMPARE(scene.storedRecord(), **completed);
}

void UploadPhasesTests::completedStateSendsNothing()
{
    ImporterScene scene;
    const StagedImportRecord record
        = scene.record.replacingAuthorization(scene.authorizationFor(1000, {1, 2, 3}))
              .markingRawUploadCompleted();
    ImportTransferProgressReporter progress(QUuid::createUuid(), 10000, 1);
    const Result<std::optional<StagedImportRecord>> completed
        = scene.importer().completeRawUploadIfNeeded(record, scene.staged.url, u"t"_s, &progress);
    PELLWICK_VERIFY_SUCCESS(completed);
    QCOMPARE(**completed, record);
    QCOMPARE(scene.log->events(), QStringList());
    progress.finishPackage(0);
    QCOMPARE(progress.completedByteCount(), record.byteCount);
}

void UploadPhasesTests::sidecarPhase_data()
{
    QTest::addColumn<int>("variant");
    QTest::addColumn<bool>("returnsRecord");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("no sidecar") << 0 << true << QStringList();
    QTest::newRow("sidecar name without state") << 1 << false << QStringList();
    QTest::newRow("no staged sidecar url") << 2 << false << QStringList();
    QTest::newRow("sidecar sent and completed")
        << 3 << true << QStringList{u"part"_s, u"record"_s, u"complete_sidecar"_s, u"record"_s};
}

void UploadPhasesTests::sidecarPhase()
{
    QFETCH(int, variant);
    QFETCH(bool, returnsRecord);
    QFETCH(QStringList, calls);
    ImporterScene scene(2500, variant == 0 ? 0 : 300);
    StagedImportRecord record
        = scene.record.replacingAuthorization(scene.authorizationFor(1000, {1, 2, 3}));
    std::optional<QString> sidecarURL = scene.staged.sidecarURL;
    if (variant == 1)
        record.sidecarMultipartUpload.reset();
    if (variant == 2)
        sidecarURL.reset();
    scene.api->completions = {Result<void>()};
    const Result<std::optional<StagedImportRecord>> result
        = scene.importer().completeSidecarUploadIfNeeded(record, sidecarURL, u"t"_s, nullptr);
    PELLWICK_VERIFY_SUCCESS(result);
    QCOMPARE(result->has_value(), returnsRecord);
    QStringList kinds;
    for (const QString &event : scene.log->events())
        kinds.append(event.section(u' ', 0, 0));
    QCOMPARE(kinds, calls);
    if (variant == 0)
        QCOMPARE(**result, record);
    if (variant == 3)
        QCOMPARE(
            scene.uploader->received(record.sidecarMultipartUpload->authorizedParts.first().url),
            scene.sidecarBytes);
}

void UploadPhasesTests::authorizationFailures_data()
{
    QTest::addColumn<Error>("answer");
    QTest::addColumn<Error>("expected");
    QTest::addColumn<bool>("marked");
    const StorageFullState full{900, 1000, 100, u"Archive storage is full."_s};
    QTest::newRow("500 leaves everything") << status(500) << status(500) << false;
    QTest::newRow("transport failure")
        << Error(TransportError{7, false, false, u"refused"_s})
        << Error(TransportError{7, false, false, u"refused"_s}) << false;
    QTest::newRow("422 closes the package") << status(422) << status(422) << true;
    QTest::newRow("storage full closes the package")
        << Error(LibrarySessionClientError{LibrarySessionClientError::StorageFull{full}})
        << Error(VerifiedBackupImporterError::storageFull(full)) << true;
}

void UploadPhasesTests::authorizationFailures()
{
    QFETCH(Error, answer);
    QFETCH(Error, expected);
    QFETCH(bool, marked);
    ImporterScene scene;
    scene.api->decisions = {Result<VerifiedBackupUploadDecision>(tl::unexpected<Error>(answer))};
    const Result<StagedImportRecord> result = scene.importer().authorizingRecord(
        scene.record, u"t"_s, AuthorizationRefresh::Replace, scene.callback());
    QVERIFY(!result);
    QCOMPARE(result.error(), expected);
    QCOMPARE(scene.storedRecord().phase,
             marked ? StagedImportPhase::NeedsAttention : StagedImportPhase::NotStarted);
    QCOMPARE(scene.storedItem().importStatus,
             marked ? LibraryItemImportStatus::NeedsAttention
                    : LibraryItemImportStatus::LocalCacheReady);
    const QStringList events = scene.log->events();
    if (marked) {
        // Record, then library, then the callback.
        QCOMPARE(events.first(), u"request"_s);
        QCOMPARE(events.at(1), u"record"_s);
        QVERIFY(events.indexOf(u"library"_s) > 1);
        QCOMPARE(events.last(), u"statusDidChange"_s);
    } else {
        QCOMPARE(events, QStringList{u"request"_s});
    }
}

void UploadPhasesTests::previewWithoutTarget_data()
{
    QTest::addColumn<bool>("withName");
    QTest::addColumn<bool>("withURL");
    QTest::newRow("no preview file name") << false << true;
    QTest::newRow("no presigned url") << true << false;
}

void UploadPhasesTests::previewWithoutTarget()
{
    QFETCH(bool, withName);
    QFETCH(bool, withURL);
    ImporterScene scene;
    StagedImportRecord record
        = scene.record.replacingAuthorization(scene.authorizationFor(1000, {1}));
    record.previewUploaded = false;
    if (!withName)
        record.previewRelativePath.reset();
    if (!withURL)
        record.previewUploadURL.reset();
    const Result<StagedImportRecord> result
        = scene.importer().uploadPreviewIfNeeded(record, nullptr);
    PELLWICK_VERIFY_SUCCESS(result);
    QVERIFY(result->previewUploaded);
    QCOMPARE(scene.log->events(), QStringList{u"record"_s});
}

void UploadPhasesTests::previewUpload()
{
    ImporterScene scene;
    const StagedImportRecord record
        = scene.record.replacingAuthorization(scene.authorizationFor(1000, {1}));
    QList<TransferProgress> rows;
    ImportTransferProgressReporter progress(
        QUuid::createUuid(), 10, 1, [&](const TransferProgress &row) { rows.append(row); });
    const Result<StagedImportRecord> result
        = scene.importer().uploadPreviewIfNeeded(record, &progress);
    PELLWICK_VERIFY_SUCCESS(result);
    QCOMPARE(scene.log->events(),
             (QStringList{u"file "_s + *record.previewUploadURL, u"record"_s}));
    QCOMPARE(scene.uploader->received(*record.previewUploadURL), scene.previewBytes);
    // Named by its photo, never by the preview's internal file name.
    QCOMPARE(rows.first().currentFilename, std::optional(u"IMG_0001.CR3"_s));
    QVERIFY(rows.first().currentFileIsPreview && rows.last().currentFileIsPreview);
    QCOMPARE(rows.first().currentFileCompletedByteCount, std::optional<qint64>(0));
    QCOMPARE(rows.last().currentFileCompletedByteCount,
             std::optional<qint64>(scene.previewBytes.size()));
    QCOMPARE(rows.last().completedByteCount, 0);
    // A second call finds the preview uploaded.
    const Result<StagedImportRecord> again
        = scene.importer().uploadPreviewIfNeeded(*result, &progress);
    QCOMPARE(*again, *result);
    QCOMPARE(scene.log->events().size(), 2);
}

void UploadPhasesTests::markRecord_data()
{
    QTest::addColumn<LibraryItemImportStatus>("status");
    QTest::addColumn<StagedImportPhase>("phase");
    QTest::addColumn<bool>("knownItem");
    QTest::addColumn<bool>("withSidecar");
    using S = LibraryItemImportStatus;
    using P = StagedImportPhase;
    QTest::newRow("verified") << S::VerifiedBackup << P::VerifiedBackup << true << true;
    QTest::newRow("verified without sidecar")
        << S::VerifiedBackup << P::VerifiedBackup << true << false;
    QTest::newRow("duplicate") << S::Duplicate << P::Duplicate << true << true;
    QTest::newRow("cleanup pending") << S::CleanupPending << P::NeedsAttention << true << true;
    QTest::newRow("uploading") << S::Uploading << P::NeedsAttention << true << true;
    QTest::newRow("unknown id") << S::VerifiedBackup << P::VerifiedBackup << false << true;
    QTest::newRow("unknown id, no sidecar")
        << S::NeedsAttention << P::NeedsAttention << false << false;
}

void UploadPhasesTests::markRecord()
{
    QFETCH(LibraryItemImportStatus, status);
    QFETCH(StagedImportPhase, phase);
    QFETCH(bool, knownItem);
    QFETCH(bool, withSidecar);
    ImporterScene scene(2500, withSidecar ? 300 : 0);
    StagedImportRecord record = scene.record;
    record.backendLibraryItemID = 41;
    if (!knownItem)
        record.localLibraryItemID = QUuid::createUuid();
    const Result<LocalLibraryItem> item = scene.importer().markRecord(record, status);
    PELLWICK_VERIFY_SUCCESS(item);
    QCOMPARE(item->importStatus, status);
    const Result<StagingRecoveryReport> report = scene.stagingArea().readRecoverableRecords();
    QCOMPARE(report->records.first().phase, phase);
    const QStringList events = scene.log->events();
    QCOMPARE(events.first(), u"record"_s);
    const bool archived = phase != StagedImportPhase::NeedsAttention;
    if (knownItem) {
        QCOMPARE(scene.storedItem(), *item);
        if (status == LibraryItemImportStatus::Duplicate) {
            // Told no archive sidecar: the local file's facts are not the archive's.
            QCOMPARE(item->archiveSidecarFilename, std::nullopt);
            QCOMPARE(item->archiveSidecarContentHash, std::nullopt);
        } else if (archived) {
            QCOMPARE(item->archiveSidecarFilename, record.sidecarFilename);
            QCOMPARE(item->archiveSidecarByteCount,
                     withSidecar ? std::optional<qint64>(300) : std::nullopt);
            QCOMPARE(item->archiveSidecarContentHash, record.sidecarContentHash);
        }
    } else {
        // The stand-in is only returned; the library keeps its one item.
        QCOMPARE(scene.storedItem(), scene.item0);
        QCOMPARE(item->id, record.localLibraryItemID);
        QCOMPARE(item->archiveByteCount, std::optional(record.byteCount + record.sidecarByteCount));
        QCOMPARE(item->archiveSidecarByteCount,
                 withSidecar ? std::optional<qint64>(300) : std::nullopt);
        QCOMPARE(item->backendLibraryItemID, std::optional<qint64>(41));
        QCOMPARE(item->preview, LocalPreviewState::available(u"previews/IMG_0001.CR3.jpg"_s));
        QCOMPARE(item->metadata, PhotoMetadata::unknown());
    }
}

QTEST_GUILESS_MAIN(UploadPhasesTests)
#include "UploadPhasesTests.moc"
