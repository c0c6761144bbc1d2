#pragma once

#include <QByteArray>

namespace Pellwick::Test {

/// A JPEG of `width` × `height` written by the production encoder: its left half red, its right
/// half blue, so a rotation shows.
QByteArray twoColourJpeg(int width, int height);

/// `jpeg` with an EXIF APP1 segment holding one Orientation tag (1–8) spliced in after its
/// start-of-image marker.
QByteArray withExifOrientation(const QByteArray &jpeg, quint16 orientation);

} // namespace Pellwick::Test
