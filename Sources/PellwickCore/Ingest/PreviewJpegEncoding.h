#pragma once

#include <PellwickCore/Ingest/PreviewImage.h>

#include <QByteArray>

#include <optional>

namespace Pellwick {

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
