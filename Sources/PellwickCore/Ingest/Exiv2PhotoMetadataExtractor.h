#pragma once

#include <PellwickCore/Ingest/PhotoMetadata.h>

namespace Pellwick {

/// Reads the stored TIFF, EXIF and GPS values of a RAW original (or any image format the metadata
/// library detects by content, whatever the file's extension) without decoding pixels.
///
/// - capture time: the first of EXIF DateTimeOriginal, EXIF DateTimeDigitized and TIFF DateTime
///   that is present as text, parsed as "yyyy:MM:dd HH:mm:ss" in UTC; when that one text does not
///   parse, the time is unknown (the later ones are not tried);
/// - capture location: GPS latitude and longitude, each from its degrees, minutes and seconds
///   rationals, negated for an "S" or "W" reference in any letter case; unknown unless both are
///   present (a zero denominator counts as missing);
/// - camera model: the TIFF Model text as stored, untrimmed; unknown when missing or only white
///   space.
///
/// Never fails: an unreadable or unrecognised file gives `PhotoMetadata::unknown()`. Stateless
/// and safe to call from any thread at once.
class Exiv2PhotoMetadataExtractor final : public PhotoMetadataExtracting
{
public:
    /// Calls `initializeImageLibraries()` (once per process).
    Exiv2PhotoMetadataExtractor();

    Result<PhotoMetadata> metadata(const QString &path) const override;
};

} // namespace Pellwick
