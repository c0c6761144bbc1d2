#pragma once

#include <QList>
#include <QWidget>

class QLabel;
class QPushButton;

namespace Pellwick {

class FoldingBox;
class BusySpinner;

/// The bottom of the Import Review page: the state message (the spinning "Recovering interrupted
/// Import" while recovering, else the help text) and the primary "Add to Ingest Cache" button
/// ("importReview.confirm"), in a row when it fits, else with the button under the message,
/// right-aligned. Padding 16 / 20 / 20 / 20 on the window background. Main thread only.
class ImportReviewFooter : public QWidget
{
    Q_OBJECT

public:
    explicit ImportReviewFooter(QWidget *parent = nullptr);

    void setState(bool isRecovering, const QString &confirmHelpText, bool canConfirm);

    FoldingBox *bar() const { return m_bar; }

Q_SIGNALS:
    /// The enabled confirm button was pressed.
    void confirmRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    /// One arrangement's own message and button.
    struct Parts
    {
        BusySpinner *spinner = nullptr;
        QLabel *message = nullptr;
        QPushButton *button = nullptr;
    };

    QWidget *makeArrangement(bool folded);

    QList<Parts> m_parts;
    FoldingBox *m_bar = nullptr;
};

} // namespace Pellwick
