#include "PellwickTheme.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace Pellwick {

QColor PellwickTheme::accent()
{
    return QColor::fromRgbF(0.08F, 0.39F, 0.92F);
}

QColor PellwickTheme::controlSecondary()
{
    return QColor::fromRgbF(0.08F, 0.13F, 0.19F);
}

QColor PellwickTheme::graphite()
{
    return QApplication::palette().color(QPalette::Window);
}

QColor PellwickTheme::controlBackground()
{
    return QApplication::palette().color(QPalette::Button);
}

void PellwickTheme::fillBackground(QWidget &widget, const QColor &colour)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, colour);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

void PellwickTheme::applyPrimaryButtonStyle(QWidget &button)
{
    button.setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: white;"
                                        " border-radius: 6px; padding: 4px 12px; }"
                                        " QPushButton:disabled { color: #c0c0c0; }")
                             .arg(accent().name()));
}

void PellwickTheme::applySecondaryButtonStyle(QWidget &button)
{
    // The fill is dark, so the label is drawn light whatever the palette.
    button.setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: white;"
                                        " border-radius: 6px; padding: 4px 12px;"
                                        " text-align: left; }"
                                        " QPushButton:disabled { color: gray; }")
                             .arg(controlSecondary().name()));
}

} // namespace Pellwick
