#pragma once

#include <PellwickCore/Library/LibraryPresentation.h>

#include <QColor>
#include <QFont>

class QWidget;

namespace Pellwick {

/// The application's colours and text styles. The four sRGB colours are fixed; the others come
/// from one light and one dark table, chosen by the lightness of the application palette's
/// window colour unless an appearance is given. Main thread only.
class PellwickTheme
{
public:
    PellwickTheme() = delete;

    enum class Appearance {
        Light,
        Dark,
    };

    /// The text styles of the kit, from the largest to the smallest; `Monospaced` is the
    /// system's fixed font at the body size.
    enum class TextStyle {
        Title,
        Headline,
        Body,
        Callout,
        Subheadline,
        Footnote,
        Caption,
        Caption2,
        Monospaced,
    };

    /// Light when the application palette's window colour is light, else dark.
    static Appearance currentAppearance();

    /// The accent: sRGB 0.08, 0.39, 0.92.
    static QColor accent();
    /// The fill of secondary buttons and of the selector label: sRGB 0.08, 0.13, 0.19.
    static QColor controlSecondary();
    /// The fill of every kit button while disabled: sRGB 0.2, 0.24, 0.29.
    static QColor controlDisabled();
    /// The 1-pt outline of kit buttons and of the selector label: sRGB 0.23, 0.29, 0.35.
    static QColor controlBorder();

    /// The background under pages: the second and third stops of the page gradient.
    static QColor windowBackground(Appearance appearance = currentAppearance());
    /// The background of panels, inspectors and summaries.
    static QColor controlBackground(Appearance appearance = currentAppearance());
    /// The window background: page headers (at 0.72), the sidebar and the library toolbar.
    static QColor graphite(Appearance appearance = currentAppearance());
    /// The 1-pt outline of panels: the label colour at 0.12.
    static QColor border(Appearance appearance = currentAppearance());
    static QColor label(Appearance appearance = currentAppearance());
    static QColor secondaryLabel(Appearance appearance = currentAppearance());
    static QColor systemRed(Appearance appearance = currentAppearance());
    static QColor systemGreen(Appearance appearance = currentAppearance());
    static QColor systemOrange(Appearance appearance = currentAppearance());
    static QColor systemBlue(Appearance appearance = currentAppearance());

    /// The colour of `tone`: positive green, active and attention orange, danger red, primary
    /// blue, secondary the secondary label colour. Tinted backgrounds use it at 0.12.
    static QColor toneColour(LibraryPresentationTone tone,
                             Appearance appearance = currentAppearance());

    /// The font of `style`, derived from the application font.
    static QFont font(TextStyle style);

    /// Sets the colour `widget` draws its text in (a label's foreground).
    static void setTextColour(QWidget &widget, const QColor &colour);
    /// `colour` at `opacity` (the tinted backgrounds of tones use 0.12).
    static QColor withOpacity(QColor colour, qreal opacity);

    /// Fills `widget`'s background with `colour`.
    static void fillBackground(QWidget &widget, const QColor &colour);
};

} // namespace Pellwick
