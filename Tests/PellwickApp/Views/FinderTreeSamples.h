#pragma once

// A small folder tree of every kind of node, for the finder list's tests:
//
//   folder:a                       folder, actionable items 1 and 2 beneath it
//     content:1                    item 1 (ready, cached), also representing item 5
//     content:2                    item 2 (ready, cached), capture time known
//     show-more-folders:folder:a   paging node: 25 shown, 25 more
//     file:a/notes.txt             file without item
//   content:3                      item 3 (uploading: not actionable), preview available
//   content:4                      items 4 (ready) and 6 (verified): two statuses

#include <PellwickApp/Shell/State/LocalLibraryTreeNode.h>

#include <QDateTime>

#include <Support/LibraryFixtures.h>

namespace Pellwick::Test {

inline LocalLibraryItem
finderItem(int n, LibraryItemImportStatus status = LibraryItemImportStatus::LocalCacheReady)
{
    LocalLibraryItem item = minimalLibraryItem(n);
    item.importStatus = status;
    item.ingestCacheOriginalURL = QStringLiteral("/cache/a/%1").arg(item.originalFilename);
    return item;
}

inline LocalLibraryTreeNode finderContent(int n, QList<LocalLibraryItem> represented)
{
    LocalLibraryTreeNode node;
    node.id = QStringLiteral("content:%1").arg(n);
    node.name = represented.constFirst().originalFilename;
    node.itemIndex = 0;
    node.representedItems = std::move(represented);
    return node;
}

inline QList<LocalLibraryTreeNode> finderSampleTree()
{
    // A fixed time: rows built from two calls of this tree must show the same capture date.
    LocalLibraryItem dated = finderItem(2);
    dated.metadata.captureTime = CaptureTimeMetadata::known(
        Date::fromDateTime(QDateTime(QDate(2026, 3, 7), QTime(5, 49, 30), Qt::UTC)));
    LocalLibraryTreeNode page;
    page.id = QStringLiteral("show-more-folders:folder:a");
    page.folderPage = LocalLibraryFolderPage{QStringLiteral("folder:a"), 25, 25};
    LocalLibraryTreeNode file;
    file.id = QStringLiteral("file:a/notes.txt");
    file.name = QStringLiteral("notes.txt");
    LocalLibraryTreeNode folder;
    folder.id = QStringLiteral("folder:a");
    folder.name = QStringLiteral("a");
    folder.isDirectory = true;
    folder.eligibleDescendantActionItemIDs = QList{finderItem(1).id, finderItem(2).id};
    folder.children = QList{
        finderContent(1, {finderItem(1), finderItem(5)}), finderContent(2, {dated}), page, file};
    LocalLibraryItem uploading = finderItem(3, LibraryItemImportStatus::Uploading);
    uploading.preview = LocalPreviewState::available(QStringLiteral("previews/IMG_0003.CR3.jpg"));
    return {
        folder,
        finderContent(3, {uploading}),
        finderContent(4, {finderItem(4), finderItem(6, LibraryItemImportStatus::VerifiedBackup)})};
}

/// The top-level nodes without children lists: the list shows them flat.
inline QList<LocalLibraryTreeNode> finderFlatTree()
{
    const QList<LocalLibraryTreeNode> tree = finderSampleTree();
    return {finderContent(1, {finderItem(1)}), tree[1], tree[2]};
}

} // namespace Pellwick::Test
