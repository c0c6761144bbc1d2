#pragma once

#include <QtGlobal>

namespace Pellwick {

/// A half-open range of byte offsets [lowerBound, upperBound) in a file.
struct ByteRange
{
    qint64 lowerBound = 0;
    qint64 upperBound = 0;

    qint64 length() const { return upperBound - lowerBound; }

    bool isEmpty() const { return upperBound == lowerBound; }

    bool operator==(const ByteRange &) const = default;
};

} // namespace Pellwick
