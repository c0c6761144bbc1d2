#include "ImportFixtures.h"

#include <PellwickCore/Import/StagedImportRecord.h>
#include <PellwickCore/Support/Json.h>

#include <QJsonArray>
#include <QTest>

#include <functional>

#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

using Edit = std::function<void(QJsonObject &)>;
using Change = std::function<StagedImportRecord(const StagedImportRecord &)>;

/// A record in the middle of its upload: both states, parts uploaded, a preview URL.
StagedImportRecord uploadingRecord()
{
    return preparedRecord()
        .replacingAuthorization(authorization(QStringLiteral("raw-1"), 1000, true, true))
        .markingRawPartUploaded({2, QStringLiteral("\"e2\"")})
        .markingRawPartUploaded({1, QStringLiteral("\"e1\"")})
        .markingSidecarPartUploaded({1, QStringLiteral("\"s1\"")});
}

Result<StagedImportRecord> readBack(const QJsonObject &object)
{
    // Through the text form, as the file holds it.
    PELLWICK_TRY_ASSIGN(QByteArray bytes, Json::serialize(object, Json::Format::Pretty));
    PELLWICK_TRY_ASSIGN(QJsonObject parsed, Json::parseObject(bytes));
    return stagedImportRecordFromJson(parsed);
}

QJsonArray uploadedParts(const QList<UploadedMultipartPart> &parts)
{
    QJsonArray out;
    for (const UploadedMultipartPart &part : parts)
        out.append(toJson(part));
    return out;
}

} // namespace

class StagedImportRecordTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recordWithoutStatesIsWrittenWithEmptyValues();
    void recordsReadBackEqual_data();
    void recordsReadBackEqual();
    void lenientReading_data();
    void lenientReading();
    void readingFails_data();
    void readingFails();
    void transitions_data();
    void transitions();
    void uploadRequest_data();
    void uploadRequest();
};

void StagedImportRecordTests::recordWithoutStatesIsWrittenWithEmptyValues()
{
    StagedImportRecord record = preparedRecord();
    record.previewRelativePath.reset();
    record.importSourceName.reset();
    const QJsonObject object = toJson(record);

    QCOMPARE(object.value(u"rawUploadParts"), QJsonValue(QJsonArray()));
    QCOMPARE(object.value(u"rawPartSizeBytes"), QJsonValue(0));
    QCOMPARE(object.value(u"uploadedRawParts"), QJsonValue(QJsonArray()));
    QCOMPARE(object.value(u"rawUploadCompleted"), QJsonValue(false));
    QCOMPARE(object.value(u"sidecarUploadParts"), QJsonValue(QJsonArray()));
    QCOMPARE(object.value(u"sidecarPartSizeBytes"), QJsonValue(0));
    QCOMPARE(object.value(u"uploadedSidecarParts"), QJsonValue(QJsonArray()));
    QCOMPARE(object.value(u"sidecarUploadCompleted"), QJsonValue(false));
    QCOMPARE(object.value(u"previewUploaded"), QJsonValue(false));
    QCOMPARE(object.value(u"phase"), QJsonValue(QStringLiteral("notStarted")));
    QCOMPARE(object.value(u"localLibraryItemID"),
             QJsonValue(QStringLiteral("5D2F1B4E-6A7C-4D8E-9F00-112233445566")));
    for (const char *absent : {"rawUploadID",
                               "sidecarUploadID",
                               "backendLibraryItemID",
                               "previewRelativePath",
                               "importSourceName",
                               "previewUploadURL"})
        QVERIFY2(!object.contains(QLatin1String(absent)), absent);
    QCOMPARE(object.size(), 24);

    const Result<StagedImportRecord> read = readBack(object);
    PELLWICK_VERIFY_SUCCESS(read);
    QCOMPARE(*read, record);
}

void StagedImportRecordTests::recordsReadBackEqual_data()
{
    QTest::addColumn<StagedImportRecord>("record");
    QTest::newRow("prepared") << preparedRecord();
    QTest::newRow("uploading with both states") << uploadingRecord();
    QTest::newRow("completed and uploaded") << uploadingRecord()
                                                   .markingRawUploadCompleted()
                                                   .markingSidecarUploadCompleted()
                                                   .markingPreviewUploaded()
                                                   .markingUploaded();
    QTest::newRow("duplicate") << preparedRecord().markingDuplicate(9);
    QTest::newRow("needs attention")
        << uploadingRecord().markingTerminal(StagedImportPhase::NeedsAttention);
    StagedImportRecord bare = preparedRecord();
    bare.sidecarFilename.reset();
    bare.sidecarContentHash.reset();
    bare.sidecarByteCount = 0;
    bare.stagedSidecarRelativePath.reset();
    bare.cacheRelativePath.reset();
    bare.sourceRelativePath.reset();
    bare.importCapacityReservationID.reset();
    QTest::newRow("no sidecar, no optional texts")
        << bare.replacingAuthorization(authorization(QStringLiteral("r"), 5, false, false));
}

