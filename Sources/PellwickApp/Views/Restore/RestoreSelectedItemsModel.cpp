#include "RestoreSelectedItemsModel.h"

namespace Pellwick {

RestoreSelectedItemsModel::RestoreSelectedItemsModel(QObject *parent)
    : QAbstractListModel(parent)
{}

void RestoreSelectedItemsModel::setItems(const QList<LocalLibraryItem> &items,
                                         const std::optional<RestoreRequest> &activeRestoreRequest)
{
    const bool requestChanged = activeRestoreRequest != m_request;
    if (!requestChanged && items == m_items)
        return;
    beginResetModel();
    m_items = items;
    if (requestChanged) {
        m_request = activeRestoreRequest;
        m_firstEntry.clear();
        if (m_request) {
            m_firstEntry.reserve(m_request->items.size());
            for (qsizetype index = 0; index < m_request->items.size(); ++index) {
                const qint64 id = m_request->items.at(index).libraryItemID;
                if (!m_firstEntry.contains(id))
                    m_firstEntry.insert(id, index);
            }
        }
        ++m_entryMapBuildCount;
    }
    endResetModel();
}

std::optional<RestoreRequestItem> RestoreSelectedItemsModel::entry(int row) const
{
    if (!m_request || row < 0 || row >= m_items.size())
        return std::nullopt;
    const std::optional<qint64> id = m_items.at(row).backendLibraryItemID;
    if (!id)
        return std::nullopt;
    const auto found = m_firstEntry.constFind(*id);
    if (found == m_firstEntry.cend())
        return std::nullopt;
    return m_request->items.at(*found);
}

int RestoreSelectedItemsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant RestoreSelectedItemsModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const LocalLibraryItem &item = m_items.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return item.originalFilename;
    case CanonicalFilenameRole:
        return item.canonicalFilename;
    case AttentionLineRole: {
        const std::optional<RestoreRequestItem> found = entry(index.row());
        if (!found || found->status != RestoreRequestStatus::NeedsAttention)
            return {};
        return found->attentionReason.value_or(QStringLiteral("Restore needs attention"));
    }
    case Qt::AccessibleTextRole: {
        QStringList parts{item.originalFilename, item.canonicalFilename};
        const std::optional<RestoreRequestItem> found = entry(index.row());
        if (found && found->attentionReason)
            parts.append(*found->attentionReason);
        return parts.join(QStringLiteral(", "));
    }
    default:
        return {};
    }
}

} // namespace Pellwick
