#include <PellwickCore/Ingest/LibRawPreviewGenerator.h>
#include <PellwickCore/Ingest/TurboJpegEncoder.h>

#include <QDir>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <limits>

#include <Support/DngWriter.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/StopAtCheckpoint.h>
#include <Support/TestFiles.h>
#include <turbojpeg.h>

using namespace Pellwick;
using Test::FaultInjectingFileManager;
using Test::FileOperation;

class LibRawPreviewGeneratorTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void fallbackSizeFollowsTheDefaultRule_data();
    void fallbackSizeFollowsTheDefaultRule();
    void absoluteMaximumIsRaisedToTheTarget();

    void firstQualityWithinTargetWinsAfterOneEncoding();
    void smallestWithinAbsoluteMaximumWins();
    void fallbackLadderRunsWhenNothingFitsAtFullSize();
    void encoderFailureMovesOnToTheFallbackSize();
    void largerFallbackDecodesTheFullImage();
    void nothingFittingRemovesTheDestination();
    void noCandidateSizeRemovesTheDestination();
    void aFolderAtTheDestinationIsNeverRemoved();

    void failedRenameKeepsThePreviousPreview();
    void folderCreationFailureIsReturned();

    void realPreviewFitsTheBudget();
    void orientationSixGivesAPortraitPreview();
    void smallByteBudgetReachesTheFallbackSize();
    void smallOriginalIsNeverUpscaled();

    void badInputFailsAndKeepsTheDestination_data();
    void badInputFailsAndKeepsTheDestination();
    void imageDataNeverDecodedFails_data();
    void imageDataNeverDecodedFails();

    void stopKeepsThePreviousPreview_data();
    void stopKeepsThePreviousPreview();

private:
    QTemporaryDir m_sources;
    QString m_landscape; ///< 4000 x 2666, upright, with an embedded 160 x 120 preview
    QString m_large;     ///< 6000 x 4000 with sensor noise
};

namespace {

const qint64 target = LibRawPreviewGenerator::defaultTargetByteCount;
const qint64 absoluteMax = LibRawPreviewGenerator::defaultAbsoluteMaxByteCount;

/// One call the scripted encoder received.
struct EncodeCall
{
    int width;
    int height;
    double quality;
};

/// Answers each encode call with the next scripted size (bytes of a marker that tells the calls
/// apart), or fails where the script holds -1. Records every call.
class ScriptedJpegEncoder final : public PreviewJpegEncoding
{
public:
    explicit ScriptedJpegEncoder(QList<qint64> sizes)
        : m_sizes(std::move(sizes))
    {}

    std::optional<QByteArray> encode(const PreviewImage &image, double quality) const override
    {
        const QMutexLocker lock(&m_mutex);
        const int index = int(m_calls.size());
        m_calls.append({image.width, image.height, quality});
        const qint64 size = index < m_sizes.size() ? m_sizes.at(index) : 1;
        if (size < 0)
            return std::nullopt;
        return marker(index, size);
    }

    /// The bytes the `index`-th call (from 0) answered with.
    static QByteArray marker(int index, qint64 size) { return QByteArray(size, char('a' + index)); }

    QList<EncodeCall> calls() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_calls;
    }

private:
    QList<qint64> m_sizes;
    mutable QMutex m_mutex;
    mutable QList<EncodeCall> m_calls;
};

/// Passes calls to TurboJPEG and records the sizes it produced, per image width.
class RecordingJpegEncoder final : public PreviewJpegEncoding
{
public:
    std::optional<QByteArray> encode(const PreviewImage &image, double quality) const override
    {
        std::optional<QByteArray> bytes = m_inner.encode(image, quality);
        const QMutexLocker lock(&m_mutex);
        m_sizes.append({std::max(image.width, image.height), bytes ? bytes->size() : -1});
        return bytes;
    }

    /// (longest side, byte count) of every encoding so far.
    QList<std::pair<int, qint64>> sizes() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_sizes;
    }

private:
    TurboJpegEncoder m_inner;
    mutable QMutex m_mutex;
    mutable QList<std::pair<int, qint64>> m_sizes;
};

/// Runs `beforeEachCall` and then passes the call on.
class HookedJpegEncoder final : public PreviewJpegEncoding
{
public:
    HookedJpegEncoder(std::shared_ptr<const PreviewJpegEncoding> inner,
                      std::function<void()> beforeEachCall)
        : m_inner(std::move(inner))
        , m_beforeEachCall(std::move(beforeEachCall))
    {}

    std::optional<QByteArray> encode(const PreviewImage &image, double quality) const override
    {
        m_beforeEachCall();
        return m_inner->encode(image, quality);
    }

private:
    std::shared_ptr<const PreviewJpegEncoding> m_inner;
    std::function<void()> m_beforeEachCall;
};

