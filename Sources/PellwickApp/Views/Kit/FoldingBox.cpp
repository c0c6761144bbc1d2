#include "FoldingBox.h"

#include <QEvent>
#include <QWidgetItem>

#include <algorithm>
#include <utility>

namespace Pellwick {

namespace {

/// The size a layout would prefer for `widget`, whether or not it is shown now.
QSize preferredSize(const QWidget &widget)
{
    return widget.sizeHint()
        .expandedTo(widget.minimumSizeHint())
        .boundedTo(widget.maximumSize())
        .expandedTo(widget.minimumSize());
}

/// The free width of a row shared by stretch, as a box layout shares it: each widget's share of
/// the whole width, except that a widget below its preferred width keeps that width and one
/// above its maximum keeps its maximum, the others sharing what is left. Whole pixels, the
/// remainders carried on to the next widget. Returns the width left over when every widget is
/// held at a bound.
struct Share
{
    int preferred = 0;
    int maximum = QWIDGETSIZE_MAX;
    int stretch = 0;
    int size = 0;
    bool done = false;
};

int shareOut(QList<Share> &shares, int space)
{
    // Eight fractional bits, as Qt's layouts count.
    const auto toFixed = [](int value) { return qint64(value) * 256; };
    const auto roundFixed
        = [](qint64 value) { return int(value % 256 < 128 ? value / 256 : value / 256 + 1); };
    int left = space;
    int stretch = 0;
    qsizetype open = 0;
    for (Share &share : shares) {
        if (share.maximum <= share.preferred) {
            share.size = share.preferred;
            share.done = true;
            left -= share.size;
        } else {
            stretch += share.stretch;
            ++open;
        }
    }
    int surplus = 0;
    int deficit = 0;
    do {
        surplus = deficit = 0;
        const qint64 fixedSpace = toFixed(left);
        qint64 carried = 0;
        for (Share &share : shares) {
            if (share.done)
                continue;
            carried += stretch > 0 ? fixedSpace * share.stretch / stretch : fixedSpace / open;
            share.size = roundFixed(carried);
            carried -= toFixed(share.size);
            if (share.size < share.preferred)
                deficit += share.preferred - share.size;
            else if (share.size > share.maximum)
                surplus += share.size - share.maximum;
        }
        const auto hold = [&](Share &share, int size) {
            share.size = size;
            share.done = true;
            left -= size;
            stretch -= share.stretch;
            --open;
        };
        if (deficit > 0 && surplus <= deficit) {
            for (Share &share : shares) {
                if (!share.done && share.size < share.preferred)
                    hold(share, share.preferred);
            }
        }
        if (surplus > 0 && surplus >= deficit) {
            for (Share &share : shares) {
                if (!share.done && share.size > share.maximum)
                    hold(share, share.maximum);
            }
        }
    } while (open > 0 && surplus != deficit);
    return open == 0 ? left : 0;
}

} // namespace

FoldingBox::FoldingBox(Arrangement row, Arrangement folded, QWidget *parent)
    : QWidget(parent)
    , m_row(row)
    , m_folded(folded)
{}

FoldingBox *FoldingBox::alternating(QWidget *row, QWidget *folded, QWidget *parent)
{
    auto *box = new FoldingBox({}, {}, parent);
    box->add(row, {.stretch = 1, .shown = Shown::InRow});
    box->add(folded, {.stretch = 1, .shown = Shown::Folded});
    return box;
}

void FoldingBox::add(QWidget *widget)
{
    add(widget, Placement{});
}

void FoldingBox::add(QWidget *widget, Placement placement)
{
    addItems({Item{widget, placement}});
}

void FoldingBox::addGroup(const QList<QWidget *> &widgets)
{
    Group group;
    for (QWidget *widget : widgets)
        group.append(Item{widget, {}});
    addItems(std::move(group));
}

void FoldingBox::setMinimumIsFolded(bool folded)
{
    m_minimumIsFolded = folded;
    updateGeometry();
}

void FoldingBox::setGroupGap(int gap)
{
    m_groupGap = gap;
    updateGeometry();
}

void FoldingBox::addItems(Group group)
{
    for (const Item &item : std::as_const(group)) {
        Q_ASSERT(item.widget);
        if (item.widget->parentWidget() != this) {
            const bool hidden = isExplicitlyHidden(*item.widget);
            item.widget->setParent(this);
            // A new parent hides a widget; it shows with this one unless it was hidden before.
            item.widget->setVisible(!hidden);
        }
        if (item.placement.shown != Shown::Always)
            item.widget->setVisible(isShownIn(item, m_isFolded));
    }
    m_groups.append(std::move(group));
    updateGeometry();
}

bool FoldingBox::isExplicitlyHidden(const QWidget &widget)
{
    return widget.isHidden() && widget.testAttribute(Qt::WA_WState_ExplicitShowHide);
}

int FoldingBox::heightAt(const QWidget &widget, int width)
{
    if (!widget.hasHeightForWidth())
        return preferredSize(widget).height();
    return std::clamp(widget.heightForWidth(width), widget.minimumHeight(), widget.maximumHeight());
}

bool FoldingBox::isShownIn(const Item &item, bool folded)
{
    switch (item.placement.shown) {
    case Shown::Always:
        return !isExplicitlyHidden(*item.widget);
    case Shown::InRow:
        return !folded;
    case Shown::Folded:
        return folded;
    }
    return false;
}

QList<QList<FoldingBox::Slot>> FoldingBox::rowSlots(int contentWidth) const
{
    QList<QList<Slot>> groups;
    QList<Share> shares;
    int stretch = 0;
    for (const Group &group : m_groups) {
        QList<Slot> placed;
        for (const Item &item : group) {
            if (!isShownIn(item, false))
                continue;
            const int maximum
                = std::min(item.placement.rowMaximumWidth, item.widget->maximumWidth());
            const int preferred = std::min(preferredSize(*item.widget).width(), maximum);
            placed.append({item.widget, 0, preferred});
            shares.append({preferred, maximum, item.placement.stretch});
            stretch += item.placement.stretch;
        }
        if (!placed.isEmpty())
            groups.append(placed);
    }
    const auto spacings = int(std::max<qsizetype>(shares.size() - 1, 0));
    // The free width goes to the widgets with a share of it, else to the gaps between groups,
    // else it ends the row.
    int leftover = 0;
    if (stretch > 0 && contentWidth >= 0) {
        leftover = shareOut(shares, contentWidth - spacings * m_row.spacing);
        qsizetype index = 0;
        for (QList<Slot> &placed : groups) {
            for (Slot &slot : placed)
                slot.width = shares[index++].size;
        }
    }
    const int extra = leftover / (spacings + 2);
    int x = extra;
    for (qsizetype index = 0; index < groups.size(); ++index) {
        if (index > 0 && m_groupGap > 0 && stretch == 0) {
            // The later groups keep to the right end.
            int rest = 0;
            for (qsizetype later = index; later < groups.size(); ++later) {
                for (const Slot &slot : std::as_const(groups[later]))
                    rest += slot.width + m_row.spacing;
            }
            x = std::max(x + m_groupGap + m_row.spacing, contentWidth - rest + m_row.spacing);
        }
        for (Slot &slot : groups[index]) {
            slot.x = x;
            x += slot.width + m_row.spacing + extra;
        }
    }
    return groups;
}

int FoldingBox::rowWidth() const
{
    const QList<QList<Slot>> groups = rowSlots(-1);
    int width = 0;
    qsizetype count = 0;
    for (const QList<Slot> &placed : groups) {
        for (const Slot &slot : placed)
            width += slot.width;
        count += placed.size();
    }
    width += int(std::max<qsizetype>(count - 1, 0)) * m_row.spacing;
    if (m_groupGap > 0)
        width += int(std::max<qsizetype>(groups.size() - 1, 0)) * (m_groupGap + m_row.spacing);
    return width;
}

bool FoldingBox::foldsAt(int contentWidth) const
{
    return contentWidth < rowWidth();
}

QList<QList<FoldingBox::Slot>> FoldingBox::foldedSlots(int contentWidth) const
{
    const bool fills = !(m_folded.alignment & Qt::AlignHorizontal_Mask);
    QList<QList<Slot>> lines;
    for (const Group &group : m_groups) {
        QList<Slot> line;
        int x = 0;
        for (const Item &item : group) {
            if (!isShownIn(item, true))
                continue;
            const int preferred = preferredSize(*item.widget).width();
            line.append({item.widget, x, preferred});
            x += preferred + m_row.spacing;
        }
        if (line.size() == 1) {
            line.first().width = fills ? contentWidth : std::min(line.first().width, contentWidth);
        }
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

int FoldingBox::lineHeight(const QList<Slot> &line)
{
    int height = 0;
    for (const Slot &slot : line)
        height = std::max(height, heightAt(*slot.widget, slot.width));
    return height;
}

int FoldingBox::rowHeight(const QList<QList<Slot>> &placed) const
{
    int height = 0;
    for (const QList<Slot> &group : placed)
        height = std::max(height, lineHeight(group));
    return height;
}

int FoldingBox::contentHeightAt(int contentWidth) const
{
    if (!foldsAt(contentWidth))
        return rowHeight(rowSlots(contentWidth));
    const QList<QList<Slot>> lines = foldedSlots(contentWidth);
    int height = 0;
    for (const QList<Slot> &line : lines)
        height += lineHeight(line);
    return height + int(std::max<qsizetype>(lines.size() - 1, 0)) * m_folded.spacing;
}

int FoldingBox::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    return contentHeightAt(width - margins.left() - margins.right()) + margins.top()
           + margins.bottom();
}

QSize FoldingBox::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const int width = rowWidth() + margins.left() + margins.right();
    return {width, heightForWidth(width)};
}

QSize FoldingBox::minimumSizeHint() const
{
    // Folded, a line of several widgets keeps their preferred widths, and so does a widget
    // placed at its own width; a widget that fills its line may shrink to its minimum.
    const bool fills = !(m_folded.alignment & Qt::AlignHorizontal_Mask);
    int width = 0;
    int foldedHeight = 0;
    int lineCount = 0;
    for (const QList<Slot> &line : foldedSlots(QWIDGETSIZE_MAX)) {
        width = std::max(width,
                         line.size() == 1 && fills ? line.first().widget->minimumSizeHint().width()
                                                   : line.last().x + line.last().width);
        for (const Slot &slot : line)
            foldedHeight += slot.widget->minimumSizeHint().height();
        ++lineCount;
    }
    const QMargins margins = contentsMargins();
    width += margins.left() + margins.right();
    if (m_minimumIsFolded)
        return {width, heightForWidth(width)};
    // Otherwise as low as the arrangement shown now may be.
    int height = 0;
    if (m_isFolded) {
        height = foldedHeight + std::max(lineCount - 1, 0) * m_folded.spacing;
    } else {
        for (const QList<Slot> &group : rowSlots(-1)) {
            for (const Slot &slot : group)
                height = std::max(height, slot.widget->minimumSizeHint().height());
        }
    }
    return {width, height + margins.top() + margins.bottom()};
}

void FoldingBox::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    arrange();
}

