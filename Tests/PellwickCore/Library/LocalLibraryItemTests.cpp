#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Support/Json.h>

#include <QTest>

#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;

class LocalLibraryItemTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recordWithoutOptionalsWritesEightKeys();
    void filledRecordRoundTripsThroughText_data();
    void filledRecordRoundTripsThroughText();
    void statusRawValues_data();
    void statusRawValues();
    void nullOptionalReadsAsAbsent_data();
    void nullOptionalReadsAsAbsent();
    void refusesHostileValues_data();
    void refusesHostileValues();
    void safeToEraseSourceMedia_data();
    void safeToEraseSourceMedia();
    void everyFieldTakesPartInEquality_data();
    void everyFieldTakesPartInEquality();
};

namespace {

const QString recordPath = QStringLiteral("[3]");

QJsonObject minimalJson()
{
    return minimalLibraryItem(7).toJson();
}

Result<LocalLibraryItem> decodeText(const QByteArray &text)
{
    PELLWICK_TRY_ASSIGN(QJsonValue value, Json::parseValue(text));
    return LocalLibraryItem::fromJson(value, recordPath);
}

} // namespace

void LocalLibraryItemTests::recordWithoutOptionalsWritesEightKeys()
{
    const LocalLibraryItem item = minimalLibraryItem(7);
    const QJsonObject json = item.toJson();
    QCOMPARE(json.keys(),
             QStringList({QStringLiteral("canonicalFilename"),
                          QStringLiteral("contentHash"),
                          QStringLiteral("id"),
                          QStringLiteral("importDate"),
                          QStringLiteral("importStatus"),
                          QStringLiteral("metadata"),
                          QStringLiteral("originalFilename"),
                          QStringLiteral("preview")}));
    QCOMPARE(json.value(QStringLiteral("id")).toString(),
             item.id.toString(QUuid::WithoutBraces).toUpper());
    QCOMPARE(json.value(QStringLiteral("preview")).toObject(),
             QJsonObject({{QStringLiteral("failed"),
                           QJsonObject{{QStringLiteral("reason"),
                                        QStringLiteral("Generated when Import starts")}}}}));
    const Result<LocalLibraryItem> decoded = LocalLibraryItem::fromJson(json);
    PELLWICK_VERIFY_SUCCESS(decoded);
    QCOMPARE(*decoded, item);
}

void LocalLibraryItemTests::filledRecordRoundTripsThroughText_data()
{
    QTest::addColumn<LocalLibraryItem>("item");
    QTest::addColumn<QByteArray>("urlText");

    LocalLibraryItem spaces = filledLibraryItem(40, QStringLiteral("/home/ana/Ingest Cache"));
    spaces.importDate = Date{7.123456789012345e8};
    spaces.backendLibraryItemID = 9'007'199'254'740'993LL; // beyond a double's exact integers
    QTest::newRow("spaces, fractional date, large backend id")
        << spaces << QByteArray("file:///home/ana/Ingest%20Cache/2024/");

    LocalLibraryItem nonAscii = filledLibraryItem(45, QStringLiteral("/home/zoë/Fotos Übersicht"));
    nonAscii.originalFilename = QStringLiteral("Köln_北京_0001.NEF");
    nonAscii.ingestCacheOriginalURL = QStringLiteral("/home/zoë/Fotos Übersicht/Köln #1?.NEF");
    nonAscii.preview = LocalPreviewState::failed(QStringLiteral("Preview needs refresh"));
    nonAscii.metadata = PhotoMetadata::unknown();
    nonAscii.sourceMediaEvidence->sourceIdentity = ImportSourceIdentity::folder(
        QStringLiteral("/home/zoë/Card"), QString(64, QLatin1Char('c')));
    QTest::newRow("non-ASCII paths, reserved URL characters")
        << nonAscii << QByteArray("file:///home/zo%C3%AB/Fotos%20%C3%9Cbersicht/");
}

