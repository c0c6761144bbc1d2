#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace Pellwick {

/// What a page shows when it has nothing to list: a large symbol, a headline, a wrapping
/// description and, when asked for, one button. Centred in the space it is given.
class EmptyStateView : public QWidget
{
    Q_OBJECT

public:
    EmptyStateView(const QString &systemImage,
                   const QString &headline,
                   const QString &description,
                   QWidget *parent = nullptr);

    /// Adds the one button (a secondary kit button) and returns it.
    QPushButton *addButton(const QString &text);

    QPushButton *button() const { return m_button; }

private:
    QPushButton *m_button = nullptr;
};

} // namespace Pellwick
