#include "PreviewImage.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Pellwick {

namespace {

/// Weights are fixed point with this many fractional bits; those of one output pixel sum to 1.
constexpr int weightBits = 16;
constexpr quint32 weightOne = 1U << weightBits;
/// Extra precision kept between the horizontal and the vertical pass.
constexpr int intermediateBits = 8;

/// The input pixels one output pixel covers along one axis, with their share of it.
struct Footprint
{
    int first = 0;
    std::vector<quint32> weights;
};

/// Footprints of `outputSize` pixels spread evenly over `inputSize` pixels (outputSize <=
/// inputSize): output pixel i covers [i * scale, (i + 1) * scale) of the input.
std::vector<Footprint> footprints(int inputSize, int outputSize)
{
    std::vector<Footprint> result(outputSize);
    const double scale = double(inputSize) / double(outputSize);
    for (int i = 0; i < outputSize; ++i) {
        const double begin = i * scale;
        const double end = std::min(double(inputSize), (i + 1) * scale);
        Footprint &footprint = result[i];
        footprint.first = std::min(int(begin), inputSize - 1);
        const int last = std::clamp(int(std::ceil(end)) - 1, footprint.first, inputSize - 1);
        quint32 assigned = 0;
        for (int x = footprint.first; x <= last; ++x) {
            const double covered = std::min(end, x + 1.0) - std::max(begin, double(x));
            const auto weight = quint32(std::lround(std::max(0.0, covered) / scale * weightOne));
            footprint.weights.push_back(weight);
            assigned += weight;
        }
        // Rounding must not change the brightness: give the remainder to the largest share.
        auto largest = std::max_element(footprint.weights.begin(), footprint.weights.end());
        *largest += weightOne - assigned;
    }
    return result;
}

} // namespace

PreviewImage PreviewImage::downscaled(qint64 maxPixelSize) const
{
    const int longest = std::max(width, height);
    if (longest <= maxPixelSize || maxPixelSize <= 0)
        return *this;
    const double scale = double(maxPixelSize) / double(longest);
    const auto scaledSide = [&](int side) {
        return side == longest ? int(maxPixelSize) : std::max(1, int(std::lround(side * scale)));
    };
    PreviewImage result{scaledSide(width), scaledSide(height), {}};
    result.pixels = QByteArray(qsizetype(result.width) * result.height * 3, Qt::Uninitialized);

    const std::vector<Footprint> columns = footprints(width, result.width);
    const std::vector<Footprint> rows = footprints(height, result.height);
    const int outputRowLength = result.width * 3;
    const auto *input = reinterpret_cast<const quint8 *>(pixels.constData());
    auto *output = reinterpret_cast<quint8 *>(result.pixels.data());

    // Reduces one input row horizontally, to 8 + intermediateBits bits per channel.
    const auto reduceRow = [&](int row, std::vector<quint32> &reduced) {
        const quint8 *inputRow = input + qsizetype(row) * width * 3;
        for (int x = 0; x < result.width; ++x) {
            const Footprint &horizontal = columns[x];
            const quint8 *pixel = inputRow + qsizetype(horizontal.first) * 3;
            quint32 r = 0;
            quint32 g = 0;
            quint32 b = 0;
            for (const quint32 weight : horizontal.weights) {
                r += pixel[0] * weight;
                g += pixel[1] * weight;
                b += pixel[2] * weight;
                pixel += 3;
            }
            constexpr int shift = weightBits - intermediateBits;
            const std::size_t at = std::size_t{3} * std::size_t(x);
            reduced[at] = r >> shift;
            reduced[at + 1] = g >> shift;
            reduced[at + 2] = b >> shift;
        }
    };

    std::vector<quint32> reducedRow(outputRowLength);
    // Neighbouring output rows share the input row on their boundary: it is reduced once.
    std::vector<quint32> lastReducedRow(outputRowLength);
    int lastReducedIndex = -1;
    std::vector<quint64> accumulated(outputRowLength);
    for (int y = 0; y < result.height; ++y) {
        const Footprint &vertical = rows[y];
        std::fill(accumulated.begin(), accumulated.end(), 0);
        for (size_t k = 0; k < vertical.weights.size(); ++k) {
            const int row = vertical.first + int(k);
            if (row != lastReducedIndex) {
                reduceRow(row, reducedRow);
                std::swap(reducedRow, lastReducedRow);
                lastReducedIndex = row;
            }
            const quint64 weight = vertical.weights[k];
            for (int i = 0; i < outputRowLength; ++i)
                accumulated[i] += lastReducedRow[i] * weight;
        }
        constexpr int shift = weightBits + intermediateBits;
        constexpr quint64 half = quint64(1) << (shift - 1);
        quint8 *outputRow = output + qsizetype(y) * outputRowLength;
        for (int i = 0; i < outputRowLength; ++i)
            outputRow[i] = quint8(std::min<quint64>(255, (accumulated[i] + half) >> shift));
    }
    return result;
}

} // namespace Pellwick
