#include "ImporterScene.h"

#include <PellwickCore/Import/VerifiedBackupImporter.h>
#include <PellwickCore/Import/VerifiedBackupImporterError.h>

#include <QFile>
#include <QTest>

#include <functional>

#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

using S = LibraryItemImportStatus;
using Setup = std::function<void(ImporterScene &, StagedImportRecord &)>;

Error status(int code)
{
    return LibrarySessionClientError{LibrarySessionClientError::UnexpectedStatus{code}};
}

VerifiedBackupFinalization finalizationAs(S importStatus)
{
    return {41, importStatus, std::nullopt};
}

/// The kinds of the logged events ("part", "record", "complete", ...) without their details.
/// Each library change that changes a record writes once.
QStringList kinds(const EventLog &log)
{
    QStringList out;
    for (const QString &event : log.events())
        out.append(event.section(u' ', 0, 0));
    return out;
}

void answerEverything(ImporterScene &scene, S finalStatus = S::VerifiedBackup)
{
    scene.api->decisions = {VerifiedBackupUploadDecision{
        VerifiedBackupUploadDecision::Upload{scene.authorizationFor(1000, {3, 1, 2})}}};
    scene.api->completions = {Result<void>()};
    scene.api->finalizations = {finalizationAs(finalStatus)};
}

} // namespace

class ImportContinuationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void freshPackageRunsTheWholeRoad();
    void authorizedPackageIsNotAuthorizedAgain();
    void duplicateAnswerClosesThePackage();
    void duplicateEvidenceOfOtherBytes_data();
    void duplicateEvidenceOfOtherBytes();
    void resume_data();
    void resume();
    void finalization_data();
    void finalization();
};

void ImportContinuationTests::freshPackageRunsTheWholeRoad()
{
    ImporterScene scene;
    answerEverything(scene);
    QList<TransferProgress> rows;
    ImportTransferProgressReporter progress(
        QUuid::createUuid(), 2800, 1, [&](const TransferProgress &row) { rows.append(row); });
    const Result<LocalLibraryItem> item = scene.importer().continueImport(scene.record,
                                                                          scene.staged.url,
                                                                          scene.staged.sidecarURL,
                                                                          u"t"_s,
                                                                          scene.callback(),
                                                                          &progress);
    PELLWICK_VERIFY_SUCCESS(item);

    QCOMPARE(kinds(*scene.log),
             (QStringList{u"request"_s,
                          u"record"_s,
                          u"library"_s, // authorized, backend id
                          u"library"_s,
                          u"statusDidChange"_s, // uploading
                          u"part"_s,
                          u"record"_s,
                          u"part"_s,
                          u"record"_s,
                          u"part"_s,
                          u"record"_s,
                          u"complete"_s,
                          u"record"_s, // RAW
                          u"part"_s,
                          u"record"_s,
                          u"complete_sidecar"_s,
                          u"record"_s,
                          u"file"_s,
                          u"record"_s, // preview
                          u"record"_s,
                          u"library"_s,
                          u"statusDidChange"_s, // uploaded, verifying
                          u"finalize"_s,        // backend id unchanged
                          u"record"_s,
                          u"library"_s,
                          u"library"_s, // status, archive sidecar
                          u"statusDidChange"_s}));
    QCOMPARE(item->importStatus, S::VerifiedBackup);
    QCOMPARE(item->backendLibraryItemID, std::optional<qint64>(41));
    QCOMPARE(item->archiveSidecarFilename, std::optional(u"IMG_0001.xmp"_s));
    QCOMPARE(item->archiveSidecarByteCount, std::optional<qint64>(300));
    QCOMPARE(scene.storedItem(), *item);
    QCOMPARE(scene.storedRecord().phase, StagedImportPhase::VerifiedBackup);
    QCOMPARE(rows.last().completedByteCount, 2800);
    QCOMPARE(rows.last().completedPackageCount, 1);
    // The parts reassemble the staged RAW original.
    QByteArray assembled;
    for (qint64 part = 1; part <= 3; ++part)
        assembled += scene.uploader->received(signedURL(u"raw/%1"_s.arg(part)));
    QCOMPARE(assembled, scene.rawBytes);
}

