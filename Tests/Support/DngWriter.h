#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace Pellwick::Test {

/// One unsigned TIFF rational.
struct DngRational
{
    quint32 numerator = 0;
    quint32 denominator = 1;
};

/// What a generated DNG holds. Every text option is stored as given (ASCII type, NUL added);
/// an absent option leaves its tag out of the file.
struct DngOptions
{
    /// Size of the 16-bit RGGB raw image; both must be even and at least 2.
    int width = 256;
    int height = 192;
    /// Adds pseudo-random sensor noise of this amplitude (in raw units of 0..4095) to the scene,
    /// so large frames compress like real photographs. 0 gives a clean scene.
    int noiseAmplitude = 0;
    quint32 noiseSeed = 1;

    std::optional<QByteArray> make = QByteArray("Pellwick Test");
    std::optional<QByteArray> model = QByteArray("PW-1");
    /// TIFF Orientation (1 upright, 6 rotate 90° clockwise to view, ...).
    std::optional<quint16> orientation = 1;
    /// IFD0 DateTime.
    std::optional<QByteArray> dateTime = QByteArray("2024:05:17 10:30:15");

    /// Writes the EXIF IFD; without it neither EXIF date is written.
    bool exif = true;
    std::optional<QByteArray> dateTimeOriginal = QByteArray("2024:05:17 10:30:15");
    std::optional<QByteArray> dateTimeDigitized = QByteArray("2024:05:17 10:30:15");

    /// Writes the GPS IFD; without it no GPS tag is written.
    bool gps = true;
    std::optional<QByteArray> latitudeRef = QByteArray("N");
    /// Degrees, minutes, seconds as the file stores them.
    std::optional<QList<DngRational>> latitude = degreesMinutesSeconds(48.858222);
    std::optional<QByteArray> longitudeRef = QByteArray("E");
    std::optional<QList<DngRational>> longitude = degreesMinutesSeconds(2.2945);

    /// The raw image's Compression tag. Its bytes are written uncompressed whatever the tag says,
    /// so any other value makes a file whose data is not what it claims.
    quint16 rawCompression = 1;
    /// Every raw sample 0: a black frame.
    bool blackFrame = false;
    /// Leaves the raw image's bytes out: the file ends where they would begin. Extended with
    /// zeros (sparse) to the size the strip claims, it is a black frame of any size at no cost.
    bool omitRawData = false;

    /// Embeds a baseline JPEG preview of the scene as IFD0's image (the raw is a SubIFD).
    bool embeddedPreview = true;
    int previewWidth = 160;
    int previewHeight = 120;

    /// Degrees, minutes and seconds of |degrees|, seconds in ten-thousandths.
    static QList<DngRational> degreesMinutesSeconds(double degrees);
};

/// Writes little-endian TIFF/EP files with the DNG tags a raw decoder needs to develop real
/// pixels: IFD0 (optional JPEG preview, Make, Model, Orientation, DateTime, DNG version and
/// colour tags) pointing to an EXIF IFD, a GPS IFD and a SubIFD holding an uncompressed 16-bit
/// RGGB CFA image of a fixed scene (colour ramps, a yellow disc right of centre, a dark bar near
/// the bottom). All IFDs come first and the image data last, as in camera files, so metadata sits
/// in the first kilobytes.
namespace DngWriter {

QByteArray bytes(const DngOptions &options = {});
/// Writes the file, creating missing folders; fails the test process on error.
void write(const QString &path, const DngOptions &options = {});

/// The scene's linear RGB at (x, y) of a width × height frame, each channel in 0..1.
void sceneColour(double x, double y, int width, int height, double rgb[3]);

} // namespace DngWriter

} // namespace Pellwick::Test
