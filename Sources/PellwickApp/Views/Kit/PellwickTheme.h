#pragma once

#include <QColor>

class QWidget;

namespace Pellwick {

/// The application's colours.
class PellwickTheme
{
public:
    PellwickTheme() = delete;

    /// The accent: sRGB 0.08, 0.39, 0.92.
    static QColor accent();
    /// The fill of secondary buttons: sRGB 0.08, 0.13, 0.19.
    static QColor controlSecondary();
    /// The window background: behind the sidebar and, at 0.72 opacity, the status region.
    static QColor graphite();
    /// The background of controls: behind the mount proposal banner.
    static QColor controlBackground();

    /// Fills `widget`'s background with `colour`.
    static void fillBackground(QWidget &widget, const QColor &colour);
    /// Styles `button` as a primary button: accent fill, white text.
    static void applyPrimaryButtonStyle(QWidget &button);
    /// Styles `button` as a secondary button: the secondary fill with light text.
    static void applySecondaryButtonStyle(QWidget &button);
};

} // namespace Pellwick