void StagedImportRecordTests::recordsReadBackEqual()
{
    QFETCH(StagedImportRecord, record);
    const Result<StagedImportRecord> read = readBack(toJson(record));
    PELLWICK_VERIFY_SUCCESS(read);
    QCOMPARE(*read, record);
    // Presigned URLs come back as the very text received.
    if (record.multipartUpload) {
        QCOMPARE(read->multipartUpload->authorizedParts.first().url,
                 signedURL(record.multipartUpload->uploadID + QStringLiteral("/1")));
    }
}

void StagedImportRecordTests::lenientReading_data()
{
    QTest::addColumn<StagedImportRecord>("base");
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<StagedImportRecord>("expected");

    const StagedImportRecord prepared = preparedRecord();
    const StagedImportRecord uploading = uploadingRecord();

    auto without = [](QStringList keys) {
        return Edit([keys](QJsonObject &object) {
            for (const QString &key : keys)
                object.remove(key);
        });
    };
    StagedImportRecord withoutSidecarState = uploading;
    withoutSidecarState.sidecarMultipartUpload.reset();
    QTest::newRow("every sidecar key missing") << uploading
                                               << without({u"sidecarUploadParts"_s,
                                                           u"sidecarUploadID"_s,
                                                           u"sidecarPartSizeBytes"_s,
                                                           u"uploadedSidecarParts"_s,
                                                           u"sidecarUploadCompleted"_s})
                                               << withoutSidecarState;
    QTest::newRow("sidecar keys null") << uploading << Edit([](QJsonObject &object) {
        for (const char *key : {"sidecarUploadParts",
                                "sidecarUploadID",
                                "sidecarPartSizeBytes",
                                "uploadedSidecarParts",
                                "sidecarUploadCompleted"})
            object.insert(QLatin1String(key), QJsonValue::Null);
    }) << withoutSidecarState;
    StagedImportRecord withoutRawState = uploading;
    withoutRawState.multipartUpload.reset();
    QTest::newRow("raw upload id missing with parts listed")
        << uploading << without({u"rawUploadID"_s}) << withoutRawState;
    QTest::newRow("sidecar upload id missing with parts listed")
        << uploading << without({u"sidecarUploadID"_s}) << withoutSidecarState;

    StagedImportRecord reordered = uploading;
    reordered.multipartUpload->uploadedParts
        = {{2, QStringLiteral("\"b\"")}, {1, QStringLiteral("\"c\"")}};
    QTest::newRow("uploaded parts 1, 2, 1") << uploading << Edit([](QJsonObject &object) {
        object.insert(QStringLiteral("uploadedRawParts"),
                      uploadedParts({{1, u"\"a\""_s}, {2, u"\"b\""_s}, {1, u"\"c\""_s}}));
    }) << reordered;

    StagedImportRecord defaults = prepared;
    defaults.sidecarByteCount = 0;
    QTest::newRow("no phase, preview flag or sidecar size")
        << prepared << without({u"phase"_s, u"previewUploaded"_s, u"sidecarByteCount"_s})
        << defaults;
    QTest::newRow("unknown keys") << prepared << Edit([](QJsonObject &object) {
        object.insert(QStringLiteral("comment"), QStringLiteral("hello"));
    }) << prepared;
    QTest::newRow("lower-case id") << prepared << Edit([](QJsonObject &object) {
        object.insert(QStringLiteral("localLibraryItemID"),
                      object.value(u"localLibraryItemID").toString().toLower());
    }) << prepared;
}

void StagedImportRecordTests::lenientReading()
{
    QFETCH(StagedImportRecord, base);
    QFETCH(Edit, edit);
    QFETCH(StagedImportRecord, expected);
    QJsonObject object = toJson(base);
    edit(object);
    const Result<StagedImportRecord> read = readBack(object);
    PELLWICK_VERIFY_SUCCESS(read);
    QCOMPARE(*read, expected);
}

