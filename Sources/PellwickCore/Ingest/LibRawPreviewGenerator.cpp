#include "LibRawPreviewGenerator.h"

#include <PellwickCore/Support/AtomicFile.h>

#include <QFile>
#include <QUuid>

#include <algorithm>
#include <array>
#include <stop_token>

#include <libraw/libraw.h>
#include <omp.h>

namespace Pellwick {

namespace {

/// JPEG qualities tried for one thumbnail, from the highest down.
constexpr std::array<double, 9> compressionQualities
    = {0.82, 0.72, 0.62, 0.52, 0.42, 0.32, 0.24, 0.18, 0.12};

/// Larger originals are refused rather than decoded: no camera comes near this, and a hostile
/// header must not make the decoder allocate gigabytes.
constexpr qint64 maximumSourcePixelCount = 600'000'000;

void ignoreDataError(void *, const char *, int) {}

/// Asks LibRaw to give up decoding once a stop is requested.
int cancelOnStop(void *stop, enum LibRaw_progress, int, int)
{
    return static_cast<const std::stop_token *>(stop)->stop_requested() ? 1 : 0;
}

/// Keeps LibRaw's OpenMP loops on the calling thread while it lives. Previews are made one per
/// worker thread, so the parallelism belongs to the caller; a team of threads per decode gains
/// little here and, with the cores busy, only spins and slows every preview down.
class SingleThreadedDecoding
{
public:
    SingleThreadedDecoding()
        : m_previous(omp_get_max_threads())
    {
        omp_set_num_threads(1);
    }

    SingleThreadedDecoding(const SingleThreadedDecoding &) = delete;
    SingleThreadedDecoding &operator=(const SingleThreadedDecoding &) = delete;

    ~SingleThreadedDecoding() { omp_set_num_threads(m_previous); }

private:
    int m_previous;
};

/// The full image of one RAW file, decoded on first use at the smallest scale that still serves
/// the thumbnail asked for, turned upright, and kept for the next, smaller thumbnail.
class RawImageSource
{
public:
    /// False when the file is not a RAW image LibRaw can read.
    /// Decoding gives up soon after a request on `stop`, which must outlive this source.
    explicit RawImageSource(const std::stop_token &stop)
        : m_stop(stop)
    {}

    bool open(const QString &path)
    {
        m_path = QFile::encodeName(path);
        try {
            m_processor = std::make_unique<LibRaw>();
            m_processor->set_dataerror_handler(ignoreDataError, nullptr);
            // LibRaw passes the pointer back unchanged; the handler only reads through it.
            m_processor->set_progress_handler(cancelOnStop, const_cast<std::stop_token *>(&m_stop));
            if (!parse())
                return false;
            const libraw_image_sizes_t &sizes = m_processor->imgdata.sizes;
            m_longSide = std::max(sizes.width, sizes.height);
            return true;
        } catch (...) {
            return false;
        }
    }

    /// The upright image downscaled so that its longest side is at most `maxPixelSize` (never
    /// upscaled), or no value when the file cannot be decoded.
    std::optional<PreviewImage> thumbnail(qint64 maxPixelSize)
    {
        try {
            if (!m_decoded || (m_decodedAtHalfSize && longSide(*m_decoded) < maxPixelSize)) {
                m_decoded.reset();
                const bool halfSize = m_longSide / 2 >= maxPixelSize;
                m_decoded = decode(halfSize);
                m_decodedAtHalfSize = halfSize;
            }
            if (!m_decoded)
                return std::nullopt;
            return m_decoded->downscaled(maxPixelSize);
        } catch (...) {
            return std::nullopt;
        }
    }

private:
    static qint64 longSide(const PreviewImage &image)
    {
        return std::max(image.width, image.height);
    }

    bool parse()
    {
        if (m_processor->open_file(m_path.constData()) != LIBRAW_SUCCESS)
            return false;
        const libraw_image_sizes_t &sizes = m_processor->imgdata.sizes;
        m_parsed = sizes.width > 0 && sizes.height > 0 && sizes.raw_width > 0
                   && sizes.raw_height > 0
                   && qint64(sizes.raw_width) * sizes.raw_height <= maximumSourcePixelCount;
        return m_parsed;
    }

    std::optional<PreviewImage> decode(bool halfSize)
    {
        if (!m_parsed && !parse())
            return std::nullopt;
        m_parsed = false; // whatever happens below, the next decode parses the file afresh

        const SingleThreadedDecoding singleThreaded;
        LibRaw &raw = *m_processor;
        libraw_output_params_t &params = raw.imgdata.params;
        params.half_size = halfSize ? 1 : 0;
        params.use_camera_wb = 1;
        params.output_bps = 8;
        params.user_flip = -1;
        params.use_fuji_rotate = 1;

        std::optional<PreviewImage> image;
        // Missing or corrupt pixel data counts as a decoding failure: the decoder would
        // otherwise fill the gaps and report success.
        if (raw.unpack() == LIBRAW_SUCCESS && raw.error_count() == 0
            && raw.dcraw_process() == LIBRAW_SUCCESS && raw.error_count() == 0)
            image = upright(raw);
        raw.recycle();
        return image;
    }

