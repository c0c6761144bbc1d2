// The verified backup road of one package over real HTTP: the production backend client and
// presigned uploader against the test backend and its object store on loopback.

#include "ImporterScene.h"

#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/CurlPresignedURLUploader.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Import/VerifiedBackupImporter.h>

#include <QTest>

#include <Support/TestBackend/TestBackend.h>
#include <Support/TestErrors.h>
#include <Support/TestObjectStore.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

constexpr qint64 partSize = 1000;

TestBackend::Options backendOptions(bool discardUploads)
{
    TestBackend::Options options;
    options.partSizeBytes = partSize;
    options.discardUploads = discardUploads;
    return options;
}

/// A package in the Staging Area, a signed-in account of the test backend, and an importer
/// that reaches the backend through the production client and uploader.
struct Road
{
    explicit Road(qint64 rawSize,
                  qint64 sidecarSize = 300,
                  bool discardUploads = false,
                  bool emptySidecar = false)
        : scene(rawSize, sidecarSize, emptySidecar)
        , backend(backendOptions(discardUploads))
    {
        TestBackend::Account account;
        account.email = u"ada@example.test"_s;
        account.password = u"correct horse"_s;
        account.library.paidPlan.status = PaidPlanStatus::Paid;
        account.library.paidPlan.storageEntitlement = {0, qint64(1) << 40};
        backend.addAccount(account);
        token = backend.issueToken(account.email);
        // No reservation: the test backend knows none.
        scene.record.importCapacityReservationID.reset();
        (void) scene.stagingArea().writeRecord(scene.record);
        api = std::make_shared<LibrarySessionClient>(backend.baseURL(), CurlFetch());
    }

    VerifiedBackupImporter importer() const
    {
        return VerifiedBackupImporter(
            scene.cache(),
            scene.stagingArea(),
            std::make_shared<FixedMetadataExtractor>(PhotoMetadata()),
            StubPreviewGenerator::writing(scene.previewBytes),
            std::make_shared<SHA256ContentHasher>(),
            api,
            std::make_shared<CurlPresignedURLUploader>(scene.fileManager, std::chrono::seconds(1)),
            std::make_shared<FixedImportClock>(Date{}));
    }

    Result<LocalLibraryItem> run() const
    {
        return importer().continueImport(
            scene.record, scene.staged.url, scene.staged.sidecarURL, token, {}, nullptr);
    }

    Result<LocalLibraryItem> resume() const
    {
        return importer().resume(scene.storedRecord(), token, {}, nullptr);
    }

    /// Sets the object store to reset the connection of the next PUT once the record has been
    /// written after the first part.
    void resetSecondPart()
    {
        scene.fileManager->beforeOperation(
            FileOperation::ReplaceItem, u"import-state"_s, [this](const QString &) {
                if (++recordWrites == 2) { // the authorization, then part 1
                    TestObjectStore::PutBehaviour reset;
                    reset.resetAfterBytes = 10;
                    backend.objectStore().setPutBehaviour(reset);
                }
            });
    }

    /// How many times the uploader opened the staged RAW original (once per part sent).
    int rawReads() const
    {
        int reads = 0;
        for (const QString &line : scene.fileManager->log())
            if (line.startsWith(u"openForReading"_s) && line.endsWith(scene.staged.url))
                ++reads;
        return reads;
    }

    /// Empty when the backend holds exactly the staged bytes of the package, verified.
    QString problemWithArchive(qint64 backendID) const
    {
        const std::optional<QByteArray> raw = backend.assembledObject(backendID);
        if (!raw || referenceSha256(*raw) != referenceSha256(scene.rawBytes))
            return u"assembled RAW original differs"_s;
        if (!scene.sidecarBytes.isEmpty()) {
            const std::optional<QByteArray> sidecar = backend.assembledObject(backendID, true);
            if (!sidecar || *sidecar != scene.sidecarBytes)
                return u"assembled sidecar differs"_s;
        }
        for (const TestBackend::LibraryItem &item : backend.libraryItems(u"ada@example.test"_s))
            if (item.id == backendID && item.importStatus != u"verified_backup")
                return u"backend item is "_s + item.importStatus;
        return {};
    }

