#include <PellwickCore/Ingest/CanonicalFilenameGenerator.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace Pellwick;

class CanonicalFilenameGeneratorTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void buildsNameFromTheFourComponents_data();
    void buildsNameFromTheFourComponents();
    void captureTimeIsWrittenInUtc();
    void collisionsAreNumbered();
    void longNamesStayUsableFileNames_data();
    void longNamesStayUsableFileNames();
};

namespace {

const QString hash = QStringLiteral("0123456789ab");

PhotoMetadata metadata(std::optional<QString> model, std::optional<Date> captureTime = {})
{
    return PhotoMetadata{
        captureTime ? CaptureTimeMetadata::known(*captureTime) : CaptureTimeMetadata::unknown(),
        CaptureLocationMetadata::unknown(),
        model ? CameraModelMetadata::known(*model) : CameraModelMetadata::unknown(),
    };
}

Date utc(int year, int month, int day, int hour, int minute, double second)
{
    const QDateTime whole(QDate(year, month, day), QTime(hour, minute, 0), QTimeZone::utc());
    return Date::fromDateTime(whole).addingSeconds(second);
}

QString
nameFor(const QString &original, const PhotoMetadata &metadata, const QString &shortHash = hash)
{
    QSet<QString> used;
    return CanonicalFilenameGenerator::canonicalFilename(original, metadata, shortHash, used);
}

} // namespace

void CanonicalFilenameGeneratorTests::buildsNameFromTheFourComponents_data()
{
    QTest::addColumn<QString>("original");
    QTest::addColumn<std::optional<QString>>("model");
    QTest::addColumn<QString>("shortHash");
    QTest::addColumn<QString>("expected");

    const auto model
        = [](const char *text) { return std::optional<QString>(QString::fromUtf8(text)); };
    const std::optional<QString> noModel;
    QTest::newRow("plain") << QStringLiteral("IMG_0001.CR2") << model("Alpha Cam R5") << hash
                           << QStringLiteral("unknown-date_alpha-cam-r5_img_0001_0123456789ab.cr2");
    QTest::newRow("unknown camera")
        << QStringLiteral("IMG_0001.CR2") << noModel << hash
        << QStringLiteral("unknown-date_unknown-camera_img_0001_0123456789ab.cr2");
    QTest::newRow("known but empty model")
        << QStringLiteral("a.nef") << model("") << hash
        << QStringLiteral("unknown-date_unknown_a_0123456789ab.nef");
    QTest::newRow("all-punctuation model")
        << QStringLiteral("a.nef") << model("!?/.") << hash
        << QStringLiteral("unknown-date_unknown_a_0123456789ab.nef");
    QTest::newRow("spaces around and doubled")
        << QStringLiteral("a.nef") << model(" Model  Z 9 ") << hash
        << QStringLiteral("unknown-date_model-z-9_a_0123456789ab.nef");
    QTest::newRow("slash in model") << QStringLiteral("a.ARW") << model("Cam/XR-7M4") << hash
                                    << QStringLiteral("unknown-date_cam-xr-7m4_a_0123456789ab.arw");
    QTest::newRow("several dots") << QStringLiteral("DSC.0001.ARW") << model("X") << hash
                                  << QStringLiteral("unknown-date_x_dsc-0001_0123456789ab.arw");
    QTest::newRow("stem of underscores") << QStringLiteral("___.CR3") << model("X") << hash
                                         << QStringLiteral("unknown-date_x_____0123456789ab.cr3");
    QTest::newRow("stem of hyphens") << QStringLiteral("---.CR3") << model("X") << hash
                                     << QStringLiteral("unknown-date_x_unknown_0123456789ab.cr3");
    QTest::newRow("stem of spaces and symbols")
        << QStringLiteral(" #+ .CR3") << model("X") << hash
        << QStringLiteral("unknown-date_x_unknown_0123456789ab.cr3");
    QTest::newRow("underscores kept at the ends")
        << QStringLiteral("_a--b_.dng") << model("-X-") << hash
        << QStringLiteral("unknown-date_x__a-b__0123456789ab.dng");
    QTest::newRow("hash keeps its case")
        << QStringLiteral("IMG.CR2") << model("X") << QStringLiteral("ABCdef012345")
        << QStringLiteral("unknown-date_x_img_ABCdef012345.cr2");
    QTest::newRow("letters, marks and numbers of any script")
        << QStringLiteral("Ärger_\u0663\u00b2.RAF") << model("\u00c9CLAIR \u65e5\u672c e\u0301")
        << hash
        << QString::fromUtf8("unknown-date_\u00e9clair-\u65e5\u672c-e\u0301_\u00e4rger_"
                             "\u0663\u00b2_0123456789ab.raf");
    QTest::newRow("full lower-casing")
        << QStringLiteral("\u0130STANBUL.NEF") << model("\u03a3\u0391\u03a3") << hash
        << QString::fromUtf8("unknown-date_\u03c3\u03b1\u03c3_i\u0307stanbul_0123456789ab.nef");
    QTest::newRow("emoji and control characters")
        << QStringLiteral("a\U0001F600b\tc.orf") << model("M") << hash
        << QStringLiteral("unknown-date_m_a-b-c_0123456789ab.orf");
    QTest::newRow("no extension") << QStringLiteral("RAWFILE") << model("M") << hash
                                  << QStringLiteral("unknown-date_m_rawfile_0123456789ab");
}

