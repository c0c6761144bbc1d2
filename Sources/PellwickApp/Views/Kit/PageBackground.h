#pragma once

#include <QWidget>

namespace Pellwick {

/// The background of every page: a gradient from the accent at 0.13 in the top-leading corner
/// to `windowBackground` at the middle and in the bottom-trailing corner.
class PageBackground : public QWidget
{
    Q_OBJECT

public:
    explicit PageBackground(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace Pellwick
