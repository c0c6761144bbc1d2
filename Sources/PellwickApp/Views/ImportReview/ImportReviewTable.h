#pragma once

#include <PellwickCore/Ingest/ImportReview.h>

#include <QWidget>

#include <optional>

class QListView;
class QStackedWidget;

namespace Pellwick {

class EmptyStateView;
class ImportReviewTableModel;

/// Every file of the current Import Review, one painted 64-high row each with a divider below
/// it, under a painted column header that shares the rows' column geometry: preview 66, the
/// filename (at least 180, taking the rest), sidecar 112, bytes 104, status 132, volume 128,
/// spacing 10, padding 14. Without a review, or with a review of no items, the empty state
/// ("importReview.emptyState") instead. Display only: no selection, sorting or actions; the
/// list takes keyboard focus and scrolls with the keys. Main thread only.
class ImportReviewTable : public QWidget
{
    Q_OBJECT

public:
    static constexpr int rowHeight = 64;

    explicit ImportReviewTable(QWidget *parent = nullptr);

    /// Resets the rows only when `review` differs from the one shown.
    void setReview(const std::optional<ImportReview> &review);

    ImportReviewTableModel *model() const { return m_model; }

    QListView *list() const { return m_list; }

    EmptyStateView *emptyState() const { return m_emptyState; }

    /// The tooltip of the sub-cell under `position` of the list's viewport: the full filename,
    /// folder path, sidecar text or volume name; empty elsewhere.
    QString toolTipAt(const QPoint &position) const;

private:
    ImportReviewTableModel *m_model = nullptr;
    QListView *m_list = nullptr;
    EmptyStateView *m_emptyState = nullptr;
    QStackedWidget *m_content = nullptr;
};

} // namespace Pellwick
