#include <PellwickCore/Ingest/Exiv2PhotoMetadataExtractor.h>
#include <PellwickCore/Ingest/ImageLibraries.h>
#include <PellwickCore/Ingest/PhotoMetadata.h>
#include <PellwickCore/Support/Json.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QtEndian>

#include <cmath>
#include <thread>
#include <vector>

#include <Support/DngWriter.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <sys/stat.h>

using namespace Pellwick;
using namespace Pellwick::Test;

class PhotoMetadataTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    // JSON form
    void wrappersWriteOneKeyNamingTheCase();
    void valuesReadBackEqual();
    void wrappersNeedExactlyOneCaseKey_data();
    void wrappersNeedExactlyOneCaseKey();
    void payloadAndFieldFailures_data();
    void payloadAndFieldFailures();
    void equalityRules();

    // Extraction from files
    void captureTimeTakesTheFirstPresentKey_data();
    void captureTimeTakesTheFirstPresentKey();
    void locationAppliesReferencesInAnyCase_data();
    void locationAppliesReferencesInAnyCase();
    void locationNeedsBothCoordinates_data();
    void locationNeedsBothCoordinates();
    void cameraModelIsKeptAsStored_data();
    void cameraModelIsKeptAsStored();
    void formatIsDetectedByContentNotName();
    void unreadableFilesGiveAllUnknown();
    void readsFromManyThreadsAtOnce();
    void craftedBoxFilesGiveUnknownWithoutCrashing_data();
    void craftedBoxFilesGiveUnknownWithoutCrashing();
    void anythingButARegularFileGivesUnknownAtOnce();

private:
    PhotoMetadata extract(const DngOptions &options,
                          const QString &name = QStringLiteral("photo.dng"));

    QTemporaryDir m_dir;
};

namespace {

QJsonValue parsed(const QByteArray &json)
{
    Result<QJsonValue> value = Json::parseValue(json);
    if (!value)
        qFatal("bad fixture %s", json.constData());
    return *value;
}

Date utc(int year, int month, int day, int hour, int minute, int second)
{
    return Date::fromDateTime(
        QDateTime(QDate(year, month, day), QTime(hour, minute, second), QTimeZone::utc()));
}

const PhotoMetadata allKnown{
    CaptureTimeMetadata::known(Date{742000000.25}),
    CaptureLocationMetadata::known({-33.86, 151.21}),
    CameraModelMetadata::known(QStringLiteral(" Alpha Cam R5 ")),
};

} // namespace

void PhotoMetadataTests::initTestCase()
{
    initializeImageLibraries();
    QVERIFY(m_dir.isValid());
}

PhotoMetadata PhotoMetadataTests::extract(const DngOptions &options, const QString &name)
{
    const QString path = m_dir.filePath(name);
    DngWriter::write(path, options);
    Result<PhotoMetadata> metadata = Exiv2PhotoMetadataExtractor().metadata(path);
    if (!metadata)
        qFatal("the extractor must not fail");
    return *metadata;
}

void PhotoMetadataTests::wrappersWriteOneKeyNamingTheCase()
{
    QCOMPARE(CaptureTimeMetadata::known(Date{12.5}).toJson(),
             parsed(R"({"known":{"_0":12.5}})").toObject());
    QCOMPARE(CaptureLocationMetadata::known({1.5, -2}).toJson(),
             parsed(R"({"known":{"_0":{"latitude":1.5,"longitude":-2}}})").toObject());
    QCOMPARE(CameraModelMetadata::known(QStringLiteral("Z 9")).toJson(),
             parsed(R"({"known":{"_0":"Z 9"}})").toObject());
    for (const QJsonObject &unknown : {CaptureTimeMetadata::unknown().toJson(),
                                       CaptureLocationMetadata::unknown().toJson(),
                                       CameraModelMetadata::unknown().toJson()}) {
        QCOMPARE(unknown, parsed(R"({"unknown":{}})").toObject());
    }
    QCOMPARE(PhotoMetadata::unknown().toJson(),
             parsed(R"({"captureTime":{"unknown":{}},"captureLocation":{"unknown":{}},)"
                    R"("cameraModel":{"unknown":{}}})")
                 .toObject());
}

