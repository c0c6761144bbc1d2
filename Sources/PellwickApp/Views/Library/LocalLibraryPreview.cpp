#include "LocalLibraryPreview.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QPainter>

#include <algorithm>

namespace Pellwick {

LocalLibraryPreview::LocalLibraryPreview(QWidget *parent)
    : LocalLibraryPreview(ThumbnailLoader(), parent)
{}

LocalLibraryPreview::LocalLibraryPreview(ThumbnailLoader loader, QWidget *parent)
    : QWidget(parent)
    , m_loader(loader)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void LocalLibraryPreview::setPreviewURL(const std::optional<QString> &previewURL)
{
    if (previewURL == m_previewURL)
        return;
    m_previewURL = previewURL;
    const quint64 generation = ++m_generation;
    update();
    if (!m_previewURL)
        return;
    m_loader.load(*m_previewURL, this, [this, generation](const QImage &image) {
        if (generation != m_generation)
            return;
        m_image = image;
        update();
        Q_EMIT loadFinished();
    });
}

void LocalLibraryPreview::drawFilling(QPainter &painter, const QRect &frame, const QImage &image)
{
    if (frame.isEmpty() || image.isNull())
        return;
    const QSize filled = image.size().scaled(frame.size(), Qt::KeepAspectRatioByExpanding);
    QRect target(QPoint(), filled);
    target.moveCenter(frame.center());
    painter.save();
    painter.setClipRect(frame, Qt::IntersectClip);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
    painter.restore();
}

void LocalLibraryPreview::drawPlaceholder(QPainter &painter, const QRect &frame)
{
    const int side = std::min({18, frame.width(), frame.height()});
    if (side <= 0)
        return;
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QPixmap symbol = SymbolIcons::pixmap(
        QStringLiteral("photo"), PellwickTheme::secondaryLabel(), side, ratio);
    QRect target(0, 0, side, side);
    target.moveCenter(frame.center());
    painter.drawPixmap(target, symbol);
}

QSize LocalLibraryPreview::sizeHint() const
{
    return {ThumbnailLoader::maximumPixelSize / 2, ThumbnailLoader::maximumPixelSize / 2};
}

void LocalLibraryPreview::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    if (isShowingPlaceholder())
        drawPlaceholder(painter, rect());
    else
        drawFilling(painter, rect(), m_image);
}

LocalLibraryPreviewPainter::LocalLibraryPreviewPainter(QObject *parent)
    : LocalLibraryPreviewPainter(ThumbnailLoader(), parent)
{}

LocalLibraryPreviewPainter::LocalLibraryPreviewPainter(ThumbnailLoader loader, QObject *parent)
    : QObject(parent)
    , m_loader(loader)
{}

void LocalLibraryPreviewPainter::paint(QPainter &painter,
                                       const QRect &frame,
                                       const std::optional<QString> &previewURL)
{
    if (!previewURL) {
        LocalLibraryPreview::drawPlaceholder(painter, frame);
        return;
    }
    if (!paintLoaded(painter, frame, *previewURL))
        load(*previewURL);
}

bool LocalLibraryPreviewPainter::paintLoaded(QPainter &painter,
                                             const QRect &frame,
                                             const QString &previewURL)
{
    const QImage *thumbnail = m_thumbnails.object(previewURL);
    if (thumbnail && !thumbnail->isNull())
        LocalLibraryPreview::drawFilling(painter, frame, *thumbnail);
    else
        LocalLibraryPreview::drawPlaceholder(painter, frame);
    return thumbnail != nullptr;
}

void LocalLibraryPreviewPainter::load(const QString &previewURL)
{
    if (m_thumbnails.contains(previewURL) || m_loading.contains(previewURL))
        return;
    m_loading.insert(previewURL);
    m_loader.load(previewURL, this, [this, previewURL](const QImage &image) {
        m_loading.remove(previewURL);
        m_thumbnails.insert(previewURL, new QImage(image));
        Q_EMIT thumbnailLoaded(previewURL);
    });
}

} // namespace Pellwick
