#pragma once

#include <QWidget>

class QVBoxLayout;

namespace Pellwick {

/// A titled card at least 126 high: the title with its symbol in the headline font, then the
/// content, pinned to the top-leading corner, on `controlBackground` with an accent bar along
/// the leading edge and a 1-pt `border` outline.
class UtilityPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int minimumPanelHeight = 126;

    UtilityPanel(const QString &title, const QString &systemImage, QWidget *parent = nullptr);

    /// Where the content goes, under the title.
    QVBoxLayout *contentLayout() const { return m_content; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *m_content = nullptr;
};

} // namespace Pellwick