QByteArray failureText(const Result<PreviewGenerationResult> &result)
{
    return result ? QByteArray() : describe(result.error()).toUtf8();
}

const QList<double> ladder{0.82, 0.72, 0.62, 0.52, 0.42, 0.32, 0.24, 0.18, 0.12};

QList<qint64> repeated(qint64 size, int count)
{
    return QList<qint64>(count, size);
}

LibRawPreviewGenerator generator(std::shared_ptr<const PreviewJpegEncoding> encoder,
                                 std::shared_ptr<const FileManager> fileManager
                                 = std::make_shared<LocalFileManager>(),
                                 qint64 maxPixelSize = 1600,
                                 qint64 targetByteCount = target,
                                 qint64 absoluteMaxByteCount = absoluteMax,
                                 std::optional<qint64> fallback = 800)
{
    return LibRawPreviewGenerator(maxPixelSize,
                                  targetByteCount,
                                  absoluteMaxByteCount,
                                  fallback,
                                  std::move(fileManager),
                                  std::move(encoder));
}

/// Writes a generated DNG of the scene into `dir`; returns its path.
QString writeDng(const QTemporaryDir &dir,
                 const QString &name,
                 int width,
                 int height,
                 quint16 orientation = 1,
                 int noiseAmplitude = 0)
{
    Test::DngOptions options;
    options.width = width;
    options.height = height;
    options.orientation = orientation;
    options.noiseAmplitude = noiseAmplitude;
    const QString path = dir.filePath(name);
    Test::DngWriter::write(path, options);
    return path;
}

/// Names in `folder` other than `expected`: what a call left behind.
QStringList leftovers(const QString &folder, const QStringList &expected)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                               | QDir::NoDotAndDotDot);
    for (const QString &name : expected)
        names.removeAll(name);
    return names;
}

struct JpegHeader
{
    int width = 0;
    int height = 0;
    int subsampling = -1;
};

std::optional<JpegHeader> readJpegHeader(const QByteArray &jpeg)
{
    tjhandle decompressor = tjInitDecompress();
    JpegHeader header;
    int colorspace = 0;
    const int rc = tjDecompressHeader3(decompressor,
                                       reinterpret_cast<const unsigned char *>(jpeg.constData()),
                                       static_cast<unsigned long>(jpeg.size()),
                                       &header.width,
                                       &header.height,
                                       &header.subsampling,
                                       &colorspace);
    tjDestroy(decompressor);
    if (rc != 0)
        return std::nullopt;
    return header;
}

/// The decoded pixels of a JPEG file, RGB.
std::optional<PreviewImage> decodeJpeg(const QByteArray &jpeg)
{
    const std::optional<JpegHeader> header = readJpegHeader(jpeg);
    if (!header)
        return std::nullopt;
    PreviewImage image{header->width, header->height, {}};
    image.pixels = QByteArray(qsizetype(image.width) * image.height * 3, Qt::Uninitialized);
    tjhandle decompressor = tjInitDecompress();
    const int rc = tjDecompress2(decompressor,
                                 reinterpret_cast<const unsigned char *>(jpeg.constData()),
                                 static_cast<unsigned long>(jpeg.size()),
                                 reinterpret_cast<unsigned char *>(image.pixels.data()),
                                 image.width,
                                 0,
                                 image.height,
                                 TJPF_RGB,
                                 0);
    tjDestroy(decompressor);
    if (rc != 0)
        return std::nullopt;
    return image;
}

/// The average colour of the 5 x 5 pixels around (fx * width, fy * height).
std::array<int, 3> colourAt(const PreviewImage &image, double fx, double fy)
{
    const int cx = std::clamp(int(fx * image.width), 2, image.width - 3);
    const int cy = std::clamp(int(fy * image.height), 2, image.height - 3);
    std::array<int, 3> sum{};
    for (int y = cy - 2; y <= cy + 2; ++y) {
        for (int x = cx - 2; x <= cx + 2; ++x) {
            for (int c = 0; c < 3; ++c)
                sum[c] += quint8(image.pixels[(qsizetype(y) * image.width + x) * 3 + c]);
        }
    }
    return {sum[0] / 25, sum[1] / 25, sum[2] / 25};
}

bool isDark(const std::array<int, 3> &rgb)
{
    return rgb[0] < 60 && rgb[1] < 60 && rgb[2] < 60;
}

/// The scene's top left corner; the other corners are magenta, cyan and yellow.
bool isBlue(const std::array<int, 3> &rgb)
{
    return rgb[2] > 200 && rgb[0] < 150 && rgb[1] < 80;
}

