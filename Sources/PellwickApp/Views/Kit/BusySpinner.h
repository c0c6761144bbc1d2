#pragma once

#include <QBasicTimer>
#include <QWidget>

namespace Pellwick {

/// A small painted indeterminate activity indicator, about 16 px, animated only while visible.
class BusySpinner : public QWidget
{
    Q_OBJECT

public:
    explicit BusySpinner(QWidget *parent = nullptr);

    bool isAnimating() const { return m_timer.isActive(); }

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    QBasicTimer m_timer;
    int m_step = 0;
};

} // namespace Pellwick