void LocalLibraryItemTests::filledRecordRoundTripsThroughText()
{
    QFETCH(LocalLibraryItem, item);
    QFETCH(QByteArray, urlText);

    const Result<QByteArray> text = Json::serialize(item.toJson(), Json::Format::Pretty);
    PELLWICK_VERIFY_SUCCESS(text);
    QVERIFY2(text->contains(urlText), text->constData());
    QCOMPARE(item.toJson().size(), 22);
    const Result<LocalLibraryItem> decoded = decodeText(*text);
    PELLWICK_VERIFY_SUCCESS(decoded);
    QCOMPARE(*decoded, item);
    QCOMPARE(decoded->importDate.secondsSinceReferenceDate,
             item.importDate.secondsSinceReferenceDate);
}

void LocalLibraryItemTests::statusRawValues_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<int>("status"); // -1: no status

    QTest::newRow("localCacheReady") << "staging" << int(LibraryItemImportStatus::LocalCacheReady);
    QTest::newRow("uploading") << "uploading" << int(LibraryItemImportStatus::Uploading);
    QTest::newRow("verifying") << "verifying" << int(LibraryItemImportStatus::Verifying);
    QTest::newRow("verifiedBackup")
        << "verifiedBackup" << int(LibraryItemImportStatus::VerifiedBackup);
    QTest::newRow("cleanupPending")
        << "cleanupPending" << int(LibraryItemImportStatus::CleanupPending);
    QTest::newRow("needsAttention")
        << "needsAttention" << int(LibraryItemImportStatus::NeedsAttention);
    QTest::newRow("duplicate") << "duplicate" << int(LibraryItemImportStatus::Duplicate);
    QTest::newRow("case name of the first case") << "localCacheReady" << -1;
    QTest::newRow("other case") << "Duplicate" << -1;
    QTest::newRow("backend word") << "needs_attention" << -1;
    QTest::newRow("padded") << "staging " << -1;
}

void LocalLibraryItemTests::statusRawValues()
{
    QFETCH(QString, raw);
    QFETCH(int, status);

    QCOMPARE(allLibraryItemImportStatuses().size(), 7);
    QJsonObject json = minimalJson();
    json.insert(QStringLiteral("importStatus"), raw);
    const Result<LocalLibraryItem> decoded = LocalLibraryItem::fromJson(json, recordPath);
    if (status < 0) {
        QVERIFY(!libraryItemImportStatusFromRaw(raw));
        QVERIFY(!decoded);
        QCOMPARE(decoded.error().as<DecodingError>()->keyPath, QStringLiteral("[3].importStatus"));
        return;
    }
    const auto expected = static_cast<LibraryItemImportStatus>(status);
    QCOMPARE(allLibraryItemImportStatuses().at(status), expected);
    QCOMPARE(toRaw(expected), raw);
    PELLWICK_VERIFY_SUCCESS(decoded);
    QCOMPARE(decoded->importStatus, expected);
    QCOMPARE(decoded->toJson().value(QStringLiteral("importStatus")).toString(), raw);
}

void LocalLibraryItemTests::nullOptionalReadsAsAbsent_data()
{
    QTest::addColumn<QString>("key");
    for (const char *key : {"archiveByteCount",
                            "archiveSidecarFilename",
                            "archiveSidecarByteCount",
                            "archiveSidecarContentHash",
                            "backendLibraryItemID",
                            "restoreStatus",
                            "restoreAttentionReason",
                            "ingestCacheOriginalURL",
                            "ingestCacheSidecarURL",
                            "ingestCacheSidecarContentHash",
                            "ingestSourceName",
                            "sourceRelativePath",
                            "sourceMediaEvidence",
                            "cacheRelativePath"})
        QTest::newRow(key) << QString::fromLatin1(key);
}