/// Sets the value of every one-value SHORT or LONG entry with `tag` in the IFDs at the start of
/// a generated DNG.
void patchTiffEntries(QByteArray &tiff, quint16 tag, quint32 value)
{
    for (qsizetype i = 8; i + 12 <= std::min<qsizetype>(tiff.size(), 2048); i += 2) {
        const auto *entry = reinterpret_cast<const quint8 *>(tiff.constData() + i);
        const quint16 entryTag = quint16(entry[0] | entry[1] << 8);
        const quint16 type = quint16(entry[2] | entry[3] << 8);
        const quint32 count = quint32(entry[4] | entry[5] << 8 | entry[6] << 16 | entry[7] << 24);
        if (entryTag != tag || count != 1 || (type != 3 && type != 4))
            continue;
        if (type == 3) {
            tiff[i + 8] = char(value & 0xff);
            tiff[i + 9] = char((value >> 8) & 0xff);
        } else {
            for (int b = 0; b < 4; ++b)
                tiff[i + 8 + b] = char((value >> (8 * b)) & 0xff);
        }
    }
}

} // namespace

void LibRawPreviewGeneratorTests::initTestCase()
{
    QVERIFY(m_sources.isValid());
    m_landscape = writeDng(m_sources, QStringLiteral("landscape.dng"), 4000, 2666);
    m_large = writeDng(m_sources, QStringLiteral("large.dng"), 6000, 4000, 1, 60);
}

void LibRawPreviewGeneratorTests::fallbackSizeFollowsTheDefaultRule_data()
{
    QTest::addColumn<qint64>("maxPixelSize");
    QTest::addColumn<std::optional<qint64>>("fallback");
    QTest::addColumn<qint64>("expectedFallback");
    QTest::addColumn<QList<qint64>>("candidates");
    QTest::newRow("half of 1600") << qint64(1600) << std::optional<qint64>() << qint64(800)
                                  << QList<qint64>{1600, 800};
    QTest::newRow("half rounded down")
        << qint64(641) << std::optional<qint64>() << qint64(320) << QList<qint64>{641, 320};
    QTest::newRow("640 is the smallest halved")
        << qint64(640) << std::optional<qint64>() << qint64(320) << QList<qint64>{640, 320};
    QTest::newRow("below 640 falls back to 320")
        << qint64(500) << std::optional<qint64>() << qint64(320) << QList<qint64>{500, 320};
    QTest::newRow("320 is listed once")
        << qint64(320) << std::optional<qint64>() << qint64(320) << QList<qint64>{320};
    QTest::newRow("given fallback is kept")
        << qint64(1600) << std::optional<qint64>(1200) << qint64(1200) << QList<qint64>{1600, 1200};
    QTest::newRow("only positive sizes are tried")
        << qint64(0) << std::optional<qint64>(-5) << qint64(-5) << QList<qint64>{};
    QTest::newRow("positive fallback after a zero maximum")
        << qint64(0) << std::optional<qint64>(800) << qint64(800) << QList<qint64>{800};
}

void LibRawPreviewGeneratorTests::fallbackSizeFollowsTheDefaultRule()
{
    QFETCH(qint64, maxPixelSize);
    QFETCH(std::optional<qint64>, fallback);
    QFETCH(qint64, expectedFallback);
    QFETCH(QList<qint64>, candidates);
    const LibRawPreviewGenerator generator(maxPixelSize, target, absoluteMax, fallback);
    QCOMPARE(generator.maxPixelSize(), maxPixelSize);
    QCOMPARE(generator.fallbackMaxPixelSize(), expectedFallback);
    QCOMPARE(generator.candidatePixelSizes(), candidates);
}

void LibRawPreviewGeneratorTests::absoluteMaximumIsRaisedToTheTarget()
{
    const LibRawPreviewGenerator raised(1600, 400000, 307200, std::nullopt);
    QCOMPARE(raised.targetByteCount(), qint64(400000));
    QCOMPARE(raised.absoluteMaxByteCount(), qint64(400000));

    const LibRawPreviewGenerator kept(1600, 204800, 307200, std::nullopt);
    QCOMPARE(kept.targetByteCount(), qint64(204800));
    QCOMPARE(kept.absoluteMaxByteCount(), qint64(307200));
}

void LibRawPreviewGeneratorTests::firstQualityWithinTargetWinsAfterOneEncoding()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("previews/a.jpg"));
    Test::writeFile(destination, "old preview");
    auto encoder = std::make_shared<ScriptedJpegEncoder>(QList<qint64>{target, 100});

    const auto result = generator(encoder).generatePreview(m_landscape, destination);

    QVERIFY2(result, failureText(result).constData());
    QCOMPARE(*result, PreviewGenerationResult::success());
    const QList<EncodeCall> calls = encoder->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.at(0).quality, 0.82);
    QCOMPARE(calls.at(0).width, 1600);
    QCOMPARE(calls.at(0).height, 1066);
    QCOMPARE(Test::readFile(destination), ScriptedJpegEncoder::marker(0, target));
    QCOMPARE(leftovers(dir.filePath(QStringLiteral("previews")), {QStringLiteral("a.jpg")}),
             QStringList());
}

