#include <PellwickCore/Restore/RestoreTransferManifest.h>
#include <PellwickCore/Support/Json.h>

#include <QJsonDocument>
#include <QTest>

#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(DecodingError::Kind)

namespace {

/// 2026-01-01 00:00:00.25 UTC, as seconds since 2001.
const Date knownInstant = Date::fromUnixSeconds(1'767'225'600.25);

RestoreTransferManifest sampleManifest()
{
    RestoreTransferManifest manifest;
    manifest.id = {12, 345, RestoreTransferArtifact::Sidecar};
    manifest.canonicalFilename = u"2026-01-01 Ålesund #1.xmp"_s;
    manifest.destinationPath = u"/home/user/Restored Photos/2026-01-01 Ålesund #1.xmp"_s;
    manifest.expectedByteCount = 33'554'433;
    manifest.expectedContentHash = u"ABCdef0123"_s;
    // A presigned URL whose escapes must survive as they are.
    manifest.transferURL = u"https://store.example/o/a%2Fb?X-Sig=a%2F%2B%3D&e=1"_s;
    manifest.capabilityExpiresAt = knownInstant;
    manifest.completedRanges = {{16'777'216, 33'554'431}, {0, 16'777'215}, {5, 3}};
    manifest.isComplete = true;
    return manifest;
}

QJsonObject sampleObject()
{
    return QJsonDocument::fromJson(*sampleManifest().encoded()).object();
}

/// `object` with the value at the dotted `path` replaced, or removed when `value` is undefined.
QJsonObject patched(QJsonObject object, const QString &path, const QJsonValue &value)
{
    const qsizetype dot = path.indexOf(u'.');
    if (dot >= 0) {
        const QString head = path.left(dot);
        if (head == u"completedRanges"_s) {
            QJsonArray ranges = object.value(head).toArray();
            ranges[0] = patched(ranges.at(0).toObject(), path.mid(dot + 1), value);
            object.insert(head, ranges);
        } else {
            object.insert(head, patched(object.value(head).toObject(), path.mid(dot + 1), value));
        }
        return object;
    }
    if (value.isUndefined())
        object.remove(path);
    else
        object.insert(path, value);
    return object;
}

} // namespace

class RestoreTransferManifestTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writtenManifestReadsBackEqual();
    void keysAreWrittenSortedAndAlways();
    void decodingRules_data();
    void decodingRules();
    void damagedFilesFailWithTheirKeyPath_data();
    void damagedFilesFailWithTheirKeyPath();
};

void RestoreTransferManifestTests::writtenManifestReadsBackEqual()
{
    for (bool complete : {false, true}) {
        RestoreTransferManifest manifest = sampleManifest();
        manifest.isComplete = complete;
        if (!complete)
            manifest.assemblyPath = u"/home/user/Restored Photos/.a #1.xmp.tmp-X"_s;
        Result<QByteArray> data = manifest.encoded();
        PELLWICK_VERIFY_SUCCESS(data);
        Result<RestoreTransferManifest> read = RestoreTransferManifest::decode(*data);
        PELLWICK_VERIFY_SUCCESS(read);
        QCOMPARE(*read, manifest);
        QCOMPARE(read->capabilityExpiresAt.secondsSinceReferenceDate,
                 knownInstant.secondsSinceReferenceDate);
    }
}

