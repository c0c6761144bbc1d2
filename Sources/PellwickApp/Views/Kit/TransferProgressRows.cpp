#include "TransferProgressRows.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

namespace Pellwick {

TransferProgressRows::TransferProgressRows(QWidget *parent)
    : QWidget(parent)
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(8);
}

QString TransferProgressRows::line(const TransferProgress &progress)
{
    if (progress.currentFilename)
        return progress.operationName + QStringLiteral(" — ") + *progress.currentFilename;
    return progress.operationName;
}

void TransferProgressRows::setProgresses(const QList<TransferProgress> &progresses)
{
    m_progresses = progresses;
    while (m_rows.size() > progresses.size())
        delete m_rows.takeLast().widget;
    while (m_rows.size() < progresses.size()) {
        Row row;
        row.widget = new QWidget(this);
        auto *layout = new QVBoxLayout(row.widget);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(4);
        row.label = new QLabel(row.widget);
        row.label->setObjectName(QStringLiteral("transfer-progress-line"));
        // File names come from cards and from the backend: plain text, cut at the edge.
        row.label->setTextFormat(Qt::PlainText);
        row.label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        row.bar = new QProgressBar(row.widget);
        row.bar->setObjectName(QStringLiteral("transfer-progress-bar"));
        row.bar->setTextVisible(false);
        row.bar->setMaximumHeight(8);
        layout->addWidget(row.label);
        layout->addWidget(row.bar);
        m_layout->addWidget(row.widget);
        m_rows.append(row);
    }
    for (qsizetype index = 0; index < progresses.size(); ++index) {
        const TransferProgress &progress = progresses[index];
        const Row &row = m_rows[index];
        row.label->setText(line(progress));
        row.bar->setAccessibleName(line(progress));
        if (isIndeterminate(progress.phase) || progress.totalByteCount <= 0) {
            row.bar->setRange(0, 0);
            continue;
        }
        // The bar counts in ints: scale large totals down to keep the fraction.
        const double fraction = std::clamp(
            double(progress.completedByteCount) / double(progress.totalByteCount), 0.0, 1.0);
        row.bar->setRange(0, 10000);
        row.bar->setValue(int(fraction * 10000));
    }
}

} // namespace Pellwick
