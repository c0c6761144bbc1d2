#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/CurlPresignedURLUploader.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Support/Json.h>

#include <QTemporaryDir>
#include <QTest>

#include <Support/BackendArchiving.h>
#include <Support/BackendReplies.h>
#include <Support/ScriptedFetch.h>
#include <Support/TestBackend/TestBackend.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <Support/TestObjectStore.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using E = LibrarySessionClientError;
using Decision = VerifiedBackupUploadDecision;

namespace {

const QString token = QStringLiteral("tok-1");

const QByteArray storageFullBody = QByteArrayLiteral(
    R"({"error":"storage_full","storage":{"state":"storage_full","used_bytes":90,)"
    R"("limit_bytes":100,"remaining_bytes":10,"message":"Archive storage is full."}})");

VerifiedBackupUploadRequest minimalRequest()
{
    return VerifiedBackupUploadRequest{QStringLiteral("IMG_0001.CR3"),
                                       QStringLiteral("2024-05-01_120000_IMG_0001.CR3"),
                                       25'000'000'000,
                                       QStringLiteral("ab12"),
                                       300'000,
                                       std::nullopt,
                                       std::nullopt,
                                       std::nullopt,
                                       std::nullopt,
                                       std::nullopt};
}

QByteArray multipartJson(const QByteArray &uploadID, const QByteArray &parts)
{
    return R"({"upload_id":")" + uploadID + R"(","part_size_bytes":8388608,"parts":)" + parts + "}";
}

const QByteArray rawUpload
    = multipartJson("raw-1",
                    R"([{"part_number":2,"url":"https://store.test/raw?part=2&sig=a%2Fb"},)"
                    R"({"part_number":1,"url":"https://store.test/raw?part=1&sig=c%2Bd"}])");
const QByteArray sidecarUpload
    = multipartJson("side-1", R"([{"part_number":1,"url":"https://store.test/side?p=1"}])");
const QByteArray duplicateMember
    = R"({"original_filename":"IMG_0001.CR3","content_hash":"ab12","byte_count":1234})";

QByteArray uploadReply(const QByteArray &members, const QByteArray &status = "uploading")
{
    return R"({"library_item":{"id":77,"import_status":")" + status + R"("})"
           + (members.isEmpty() ? QByteArray() : "," + members) + "}";
}

/// The outcome of one scripted reply to an upload request.
Result<Decision> requestWithReply(int status, const QByteArray &body)
{
    ScriptedFetch fetch;
    fetch.reply(status, body);
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());
    return client.requestVerifiedBackupUpload(token, minimalRequest());
}

const Error storageFull
    = E{E::StorageFull{{90, 100, 10, QStringLiteral("Archive storage is full.")}}};
const Error importUnavailable = E{E::ImportUnavailable{}};

const DecodingError *decodingError(const Error &error)
{
    return error.as<DecodingError>();
}

} // namespace

class VerifiedBackupTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void valueTypesCompareEveryField();
    void uploadedPartHasItsJsonForm();
    void requestBodyWritesPresentKeysOnly();
    void duplicateEvidenceWinsOverUploadInstructions();
    void uploadInstructionsAreMappedAsListed();
    void numbersOutsideTheirRangeFailNamingTheKey_data();
    void numbersOutsideTheirRangeFailNamingTheKey();
    void replyWithoutDecisionFails_data();
    void replyWithoutDecisionFails();
    void uploadRequestUsesTheDecodingStatusRules_data();
    void uploadRequestUsesTheDecodingStatusRules();
    void statusWordsMapToLocalStatuses_data();
    void statusWordsMapToLocalStatuses();
    void finalizationCarriesThePreviewLinkWhenGiven();
    void bodylessCallsAcceptOnly204_data();
    void bodylessCallsAcceptOnly204();
    void completionBodyListsPartsInCallerOrder();
    void packageArchivesThroughBackendAndObjectStore();
    void usedStorageFollowsFinalizedAndCancelledItems_data();
    void usedStorageFollowsFinalizedAndCancelledItems();
    void anotherAccountsReservationsAndUploadsAreNotFound_data();
    void anotherAccountsReservationsAndUploadsAreNotFound();
};

void VerifiedBackupTests::initTestCase()
{
    CurlFetch::initializeGlobally();
}

