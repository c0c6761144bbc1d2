#include "LocalLibraryTreeNode.h"

#include <PellwickApp/Shell/State/LocalLibraryTree.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QStringList>

#include <algorithm>
#include <array>

namespace Pellwick {

namespace {

constexpr std::array statusOrder{LibraryItemImportStatus::LocalCacheReady,
                                 LibraryItemImportStatus::Uploading,
                                 LibraryItemImportStatus::Verifying,
                                 LibraryItemImportStatus::VerifiedBackup,
                                 LibraryItemImportStatus::CleanupPending,
                                 LibraryItemImportStatus::NeedsAttention,
                                 LibraryItemImportStatus::Duplicate};

void appendFlattened(const LocalLibraryTreeNode &node, QList<LocalLibraryTreeNode> &rows)
{
    rows.append(node);
    if (node.children) {
        for (const LocalLibraryTreeNode &child : *node.children)
            appendFlattened(child, rows);
    }
}

} // namespace

QList<QUuid> LocalLibraryTreeNode::actionSelectionItemIDs() const
{
    if (eligibleDescendantActionItemIDs)
        return *eligibleDescendantActionItemIDs;
    QList<QUuid> ids;
    if (!itemIndex) {
        if (children) {
            for (const LocalLibraryTreeNode &child : *children)
                ids.append(child.actionSelectionItemIDs());
        }
        return ids;
    }
    for (const LocalLibraryItem &actionable : LocalLibraryTree::actionableItems(representedItems))
        ids.append(actionable.id);
    return ids;
}

QList<LocalLibraryTreeNode> LocalLibraryTreeNode::flattened() const
{
    QList<LocalLibraryTreeNode> rows;
    appendFlattened(*this, rows);
    return rows;
}

QList<LibraryItemImportStatus> LocalLibraryTreeNode::importStatuses() const
{
    QList<LibraryItemImportStatus> statuses;
    for (LibraryItemImportStatus status : statusOrder) {
        const bool present = std::any_of(representedItems.begin(),
                                         representedItems.end(),
                                         [status](const LocalLibraryItem &represented) {
                                             return represented.importStatus == status;
                                         });
        if (present)
            statuses.append(status);
    }
    return statuses;
}

QString LocalLibraryTreeNode::importStatusTitle() const
{
    QStringList titles;
    for (LibraryItemImportStatus status : importStatuses())
        titles.append(LibraryPresentation::importStatusTitle(status));
    return titles.join(QStringLiteral(" \u00b7 "));
}

} // namespace Pellwick
