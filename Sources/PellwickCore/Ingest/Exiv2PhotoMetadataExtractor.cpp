#include "Exiv2PhotoMetadataExtractor.h"

#include <PellwickCore/Ingest/ImageLibraries.h>
#include <PellwickCore/Support/FileManager.h>

#include <QByteArrayView>
#include <QDateTime>
#include <QFile>
#include <QScopeGuard>
#include <QTimeZone>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

/// The most UTF-8 bytes of a camera model that are kept. Real models take a few dozen; a crafted
/// file's text of megabytes would otherwise be stored in its record and searched with it.
constexpr qsizetype maximumModelBytes = 255;

CameraModelMetadata cameraModel(const Exiv2::ExifData &exif)
{
    std::optional<QString> model = stringValue(exif, "Exif.Image.Model");
    if (!model || model->trimmed().isEmpty())
        return CameraModelMetadata::unknown();
    return CameraModelMetadata::known(leadingUtf8Bytes(*model, maximumModelBytes));
}

/// Box types the metadata library reads as holding further boxes, descending into each by a
/// recursive call. Every level of nesting it follows starts at a distinct offset of the file and
/// carries one of these types there.
constexpr std::array<QByteArrayView, 6> containerBoxTypes{
    "moov", "meta", "iprp", "ipco", "iinf", "uuid"};

/// How many container box types an ISO base media file (a CR3) may show before it is taken for
/// crafted. A real one has a handful; thousands nested in each other exhaust the library's stack.
constexpr int maximumContainerBoxTypes = 256;

/// Whether the file at `path` may be given to the metadata library: a regular file (a FIFO would
/// block it for ever) that is not an ISO base media file whose nesting could exhaust the stack.
/// Counts the container box types anywhere in such a file, whatever its boxes claim: a count
/// within the limit bounds the depth of the library's recursion, however it reads the sizes.
bool isSafeToParse(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true; // the library reports the same failure as an unreadable file
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });

    struct stat status
    {};

    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return false;

    constexpr qsizetype scanChunkSize = qsizetype{1024} * 1024;
    constexpr qsizetype overlap = 3; // a type cut by a chunk boundary is found in the next chunk
    QByteArray buffer(scanChunkSize + overlap, Qt::Uninitialized);
    qsizetype carried = 0;
    bool firstChunk = true;
    int containers = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data() + carried, size_t(scanChunkSize));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0; // a read error: the library would fail to read the file as well
        const QByteArrayView bytes(buffer.constData(), carried + n);
        if (firstChunk && (bytes.size() < 8 || bytes.sliced(4, 4) != "ftyp"))
            return true; // not a box file: its formats have no such recursion
        firstChunk = false;
        // The carried bytes are fewer than a type's four: no type is counted twice.
        for (const QByteArrayView type : containerBoxTypes) {
            for (qsizetype at = bytes.indexOf(type); at >= 0; at = bytes.indexOf(type, at + 1)) {
                if (++containers > maximumContainerBoxTypes)
                    return false;
            }
        }
        carried = std::min<qsizetype>(overlap, bytes.size());
        std::memmove(buffer.data(), bytes.data() + bytes.size() - carried, size_t(carried));
    }
}

} // namespace

Exiv2PhotoMetadataExtractor::Exiv2PhotoMetadataExtractor()
{
    initializeImageLibraries();
}

Result<PhotoMetadata> Exiv2PhotoMetadataExtractor::metadata(const QString &path) const
{
    if (!isSafeToParse(path))
        return PhotoMetadata::unknown();
    try {
        // The library hands out a deprecated auto_ptr; own the image without naming that type.
        const std::unique_ptr<Exiv2::Image> image(
            Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString()).release());
        if (!image)
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
