#include "ThumbnailLoader.h"

#include <QBuffer>
#include <QFile>
#include <QFutureWatcher>
#include <QImageReader>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>

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

} // namespace

ThumbnailLoader::ThumbnailLoader()
    : ThumbnailLoader(WorkflowPools::thumbnails())
{}

ThumbnailLoader::ThumbnailLoader(QThreadPool &pool)
    : m_pool(&pool)
{}

QImage ThumbnailLoader::thumbnail(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Read whole so that a file replaced meanwhile is decoded from one consistent snapshot.
    const QByteArray data = file.read(maximumFileBytes + 1);
    if (data.size() > maximumFileBytes)
        return {};
    return thumbnail(data);
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
    // delivery.
    auto *watcher = new QFutureWatcher<QImage>(receiver);
    QObject::connect(
        watcher, &QFutureWatcherBase::finished, receiver, [watcher, deliver = std::move(deliver)] {
            watcher->deleteLater();
            if (watcher->future().resultCount() > 0)
                deliver(watcher->result());
        });
    watcher->setFuture(QtConcurrent::run(m_pool, [path] { return thumbnail(path); }));
}

} // namespace Pellwick