void PhotoMetadataTests::valuesReadBackEqual()
{
    for (const PhotoMetadata &metadata : {PhotoMetadata::unknown(), allKnown}) {
        Result<QByteArray> written = Json::serialize(metadata.toJson(), Json::Format::Pretty);
        QVERIFY(written);
        Result<PhotoMetadata> read = PhotoMetadata::fromJson(parsed(*written));
        PELLWICK_VERIFY_SUCCESS(read);
        QCOMPARE(*read, metadata);
    }
    // Other keys, at every level, are ignored.
    Result<PhotoMetadata> withExtras = PhotoMetadata::fromJson(
        parsed(R"({"captureTime":{"unknown":{"x":1}, "later":2},"captureLocation":{"unknown":{}},)"
               R"("cameraModel":{"known":{"_0":"M","_1":3}},"rating":5})"));
    QVERIFY(withExtras);
    QCOMPARE(withExtras->cameraModel, CameraModelMetadata::known(QStringLiteral("M")));
    QCOMPARE(withExtras->captureTime, CaptureTimeMetadata::unknown());
}

void PhotoMetadataTests::wrappersNeedExactlyOneCaseKey_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("empty object") << QByteArray("{}");
    QTest::newRow("only other keys") << QByteArray(R"({"unknowable":{}})");
    QTest::newRow("both keys") << QByteArray(R"({"known":{"_0":"M"},"unknown":{}})");
}

void PhotoMetadataTests::wrappersNeedExactlyOneCaseKey()
{
    QFETCH(QByteArray, json);
    const QList<Result<void>> reads{
        CameraModelMetadata::fromJson(parsed(json), QStringLiteral("cameraModel")).map([](auto) {}),
        CaptureTimeMetadata::fromJson(parsed(json), QStringLiteral("cameraModel")).map([](auto) {}),
        CaptureLocationMetadata::fromJson(parsed(json), QStringLiteral("cameraModel"))
            .map([](auto) {}),
    };
    for (const Result<void> &read : reads) {
        QVERIFY(!read);
        const auto *error = read.error().as<DecodingError>();
        QVERIFY(error);
        QCOMPARE(error->kind, DecodingError::Kind::TypeMismatch);
        QCOMPARE(error->keyPath, QStringLiteral("cameraModel"));
        QCOMPARE(error->description, QStringLiteral("Invalid number of keys found, expected one."));
    }
}

void PhotoMetadataTests::payloadAndFieldFailures_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<DecodingError::Kind>("kind");
    QTest::addColumn<QString>("keyPath");
    const QByteArray time = R"("captureTime":{"unknown":{}})";
    const QByteArray location = R"("captureLocation":{"unknown":{}})";
    QTest::newRow("unknown is null")
        << QByteArray("{" + time + "," + location + R"(,"cameraModel":{"unknown":null}})")
        << DecodingError::Kind::ValueNotFound << QStringLiteral("cameraModel.unknown");
    QTest::newRow("known without payload")
        << QByteArray("{" + time + "," + location + R"(,"cameraModel":{"known":{}}})")
        << DecodingError::Kind::KeyNotFound << QStringLiteral("cameraModel.known._0");
    QTest::newRow("model not a string")
        << QByteArray("{" + time + "," + location + R"(,"cameraModel":{"known":{"_0":5}}})")
        << DecodingError::Kind::TypeMismatch << QStringLiteral("cameraModel.known._0");
    QTest::newRow("date not a number")
        << QByteArray(R"({"captureTime":{"known":{"_0":"2024"}},)" + location
                      + R"(,"cameraModel":{"unknown":{}}})")
        << DecodingError::Kind::TypeMismatch << QStringLiteral("captureTime.known._0");
    QTest::newRow("location without longitude")
        << QByteArray("{" + time + R"(,"captureLocation":{"known":{"_0":{"latitude":1}}},)"
                      + R"("cameraModel":{"unknown":{}}})")
        << DecodingError::Kind::KeyNotFound << QStringLiteral("captureLocation.known._0.longitude");
    QTest::newRow("missing field")
        << QByteArray("{" + time + "," + location + "}") << DecodingError::Kind::KeyNotFound
        << QStringLiteral("cameraModel");
    QTest::newRow("null field") << QByteArray("{" + time + "," + location
                                              + R"(,"cameraModel":null})")
                                << DecodingError::Kind::ValueNotFound
                                << QStringLiteral("cameraModel");
    QTest::newRow("wrapper not an object")
        << QByteArray("{" + time + "," + location + R"(,"cameraModel":"Z 9"})")
        << DecodingError::Kind::TypeMismatch << QStringLiteral("cameraModel");
}