void ImportContinuationTests::authorizedPackageIsNotAuthorizedAgain()
{
    ImporterScene scene;
    answerEverything(scene);
    const StagedImportRecord authorized
        = scene.record.replacingAuthorization(scene.authorizationFor(1000, {1, 2, 3}));
    const Result<LocalLibraryItem> item = scene.importer().continueImport(
        authorized, scene.staged.url, scene.staged.sidecarURL, u"t"_s, scene.callback(), nullptr);
    PELLWICK_VERIFY_SUCCESS(item);
    QCOMPARE(scene.log->matching(u"request"_s), QStringList());
    QCOMPARE(kinds(*scene.log).mid(0, 3),
             (QStringList{u"library"_s, u"statusDidChange"_s, u"part"_s}));
}

void ImportContinuationTests::duplicateAnswerClosesThePackage()
{
    ImporterScene scene;
    scene.api->decisions = {VerifiedBackupUploadDecision{VerifiedBackupUploadDecision::Duplicate{
        {77, u"IMG_0001.CR3"_s, scene.record.contentHash, scene.record.byteCount}}}};
    const Result<LocalLibraryItem> item = scene.importer().continueImport(
        scene.record, scene.staged.url, scene.staged.sidecarURL, u"t"_s, scene.callback(), nullptr);
    PELLWICK_VERIFY_SUCCESS(item);
    QCOMPARE(item->importStatus, S::Duplicate);
    QCOMPARE(item->backendLibraryItemID, std::optional<qint64>(77));
    // The archive's sidecar facts, from its list; the local sidecar's are not the archive's.
    QCOMPARE(item->archiveSidecarFilename, std::nullopt);
    QCOMPARE(scene.log->matching(u"library_items"_s).size(), 1);
    QCOMPARE(scene.storedRecord().phase, StagedImportPhase::Duplicate);
    QCOMPARE(scene.log->matching(u"part"_s), QStringList());
    QCOMPARE(scene.log->events().last(), u"statusDidChange"_s);
}

void ImportContinuationTests::duplicateEvidenceOfOtherBytes_data()
{
    QTest::addColumn<QString>("contentHash");
    QTest::addColumn<qint64>("byteCount");
    QTest::addColumn<S>("expected");
    const ImporterScene scene;
    const QString hash = scene.record.contentHash;
    const qint64 size = scene.record.byteCount;
    QTest::newRow("same bytes") << hash << size << S::Duplicate;
    QTest::newRow("same hash in capitals") << hash.toUpper() << size << S::Duplicate;
    QTest::newRow("other hash") << QString(64, u'0') << size << S::NeedsAttention;
    QTest::newRow("empty hash") << QString() << size << S::NeedsAttention;
    QTest::newRow("other byte count") << hash << size + 1 << S::NeedsAttention;
}

void ImportContinuationTests::duplicateEvidenceOfOtherBytes()
{
    QFETCH(QString, contentHash);
    QFETCH(qint64, byteCount);
    QFETCH(S, expected);
    ImporterScene scene;
    scene.api->decisions = {VerifiedBackupUploadDecision{
        VerifiedBackupUploadDecision::Duplicate{{77, u"IMG_0001.CR3"_s, contentHash, byteCount}}}};
    const Result<LocalLibraryItem> item = scene.importer().continueImport(
        scene.record, scene.staged.url, scene.staged.sidecarURL, u"t"_s, scene.callback(), nullptr);
    // Evidence about other bytes never makes the package a duplicate: it is closed as needing
    // attention and the run learns why.
    QCOMPARE(item.has_value(), expected == S::Duplicate);
    if (!item)
        QCOMPARE(item.error(),
                 Error(DecodingError{DecodingError::Kind::DataCorrupted,
                                     u"duplicate"_s,
                                     u"Duplicate evidence names other bytes"_s}));
    QCOMPARE(scene.storedItem().importStatus, expected);
    QCOMPARE(scene.storedRecord().phase,
             expected == S::Duplicate ? StagedImportPhase::Duplicate
                                      : StagedImportPhase::NeedsAttention);
    QCOMPARE(scene.storedItem().backendLibraryItemID,
             expected == S::Duplicate ? std::optional<qint64>(77) : std::nullopt);
    QCOMPARE(scene.log->matching(u"part"_s), QStringList());
    QCOMPARE(scene.log->events().last(), u"statusDidChange"_s);
}