void VerifiedBackupTests::valueTypesCompareEveryField()
{
    VerifiedBackupUploadRequest withSidecar = minimalRequest();
    withSidecar.sidecar
        = VerifiedBackupSidecar{QStringLiteral("IMG_0001.xmp"), 24, QStringLiteral("cd34")};
    QVERIFY(minimalRequest() != withSidecar);
    VerifiedBackupUploadRequest reserved = minimalRequest();
    reserved.reservationID = QStringLiteral("res_1");
    QVERIFY(minimalRequest() != reserved);
    QCOMPARE(reserved, reserved);

    // The two cases never meet, even with the same library item id.
    const Decision upload{Decision::Upload{{77, {}, std::nullopt, std::nullopt}}};
    const Decision duplicate{Decision::Duplicate{{77, {}, {}, 0}}};
    QVERIFY(upload != duplicate);
    QCOMPARE(upload, (Decision{Decision::Upload{{77, {}, std::nullopt, std::nullopt}}}));
}

void VerifiedBackupTests::uploadedPartHasItsJsonForm()
{
    const UploadedMultipartPart part{3, QStringLiteral("\"9b2cf535f27731c9\"")};
    const QJsonObject json = toJson(part);
    QCOMPARE(json.size(), 2);
    QCOMPARE(json.value(QStringLiteral("part_number")).toInteger(), 3);
    QCOMPARE(json.value(QStringLiteral("etag")).toString(), part.etag);
    QCOMPARE(uploadedMultipartPartFromJson(json).value(), part);

    QJsonObject extra = json;
    extra.insert(QStringLiteral("size"), 5);
    QCOMPARE(uploadedMultipartPartFromJson(extra).value(), part);

    Result<UploadedMultipartPart> noETag = uploadedMultipartPartFromJson(
        QJsonObject{{QStringLiteral("part_number"), 3}}, QStringLiteral("parts[0]"));
    QCOMPARE(decodingError(noETag.error())->kind, DecodingError::Kind::KeyNotFound);
    QCOMPARE(decodingError(noETag.error())->keyPath, QStringLiteral("parts[0].etag"));
    Result<UploadedMultipartPart> textNumber = uploadedMultipartPartFromJson(
        QJsonObject{{QStringLiteral("part_number"), QStringLiteral("3")},
                    {QStringLiteral("etag"), QStringLiteral("x")}});
    QCOMPARE(decodingError(textNumber.error())->kind, DecodingError::Kind::TypeMismatch);
}

void VerifiedBackupTests::requestBodyWritesPresentKeysOnly()
{
    ScriptedFetch fetch;
    fetch.reply(599).reply(599);
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());
    (void) client.requestVerifiedBackupUpload(token, minimalRequest());

    VerifiedBackupUploadRequest full = minimalRequest();
    full.importSourceName = QStringLiteral("EOS_DIGITAL");
    full.sourceRelativePath = QStringLiteral("DCIM/100CANON/IMG_0001.CR3");
    full.cacheRelativePath = QString(); // present but empty is still written
    full.sidecar = VerifiedBackupSidecar{QStringLiteral("IMG_0001.xmp"), 0, QStringLiteral("cd")};
    full.reservationID = QStringLiteral("res_9");
    (void) client.requestVerifiedBackupUpload(token, full);

    const QList<HttpRequest> requests = fetch.requests();
    QCOMPARE(*requests[0].body,
             QByteArray(R"({"original_filename":"IMG_0001.CR3",)"
                        R"("canonical_filename":"2024-05-01_120000_IMG_0001.CR3",)"
                        R"("byte_count":25000000000,"content_hash":"ab12",)"
                        R"("preview_byte_count":300000})"));
    QCOMPARE(*requests[1].body,
             QByteArray(R"({"original_filename":"IMG_0001.CR3",)"
                        R"("canonical_filename":"2024-05-01_120000_IMG_0001.CR3",)"
                        R"("byte_count":25000000000,"content_hash":"ab12",)"
                        R"("preview_byte_count":300000,"import_source_name":"EOS_DIGITAL",)"
                        R"("source_relative_path":"DCIM/100CANON/IMG_0001.CR3",)"
                        R"("cache_relative_path":"","sidecar_filename":"IMG_0001.xmp",)"
                        R"("sidecar_byte_count":0,"sidecar_content_hash":"cd",)"
                        R"("reservation_id":"res_9"})"));
}