void RestoreTransferManifestTests::keysAreWrittenSortedAndAlways()
{
    RestoreTransferManifest manifest = sampleManifest();
    manifest.completedRanges.clear();
    manifest.isComplete = false;
    const QByteArray data = *manifest.encoded();
    const QList<QByteArray> keys{"canonicalFilename",
                                 "capabilityExpiresAt",
                                 "completedRanges",
                                 "destinationURL",
                                 "expectedByteCount",
                                 "expectedContentHash",
                                 "\"id\"",
                                 "isComplete",
                                 "transferURL"};
    qsizetype previous = -1;
    for (const QByteArray &key : keys) {
        const qsizetype at = data.indexOf(key);
        QVERIFY2(at > previous, key.constData());
        previous = at;
    }
    QVERIFY2(data.contains('\n'), "pretty-printed");

    const QJsonObject object = QJsonDocument::fromJson(data).object();
    QCOMPARE(object.size(), 9);
    QCOMPARE(object.value(u"capabilityExpiresAt"_s).toDouble(), 788'918'400.25);
    QCOMPARE(object.value(u"completedRanges"_s).toArray(), QJsonArray());
    QCOMPARE(object.value(u"isComplete"_s).toBool(true), false);
    QCOMPARE(object.value(u"transferURL"_s).toString(), manifest.transferURL);
    QCOMPARE(object.value(u"destinationURL"_s).toString(),
             u"file:///home/user/Restored%20Photos/2026-01-01%20%C3%85lesund%20%231.xmp"_s);
    QCOMPARE(object.value(u"id"_s).toObject().value(u"artifact"_s).toString(), u"sidecar"_s);
}

void RestoreTransferManifestTests::decodingRules_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<bool>("decodes");
    QTest::addColumn<DecodingError::Kind>("kind");
    QTest::addColumn<QString>("keyPath");

    const QJsonValue removed(QJsonValue::Undefined);
    using K = DecodingError::Kind;
    QTest::newRow("no artifact reads as raw")
        << u"id.artifact"_s << removed << true << K{} << QString();
    QTest::newRow("bad artifact") << u"id.artifact"_s << QJsonValue(u"xmp"_s) << false
                                  << K::DataCorrupted << u"id.artifact"_s;
    QTest::newRow("artifact of another case") << u"id.artifact"_s << QJsonValue(u"RAW"_s) << false
                                              << K::DataCorrupted << u"id.artifact"_s;
    QTest::newRow("no completedRanges")
        << u"completedRanges"_s << removed << false << K::KeyNotFound << u"completedRanges"_s;
    QTest::newRow("empty completedRanges")
        << u"completedRanges"_s << QJsonValue(QJsonArray()) << true << K{} << QString();
    QTest::newRow("extra key ignored")
        << u"resumeToken"_s << QJsonValue(u"x"_s) << true << K{} << QString();
    QTest::newRow("fractional integer") << u"expectedByteCount"_s << QJsonValue(1.5) << false
                                        << K::DataCorrupted << u"expectedByteCount"_s;
    QTest::newRow("whole double as integer")
        << u"expectedByteCount"_s << QJsonValue(7.0) << true << K{} << QString();
    QTest::newRow("range without start") << u"completedRanges.start"_s << removed << false
                                         << K::KeyNotFound << u"completedRanges[0].start"_s;
    QTest::newRow("range end as string")
        << u"completedRanges.endInclusive"_s << QJsonValue(u"9"_s) << false << K::TypeMismatch
        << u"completedRanges[0].endInclusive"_s;
    QTest::newRow("no request id") << u"id.restoreRequestID"_s << removed << false << K::KeyNotFound
                                   << u"id.restoreRequestID"_s;
    QTest::newRow("complete as number")
        << u"isComplete"_s << QJsonValue(1) << false << K::TypeMismatch << u"isComplete"_s;
    QTest::newRow("expiry as string") << u"capabilityExpiresAt"_s << QJsonValue(u"2026"_s) << false
                                      << K::TypeMismatch << u"capabilityExpiresAt"_s;
    QTest::newRow("no transferURL")
        << u"transferURL"_s << removed << false << K::KeyNotFound << u"transferURL"_s;
    QTest::newRow("destination not a file URL")
        << u"destinationURL"_s << QJsonValue(u"https://example.com/a.CR3"_s) << false
        << K::DataCorrupted << u"destinationURL"_s;
    QTest::newRow("assembly file named")
        << u"assemblyURL"_s << QJsonValue(u"file:///home/user/.a.CR3.tmp-1"_s) << true << K{}
        << QString();
    QTest::newRow("assembly file null")
        << u"assemblyURL"_s << QJsonValue(QJsonValue::Null) << true << K{} << QString();
    QTest::newRow("assembly file not a file URL")
        << u"assemblyURL"_s << QJsonValue(u"https://example.com/a"_s) << false << K::DataCorrupted
        << u"assemblyURL"_s;
    QTest::newRow("assembly file as number")
        << u"assemblyURL"_s << QJsonValue(3) << false << K::TypeMismatch << u"assemblyURL"_s;
    QTest::newRow("null hash") << u"expectedContentHash"_s << QJsonValue(QJsonValue::Null) << false
                               << K::ValueNotFound << u"expectedContentHash"_s;
}

