#include "PellwickSelect.h"

#include <PellwickApp/Views/Kit/KitAccessibility.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QActionGroup>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionToolButton>

#include <cmath>

namespace Pellwick {

namespace {

constexpr int horizontalPadding = 10;
constexpr int verticalPadding = 6;
constexpr int spacing = 7;
constexpr int symbolSize = 14;
constexpr int chevronSize = 10;
constexpr qreal cornerRadius = 7;

// The fill is always the dark slate, so the label uses the dark appearance's colours.
constexpr auto surface = PellwickTheme::Appearance::Dark;

} // namespace

PellwickMenuSelectorLabel::PellwickMenuSelectorLabel(const QString &title,
                                                     const QString &systemImage,
                                                     QWidget *parent)
    : QToolButton(parent)
    , m_title(title)
    , m_systemImage(systemImage)
{
    setAccessibleName(title);
    setPopupMode(QToolButton::InstantPopup);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

void PellwickMenuSelectorLabel::setValue(const QString &value)
{
    m_value = value;
    KitAccessibility::setAccessibleValue(*this, value);
    updateGeometry();
    update();
}

QString PellwickMenuSelectorLabel::shownText() const
{
    return m_value.isEmpty() ? m_title : m_value;
}

QSize PellwickMenuSelectorLabel::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    // Whole pixels that hold the text's fractional width, so it is never elided.
    int width = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(shownText()))) + 1 + spacing
                + chevronSize;
    if (!m_systemImage.isEmpty())
        width += symbolSize + spacing;
    const int height = std::max(metrics.height(), symbolSize);
    return {width + 2 * horizontalPadding, height + 2 * verticalPadding};
}

void PellwickMenuSelectorLabel::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.76);
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(outline, cornerRadius, cornerRadius);
    painter.fillPath(
        shape, isEnabled() ? PellwickTheme::controlSecondary() : PellwickTheme::controlDisabled());
    painter.strokePath(shape, QPen(PellwickTheme::controlBorder(), 1));
    const QColor foreground
        = isEnabled() ? PellwickTheme::label(surface) : PellwickTheme::secondaryLabel(surface);
    if (hasFocus()) {
        QPainterPath ring;
        ring.addRoundedRect(outline.adjusted(2, 2, -2, -2), cornerRadius - 2, cornerRadius - 2);
        painter.strokePath(ring, QPen(foreground, 1.5));
    }

    const qreal ratio = devicePixelRatioF();
    QRect content = rect().adjusted(horizontalPadding, 0, -horizontalPadding, 0);
    const int middle = content.center().y();
    int x = content.x();
    if (!m_systemImage.isEmpty()) {
        painter.drawPixmap(x,
                           middle - symbolSize / 2,
                           SymbolIcons::pixmap(m_systemImage, foreground, symbolSize, ratio));
        x += symbolSize + spacing;
    }
    const int right = content.x() + content.width();
    const int textWidth = right - chevronSize - spacing - x;
    painter.setPen(foreground);
    painter.drawText(QRect(x, content.y(), textWidth, content.height()),
                     Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                     fontMetrics().elidedText(shownText(), Qt::ElideRight, textWidth));
    painter.drawPixmap(right - chevronSize,
                       middle - chevronSize / 2,
                       SymbolIcons::pixmap(QStringLiteral("chevron.down"),
                                           PellwickTheme::secondaryLabel(surface),
                                           chevronSize,
                                           ratio));
}

PellwickSelect::PellwickSelect(const QString &title, QWidget *parent)
    : PellwickMenuSelectorLabel(title, {}, parent)
    , m_choices(new QActionGroup(this))
{
    m_choices->setExclusive(true);
    setMenu(new QMenu(this));
    connect(m_choices, &QActionGroup::triggered, this, [this](QAction *action) {
        Q_EMIT selectionChanged(action->data());
    });
}

void PellwickSelect::addChoice(const QString &text, const QVariant &value)
{
    QAction *action = menu()->addAction(text);
    action->setCheckable(true);
    action->setData(value);
    m_choices->addAction(action);
}

void PellwickSelect::setSelection(const QVariant &value)
{
    const QSignalBlocker blocker(m_choices);
    for (QAction *action : m_choices->actions())
        action->setChecked(action->data() == value);
}

QVariant PellwickSelect::selection() const
{
    const QAction *checked = m_choices->checkedAction();
    return checked ? checked->data() : QVariant();
}

} // namespace Pellwick
