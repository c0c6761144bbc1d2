#pragma once

#include <QList>
#include <QWidget>

namespace Pellwick {

/// Lays out the same widgets in one row when the width holds that row's size hint, else one row
/// per group, stacked. Chosen again on every resize from the width and the widgets' hints only,
/// so it cannot flicker at the boundary; the widgets keep their state across the swap.
class AdaptiveRows : public QWidget
{
    Q_OBJECT

public:
    struct Spacing
    {
        int inRow = 10; ///< between the widgets of a row
        int betweenRows = 8;
        int groupGap = 0; ///< when positive, the one row holds at least this much space and a
                          ///< stretch between its groups; otherwise the stretch ends the row
    };

    AdaptiveRows(QList<QList<QWidget *>> groups, Spacing spacing, QWidget *parent = nullptr);

    /// Whether the groups are on rows of their own.
    bool isWrapped() const { return m_wrapped; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    bool hasHeightForWidth() const override { return true; }

    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    static bool isExplicitlyHidden(const QWidget &widget);
    int groupWidth(const QList<QWidget *> &group) const;
    int groupHeight(const QList<QWidget *> &group) const;
    int oneRowWidth() const;
    void arrange();

    QList<QList<QWidget *>> m_groups;
    Spacing m_spacing;
    bool m_wrapped = false;
};

} // namespace Pellwick
