#pragma once

#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickApp/Shell/State/LocalLibraryTreeNode.h>
#include <PellwickApp/Workflows/ThumbnailLoader.h>
#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUuid>
#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>

class QLabel;
class QListView;
class QModelIndex;
class QStackedWidget;
class QTreeView;

namespace Pellwick {

class EmptyStateView;
class LibraryOperations;
class LibraryState;
class LocalLibraryFinderModel;
class LocalLibraryPreviewPainter;
class LocalLibraryTreeIndex;

/// The finder-style list of the library page: a column header (Name, Capture Date, Import
/// Status), a divider, and either the empty state or the folder tree, shown as an outline when
/// a top-level node has a children list and as a flat list of button rows otherwise. Keeps its
/// own node selection in step with the library's item selection and the inspector. The tree is
/// asked of `LibraryOperations` and arrives through `LibraryState::localLibraryTreeChanged`; a
/// new tree keeps expanded folders expanded and the rows in view where they were. Main thread.
class LocalLibraryFinderList : public QWidget
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds previewDelay{1000};
    static constexpr int folderPageGrowth = 25;

    LocalLibraryFinderList(LibraryState &state,
                           LibraryOperations &operations,
                           const SingleShotTimerFactory &timers = &makeQtSingleShotTimer,
                           const ThumbnailLoader &loader = ThumbnailLoader(),
                           QWidget *parent = nullptr);
    ~LocalLibraryFinderList() override;

    // The translations between node and item selections, over one indexed tree (pre-order).

    /// Every node whose represented items include one of `itemIDs`.
    static QSet<QString> nodeIDs(const QSet<QUuid> &itemIDs, const LocalLibraryTreeIndex &tree);
    /// The action item ids of the nodes of `nodeIDs` that exist.
    static QSet<QUuid> selectedItemIDs(const QSet<QString> &nodeIDs,
                                       const LocalLibraryTreeIndex &tree);
    /// `nodeIDs` without the ids of nodes that do not exist.
    static QSet<QString> retainedNodeIDs(const QSet<QString> &nodeIDs,
                                         const LocalLibraryTreeIndex &tree);
    /// The item of the first node of `nodeIDs` in pre-order (none when that node has none).
    static std::optional<LocalLibraryItem> inspectedItem(const QSet<QString> &nodeIDs,
                                                         const LocalLibraryTreeIndex &tree);

    /// A click on a flat row: a node without action items is inspected and stays unselected;
    /// any other is added to or removed from the selection.
    void toggleSelection(const LocalLibraryTreeNode &node);
    /// A paging node's show-more action: its folder shows 25 more child folders than the page
    /// reports, and the tree is asked afresh.
    void showMoreFolders(const LocalLibraryTreeNode &node);

    const QSet<QString> &selectedNodeIDs() const { return m_selectedNodeIDs; }

    const QHash<QString, qint64> &visibleFolderCounts() const { return m_visibleFolderCounts; }

    bool shouldLoadPreviews() const { return m_shouldLoadPreviews; }

    LocalLibraryFinderModel *model() const { return m_model; }

    QTreeView *outline() const { return m_outline; }

    QListView *flatList() const { return m_flatList; }

    EmptyStateView *emptyState() const { return m_emptyState; }

    /// The page shown now: the empty state, the outline, the flat list, or a blank page while the
    /// first tree is built or, instead of the empty state, while the library cannot be read.
    QWidget *currentPage() const;

Q_SIGNALS:
    /// The empty state or the contents appeared (the page's record-usability action).
    void usableStateAppeared();

protected:
    /// Shown again (the page is kept while another is shown): the node selection is derived
    /// afresh from the item selection, which may have been changed meanwhile.
    void showEvent(QShowEvent *event) override;

private:
    QWidget *emptyPage() const;
    void requestTree();
    void applyTree(const QList<LocalLibraryTreeNode> &tree);
    void setSelectedNodeIDs(QSet<QString> nodeIDs, bool fromOutline = false);
    /// The appear step: keeps the selected nodes that still offer a selected item and selects
    /// the nodes that represent the other selected items.
    void selectNodesOfSelectedItems();
    /// Writes the item selection of the selected nodes, unless it stands so already.
    void publishItemSelection();
    /// Shows the item of the current selection: an added node's, else the one shown while it
    /// stays selected, else that of the first selected node.
    void inspectSelection(const QSet<QString> &added);
    void showSelectionInOutline();
    void outlineSelectionChanged();
    void rowClicked(const QModelIndex &index);
    void updateEmptyDescription();
    void loadThumbnailsInView();

    LibraryState &m_state;
    LibraryOperations &m_operations;
    LocalLibraryFinderModel *m_model = nullptr;
    LocalLibraryPreviewPainter *m_previews = nullptr;
    QStackedWidget *m_pages = nullptr;
    QWidget *m_blank = nullptr;
    EmptyStateView *m_emptyState = nullptr;
    QLabel *m_emptyDescription = nullptr;
    QTreeView *m_outline = nullptr;
    QListView *m_flatList = nullptr;
    std::unique_ptr<SingleShotTimer> m_previewTimer;
    QTimer m_thumbnailRequest;

    QSet<QString> m_selectedNodeIDs;
    /// The item selection this list wrote last; a different one was made elsewhere.
    std::optional<QSet<QUuid>> m_writtenItemIDs;
    QHash<QString, qint64> m_visibleFolderCounts;
    QSet<QString> m_expandedNodeIDs;
    bool m_shouldLoadPreviews = false;
    bool m_hasTree = false;
    /// Set while the list itself changes the outline's selection or expansion.
    bool m_updatingOutline = false;
};

} // namespace Pellwick
