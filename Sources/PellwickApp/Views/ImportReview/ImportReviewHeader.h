#pragma once

#include <PellwickApp/Views/Kit/PageHeader.h>
#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Ingest/TransferProgress.h>

#include <QList>

#include <optional>

class QBoxLayout;
class QLabel;
class QMenu;
class QPushButton;
class QStackedWidget;

namespace Pellwick {

class FoldingBox;
class ElidedLabel;
class StatusBadge;
class TransferProgressRows;

/// The size of a scan in 1024-based units: "Zero KB", "1 byte", "N bytes" up to 1023, then KB
/// with no decimals, MB with one, GB and larger with two, trailing zeros dropped, rounded half
/// away from zero. A value that rounds to 1024 of its unit is written as 1 of the next. Never
/// depends on the locale.
QString binaryByteCountText(qint64 byteCount);

/// "Rescan" and "Choose Folder" in a row, folded into the "Import Actions" menu (the same two
/// actions, in the same order and under the same object names) when the row does not fit.
/// Never disabled: either action during a running scan starts a new one.
class ImportReviewHeaderActions : public QWidget
{
    Q_OBJECT

public:
    explicit ImportReviewHeaderActions(QWidget *parent = nullptr);

    FoldingBox *bar() const { return m_bar; }

    /// The menu of the folded arrangement.
    QMenu *menu() const { return m_menu; }

Q_SIGNALS:
    void rescanRequested();
    void chooseFolderRequested();

private:
    FoldingBox *m_bar = nullptr;
    QMenu *m_menu = nullptr;
};

/// The top of the Import Review page: title, the sources of the current review as its
/// description, the two scan actions, and a status region showing the transfer progress rows
/// while there are any, else the source status ("importReview.sourceTitle" and the scan summary
/// "importReview.scanSummary"). Compact, the source title and the scan summary share one line.
/// Updated in place. Main thread only.
class ImportReviewHeader : public PageHeader
{
    Q_OBJECT

public:
    explicit ImportReviewHeader(QWidget *parent = nullptr);

    void setReview(const std::optional<ImportReview> &review);
    void setScanning(bool isScanning);
    void setProgresses(const QList<TransferProgress> &progresses);
    void setCompact(bool compact) override;

    ImportReviewHeaderActions *actions() const { return m_actions; }

Q_SIGNALS:
    void rescanRequested();
    void chooseFolderRequested();

private:
    void updateSourceStatus();
    /// Shows the source status (0) or the progress rows (1).
    void showStatusPage(int index);

    std::optional<ImportReview> m_review;
    bool m_isScanning = false;
    ImportReviewHeaderActions *m_actions = nullptr;
    QStackedWidget *m_status = nullptr;
    QBoxLayout *m_source = nullptr;
    ElidedLabel *m_sourceTitle = nullptr;
    StatusBadge *m_badge = nullptr;
    QLabel *m_count = nullptr;
    QLabel *m_bytes = nullptr;
    TransferProgressRows *m_progressRows = nullptr;
};

} // namespace Pellwick
