#include "StatusBadge.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/StatusDrawing_p.h>

#include <QPainter>

namespace Pellwick {

using namespace StatusDrawing;

StatusBadge::StatusBadge(const QString &text, LibraryPresentationTone tone, QWidget *parent)
    : QWidget(parent)
    , m_text(text)
    , m_tone(tone)
{
    setFont(captionFont(QFont::DemiBold));
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setAccessibleName(text);
}

void StatusBadge::setText(const QString &text)
{
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void StatusBadge::setTone(LibraryPresentationTone tone)
{
    m_tone = tone;
    update();
}

QString StatusBadge::shownText() const
{
    return fitted(font(), m_text, width() - 14).text;
}

qreal StatusBadge::shownPointSize() const
{
    return fitted(font(), m_text, width() - 14).font.pointSizeF();
}

QSize StatusBadge::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(m_text) + 1 + 14, fontMetrics().height() + 6};
}

QSize StatusBadge::minimumSizeHint() const
{
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) + 14, sizeHint().height()};
}

void StatusBadge::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = PellwickTheme::toneColour(m_tone);
    fillRounded(painter, rect(), 6, PellwickTheme::withOpacity(colour, tintOpacity));
    const FittedText shown = fitted(font(), m_text, width() - 14);
    painter.setFont(shown.font);
    painter.setPen(colour);
    painter.drawText(rect().adjusted(7, 3, -7, -3), Qt::AlignCenter, shown.text);
}

} // namespace Pellwick