void PhotoMetadataTests::payloadAndFieldFailures()
{
    QFETCH(QByteArray, json);
    QFETCH(DecodingError::Kind, kind);
    QFETCH(QString, keyPath);
    Result<PhotoMetadata> read = PhotoMetadata::fromJson(parsed(json));
    QVERIFY(!read);
    const auto *error = read.error().as<DecodingError>();
    QVERIFY(error);
    QCOMPARE(error->kind, kind);
    QCOMPARE(error->keyPath, keyPath);
}

void PhotoMetadataTests::equalityRules()
{
    // Canonically equivalent model texts: precomposed é and e with a combining acute accent.
    QCOMPARE(CameraModelMetadata::known(QStringLiteral("Caf\u00e9 X")),
             CameraModelMetadata::known(QStringLiteral("Cafe\u0301 X")));
    QVERIFY(CameraModelMetadata::known(QStringLiteral("z 9"))
            != CameraModelMetadata::known(QStringLiteral("Z 9")));
    QVERIFY(CameraModelMetadata::known(QString()) != CameraModelMetadata::unknown());

    QCOMPARE(CaptureLocation({0.0, 1.0}), CaptureLocation({-0.0, 1.0}));
    QVERIFY(CaptureLocation({std::nan(""), 1.0}) != CaptureLocation({std::nan(""), 1.0}));
    QVERIFY(CaptureTimeMetadata::known(Date{1}) != CaptureTimeMetadata::known(Date{2}));

    PhotoMetadata other = allKnown;
    other.captureLocation = CaptureLocationMetadata::unknown();
    QVERIFY(other != allKnown);

    // A non-finite coordinate cannot be written: the record would not read back.
    const PhotoMetadata nan{{}, CaptureLocationMetadata::known({std::nan(""), 0}), {}};
    QVERIFY(!Json::serialize(nan.toJson()));
}

