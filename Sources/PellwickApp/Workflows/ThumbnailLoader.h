#pragma once

#include <PellwickApp/Workflows/Workflow.h>

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

class QObject;
class QThreadPool;

namespace Pellwick {

/// Reads and decodes small thumbnails of preview files off the main thread, as workflow jobs on
/// its pool (by default `WorkflowPools::thumbnails()`). A plain value: copies share the pool.
class ThumbnailLoader
{
public:
    /// The longer side of a thumbnail; smaller images are never enlarged.
    static constexpr int maximumPixelSize = 96;
    /// Larger images are refused from their header, before anything is decoded.
    static constexpr qint64 maximumSourcePixels = 64'000'000;
    /// Larger files are refused before they are read.
    static constexpr qint64 maximumFileBytes = qint64(64) * 1024 * 1024;

    ThumbnailLoader();
    explicit ThumbnailLoader(QThreadPool &pool);

    /// The thumbnail of the image file at `path`, upright (its EXIF orientation applied) and at
    /// most `maximumPixelSize` on its longer side. A null image when the file is missing, empty,
    /// too large, truncated or not an image. Any thread.
    static QImage thumbnail(const QString &path);
    static QImage thumbnail(const QByteArray &data);

    /// Decodes `path` on the pool and calls `deliver` with the thumbnail (null on failure) on
    /// `receiver`'s thread. Nothing is called once `receiver` is destroyed, and a load not yet
    /// read or decoded then stops; a load still queued when the pool is cleared is never
    /// delivered.
    void
    load(const QString &path, QObject *receiver, std::function<void(const QImage &)> deliver) const;

private:
    QThreadPool *m_pool = nullptr;
};

} // namespace Pellwick