void LibRawPreviewGeneratorTests::smallestWithinAbsoluteMaximumWins()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("a.jpg"));
    // Three within the absolute maximum, the second and fourth equally small: the earlier,
    // higher quality is kept.
    auto encoder = std::make_shared<ScriptedJpegEncoder>(
        QList<qint64>{250000, 230000, 260000, 230000} + repeated(absoluteMax + 1, 5));

    const auto result = generator(encoder).generatePreview(m_landscape, destination);

    QVERIFY(result);
    QCOMPARE(*result, PreviewGenerationResult::success());
    const QList<EncodeCall> calls = encoder->calls();
    QCOMPARE(calls.size(), 9);
    for (int i = 0; i < calls.size(); ++i) {
        QCOMPARE(calls.at(i).quality, ladder.at(i));
        QCOMPARE(calls.at(i).width, 1600);
    }
    QCOMPARE(Test::readFile(destination), ScriptedJpegEncoder::marker(1, 230000));
    QCOMPARE(leftovers(dir.path(), {QStringLiteral("a.jpg")}), QStringList());
}

void LibRawPreviewGeneratorTests::fallbackLadderRunsWhenNothingFitsAtFullSize()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("a.jpg"));
    auto encoder = std::make_shared<ScriptedJpegEncoder>(repeated(absoluteMax + 1, 9)
                                                         + QList<qint64>{absoluteMax, target});

    const auto result = generator(encoder).generatePreview(m_landscape, destination);

    QVERIFY(result);
    QCOMPARE(*result, PreviewGenerationResult::success());
    const QList<EncodeCall> calls = encoder->calls();
    QCOMPARE(calls.size(), 11);
    QCOMPARE(calls.at(9).quality, 0.82);
    QCOMPARE(calls.at(9).width, 800);
    QCOMPARE(calls.at(9).height, 533);
    QCOMPARE(calls.at(10).quality, 0.72);
    QCOMPARE(Test::readFile(destination), ScriptedJpegEncoder::marker(10, target));
}

void LibRawPreviewGeneratorTests::encoderFailureMovesOnToTheFallbackSize()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("a.jpg"));
    // A kept encoding within the absolute maximum is dropped with the failed size.
    auto encoder = std::make_shared<ScriptedJpegEncoder>(
        QList<qint64>{absoluteMax, -1, absoluteMax - 10, absoluteMax - 20}
        + repeated(absoluteMax + 1, 7));

    const auto result = generator(encoder).generatePreview(m_landscape, destination);

    QVERIFY(result);
    QCOMPARE(*result, PreviewGenerationResult::success());
    const QList<EncodeCall> calls = encoder->calls();
    QCOMPARE(calls.size(), 2 + 9);
    QCOMPARE(calls.at(2).width, 800);
    QCOMPARE(Test::readFile(destination), ScriptedJpegEncoder::marker(3, absoluteMax - 20));
    QCOMPARE(leftovers(dir.path(), {QStringLiteral("a.jpg")}), QStringList());
}

void LibRawPreviewGeneratorTests::largerFallbackDecodesTheFullImage()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("a.jpg"));
    auto encoder
        = std::make_shared<ScriptedJpegEncoder>(repeated(absoluteMax + 1, 9) + QList<qint64>{1});

    // The half-size image (2000 pixels) serves 1000 but not 2500.
    const auto result
        = generator(encoder, std::make_shared<LocalFileManager>(), 1000, target, absoluteMax, 2500)
              .generatePreview(m_landscape, destination);

    QVERIFY(result);
    QCOMPARE(*result, PreviewGenerationResult::success());
    const QList<EncodeCall> calls = encoder->calls();
    QCOMPARE(calls.size(), 10);
    QCOMPARE(calls.at(0).width, 1000);
    QCOMPARE(calls.at(0).height, 667);
    QCOMPARE(calls.at(9).width, 2500);
    QCOMPARE(calls.at(9).height, 1666);
}

void LibRawPreviewGeneratorTests::nothingFittingRemovesTheDestination()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("a.jpg"));
    Test::writeFile(destination, "old preview");
    auto encoder = std::make_shared<ScriptedJpegEncoder>(repeated(absoluteMax + 1, 18));

    const auto result = generator(encoder).generatePreview(m_landscape, destination);

    QVERIFY(result);
    QCOMPARE(*result,
             PreviewGenerationResult::failure(QStringLiteral("Preview exceeds 300 KB budget")));
    QCOMPARE(encoder->calls().size(), 18);
    QVERIFY(!QFile::exists(destination));
    QCOMPARE(leftovers(dir.path(), {}), QStringList());

    // The text is fixed whatever the configured byte counts.
    auto small = std::make_shared<ScriptedJpegEncoder>(repeated(5000, 18));
    const auto tight
        = generator(small, std::make_shared<LocalFileManager>(), 1600, 1000, 2000, std::nullopt)
              .generatePreview(m_landscape, destination);
    QVERIFY(tight);
    QCOMPARE(tight->failureReason(), QStringLiteral("Preview exceeds 300 KB budget"));
}

