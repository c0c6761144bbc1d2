#include "BackendStatusToolbarItem.h"

#include <QHBoxLayout>
#include <QLabel>

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

QString BackendStatusToolbarItem::text(ShellStatus status)
{
    return toRaw(status);
}

QString BackendStatusToolbarItem::text() const
{
    return text(m_status);
}

void BackendStatusToolbarItem::setStatus(ShellStatus status)
{
    m_status = status;
    m_label->setText(text(status));
    setAccessibleDescription(text(status));
    QString colour;
    switch (status) {
    case ShellStatus::Checking:
        colour = QStringLiteral("#c9a227");
        break;
    case ShellStatus::Reachable:
        colour = QStringLiteral("#2e9e4f");
        break;
    case ShellStatus::Unreachable:
        colour = QStringLiteral("#d64545");
        break;
    }
    m_dot->setStyleSheet(QStringLiteral("background-color: %1; border-radius: 5px;").arg(colour));
}

} // namespace Pellwick