namespace {

/// A record authorized under item 41 whose backend reports `state` for item `reportedID`;
/// `uploaded`: every upload of it completed.
Setup authorizedRecord(S state, bool uploaded, qint64 reportedID = 41)
{
    return [=](ImporterScene &s, StagedImportRecord &r) {
        r = r.replacingAuthorization(s.authorizationFor(1000, {1, 2, 3}));
        if (uploaded)
            r = r.markingRawUploadCompleted()
                    .markingSidecarUploadCompleted()
                    .markingPreviewUploaded()
                    .markingUploaded();
        s.api->states = {VerifiedBackupUploadState{reportedID, state}};
    };
}

} // namespace

void ImportContinuationTests::resume_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<S>("expectedStatus");
    QTest::addColumn<bool>("stateQueried");
    QTest::addColumn<int>("requests");

    QTest::newRow("uploaded and completed, backend verifying: finalized without authorization")
        << authorizedRecord(S::Verifying, true) << S::VerifiedBackup << true << 0;
    QTest::newRow("backend duplicate: authorized again, still an upload")
        << authorizedRecord(S::Duplicate, false) << S::VerifiedBackup << true << 1;
    QTest::newRow("backend verified: closed as verified")
        << authorizedRecord(S::VerifiedBackup, false) << S::VerifiedBackup << true << 0;
    QTest::newRow("verified, says the backend of another item: authorized again")
        << authorizedRecord(S::VerifiedBackup, false, 99) << S::VerifiedBackup << true << 1;
    QTest::newRow("needs attention, says the backend of another item: authorized again")
        << authorizedRecord(S::NeedsAttention, true, 99) << S::VerifiedBackup << true << 1;
    QTest::newRow("no backend id: no state query, authorized")
        << Setup([](ImporterScene &, StagedImportRecord &) {}) << S::VerifiedBackup << false << 1;
    QTest::newRow("backend forgot the upload (404): authorized again")
        << Setup([](ImporterScene &s, StagedImportRecord &r) {
               r = r.replacingAuthorization(s.authorizationFor(1000, {1, 2, 3}));
               s.api->states = {Result<VerifiedBackupUploadState>(tl::unexpected(status(404)))};
           })
        << S::VerifiedBackup << true << 1;
    QTest::newRow("staged sidecar missing: needs attention, no backend call")
        << Setup(
               [](ImporterScene &s, StagedImportRecord &) { QFile::remove(*s.staged.sidecarURL); })
        << S::NeedsAttention << false << 0;
    QTest::newRow("staged sidecar path absent: needs attention") << Setup(
        [](ImporterScene &, StagedImportRecord &r) { r.stagedSidecarRelativePath.reset(); })
                                                                 << S::NeedsAttention << false << 0;
    QTest::newRow("staged original missing: needs attention")
        << Setup([](ImporterScene &s, StagedImportRecord &) { QFile::remove(s.staged.url); })
        << S::NeedsAttention << false << 0;
}

void ImportContinuationTests::resume()
{
    QFETCH(Setup, setup);
    QFETCH(S, expectedStatus);
    QFETCH(bool, stateQueried);
    QFETCH(int, requests);
    ImporterScene scene;
    answerEverything(scene);
    scene.api->answersForAskedItem = false;
    StagedImportRecord record = scene.record;
    setup(scene, record);
    const Result<LocalLibraryItem> item
        = scene.importer().resume(record, u"t"_s, scene.callback(), nullptr);
    PELLWICK_VERIFY_SUCCESS(item);
    QCOMPARE(item->importStatus, expectedStatus);
    QCOMPARE(scene.storedItem().importStatus, expectedStatus);
    QCOMPARE(scene.log->matching(u"state "_s).size(), stateQueried ? 1 : 0);
    QCOMPARE(scene.log->matching(u"request"_s).size(), requests);
    QCOMPARE(scene.log->events().last(), u"statusDidChange"_s);
}