void PhotoMetadataTests::captureTimeTakesTheFirstPresentKey_data()
{
    QTest::addColumn<std::optional<QByteArray>>("original");
    QTest::addColumn<std::optional<QByteArray>>("digitized");
    QTest::addColumn<std::optional<QByteArray>>("tiff");
    QTest::addColumn<bool>("exif");
    QTest::addColumn<CaptureTimeMetadata>("expected");

    const std::optional<QByteArray> none;
    const auto text = [](const char *t) { return std::optional<QByteArray>(t); };
    QTest::newRow("original first")
        << text("2021:07:04 09:30:00") << text("2022:01:01 00:00:00") << text("2023:01:01 00:00:00")
        << true << CaptureTimeMetadata::known(utc(2021, 7, 4, 9, 30, 0));
    QTest::newRow("digitized without original")
        << none << text("2022:02:03 04:05:06") << text("2023:01:01 00:00:00") << true
        << CaptureTimeMetadata::known(utc(2022, 2, 3, 4, 5, 6));
    QTest::newRow("TIFF date without EXIF dates")
        << none << none << text("2024:03:09 14:05:33") << true
        << CaptureTimeMetadata::known(utc(2024, 3, 9, 14, 5, 33));
    QTest::newRow("TIFF date without EXIF IFD")
        << text("2021:07:04 09:30:00") << none << text("2024:03:09 14:05:33") << false
        << CaptureTimeMetadata::known(utc(2024, 3, 9, 14, 5, 33));
    QTest::newRow("malformed original hides valid later dates")
        << text("2021-07-04 09:30:00") << text("2022:02:03 04:05:06") << text("2023:01:01 00:00:00")
        << true << CaptureTimeMetadata::unknown();
    QTest::newRow("empty original") << text("") << text("2022:02:03 04:05:06") << none << true
                                    << CaptureTimeMetadata::unknown();
    QTest::newRow("unset camera clock")
        << text("0000:00:00 00:00:00") << none << none << true << CaptureTimeMetadata::unknown();
    QTest::newRow("impossible day")
        << text("2023:02:30 10:00:00") << none << none << true << CaptureTimeMetadata::unknown();
    QTest::newRow("trailing text") << text("2023:02:03 10:00:00 +01:00") << none << none << true
                                   << CaptureTimeMetadata::unknown();
    QTest::newRow("no date at all")
        << none << none << none << true << CaptureTimeMetadata::unknown();
}

void PhotoMetadataTests::captureTimeTakesTheFirstPresentKey()
{
    QFETCH(std::optional<QByteArray>, original);
    QFETCH(std::optional<QByteArray>, digitized);
    QFETCH(std::optional<QByteArray>, tiff);
    QFETCH(bool, exif);
    QFETCH(CaptureTimeMetadata, expected);
    DngOptions options;
    options.dateTimeOriginal = original;
    options.dateTimeDigitized = digitized;
    options.dateTime = tiff;
    options.exif = exif;
    const PhotoMetadata metadata = extract(options);
    QCOMPARE(metadata.captureTime, expected);
    // The other facts are read independently.
    QCOMPARE(metadata.cameraModel, CameraModelMetadata::known(QStringLiteral("PW-1")));
}

void PhotoMetadataTests::locationAppliesReferencesInAnyCase_data()
{
    QTest::addColumn<std::optional<QByteArray>>("latitudeRef");
    QTest::addColumn<std::optional<QByteArray>>("longitudeRef");
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    const auto ref = [](const char *t) { return std::optional<QByteArray>(t); };
    QTest::newRow("lower-case s, E") << ref("s") << ref("E") << -33.86 << 151.21;
    QTest::newRow("upper-case S, W") << ref("S") << ref("W") << -33.86 << -151.21;
    QTest::newRow("N, lower-case w") << ref("N") << ref("w") << 33.86 << -151.21;
    QTest::newRow("no references")
        << std::optional<QByteArray>() << std::optional<QByteArray>() << 33.86 << 151.21;
    QTest::newRow("other references") << ref("X") << ref("") << 33.86 << 151.21;
}

void PhotoMetadataTests::locationAppliesReferencesInAnyCase()
{
    QFETCH(std::optional<QByteArray>, latitudeRef);
    QFETCH(std::optional<QByteArray>, longitudeRef);
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    DngOptions options;
    options.latitudeRef = latitudeRef;
    options.longitudeRef = longitudeRef;
    options.latitude = QList<DngRational>{{33, 1}, {51, 1}, {36, 1}};
    options.longitude = QList<DngRational>{{151, 1}, {1260, 100}, {0, 1}};
    const std::optional<CaptureLocation> location
        = extract(options).captureLocation.knownLocation();
    QVERIFY(location);
    QVERIFY2(std::abs(location->latitude - latitude) < 1e-9,
             qPrintable(QString::number(location->latitude)));
    QVERIFY2(std::abs(location->longitude - longitude) < 1e-9,
             qPrintable(QString::number(location->longitude)));
}