void VerifiedBackupTests::duplicateEvidenceWinsOverUploadInstructions()
{
    Result<Decision> decision = requestWithReply(
        201,
        uploadReply(R"("raw_original_upload":)" + rawUpload + R"(,"duplicate":)" + duplicateMember,
                    "duplicate"));
    PELLWICK_VERIFY_SUCCESS(decision);
    QCOMPARE(*decision,
             (Decision{Decision::Duplicate{
                 {77, QStringLiteral("IMG_0001.CR3"), QStringLiteral("ab12"), 1234}}}));

    // A null upload member is absent; a malformed one fails even beside a duplicate.
    decision = requestWithReply(
        200, uploadReply(R"("raw_original_upload":null,"duplicate":)" + duplicateMember));
    QVERIFY(decision && std::holds_alternative<Decision::Duplicate>(decision->value));
    decision = requestWithReply(
        200,
        uploadReply(R"("raw_original_upload":{"upload_id":"x"},"duplicate":)" + duplicateMember));
    QCOMPARE(decodingError(decision.error())->keyPath,
             QStringLiteral("raw_original_upload.part_size_bytes"));
}

void VerifiedBackupTests::uploadInstructionsAreMappedAsListed()
{
    Result<Decision> decision = requestWithReply(
        201,
        uploadReply(R"("raw_original_upload":)" + rawUpload
                    + R"(,"preview_upload":{"url":"https://store.test/preview?sig=%3D"},)"
                      R"("sidecar_upload":)"
                    + sidecarUpload + R"(,"duplicate":null)"));
    PELLWICK_VERIFY_SUCCESS(decision);
    const auto *upload = std::get_if<Decision::Upload>(&decision->value);
    QVERIFY(upload);
    const VerifiedBackupUploadAuthorization &authorization = upload->authorization;
    QCOMPARE(authorization.libraryItemID, 77);
    QCOMPARE(authorization.rawOriginalUpload.uploadID, QStringLiteral("raw-1"));
    QCOMPARE(authorization.rawOriginalUpload.partSizeBytes, 8388608);
    // Reply order, URLs exactly as sent.
    QCOMPARE(authorization.rawOriginalUpload.parts,
             (QList<PresignedUploadPart>{
                 {2, QStringLiteral("https://store.test/raw?part=2&sig=a%2Fb")},
                 {1, QStringLiteral("https://store.test/raw?part=1&sig=c%2Bd")}}));
    QCOMPARE(authorization.previewUpload,
             std::optional(
                 PresignedPreviewUpload{QStringLiteral("https://store.test/preview?sig=%3D")}));
    QCOMPARE(authorization.sidecarUpload->uploadID, QStringLiteral("side-1"));

    decision = requestWithReply(200, uploadReply(R"("raw_original_upload":)" + rawUpload));
    PELLWICK_VERIFY_SUCCESS(decision);
    const auto &bare = std::get<Decision::Upload>(decision->value).authorization;
    QCOMPARE(bare.previewUpload, std::nullopt);
    QCOMPARE(bare.sidecarUpload, std::nullopt);
}