void CanonicalFilenameGeneratorTests::buildsNameFromTheFourComponents()
{
    QFETCH(QString, original);
    QFETCH(std::optional<QString>, model);
    QFETCH(QString, shortHash);
    QFETCH(QString, expected);
    QCOMPARE(nameFor(original, metadata(model), shortHash), expected);
}

void CanonicalFilenameGeneratorTests::captureTimeIsWrittenInUtc()
{
    const auto model = std::optional<QString>(QStringLiteral("Alpha Cam R5"));
    QCOMPARE(nameFor(QStringLiteral("IMG_0001.CR2"), metadata(model, utc(2024, 3, 9, 14, 5, 33))),
             QStringLiteral("20240309-140533_alpha-cam-r5_img_0001_0123456789ab.cr2"));
    // Fractions of a second are dropped, never rounded up into the next second.
    QCOMPARE(nameFor(QStringLiteral("a.nef"), metadata(model, utc(2023, 12, 31, 23, 59, 59.999))),
             QStringLiteral("20231231-235959_alpha-cam-r5_a_0123456789ab.nef"));
    QCOMPARE(nameFor(QStringLiteral("a.nef"), metadata(model, utc(1999, 1, 2, 3, 4, 5))),
             QStringLiteral("19990102-030405_alpha-cam-r5_a_0123456789ab.nef"));
    // Before the reference date of stored dates.
    QCOMPARE(nameFor(QStringLiteral("a.nef"), metadata(model, utc(1970, 1, 1, 0, 0, 0.5))),
             QStringLiteral("19700101-000000_alpha-cam-r5_a_0123456789ab.nef"));
}

void CanonicalFilenameGeneratorTests::collisionsAreNumbered()
{
    const PhotoMetadata photo = metadata(QStringLiteral("Alpha Cam R5"));
    const QString plain = QStringLiteral("unknown-date_alpha-cam-r5_img_0001_0123456789ab.cr2");
    QSet<QString> used;

    QCOMPARE(CanonicalFilenameGenerator::canonicalFilename(
                 QStringLiteral("IMG_0001.CR2"), photo, hash, used),
             plain);
    QCOMPARE(used, QSet<QString>{plain});
    // Same inputs, same set: the first call's name is now taken.
    QCOMPARE(CanonicalFilenameGenerator::canonicalFilename(
                 QStringLiteral("IMG_0001.CR2"), photo, hash, used),
             QStringLiteral("unknown-date_alpha-cam-r5_img_0001_0123456789ab-2.cr2"));
    // A different original name that sanitises to the same stem collides too.
    QCOMPARE(CanonicalFilenameGenerator::canonicalFilename(
                 QStringLiteral("img 0001.cr2"), photo, hash, used),
             QStringLiteral("unknown-date_alpha-cam-r5_img-0001_0123456789ab.cr2"));
    QCOMPARE(CanonicalFilenameGenerator::canonicalFilename(
                 QStringLiteral("IMG_0001.cr2"), photo, hash, used),
             QStringLiteral("unknown-date_alpha-cam-r5_img_0001_0123456789ab-3.cr2"));
    QCOMPARE(CanonicalFilenameGenerator::canonicalFilename(
                 QStringLiteral("IMG_0001.CR2"), photo, hash, used),
             QStringLiteral("unknown-date_alpha-cam-r5_img_0001_0123456789ab-4.cr2"));
    QCOMPARE(used.size(), 5);

    // Membership is exact: a used name in another letter case is no collision.
    QSet<QString> upper{plain.toUpper()};
    QCOMPARE(CanonicalFilenameGenerator::canonicalFilename(
                 QStringLiteral("IMG_0001.CR2"), photo, hash, upper),
             plain);

    // Gaps are filled from -2 upwards; numbers go past 9 without padding.
    QSet<QString> many{plain};
    for (int n = 3; n <= 10; ++n)
        many.insert(
            QStringLiteral("unknown-date_alpha-cam-r5_img_0001_0123456789ab-%1.cr2").arg(n));
    QCOMPARE(CanonicalFilenameGenerator::canonicalFilename(
                 QStringLiteral("IMG_0001.CR2"), photo, hash, many),
             QStringLiteral("unknown-date_alpha-cam-r5_img_0001_0123456789ab-2.cr2"));
    QCOMPARE(CanonicalFilenameGenerator::canonicalFilename(
                 QStringLiteral("IMG_0001.CR2"), photo, hash, many),
             QStringLiteral("unknown-date_alpha-cam-r5_img_0001_0123456789ab-11.cr2"));
}