void LocalLibraryItemTests::nullOptionalReadsAsAbsent()
{
    QFETCH(QString, key);
    QJsonObject json = filledLibraryItem(5).toJson();
    QVERIFY(json.contains(key));
    json.insert(key, QJsonValue::Null);
    json.insert(QStringLiteral("someFutureKey"), 12);
    const Result<LocalLibraryItem> decoded = LocalLibraryItem::fromJson(json);
    PELLWICK_VERIFY_SUCCESS(decoded);
    const QJsonObject again = decoded->toJson();
    QVERIFY(!again.contains(key));
    QCOMPARE(again.size(), 21);
    json.remove(key);
    QCOMPARE(LocalLibraryItem::fromJson(json).value(), *decoded);
}

void LocalLibraryItemTests::refusesHostileValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("value"); // JSON text; empty removes the key
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("keyPath");
    QTest::addColumn<QString>("description"); // empty: not compared

    using Kind = DecodingError::Kind;
    const QString invalidKeys = QStringLiteral("Invalid number of keys found, expected one.");
    QTest::newRow("no preview") << "preview" << QByteArray() << int(Kind::KeyNotFound)
                                << "[3].preview" << QString();
    QTest::newRow("no metadata") << "metadata" << QByteArray() << int(Kind::KeyNotFound)
                                 << "[3].metadata" << QString();
    QTest::newRow("no id") << "id" << QByteArray() << int(Kind::KeyNotFound) << "[3].id"
                           << QString();
    QTest::newRow("null content hash")
        << "contentHash" << QByteArray("null") << int(Kind::ValueNotFound) << "[3].contentHash"
        << QString();
    QTest::newRow("empty preview")
        << "preview" << QByteArray("{}") << int(Kind::TypeMismatch) << "[3].preview" << invalidKeys;
    QTest::newRow("preview with both keys")
        << "preview"
        << QByteArray(R"({"available":{"relativePath":"previews/a.jpg"},"failed":{"reason":"x"}})")
        << int(Kind::TypeMismatch) << "[3].preview" << invalidKeys;
    QTest::newRow("preview payload without path")
        << "preview" << QByteArray(R"({"available":{}})") << int(Kind::KeyNotFound)
        << "[3].preview.available.relativePath" << QString();
    QTest::newRow("preview as text") << "preview" << QByteArray(R"("available")")
                                     << int(Kind::TypeMismatch) << "[3].preview" << QString();
    QTest::newRow("name as number")
        << "originalFilename" << QByteArray("42") << int(Kind::TypeMismatch)
        << "[3].originalFilename" << QString();
    QTest::newRow("date as text") << "importDate" << QByteArray(R"("2024-01-01")")
                                  << int(Kind::TypeMismatch) << "[3].importDate" << QString();
    QTest::newRow("byte count with fraction")
        << "archiveByteCount" << QByteArray("12.5") << int(Kind::DataCorrupted)
        << "[3].archiveByteCount" << QString();
    QTest::newRow("byte count beyond 64 bits")
        << "archiveByteCount" << QByteArray("1e19") << int(Kind::DataCorrupted)
        << "[3].archiveByteCount" << QString();
    QTest::newRow("backend id as text")
        << "backendLibraryItemID" << QByteArray(R"("17")") << int(Kind::TypeMismatch)
        << "[3].backendLibraryItemID" << QString();
    QTest::newRow("unknown restore status")
        << "restoreStatus" << QByteArray(R"("needsAttention")") << int(Kind::DataCorrupted)
        << "[3].restoreStatus" << QString();
    QTest::newRow("id not a UUID") << "id" << QByteArray(R"("not-a-uuid")")
                                   << int(Kind::DataCorrupted) << "[3].id" << QString();
    QTest::newRow("id in braces") << "id"
                                  << QByteArray(R"("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")")
                                  << int(Kind::DataCorrupted) << "[3].id" << QString();
    QTest::newRow("http URL") << "ingestCacheOriginalURL"
                              << QByteArray(R"("http://example.invalid/a.CR3")")
                              << int(Kind::DataCorrupted) << "[3].ingestCacheOriginalURL"
                              << QString();
    QTest::newRow("relative reference")
        << "ingestCacheSidecarURL" << QByteArray(R"("cache/a.xmp")") << int(Kind::DataCorrupted)
        << "[3].ingestCacheSidecarURL" << QString();
    QTest::newRow("file URL with host")
        << "ingestCacheOriginalURL" << QByteArray(R"("file://server/share/a.CR3")")
        << int(Kind::DataCorrupted) << "[3].ingestCacheOriginalURL" << QString();
    QTest::newRow("file URL with NUL")
        << "ingestCacheOriginalURL" << QByteArray(R"("file:///cache/a%00.CR3")")
        << int(Kind::DataCorrupted) << "[3].ingestCacheOriginalURL" << QString();
    QTest::newRow("URL as number")
        << "ingestCacheOriginalURL" << QByteArray("1") << int(Kind::TypeMismatch)
        << "[3].ingestCacheOriginalURL" << QString();
    QTest::newRow("evidence as array")
        << "sourceMediaEvidence" << QByteArray("[]") << int(Kind::TypeMismatch)
        << "[3].sourceMediaEvidence" << QString();
    QTest::newRow("evidence with http root")
        << "sourceMediaEvidence"
        << QByteArray(
               R"({"sourceRootURL":"http://x/","sourceIdentity":{"volume":{"uuid":"A"}},"rawRelativePath":"a","rawContentHash":"b","safety":"current"})")
        << int(Kind::DataCorrupted) << "[3].sourceMediaEvidence.sourceRootURL" << QString();
}

void LocalLibraryItemTests::refusesHostileValues()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, value);
    QFETCH(int, kind);
    QFETCH(QString, keyPath);
    QFETCH(QString, description);

    QJsonObject json = minimalJson();
    if (value.isEmpty()) {
        json.remove(key);
    } else {
        const Result<QJsonValue> parsed = Json::parseValue(value);
        PELLWICK_VERIFY_SUCCESS(parsed);
        json.insert(key, *parsed);
    }
    const Result<LocalLibraryItem> decoded = LocalLibraryItem::fromJson(json, recordPath);
    QVERIFY(!decoded);
    const auto *error = decoded.error().as<DecodingError>();
    QVERIFY2(error, qPrintable(describe(decoded.error())));
    QCOMPARE(int(error->kind), kind);
    QCOMPARE(error->keyPath, keyPath);
    if (!description.isEmpty())
        QCOMPARE(error->description, description);
}

void LocalLibraryItemTests::safeToEraseSourceMedia_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("evidence"); // 0 none, 1 current, 2 changed
    // How the evidence and the archive differ: "" not at all, else the changes made to a record
    // whose evidence names its RAW original and sidecar.
    QTest::addColumn<QString>("difference");
    QTest::addColumn<bool>("safe");

    using S = LibraryItemImportStatus;
    const int verified = int(S::VerifiedBackup);
    QTest::newRow("verified, no evidence") << verified << 0 << QString() << true;
    QTest::newRow("verified, current") << verified << 1 << QString() << true;
    QTest::newRow("verified, changed") << verified << 2 << QString() << false;
    for (const S status : {S::LocalCacheReady,
                           S::Uploading,
                           S::Verifying,
                           S::CleanupPending,
                           S::NeedsAttention,
                           S::Duplicate}) {
        for (int evidence : {0, 1, 2}) {
            QTest::addRow("%s, evidence %d", qPrintable(toRaw(status)), evidence)
                << int(status) << evidence << QString() << false;
        }
    }

    // Evidence of other bytes than the archived ones vouches for nothing.
    QTest::newRow("source held other RAW bytes") << verified << 1 << "raw other" << false;
    QTest::newRow("source RAW hash in capitals") << verified << 1 << "raw upper" << true;
    QTest::newRow("source sidecar not archived") << verified << 1 << "archive none" << false;
    QTest::newRow("another sidecar archived") << verified << 1 << "archive other" << false;
    QTest::newRow("archived sidecar hash in capitals") << verified << 1 << "archive upper" << true;
    QTest::newRow("source sidecar path without hash")
        << verified << 1 << "evidence nohash" << false;
    QTest::newRow("source sidecar hash without path, archived")
        << verified << 1 << "evidence nopath" << true;
    QTest::newRow("no source sidecar, one archived") << verified << 1 << "evidence none" << true;
    QTest::newRow("no sidecar anywhere") << verified << 1 << "evidence none,archive none" << true;
    QTest::newRow("other RAW bytes, no evidence of a sidecar")
        << verified << 1 << "evidence none,raw other" << false;
    QTest::newRow("sidecar not archived, evidence changed")
        << verified << 2 << "archive none" << false;
    QTest::newRow("duplicate whose evidence is the archive's")
        << int(S::Duplicate) << 1 << "archive upper" << false;
}