void VerifiedBackupTests::numbersOutsideTheirRangeFailNamingTheKey_data()
{
    QTest::addColumn<QByteArray>("members");
    QTest::addColumn<QString>("keyPath"); // empty: decodes
    auto raw = [](const QByteArray &partSize, const QByteArray &partNumber) -> QByteArray {
        return R"("raw_original_upload":{"upload_id":"raw-1","part_size_bytes":)" + partSize
               + R"(,"parts":[{"part_number":)" + partNumber
               + R"(,"url":"https://store.test/raw?p=1"}]})";
    };
    QTest::newRow("smallest part size and number") << raw("1", "1") << QString();
    QTest::newRow("largest part number") << raw("8388608", "10000") << QString();
    QTest::newRow("part size zero") << raw("0", "1") << u"raw_original_upload.part_size_bytes"_s;
    QTest::newRow("negative part size")
        << raw("-8388608", "1") << u"raw_original_upload.part_size_bytes"_s;
    QTest::newRow("part number zero")
        << raw("8388608", "0") << u"raw_original_upload.parts[0].part_number"_s;
    QTest::newRow("part number past 10000")
        << raw("8388608", "10001") << u"raw_original_upload.parts[0].part_number"_s;
    QTest::newRow("negative part number in the sidecar upload")
        << raw("1", "1") + R"(,"sidecar_upload":)"
               + multipartJson("side-1", R"([{"part_number":-1,"url":"https://s.test/x"}])")
        << u"sidecar_upload.parts[0].part_number"_s;
    QTest::newRow("negative duplicate size")
        << QByteArray(R"("duplicate":{"original_filename":"a","content_hash":"b","byte_count":-1})")
        << u"duplicate.byte_count"_s;
}

void VerifiedBackupTests::numbersOutsideTheirRangeFailNamingTheKey()
{
    QFETCH(QByteArray, members);
    QFETCH(QString, keyPath);
    Result<Decision> decision = requestWithReply(201, uploadReply(members));
    if (keyPath.isEmpty()) {
        PELLWICK_VERIFY_SUCCESS(decision);
        return;
    }
    QVERIFY(!decision);
    QVERIFY2(decodingError(decision.error()), failureText(decision).constData());
    QCOMPARE(decodingError(decision.error())->kind, DecodingError::Kind::DataCorrupted);
    QCOMPARE(decodingError(decision.error())->keyPath, keyPath);

    // The import record's receipts obey the same range.
    for (const qint64 number : {0, -1, 10'001}) {
        Result<UploadedMultipartPart> stored = uploadedMultipartPartFromJson(
            QJsonObject{{u"part_number"_s, number}, {u"etag"_s, u"e"_s}}, u"parts[0]"_s);
        QVERIFY(!stored);
        QCOMPARE(decodingError(stored.error())->keyPath, u"parts[0].part_number"_s);
    }
}

void VerifiedBackupTests::replyWithoutDecisionFails_data()
{
    QTest::addColumn<QByteArray>("members");
    QTest::newRow("library item only") << QByteArray();
    QTest::newRow("both members null")
        << QByteArray(R"("raw_original_upload":null,"duplicate":null)");
    QTest::newRow("preview upload only")
        << QByteArray(R"("preview_upload":{"url":"https://store.test/p"})");
    QTest::newRow("sidecar upload only") << QByteArray(R"("sidecar_upload":)" + sidecarUpload);
}

void VerifiedBackupTests::replyWithoutDecisionFails()
{
    QFETCH(QByteArray, members);
    Result<Decision> decision = requestWithReply(200, uploadReply(members));
    QVERIFY(!decision);
    QCOMPARE(decision.error(),
             Error(DecodingError{DecodingError::Kind::ValueNotFound,
                                 QString(),
                                 QStringLiteral("Expected upload instructions or duplicate "
                                                "evidence")}));
}

void VerifiedBackupTests::uploadRequestUsesTheDecodingStatusRules_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Error>("expected");
    const QByteArray valid = uploadReply(R"("raw_original_upload":)" + rawUpload);
    QTest::newRow("202") << 202 << valid << unexpectedStatusError(202);
    QTest::newRow("storage full") << 409 << storageFullBody << storageFull;
    QTest::newRow("import unavailable")
        << 403 << QByteArray(R"({"error":"import_unavailable"})") << importUnavailable;
    QTest::newRow("other 409") << 409 << QByteArray(R"({"error":"conflict"})")
                               << unexpectedStatusError(409);
}

void VerifiedBackupTests::uploadRequestUsesTheDecodingStatusRules()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(Error, expected);
    Result<Decision> decision = requestWithReply(status, body);
    QVERIFY(!decision);
    QCOMPARE(decision.error(), expected);

    // An upload target that is not a URL fails decoding.
    decision = requestWithReply(
        201,
        uploadReply(R"("raw_original_upload":)"
                    + multipartJson("r", R"([{"part_number":1,"url":"http://[::1"}])")));
    QCOMPARE(decodingError(decision.error())->keyPath,
             QStringLiteral("raw_original_upload.parts[0].url"));
}

void VerifiedBackupTests::statusWordsMapToLocalStatuses_data()
{
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<std::optional<LibraryItemImportStatus>>("status");
    using S = LibraryItemImportStatus;
    QTest::newRow("staging") << QByteArray("staging") << std::optional(S::LocalCacheReady);
    QTest::newRow("uploading") << QByteArray("uploading") << std::optional(S::Uploading);
    QTest::newRow("verified_backup")
        << QByteArray("verified_backup") << std::optional(S::VerifiedBackup);
    QTest::newRow("needs_attention")
        << QByteArray("needs_attention") << std::optional(S::NeedsAttention);
    QTest::newRow("duplicate") << QByteArray("duplicate") << std::optional(S::Duplicate);
    // Local raw values are not backend words.
    QTest::newRow("verifying") << QByteArray("verifying") << std::optional<S>();
    QTest::newRow("localCacheReady") << QByteArray("localCacheReady") << std::optional<S>();
    QTest::newRow("letter case") << QByteArray("Uploading") << std::optional<S>();
}

void VerifiedBackupTests::statusWordsMapToLocalStatuses()
{
    QFETCH(QByteArray, word);
    QFETCH(std::optional<LibraryItemImportStatus>, status);
    ScriptedFetch fetch;
    const QByteArray reply = R"({"library_item":{"id":8,"import_status":")" + word + R"("}})";
    fetch.reply(200, reply).reply(200, reply);
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());

    // The id is the reply's, not the one asked for.
    Result<VerifiedBackupUploadState> state = client.verifiedBackupUploadState(token, 7);
    Result<VerifiedBackupFinalization> finalization = client.finalizeVerifiedBackupUpload(token, 7);
    if (status) {
        QCOMPARE(state.value(), (VerifiedBackupUploadState{8, *status}));
        QCOMPARE(finalization.value(), (VerifiedBackupFinalization{8, *status, std::nullopt}));
    } else {
        QCOMPARE(decodingError(state.error())->keyPath,
                 QStringLiteral("library_item.import_status"));
        QCOMPARE(decodingError(finalization.error())->kind, DecodingError::Kind::DataCorrupted);
    }
}

void VerifiedBackupTests::finalizationCarriesThePreviewLinkWhenGiven()
{
    ScriptedFetch fetch;
    const QByteArray item = R"({"library_item":{"id":5,"import_status":"verified_backup"})";
    fetch
        .reply(200,
               item
                   + R"(,"preview":{"access_url":"https://cdn.test/p.jpg?e=1",)"
                     R"("expires_at":"2025-01-01T00:00:00.5+01:00"}})")
        .reply(200, item + R"(,"preview":null})")
        .reply(200, item + R"(,"preview":{"access_url":"https://cdn.test/p.jpg"}})")
        .reply(201, item + "}");
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());
    QCOMPARE(client.finalizeVerifiedBackupUpload(token, 5).value().previewAccess,
             std::optional(SignedPreviewAccess{QStringLiteral("https://cdn.test/p.jpg?e=1"),
                                               QStringLiteral("2025-01-01T00:00:00.5+01:00")}));
    QCOMPARE(client.finalizeVerifiedBackupUpload(token, 5).value().previewAccess, std::nullopt);
    Result<VerifiedBackupFinalization> partial = client.finalizeVerifiedBackupUpload(token, 5);
    QCOMPARE(decodingError(partial.error())->keyPath, QStringLiteral("preview.expires_at"));
    QCOMPARE(client.finalizeVerifiedBackupUpload(token, 5).error(), unexpectedStatusError(201));
}

void VerifiedBackupTests::bodylessCallsAcceptOnly204_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("expectedFailure"); // 0: success
    QTest::newRow("204") << 204 << QByteArray("ignored") << 0;
    QTest::newRow("200") << 200 << QByteArray() << 200;
    QTest::newRow("404") << 404 << QByteArray() << 404;
    QTest::newRow("storage-full body") << 409 << storageFullBody << 409;
    QTest::newRow("import-unavailable body")
        << 403 << QByteArray(R"({"error":"import_unavailable"})") << 403;
}

void VerifiedBackupTests::bodylessCallsAcceptOnly204()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, expectedFailure);
    ScriptedFetch fetch;
    fetch.reply(status, body).reply(status, body).reply(status, body);
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());
    const VerifiedBackupAPI &api = client;
    const VerifiedBackupImportCancelling &cancelling = client;
    const QList<Result<void>> results{
        api.completeVerifiedBackupUpload(token, 42, QStringLiteral("u"), {}),
        api.completeVerifiedBackupSidecarUpload(token, 42, QStringLiteral("u"), {}),
        cancelling.cancelVerifiedBackupImport(token, 42)};
    for (const Result<void> &result : results) {
        if (expectedFailure == 0)
            PELLWICK_VERIFY_SUCCESS(result);
        else
            QCOMPARE(result.error(), unexpectedStatusError(expectedFailure));
    }
}

