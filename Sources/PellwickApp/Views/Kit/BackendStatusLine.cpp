#include "BackendStatusLine.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/StatusDrawing_p.h>

#include <QPainter>

#include <algorithm>

namespace Pellwick {

using namespace StatusDrawing;

BackendStatusLine::BackendStatusLine(QWidget *parent)
    : QWidget(parent)
{
    setFont(captionFont(QFont::Normal));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void BackendStatusLine::setStatus(const QString &text, LibraryPresentationTone dotTone)
{
    m_text = text;
    m_dotTone = dotTone;
    updateGeometry();
    update();
}

QSize BackendStatusLine::sizeHint() const
{
    return {8 + 7 + fontMetrics().horizontalAdvance(m_text) + 1,
            std::max(8, fontMetrics().height())};
}

QSize BackendStatusLine::minimumSizeHint() const
{
    return {8 + 7 + fontMetrics().horizontalAdvance(QStringLiteral("…")), sizeHint().height()};
}

void BackendStatusLine::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal middle = height() / 2.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(PellwickTheme::toneColour(m_dotTone));
    painter.drawEllipse(QRectF(0, middle - 4, 8, 8));
    const FittedText shown = fitted(font(), m_text, width() - 15);
    painter.setFont(shown.font);
    painter.setPen(PellwickTheme::secondaryLabel());
    painter.drawText(
        QRect(15, 0, width() - 15, height()), Qt::AlignLeft | Qt::AlignVCenter, shown.text);
}

} // namespace Pellwick