void PhotoMetadataTests::locationNeedsBothCoordinates_data()
{
    QTest::addColumn<std::optional<QList<DngRational>>>("latitude");
    QTest::addColumn<std::optional<QList<DngRational>>>("longitude");
    QTest::addColumn<bool>("gps");
    QTest::addColumn<bool>("known");
    const auto value = [](QList<DngRational> parts) {
        return std::optional<QList<DngRational>>(std::move(parts));
    };
    const std::optional<QList<DngRational>> none;
    QTest::newRow("latitude without longitude") << value({{10, 1}}) << none << true << false;
    QTest::newRow("longitude without latitude") << none << value({{10, 1}}) << true << false;
    QTest::newRow("no GPS IFD") << value({{10, 1}}) << value({{10, 1}}) << false << false;
    QTest::newRow("zero denominator")
        << value({{10, 1}, {5, 0}, {0, 1}}) << value({{10, 1}}) << true << false;
    QTest::newRow("degrees only") << value({{10, 1}}) << value({{20, 1}}) << true << true;
}

void PhotoMetadataTests::locationNeedsBothCoordinates()
{
    QFETCH(std::optional<QList<DngRational>>, latitude);
    QFETCH(std::optional<QList<DngRational>>, longitude);
    QFETCH(bool, gps);
    QFETCH(bool, known);
    DngOptions options;
    options.latitude = latitude;
    options.longitude = longitude;
    options.gps = gps;
    const CaptureLocationMetadata location = extract(options).captureLocation;
    QCOMPARE(location != CaptureLocationMetadata::unknown(), known);
    if (known)
        QCOMPARE(location, CaptureLocationMetadata::known({10, 20}));
}

void PhotoMetadataTests::cameraModelIsKeptAsStored_data()
{
    QTest::addColumn<std::optional<QByteArray>>("stored");
    QTest::addColumn<CameraModelMetadata>("expected");
    QTest::newRow("plain") << std::optional<QByteArray>("Z 9")
                           << CameraModelMetadata::known(QStringLiteral("Z 9"));
    QTest::newRow("surrounding spaces kept")
        << std::optional<QByteArray>(" Model  Z 9 ")
        << CameraModelMetadata::known(QStringLiteral(" Model  Z 9 "));
    QTest::newRow("only spaces") << std::optional<QByteArray>("    ")
                                 << CameraModelMetadata::unknown();
    QTest::newRow("white space and newline")
        << std::optional<QByteArray>(" \t\n ") << CameraModelMetadata::unknown();
    QTest::newRow("empty") << std::optional<QByteArray>("") << CameraModelMetadata::unknown();
    QTest::newRow("padded with NULs") << std::optional<QByteArray>(QByteArray("EOS R\0\0junk", 11))
                                      << CameraModelMetadata::known(QStringLiteral("EOS R"));
    QTest::newRow("UTF-8") << std::optional<QByteArray>("K\xc3\xa4mera")
                           << CameraModelMetadata::known(QStringLiteral("K\u00e4mera"));
    QTest::newRow("missing") << std::optional<QByteArray>() << CameraModelMetadata::unknown();
    // A crafted file's model of 100 KB is cut to what a real one could take.
    QTest::newRow("100 KB") << std::optional<QByteArray>(QByteArray(100000, 'M'))
                            << CameraModelMetadata::known(QString(255, QLatin1Char('M')));
    QTest::newRow("longest kept whole")
        << std::optional<QByteArray>(QByteArray(255, 'M'))
        << CameraModelMetadata::known(QString(255, QLatin1Char('M')));
    QTest::newRow("cut between two characters")
        << std::optional<QByteArray>(QByteArray("M") + QByteArray("\xc3\xa4").repeated(200))
        << CameraModelMetadata::known(QStringLiteral("M") + QString(127, QChar(0xe4)));
}