void LibRawPreviewGeneratorTests::noCandidateSizeRemovesTheDestination()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("a.jpg"));
    Test::writeFile(destination, "old preview");
    auto encoder = std::make_shared<ScriptedJpegEncoder>(QList<qint64>{});

    const auto result
        = generator(encoder, std::make_shared<LocalFileManager>(), 0, target, absoluteMax, -1)
              .generatePreview(m_landscape, destination);

    QVERIFY(result);
    QCOMPARE(result->failureReason(), QStringLiteral("Preview exceeds 300 KB budget"));
    QCOMPARE(encoder->calls().size(), 0);
    QVERIFY(!QFile::exists(destination));
}

void LibRawPreviewGeneratorTests::aFolderAtTheDestinationIsNeverRemoved()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("a.jpg"));
    Test::writeFile(destination + QStringLiteral("/keep.txt"), "kept");
    auto encoder = std::make_shared<ScriptedJpegEncoder>(repeated(absoluteMax + 1, 18));

    const auto result = generator(encoder).generatePreview(m_landscape, destination);

    QVERIFY(result);
    QCOMPARE(result->failureReason(), QStringLiteral("Preview exceeds 300 KB budget"));
    QCOMPARE(Test::readFile(destination + QStringLiteral("/keep.txt")), QByteArray("kept"));
}

void LibRawPreviewGeneratorTests::failedRenameKeepsThePreviousPreview()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("a.jpg"));
    Test::writeFile(destination, "old preview");
    auto fileManager = std::make_shared<FaultInjectingFileManager>();
    fileManager->failOperation(FileOperation::ReplaceItem, ENOSPC);
    auto encoder = std::make_shared<ScriptedJpegEncoder>(QList<qint64>{target});

    const auto result = generator(encoder, fileManager).generatePreview(m_landscape, destination);

    QVERIFY(!result);
    const auto *error = result.error().as<FileSystemError>();
    QVERIFY(error);
    QCOMPARE(error->code, ENOSPC);
    QCOMPARE(Test::readFile(destination), QByteArray("old preview"));
    QCOMPARE(leftovers(dir.path(), {QStringLiteral("a.jpg")}), QStringList());
    // The old preview is replaced by the rename itself, never removed first.
    for (const QString &line : fileManager->log())
        QVERIFY2(
            !line.startsWith(Test::operationName(FileOperation::RemoveItem) + u' ' + destination),
            qPrintable(line));

    // The temporary name: hidden, beside the destination, an upper-case UUID.
    const QString replaced = fileManager->log().filter(QStringLiteral("createFile")).value(0);
    QVERIFY(QRegularExpression(QStringLiteral("^createFile %1/\\.a\\.jpg\\.[0-9A-F]{8}-[0-9A-F]{4}"
                                              "-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.tmp$")
                                   .arg(QRegularExpression::escape(dir.path())))
                .match(replaced)
                .hasMatch());
}

void LibRawPreviewGeneratorTests::folderCreationFailureIsReturned()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("previews/a.jpg"));
    auto fileManager = std::make_shared<FaultInjectingFileManager>();
    fileManager->failOperation(FileOperation::CreateDirectory, EACCES);
    auto encoder = std::make_shared<ScriptedJpegEncoder>(QList<qint64>{target});

    const auto result = generator(encoder, fileManager).generatePreview(m_landscape, destination);

    QVERIFY(!result);
    QCOMPARE(result.error().as<FileSystemError>()->code, EACCES);
    QCOMPARE(encoder->calls().size(), 0);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("previews"))));
}

