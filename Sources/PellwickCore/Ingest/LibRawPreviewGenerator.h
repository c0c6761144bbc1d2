#pragma once

#include <PellwickCore/Ingest/PreviewGenerating.h>
#include <PellwickCore/Ingest/PreviewJpegEncoding.h>
#include <PellwickCore/Ingest/TurboJpegEncoder.h>
#include <PellwickCore/Support/FileManager.h>

#include <QList>

#include <memory>
#include <optional>

namespace Pellwick {

/// Makes a JPEG preview within a byte budget from the full RAW image: LibRaw decodes it (at half
/// size when that is still large enough), the image is turned upright and downscaled to the
/// candidate's longest side, and the JPEG is encoded in memory down a fixed ladder of qualities.
/// Only the chosen encoding is written, through a hidden temporary file renamed over the
/// destination in one step. Holds only its configuration; thread-safe.
class LibRawPreviewGenerator final : public PreviewGenerating
{
public:
    static constexpr qint64 defaultTargetByteCount = 204800;
    static constexpr qint64 defaultAbsoluteMaxByteCount = 307200;

    /// Reason of a source that cannot be decoded.
    static QString generationFailedReason();
    /// Reason when no candidate size fits the absolute maximum, whatever the configured counts.
    static QString exceedsBudgetReason();

    /// Without `fallbackMaxPixelSize` the fallback is half of `maxPixelSize` (rounded toward
    /// zero) when that is at least 640, otherwise 320. The absolute maximum is raised to
    /// `targetByteCount` when it is smaller.
    LibRawPreviewGenerator(qint64 maxPixelSize,
                           qint64 targetByteCount,
                           qint64 absoluteMaxByteCount,
                           std::optional<qint64> fallbackMaxPixelSize,
                           std::shared_ptr<const FileManager> fileManager
                           = std::make_shared<LocalFileManager>(),
                           std::shared_ptr<const PreviewJpegEncoding> encoder
                           = std::make_shared<TurboJpegEncoder>());

    qint64 maxPixelSize() const { return m_maxPixelSize; }

    qint64 targetByteCount() const { return m_targetByteCount; }

    qint64 absoluteMaxByteCount() const { return m_absoluteMaxByteCount; }

    qint64 fallbackMaxPixelSize() const { return m_fallbackMaxPixelSize; }

    /// The longest sides tried, in order: the maximum, then the fallback, each only when greater
    /// than 0 and not already listed.
    QList<qint64> candidatePixelSizes() const;

    /// A source that cannot be decoded gives the generation-failed reason and leaves the
    /// destination as it was. When no candidate size fits the absolute maximum, the destination
    /// is removed and the budget reason given. Errors: creating the destination's folder or
    /// putting the file in place (`FileSystemError`, the temporary file removed first);
    /// `CancellationError` after a request on `stop`, checked between the stages (reading the
    /// header, decoding, each encoding) and during decoding, the destination left as it was.
    Result<PreviewGenerationResult> generatePreview(const QString &source,
                                                    const QString &destination,
                                                    std::stop_token stop) const override;

    /// As above, never stopped: for callers holding this type rather than the interface.
    [[nodiscard]] Result<PreviewGenerationResult> generatePreview(const QString &source,
                                                                  const QString &destination) const
    {
        return generatePreview(source, destination, {});
    }

    /// ".<destination name>.<UUID in upper case>.tmp" in the destination's folder: the name the
    /// chosen encoding is written under before it is renamed over the destination.
    static QString temporaryURL(const QString &destination);

private:
    qint64 m_maxPixelSize;
    qint64 m_targetByteCount;
    qint64 m_absoluteMaxByteCount;
    qint64 m_fallbackMaxPixelSize;
    std::shared_ptr<const FileManager> m_fileManager;
    std::shared_ptr<const PreviewJpegEncoding> m_encoder;
};

} // namespace Pellwick
