#include "ProgressStatusLine.h"

#include <PellwickApp/Feedback/TransferProgressPresentation.h>
#include <PellwickApp/Views/Kit/BusySpinner.h>
#include <PellwickApp/Views/Kit/StatusLine.h>

#include <QHBoxLayout>
#include <QProgressBar>

#include <algorithm>

namespace Pellwick {

TransferProgressMeter::TransferProgressMeter(QWidget *parent)
    : QWidget(parent)
    , m_bar(new QProgressBar(this))
    , m_spinner(new BusySpinner(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_bar->setObjectName(QStringLiteral("transfer-progress-bar"));
    m_bar->setTextVisible(false);
    m_bar->setMaximumHeight(8);
    m_bar->setRange(0, barMaximum);
    layout->addWidget(m_bar, 1);
    layout->addWidget(m_spinner, 0, Qt::AlignLeft);
    layout->addStretch(0);
    m_spinner->hide();
}

int TransferProgressMeter::barValue(qint64 completed, qint64 total)
{
    if (total <= 0)
        return 0;
    // In doubles: a byte count never passes through the bar's int.
    const double fraction = std::clamp(double(completed) / double(total), 0.0, 1.0);
    return int(fraction * barMaximum);
}

bool TransferProgressMeter::isDeterminate() const
{
    return !m_bar->isHidden();
}

void TransferProgressMeter::setProgress(const TransferProgress &progress)
{
    const bool determinate = !isIndeterminate(progress.phase) && progress.totalByteCount > 0;
    m_bar->setVisible(determinate);
    m_spinner->setVisible(!determinate);
    if (determinate)
        m_bar->setValue(barValue(progress.completedByteCount, progress.totalByteCount));
    const QString message = TransferProgressPresentation::message(progress);
    setAccessibleName(message);
    m_bar->setAccessibleName(message);
}

ProgressStatusLine::ProgressStatusLine(const QString &title,
                                       const QString &value,
                                       LibraryPresentationTone tone,
                                       bool isActive,
                                       QWidget *parent)
    : QWidget(parent)
    , m_spinner(new BusySpinner(this))
    , m_line(new StatusLine(title, value, tone, this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(m_spinner, 0, Qt::AlignVCenter);
    layout->addWidget(m_line, 1);
    m_spinner->setVisible(isActive);
}

void ProgressStatusLine::setLine(const QString &title,
                                 const QString &value,
                                 LibraryPresentationTone tone,
                                 bool isActive)
{
    m_line->setLine(title, value, tone);
    m_spinner->setVisible(isActive);
}

} // namespace Pellwick