    /// The package as the Ingest Cache holds it: the card's files.
    LocalLibraryItem cachedPackage() const
    {
        LocalLibraryItem package = scene.item0;
        package.ingestCacheOriginalURL = scene.dir.filePath(u"card/IMG_0001.CR3"_s);
        if (scene.record.sidecarFilename) {
            package.ingestCacheSidecarURL = scene.dir.filePath(u"card/IMG_0001.xmp"_s);
            package.ingestCacheSidecarContentHash = scene.record.sidecarContentHash;
        }
        return package;
    }

    ImporterScene scene;
    TestBackend backend;
    QString token;
    std::shared_ptr<LibrarySessionClient> api;
    int recordWrites = 0;
};

int uploadStatus(const Error &error)
{
    const auto *upload = error.as<PresignedURLUploadError>();
    return upload ? std::get<PresignedURLUploadError::UnexpectedStatus>(upload->value).status : 0;
}

/// The same RAW original archived from another card, with another sidecar or this one's.
struct DuplicateCase
{
    bool sameSidecar = false;
    bool listUnavailable = false;
    bool cleanedUp = false;
};

} // namespace

Q_DECLARE_METATYPE(DuplicateCase)

class VerifiedBackupRoadHttpTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { CurlFetch::initializeGlobally(); }

    void packagesArriveWhole_data();
    void packagesArriveWhole();
    void resetConnectionResumesWithTheMissingParts_data();
    void resetConnectionResumesWithTheMissingParts();
    void stallHitsTheIdleLimit();
    void expiredPartURLFailsWithoutMarking();
    void discardingBackendVerifiesBySizeAndNeverAnswersDuplicate_data();
    void discardingBackendVerifiesBySizeAndNeverAnswersDuplicate();
    void duplicateTakesTheArchivedSidecar_data();
    void duplicateTakesTheArchivedSidecar();
    void emptySidecarMatchesAsArchived();
};

void VerifiedBackupRoadHttpTests::duplicateTakesTheArchivedSidecar_data()
{
    QTest::addColumn<DuplicateCase>("scenario");
    QTest::newRow("other card's sidecar archived: archived with its own sidecar")
        << DuplicateCase{};
    QTest::newRow("same sidecar archived: package cleaned up")
        << DuplicateCase{.sameSidecar = true, .cleanedUp = true};
    QTest::newRow("library list unavailable: no sidecar facts, package kept")
        << DuplicateCase{.sameSidecar = true, .listUnavailable = true};
}

void VerifiedBackupRoadHttpTests::duplicateTakesTheArchivedSidecar()
{
    QFETCH(DuplicateCase, scenario);
    Road road(2500);
    const QByteArray archivedSidecar
        = scenario.sameSidecar ? road.scene.sidecarBytes : patternBytes(310, 9);
    const TestBackend::LibraryItem archived = road.backend.addArchivedItem(
        u"ada@example.test"_s,
        {u"IMG_0001.CR3"_s, road.scene.rawBytes},
        TestBackend::ArchivedFile{u"IMG_0001.xmp"_s, archivedSidecar});
    if (scenario.listUnavailable)
        road.backend.injectFault("GET", "/api/library/items", TestBackend::Fault::reply(500));

    const Result<LocalLibraryItem> item = road.run();
    PELLWICK_VERIFY_SUCCESS(item);
    if (!scenario.sameSidecar) {
        // Another photo: the archive keeps both, each RAW original with its own sidecar.
        QCOMPARE(item->importStatus, LibraryItemImportStatus::VerifiedBackup);
        QVERIFY(item->backendLibraryItemID != std::optional(archived.id));
        QCOMPARE(road.problemWithArchive(*item->backendLibraryItemID), QString());
        QCOMPARE(road.backend.libraryItems(u"ada@example.test"_s).size(), 2);
        return;
    }
    QCOMPARE(item->importStatus, LibraryItemImportStatus::Duplicate);
    QCOMPARE(item->backendLibraryItemID, std::optional(archived.id));
    const LocalLibraryItem stored = road.scene.storedItem();
    QCOMPARE(stored.archiveSidecarFilename,
             scenario.listUnavailable ? std::nullopt : archived.sidecarFilename);
    QCOMPARE(stored.archiveSidecarByteCount,
             scenario.listUnavailable ? std::nullopt : archived.sidecarByteCount);
    QCOMPARE(stored.archiveSidecarContentHash,
             scenario.listUnavailable ? std::nullopt : archived.sidecarContentHash);
    QCOMPARE(stored.matchesArchivedPackage(road.cachedPackage(), *road.scene.fileManager),
             scenario.cleanedUp);
    // Nothing may cancel the backend item: it is another import's archived copy.
    QCOMPARE(road.backend.libraryItems(u"ada@example.test"_s).size(), 1);
}