void StagedImportRecordTests::readingFails_data()
{
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<DecodingError::Kind>("kind");
    QTest::addColumn<QString>("keyPath");

    using Kind = DecodingError::Kind;
    for (const char *key : {"localLibraryItemID",
                            "originalFilename",
                            "canonicalFilename",
                            "contentHash",
                            "byteCount",
                            "previewByteCount",
                            "stagedOriginalRelativePath",
                            "rawUploadParts",
                            "rawPartSizeBytes",
                            "uploadedRawParts",
                            "rawUploadCompleted"}) {
        const QString name = QLatin1String(key);
        QTest::addRow("%s missing", key)
            << Edit([name](QJsonObject &object) { object.remove(name); }) << Kind::KeyNotFound
            << name;
        QTest::addRow("%s null", key)
            << Edit([name](QJsonObject &object) { object.insert(name, QJsonValue::Null); })
            << Kind::ValueNotFound << name;
    }

    auto set = [](const char *key, QJsonValue value) {
        const QString name = QLatin1String(key);
        return Edit([name, value](QJsonObject &object) { object.insert(name, value); });
    };
    QTest::newRow("unknown phase")
        << set("phase", QStringLiteral("paused")) << Kind::DataCorrupted << QStringLiteral("phase");
    QTest::newRow("number as id") << set("localLibraryItemID", 42) << Kind::TypeMismatch
                                  << QStringLiteral("localLibraryItemID");
    QTest::newRow("malformed id") << set("localLibraryItemID", QStringLiteral("5D2F1B4E-6A7C"))
                                  << Kind::DataCorrupted << QStringLiteral("localLibraryItemID");
    QTest::newRow("id in braces") << set("localLibraryItemID",
                                         QStringLiteral("{5D2F1B4E-6A7C-4D8E-9F00-112233445566}"))
                                  << Kind::DataCorrupted << QStringLiteral("localLibraryItemID");
    QTest::newRow("negative byte count")
        << set("byteCount", -1) << Kind::DataCorrupted << QStringLiteral("byteCount");
    QTest::newRow("fractional byte count")
        << set("byteCount", 1.5) << Kind::DataCorrupted << QStringLiteral("byteCount");
    QTest::newRow("negative sidecar size")
        << set("sidecarByteCount", -4) << Kind::DataCorrupted << QStringLiteral("sidecarByteCount");
    QTest::newRow("negative part size")
        << set("rawPartSizeBytes", -5) << Kind::DataCorrupted << QStringLiteral("rawPartSizeBytes");
    QTest::newRow("text as byte count") << set("byteCount", QStringLiteral("3000"))
                                        << Kind::TypeMismatch << QStringLiteral("byteCount");
    QTest::newRow("number as preview flag")
        << set("previewUploaded", 1) << Kind::TypeMismatch << QStringLiteral("previewUploaded");
    QTest::newRow("relative preview url")
        << set("previewUploadURL", QStringLiteral("/preview.jpg")) << Kind::DataCorrupted
        << QStringLiteral("previewUploadURL");
    QTest::newRow("file preview url")
        << set("previewUploadURL", QStringLiteral("file:///etc/passwd")) << Kind::DataCorrupted
        << QStringLiteral("previewUploadURL");
    QTest::newRow("part without url")
        << set("rawUploadParts", QJsonArray{QJsonObject{{QStringLiteral("partNumber"), 1}}})
        << Kind::KeyNotFound << QStringLiteral("rawUploadParts[0].url");
    QTest::newRow("part url not http")
        << set("sidecarUploadParts",
               QJsonArray{QJsonObject{{QStringLiteral("partNumber"), 1},
                                      {QStringLiteral("url"), QStringLiteral("ftp://h/x")}}})
        << Kind::DataCorrupted << QStringLiteral("sidecarUploadParts[0].url");
    QTest::newRow("part number 0")
        << set("rawUploadParts",
               QJsonArray{QJsonObject{{QStringLiteral("partNumber"), 0},
                                      {QStringLiteral("url"), signedURL(QStringLiteral("p"))}}})
        << Kind::DataCorrupted << QStringLiteral("rawUploadParts[0].partNumber");
    QTest::newRow("uploaded part without etag")
        << set("uploadedRawParts", QJsonArray{QJsonObject{{QStringLiteral("part_number"), 1}}})
        << Kind::KeyNotFound << QStringLiteral("uploadedRawParts[0].etag");
    QTest::newRow("uploaded part number negative")
        << set("uploadedSidecarParts", uploadedParts({{-2, u"\"x\""_s}})) << Kind::DataCorrupted
        << QStringLiteral("uploadedSidecarParts[0].part_number");
    QTest::newRow("parts not an array") << set("rawUploadParts", QJsonObject())
                                        << Kind::TypeMismatch << QStringLiteral("rawUploadParts");
    QTest::newRow("completed flag as text")
        << set("sidecarUploadCompleted", QStringLiteral("true")) << Kind::TypeMismatch
        << QStringLiteral("sidecarUploadCompleted");
}