void LibRawPreviewGeneratorTests::realPreviewFitsTheBudget()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("previews/large.jpg"));
    const LibRawPreviewGenerator generator(1600, target, absoluteMax, std::nullopt);

    const auto result = generator.generatePreview(m_large, destination);

    QVERIFY2(result, failureText(result).constData());
    QCOMPARE(*result, PreviewGenerationResult::success());
    const QByteArray jpeg = Test::readFile(destination);
    QVERIFY(jpeg.size() > 0);
    QVERIFY(jpeg.size() <= absoluteMax);
    const std::optional<JpegHeader> header = readJpegHeader(jpeg);
    QVERIFY(header);
    QCOMPARE(header->width, 1600);
    QCOMPARE(header->height, 1067);
    QCOMPARE(header->subsampling, int(TJSAMP_420));
    // Made from the raw image, upright: the scene is blue at the top left, with a dark bar
    // across its lower part.
    const std::optional<PreviewImage> pixels = decodeJpeg(jpeg);
    QVERIFY(pixels);
    QVERIFY(isBlue(colourAt(*pixels, 0, 0)));
    QVERIFY(isDark(colourAt(*pixels, 0.2, 0.82)));
    QVERIFY(isDark(colourAt(*pixels, 0.8, 0.82)));
    QVERIFY(!isDark(colourAt(*pixels, 0.5, 0.18)));
    QCOMPARE(leftovers(dir.filePath(QStringLiteral("previews")), {QStringLiteral("large.jpg")}),
             QStringList());

    // The embedded 160 x 120 preview is never taken instead of the raw image.
    const QString second = dir.filePath(QStringLiteral("previews/landscape.jpg"));
    QVERIFY(generator.generatePreview(m_landscape, second));
    QCOMPARE(readJpegHeader(Test::readFile(second))->width, 1600);
}

void LibRawPreviewGeneratorTests::orientationSixGivesAPortraitPreview()
{
    QTemporaryDir dir;
    // Orientation 6: shown turned 90 degrees clockwise.
    const QString source = writeDng(dir, QStringLiteral("portrait.dng"), 4000, 2666, 6);
    const QString destination = dir.filePath(QStringLiteral("portrait.jpg"));

    const auto result = LibRawPreviewGenerator(1600, target, absoluteMax, std::nullopt)
                            .generatePreview(source, destination);

    QVERIFY(result);
    QCOMPARE(*result, PreviewGenerationResult::success());
    const std::optional<PreviewImage> preview = decodeJpeg(Test::readFile(destination));
    QVERIFY(preview);
    QCOMPARE(preview->width, 1066);
    QCOMPARE(preview->height, 1600);
    // Turned clockwise (neither counter-clockwise nor mirrored): the stored top left is at the
    // top right and the bar across the lower part runs down the left side.
    QVERIFY(isBlue(colourAt(*preview, 1, 0)));
    QVERIFY(!isBlue(colourAt(*preview, 0, 0)));
    QVERIFY(isDark(colourAt(*preview, 0.18, 0.2)));
    QVERIFY(isDark(colourAt(*preview, 0.18, 0.8)));
    QVERIFY(!isDark(colourAt(*preview, 0.82, 0.5)));
}

void LibRawPreviewGeneratorTests::smallByteBudgetReachesTheFallbackSize()
{
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("a.jpg"));
    auto probe = std::make_shared<RecordingJpegEncoder>();
    const auto nothing = generator(probe, std::make_shared<LocalFileManager>(), 1600, 1, 1, 800)
                             .generatePreview(m_landscape, destination);
    QVERIFY(nothing);
    QCOMPARE(nothing->failureReason(), QStringLiteral("Preview exceeds 300 KB budget"));
    qint64 smallestAtFullSize = std::numeric_limits<qint64>::max();
    for (const auto &[side, byteCount] : probe->sizes()) {
        if (side == 1600)
            smallestAtFullSize = std::min(smallestAtFullSize, byteCount);
    }
    QCOMPARE(probe->sizes().size(), 18);

    // A budget just below every 1600-pixel encoding.
    const qint64 budget = smallestAtFullSize - 1;
    auto encoder = std::make_shared<RecordingJpegEncoder>();
    const auto result
        = generator(encoder, std::make_shared<LocalFileManager>(), 1600, budget, budget, 800)
              .generatePreview(m_landscape, destination);

    QVERIFY(result);
    QCOMPARE(*result, PreviewGenerationResult::success());
    const QByteArray jpeg = Test::readFile(destination);
    QVERIFY(jpeg.size() <= budget);
    QCOMPARE(readJpegHeader(jpeg)->width, 800);
    QCOMPARE(readJpegHeader(jpeg)->height, 533);
    QCOMPARE(encoder->sizes().at(9).first, 800);
    QCOMPARE(leftovers(dir.path(), {QStringLiteral("a.jpg")}), QStringList());
}

void LibRawPreviewGeneratorTests::smallOriginalIsNeverUpscaled()
{
    QTemporaryDir dir;
    const QString source = writeDng(dir, QStringLiteral("small.dng"), 1200, 800);
    const QString destination = dir.filePath(QStringLiteral("small.jpg"));

    const auto result = LibRawPreviewGenerator(1600, target, absoluteMax, std::nullopt)
                            .generatePreview(source, destination);

    QVERIFY(result);
    QCOMPARE(*result, PreviewGenerationResult::success());
    const std::optional<JpegHeader> header = readJpegHeader(Test::readFile(destination));
    QVERIFY(header);
    QCOMPARE(header->width, 1200);
    QCOMPARE(header->height, 800);
}

