#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QList>
#include <QString>
#include <QUuid>

#include <algorithm>
#include <optional>

namespace Pellwick {

/// The paging state of a folder's child folders.
struct LocalLibraryFolderPage
{
    QString folderID;           ///< the paged folder's node id
    int visibleFolderCount = 0; ///< child folders shown now
    int nextFolderCount = 0;    ///< how many more the paging row reveals

    bool operator==(const LocalLibraryFolderPage &) const = default;
};

/// The records a tree row stands for: a run of a list it shares. The rows of a tree built from a
/// list of visible items point into that list, so a tree of 75,000 records copies none of them.
class LocalLibraryItemRun
{
public:
    LocalLibraryItemRun() = default;

    /// All of `items`.
    LocalLibraryItemRun(QList<LocalLibraryItem> items) // NOLINT(google-explicit-constructor)
        : m_count(items.size())
        , m_items(std::move(items))
    {}

    /// The `count` records of `items` from `first` on.
    LocalLibraryItemRun(QList<LocalLibraryItem> items, qsizetype first, qsizetype count)
        : m_first(first)
        , m_count(count)
        , m_items(std::move(items))
    {
        Q_ASSERT(first >= 0 && count >= 0 && first + count <= m_items.size());
    }

    const LocalLibraryItem *begin() const { return m_items.constData() + m_first; }

    const LocalLibraryItem *end() const { return begin() + m_count; }

    qsizetype size() const { return m_count; }

    bool isEmpty() const { return m_count == 0; }

    const LocalLibraryItem &at(qsizetype i) const
    {
        Q_ASSERT(i >= 0 && i < m_count);
        return m_items.at(m_first + i);
    }

    QList<LocalLibraryItem> toList() const
    {
        return m_first == 0 && m_count == m_items.size() ? m_items : m_items.mid(m_first, m_count);
    }

    friend bool operator==(const LocalLibraryItemRun &a, const LocalLibraryItemRun &b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    qsizetype m_first = 0;
    qsizetype m_count = 0;
    QList<LocalLibraryItem> m_items;
};

/// One row of the library folder tree: a folder, a content group, a file without items or a
/// paging row. Identified by `id`, unique within one built tree.
struct LocalLibraryTreeNode
{
    QString id;
    QString name;
    LocalLibraryItemRun representedItems;
    /// The position in `representedItems` of a content group's display item; none on other rows.
    /// A tree of 100,000 items holds the display item once, not once more in every row.
    std::optional<qsizetype> itemIndex;
    std::optional<QList<LocalLibraryTreeNode>> children; ///< present on folder rows only
    bool isDirectory = false;
    std::optional<LocalLibraryFolderPage> folderPage;            ///< present on paging rows only
    std::optional<QList<QUuid>> eligibleDescendantActionItemIDs; ///< present on folder rows only

    bool operator==(const LocalLibraryTreeNode &) const = default;

    /// The display item of a content group; null on the other rows.
    const LocalLibraryItem *item() const
    {
        return itemIndex ? &representedItems.at(*itemIndex) : nullptr;
    }

    /// The display item as a value, for those who keep it.
    std::optional<LocalLibraryItem> itemValue() const
    {
        return itemIndex ? std::optional(representedItems.at(*itemIndex)) : std::nullopt;
    }

    /// The ids of the items that selecting this row selects for an Import or a Restore: a folder's
    /// actionable items anywhere beneath it (paged-out folders included), the actionable members
    /// of a content group, nothing for a paging row or a file without items. Order carries no
    /// meaning.
    QList<QUuid> actionSelectionItemIDs() const;
    /// This row followed by every row built beneath it, depth first.
    QList<LocalLibraryTreeNode> flattened() const;
    /// The distinct import statuses of the represented items, in declaration order.
    QList<LibraryItemImportStatus> importStatuses() const;
    /// The titles of `importStatuses()` joined with " · "; empty without statuses.
    QString importStatusTitle() const;
};

} // namespace Pellwick
