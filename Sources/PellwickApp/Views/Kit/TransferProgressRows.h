#pragma once

#include <PellwickCore/Ingest/TransferProgress.h>

#include <QList>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace Pellwick {

class TransferProgressMeter;

/// One block per progress row, in the order given: the operation name
/// ("transfer-progress-title"), the message ("transfer-progress-line") and the meter. Blocks are
/// kept by progress id: a row whose values change keeps its widgets (one text and one bar value
/// per update), and rows around one that goes keep theirs. An empty list draws nothing.
class TransferProgressRows : public QWidget
{
    Q_OBJECT

public:
    explicit TransferProgressRows(QWidget *parent = nullptr);

    void setProgresses(const QList<TransferProgress> &progresses);

    const QList<TransferProgress> &progresses() const { return m_progresses; }

    /// How many blocks were ever built: rows kept by id do not add to it.
    int blocksBuilt() const { return m_blocksBuilt; }

private:
    struct Row
    {
        QUuid id;
        QWidget *widget = nullptr;
        QLabel *title = nullptr;
        QLabel *message = nullptr;
        TransferProgressMeter *meter = nullptr;
    };

    Row makeRow(const QUuid &id);

    QVBoxLayout *m_layout = nullptr;
    QList<Row> m_rows;
    QList<TransferProgress> m_progresses;
    int m_blocksBuilt = 0;
};

} // namespace Pellwick
