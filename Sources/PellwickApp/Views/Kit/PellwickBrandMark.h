#pragma once

#include <QWidget>

class QPainter;

namespace Pellwick {

/// The application's picture at the left of page titles, scaled to fit with its aspect kept;
/// without one, the fallback mark: an accent rounded square carrying a white rounded outline.
/// Object name and accessible name "pellwick.brand-mark".
class PellwickBrandMark : public QWidget
{
    Q_OBJECT

public:
    /// The frame page titles give the mark.
    static constexpr int titleSize = 28;

    explicit PellwickBrandMark(QWidget *parent = nullptr);

    QSize sizeHint() const override { return {titleSize, titleSize}; }

    /// Draws the fallback mark into `frame`, its sizes in points of a 28-point mark scaled to
    /// the frame's.
    static void paintFallback(QPainter &painter, const QRectF &frame);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace Pellwick
