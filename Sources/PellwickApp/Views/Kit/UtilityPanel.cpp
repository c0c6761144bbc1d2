#include "UtilityPanel.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace Pellwick {

UtilityPanel::UtilityPanel(const QString &title, const QString &systemImage, QWidget *parent)
    : QWidget(parent)
{
    setMinimumHeight(minimumPanelHeight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);
    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    auto *symbol = new QLabel(this);
    symbol->setPixmap(
        SymbolIcons::pixmap(systemImage, PellwickTheme::label(), 16, devicePixelRatioF()));
    auto *titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("utility-panel.title"));
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Headline));
    titleRow->addWidget(symbol);
    titleRow->addWidget(titleLabel, 1);
    layout->addLayout(titleRow);
    m_content = new QVBoxLayout;
    m_content->setSpacing(8);
    layout->addLayout(m_content);
    layout->addStretch(1);
}

void UtilityPanel::paintEvent(QPaintEvent * /*event*/)
{
    constexpr qreal radius = 12;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(bounds, radius, radius);
    painter.fillPath(shape, PellwickTheme::controlBackground());
    painter.save();
    painter.setClipPath(shape);
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    painter.fillRect(
        QRectF(rightToLeft ? bounds.right() - 3 : bounds.left(), bounds.top(), 3, bounds.height()),
        PellwickTheme::accent());
    painter.restore();
    painter.strokePath(shape, QPen(PellwickTheme::border(), 1));
}

} // namespace Pellwick
