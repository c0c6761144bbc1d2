#include "PellwickControlStyles.h"

#include <PellwickApp/Views/Kit/KitAccessibility.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QFocusFrame>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleHintReturnMask>
#include <QStyleOptionButton>

#include <cmath>

namespace Pellwick {

namespace {

constexpr char kindProperty[] = "pellwickButtonKind";
constexpr char roleProperty[] = "pellwickButtonRole";
constexpr char compactProperty[] = "pellwickCompact";
constexpr char compactLabelProperty[] = "pellwickCompactLabel";

constexpr int buttonHorizontalPadding = 11;
constexpr int buttonVerticalPadding = 5;
constexpr qreal buttonCornerRadius = 7;
constexpr qreal pressedOpacity = 0.76;
constexpr int iconSpacing = 6;
constexpr int focusRingWidth = 2;
constexpr qreal focusRingRadius = 4;

/// A list, tree or scroll area reached from the keyboard, outside menus and drop-down lists.
bool wearsFocusRing(const QWidget &widget)
{
    return qobject_cast<const QAbstractScrollArea *>(&widget)
           && (widget.focusPolicy() & Qt::TabFocus) && !widget.isWindow()
           && widget.window()->windowType() != Qt::Popup;
}

/// The ring that follows `widget` (in its window, above it), or none yet.
QFocusFrame *existingFocusRing(const QWidget &widget)
{
    for (auto *ring : widget.window()->findChildren<QFocusFrame *>(QStringLiteral("focus-ring"))) {
        if (ring->widget() == &widget)
            return ring;
    }
    return nullptr;
}

/// The ring that follows `widget`, made on first use.
QFocusFrame *focusRing(QWidget &widget)
{
    if (QFocusFrame *ring = existingFocusRing(widget))
        return ring;
    auto *ring = new QFocusFrame(&widget);
    ring->setObjectName(QStringLiteral("focus-ring"));
    ring->setWidget(&widget);
    // Placed in an ancestor, it would outlive the surface.
    QObject::connect(&widget, &QObject::destroyed, ring, &QObject::deleteLater);
    return ring;
}

/// The push button drawn as a kit button, or none for a plain or flat one.
const QPushButton *kitButton(const QWidget *widget)
{
    const auto *button = qobject_cast<const QPushButton *>(widget);
    if (!button || button->isFlat())
        return nullptr;
    return PellwickControlStyles::buttonKind(*button) == PellwickButtonKind::Plain ? nullptr
                                                                                   : button;
}

bool hasFlag(const QWidget &widget, const char *name)
{
    return widget.property(name).toBool();
}

void refresh(QAbstractButton &button)
{
    button.updateGeometry();
    button.update();
}

} // namespace

PellwickStyle::PellwickStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{}

void PellwickStyle::drawControl(ControlElement element,
                                const QStyleOption *option,
                                QPainter *painter,
                                const QWidget *widget) const
{
    if (element == CE_FocusFrame) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QPainterPath ring;
        const qreal inset = focusRingWidth / 2.0;
        ring.addRoundedRect(QRectF(option->rect).adjusted(inset, inset, -inset, -inset),
                            focusRingRadius,
                            focusRingRadius);
        painter->strokePath(ring, QPen(PellwickTheme::accent(), focusRingWidth));
        painter->restore();
        return;
    }
    const QPushButton *button = element == CE_PushButton ? kitButton(widget) : nullptr;
    const auto *buttonOption = qstyleoption_cast<const QStyleOptionButton *>(option);
    if (!button || !buttonOption) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const bool enabled = buttonOption->state & State_Enabled;
    const bool pressed = buttonOption->state & (State_Sunken | State_On);
    const bool primary = PellwickControlStyles::buttonKind(*button) == PellwickButtonKind::Primary;
    const bool destructive
        = PellwickControlStyles::buttonRole(*button) == PellwickButtonRole::Destructive;
    // Kit surfaces are dark whatever the appearance, so their labels use the dark colours.
    constexpr auto surface = PellwickTheme::Appearance::Dark;
    QColor fill = primary ? PellwickTheme::accent() : PellwickTheme::controlSecondary();
    QColor foreground = primary ? QColor(Qt::white) : PellwickTheme::label(surface);
    if (enabled && destructive) {
        fill = PellwickTheme::systemRed(surface);
        foreground = Qt::white;
    } else if (!enabled) {
        fill = PellwickTheme::controlDisabled();
        foreground = PellwickTheme::secondaryLabel(surface);
    }

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (pressed)
        painter->setOpacity(pressedOpacity);
    const QRectF outline = QRectF(buttonOption->rect).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(outline, buttonCornerRadius, buttonCornerRadius);
    painter->fillPath(shape, fill);
    painter->strokePath(shape, QPen(PellwickTheme::controlBorder(), 1));
    if (buttonOption->state & State_HasFocus) {
        QPainterPath ring;
        ring.addRoundedRect(
            outline.adjusted(2, 2, -2, -2), buttonCornerRadius - 2, buttonCornerRadius - 2);
        QColor ringColour = foreground;
        ringColour.setAlphaF(0.9F);
        painter->strokePath(ring, QPen(ringColour, 1.5));
    }

