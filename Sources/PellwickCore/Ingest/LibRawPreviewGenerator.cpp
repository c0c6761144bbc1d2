#include "LibRawPreviewGenerator.h"

#include <PellwickCore/Support/AtomicFile.h>

#include <QFile>
#include <QUuid>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <stop_token>

#include <libraw/libraw.h>
#include <malloc.h>
#include <omp.h>

namespace Pellwick {

namespace {

/// JPEG qualities tried for one thumbnail, from the highest down.
constexpr std::array<double, 9> compressionQualities
    = {0.82, 0.72, 0.62, 0.52, 0.42, 0.32, 0.24, 0.18, 0.12};

/// What one decode may allocate for its raw buffer and developed image. Today's largest sensors
/// (about 150 MP) need some 600 MB at half size; a hostile header must not make the decoder
/// allocate gigabytes and work for half a minute.
constexpr qint64 maximumDecodeByteCount = qint64(1) << 30;

/// Fewer bytes than one per this many pixels of the frame cannot hold its image, whatever the
/// compression: a lossless one needs at least a bit per pixel, and even a lossy JPEG of a black
/// frame some bits per block of 64. A decoder that gave up reads next to nothing.
constexpr qint64 pixelsPerLeastByte = 1024;

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

/// Reads the RAW file for LibRaw and counts the bytes its decoder takes while it unpacks the raw
/// image. `unpack` allocates the raw buffer and then seeks to the image data: the first call
/// after `startUnpacking` zeroes that buffer, so what a decoder leaves unwritten is black, never
/// the pixels of a photo decoded before, and counting starts there. LibRaw calls it from one
/// thread at a time (its decoders run single-threaded here).
class CountingDataStream final : public LibRaw_file_datastream
{
public:
    CountingDataStream(const char *path, const LibRaw &processor)
        : LibRaw_file_datastream(path)
        , m_processor(processor)
    {}

    void startUnpacking()
    {
        m_unpacking = true;
        m_bytesRead = 0;
    }

    /// Bytes read since the raw buffer was allocated.
    qint64 bytesRead() const { return m_bytesRead; }

    int read(void *buffer, size_t size, size_t count) override
    {
        beginUnpacking();
        const int items = LibRaw_file_datastream::read(buffer, size, count);
        if (items > 0)
            m_bytesRead += qint64(items) * qint64(size);
        return items;
    }

    int get_char() override
    {
        beginUnpacking();
        const int c = LibRaw_file_datastream::get_char();
        if (c != EOF)
            ++m_bytesRead;
        return c;
    }

    int seek(INT64 offset, int whence) override
    {
        beginUnpacking();
        return LibRaw_file_datastream::seek(offset, whence);
    }

private:
    void beginUnpacking()
    {
        if (!m_unpacking)
            return;
        m_unpacking = false;
        m_bytesRead = 0;
        void *raw = m_processor.imgdata.rawdata.raw_alloc;
        if (raw)
            std::memset(raw, 0, malloc_usable_size(raw));
    }

    const LibRaw &m_processor;
    bool m_unpacking = false;
    qint64 m_bytesRead = 0;
};

/// The full image of one RAW file, decoded on first use at the smallest scale that still serves
/// the thumbnail asked for, turned upright, and kept for the next, smaller thumbnail.
class RawImageSource
{
public:
    /// Decoding gives up soon after a request on `stop`, which must outlive this source.
    explicit RawImageSource(const std::stop_token &stop)
        : m_stop(stop)
    {}

    /// False when the file is not a RAW image LibRaw can read.
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
        m_processor->recycle(); // lets go of the stream of the last parse, if any
        m_stream = std::make_unique<CountingDataStream>(m_path.constData(), *m_processor);
        if (!m_stream->valid() || m_processor->open_datastream(m_stream.get()) != LIBRAW_SUCCESS)
            return false;
        const libraw_image_sizes_t &sizes = m_processor->imgdata.sizes;
        m_parsed = sizes.width > 0 && sizes.height > 0 && sizes.raw_width > 0
                   && sizes.raw_height > 0 && decodeByteCount(true) <= maximumDecodeByteCount;
        return m_parsed;
    }

    /// What unpacking and developing the frame allocates: the raw buffer (with the rows LibRaw
    /// adds, one sample per pixel, four for a frame without a colour filter array) and the
    /// developed image of four 16-bit channels per pixel, at half size or not.
    qint64 decodeByteCount(bool halfSize) const
    {
        const libraw_image_sizes_t &sizes = m_processor->imgdata.sizes;
        const libraw_iparams_t &image = m_processor->imgdata.idata;
        const qint64 samplesPerPixel = image.filters != 0 || image.colors == 1 ? 1 : 4;
        const qint64 rawWidth = std::max<qint64>(sizes.raw_width, sizes.width + sizes.left_margin);
        const qint64 rawHeight
            = std::max<qint64>(sizes.raw_height, sizes.height + sizes.top_margin);
        const qint64 rawBytes = rawWidth * (rawHeight + 8) * 2 * samplesPerPixel;
        const qint64 width = halfSize ? (sizes.width + 1) / 2 : sizes.width;
        const qint64 height = halfSize ? (sizes.height + 1) / 2 : sizes.height;
        return rawBytes + width * height * 8;
    }

    /// True when the decoder read at least the least the frame's image can take.
    bool readImageData() const
    {
        const libraw_image_sizes_t &sizes = m_processor->imgdata.sizes;
        return m_stream->bytesRead() * pixelsPerLeastByte
               >= qint64(sizes.raw_width) * sizes.raw_height;
    }

    std::optional<PreviewImage> decode(bool halfSize)
    {
        if (!m_parsed && !parse())
            return std::nullopt;
        m_parsed = false; // whatever happens below, the next decode parses the file afresh
        if (decodeByteCount(halfSize) > maximumDecodeByteCount)
            return std::nullopt;

        const SingleThreadedDecoding singleThreaded;
        LibRaw &raw = *m_processor;
        libraw_output_params_t &params = raw.imgdata.params;
        params.half_size = halfSize ? 1 : 0;
        params.use_camera_wb = 1;
        params.output_bps = 8;
        params.user_flip = -1;
        params.use_fuji_rotate = 1;

        params.max_raw_memory_mb = unsigned(maximumDecodeByteCount >> 20);

        std::optional<PreviewImage> image;
        // Missing or corrupt pixel data counts as a decoding failure: the decoder would
        // otherwise fill the gaps and report success. So does image data it never read, as when
        // the file claims a compression its data does not have and the decoder gives up at once.
        m_stream->startUnpacking();
        if (raw.unpack() == LIBRAW_SUCCESS && raw.error_count() == 0 && readImageData()
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
    // Declared before the processor that reads through it, so that it outlives the processor.
    std::unique_ptr<CountingDataStream> m_stream;
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
