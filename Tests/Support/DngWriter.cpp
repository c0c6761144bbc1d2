#include "DngWriter.h"

#include "TestFiles.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <turbojpeg.h>

namespace Pellwick::Test {

namespace {

enum TiffType : quint16 {
    Byte = 1,
    Ascii = 2,
    Short = 3,
    Long = 4,
    Rational = 5,
    Undefined = 7,
    SignedRational = 10,
};

struct Entry
{
    quint16 tag;
    quint16 type;
    quint32 count;
    QByteArray payload;
};

using Ifd = std::vector<Entry>;

void append16(QByteArray &out, quint16 v)
{
    out.append(static_cast<char>(v & 0xff));
    out.append(static_cast<char>(v >> 8));
}

void append32(QByteArray &out, quint32 v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(static_cast<char>((v >> shift) & 0xff));
}

Entry ascii(quint16 tag, const QByteArray &text)
{
    QByteArray payload = text;
    payload.append('\0');
    return {tag, Ascii, static_cast<quint32>(payload.size()), payload};
}

Entry byteValues(quint16 tag, std::initializer_list<quint8> values, quint16 type = Byte)
{
    QByteArray payload;
    for (quint8 v : values)
        payload.append(static_cast<char>(v));
    return {tag, type, static_cast<quint32>(values.size()), payload};
}

Entry shorts(quint16 tag, std::initializer_list<quint16> values)
{
    QByteArray payload;
    for (quint16 v : values)
        append16(payload, v);
    return {tag, Short, static_cast<quint32>(values.size()), payload};
}

Entry longs(quint16 tag, std::initializer_list<quint32> values)
{
    QByteArray payload;
    for (quint32 v : values)
        append32(payload, v);
    return {tag, Long, static_cast<quint32>(values.size()), payload};
}

Entry rationals(quint16 tag, const QList<DngRational> &values)
{
    QByteArray payload;
    for (const DngRational &v : values) {
        append32(payload, v.numerator);
        append32(payload, v.denominator);
    }
    return {tag, Rational, static_cast<quint32>(values.size()), payload};
}

Entry decimals(quint16 tag, std::initializer_list<double> values, bool isSigned = false)
{
    constexpr int denominator = 10000;
    QByteArray payload;
    for (double v : values) {
        const auto scaled = static_cast<qint64>(std::lround(v * denominator));
        append32(payload, static_cast<quint32>(scaled));
        append32(payload, denominator);
    }
    return {
        tag, isSigned ? SignedRational : Rational, static_cast<quint32>(values.size()), payload};
}

qint64 align(qint64 offset, int to)
{
    return (offset + to - 1) / to * to;
}

qint64 ifdSize(const Ifd &ifd)
{
    qint64 size = 2 + 12 * static_cast<qint64>(ifd.size()) + 4;
    for (const Entry &entry : ifd) {
        if (entry.payload.size() > 4)
            size = align(size, 2) + entry.payload.size();
    }
    return size;
}

/// Appends one IFD at the end of `out`, its out-of-line values right after the entry table.
void appendIfd(QByteArray &out, Ifd ifd)
{
    std::sort(ifd.begin(), ifd.end(), [](const Entry &a, const Entry &b) { return a.tag < b.tag; });
    const qint64 start = out.size();
    qint64 dataOffset = start + 2 + 12 * static_cast<qint64>(ifd.size()) + 4;
    QByteArray table;
    QByteArray extra;
    append16(table, static_cast<quint16>(ifd.size()));
    for (const Entry &entry : ifd) {
        append16(table, entry.tag);
        append16(table, entry.type);
        append32(table, entry.count);
        if (entry.payload.size() <= 4) {
            QByteArray field = entry.payload;
            field.append(QByteArray(4 - field.size(), '\0'));
            table.append(field);
        } else {
            if ((dataOffset + extra.size()) % 2 != 0)
                extra.append('\0');
            append32(table, static_cast<quint32>(dataOffset + extra.size()));
            extra.append(entry.payload);
        }
    }
    append32(table, 0); // no next IFD
    out.append(table);
    out.append(extra);
}

void padTo(QByteArray &out, qint64 offset)
{
    Q_ASSERT(out.size() <= offset);
    out.append(QByteArray(offset - out.size(), '\0'));
}

constexpr int blackLevel = 256;
constexpr int whiteLevel = 4095;
constexpr double neutral[3] = {0.47, 1.0, 0.63}; // camera-space white (R, G, B)

QByteArray rawImage(const DngOptions &options)
{
    const int w = options.width;
    const int h = options.height;
    if (options.omitRawData)
        return {};
    if (options.blackFrame)
        return QByteArray(static_cast<qint64>(w) * h * 2, '\0');
    QByteArray raw(static_cast<qint64>(w) * h * 2, Qt::Uninitialized);
    auto *out = reinterpret_cast<uchar *>(raw.data());
    quint32 state = options.noiseSeed * 2654435761U + 1U;
    const int span = 2 * options.noiseAmplitude + 1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double rgb[3];
            DngWriter::sceneColour(x, y, w, h, rgb);
            const int c = (y & 1) + (x & 1); // 0 R, 1 G, 2 B for RGGB
            int v = blackLevel + static_cast<int>(rgb[c] * neutral[c] * (whiteLevel - blackLevel));
            if (options.noiseAmplitude > 0) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                v += static_cast<int>(state % static_cast<quint32>(span)) - options.noiseAmplitude;
            }
            const auto value = static_cast<quint16>(std::clamp(v, 0, whiteLevel));
            *out++ = static_cast<uchar>(value & 0xff);
            *out++ = static_cast<uchar>(value >> 8);
        }
    }
    return raw;
}