    /// Copies the processed image out with the orientation applied.
    static std::optional<PreviewImage> upright(LibRaw &raw)
    {
        int width = 0;
        int height = 0;
        int colors = 0;
        int bitsPerSample = 0;
        raw.get_mem_image_format(&width, &height, &colors, &bitsPerSample);
        if (width <= 0 || height <= 0 || bitsPerSample != 8 || (colors != 1 && colors != 3))
            return std::nullopt;

        PreviewImage image{
            width, height, QByteArray(qsizetype(width) * height * 3, Qt::Uninitialized)};
        auto *pixels = reinterpret_cast<unsigned char *>(image.pixels.data());
        if (raw.copy_mem_image(pixels, width * colors, 0) != 0)
            return std::nullopt;
        if (colors == 1) {
            // Spread the grey values over three channels, from the end so nothing is overwritten.
            for (qsizetype i = qsizetype(width) * height - 1; i >= 0; --i)
                pixels[3 * i] = pixels[3 * i + 1] = pixels[3 * i + 2] = pixels[i];
        }
        return image;
    }

    const std::stop_token &m_stop;
    QByteArray m_path;
    std::unique_ptr<LibRaw> m_processor;
    bool m_parsed = false;
    qint64 m_longSide = 0;
    std::optional<PreviewImage> m_decoded;
    bool m_decodedAtHalfSize = false;
};

} // namespace

QString LibRawPreviewGenerator::generationFailedReason()
{
    return QStringLiteral("Preview generation failed");
}

QString LibRawPreviewGenerator::exceedsBudgetReason()
{
    return QStringLiteral("Preview exceeds 300 KB budget");
}

LibRawPreviewGenerator::LibRawPreviewGenerator(qint64 maxPixelSize,
                                               qint64 targetByteCount,
                                               qint64 absoluteMaxByteCount,
                                               std::optional<qint64> fallbackMaxPixelSize,
                                               std::shared_ptr<const FileManager> fileManager,
                                               std::shared_ptr<const PreviewJpegEncoding> encoder)
    : m_maxPixelSize(maxPixelSize)
    , m_targetByteCount(targetByteCount)
    , m_absoluteMaxByteCount(std::max(absoluteMaxByteCount, targetByteCount))
    , m_fallbackMaxPixelSize(
          fallbackMaxPixelSize.value_or(maxPixelSize >= 640 ? maxPixelSize / 2 : 320))
    , m_fileManager(std::move(fileManager))
    , m_encoder(std::move(encoder))
{}

QList<qint64> LibRawPreviewGenerator::candidatePixelSizes() const
{
    QList<qint64> sizes;
    for (const qint64 size : {m_maxPixelSize, m_fallbackMaxPixelSize}) {
        if (size > 0 && !sizes.contains(size))
            sizes.append(size);
    }
    return sizes;
}

QString LibRawPreviewGenerator::temporaryURL(const QString &destination)
{
    return parentPath(destination) + QStringLiteral("/.") + lastPathComponent(destination)
           + QLatin1Char('.') + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
           + QStringLiteral(".tmp");
}

namespace {

/// The quality ladder for one thumbnail: the first encoding within the target, else the smallest
/// within the absolute maximum (the higher quality on a tie), else nothing. An encoder failure
/// ends the ladder with nothing, so the next size is tried.
std::optional<QByteArray> encodeBestPreview(const PreviewJpegEncoding &encoder,
                                            const PreviewImage &thumbnail,
                                            qint64 targetByteCount,
                                            qint64 absoluteMaxByteCount,
                                            const std::stop_token &stop)
{
    std::optional<QByteArray> kept;
    for (const double quality : compressionQualities) {
        if (stop.stop_requested())
            return std::nullopt; // the caller sees the stop
        std::optional<QByteArray> encoded = encoder.encode(thumbnail, quality);
        if (!encoded || encoded->isEmpty())
            return std::nullopt;
        const qint64 byteCount = encoded->size();
        if (byteCount <= targetByteCount)
            return encoded;
        if (byteCount <= absoluteMaxByteCount && (!kept || byteCount < kept->size()))
            kept = std::move(encoded);
    }
    return kept;
}

} // namespace

Result<PreviewGenerationResult> LibRawPreviewGenerator::generatePreview(const QString &source,
                                                                        const QString &destination,
                                                                        std::stop_token stop) const
{
    if (stop.stop_requested())
        return failure(CancellationError{});
    RawImageSource image(stop);
    const bool opened = image.open(source);
    if (stop.stop_requested())
        return failure(CancellationError{});
    if (!opened)
        return PreviewGenerationResult::failure(generationFailedReason());

    PELLWICK_TRY(m_fileManager->createDirectory(parentPath(destination)));

    for (const qint64 size : candidatePixelSizes()) {
        const std::optional<PreviewImage> thumbnail = image.thumbnail(size);
        if (stop.stop_requested())
            return failure(CancellationError{});
        if (!thumbnail)
            return PreviewGenerationResult::failure(generationFailedReason());
        const std::optional<QByteArray> chosen = encodeBestPreview(
            *m_encoder, *thumbnail, m_targetByteCount, m_absoluteMaxByteCount, stop);
        if (stop.stop_requested())
            return failure(CancellationError{});
        if (!chosen)
            continue;
        // One rename over the old preview: a failure leaves the old one in place.
        PELLWICK_TRY(
            writeFileAtomically(*m_fileManager, destination, *chosen, temporaryURL(destination)));
        return PreviewGenerationResult::success();
    }

    // A stale preview must not stand in for this original. Only a file is removed: a folder at
    // the destination is never the preview.
    if (Result<FileAttributes> existing = m_fileManager->attributesOfItem(destination);
        existing && existing->type != FileAttributes::Type::Directory)
        (void) m_fileManager->removeItem(destination);
    return PreviewGenerationResult::failure(exceedsBudgetReason());
}

} // namespace Pellwick