    // One line, centred, never elided: the size hint makes room for the whole text.
    const QRect content = buttonOption->rect.adjusted(buttonHorizontalPadding,
                                                      buttonVerticalPadding,
                                                      -buttonHorizontalPadding,
                                                      -buttonVerticalPadding);
    // A label's "&" marks its mnemonic, as on every Qt button: the marked letter is underlined
    // where the platform shows mnemonics, and the "&" itself is never drawn.
    const int mnemonic = proxy()->styleHint(SH_UnderlineShortcut, option, widget)
                             ? Qt::TextShowMnemonic
                             : Qt::TextHideMnemonic;
    const QFontMetrics metrics(button->font());
    const int textWidth = metrics.size(mnemonic, buttonOption->text).width();
    const bool hasIcon = !buttonOption->icon.isNull();
    const int iconWidth = hasIcon ? buttonOption->iconSize.width() : 0;
    const int spacing = hasIcon && !buttonOption->text.isEmpty() ? iconSpacing : 0;
    const int total = iconWidth + spacing + textWidth;
    int x = content.x() + (content.width() - total) / 2;
    if (hasIcon) {
        const QRect iconRect(x,
                             content.center().y() - buttonOption->iconSize.height() / 2,
                             buttonOption->iconSize.width(),
                             buttonOption->iconSize.height());
        buttonOption->icon.paint(painter, iconRect);
        x += iconWidth + spacing;
    }
    painter->setPen(foreground);
    painter->setFont(button->font());
    painter->drawText(QRect(x, content.y(), textWidth + 1, content.height()),
                      Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine | mnemonic,
                      buttonOption->text);
    painter->restore();
}

