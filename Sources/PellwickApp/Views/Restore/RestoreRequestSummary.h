#pragma once

#include <PellwickApp/Views/Kit/URLOpener.h>
#include <PellwickApp/Views/Restore/RestorePresentation.h>

#include <QList>
#include <QWidget>

class QLabel;
class QPushButton;

namespace Pellwick {

class AlertStrip;

/// The Restore Request card: the facts (items, size, status, allowance, estimate) with their
/// identifiers, the four-step timeline, the stop, retry and rebuild buttons when the state
/// offers them, the message, error and attention strips, the folder of the last completed
/// restore with "Show in Folder", and the help line. It computes nothing about the restore:
/// `apply` shows the fields it is given, in place. Main thread only.
class RestoreRequestSummary final : public QWidget
{
    Q_OBJECT

public:
    explicit RestoreRequestSummary(QWidget *parent = nullptr);

    /// Shows `fields`: sets texts, tones and visibility of the elements made once.
    void apply(const RestoreSummaryFields &fields);

    const RestoreSummaryFields &fields() const { return m_fields; }

    /// Replaces what "Show in Folder" opens the folder's file URL with (tests record it); by
    /// default the desktop's file manager through `QDesktopServices`.
    void setURLOpener(URLOpener opener);

Q_SIGNALS:
    /// "Stop Restore" was pressed; the page asks for confirmation.
    void cancelRestoreRequested();
    /// "Retry Restore Preparation" was pressed.
    void retryPreparationRequested();
    /// "Rebuild Local Library Cache" was pressed; the page asks for confirmation.
    void rebuildLocalLibraryCacheRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Fact
    {
        QWidget *widget = nullptr;
        QLabel *title = nullptr;
        QLabel *value = nullptr;
    };

    struct TimelineRow
    {
        QWidget *widget = nullptr;
        QLabel *symbol = nullptr;
        QLabel *title = nullptr;
    };

    Fact makeFact(QWidget *parent, const QString &identifier);
    QWidget *makeTimeline();
    QPushButton *makeButton(const QString &text, const QString &systemImage);
    QWidget *makeSavedTo();
    void showFolder() const;

    RestoreSummaryFields m_fields;
    URLOpener m_urlOpener;
    QList<Fact> m_facts;
    QList<TimelineRow> m_timeline;
    QPushButton *m_stop = nullptr;
    QPushButton *m_retry = nullptr;
    QPushButton *m_rebuild = nullptr;
    AlertStrip *m_message = nullptr;
    AlertStrip *m_error = nullptr;
    AlertStrip *m_attention = nullptr;
    QWidget *m_savedTo = nullptr;
    QLabel *m_path = nullptr;
    QLabel *m_help = nullptr;
};

} // namespace Pellwick
