#pragma once

#include <PellwickCore/Ingest/TransferProgress.h>

#include <QList>
#include <QWidget>

class QLabel;
class QProgressBar;
class QVBoxLayout;

namespace Pellwick {

/// One line and one bar per progress row, in the order given. Phases without a measurable
/// fraction, and rows without a byte total, show a busy bar. Rows are reused while their count
/// stays, so frequent updates do not rebuild widgets.
class TransferProgressRows : public QWidget
{
    Q_OBJECT

public:
    explicit TransferProgressRows(QWidget *parent = nullptr);

    void setProgresses(const QList<TransferProgress> &progresses);

    const QList<TransferProgress> &progresses() const { return m_progresses; }

    /// The line shown for `progress`.
    static QString line(const TransferProgress &progress);

private:
    struct Row
    {
        QWidget *widget = nullptr;
        QLabel *label = nullptr;
        QProgressBar *bar = nullptr;
    };

    QVBoxLayout *m_layout = nullptr;
    QList<Row> m_rows;
    QList<TransferProgress> m_progresses;
};

} // namespace Pellwick
