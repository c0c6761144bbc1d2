#include <PellwickCore/Ingest/ImageLibraries.h>

#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <Support/DngWriter.h>
#include <exiv2/exiv2.hpp>
#include <libraw/libraw.h>
#include <turbojpeg.h>

using namespace Pellwick;
using namespace Pellwick::Test;

// The generated files stand in for camera RAW originals everywhere in the tests, so the metadata
// reader and the raw decoder must both see exactly what was asked for.
class DngWriterTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void metadataReaderSeesEveryTag();
    void omittedOptionsLeaveTagsOut();
    void metadataSitsInTheFirstKilobytes();
    void rawDecoderDevelopsTheScene();
    void rawDecoderHonoursOrientation();
    void embeddedPreviewIsAJpegOfItsSize();
    void largeNoisyFramesDecode();
};

namespace {

struct Tags
{
    std::map<std::string, std::string> text;
    std::map<std::string, std::vector<Exiv2::Rational>> rationals;
};

Tags readTags(const QByteArray &bytes)
{
    Tags tags;
    try {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(bytes.data()),
                                               bytes.size());
        image->readMetadata();
        for (const Exiv2::Exifdatum &datum : image->exifData()) {
            tags.text[datum.key()] = datum.toString();
            if (datum.typeId() == Exiv2::unsignedRational) {
                for (long i = 0; i < datum.count(); ++i)
                    tags.rationals[datum.key()].push_back(datum.toRational(i));
            }
        }
    } catch (const std::exception &e) {
        qWarning("exiv2: %s", e.what());
    }
    return tags;
}

std::string text(const Tags &tags, const char *key)
{
    const auto it = tags.text.find(key);
    return it == tags.text.end() ? std::string("<absent>") : it->second;
}

struct Decoded
{
    int width = 0;
    int height = 0;
    int flip = -1;
    std::string make;
    std::string model;
    std::vector<uchar> rgb; // developed, orientation applied

