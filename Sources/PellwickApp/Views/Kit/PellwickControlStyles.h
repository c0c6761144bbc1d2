#pragma once

#include <QProxyStyle>

class QAbstractButton;

namespace Pellwick {

/// The kit button's look: a primary button is the accent with a white label, a secondary one
/// (every push button that asks for nothing else) the slate `controlSecondary` with a light
/// label. A plain button keeps the platform look.
enum class PellwickButtonKind {
    Secondary,
    Primary,
    Plain,
};

/// What a button does: a destructive one is red while enabled.
enum class PellwickButtonRole {
    None,
    Destructive,
    Cancel,
};

/// Draws every `QPushButton` as a kit button over the Fusion style, and the theme's focus ring
/// (2 px of accent inside the edge) around a list, tree or scroll area while it has the focus:
/// frameless, they would show none. Installed once for the
/// application by `PellwickControlStyles::install()`; the kind, role and compact sizes are set
/// per button through the functions of `PellwickControlStyles`.
class PellwickStyle final : public QProxyStyle
{
    Q_OBJECT

public:
    PellwickStyle();

    void drawControl(ControlElement element,
                     const QStyleOption *option,
                     QPainter *painter,
                     const QWidget *widget) const override;
    QSize sizeFromContents(ContentsType type,
                           const QStyleOption *option,
                           const QSize &contentsSize,
                           const QWidget *widget) const override;
    int pixelMetric(PixelMetric metric,
                    const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;
    int styleHint(StyleHint hint,
                  const QStyleOption *option = nullptr,
                  const QWidget *widget = nullptr,
                  QStyleHintReturn *returnData = nullptr) const override;
    using QProxyStyle::polish;
    using QProxyStyle::unpolish;
    void polish(QWidget *widget) override;
    void unpolish(QWidget *widget) override;

protected:
    /// Shows the focus ring of a focused list, tree or scroll area and hides it again.
    bool eventFilter(QObject *watched, QEvent *event) override;
};

/// The one API through which pages style their buttons. Main thread only.
namespace PellwickControlStyles {

/// Sets the application style to `PellwickStyle` and installs the kit's accessibility
/// interfaces. Idempotent; called by main, the gallery and the test fixtures.
void install();

void setButtonKind(QAbstractButton &button, PellwickButtonKind kind);
void setButtonRole(QAbstractButton &button, PellwickButtonRole role);
PellwickButtonKind buttonKind(const QAbstractButton &button);
PellwickButtonRole buttonRole(const QAbstractButton &button);

/// The primary kit look.
void pellwickPrimaryButton(QAbstractButton &button);
/// The secondary kit look (the default of every push button).
void pellwickSecondaryButton(QAbstractButton &button);
/// The small control size: the caption font, about 22 px high.
void compactActionButton(QAbstractButton &button);
/// A label at least 144 wide, centred, that grows to its full text instead of eliding.
void compactActionButtonLabel(QAbstractButton &button);

/// The minimum width of a compact action label.
inline constexpr int compactLabelMinimumWidth = 144;
/// The height of a compact action button.
inline constexpr int compactButtonHeight = 22;

} // namespace PellwickControlStyles

} // namespace Pellwick
