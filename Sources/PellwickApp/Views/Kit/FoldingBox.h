#pragma once

#include <QList>
#include <QWidget>

namespace Pellwick {

/// Lays its widgets out in one row while the width holds that row at the widgets' preferred
/// widths, else folded: one line per group, stacked. The choice depends only on the width and
/// the widgets' hints, never on the arrangement shown, so it cannot flicker at the boundary; the
/// widgets keep their state across the fold. A widget may belong to one arrangement only, so a
/// wide row of actions can give way to a folded menu of the same actions.
class FoldingBox : public QWidget
{
    Q_OBJECT

public:
    /// How one arrangement places its widgets.
    struct Arrangement
    {
        /// In the row, between neighbouring widgets; folded, between the lines.
        int spacing = 0;
        /// In the row, a vertical alignment places each widget at its own height (else it fills
        /// the row's height); folded, a horizontal one places it at its own width (else it fills
        /// the line).
        Qt::Alignment alignment;
    };

    /// Where a widget is shown.
    enum class Shown {
        Always,
        InRow,
        Folded,
    };

    struct Placement
    {
        /// A share of the row's free width: widgets with none keep their preferred width, and
        /// the free width ends the row when no widget takes a share.
        int stretch = 0;
        /// The most width the widget takes in the row.
        int rowMaximumWidth = QWIDGETSIZE_MAX;
        Shown shown = Shown::Always;
    };

    FoldingBox(Arrangement row, Arrangement folded, QWidget *parent = nullptr);
    /// Shows `row` while the width holds its preferred width, else `folded`, each filling the
    /// box: two arrangements of the same actions.
    static FoldingBox *alternating(QWidget *row, QWidget *folded, QWidget *parent = nullptr);

    /// Adds `widget` as a group of its own: a line of its own when folded.
    void add(QWidget *widget);
    void add(QWidget *widget, Placement placement);
    /// Adds `widgets` as one group: side by side on one line when folded.
    void addGroup(const QList<QWidget *> &widgets);
    /// When positive, the row keeps at least this much free width before each later group, and
    /// the later groups keep to its right end.
    void setGroupGap(int gap);

    /// When set, the minimum size is the folded arrangement's at the narrowest width, so whatever
    /// is sized from it has room for the box to fold; otherwise the minimum height is the
    /// arrangement's shown now.
    void setMinimumIsFolded(bool folded);

    /// Whether the folded arrangement is the one for the current width.
    bool isFolded() const { return foldsAt(contentsRect().width()); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    bool hasHeightForWidth() const override { return true; }

    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    struct Item
    {
        QWidget *widget = nullptr;
        Placement placement;
    };

    using Group = QList<Item>;

    /// A widget's place in the row or in its line: where it starts and how wide it is.
    struct Slot
    {
        QWidget *widget = nullptr;
        int x = 0;
        int width = 0;
    };

    static bool isExplicitlyHidden(const QWidget &widget);
    static int heightAt(const QWidget &widget, int width);
    static bool isShownIn(const Item &item, bool folded);
    int rowWidth() const;
    bool foldsAt(int contentWidth) const;
    /// The row's groups at `contentWidth`; at a negative one, at their preferred widths.
    QList<QList<Slot>> rowSlots(int contentWidth) const;
    QList<QList<Slot>> foldedSlots(int contentWidth) const;
    int rowHeight(const QList<QList<Slot>> &slots) const;
    static int lineHeight(const QList<Slot> &line);
    int contentHeightAt(int contentWidth) const;
    void addItems(Group group);
    void arrange();

    Arrangement m_row;
    Arrangement m_folded;
    QList<Group> m_groups;
    int m_groupGap = 0;
    bool m_minimumIsFolded = false;
    bool m_isFolded = false;
};

} // namespace Pellwick
