#pragma once

#include <QWidget>

namespace Pellwick {

/// Holds a full and a folded arrangement of the same actions and shows the full one whenever
/// the width holds its size hint, else the folded one; chosen again on every resize. The choice
/// depends only on the width and the full arrangement's hint, never on which one is shown, so
/// it cannot flicker at the boundary.
class AdaptiveBar : public QWidget
{
    Q_OBJECT

public:
    /// Takes both arrangements as children.
    AdaptiveBar(QWidget *full, QWidget *folded, QWidget *parent = nullptr);

    /// Whether the folded arrangement is the one for the current width.
    bool isFolded() const { return foldsAt(width()); }

    QWidget *full() const { return m_full; }

    QWidget *folded() const { return m_foldedArrangement; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    bool hasHeightForWidth() const override { return true; }

    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    bool foldsAt(int width) const;
    QWidget *arrangementAt(int width) const;
    void choose();

    QWidget *m_full = nullptr;
    QWidget *m_foldedArrangement = nullptr;
};

} // namespace Pellwick
