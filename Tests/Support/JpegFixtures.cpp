#include "JpegFixtures.h"

#include <PellwickCore/Ingest/TurboJpegEncoder.h>

namespace Pellwick::Test {

QByteArray twoColourJpeg(int width, int height)
{
    PreviewImage image{width, height, QByteArray(qsizetype(width) * height * 3, '\0')};
    char *pixel = image.pixels.data();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, pixel += 3) {
            pixel[0] = x < width / 2 ? char(220) : char(20);
            pixel[2] = x < width / 2 ? char(20) : char(220);
        }
    }
    return TurboJpegEncoder().encode(image, 0.9).value_or(QByteArray());
}

QByteArray withExifOrientation(const QByteArray &jpeg, quint16 orientation)
{
    // Big-endian TIFF: header, one IFD with one SHORT entry (0x0112), no next IFD.
    QByteArray tiff("MM\0\x2A\0\0\0\x08", 8);
    tiff.append("\0\x01", 2);
    tiff.append("\x01\x12\0\x03\0\0\0\x01", 8);
    tiff.append(char(orientation >> 8)).append(char(orientation & 0xFF)).append("\0\0", 2);
    tiff.append("\0\0\0\0", 4);
    QByteArray payload("Exif\0\0", 6);
    payload.append(tiff);
    const qsizetype length = payload.size() + 2;
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char(length >> 8)).append(char(length & 0xFF)).append(payload);
    QByteArray spliced = jpeg.left(2);
    return spliced.append(segment).append(jpeg.mid(2));
}

} // namespace Pellwick::Test
