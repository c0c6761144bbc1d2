#pragma once

#include <PellwickCore/Ingest/PreviewJpegEncoding.h>

namespace Pellwick {

/// Baseline JPEG with 4:2:0 chroma subsampling through TurboJPEG; the quality 0 to 1 maps to the
/// encoder's 1 to 100. Stateless and thread-safe: each call uses its own compressor.
class TurboJpegEncoder final : public PreviewJpegEncoding
{
public:
    std::optional<QByteArray> encode(const PreviewImage &image, double quality) const override;
};

} // namespace Pellwick