void StagedImportRecordTests::readingFails()
{
    QFETCH(Edit, edit);
    QFETCH(DecodingError::Kind, kind);
    QFETCH(QString, keyPath);
    QJsonObject object = toJson(uploadingRecord());
    edit(object);
    const Result<StagedImportRecord> read = readBack(object);
    QVERIFY(!read);
    const DecodingError *error = read.error().as<DecodingError>();
    QVERIFY2(error, qPrintable(describe(read.error())));
    QCOMPARE(error->keyPath, keyPath);
    QCOMPARE(error->kind, kind);
}

void StagedImportRecordTests::transitions_data()
{
    QTest::addColumn<StagedImportRecord>("before");
    QTest::addColumn<Change>("change");
    QTest::addColumn<StagedImportRecord>("expected");

    const StagedImportRecord prepared = preparedRecord();
    const StagedImportRecord uploading = uploadingRecord();
    const auto withSidecar = authorization(QStringLiteral("raw-1"), 1000, true, true);
    const auto sameIdNoExtras = authorization(QStringLiteral("raw-1"), 1000, false, false);

    {
        StagedImportRecord expected = prepared;
        expected.backendLibraryItemID = 41;
        expected.multipartUpload = MultipartUploadState::starting(withSidecar.rawOriginalUpload);
        expected.sidecarMultipartUpload
            = MultipartUploadState::starting(*withSidecar.sidecarUpload);
        expected.previewUploadURL = withSidecar.previewUpload->url;
        expected.previewUploaded = false;
        expected.phase = StagedImportPhase::Uploading;
        QTest::newRow("first authorization") << prepared << Change([=](const auto &r) {
            return r.replacingAuthorization(withSidecar);
        }) << expected;
    }
    {
        StagedImportRecord expected = uploading;
        expected.sidecarMultipartUpload.reset();
        expected.previewUploadURL.reset();
        expected.previewUploaded = true;
        QTest::newRow("authorization without sidecar drops its state")
            << uploading
            << Change([=](const auto &r) { return r.replacingAuthorization(sameIdNoExtras); })
            << expected;
    }
    const StagedImportRecord previewSent = uploading.markingPreviewUploaded();
    QTest::newRow("replace keeps an uploaded preview") << previewSent << Change([=](const auto &r) {
        return r.replacingAuthorization(withSidecar);
    }) << previewSent;
    {
        StagedImportRecord expected = previewSent;
        expected.previewUploaded = false;
        QTest::newRow("restart sends the preview again")
            << previewSent
            << Change([=](const auto &r) { return r.restartingAuthorization(withSidecar); })
            << expected;
    }
    {
        StagedImportRecord noPreview = prepared;
        noPreview.previewRelativePath.reset();
        StagedImportRecord expected = noPreview.restartingAuthorization(withSidecar);
        QVERIFY(expected.previewUploaded);
        QTest::newRow("restart without a preview needs none")
            << noPreview
            << Change([=](const auto &r) { return r.restartingAuthorization(withSidecar); })
            << expected;
    }
    {
        StagedImportRecord expected = uploading;
        expected.multipartUpload = MultipartUploadState::starting(
            authorization(QStringLiteral("raw-2"), 1000, true, true).rawOriginalUpload);
        expected.sidecarMultipartUpload = MultipartUploadState::starting(
            *authorization(QStringLiteral("raw-2"), 1000, true, true).sidecarUpload);
        QTest::newRow("new upload ids start afresh") << uploading << Change([](const auto &r) {
            return r.replacingAuthorization(
                authorization(QStringLiteral("raw-2"), 1000, true, true));
        }) << expected;
    }
    {
        StagedImportRecord expected = uploading;
        expected.multipartUpload->authorizedParts = {{1, QStringLiteral("https://h/1")}};
        QTest::newRow("same id and size keeps the parts") << uploading << Change([](const auto &r) {
            VerifiedBackupUploadAuthorization a
                = authorization(QStringLiteral("raw-1"), 1000, true, true);
            a.rawOriginalUpload.parts = {{1, QStringLiteral("https://h/1")}};
            return r.replacingAuthorization(a);
        }) << expected;
    }
    {
        StagedImportRecord expected = prepared;
        expected.backendLibraryItemID = 9;
        expected.previewUploaded = true;
        expected.phase = StagedImportPhase::Duplicate;
        QTest::newRow("duplicate drops states and preview url")
            << uploading << Change([](const auto &r) { return r.markingDuplicate(9); }) << expected;
    }
    for (const auto &[name, change] : QList<std::pair<const char *, Change>>{
             {"raw part",
              [](const auto &r) {
                  return r.markingRawPartUploaded({1, u"e"_s});
              }},
             {"sidecar part",
              [](const auto &r) {
                  return r.markingSidecarPartUploaded({1, u"e"_s});
              }},
             {"raw completion", [](const auto &r) { return r.markingRawUploadCompleted(); }},
             {"sidecar completion",
              [](const auto &r) { return r.markingSidecarUploadCompleted(); }}}) {
        QTest::addRow("%s without state changes nothing", name) << prepared << change << prepared;
    }
    {
        StagedImportRecord expected = uploading;
        expected.multipartUpload->uploadedParts = {{2, QStringLiteral("\"e2\"")},
                                                   {1, QStringLiteral("\"e1\"")},
                                                   {3, QStringLiteral("\"e3\"")}};
        QTest::newRow("raw part recorded") << uploading << Change([](const auto &r) {
            return r.markingRawPartUploaded({3, QStringLiteral("\"e3\"")});
        }) << expected;
        StagedImportRecord completed = uploading;
        completed.sidecarMultipartUpload->isCompleted = true;
        QTest::newRow("sidecar completed")
            << uploading << Change([](const auto &r) { return r.markingSidecarUploadCompleted(); })
            << completed;
    }
    {
        StagedImportRecord expected = prepared;
        expected.previewUploaded = true;
        expected.phase = StagedImportPhase::Uploading;
        QTest::newRow("preview uploaded")
            << prepared << Change([](const auto &r) { return r.markingPreviewUploaded(); })
            << expected;
        StagedImportRecord uploaded = uploading;
        uploaded.phase = StagedImportPhase::Uploaded;
        QTest::newRow("uploaded") << uploading
                                  << Change([](const auto &r) { return r.markingUploaded(); })
                                  << uploaded;
        StagedImportRecord verified = uploading;
        verified.phase = StagedImportPhase::VerifiedBackup;
        QTest::newRow("terminal") << uploading << Change([](const auto &r) {
            return r.markingTerminal(StagedImportPhase::VerifiedBackup);
        }) << verified;
    }
}

