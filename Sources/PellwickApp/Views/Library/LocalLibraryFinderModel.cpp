#include "LocalLibraryFinderModel.h"

#include <PellwickApp/Views/Library/LocalLibraryInspectorView.h>
#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QLocale>
#include <QSize>
#include <QStringList>
#include <QTimeZone>

#include <utility>

namespace Pellwick {

LocalLibraryTreeIndex::LocalLibraryTreeIndex(QList<LocalLibraryTreeNode> tree)
    : m_tree(std::move(tree))
{
    // Sized once: growing them node by node costs more than the walk itself.
    const auto count = static_cast<size_t>(nodeCount(m_tree));
    m_entries.reserve(count);
    m_childSlots.reserve(count);
    m_positionByID.reserve(count);
    m_childSlots.resize(static_cast<size_t>(m_tree.size()));
    append(m_tree, -1);
}

qsizetype LocalLibraryTreeIndex::nodeCount(const QList<LocalLibraryTreeNode> &nodes)
{
    qsizetype count = nodes.size();
    for (const LocalLibraryTreeNode &node : nodes) {
        if (node.children)
            count += nodeCount(*node.children);
    }
    return count;
}

void LocalLibraryTreeIndex::append(const QList<LocalLibraryTreeNode> &nodes, qsizetype parent)
{
    // The slots of `nodes` were reserved by the caller: the top level's at 0, a parent's at its
    // `firstChildSlot`.
    const qsizetype firstSlot = parent < 0 ? 0 : m_entries[parent].firstChildSlot;
    for (int row = 0; row < nodes.size(); ++row) {
        const LocalLibraryTreeNode &node = nodes.at(row);
        const auto position = static_cast<qsizetype>(m_entries.size());
        m_childSlots[firstSlot + row] = position;
        const auto childSlots = static_cast<qsizetype>(m_childSlots.size());
        m_entries.push_back(Entry{&node, parent, row, childSlots});
        m_positionByID.insert_or_assign(node.id, position);
        if (node.children && !node.children->isEmpty()) {
            m_childSlots.resize(m_childSlots.size() + static_cast<size_t>(node.children->size()));
            append(*node.children, position);
        }
    }
}

std::optional<qsizetype> LocalLibraryTreeIndex::position(const QString &nodeID) const
{
    const auto found = m_positionByID.find(nodeID);
    return found == m_positionByID.end() ? std::nullopt : std::optional(found->second);
}

std::vector<qsizetype> LocalLibraryTreeIndex::positionsRepresenting(const QUuid &itemID) const
{
    if (!m_positionsByItem) {
        auto byItem = std::make_shared<PositionsByItem>();
        byItem->reserve(m_entries.size());
        for (qsizetype position = 0; position < size(); ++position) {
            for (const LocalLibraryItem &item : node(position).representedItems) {
                std::vector<qsizetype> &positions = (*byItem)[item.id];
                if (positions.empty() || positions.back() != position)
                    positions.push_back(position);
            }
        }
        m_positionsByItem = std::move(byItem);
    }
    const auto found = m_positionsByItem->find(itemID);
    return found == m_positionsByItem->end() ? std::vector<qsizetype>() : found->second;
}

int LocalLibraryTreeIndex::childCount(qsizetype parent) const
{
    if (parent < 0)
        return static_cast<int>(m_tree.size());
    const LocalLibraryTreeNode &parentNode = node(parent);
    return parentNode.children ? static_cast<int>(parentNode.children->size()) : 0;
}

qsizetype LocalLibraryTreeIndex::child(qsizetype parent, int row) const
{
    return m_childSlots[(parent < 0 ? 0 : m_entries[parent].firstChildSlot) + row];
}

LocalLibraryFinderModel::LocalLibraryFinderModel(QObject *parent)
    : QAbstractItemModel(parent)
{}

void LocalLibraryFinderModel::setTree(QList<LocalLibraryTreeNode> tree)
{
    LocalLibraryTreeIndex index(std::move(tree));
    beginResetModel();
    std::swap(m_index, index);
    endResetModel();
    Workflow::releaseLater(std::move(index));
}

const LocalLibraryTreeNode *LocalLibraryFinderModel::node(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return &m_index.node(static_cast<qsizetype>(index.internalId()));
}

QModelIndex LocalLibraryFinderModel::indexOf(const QString &nodeID) const
{
    const std::optional<qsizetype> position = m_index.position(nodeID);
    return position ? createIndex(m_index.row(*position), 0, quintptr(*position)) : QModelIndex();
}

void LocalLibraryFinderModel::setPreviewURLs(PreviewURLs previewURLs)
{
    m_previewURLs = std::move(previewURLs);
    if (m_index.size() > 0) {
        // Rows are repainted as they show; one signal stands for all of them.
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, 0), {PreviewURLRole});
    }
}

