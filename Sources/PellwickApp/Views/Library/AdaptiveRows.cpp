#include "AdaptiveRows.h"

#include <QEvent>
#include <QResizeEvent>

#include <algorithm>
#include <utility>

namespace Pellwick {

AdaptiveRows::AdaptiveRows(QList<QList<QWidget *>> groups, Spacing spacing, QWidget *parent)
    : QWidget(parent)
    , m_groups(std::move(groups))
    , m_spacing(spacing)
{
    for (const QList<QWidget *> &group : std::as_const(m_groups))
        for (QWidget *widget : group) {
            const bool hidden = isExplicitlyHidden(*widget);
            widget->setParent(this);
            // A new parent hides a widget; it shows with this one unless it was hidden before.
            widget->setVisible(!hidden);
        }
}

bool AdaptiveRows::isExplicitlyHidden(const QWidget &widget)
{
    return widget.isHidden() && widget.testAttribute(Qt::WA_WState_ExplicitShowHide);
}

int AdaptiveRows::groupWidth(const QList<QWidget *> &group) const
{
    int width = 0;
    int shown = 0;
    for (const QWidget *widget : group) {
        if (isExplicitlyHidden(*widget))
            continue;
        width += widget->sizeHint().width();
        ++shown;
    }
    return width + std::max(0, shown - 1) * m_spacing.inRow;
}

int AdaptiveRows::groupHeight(const QList<QWidget *> &group) const
{
    int height = 0;
    for (const QWidget *widget : group)
        height = std::max(height, widget->sizeHint().height());
    return height;
}

int AdaptiveRows::oneRowWidth() const
{
    int width = 0;
    for (const QList<QWidget *> &group : m_groups)
        width += groupWidth(group);
    const auto gaps = int(m_groups.size()) - 1;
    const int gap
        = m_spacing.inRow + (m_spacing.groupGap > 0 ? m_spacing.groupGap + m_spacing.inRow : 0);
    return width + std::max(0, gaps) * gap;
}

QSize AdaptiveRows::sizeHint() const
{
    int height = 0;
    for (const QList<QWidget *> &group : m_groups)
        height = std::max(height, groupHeight(group));
    return {oneRowWidth(), height};
}

QSize AdaptiveRows::minimumSizeHint() const
{
    int width = 0;
    for (const QList<QWidget *> &group : m_groups)
        width = std::max(width, groupWidth(group));
    return {width, heightForWidth(width)};
}

int AdaptiveRows::heightForWidth(int width) const
{
    if (width >= oneRowWidth())
        return sizeHint().height();
    int height = 0;
    for (const QList<QWidget *> &group : m_groups)
        height += groupHeight(group);
    return height + std::max(0, int(m_groups.size()) - 1) * m_spacing.betweenRows;
}

void AdaptiveRows::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    arrange();
}

bool AdaptiveRows::event(QEvent *event)
{
    // A widget's hint changed: there is no layout to hear of it, so this arranges again.
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        arrange();
    }
    return QWidget::event(event);
}

void AdaptiveRows::arrange()
{
    // Placed by hand: a layout on this widget would answer height-for-width in its place.
    m_wrapped = width() < oneRowWidth();
    int y = 0;
    int x = 0;
    const int rowHeight = sizeHint().height();
    for (qsizetype index = 0; index < m_groups.size(); ++index) {
        const QList<QWidget *> &group = m_groups[index];
        const int height = m_wrapped ? groupHeight(group) : rowHeight;
        if (m_wrapped) {
            x = 0;
        } else if (index > 0) {
            x += m_spacing.inRow;
            if (m_spacing.groupGap > 0) {
                // The later groups keep to the right end.
                int rest = 0;
                for (qsizetype later = index; later < m_groups.size(); ++later)
                    rest += groupWidth(m_groups[later]) + (later > index ? m_spacing.inRow : 0);
                x = std::max(x + m_spacing.groupGap + m_spacing.inRow, width() - rest);
            }
        }
        for (QWidget *widget : group) {
            if (isExplicitlyHidden(*widget))
                continue;
            const QSize hint = widget->sizeHint();
            const int shown = std::min(hint.height(), height);
            widget->setGeometry(x, y + (height - shown) / 2, hint.width(), shown);
            x += hint.width() + m_spacing.inRow;
        }
        x -= m_spacing.inRow;
        if (m_wrapped)
            y += height + m_spacing.betweenRows;
    }
}

} // namespace Pellwick
