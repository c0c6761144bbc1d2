#pragma once

#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QList>
#include <QWidget>

#include <array>
#include <optional>

class QGridLayout;
class QLabel;
class QScrollArea;

namespace Pellwick {

class AlertStrip;
class BusySpinner;

/// What the status strip shows, as the page passes it.
struct ImportReviewStatusInputs
{
    std::optional<ImportReview> review{};
    bool isScanning = false;
    bool isImporting = false;
    bool isRecovering = false;
    /// The latest text of recovery and cache maintenance.
    std::optional<QString> recoveryMessage{};
    /// The latest text of the import workflow, success texts included.
    std::optional<QString> importErrorMessage{};
    /// `importErrorMessage` reports a success.
    bool isImportMessageSuccess = false;

    bool operator==(const ImportReviewStatusInputs &) const = default;
};

/// One cell of the status grid.
struct ImportReviewStatusItem
{
    QString title;
    QString value;
    LibraryPresentationTone tone = LibraryPresentationTone::Secondary;
    bool isActive = false;

    bool operator==(const ImportReviewStatusItem &) const = default;
};

/// One alert strip.
struct ImportReviewStatusAlert
{
    QString text;
    QString systemImage;
    LibraryPresentationTone tone = LibraryPresentationTone::Danger;

    bool operator==(const ImportReviewStatusAlert &) const = default;
};

/// Everything the strip shows: the four grid items in order (scanning, import, restart
/// reconciliation, needs attention) and the alert strips in order (the unpaired-sidecar
/// warning, the recovery message, the import message). Shared with the page's inspector.
struct ImportReviewStatusPresentation
{
    std::array<ImportReviewStatusItem, 4> items;
    QList<ImportReviewStatusAlert> alerts;

    bool operator==(const ImportReviewStatusPresentation &) const = default;
};

/// Pure. A success text of the import workflow is a positive strip with "checkmark.circle";
/// any other import text a danger strip. An empty text still makes a strip.
ImportReviewStatusPresentation importReviewStatusPresentation(const ImportReviewStatusInputs &in);

/// Shows `alerts` in the first of `strips`, in order, and hides the rest.
void showStatusAlerts(const std::array<AlertStrip *, 3> &strips,
                      const QList<ImportReviewStatusAlert> &alerts);

/// The strips of `strips` that are shown, in order.
QList<AlertStrip *> shownStatusAlerts(const std::array<AlertStrip *, 3> &strips);

/// The compact status panel of the Import Review page: "Status", the 2 x 2 grid of running work
/// and attention count, the alert region ("importReview.alertRegion": as tall as the strips it
/// holds up to 120, then scrolling; absent without strips) and the guidance sentence. Where the
/// width allows, "Status" and the four cells share one row. Never taller than its contents.
/// Updated in place. Main thread only.
class ImportReviewStatusStrip : public QWidget
{
    Q_OBJECT

public:
    static constexpr int alertRegionMaximumHeight = 120;
    static constexpr int cellMinimumWidth = 140;

    explicit ImportReviewStatusStrip(QWidget *parent = nullptr);

    void setInputs(const ImportReviewStatusInputs &inputs);

    const ImportReviewStatusPresentation &presentation() const { return m_presentation; }

    QScrollArea *alertRegion() const { return m_alertRegion; }

    /// The alert strips shown, in order.
    QList<AlertStrip *> shownAlerts() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    /// Fits the alert region to the strips shown at the current width.
    void fitAlertRegion();
    /// Puts "Status" and the cells in one row, or the title above two rows of two.
    void arrangeGrid(bool oneRow);

    struct Cell
    {
        QWidget *cell = nullptr;
        BusySpinner *spinner = nullptr;
        QLabel *title = nullptr;
        QLabel *value = nullptr;
    };

    void present(const ImportReviewStatusPresentation &presentation);

    ImportReviewStatusPresentation m_presentation;
    QLabel *m_title = nullptr;
    QGridLayout *m_grid = nullptr;
    bool m_isOneRow = false;
    std::array<Cell, 4> m_cells;
    std::array<AlertStrip *, 3> m_alerts{};
    QScrollArea *m_alertRegion = nullptr;
};

} // namespace Pellwick