int PellwickStyle::pixelMetric(PixelMetric metric,
                               const QStyleOption *option,
                               const QWidget *widget) const
{
    // The ring is drawn inside the surface's edge, so a neighbour or the window never cuts it.
    if (metric == PM_FocusFrameHMargin || metric == PM_FocusFrameVMargin)
        return 0;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

int PellwickStyle::styleHint(StyleHint hint,
                             const QStyleOption *option,
                             const QWidget *widget,
                             QStyleHintReturn *returnData) const
{
    if (hint == SH_FocusFrame_Mask && option) {
        // Only the ring is covered: the surface stays visible and clickable inside it.
        if (auto *mask = qstyleoption_cast<QStyleHintReturnMask *>(returnData)) {
            mask->region = option->rect;
            mask->region -= option->rect.adjusted(
                focusRingWidth, focusRingWidth, -focusRingWidth, -focusRingWidth);
        }
        return 1;
    }
    // Under the surface the ring would be hidden by any surface that paints its background.
    if (hint == SH_FocusFrame_AboveWidget)
        return 1;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void PellwickStyle::polish(QWidget *widget)
{
    QProxyStyle::polish(widget);
    if (widget && qobject_cast<QAbstractScrollArea *>(widget))
        widget->installEventFilter(this);
}

void PellwickStyle::unpolish(QWidget *widget)
{
    if (widget && qobject_cast<QAbstractScrollArea *>(widget))
        widget->removeEventFilter(this);
    QProxyStyle::unpolish(widget);
}

bool PellwickStyle::eventFilter(QObject *watched, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    const QEvent::Type type = event->type();
    if (widget && wearsFocusRing(*widget)) {
        if (type == QEvent::FocusIn) {
            focusRing(*widget)->show();
        } else if (type == QEvent::FocusOut || type == QEvent::Show) {
            // A surface shown again brings its ring back only while it has the focus.
            if (QFocusFrame *ring = existingFocusRing(*widget))
                ring->setVisible(widget->hasFocus());
        }
    }
    return QProxyStyle::eventFilter(watched, event);
}

QSize PellwickStyle::sizeFromContents(ContentsType type,
                                      const QStyleOption *option,
                                      const QSize &contentsSize,
                                      const QWidget *widget) const
{
    const QPushButton *button = type == CT_PushButton ? kitButton(widget) : nullptr;
    const auto *buttonOption = qstyleoption_cast<const QStyleOptionButton *>(option);
    if (!button || !buttonOption)
        return QProxyStyle::sizeFromContents(type, option, contentsSize, widget);
    const QFontMetrics metrics = buttonOption->fontMetrics;
    const bool hasIcon = !buttonOption->icon.isNull();
    int width
        = int(std::ceil(
              QFontMetricsF(button->font()).size(Qt::TextShowMnemonic, buttonOption->text).width()))
          + 1;
    if (hasIcon)
        width += buttonOption->iconSize.width() + (buttonOption->text.isEmpty() ? 0 : iconSpacing);
    int height = std::max(metrics.height(), hasIcon ? buttonOption->iconSize.height() : 0);
    width += 2 * buttonHorizontalPadding;
    height += 2 * buttonVerticalPadding;
    if (hasFlag(*button, compactProperty))
        height = PellwickControlStyles::compactButtonHeight;
    if (hasFlag(*button, compactLabelProperty))
        width = std::max(width, PellwickControlStyles::compactLabelMinimumWidth);
    return {width, height};
}

namespace PellwickControlStyles {

void install()
{
    if (!qobject_cast<PellwickStyle *>(QApplication::style()))
        QApplication::setStyle(new PellwickStyle);
    KitAccessibility::install();
}

void setButtonKind(QAbstractButton &button, PellwickButtonKind kind)
{
    button.setProperty(kindProperty, int(kind));
    refresh(button);
}

void setButtonRole(QAbstractButton &button, PellwickButtonRole role)
{
    button.setProperty(roleProperty, int(role));
    button.update();
}

PellwickButtonKind buttonKind(const QAbstractButton &button)
{
    return PellwickButtonKind(button.property(kindProperty).toInt());
}

PellwickButtonRole buttonRole(const QAbstractButton &button)
{
    return PellwickButtonRole(button.property(roleProperty).toInt());
}

void pellwickPrimaryButton(QAbstractButton &button)
{
    setButtonKind(button, PellwickButtonKind::Primary);
}

void pellwickSecondaryButton(QAbstractButton &button)
{
    setButtonKind(button, PellwickButtonKind::Secondary);
}

void compactActionButton(QAbstractButton &button)
{
    button.setProperty(compactProperty, true);
    button.setFont(PellwickTheme::font(PellwickTheme::TextStyle::Subheadline));
    button.setIconSize(QSize(12, 12));
    refresh(button);
}

void compactActionButtonLabel(QAbstractButton &button)
{
    button.setProperty(compactLabelProperty, true);
    // Grows to its text; never squeezed below it by the layout.
    button.setSizePolicy(QSizePolicy::Minimum, button.sizePolicy().verticalPolicy());
    refresh(button);
}

} // namespace PellwickControlStyles

} // namespace Pellwick