void StagedImportRecordTests::transitions()
{
    QFETCH(StagedImportRecord, before);
    QFETCH(Change, change);
    QFETCH(StagedImportRecord, expected);
    const StagedImportRecord copy = before;
    QCOMPARE(change(before), expected);
    QCOMPARE(before, copy);
}

void StagedImportRecordTests::uploadRequest_data()
{
    QTest::addColumn<StagedImportRecord>("record");
    QTest::addColumn<std::optional<VerifiedBackupSidecar>>("sidecar");

    const StagedImportRecord prepared = preparedRecord();
    QTest::newRow("name and hash") << prepared
                                   << std::optional(VerifiedBackupSidecar{
                                          QStringLiteral("IMG_0001.xmp"), 40, QString(64, u'b')});
    StagedImportRecord noHash = prepared;
    noHash.sidecarContentHash.reset();
    QTest::newRow("name without hash") << noHash << std::optional<VerifiedBackupSidecar>();
    StagedImportRecord noName = prepared;
    noName.sidecarFilename.reset();
    QTest::newRow("hash without name") << noName << std::optional<VerifiedBackupSidecar>();
}

void StagedImportRecordTests::uploadRequest()
{
    QFETCH(StagedImportRecord, record);
    QFETCH(std::optional<VerifiedBackupSidecar>, sidecar);
    const VerifiedBackupUploadRequest request = record.uploadRequest();
    QCOMPARE(request.originalFilename, record.originalFilename);
    QCOMPARE(request.canonicalFilename, record.canonicalFilename);
    QCOMPARE(request.byteCount, record.byteCount);
    QCOMPARE(request.contentHash, record.contentHash);
    QCOMPARE(request.previewByteCount, record.previewByteCount);
    QCOMPARE(request.importSourceName, record.importSourceName);
    QCOMPARE(request.sourceRelativePath, record.sourceRelativePath);
    QCOMPARE(request.cacheRelativePath, record.cacheRelativePath);
    QCOMPARE(request.reservationID, record.importCapacityReservationID);
    QVERIFY(request.sidecar == sidecar);
}

QTEST_GUILESS_MAIN(StagedImportRecordTests)
#include "StagedImportRecordTests.moc"