void LocalLibraryItemTests::safeToEraseSourceMedia()
{
    QFETCH(int, status);
    QFETCH(int, evidence);
    QFETCH(QString, difference);
    QFETCH(bool, safe);

    LocalLibraryItem item = filledLibraryItem(1);
    item.importStatus = static_cast<LibraryItemImportStatus>(status);
    QVERIFY(item.sourceMediaEvidence->sidecarContentHash == item.archiveSidecarContentHash);
    QCOMPARE(item.sourceMediaEvidence->rawContentHash, item.contentHash);
    for (const QString &change : difference.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        SourceMediaEvidence &recorded = *item.sourceMediaEvidence;
        if (change == QStringLiteral("raw other"))
            recorded.rawContentHash = QString(64, QLatin1Char('e'));
        else if (change == QStringLiteral("raw upper"))
            recorded.rawContentHash = recorded.rawContentHash.toUpper();
        else if (change == QStringLiteral("archive none"))
            item = item.replacingArchiveSidecar(std::nullopt, std::nullopt, std::nullopt);
        else if (change == QStringLiteral("archive other"))
            item.archiveSidecarContentHash = QString(64, QLatin1Char('d'));
        else if (change == QStringLiteral("archive upper"))
            item.archiveSidecarContentHash = item.archiveSidecarContentHash->toUpper();
        else if (change == QStringLiteral("evidence nohash"))
            recorded.sidecarContentHash.reset();
        else if (change == QStringLiteral("evidence nopath"))
            recorded.sidecarRelativePath.reset();
        else if (change == QStringLiteral("evidence none"))
            recorded.sidecarRelativePath = recorded.sidecarContentHash = std::nullopt;
        else
            QFAIL(qPrintable(change));
    }
    if (evidence == 0)
        item.sourceMediaEvidence.reset();
    else
        item.sourceMediaEvidence->safety
            = evidence == 2 ? SourceMediaSafety::Changed : SourceMediaSafety::Current;
    QCOMPARE(item.isSafeToEraseSourceMedia(), safe);
}