void LibRawPreviewGeneratorTests::badInputFailsAndKeepsTheDestination_data()
{
    QTest::addColumn<QByteArray>("content");
    Test::DngOptions options;
    options.width = 1200;
    options.height = 800;
    const QByteArray dng = Test::DngWriter::bytes(options);

    QTest::newRow("zero bytes") << QByteArray();
    QTest::newRow("text with a RAW extension")
        << QByteArray("These are not the pixels you are looking for.\n").repeated(200);
    QTest::newRow("truncated in the pixel data") << dng.left(dng.size() * 3 / 4);
    QTest::newRow("truncated in the header") << dng.left(200);

    QByteArray offsetsBeyondEnd = dng;
    patchTiffEntries(offsetsBeyondEnd, 273, 0x7ffffff0); // StripOffsets
    QTest::newRow("pixel data beyond the end of the file") << offsetsBeyondEnd;

    QByteArray hugeFrame = dng;
    patchTiffEntries(hugeFrame, 256, 60000); // ImageWidth
    patchTiffEntries(hugeFrame, 257, 60000); // ImageLength
    QTest::newRow("huge frame with little data") << hugeFrame;

    QByteArray firstIfdBeyondEnd = dng;
    firstIfdBeyondEnd.replace(4, 4, QByteArray("\xf0\xff\xff\x7f", 4));
    QTest::newRow("first directory beyond the end") << firstIfdBeyondEnd;

    QByteArray subIfdLoop = dng;
    patchTiffEntries(subIfdLoop, 330, 8); // SubIFDs pointing back at the first directory
    QTest::newRow("directories in a loop") << subIfdLoop;

    QByteArray garbageDirectory("II*\0\x08\0\0\0\xff\xff", 10);
    garbageDirectory.append(Test::patternBytes(4000, 7));
    QTest::newRow("directory of random entries") << garbageDirectory;
}

void LibRawPreviewGeneratorTests::badInputFailsAndKeepsTheDestination()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("bad.dng"));
    Test::writeFile(source, content);
    const QString destination = dir.filePath(QStringLiteral("previews/bad.jpg"));
    Test::writeFile(destination, "old preview");
    auto encoder = std::make_shared<ScriptedJpegEncoder>(QList<qint64>{target});

    const auto result = generator(encoder).generatePreview(source, destination);

    QVERIFY(result);
    QCOMPARE(*result,
             PreviewGenerationResult::failure(QStringLiteral("Preview generation failed")));
    QCOMPARE(encoder->calls().size(), 0);
    QCOMPARE(Test::readFile(destination), QByteArray("old preview"));
    QCOMPARE(leftovers(dir.filePath(QStringLiteral("previews")), {QStringLiteral("bad.jpg")}),
             QStringList());
}

void LibRawPreviewGeneratorTests::imageDataNeverDecodedFails_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("compression"); // the tag; the data is always plain
    QTest::addColumn<double>("keptData"); // share of the raw image's bytes in the file
    QTest::addColumn<bool>("blackFrame");
    QTest::addColumn<bool>("sparse"); // the data a hole of zeros, as long as the strip says
    QTest::addColumn<bool>("decodes");

    QTest::newRow("lossless JPEG claimed over plain data")
        << 1200 << 800 << 7 << 1.0 << false << false << false;
    QTest::newRow("lossless JPEG claimed over a black frame")
        << 1200 << 800 << 7 << 1.0 << true << false << false;
    QTest::newRow("lossless JPEG claimed, strips cut short")
        << 1200 << 800 << 7 << 0.3 << false << false << false;
    QTest::newRow("strips cut to their first row")
        << 1200 << 800 << 1 << 1.0 / 800 << false << false << false;
    QTest::newRow("lossy JPEG claimed over plain data")
        << 1200 << 800 << 34892 << 1.0 << false << false << false;
    QTest::newRow("deflate claimed over plain data")
        << 1200 << 800 << 8 << 1.0 << false << false << false;
    QTest::newRow("no image data at all") << 1200 << 800 << 1 << 0.0 << false << false << false;
    // 384 MP: the raw buffer and the half-size image alone pass 1 GiB.
    QTest::newRow("frame too large to decode")
        << 24000 << 16000 << 1 << 1.0 << true << true << false;
    QTest::newRow("all-zero data is a black frame")
        << 1200 << 800 << 1 << 1.0 << true << false << true;
    QTest::newRow("sparse all-zero data is a black frame")
        << 4000 << 3000 << 1 << 1.0 << true << true << true;
}

