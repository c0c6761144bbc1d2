#include "ThumbnailLoader.h"

#include <QBuffer>
#include <QFile>
#include <QFutureWatcher>
#include <QImageReader>
#include <QThreadPool>

#include <algorithm>
#include <memory>
#include <stop_token>

namespace Pellwick {

namespace {

/// A JPEG cut short still decodes (the missing rows grey), so its end marker is required: the
/// marker bytes cannot occur inside entropy-coded data.
bool endsWithEndOfImage(const QByteArray &data)
{
    qsizetype end = data.size();
    while (end > 0 && data.at(end - 1) == '\0')
        --end;
    return end >= 2 && quint8(data.at(end - 2)) == 0xFF && quint8(data.at(end - 1)) == 0xD9;
}

/// The thumbnail of `path`, unless `stop` is requested before the file is read or decoded.
Result<QImage> thumbnailUnlessStopped(const QString &path, const std::stop_token &stop)
{
    if (stop.stop_requested())
        return failure(CancellationError{});
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    // Read whole so that a file replaced meanwhile is decoded from one consistent snapshot.
    const QByteArray data = file.read(ThumbnailLoader::maximumFileBytes + 1);
    if (data.size() > ThumbnailLoader::maximumFileBytes)
        return QImage();
    if (stop.stop_requested())
        return failure(CancellationError{});
    return ThumbnailLoader::thumbnail(data);
}

} // namespace

ThumbnailLoader::ThumbnailLoader()
    : ThumbnailLoader(WorkflowPools::thumbnails())
{}

ThumbnailLoader::ThumbnailLoader(QThreadPool &pool)
    : m_pool(&pool)
{}

QImage ThumbnailLoader::thumbnail(const QString &path)
{
    return thumbnailUnlessStopped(path, {}).value_or(QImage());
}

QImage ThumbnailLoader::thumbnail(const QByteArray &data)
{
    if (data.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isEmpty() || qint64(size.width()) * size.height() > maximumSourcePixels)
        return {};
    if (reader.format() == "jpeg" && !endsWithEndOfImage(data))
        return {};
    if (std::max(size.width(), size.height()) > maximumPixelSize) {
        QSize scaled = size.scaled(maximumPixelSize, maximumPixelSize, Qt::KeepAspectRatio);
        reader.setScaledSize(scaled.expandedTo(QSize(1, 1)));
    }
    QImage image;
    if (!reader.read(&image))
        return {};
    return image;
}

void ThumbnailLoader::load(const QString &path,
                           QObject *receiver,
                           std::function<void(const QImage &)> deliver) const
{
    // The watcher belongs to the receiver: destroying the receiver destroys it, and with it the
    // delivery; it also stops the load, so one still waiting for a thread (as at quitting, when
    // the window goes) reads nothing.
    auto *watcher = new QFutureWatcher<Result<QImage>>(receiver);
    auto task = std::make_shared<WorkflowTaskHandle>();
    QObject::connect(watcher, &QObject::destroyed, [task] { task->cancel(); });
    QObject::connect(
        watcher, &QFutureWatcherBase::finished, receiver, [watcher, deliver = std::move(deliver)] {
            watcher->deleteLater();
            if (watcher->future().resultCount() > 0 && watcher->result())
                deliver(*watcher->result());
        });
    watcher->setFuture(Workflow::run(
        *m_pool, [path, stop = task->token()] { return thumbnailUnlessStopped(path, stop); }));
}

} // namespace Pellwick