void VerifiedBackupRoadHttpTests::emptySidecarMatchesAsArchived()
{
    Road road(2500, 0, false, true);
    const Result<LocalLibraryItem> item = road.run();
    PELLWICK_VERIFY_SUCCESS(item);
    QCOMPARE(item->importStatus, LibraryItemImportStatus::VerifiedBackup);
    const LocalLibraryItem stored = road.scene.storedItem();
    QCOMPARE(stored.archiveSidecarByteCount, std::optional<qint64>(0));
    QVERIFY(stored.matchesArchivedPackage(road.cachedPackage(), *road.scene.fileManager));
}

void VerifiedBackupRoadHttpTests::packagesArriveWhole_data()
{
    QTest::addColumn<qint64>("rawSize");
    QTest::addColumn<qint64>("sidecarSize");
    QTest::newRow("empty RAW") << qint64(0) << qint64(300);
    QTest::newRow("part size - 1") << partSize - 1 << qint64(300);
    QTest::newRow("2 parts exactly") << 2 * partSize << qint64(2 * partSize);
    QTest::newRow("2 parts + 1, no sidecar") << 2 * partSize + 1 << qint64(0);
}

void VerifiedBackupRoadHttpTests::packagesArriveWhole()
{
    QFETCH(qint64, rawSize);
    QFETCH(qint64, sidecarSize);
    Road road(rawSize, sidecarSize);
    const Result<LocalLibraryItem> item = road.run();
    PELLWICK_VERIFY_SUCCESS(item);
    QCOMPARE(item->importStatus, LibraryItemImportStatus::VerifiedBackup);
    QVERIFY(item->backendLibraryItemID);
    const QString problem = road.problemWithArchive(*item->backendLibraryItemID);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(road.scene.storedRecord().phase, StagedImportPhase::VerifiedBackup);
    // Completing a completed upload answers as the first completion did.
    const StagedImportRecord record = road.scene.storedRecord();
    PELLWICK_VERIFY_SUCCESS(
        road.api->completeVerifiedBackupUpload(road.token,
                                               *item->backendLibraryItemID,
                                               record.multipartUpload->uploadID,
                                               record.multipartUpload->uploadedParts));
}

void VerifiedBackupRoadHttpTests::resetConnectionResumesWithTheMissingParts_data()
{
    QTest::addColumn<TestBackend::Reauthorization>("reauthorization");
    QTest::addColumn<qint64>("newPartSize");
    QTest::addColumn<int>("partsSentOnResume");
    QTest::newRow("same upload: only the missing parts")
        << TestBackend::Reauthorization::SameUpload << partSize << 2;
    QTest::newRow("same upload id, other part size: every part again")
        << TestBackend::Reauthorization::OtherPartSize << qint64(700) << 4;
    QTest::newRow("new upload id: every part again")
        << TestBackend::Reauthorization::NewUploadID << partSize << 3;
}