void CanonicalFilenameGeneratorTests::longNamesStayUsableFileNames_data()
{
    // A card's file system allows 255 characters, not bytes, and a camera may write any model.
    QTest::addColumn<QString>("original");
    QTest::addColumn<std::optional<QString>>("model");
    QTest::addColumn<QString>("expectedStart");

    const QString ascii(251, QLatin1Char('a'));
    const QString cjk(251, QChar(0x5199));
    QString emoji;
    for (int i = 0; i < 125; ++i)
        emoji.append(QString::fromUcs4(U"\U0001F4F7", 1));
    const std::optional<QString> plainModel = QStringLiteral("Alpha Cam R5");
    QTest::addRow("ascii stem of 251") << ascii + QStringLiteral(".CR3") << plainModel
                                       << QStringLiteral("unknown-date_alpha-cam-r5_aaaa");
    QTest::addRow("CJK stem of 251")
        << cjk + QStringLiteral(".CR3") << plainModel
        << QStringLiteral("unknown-date_alpha-cam-r5_") + QChar(0x5199);
    QTest::addRow("emoji stem, surrogate pairs")
        << emoji + QStringLiteral("x.DNG") << plainModel << QStringLiteral("unknown-date_alpha");
    QTest::addRow("model of 4000 letters")
        << QStringLiteral("IMG_0001.NEF") << std::optional<QString>(QString(4000, QLatin1Char('m')))
        << QStringLiteral("unknown-date_mmmm");
    QTest::addRow("model of 4000 CJK, long stem")
        << ascii + QStringLiteral(".NEF") << std::optional<QString>(QString(4000, QChar(0x6a5f)))
        << QStringLiteral("unknown-date_") + QChar(0x6a5f);
    QTest::addRow("cut lands on a separator")
        << QString(128, QLatin1Char('b')) + QStringLiteral(" ") + QString(100, QLatin1Char('c'))
               + QStringLiteral(".ARW")
        << std::optional<QString>(QStringLiteral("X")) << QStringLiteral("unknown-date_x_bbbb");
}

void CanonicalFilenameGeneratorTests::longNamesStayUsableFileNames()
{
    QFETCH(QString, original);
    QFETCH(std::optional<QString>, model);
    QFETCH(QString, expectedStart);

    QTemporaryDir directory;
    QSet<QString> used;
    const PhotoMetadata photo = metadata(model, utc(2024, 3, 9, 14, 5, 33));
    for (int i = 0; i < 12; ++i) {
        const QString name
            = CanonicalFilenameGenerator::canonicalFilename(original, photo, hash, used);
        QVERIFY2(name.toUtf8().size() <= 180, qPrintable(name));
        QVERIFY(name.isValidUtf16());
        QVERIFY(!name.contains(QLatin1String("-_")));
        QVERIFY(name.contains(QLatin1Char('_') + hash));
        // The names written from it: the preview's temporary file and a restore's assembly file.
        const QString uuid(36, QLatin1Char('F'));
        const QStringList derivedNames{
            QStringLiteral(".%1.jpg.%2.tmp").arg(name, uuid),
            QStringLiteral(".%1.tmp-%2").arg(name, uuid),
        };
        for (const QString &derived : derivedNames) {
            QFile file(directory.filePath(derived));
            QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
        }
    }
    QCOMPARE(used.size(), 12);
    QSet<QString> fresh;
    const QString first
        = CanonicalFilenameGenerator::canonicalFilename(original, metadata(model), hash, fresh);
    QVERIFY2(first.startsWith(expectedStart), qPrintable(first));

    // Names that fit are never cut.
    QSet<QString> none;
    QCOMPARE(CanonicalFilenameGenerator::canonicalFilename(
                 QString(100, QLatin1Char('d')) + QStringLiteral(".CR3"),
                 metadata(QStringLiteral("Alpha Cam R5"), utc(2024, 3, 9, 14, 5, 33)),
                 hash,
                 none),
             QStringLiteral("20240309-140533_alpha-cam-r5_") + QString(100, QLatin1Char('d'))
                 + QLatin1Char('_') + hash + QStringLiteral(".cr3"));
}

QTEST_GUILESS_MAIN(CanonicalFilenameGeneratorTests)
#include "CanonicalFilenameGeneratorTests.moc"
