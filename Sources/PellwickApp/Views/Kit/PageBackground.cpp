#include "PageBackground.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QLinearGradient>
#include <QPainter>

namespace Pellwick {

PageBackground::PageBackground(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PageBackground::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    const QColor window = PellwickTheme::windowBackground();
    QColor accent = PellwickTheme::accent();
    accent.setAlphaF(0.13F);
    // The stops blend over the window colour, as the gradient is drawn over the page.
    painter.fillRect(rect(), window);
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    QLinearGradient gradient(rightToLeft ? rect().topRight() : rect().topLeft(),
                             rightToLeft ? rect().bottomLeft() : rect().bottomRight());
    gradient.setColorAt(0, accent);
    gradient.setColorAt(0.5, window);
    gradient.setColorAt(1, window);
    painter.fillRect(rect(), gradient);
}

} // namespace Pellwick
