#pragma once

#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QAbstractListModel>
#include <QHash>

#include <optional>

namespace Pellwick {

/// The three kinds of Import Review row.
enum class ImportReviewRowKind {
    Supported,
    UnpairedSidecar,
    Excluded,
};

/// The rows of the Import Review table: one per item of the current review, in the review's
/// order. Every cell text and tone is a role; the filename is also the display text and the
/// accessible text. Reset only when the review itself changes. Main thread only.
class ImportReviewTableModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        FilenameRole = Qt::UserRole + 1,
        /// The name of the folder holding the file; its full path is `FolderPathRole`.
        FolderNameRole,
        FolderPathRole,
        SidecarTextRole,
        /// True for a supported item with a sidecar: its name is drawn in the primary style.
        SidecarIsPrimaryRole,
        BytesTextRole,
        BadgeTextRole,
        BadgeToneRole,
        DetailTextRole,
        VolumeNameRole,
        RowKindRole,
    };

    explicit ImportReviewTableModel(QObject *parent = nullptr);

    /// Takes `review`; resets the rows only when it differs from the one held.
    void setReview(const std::optional<ImportReview> &review);

    const std::optional<ImportReview> &review() const { return m_review; }

    /// The row of the item with `id`, if any. The index is built on the first call after a reset,
    /// so handing over a large review costs nothing per item.
    std::optional<int> rowOf(const QString &id) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    static ImportReviewRowKind rowKind(const ImportReviewItemStatus &status);

private:
    std::optional<ImportReview> m_review;
    QList<ImportReviewItem> m_items;
    mutable QHash<QString, int> m_rowById;
};

} // namespace Pellwick
