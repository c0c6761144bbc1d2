#include "PellwickBrandMark.h"

#include <PellwickApp/Views/Kit/PellwickAppIcon.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QPainter>
#include <QPainterPath>

namespace Pellwick {

PellwickBrandMark::PellwickBrandMark(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("pellwick.brand-mark"));
    setAccessibleName(QStringLiteral("Pellwick"));
}

void PellwickBrandMark::paintFallback(QPainter &painter, const QRectF &frame)
{
    constexpr qreal outerRadius = 8;
    constexpr qreal innerRadius = 3;
    constexpr qreal inset = 7;
    constexpr qreal lineWidth = 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(frame.topLeft());
    // The mark's measures are for a 28-point square; larger frames scale them alike.
    painter.scale(frame.width() / titleSize, frame.height() / titleSize);
    QPainterPath square;
    square.addRoundedRect(QRectF(0, 0, titleSize, titleSize), outerRadius, outerRadius);
    painter.fillPath(square, PellwickTheme::accent());
    QPainterPath outline;
    outline.addRoundedRect(QRectF(inset, inset, titleSize - 2 * inset, titleSize - 2 * inset),
                           innerRadius,
                           innerRadius);
    QPen pen(Qt::white, lineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.strokePath(outline, pen);
    painter.restore();
}

void PellwickBrandMark::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    const std::optional<QImage> picture = PellwickAppIcon::image();
    if (!picture) {
        paintFallback(painter, rect());
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF fitted = QSizeF(picture->size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target((width() - fitted.width()) / 2,
                        (height() - fitted.height()) / 2,
                        fitted.width(),
                        fitted.height());
    painter.drawImage(target, *picture);
}

} // namespace Pellwick