void ImportContinuationTests::finalization_data()
{
    QTest::addColumn<Result<VerifiedBackupFinalization>>("answer");
    QTest::addColumn<std::optional<Error>>("error");
    QTest::addColumn<S>("itemStatus");
    QTest::addColumn<StagedImportPhase>("phase");
    QTest::addColumn<bool>("finished");
    const StorageFullState full{1, 2, 1, u"full"_s};
    QTest::newRow("verified") << Result<VerifiedBackupFinalization>(finalizationAs(
        S::VerifiedBackup)) << std::optional<Error>()
                              << S::VerifiedBackup << StagedImportPhase::VerifiedBackup << true;
    QTest::newRow("still verifying: needs attention for good")
        << Result<VerifiedBackupFinalization>(finalizationAs(S::Verifying))
        << std::optional<Error>() << S::NeedsAttention << StagedImportPhase::NeedsAttention << true;
    QTest::newRow("422") << Result<VerifiedBackupFinalization>(tl::unexpected(status(422)))
                         << std::optional(status(422)) << S::NeedsAttention
                         << StagedImportPhase::NeedsAttention << false;
    const Error backendStorageFull
        = LibrarySessionClientError{LibrarySessionClientError::StorageFull{full}};
    QTest::newRow("storage full") << Result<VerifiedBackupFinalization>(tl::unexpected(
        backendStorageFull)) << std::optional(Error(VerifiedBackupImporterError::storageFull(full)))
                                  << S::NeedsAttention << StagedImportPhase::NeedsAttention
                                  << false;
    QTest::newRow("verified, for another item: needs attention")
        << Result<VerifiedBackupFinalization>(
               VerifiedBackupFinalization{99, S::VerifiedBackup, std::nullopt})
        << std::optional(Error(DecodingError{DecodingError::Kind::DataCorrupted,
                                             u"library_item.id"_s,
                                             u"Finalization names another library item"_s}))
        << S::NeedsAttention << StagedImportPhase::NeedsAttention << false;
    QTest::newRow("500 leaves the item verifying")
        << Result<VerifiedBackupFinalization>(tl::unexpected(status(500)))
        << std::optional(status(500)) << S::Verifying << StagedImportPhase::Uploaded << false;
}

void ImportContinuationTests::finalization()
{
    QFETCH(Result<VerifiedBackupFinalization>, answer);
    QFETCH(std::optional<Error>, error);
    QFETCH(S, itemStatus);
    QFETCH(StagedImportPhase, phase);
    QFETCH(bool, finished);
    ImporterScene scene;
    answerEverything(scene);
    scene.api->finalizations = {answer};
    scene.api->answersForAskedItem = false;
    ImportTransferProgressReporter progress(QUuid::createUuid(), 2800, 1);
    const Result<LocalLibraryItem> item = scene.importer().continueImport(scene.record,
                                                                          scene.staged.url,
                                                                          scene.staged.sidecarURL,
                                                                          u"t"_s,
                                                                          scene.callback(),
                                                                          &progress);
    QCOMPARE(item.has_value(), !error.has_value());
    if (error)
        QCOMPARE(item.error(), *error);
    QCOMPARE(scene.storedItem().importStatus, itemStatus);
    QCOMPARE(scene.storedRecord().phase, phase);
    QCOMPARE(progress.completedPackageCount(), finished ? 1 : 0);
    if (finished)
        QCOMPARE(progress.completedByteCount(), 2800);
}

QTEST_GUILESS_MAIN(ImportContinuationTests)
#include "ImportContinuationTests.moc"