void PhotoMetadataTests::cameraModelIsKeptAsStored()
{
    QFETCH(std::optional<QByteArray>, stored);
    QFETCH(CameraModelMetadata, expected);
    DngOptions options;
    options.model = stored;
    const PhotoMetadata metadata = extract(options);
    QCOMPARE(metadata.cameraModel, expected);
    if (const auto model = metadata.cameraModel.knownModel())
        QCOMPARE(*model, *expected.knownModel()); // exactly, not only canonically equal
    QCOMPARE(metadata.captureTime, CaptureTimeMetadata::known(utc(2024, 5, 17, 10, 30, 15)));
}

void PhotoMetadataTests::formatIsDetectedByContentNotName()
{
    DngOptions options;
    options.model = "Alpha Cam R5";
    const PhotoMetadata expected = extract(options, QStringLiteral("IMG_0001.dng"));
    QVERIFY(expected.cameraModel != CameraModelMetadata::unknown());
    QVERIFY(expected.captureLocation != CaptureLocationMetadata::unknown());
    for (const char *name : {"IMG_0001.CR2", "DSC_0001.NEF", "DSC00001.ARW", "no-extension"})
        QCOMPARE(extract(options, QString::fromLatin1(name)), expected);
}

void PhotoMetadataTests::unreadableFilesGiveAllUnknown()
{
    const Exiv2PhotoMetadataExtractor extractor;
    const QString text = m_dir.filePath(QStringLiteral("notes.CR3"));
    writeFile(text, "not an image at all\n");
    const QString empty = m_dir.filePath(QStringLiteral("empty.NEF"));
    writeFile(empty, QByteArray());
    const QString truncated = m_dir.filePath(QStringLiteral("truncated.dng"));
    writeFile(truncated, DngWriter::bytes().left(200));
    const QString garbage = m_dir.filePath(QStringLiteral("garbage.ARW"));
    QByteArray header("II*\0\x08\0\0\0", 8);
    writeFile(garbage, header + patternBytes(4096, 7));

    for (const QString &path : {text,
                                empty,
                                truncated,
                                garbage,
                                m_dir.filePath(QStringLiteral("missing.CR2")),
                                m_dir.path()}) {
        Result<PhotoMetadata> metadata = extractor.metadata(path);
        QVERIFY2(metadata, qPrintable(path));
        QCOMPARE(*metadata, PhotoMetadata::unknown());
    }
}