void VerifiedBackupTests::completionBodyListsPartsInCallerOrder()
{
    ScriptedFetch fetch;
    fetch.reply(204);
    const LibrarySessionClient client(QUrl(QStringLiteral("https://api.example.test")),
                                      fetch.function());
    PELLWICK_VERIFY_SUCCESS(client.completeVerifiedBackupUpload(
        token,
        42,
        QStringLiteral("raw-1"),
        {{2, QStringLiteral("\"b\"")}, {1, QStringLiteral("\"a\"")}}));
    const QJsonObject body = Json::parseObject(*fetch.onlyRequest().body).value();
    QCOMPARE(fetch.onlyRequest().body->left(20), QByteArray(R"({"upload_id":"raw-1")"));
    const QJsonArray parts = body.value(QStringLiteral("parts")).toArray();
    QCOMPARE(parts.size(), 2);
    QCOMPARE(uploadedMultipartPartFromJson(parts[0]).value(),
             (UploadedMultipartPart{2, QStringLiteral("\"b\"")}));
    QCOMPARE(uploadedMultipartPartFromJson(parts[1]).value(),
             (UploadedMultipartPart{1, QStringLiteral("\"a\"")}));
}

void VerifiedBackupTests::packageArchivesThroughBackendAndObjectStore()
{
    constexpr qint64 partSize = 64 * 1024;
    TestBackend backend(TestBackend::Options{{}, partSize});
    TestBackend::Account account;
    account.email = QStringLiteral("ada@example.test");
    backend.addAccount(account);
    const QString session = backend.issueToken(account.email);
    const LibrarySessionClient client(backend.baseURL(), CurlFetch());
    const CurlPresignedURLUploader uploader;

    QTemporaryDir folder;
    const QByteArray raw = Test::patternBytes(2 * partSize + 1234, 3);
    const QByteArray sidecar = Test::patternBytes(900, 4);
    const QByteArray preview = Test::patternBytes(5000, 5);
    const QString rawPath = folder.filePath(QStringLiteral("IMG_0001.CR3"));
    const QString sidecarPath = folder.filePath(QStringLiteral("IMG_0001.xmp"));
    const QString previewPath = folder.filePath(QStringLiteral("preview.jpg"));
    Test::writeFile(rawPath, raw);
    Test::writeFile(sidecarPath, sidecar);
    Test::writeFile(previewPath, preview);

    Result<QString> reservation
        = client.createImportCapacityReservation(session, {{raw.size(), sidecar.size()}});
    PELLWICK_VERIFY_SUCCESS(reservation);
    VerifiedBackupUploadRequest request = minimalRequest();
    request.byteCount = raw.size();
    request.contentHash = Test::referenceSha256(raw);
    request.previewByteCount = preview.size();
    request.sidecar = VerifiedBackupSidecar{
        QStringLiteral("IMG_0001.xmp"), sidecar.size(), Test::referenceSha256(sidecar)};
    request.reservationID = *reservation;

    const VerifiedBackupAPI &api = client;
    Result<Decision> decision = api.requestVerifiedBackupUpload(session, request);
    PELLWICK_VERIFY_SUCCESS(decision);
    const VerifiedBackupUploadAuthorization authorization
        = std::get<Decision::Upload>(decision->value).authorization;
    QCOMPARE(authorization.rawOriginalUpload.parts.size(), 3);

    auto uploadParts
        = [&](const PresignedMultipartUpload &upload, const QString &file, qint64 size) {
              QList<UploadedMultipartPart> receipts;
              for (const PresignedUploadPart &part : upload.parts) {
                  const qint64 start = (part.partNumber - 1) * upload.partSizeBytes;
                  const ByteRange range{start, std::min(start + upload.partSizeBytes, size)};
                  Result<QString> etag = uploader.uploadPart(file, range, part.url);
                  if (!etag)
                      qWarning("%s", qPrintable(describe(etag.error())));
                  receipts.append({part.partNumber, etag.value_or(QString())});
              }
              return receipts;
          };
    const QList<UploadedMultipartPart> rawParts
        = uploadParts(authorization.rawOriginalUpload, rawPath, raw.size());
    const QList<UploadedMultipartPart> sidecarParts
        = uploadParts(*authorization.sidecarUpload, sidecarPath, sidecar.size());

    // Finalizing before the uploads are complete is refused by the backend.
    QCOMPARE(api.finalizeVerifiedBackupUpload(session, authorization.libraryItemID).error(),
             unexpectedStatusError(409));
    // A receipt with another ETag is refused.
    QList<UploadedMultipartPart> wrong = rawParts;
    wrong[1].etag = QStringLiteral("\"0\"");
    QCOMPARE(api.completeVerifiedBackupUpload(session,
                                              authorization.libraryItemID,
                                              authorization.rawOriginalUpload.uploadID,
                                              wrong)
                 .error(),
             unexpectedStatusError(422));

    PELLWICK_VERIFY_SUCCESS(api.completeVerifiedBackupUpload(
        session, authorization.libraryItemID, authorization.rawOriginalUpload.uploadID, rawParts));
    PELLWICK_VERIFY_SUCCESS(api.completeVerifiedBackupSidecarUpload(
        session, authorization.libraryItemID, authorization.sidecarUpload->uploadID, sidecarParts));
    PELLWICK_VERIFY_SUCCESS(uploader.uploadFile(previewPath, authorization.previewUpload->url));
    Result<VerifiedBackupFinalization> finalization
        = api.finalizeVerifiedBackupUpload(session, authorization.libraryItemID);
    PELLWICK_VERIFY_SUCCESS(finalization);
    QCOMPARE(finalization->importStatus, LibraryItemImportStatus::VerifiedBackup);
    QVERIFY(finalization->previewAccess);

    // What reached storage is the file, part by part.
    const TestObjectStore &store = backend.objectStore();
    QByteArray stored;
    for (const PresignedUploadPart &part : authorization.rawOriginalUpload.parts) {
        stored += store
                      .object(authorization.rawOriginalUpload.uploadID + QStringLiteral("/part-")
                              + QString::number(part.partNumber))
                      .value_or(QByteArray());
    }
    QCOMPARE(stored, raw);

    QCOMPARE(api.verifiedBackupUploadState(session, authorization.libraryItemID).value(),
             (VerifiedBackupUploadState{authorization.libraryItemID,
                                        LibraryItemImportStatus::VerifiedBackup}));
    // The same bytes again: nothing to upload.
    decision = api.requestVerifiedBackupUpload(session, request);
    QCOMPARE(decision.value(),
             (Decision{Decision::Duplicate{{authorization.libraryItemID,
                                            request.originalFilename,
                                            request.contentHash,
                                            raw.size()}}}));

    // An import that will not be finished is cancelled once; the second cancel finds nothing.
    VerifiedBackupUploadRequest other = minimalRequest();
    other.contentHash = QStringLiteral("other");
    other.byteCount = 10;
    decision = api.requestVerifiedBackupUpload(session, other);
    const qint64 abandoned
        = std::get<Decision::Upload>(decision.value().value).authorization.libraryItemID;
    const VerifiedBackupImportCancelling &cancelling = client;
    PELLWICK_VERIFY_SUCCESS(cancelling.cancelVerifiedBackupImport(session, abandoned));
    QCOMPARE(cancelling.cancelVerifiedBackupImport(session, abandoned).error(),
             unexpectedStatusError(404));

    PELLWICK_VERIFY_SUCCESS(client.releaseImportCapacityReservation(session, *reservation));
    QCOMPARE(backend.libraryItems(account.email).size(), 1);
}

