#pragma once

#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QString>

/// Drawing shared by the status views of the kit (`StatusBadge`, `AlertStrip`, `StatusLine`,
/// `BackendStatusLine`).
namespace Pellwick::StatusDrawing {

inline constexpr qreal shrinkFactor = 0.85;
inline constexpr qreal tintOpacity = 0.12;

inline QFont captionFont(QFont::Weight weight)
{
    QFont font = PellwickTheme::font(PellwickTheme::TextStyle::Caption);
    font.setWeight(weight);
    return font;
}

/// One line of `text` in `width`: at `font` when it fits, else at 85 % of it, cut at the end
/// when even that does not fit.
struct FittedText
{
    QFont font;
    QString text;
};

inline FittedText fitted(const QFont &font, const QString &text, int width)
{
    if (QFontMetrics(font).horizontalAdvance(text) <= width)
        return {font, text};
    QFont smaller = font;
    smaller.setPointSizeF(font.pointSizeF() * shrinkFactor);
    const QFontMetrics metrics(smaller);
    return {smaller, metrics.elidedText(text, Qt::ElideRight, width)};
}

inline void fillRounded(QPainter &painter, const QRectF &rect, qreal radius, const QColor &colour)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    painter.fillPath(path, colour);
}

inline QLabel *wrappingLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace Pellwick::StatusDrawing