QByteArray previewJpeg(const DngOptions &options)
{
    const int pw = options.previewWidth;
    const int ph = options.previewHeight;
    std::vector<uchar> rgb(static_cast<size_t>(pw) * ph * 3);
    for (int y = 0; y < ph; ++y) {
        for (int x = 0; x < pw; ++x) {
            double linear[3];
            DngWriter::sceneColour(x * double(options.width) / pw,
                                   y * double(options.height) / ph,
                                   options.width,
                                   options.height,
                                   linear);
            for (int c = 0; c < 3; ++c) {
                const double encoded = std::pow(std::clamp(linear[c], 0.0, 1.0), 1 / 2.2);
                rgb[(static_cast<size_t>(y) * pw + x) * 3 + c] = static_cast<uchar>(255 * encoded);
            }
        }
    }
    tjhandle compressor = tjInitCompress();
    uchar *jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int status = tjCompress2(
        compressor, rgb.data(), pw, 0, ph, TJPF_RGB, &jpeg, &jpegSize, TJSAMP_444, 85, 0);
    QByteArray result;
    if (status == 0)
        result = QByteArray(reinterpret_cast<const char *>(jpeg), static_cast<qsizetype>(jpegSize));
    tjFree(jpeg);
    tjDestroy(compressor);
    if (result.isEmpty())
        qFatal("cannot encode the DNG preview");
    return result;
}

struct Layout
{
    quint32 exif = 0;
    quint32 gps = 0;
    quint32 raw = 0;
    quint32 jpeg = 0;
    quint32 rawData = 0;
};

std::vector<Ifd>
buildIfds(const DngOptions &options, const Layout &at, qint64 jpegSize, qint64 rawSize)
{
    const auto w = static_cast<quint32>(options.width);
    const auto h = static_cast<quint32>(options.height);

    Ifd ifd0;
    if (options.embeddedPreview) {
        const auto pw = static_cast<quint32>(options.previewWidth);
        const auto ph = static_cast<quint32>(options.previewHeight);
        ifd0 = {
            longs(254, {1}), // NewSubFileType: reduced-resolution image
            longs(256, {pw}),
            longs(257, {ph}),
            shorts(258, {8, 8, 8}),
            shorts(259, {7}), // JPEG
            shorts(262, {6}), // YCbCr
            longs(273, {at.jpeg}),
            shorts(277, {3}),
            longs(278, {ph}),
            longs(279, {static_cast<quint32>(jpegSize)}),
            shorts(284, {1}),
            shorts(530, {1, 1}), // YCbCrSubSampling 4:4:4
        };
    }
    if (options.make)
        ifd0.push_back(ascii(271, *options.make));
    if (options.model)
        ifd0.push_back(ascii(272, *options.model));
    if (options.orientation)
        ifd0.push_back(shorts(274, {*options.orientation}));
    ifd0.push_back(ascii(305, "Pellwick DngWriter"));
    if (options.dateTime)
        ifd0.push_back(ascii(306, *options.dateTime));
    ifd0.push_back(longs(330, {at.raw})); // SubIFDs
    if (options.exif)
        ifd0.push_back(longs(34665, {at.exif}));
    if (options.gps)
        ifd0.push_back(longs(34853, {at.gps}));
    ifd0.push_back(byteValues(50706, {1, 4, 0, 0}));      // DNGVersion
    ifd0.push_back(byteValues(50707, {1, 1, 0, 0}));      // DNGBackwardVersion
    ifd0.push_back(ascii(50708, "Pellwick Test Camera")); // UniqueCameraModel
    ifd0.push_back(
        decimals(50721,
                 {0.6722, -0.0635, -0.0963, -0.4287, 1.2460, 0.2028, -0.0908, 0.2162, 0.5668},
                 true));                                                   // ColorMatrix1
    ifd0.push_back(decimals(50728, {neutral[0], neutral[1], neutral[2]})); // AsShotNeutral
    ifd0.push_back(shorts(50778, {21}));                                   // D65

    std::vector<Ifd> ifds{ifd0};
    if (options.exif) {
        Ifd exif{
            decimals(33434, {1.0 / 250}), // ExposureTime
            decimals(33437, {4.0}),       // FNumber
            shorts(34855, {400}),         // ISO
            byteValues(36864, {'0', '2', '3', '1'}, Undefined),
        };
        if (options.dateTimeOriginal)
            exif.push_back(ascii(36867, *options.dateTimeOriginal));
        if (options.dateTimeDigitized)
            exif.push_back(ascii(36868, *options.dateTimeDigitized));
        ifds.push_back(exif);
    }
    if (options.gps) {
        Ifd gps{byteValues(0, {2, 3, 0, 0})};
        if (options.latitudeRef)
            gps.push_back(ascii(1, *options.latitudeRef));
        if (options.latitude)
            gps.push_back(rationals(2, *options.latitude));
        if (options.longitudeRef)
            gps.push_back(ascii(3, *options.longitudeRef));
        if (options.longitude)
            gps.push_back(rationals(4, *options.longitude));
        ifds.push_back(gps);
    }
    ifds.push_back({
        longs(254, {0}), // NewSubFileType: main image
        longs(256, {w}),
        longs(257, {h}),
        shorts(258, {16}),
        shorts(259, {options.rawCompression}),
        shorts(262, {32803}), // CFA
        longs(273, {at.rawData}),
        shorts(277, {1}),
        longs(278, {h}),
        longs(279, {static_cast<quint32>(rawSize)}),
        shorts(284, {1}),
        shorts(33421, {2, 2}),           // CFARepeatPatternDim
        byteValues(33422, {0, 1, 1, 2}), // CFAPattern RGGB
        byteValues(50710, {0, 1, 2}),    // CFAPlaneColor
        shorts(50711, {1}),              // CFALayout rectangular
        longs(50714, {blackLevel}),      // BlackLevel
        longs(50717, {whiteLevel}),      // WhiteLevel
        longs(50719, {0, 0}),            // DefaultCropOrigin
        longs(50720, {w, h}),            // DefaultCropSize
    });
    return ifds;
}

} // namespace

