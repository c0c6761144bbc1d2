#include "ToolbarIconButton.h"

#include <PellwickApp/Views/Kit/SymbolIcons.h>

namespace Pellwick {

ToolbarIconButton::ToolbarIconButton(const QString &title,
                                     const QString &systemImage,
                                     QWidget *parent)
    : QToolButton(parent)
    , m_title(title)
    , m_systemImage(systemImage)
{
    setText(title);
    setToolTip(title);
    setAccessibleName(title);
    setIcon(SymbolIcons::icon(systemImage));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    // Plain and small: a tool button never gets the kit surface.
    setAutoRaise(true);
    setIconSize(QSize(16, 16));
    setFixedSize(28, 28);
}

} // namespace Pellwick
