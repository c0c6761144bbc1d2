#pragma once

#include <QByteArray>

#include <optional>

namespace Pellwick {

/// An 8-bit RGB image, three bytes per pixel, rows packed without padding.
struct PreviewImage
{
    int width = 0;
    int height = 0;
    QByteArray pixels; ///< `width * height * 3` bytes

    bool operator==(const PreviewImage &) const = default;
};

/// Encodes preview images as JPEG in memory.
class PreviewJpegEncoding
{
public:
    PreviewJpegEncoding() = default;
    PreviewJpegEncoding(const PreviewJpegEncoding &) = delete;
    PreviewJpegEncoding &operator=(const PreviewJpegEncoding &) = delete;
    virtual ~PreviewJpegEncoding() = default;

    /// The JPEG file's bytes for `image` at lossy-compression `quality` (0 to 1, higher is
    /// better), or no value when the encoder fails. Thread-safe.
    virtual std::optional<QByteArray> encode(const PreviewImage &image, double quality) const = 0;
};

} // namespace Pellwick