void RestoreTransferManifestTests::decodingRules()
{
    QFETCH(QString, path);
    QFETCH(QJsonValue, value);
    QFETCH(bool, decodes);
    QFETCH(DecodingError::Kind, kind);
    QFETCH(QString, keyPath);

    const QByteArray data = QJsonDocument(patched(sampleObject(), path, value)).toJson();
    Result<RestoreTransferManifest> read = RestoreTransferManifest::decode(data);
    if (decodes) {
        PELLWICK_VERIFY_SUCCESS(read);
        if (path == u"id.artifact"_s)
            QCOMPARE(read->id.artifact, RestoreTransferArtifact::Raw);
        if (path == u"completedRanges"_s)
            QVERIFY(read->completedRanges.isEmpty());
        if (path == u"expectedByteCount"_s)
            QCOMPARE(read->expectedByteCount, qint64(7));
        if (path == u"assemblyURL"_s)
            QCOMPARE(read->assemblyPath, value.isNull() ? QString() : u"/home/user/.a.CR3.tmp-1"_s);
        // Unordered, overlapping and reversed ranges are not checked.
        if (path != u"completedRanges"_s)
            QCOMPARE(read->completedRanges, sampleManifest().completedRanges);
        return;
    }
    QVERIFY(!read);
    const DecodingError *error = read.error().as<DecodingError>();
    QVERIFY2(error, qPrintable(describe(read.error())));
    QCOMPARE(error->kind, kind);
    QCOMPARE(error->keyPath, keyPath);
}

void RestoreTransferManifestTests::damagedFilesFailWithTheirKeyPath_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<DecodingError::Kind>("kind");

    const QByteArray whole = *sampleManifest().encoded();
    QTest::newRow("truncated") << whole.left(whole.size() / 2)
                               << DecodingError::Kind::DataCorrupted;
    QTest::newRow("empty file") << QByteArray() << DecodingError::Kind::DataCorrupted;
    QTest::newRow("not JSON") << QByteArray("manifest\n") << DecodingError::Kind::DataCorrupted;
    QTest::newRow("an array") << QByteArray("[]") << DecodingError::Kind::TypeMismatch;
    QTest::newRow("ranges not an array")
        << QJsonDocument(patched(QJsonDocument::fromJson(whole).object(),
                                 u"completedRanges"_s,
                                 QJsonObject{}))
               .toJson()
        << DecodingError::Kind::TypeMismatch;
}

void RestoreTransferManifestTests::damagedFilesFailWithTheirKeyPath()
{
    QFETCH(QByteArray, data);
    QFETCH(DecodingError::Kind, kind);
    Result<RestoreTransferManifest> read = RestoreTransferManifest::decode(data);
    QVERIFY(!read);
    const DecodingError *error = read.error().as<DecodingError>();
    QVERIFY2(error, qPrintable(describe(read.error())));
    QCOMPARE(error->kind, kind);
}

QTEST_GUILESS_MAIN(RestoreTransferManifestTests)
#include "RestoreTransferManifestTests.moc"