void LibRawPreviewGeneratorTests::imageDataNeverDecodedFails()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, compression);
    QFETCH(double, keptData);
    QFETCH(bool, blackFrame);
    QFETCH(bool, sparse);
    QFETCH(bool, decodes);
    QTemporaryDir dir;
    Test::DngOptions options;
    options.width = width;
    options.height = height;
    options.rawCompression = quint16(compression);
    options.blackFrame = blackFrame;
    options.omitRawData = sparse;
    const qint64 rawSize = qint64(width) * height * 2;
    QByteArray dng = Test::DngWriter::bytes(options);
    if (!sparse)
        dng.chop(rawSize - qint64(double(rawSize) * keptData));
    const QString source = dir.filePath(QStringLiteral("photo.dng"));
    Test::writeFile(source, dng);
    if (sparse)
        QVERIFY(QFile::resize(source, dng.size() + rawSize));
    const QString destination = dir.filePath(QStringLiteral("photo.jpg"));
    Test::writeFile(destination, "old preview");
    // A photo decoded just before in this process leaves its pixels in freed memory.
    QVERIFY(generator(std::make_shared<TurboJpegEncoder>())
                .generatePreview(m_landscape, dir.filePath(QStringLiteral("before.jpg"))));
    auto encoder = std::make_shared<RecordingJpegEncoder>();

    const auto result = generator(encoder).generatePreview(source, destination);

    QVERIFY2(result, failureText(result).constData());
    if (!decodes) {
        QCOMPARE(*result,
                 PreviewGenerationResult::failure(QStringLiteral("Preview generation failed")));
        QCOMPARE(encoder->sizes().size(), 0);
        QCOMPARE(Test::readFile(destination), QByteArray("old preview"));
        return;
    }
    QCOMPARE(*result, PreviewGenerationResult::success());
    const std::optional<PreviewImage> preview = decodeJpeg(Test::readFile(destination));
    QVERIFY(preview);
    QCOMPARE(std::max(preview->width, preview->height), std::min(std::max(width, height), 1600));
    for (const double fx : {0.02, 0.5, 0.98}) {
        for (const double fy : {0.02, 0.5, 0.98})
            QVERIFY(isDark(colourAt(*preview, fx, fy)));
    }
}

void LibRawPreviewGeneratorTests::stopKeepsThePreviousPreview_data()
{
    // Checkpoints: creating the folder (after the header is read, before decoding), then each
    // encoding: nine at full size that are all too large, then the first at the fallback size.
    QTest::addColumn<int>("stopAt");
    QTest::newRow("before the header is read") << 0;
    QTest::newRow("before decoding") << 1;
    QTest::newRow("first encoding") << 2;
    QTest::newRow("in the middle of the ladder") << 6;
    QTest::newRow("last encoding at full size") << 10;
    QTest::newRow("encoding that would be written") << 11;
}

void LibRawPreviewGeneratorTests::stopKeepsThePreviousPreview()
{
    QFETCH(int, stopAt);
    QTemporaryDir dir;
    const QString destination = dir.filePath(QStringLiteral("previews/a.jpg"));
    Test::writeFile(destination, "old preview");
    QList<qint64> sizes = repeated(absoluteMax + 1, 9);
    sizes.append(target);
    auto scripted = std::make_shared<ScriptedJpegEncoder>(sizes + sizes);
    Test::StopAtCheckpoint stop(stopAt);
    auto files = std::make_shared<FaultInjectingFileManager>();
    files->beforeOperation(
        FileOperation::CreateDirectory, QString(), [&](const QString &) { stop.checkpoint(); });
    const LibRawPreviewGenerator stoppable = generator(
        std::make_shared<HookedJpegEncoder>(scripted, [&] { stop.checkpoint(); }), files);

    const Result<PreviewGenerationResult> stopped = stop.run(
        [&] { return stoppable.generatePreview(m_landscape, destination, stop.token()); });

    QVERIFY(stop.stopped());
    QVERIFY(!stopped);
    QCOMPARE(stopped.error(), Error(CancellationError{}));
    QCOMPARE(Test::readFile(destination), QByteArray("old preview"));
    QCOMPARE(leftovers(dir.filePath(QStringLiteral("previews")), {QStringLiteral("a.jpg")}),
             QStringList());

    // The next run makes the preview: the fallback size's first encoding.
    const auto result = generator(scripted).generatePreview(m_landscape, destination);
    QVERIFY2(result, failureText(result).constData());
    QCOMPARE(*result, PreviewGenerationResult::success());
    const qsizetype calls = scripted->calls().size();
    QCOMPARE(Test::readFile(destination), ScriptedJpegEncoder::marker(int(calls - 1), target));
}

QTEST_GUILESS_MAIN(LibRawPreviewGeneratorTests)
#include "LibRawPreviewGeneratorTests.moc"