void LocalLibraryItemTests::everyFieldTakesPartInEquality_data()
{
    QTest::addColumn<LocalLibraryItem>("changed");
    const LocalLibraryItem base = filledLibraryItem(2);
    LocalLibraryItem item = base;
    item.preview = LocalPreviewState::failed(QStringLiteral("Preview needs refresh"));
    QTest::newRow("preview") << item;
    item = base;
    item.ingestCacheSidecarContentHash = QString(64, QLatin1Char('0'));
    QTest::newRow("cached sidecar hash") << item;
    item = base;
    item.archiveSidecarContentHash.reset();
    QTest::newRow("archived sidecar hash") << item;
    item = base;
    item.importDate = item.importDate.addingSeconds(0.001);
    QTest::newRow("import date") << item;
    item = base;
    item.sourceMediaEvidence->safety = SourceMediaSafety::Changed;
    item.sourceMediaEvidence = base.markingSourceMediaChanged().sourceMediaEvidence;
    QTest::newRow("evidence safety") << item;
}

void LocalLibraryItemTests::everyFieldTakesPartInEquality()
{
    QFETCH(LocalLibraryItem, changed);
    QVERIFY(!(changed == filledLibraryItem(2)));
}

QTEST_GUILESS_MAIN(LocalLibraryItemTests)
#include "LocalLibraryItemTests.moc"
