#include "BackendStatusToolbarItem.h"

#include <PellwickApp/Views/Kit/BackendStatusLine.h>
#include <PellwickApp/Views/Kit/KitAccessibility.h>

#include <QHBoxLayout>

namespace Pellwick {

BackendStatusToolbarItem::BackendStatusToolbarItem(QWidget *parent)
    : QWidget(parent)
    , m_line(new BackendStatusLine(this))
{
    setObjectName(QStringLiteral("backend-status"));
    setAccessibleName(QStringLiteral("Backend API"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->addWidget(m_line);
}

void BackendStatusToolbarItem::setStatus(const QString &text, LibraryPresentationTone dotTone)
{
    m_line->setStatus(text, dotTone);
    KitAccessibility::setAccessibleValue(*this, text);
}

QString BackendStatusToolbarItem::text() const
{
    return m_line->text();
}

} // namespace Pellwick
