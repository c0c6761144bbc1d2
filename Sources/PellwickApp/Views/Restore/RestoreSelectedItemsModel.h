#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Restore/RestoreRequest.h>

#include <QAbstractListModel>
#include <QHash>
#include <QList>

#include <optional>

namespace Pellwick {

/// The RAW originals a restore concerns, one row each in the order given, with the active
/// request's entry for each: the first entry, in the request's order, whose `libraryItemID` is
/// the item's `backendLibraryItemID`. That lookup is a map built once per request, so a list
/// of a whole library stays cheap. Main thread only.
class RestoreSelectedItemsModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        /// The canonical filename (the display role is the original filename).
        CanonicalFilenameRole = Qt::UserRole + 1,
        /// The orange line under a row whose entry needs attention: its reason or
        /// "Restore needs attention"; no value for every other row.
        AttentionLineRole,
    };

    explicit RestoreSelectedItemsModel(QObject *parent = nullptr);

    /// Resets the rows when the items or the request differ from those held; rebuilds the
    /// entry map only when the request differs.
    void setItems(const QList<LocalLibraryItem> &items,
                  const std::optional<RestoreRequest> &activeRestoreRequest);

    /// The active request's entry for `row`, when there is one.
    std::optional<RestoreRequestItem> entry(int row) const;

    /// How often the entry map has been built.
    int entryMapBuildCount() const { return m_entryMapBuildCount; }

    int rowCount(const QModelIndex &parent = {}) const override;
    /// Also `Qt::AccessibleTextRole`: the original filename, the canonical filename and the
    /// entry's reason (whatever the entry's status), joined ", ".
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    QList<LocalLibraryItem> m_items;
    std::optional<RestoreRequest> m_request;
    QHash<qint64, qsizetype> m_firstEntry; ///< backend library item id -> index in the request
    int m_entryMapBuildCount = 0;
};

} // namespace Pellwick
