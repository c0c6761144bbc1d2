#include "Exiv2PhotoMetadataExtractor.h"

#include <PellwickCore/Ingest/ImageLibraries.h>

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <optional>

#include <exiv2/exiv2.hpp>

namespace Pellwick {

namespace {

/// The text of an ASCII tag up to its first NUL, or nothing when the tag is absent or holds
/// another type.
std::optional<QString> stringValue(const Exiv2::ExifData &exif, const char *key)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end() || it->typeId() != Exiv2::asciiString)
        return std::nullopt;
    std::string text = it->value().toString();
    if (const auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    return QString::fromStdString(text);
}

int digits(const QString &text, qsizetype from, qsizetype count, bool &ok)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const QChar c = text.at(i);
        if (c < u'0' || c > u'9') {
            ok = false;
            return 0;
        }
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

/// "yyyy:MM:dd HH:mm:ss" read as UTC; nothing for any other text or an impossible date.
std::optional<Date> parseMetadataDate(const QString &text)
{
    if (text.size() != 19 || text.at(4) != u':' || text.at(7) != u':' || text.at(10) != u' '
        || text.at(13) != u':' || text.at(16) != u':') {
        return std::nullopt;
    }
    bool ok = true;
    const QDate date(digits(text, 0, 4, ok), digits(text, 5, 2, ok), digits(text, 8, 2, ok));
    const QTime time(digits(text, 11, 2, ok), digits(text, 14, 2, ok), digits(text, 17, 2, ok));
    if (!ok || !date.isValid() || !time.isValid())
        return std::nullopt;
    return Date::fromDateTime(QDateTime(date, time, QTimeZone::utc()));
}

CaptureTimeMetadata captureTime(const Exiv2::ExifData &exif)
{
    std::optional<QString> text;
    for (const char *key :
         {"Exif.Photo.DateTimeOriginal", "Exif.Photo.DateTimeDigitized", "Exif.Image.DateTime"}) {
        text = stringValue(exif, key);
        if (text)
            break;
    }
    if (!text)
        return CaptureTimeMetadata::unknown();
    if (const auto date = parseMetadataDate(*text))
        return CaptureTimeMetadata::known(*date);
    return CaptureTimeMetadata::unknown();
}

/// Decimal degrees from up to three rationals (degrees, minutes, seconds); nothing when the tag
/// is absent, not rational, empty, or has a zero denominator.
std::optional<double> coordinate(const Exiv2::ExifData &exif, const char *key)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end()
        || (it->typeId() != Exiv2::unsignedRational && it->typeId() != Exiv2::signedRational)
        || it->count() < 1) {
        return std::nullopt;
    }
    double value = 0;
    double scale = 1;
    for (long i = 0; i < std::min(it->count(), 3L); ++i) {
        const Exiv2::Rational part = it->toRational(i);
        if (part.second == 0)
            return std::nullopt;
        value += static_cast<double>(part.first) / part.second / scale;
        scale *= 60;
    }
    return value;
}

CaptureLocationMetadata captureLocation(const Exiv2::ExifData &exif)
{
    const std::optional<double> latitude = coordinate(exif, "Exif.GPSInfo.GPSLatitude");
    const std::optional<double> longitude = coordinate(exif, "Exif.GPSInfo.GPSLongitude");
    if (!latitude || !longitude)
        return CaptureLocationMetadata::unknown();
    const std::optional<QString> latitudeRef = stringValue(exif, "Exif.GPSInfo.GPSLatitudeRef");
    const std::optional<QString> longitudeRef = stringValue(exif, "Exif.GPSInfo.GPSLongitudeRef");
    CaptureLocation location{*latitude, *longitude};
    if (latitudeRef && latitudeRef->toUpper() == u"S")
        location.latitude = -location.latitude;
    if (longitudeRef && longitudeRef->toUpper() == u"W")
        location.longitude = -location.longitude;
    return CaptureLocationMetadata::known(location);
}

CameraModelMetadata cameraModel(const Exiv2::ExifData &exif)
{
    std::optional<QString> model = stringValue(exif, "Exif.Image.Model");
    if (!model || model->trimmed().isEmpty())
        return CameraModelMetadata::unknown();
    return CameraModelMetadata::known(*model);
}

} // namespace

Exiv2PhotoMetadataExtractor::Exiv2PhotoMetadataExtractor()
{
    initializeImageLibraries();
}

Result<PhotoMetadata> Exiv2PhotoMetadataExtractor::metadata(const QString &path) const
{
    try {
        Exiv2::Image::AutoPtr image
            = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        if (image.get() == nullptr)
            return PhotoMetadata::unknown();
        image->readMetadata();
        const Exiv2::ExifData &exif = image->exifData();
        if (exif.empty())
            return PhotoMetadata::unknown();
        return PhotoMetadata{captureTime(exif), captureLocation(exif), cameraModel(exif)};
    } catch (...) {
        // Unreadable, truncated or unrecognised files and any other failure of the library.
        return PhotoMetadata::unknown();
    }
}

} // namespace Pellwick