bool FoldingBox::event(QEvent *event)
{
    // A widget's hint changed: there is no layout to hear of it, so this arranges again.
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        arrange();
    }
    return QWidget::event(event);
}

void FoldingBox::arrange()
{
    // Placed by hand: a layout on this widget would answer height-for-width in its place.
    const QRect content = contentsRect();
    const bool folded = foldsAt(content.width());
    const bool changed = folded != m_isFolded;
    m_isFolded = folded;
    for (const Group &group : std::as_const(m_groups)) {
        for (const Item &item : group) {
            if (item.placement.shown != Shown::Always)
                item.widget->setVisible(isShownIn(item, folded));
        }
    }
    const auto place = [](const Slot &slot, const QRect &cell, Qt::Alignment alignment) {
        QWidgetItem item(slot.widget);
        item.setAlignment(alignment);
        item.setGeometry(cell);
    };
    // A widget placed at its own height is centred in a band as high as the tallest; one that
    // fills takes the box's height when nothing shares it.
    if (!folded) {
        const QList<QList<Slot>> groups = rowSlots(content.width());
        const int height
            = m_row.alignment & Qt::AlignVertical_Mask ? rowHeight(groups) : content.height();
        for (const QList<Slot> &group : groups) {
            for (const Slot &slot : group) {
                place(slot,
                      QRect(content.left() + slot.x, content.top(), slot.width, height),
                      m_row.alignment);
            }
        }
    } else {
        const QList<QList<Slot>> lines = foldedSlots(content.width());
        const bool fillsBox = lines.size() == 1 && lines.first().size() == 1
                              && !(m_folded.alignment & Qt::AlignVertical_Mask);
        int y = content.top();
        for (const QList<Slot> &line : lines) {
            const int height = fillsBox ? content.height() : lineHeight(line);
            Qt::Alignment alignment = m_folded.alignment;
            if (line.size() > 1 && !(alignment & Qt::AlignVertical_Mask))
                alignment |= Qt::AlignVCenter;
            for (const Slot &slot : line)
                place(slot, QRect(content.left() + slot.x, y, slot.width, height), alignment);
            y += height + m_folded.spacing;
        }
    }
    if (changed)
        updateGeometry();
}

} // namespace Pellwick
