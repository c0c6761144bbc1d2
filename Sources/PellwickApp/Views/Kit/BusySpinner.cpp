#include "BusySpinner.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QPainter>
#include <QTimerEvent>

namespace Pellwick {

namespace {

constexpr int spokes = 8;
constexpr int stepMilliseconds = 100;

} // namespace

BusySpinner::BusySpinner(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(sizeHint());
    setAccessibleName(QStringLiteral("In progress"));
}

void BusySpinner::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(QRectF(rect()).center());
    const qreal radius = std::min(width(), height()) / 2.0;
    const QColor colour = PellwickTheme::secondaryLabel();
    for (int spoke = 0; spoke < spokes; ++spoke) {
        // The spoke at the current step is darkest; the ones behind it fade.
        const int age = (m_step - spoke + spokes) % spokes;
        painter.setPen(QPen(PellwickTheme::withOpacity(colour, 1.0 - age / double(spokes)),
                            radius / 4,
                            Qt::SolidLine,
                            Qt::RoundCap));
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.85));
        painter.rotate(360.0 / spokes);
    }
}

void BusySpinner::showEvent(QShowEvent * /*event*/)
{
    m_timer.start(stepMilliseconds, this);
}

void BusySpinner::hideEvent(QHideEvent * /*event*/)
{
    m_timer.stop();
}

void BusySpinner::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    m_step = (m_step + 1) % spokes;
    update();
}

} // namespace Pellwick
