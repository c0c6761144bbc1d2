#pragma once

#include <PellwickApp/Shell/State/LocalLibraryTreeNode.h>

#include <QAbstractItemModel>
#include <QHash>
#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Pellwick {

/// One built folder tree with the look-ups the finder list needs, made once per tree: the nodes
/// in pre-order with their parents and rows, node id → position and item id → the positions of
/// the nodes that represent it. The tree is shared, never copied, and never changes.
class LocalLibraryTreeIndex
{
public:
    LocalLibraryTreeIndex() = default;
    explicit LocalLibraryTreeIndex(QList<LocalLibraryTreeNode> tree);

    const QList<LocalLibraryTreeNode> &tree() const { return m_tree; }

    /// Number of nodes, all levels.
    qsizetype size() const { return static_cast<qsizetype>(m_entries.size()); }

    /// The node at `position` of the pre-order.
    const LocalLibraryTreeNode &node(qsizetype position) const { return *m_entries[position].node; }

    std::optional<qsizetype> position(const QString &nodeID) const;

    /// The parent's position; -1 for a top-level node.
    qsizetype parent(qsizetype position) const { return m_entries[position].parent; }

    int row(qsizetype position) const { return m_entries[position].row; }

    /// Children of the node at `parent`, or top-level nodes for -1.
    int childCount(qsizetype parent) const;
    qsizetype child(qsizetype parent, int row) const;

    /// The positions of the nodes whose represented items include `itemID`, in pre-order. The
    /// look-up is made at the first call, so a list that never asks never pays for it.
    std::vector<qsizetype> positionsRepresenting(const QUuid &itemID) const;

private:
    struct Entry
    {
        const LocalLibraryTreeNode *node = nullptr;
        qsizetype parent = -1;
        int row = 0;
        qsizetype firstChildSlot = 0;
    };

    static qsizetype nodeCount(const QList<LocalLibraryTreeNode> &nodes);
    void append(const QList<LocalLibraryTreeNode> &nodes, qsizetype parent);

    QList<LocalLibraryTreeNode> m_tree;
    std::vector<Entry> m_entries;
    /// Each parent's children as consecutive slots holding their positions.
    std::vector<qsizetype> m_childSlots;

    /// A fast hash of an id's code units: ids are long texts, and a tree has 100,000s of them.
    struct IDHash
    {
        size_t operator()(const QString &id) const
        {
            const QStringView text(id);
            return std::hash<std::u16string_view>()(
                std::u16string_view(text.utf16(), static_cast<size_t>(text.size())));
        }
    };

    std::unordered_map<QString, qsizetype, IDHash> m_positionByID;

    struct UuidHash
    {
        // All 16 bytes: `qHash(QUuid)` folds them into 32 bits and collides on ids made in series.
        size_t operator()(const QUuid &id) const noexcept { return qHashBits(&id, sizeof id); }
    };

    using PositionsByItem = std::unordered_map<QUuid, std::vector<qsizetype>, UuidHash>;
    mutable std::shared_ptr<const PositionsByItem> m_positionsByItem;
};

/// The finder list's model: one column over an immutable folder tree, replaced whole by
/// `setTree`. `data()` reads only the tree (and the preview URL function once previews may
/// load). Main thread only.
class LocalLibraryFinderModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Role {
        NodeIDRole = Qt::UserRole + 1,
        /// "local-library-cache.item." + original filename, or "local-library-cache.entry." + id.
        /// The accessible text is what the row shows: the name, then the capture date and the
        /// status texts of a file, joined by ", "; a folder's name; a paging row's title.
        IdentifierRole,
        CaptureDateRole,
        /// The status texts in the order shown: one per stacked label, "Not importable" for a
        /// file without item, none for a folder.
        ImportStatusTextsRole,
        /// "local-library-cache.import-status." + original filename on a row with one status.
        ImportStatusIdentifierRole,
        PreviewURLRole,
    };

    using PreviewURLs = std::function<std::optional<QString>(const LocalLibraryItem &)>;

    static constexpr int rowHeightWithoutItem = 26;
    static constexpr int rowHeightWithItem = 38;

    explicit LocalLibraryFinderModel(QObject *parent = nullptr);

    /// Shows `tree` with one reset; the replaced index is taken apart off the main thread.
    void setTree(QList<LocalLibraryTreeNode> tree);

    const LocalLibraryTreeIndex &treeIndex() const { return m_index; }

    const LocalLibraryTreeNode *node(const QModelIndex &index) const;
    QModelIndex indexOf(const QString &nodeID) const;

    /// Lets rows with an available preview have a preview URL from now on.
    void setPreviewURLs(PreviewURLs previewURLs);

    /// "Show N more folders".
    static QString showMoreTitle(int count);
    /// The capture date of `item` (abbreviated date, short time), "Unknown" when unknown.
    static QString captureDateText(const LocalLibraryItem &item);
    /// The titles above the list, in order: "Name", "Capture Date", "Import Status". The one
    /// column holds all three, so its header reads them joined by ", ", as its rows are read.
    static QStringList columnTitles();

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant
    headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QString accessibleText(const QModelIndex &index) const;

    LocalLibraryTreeIndex m_index;
    PreviewURLs m_previewURLs;
};

} // namespace Pellwick