    std::array<int, 3> at(double fx, double fy) const
    {
        const int x = static_cast<int>(fx * width);
        const int y = static_cast<int>(fy * height);
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

std::optional<Decoded> develop(QByteArray bytes, bool halfSize = true)
{
    auto raw = std::make_unique<LibRaw>();
    raw->imgdata.params.half_size = halfSize ? 1 : 0;
    raw->imgdata.params.output_bps = 8;
    if (raw->open_buffer(bytes.data(), static_cast<size_t>(bytes.size())) != LIBRAW_SUCCESS
        || raw->unpack() != LIBRAW_SUCCESS || raw->dcraw_process() != LIBRAW_SUCCESS) {
        return std::nullopt;
    }
    int error = 0;
    libraw_processed_image_t *image = raw->dcraw_make_mem_image(&error);
    if (!image)
        return std::nullopt;
    Decoded decoded;
    decoded.width = image->width;
    decoded.height = image->height;
    decoded.flip = raw->imgdata.sizes.flip;
    decoded.make = raw->imgdata.idata.make;
    decoded.model = raw->imgdata.idata.model;
    decoded.rgb.assign(image->data, image->data + image->data_size);
    LibRaw::dcraw_clear_mem(image);
    return decoded;
}

bool isYellow(const std::array<int, 3> &p)
{
    return p[0] > 150 && p[1] > 120 && p[2] < 90;
}

bool isDark(const std::array<int, 3> &p)
{
    return p[0] < 60 && p[1] < 60 && p[2] < 60;
}

} // namespace

void DngWriterTests::initTestCase()
{
    initializeImageLibraries();
}

void DngWriterTests::metadataReaderSeesEveryTag()
{
    DngOptions options;
    options.make = "Maker";
    options.model = " Alpha Cam R5 ";
    options.orientation = 6;
    options.dateTime = "2020:01:02 03:04:05";
    options.dateTimeOriginal = "2021:07:04 09:30:00";
    options.dateTimeDigitized = "2021:07:04 09:30:01";
    options.latitudeRef = "s";
    options.latitude = QList<DngRational>{{33, 1}, {51, 1}, {36, 1}};
    options.longitudeRef = "E";
    options.longitude = QList<DngRational>{{151, 1}, {12, 1}, {360000, 10000}};
    const Tags tags = readTags(DngWriter::bytes(options));

    QCOMPARE(text(tags, "Exif.Image.Make"), std::string("Maker"));
    QCOMPARE(text(tags, "Exif.Image.Model"), std::string(" Alpha Cam R5 "));
    QCOMPARE(text(tags, "Exif.Image.Orientation"), std::string("6"));
    QCOMPARE(text(tags, "Exif.Image.DateTime"), std::string("2020:01:02 03:04:05"));
    QCOMPARE(text(tags, "Exif.Photo.DateTimeOriginal"), std::string("2021:07:04 09:30:00"));
    QCOMPARE(text(tags, "Exif.Photo.DateTimeDigitized"), std::string("2021:07:04 09:30:01"));
    QCOMPARE(text(tags, "Exif.GPSInfo.GPSLatitudeRef"), std::string("s"));
    QCOMPARE(text(tags, "Exif.GPSInfo.GPSLongitudeRef"), std::string("E"));
    const auto &latitude = tags.rationals.at("Exif.GPSInfo.GPSLatitude");
    QCOMPARE(latitude.size(), size_t(3));
    QCOMPARE(latitude[1], Exiv2::Rational(51, 1));
    const auto &longitude = tags.rationals.at("Exif.GPSInfo.GPSLongitude");
    QCOMPARE(longitude[2], Exiv2::Rational(360000, 10000));

    // The default coordinates round-trip through degrees, minutes and seconds.
    const QList<DngRational> dms = DngOptions::degreesMinutesSeconds(-48.858222);
    const double back = dms[0].numerator + dms[1].numerator / 60.0
                        + dms[2].numerator / double(dms[2].denominator) / 3600;
    QVERIFY(qAbs(back - 48.858222) < 1e-6);
}

void DngWriterTests::omittedOptionsLeaveTagsOut()
{
    DngOptions options;
    options.model.reset();
    options.orientation.reset();
    options.dateTimeOriginal.reset();
    options.longitude.reset();
    options.longitudeRef.reset();
    Tags tags = readTags(DngWriter::bytes(options));
    QCOMPARE(text(tags, "Exif.Image.Model"), std::string("<absent>"));
    QCOMPARE(text(tags, "Exif.Image.Orientation"), std::string("<absent>"));
    QCOMPARE(text(tags, "Exif.Photo.DateTimeOriginal"), std::string("<absent>"));
    QCOMPARE(text(tags, "Exif.Photo.DateTimeDigitized"), std::string("2024:05:17 10:30:15"));
    QCOMPARE(text(tags, "Exif.GPSInfo.GPSLongitude"), std::string("<absent>"));
    QCOMPARE(tags.rationals.at("Exif.GPSInfo.GPSLatitude").size(), size_t(3));
    QCOMPARE(text(tags, "Exif.Image.Make"), std::string("Pellwick Test"));

    options = DngOptions();
    options.exif = false;
    options.gps = false;
    options.embeddedPreview = false;
    tags = readTags(DngWriter::bytes(options));
    for (const auto &[key, value] : tags.text) {
        QVERIFY2(key.rfind("Exif.Photo.", 0) != 0 && key.rfind("Exif.GPSInfo.", 0) != 0,
                 key.c_str());
    }
    QCOMPARE(text(tags, "Exif.Image.DateTime"), std::string("2024:05:17 10:30:15"));
    // Without an embedded preview the raw image still develops.
    QVERIFY(develop(DngWriter::bytes(options)));
}

void DngWriterTests::metadataSitsInTheFirstKilobytes()
{
    DngOptions options;
    options.width = 1024;
    options.height = 512;
    const QByteArray bytes = DngWriter::bytes(options);
    QVERIFY(bytes.size() > 1024 * 1024);
    const Tags whole = readTags(bytes);
    const Tags head = readTags(bytes.left(4096));
    for (const char *key : {"Exif.Image.Model",
                            "Exif.Photo.DateTimeOriginal",
                            "Exif.GPSInfo.GPSLatitude",
                            "Exif.GPSInfo.GPSLongitudeRef"}) {
        QCOMPARE(text(head, key), text(whole, key));
        QVERIFY(text(head, key) != "<absent>");
    }
}

void DngWriterTests::rawDecoderDevelopsTheScene()
{
    DngOptions options;
    options.make = "Pellwick";
    options.model = "PW-2";
    const std::optional<Decoded> decoded = develop(DngWriter::bytes(options), false);
    QVERIFY(decoded);
    QCOMPARE(decoded->width, options.width);
    QCOMPARE(decoded->height, options.height);
    QCOMPARE(decoded->flip, 0);
    QCOMPARE(decoded->make, std::string("Pellwick"));
    QCOMPARE(decoded->model, std::string("PW-2"));
    QVERIFY(isYellow(decoded->at(0.62, 0.45)));
    QVERIFY(isDark(decoded->at(0.3, 0.82)));
    QVERIFY(!isYellow(decoded->at(0.1, 0.1)));
    // The colour ramps run left to right in red and top to bottom in green.
    QVERIFY(decoded->at(0.95, 0.1)[0] > decoded->at(0.05, 0.1)[0] + 60);
    QVERIFY(decoded->at(0.1, 0.7)[1] > decoded->at(0.1, 0.05)[1] + 60);
}

void DngWriterTests::rawDecoderHonoursOrientation()
{
    DngOptions options;
    options.orientation = 6; // the viewer turns the frame 90° clockwise
    const std::optional<Decoded> decoded = develop(DngWriter::bytes(options));
    QVERIFY(decoded);
    QCOMPARE(decoded->flip, 6);
    QCOMPARE(decoded->width, options.height / 2);
    QCOMPARE(decoded->height, options.width / 2);
    // Stored (x, y) is shown at (1 - y, x): the disc right of centre moves below centre and the
    // dark bar near the bottom becomes a column near the left edge.
    QVERIFY(isYellow(decoded->at(0.55, 0.62)));
    QVERIFY(isDark(decoded->at(0.18, 0.3)));
    QVERIFY(!isDark(decoded->at(0.82, 0.3)));
}

void DngWriterTests::embeddedPreviewIsAJpegOfItsSize()
{
    DngOptions options;
    options.previewWidth = 200;
    options.previewHeight = 150;
    QByteArray bytes = DngWriter::bytes(options);
    auto raw = std::make_unique<LibRaw>();
    QCOMPARE(raw->open_buffer(bytes.data(), static_cast<size_t>(bytes.size())), LIBRAW_SUCCESS);
    QCOMPARE(raw->unpack_thumb(), LIBRAW_SUCCESS);
    QCOMPARE(raw->imgdata.thumbnail.tformat, LIBRAW_THUMBNAIL_JPEG);

    tjhandle decompressor = tjInitDecompress();
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    const int status
        = tjDecompressHeader3(decompressor,
                              reinterpret_cast<const uchar *>(raw->imgdata.thumbnail.thumb),
                              raw->imgdata.thumbnail.tlength,
                              &width,
                              &height,
                              &subsampling,
                              &colourspace);
    tjDestroy(decompressor);
    QCOMPARE(status, 0);
    QCOMPARE(width, 200);
    QCOMPARE(height, 150);
}

void DngWriterTests::largeNoisyFramesDecode()
{
    DngOptions options;
    options.width = 6000;
    options.height = 4000;
    options.noiseAmplitude = 120;
    options.previewWidth = 1024;
    options.previewHeight = 683;
    QByteArray bytes = DngWriter::bytes(options);
    QVERIFY(bytes.size() > 6000 * 4000 * 2);

    auto raw = std::make_unique<LibRaw>();
    QCOMPARE(raw->open_buffer(bytes.data(), static_cast<size_t>(bytes.size())), LIBRAW_SUCCESS);
    QCOMPARE(raw->unpack(), LIBRAW_SUCCESS);
    QCOMPARE(int(raw->imgdata.sizes.raw_width), 6000);
    QCOMPARE(int(raw->imgdata.sizes.raw_height), 4000);
    // Neighbouring green photosites of a smooth ramp differ by the added noise.
    const ushort *pixels = raw->imgdata.rawdata.raw_image;
    int differing = 0;
    for (int i = 0; i < 1000; ++i) {
        const int row = 2 * (i % 200) + 10;
        const int column = 2 * i + 1;
        if (pixels[row * 6000 + column] != pixels[(row + 2) * 6000 + column])
            ++differing;
    }
    QVERIFY(differing > 900);

    DngOptions otherSeed = options;
    otherSeed.noiseSeed = 2;
    QVERIFY(DngWriter::bytes(otherSeed) != bytes);
}

QTEST_GUILESS_MAIN(DngWriterTests)
#include "DngWriterTests.moc"