QString LocalLibraryFinderModel::showMoreTitle(int count)
{
    return tr("Show %1 more folders").arg(count);
}

QString LocalLibraryFinderModel::captureDateText(const LocalLibraryItem &item)
{
    if (!item.metadata.captureTime.knownDate())
        return QStringLiteral("Unknown");
    return LocalLibraryInspector::captureTimeText(item, QLocale(), QTimeZone::systemTimeZone());
}

QStringList LocalLibraryFinderModel::columnTitles()
{
    return {
        QStringLiteral("Name"), QStringLiteral("Capture Date"), QStringLiteral("Import Status")};
}

QVariant
LocalLibraryFinderModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    // Screen readers read the header of the view's one column even though it is hidden.
    if (section != 0 || orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return columnTitles().join(QStringLiteral(", "));
}

QString LocalLibraryFinderModel::accessibleText(const QModelIndex &index) const
{
    // What a sighted reader sees across the row's columns.
    QStringList parts{data(index, Qt::DisplayRole).toString()};
    if (node(index)->folderPage)
        return parts.constFirst();
    parts.append(data(index, CaptureDateRole).toString());
    parts += data(index, ImportStatusTextsRole).toStringList();
    parts.removeAll(QString());
    return parts.join(QStringLiteral(", "));
}

QModelIndex LocalLibraryFinderModel::index(int row, int column, const QModelIndex &parent) const
{
    const qsizetype parentPosition = parent.isValid() ? qsizetype(parent.internalId()) : -1;
    if (column != 0 || row < 0 || row >= m_index.childCount(parentPosition))
        return {};
    return createIndex(row, 0, quintptr(m_index.child(parentPosition, row)));
}

QModelIndex LocalLibraryFinderModel::parent(const QModelIndex &child) const
{
    if (!child.isValid())
        return {};
    const qsizetype parentPosition = m_index.parent(qsizetype(child.internalId()));
    if (parentPosition < 0)
        return {};
    return createIndex(m_index.row(parentPosition), 0, quintptr(parentPosition));
}

int LocalLibraryFinderModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    return m_index.childCount(parent.isValid() ? qsizetype(parent.internalId()) : -1);
}

int LocalLibraryFinderModel::columnCount(const QModelIndex & /*parent*/) const
{
    return 1;
}

bool LocalLibraryFinderModel::hasChildren(const QModelIndex &parent) const
{
    return rowCount(parent) > 0;
}

QVariant LocalLibraryFinderModel::data(const QModelIndex &index, int role) const
{
    const LocalLibraryTreeNode *row = node(index);
    if (!row)
        return {};
    const LocalLibraryItem *item = row->item();
    switch (role) {
    case Qt::DisplayRole:
        if (row->folderPage)
            return showMoreTitle(row->folderPage->nextFolderCount);
        return item ? item->originalFilename : row->name;
    case Qt::AccessibleTextRole:
        return accessibleText(index);
    case IdentifierRole:
        return item ? QString(QStringLiteral("local-library-cache.item.") + item->originalFilename)
                    : QString(QStringLiteral("local-library-cache.entry.") + row->id);
    case Qt::SizeHintRole:
        return QSize(0, item ? rowHeightWithItem : rowHeightWithoutItem);
    case NodeIDRole:
        return row->id;
    case CaptureDateRole:
        return item ? captureDateText(*item) : QString();
    case ImportStatusTextsRole: {
        if (!item)
            return row->isDirectory ? QStringList() : QStringList{QStringLiteral("Not importable")};
        const QList<LibraryItemImportStatus> statuses = row->importStatuses();
        if (statuses.size() == 1)
            return QStringList{row->importStatusTitle()};
        QStringList titles;
        for (LibraryItemImportStatus status : statuses)
            titles.append(LibraryPresentation::importStatusTitle(status));
        return titles;
    }
    case ImportStatusIdentifierRole:
        if (!item || row->importStatuses().size() != 1)
            return {};
        return QString(QStringLiteral("local-library-cache.import-status.")
                       + item->originalFilename);
    case PreviewURLRole:
        if (item && m_previewURLs) {
            if (std::optional<QString> url = m_previewURLs(*item))
                return *url;
        }
        return {};
    default:
        return {};
    }
}

} // namespace Pellwick