void VerifiedBackupRoadHttpTests::resetConnectionResumesWithTheMissingParts()
{
    QFETCH(TestBackend::Reauthorization, reauthorization);
    QFETCH(qint64, newPartSize);
    QFETCH(int, partsSentOnResume);
    Road road(2500);
    road.resetSecondPart();
    const Result<LocalLibraryItem> failed = road.run();
    QVERIFY(!failed);
    QVERIFY2(failed.error().is<TransportError>(), qPrintable(describe(failed.error())));
    const StagedImportRecord interrupted = road.scene.storedRecord();
    QCOMPARE(interrupted.phase, StagedImportPhase::Uploading);
    QCOMPARE(interrupted.multipartUpload->uploadedParts.size(), 1);
    QCOMPARE(interrupted.multipartUpload->uploadedParts.first().partNumber, 1);
    QVERIFY(interrupted.multipartUpload->uploadedParts.first().etag.startsWith(u'"'));
    QCOMPARE(road.scene.storedItem().importStatus, LibraryItemImportStatus::Uploading);

    road.backend.objectStore().setPutBehaviour({});
    road.backend.setReauthorization(reauthorization, newPartSize);
    const int readsBefore = road.rawReads();
    const Result<LocalLibraryItem> item = road.resume();
    PELLWICK_VERIFY_SUCCESS(item);
    QCOMPARE(item->importStatus, LibraryItemImportStatus::VerifiedBackup);
    QCOMPARE(road.rawReads() - readsBefore, partsSentOnResume);
    const QString problem = road.problemWithArchive(*item->backendLibraryItemID);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void VerifiedBackupRoadHttpTests::stallHitsTheIdleLimit()
{
    Road road(2500);
    TestObjectStore::PutBehaviour stall;
    stall.stallAfterBytes = 10;
    road.backend.objectStore().setPutBehaviour(stall);
    const Result<LocalLibraryItem> failed = road.run();
    road.backend.objectStore().releaseStalls();
    QVERIFY(!failed);
    const TransportError *transport = failed.error().as<TransportError>();
    QVERIFY2(transport && transport->timedOut, qPrintable(describe(failed.error())));
    const StagedImportRecord record = road.scene.storedRecord();
    QCOMPARE(record.phase, StagedImportPhase::Uploading);
    QVERIFY(record.multipartUpload->uploadedParts.isEmpty());
}

void VerifiedBackupRoadHttpTests::expiredPartURLFailsWithoutMarking()
{
    Road road(2500);
    TestObjectStore::PutBehaviour expired;
    expired.status = 403;
    road.backend.objectStore().setPutBehaviour(expired);
    const Result<LocalLibraryItem> failed = road.run();
    QVERIFY(!failed);
    QCOMPARE(uploadStatus(failed.error()), 403);
    QCOMPARE(road.scene.storedRecord().phase, StagedImportPhase::Uploading);
    QCOMPARE(road.scene.storedItem().importStatus, LibraryItemImportStatus::Uploading);
}

void VerifiedBackupRoadHttpTests::discardingBackendVerifiesBySizeAndNeverAnswersDuplicate_data()
{
    QTest::addColumn<bool>("discardUploads");
    QTest::addColumn<StagedImportPhase>("secondImport");
    QTest::newRow("bytes kept: the same bytes again are a duplicate")
        << false << StagedImportPhase::Duplicate;
    QTest::newRow("bytes discarded: every import is uploaded and verified")
        << true << StagedImportPhase::VerifiedBackup;
}

void VerifiedBackupRoadHttpTests::discardingBackendVerifiesBySizeAndNeverAnswersDuplicate()
{
    QFETCH(bool, discardUploads);
    QFETCH(StagedImportPhase, secondImport);
    Road road(2 * partSize + 1, 300, discardUploads);
    const Result<LocalLibraryItem> first = road.run();
    PELLWICK_VERIFY_SUCCESS(first);
    QCOMPARE(first->importStatus, LibraryItemImportStatus::VerifiedBackup);
    QCOMPARE(road.backend.assembledObject(*first->backendLibraryItemID).has_value(),
             !discardUploads);
    // The same package from its first record again.
    PELLWICK_VERIFY_SUCCESS(road.scene.stagingArea().writeRecord(road.scene.record));
    const Result<LocalLibraryItem> second = road.run();
    PELLWICK_VERIFY_SUCCESS(second);
    QCOMPARE(road.scene.storedRecord().phase, secondImport);
    // The item is verified either way: a duplicate of its own archived bytes stays verified.
    QCOMPARE(second->importStatus, LibraryItemImportStatus::VerifiedBackup);
}

QTEST_GUILESS_MAIN(VerifiedBackupRoadHttpTests)
#include "VerifiedBackupRoadHttpTests.moc"
