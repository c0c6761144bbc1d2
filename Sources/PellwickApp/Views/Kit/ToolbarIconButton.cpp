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
    setAutoRaise(true);
}

} // namespace Pellwick