QList<DngRational> DngOptions::degreesMinutesSeconds(double degrees)
{
    const double value = std::fabs(degrees);
    const auto whole = static_cast<quint32>(value);
    const double minutesExact = (value - whole) * 60;
    const auto minutes = static_cast<quint32>(minutesExact);
    const auto seconds = static_cast<quint32>(std::lround((minutesExact - minutes) * 60 * 10000));
    return {{whole, 1}, {minutes, 1}, {seconds, 10000}};
}

namespace DngWriter {

void sceneColour(double x, double y, int width, int height, double rgb[3])
{
    double r = x / std::max(1, width - 1);
    double g = y / std::max(1, height - 1);
    double b = 1.0 - 0.5 * (r + g);
    const double cx = 0.62 * width;
    const double cy = 0.45 * height;
    const double radius = 0.22 * std::min(width, height);
    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < radius * radius) {
        r = 0.95;
        g = 0.85;
        b = 0.10;
    }
    if (0.78 * height < y && y < 0.86 * height) {
        r = 0.05;
        g = 0.05;
        b = 0.05;
    }
    rgb[0] = r;
    rgb[1] = g;
    rgb[2] = b;
}

QByteArray bytes(const DngOptions &options)
{
    if (options.width < 2 || options.height < 2 || options.width % 2 != 0
        || options.height % 2 != 0) {
        qFatal("DNG frames need an even width and height");
    }
    const QByteArray jpeg = options.embeddedPreview ? previewJpeg(options) : QByteArray();
    const qint64 rawSize = static_cast<qint64>(options.width) * options.height * 2;

    // The sizes of the IFDs do not depend on the offsets they hold: lay them out with zero
    // offsets first, then build them again with the real ones.
    std::vector<Ifd> ifds = buildIfds(options, Layout{}, jpeg.size(), rawSize);
    std::vector<qint64> offsets;
    qint64 position = 8;
    for (const Ifd &ifd : ifds) {
        position = align(position, 4);
        offsets.push_back(position);
        position += ifdSize(ifd);
    }
    Layout at;
    std::size_t next = 1;
    if (options.exif)
        at.exif = static_cast<quint32>(offsets[next++]);
    if (options.gps)
        at.gps = static_cast<quint32>(offsets[next++]);
    at.raw = static_cast<quint32>(offsets[next]);
    at.jpeg = static_cast<quint32>(align(position, 4));
    at.rawData = static_cast<quint32>(align(at.jpeg + jpeg.size(), 4));
    ifds = buildIfds(options, at, jpeg.size(), rawSize);

    QByteArray out("II*\0", 4);
    append32(out, static_cast<quint32>(offsets[0]));
    out.reserve(at.rawData + (options.omitRawData ? 0 : rawSize));
    for (std::size_t i = 0; i < ifds.size(); ++i) {
        padTo(out, offsets[i]);
        appendIfd(out, ifds[i]);
    }
    padTo(out, at.jpeg);
    out.append(jpeg);
    padTo(out, at.rawData);
    out.append(rawImage(options));
    return out;
}

void write(const QString &path, const DngOptions &options)
{
    writeFile(path, bytes(options));
}

} // namespace DngWriter

} // namespace Pellwick::Test
