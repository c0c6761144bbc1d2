#include "BackendStatusToolbarItem.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace Pellwick {

BackendStatusToolbarItem::BackendStatusToolbarItem(QWidget *parent)
    : QWidget(parent)
    , m_dot(new QLabel(this))
    , m_label(new QLabel(this))
{
    setObjectName(QStringLiteral("backend-status"));
    setAccessibleName(QStringLiteral("Backend status"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->setSpacing(6);
    m_dot->setFixedSize(10, 10);
    layout->addWidget(m_dot);
    layout->addWidget(m_label);
    setStatus(m_status);
}

QString BackendStatusToolbarItem::text(LibraryShellViewModel::Status status)
{
    return LibraryShellViewModel::toRaw(status);
}

QString BackendStatusToolbarItem::text() const
{
    return text(m_status);
}

void BackendStatusToolbarItem::setStatus(LibraryShellViewModel::Status status)
{
    m_status = status;
    m_label->setText(text(status));
    setAccessibleDescription(text(status));
    QColor colour;
    switch (status) {
    case LibraryShellViewModel::Status::Checking:
        colour = PellwickTheme::systemOrange();
        break;
    case LibraryShellViewModel::Status::Reachable:
        colour = PellwickTheme::systemGreen();
        break;
    case LibraryShellViewModel::Status::Unreachable:
        colour = PellwickTheme::systemRed();
        break;
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap dot(QSize(10, 10) * ratio);
    dot.setDevicePixelRatio(ratio);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1, 1, 8, 8));
    painter.end();
    m_dot->setPixmap(dot);
}

} // namespace Pellwick