void PhotoMetadataTests::readsFromManyThreadsAtOnce()
{
    QStringList paths;
    QList<PhotoMetadata> expected;
    for (int i = 0; i < 8; ++i) {
        DngOptions options;
        options.model = QByteArray("PW-") + QByteArray::number(i);
        paths.append(m_dir.filePath(QStringLiteral("thread-%1.dng").arg(i)));
        DngWriter::write(paths.last(), options);
        expected.append(*Exiv2PhotoMetadataExtractor().metadata(paths.last()));
    }
    const Exiv2PhotoMetadataExtractor extractor;
    std::vector<QList<PhotoMetadata>> results(4);
    std::vector<std::thread> threads;
    for (auto &result : results) {
        threads.emplace_back([&extractor, &paths, &result] {
            for (int round = 0; round < 10; ++round) {
                for (const QString &path : paths)
                    result.append(extractor.metadata(path).value_or(PhotoMetadata::unknown()));
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (const auto &result : results) {
        QCOMPARE(result.size(), 80);
        for (qsizetype i = 0; i < result.size(); ++i)
            QCOMPARE(result[i], expected[i % 8]);
    }
}

namespace {

/// An ISO base media box: 32-bit big-endian size, type, payload.
QByteArray box(const char *type, const QByteArray &payload)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(quint32(8 + payload.size()), bytes.data());
    return bytes + QByteArray(type, 4) + payload;
}

/// `levels` boxes of `type`, each holding `prefix` and then the next, built outside in.
QByteArray nested(const char *type, int levels, const QByteArray &prefix = {})
{
    const QByteArray innermost = box("free", QByteArray(8, 'x'));
    const qsizetype level = 8 + prefix.size();
    QByteArray bytes;
    bytes.reserve(levels * level + innermost.size());
    for (int i = 0; i < levels; ++i) {
        QByteArray header(4, '\0');
        qToBigEndian(quint32((levels - i) * level + innermost.size()), header.data());
        bytes += header + QByteArray(type, 4) + prefix;
    }
    return bytes + innermost;
}

const QByteArray canonUuid = QByteArray::fromHex("85c0b687820f11e08111f4ce462b6a48");

/// A CR3-like file: the camera's TIFF header of IFD0 (with the model) in its CMT1 box.
QByteArray boxFile(const QByteArray &moovPayload)
{
    return box("ftyp", QByteArray("crx \0\0\0\1crx isom", 16)) + box("moov", moovPayload);
}

QByteArray plausibleCr3(const QByteArray &extra = {})
{
    DngOptions options;
    options.model = "Box Cam";
    options.embeddedPreview = false;
    return boxFile(box("uuid", canonUuid + box("CMT1", DngWriter::bytes(options))) + extra);
}

} // namespace

void PhotoMetadataTests::craftedBoxFilesGiveUnknownWithoutCrashing_data()
{
    // Each nesting would have the library recurse until its stack runs out.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<CameraModelMetadata>("model");
    const QByteArray ftyp = box("ftyp", QByteArray("crx \0\0\0\1crx isom", 16));
    const auto unknown = CameraModelMetadata::unknown();
    QTest::newRow("movie boxes nested 100000 deep") << ftyp + nested("moov", 100000) << unknown;
    QTest::newRow("meta boxes nested 100000 deep")
        << ftyp + nested("meta", 100000, QByteArray(4, '\0')) << unknown;
    QTest::newRow("property boxes nested 100000 deep") << ftyp + nested("ipco", 100000) << unknown;
    QTest::newRow("item lists nested 100000 deep")
        << ftyp + nested("iinf", 100000, QByteArray::fromHex("000000000001")) << unknown;
    QTest::newRow("camera boxes nested 100000 deep")
        << ftyp + nested("uuid", 100000, canonUuid) << unknown;
    QTest::newRow("nesting of 300 is refused") << plausibleCr3(nested("moov", 300)) << unknown;
    QTest::newRow("a plausible file is read")
        << plausibleCr3() << CameraModelMetadata::known(QStringLiteral("Box Cam"));
    QTest::newRow("a shallow nesting is read")
        << plausibleCr3(nested("moov", 4)) << CameraModelMetadata::known(QStringLiteral("Box Cam"));
}

void PhotoMetadataTests::craftedBoxFilesGiveUnknownWithoutCrashing()
{
    QFETCH(QByteArray, content);
    QFETCH(CameraModelMetadata, model);
    const QString path = m_dir.filePath(QStringLiteral("crafted.CR3"));
    writeFile(path, content);
    const Result<PhotoMetadata> metadata = Exiv2PhotoMetadataExtractor().metadata(path);
    QVERIFY(metadata);
    QCOMPARE(metadata->cameraModel, model);
    if (model == CameraModelMetadata::unknown())
        QCOMPARE(*metadata, PhotoMetadata::unknown());
}

void PhotoMetadataTests::anythingButARegularFileGivesUnknownAtOnce()
{
    // Opening a FIFO for reading would wait for a writer for ever.
    const QString fifo = m_dir.filePath(QStringLiteral("pipe.CR3"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const Result<PhotoMetadata> metadata = Exiv2PhotoMetadataExtractor().metadata(fifo);
    QVERIFY(metadata);
    QCOMPARE(*metadata, PhotoMetadata::unknown());
}

QTEST_GUILESS_MAIN(PhotoMetadataTests)
#include "PhotoMetadataTests.moc"
