#pragma once

#include <QByteArray>

namespace Pellwick {

/// An 8-bit RGB image, three bytes per pixel, rows packed without padding.
struct PreviewImage
{
    int width = 0;
    int height = 0;
    QByteArray pixels; ///< `width * height * 3` bytes

    bool operator==(const PreviewImage &) const = default;

    /// The image reduced so that its longest side is at most `maxPixelSize`, keeping the aspect
    /// ratio (the other side rounded, at least 1); an image already small enough is returned as
    /// it is, never enlarged. Each new pixel is the area-weighted average of the pixels it
    /// covers.
    PreviewImage downscaled(qint64 maxPixelSize) const;
};

} // namespace Pellwick