void VerifiedBackupTests::usedStorageFollowsFinalizedAndCancelledItems_data()
{
    QTest::addColumn<bool>("paid");
    QTest::newRow("paid plan") << true;
    QTest::newRow("trial") << false;
}

void VerifiedBackupTests::usedStorageFollowsFinalizedAndCancelledItems()
{
    QFETCH(bool, paid);
    TestBackend backend;
    TestBackend::Account account;
    account.email = u"ada@example.test"_s;
    account.library.paidPlan.status = paid ? PaidPlanStatus::Paid : PaidPlanStatus::Trial;
    account.library.paidPlan.storageEntitlement = {1000, 1'000'000};
    account.library.trialQuota = {1000, 1'000'000};
    backend.addAccount(account);
    const QString session = backend.issueToken(account.email);
    const LibrarySessionClient client(backend.baseURL(), CurlFetch());
    auto used
        = [&] { return client.currentLibrary(session).value().library.activeStorageUsedBytes(); };
    auto untouched = [&] {
        const UserLibrary library = backend.account(account.email)->library;
        return paid ? library.trialQuota.usedBytes : library.paidPlan.storageEntitlement.usedBytes;
    };

    // Requested and completed uploads hold no archive storage yet.
    const qint64 pending
        = archiveThroughBackend(client, session, Test::patternBytes(300, 1), u"completed"_s);
    QVERIFY(pending != 0);
    QCOMPARE(used(), 1000);
    const qint64 kept
        = archiveThroughBackend(client, session, Test::patternBytes(500, 2), u"finalized"_s);
    QVERIFY(kept != 0);
    QCOMPARE(used(), 1500);
    // Bytes that arrived other than announced are archived for attention, and counted.
    const qint64 damaged = archiveThroughBackend(
        client, session, Test::patternBytes(70, 3), u"finalized"_s, u"00"_s);
    QVERIFY(damaged != 0);
    QCOMPARE(used(), 1570);
    // A second finalization counts nothing again.
    QVERIFY(client.finalizeVerifiedBackupUpload(session, kept));
    QCOMPARE(used(), 1570);

    PELLWICK_VERIFY_SUCCESS(client.cancelVerifiedBackupImport(session, damaged));
    QCOMPARE(used(), 1500);
    PELLWICK_VERIFY_SUCCESS(client.cancelVerifiedBackupImport(session, pending));
    QCOMPARE(used(), 1500);
    // A package whose preview could not be made is archived without one.
    QVERIFY(archiveThroughBackend(
                client, session, Test::patternBytes(30, 4), u"finalized"_s, std::nullopt, false)
            != 0);
    QCOMPARE(used(), 1530);
    QCOMPARE(untouched(), 1000);
}

