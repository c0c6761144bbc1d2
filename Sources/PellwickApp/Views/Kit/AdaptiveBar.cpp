#include "AdaptiveBar.h"

namespace Pellwick {

AdaptiveBar::AdaptiveBar(QWidget *full, QWidget *folded, QWidget *parent)
    : QWidget(parent)
    , m_full(full)
    , m_foldedArrangement(folded)
{
    Q_ASSERT(full && folded);
    full->setParent(this);
    folded->setParent(this);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    choose();
}

bool AdaptiveBar::foldsAt(int width) const
{
    return width < m_full->sizeHint().width();
}

QWidget *AdaptiveBar::arrangementAt(int width) const
{
    return foldsAt(width) ? m_foldedArrangement : m_full;
}

int AdaptiveBar::heightForWidth(int width) const
{
    QWidget *shown = arrangementAt(width);
    return shown->hasHeightForWidth() ? shown->heightForWidth(width) : shown->sizeHint().height();
}

QSize AdaptiveBar::sizeHint() const
{
    const int width = m_full->sizeHint().width();
    return {width, heightForWidth(width)};
}

QSize AdaptiveBar::minimumSizeHint() const
{
    return {m_foldedArrangement->minimumSizeHint().width(),
            arrangementAt(width())->minimumSizeHint().height()};
}

void AdaptiveBar::resizeEvent(QResizeEvent * /*event*/)
{
    choose();
}

void AdaptiveBar::choose()
{
    QWidget *shown = arrangementAt(width());
    QWidget *hidden = shown == m_full ? m_foldedArrangement : m_full;
    hidden->hide();
    shown->setGeometry(rect());
    if (shown->isHidden()) {
        shown->show();
        // Only the height may change with the arrangement.
        updateGeometry();
    }
}

} // namespace Pellwick
