#include "AdaptiveRows.h"

#include <QBoxLayout>
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
        for (QWidget *widget : group)
            widget->setParent(this);
    arrange(false);
}

int AdaptiveRows::groupWidth(const QList<QWidget *> &group) const
{
    int width = 0;
    int shown = 0;
    for (const QWidget *widget : group) {
        if (widget->isHidden() && widget->testAttribute(Qt::WA_WState_ExplicitShowHide))
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
    const bool wrapped = event->size().width() < oneRowWidth();
    if (wrapped != m_wrapped)
        arrange(wrapped);
}

void AdaptiveRows::arrange(bool wrapped)
{
    m_wrapped = wrapped;
    // Deleting the layout leaves the widgets, which stay children of this.
    delete layout();
    QBoxLayout *outer = wrapped ? static_cast<QBoxLayout *>(new QVBoxLayout(this))
                                : static_cast<QBoxLayout *>(new QHBoxLayout(this));
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(wrapped ? m_spacing.betweenRows : m_spacing.inRow);
    for (qsizetype index = 0; index < m_groups.size(); ++index) {
        QBoxLayout *row = outer;
        if (wrapped) {
            row = new QHBoxLayout;
            row->setSpacing(m_spacing.inRow);
            outer->addLayout(row);
        } else if (index > 0 && m_spacing.groupGap > 0) {
            outer->addSpacing(m_spacing.groupGap);
            outer->addStretch(1);
        }
        for (QWidget *widget : m_groups[index])
            row->addWidget(widget, 0, Qt::AlignVCenter);
        if (wrapped)
            row->addStretch(1);
    }
    if (!wrapped && m_spacing.groupGap <= 0)
        outer->addStretch(1);
    updateGeometry();
}

} // namespace Pellwick
