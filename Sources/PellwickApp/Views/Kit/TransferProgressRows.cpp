#include "TransferProgressRows.h"

#include <PellwickApp/Feedback/TransferProgressPresentation.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/ProgressStatusLine.h>

#include <QLabel>
#include <QVBoxLayout>

namespace Pellwick {

namespace {

/// A label for outside text (file names from cards and the backend): plain, cut at the edge.
QLabel *plainLabel(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

void setTextIfChanged(QLabel &label, const QString &text)
{
    if (label.text() != text)
        label.setText(text);
}

} // namespace

TransferProgressRows::TransferProgressRows(QWidget *parent)
    : QWidget(parent)
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(8);
}

TransferProgressRows::Row TransferProgressRows::makeRow(const QUuid &id)
{
    Row row;
    row.id = id;
    row.widget = new QWidget(this);
    auto *layout = new QVBoxLayout(row.widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    row.title = plainLabel(QStringLiteral("transfer-progress-title"), row.widget);
    QFont titleFont = PellwickTheme::font(PellwickTheme::TextStyle::Callout);
    titleFont.setWeight(QFont::Medium);
    row.title->setFont(titleFont);
    row.message = plainLabel(QStringLiteral("transfer-progress-line"), row.widget);
    row.message->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Caption));
    PellwickTheme::setTextColour(*row.message, PellwickTheme::secondaryLabel());
    row.meter = new TransferProgressMeter(row.widget);
    layout->addWidget(row.title);
    layout->addWidget(row.message);
    layout->addWidget(row.meter);
    ++m_blocksBuilt;
    return row;
}

void TransferProgressRows::setProgresses(const QList<TransferProgress> &progresses)
{
    m_progresses = progresses;
    // Each progress takes the first unused row of its id; the rest are dropped.
    QList<Row> previous = std::exchange(m_rows, {});
    for (const TransferProgress &progress : progresses) {
        const auto found = std::find_if(previous.begin(), previous.end(), [&](const Row &row) {
            return row.id == progress.id;
        });
        if (found != previous.end()) {
            m_rows.append(*found);
            previous.erase(found);
        } else {
            m_rows.append(makeRow(progress.id));
        }
    }
    for (const Row &gone : previous)
        delete gone.widget;
    for (qsizetype index = 0; index < m_rows.size(); ++index) {
        const Row &row = m_rows[index];
        if (m_layout->indexOf(row.widget) != index) {
            m_layout->removeWidget(row.widget);
            m_layout->insertWidget(int(index), row.widget);
        }
        const TransferProgress &progress = progresses[index];
        setTextIfChanged(*row.title, progress.operationName);
        setTextIfChanged(*row.message, TransferProgressPresentation::message(progress));
        row.meter->setProgress(progress);
    }
}

} // namespace Pellwick
