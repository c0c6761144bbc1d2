#pragma once

#include <PellwickCore/Ingest/TransferProgress.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QWidget>

class QProgressBar;

namespace Pellwick {

class BusySpinner;
class StatusLine;

/// The meter of one progress row: a determinate bar ("transfer-progress-bar", 0…10000) when the
/// phase is measurable and there is a byte total, else the spinner. Its accessible name is the
/// row's message.
class TransferProgressMeter : public QWidget
{
    Q_OBJECT

public:
    static constexpr int barMaximum = 10000;

    explicit TransferProgressMeter(QWidget *parent = nullptr);

    /// One bar value and one name; never rebuilds.
    void setProgress(const TransferProgress &progress);

    bool isDeterminate() const;

    QProgressBar *bar() const { return m_bar; }

    BusySpinner *spinner() const { return m_spinner; }

    /// `completed` of `total` on 0…10000, clamped; 0 for a total of 0 or less.
    static int barValue(qint64 completed, qint64 total);

private:
    QProgressBar *m_bar = nullptr;
    BusySpinner *m_spinner = nullptr;
};

/// A status line led by the spinner while `isActive`.
class ProgressStatusLine : public QWidget
{
    Q_OBJECT

public:
    ProgressStatusLine(const QString &title,
                       const QString &value,
                       LibraryPresentationTone tone,
                       bool isActive,
                       QWidget *parent = nullptr);

    void setLine(const QString &title,
                 const QString &value,
                 LibraryPresentationTone tone,
                 bool isActive);

    BusySpinner *spinner() const { return m_spinner; }

private:
    BusySpinner *m_spinner = nullptr;
    StatusLine *m_line = nullptr;
};

} // namespace Pellwick