void VerifiedBackupTests::anotherAccountsReservationsAndUploadsAreNotFound_data()
{
    QTest::addColumn<QString>("operation");
    for (const char *operation : {"release reservation",
                                  "upload under reservation",
                                  "upload state",
                                  "complete",
                                  "complete sidecar",
                                  "finalize",
                                  "cancel"}) {
        QTest::newRow(operation) << QString::fromLatin1(operation);
    }
}

void VerifiedBackupTests::anotherAccountsReservationsAndUploadsAreNotFound()
{
    QFETCH(QString, operation);
    TestBackend backend;
    for (const QString &email : {u"ada@example.test"_s, u"bob@example.test"_s}) {
        TestBackend::Account account;
        account.email = email;
        backend.addAccount(account);
    }
    const QString ada = backend.issueToken(u"ada@example.test"_s);
    const QString bob = backend.issueToken(u"bob@example.test"_s);
    const LibrarySessionClient client(backend.baseURL(), CurlFetch());
    const QString reservation = client.createImportCapacityReservation(ada, {{100, 0}}).value();
    const qint64 item
        = archiveThroughBackend(client, ada, Test::patternBytes(100, 1), u"requested"_s);
    QVERIFY(item != 0);

    Result<void> outcome;
    if (operation == u"release reservation") {
        outcome = client.releaseImportCapacityReservation(bob, reservation);
    } else if (operation == u"upload under reservation") {
        VerifiedBackupUploadRequest request = minimalRequest();
        request.reservationID = reservation;
        Result<Decision> decision = client.requestVerifiedBackupUpload(bob, request);
        outcome = decision ? Result<void>() : tl::unexpected<Error>(decision.error());
    } else if (operation == u"upload state") {
        Result<VerifiedBackupUploadState> state = client.verifiedBackupUploadState(bob, item);
        outcome = state ? Result<void>() : tl::unexpected<Error>(state.error());
    } else if (operation == u"complete") {
        outcome = client.completeVerifiedBackupUpload(bob, item, u"upload-1"_s, {{1, u"e"_s}});
    } else if (operation == u"complete sidecar") {
        outcome = client.completeVerifiedBackupSidecarUpload(bob, item, u"upload-1"_s, {});
    } else if (operation == u"finalize") {
        Result<VerifiedBackupFinalization> done = client.finalizeVerifiedBackupUpload(bob, item);
        outcome = done ? Result<void>() : tl::unexpected<Error>(done.error());
    } else {
        outcome = client.cancelVerifiedBackupImport(bob, item);
    }
    QVERIFY(!outcome);
    QCOMPARE(outcome.error(), unexpectedStatusError(404));
    // Nothing of Ada's changed.
    QCOMPARE(backend.reservationIDs(u"ada@example.test"_s), QStringList{reservation});
    QCOMPARE(backend.libraryItems(u"ada@example.test"_s).size(), 1);
    QVERIFY(backend.libraryItems(u"bob@example.test"_s).isEmpty());
    QCOMPARE(client.verifiedBackupUploadState(ada, item).value().importStatus,
             LibraryItemImportStatus::Uploading);
}

QTEST_GUILESS_MAIN(VerifiedBackupTests)
#include "VerifiedBackupTests.moc"
