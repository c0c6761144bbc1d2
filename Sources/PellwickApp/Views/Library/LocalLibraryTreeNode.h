#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QList>
#include <QString>
#include <QUuid>

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

/// One row of the library folder tree: a folder, a content group, a file without items or a
/// paging row. Identified by `id`, unique within one built tree.
struct LocalLibraryTreeNode
{
    QString id;
    QString name;
    QList<LocalLibraryItem> representedItems;
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
