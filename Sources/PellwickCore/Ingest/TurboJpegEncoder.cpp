#include "TurboJpegEncoder.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <turbojpeg.h>

namespace Pellwick {

std::optional<QByteArray> TurboJpegEncoder::encode(const PreviewImage &image, double quality) const
{
    if (image.width <= 0 || image.height <= 0 || !std::isfinite(quality)
        || image.pixels.size() != qint64(image.width) * image.height * 3)
        return std::nullopt;

    const std::unique_ptr<void, int (*)(tjhandle)> compressor(tjInitCompress(), tjDestroy);
    if (!compressor)
        return std::nullopt;
    const int encoderQuality = std::clamp(static_cast<int>(std::lround(quality * 100.0)), 1, 100);

    unsigned char *jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int rc = tjCompress2(compressor.get(),
                               reinterpret_cast<const unsigned char *>(image.pixels.constData()),
                               image.width,
                               0,
                               image.height,
                               TJPF_RGB,
                               &jpeg,
                               &jpegSize,
                               TJSAMP_420,
                               encoderQuality,
                               0);
    const std::unique_ptr<unsigned char, void (*)(unsigned char *)> owned(jpeg, tjFree);
    if (rc != 0 || !jpeg || jpegSize == 0)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char *>(jpeg), static_cast<qsizetype>(jpegSize));
}

} // namespace Pellwick
