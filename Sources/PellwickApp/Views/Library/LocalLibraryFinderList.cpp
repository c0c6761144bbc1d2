#include "LocalLibraryFinderList.h"

#include <PellwickApp/Shell/Operations/LibraryOperations.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Views/Kit/EmptyStateView.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>
#include <PellwickApp/Views/Library/LocalLibraryFinderModel.h>
#include <PellwickApp/Views/Library/LocalLibraryPreview.h>
#include <PellwickCore/Library/LibraryItemImportStatus.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QAbstractItemView>
#include <QFrame>
#include <QHBoxLayout>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <limits>
#include <utility>

namespace Pellwick {

namespace {

constexpr int cellSpacing = 12;
constexpr int rowPadding = 12;
constexpr int nameMinimumWidth = 180;
constexpr int captureDateWidth = 150;
constexpr int importStatusMinimumWidth = 190;
constexpr int symbolSpacing = 4;
constexpr int thumbnailSide = 30;
constexpr int iconSide = 16;

const QString usableContentID = QStringLiteral("local-library-cache.usable-content");

QColor statusColour(LibraryItemImportStatus status)
{
    switch (status) {
    case LibraryItemImportStatus::LocalCacheReady:
    case LibraryItemImportStatus::Uploading:
    case LibraryItemImportStatus::Verifying:
        return PellwickTheme::accent();
    case LibraryItemImportStatus::VerifiedBackup:
        return PellwickTheme::systemGreen();
    case LibraryItemImportStatus::CleanupPending:
    case LibraryItemImportStatus::NeedsAttention:
        return PellwickTheme::systemOrange();
    case LibraryItemImportStatus::Duplicate:
        return PellwickTheme::secondaryLabel();
    }
    return PellwickTheme::secondaryLabel();
}

/// Draws a symbol and a one-line text in `colour`, vertically centred in `rect`.
void drawLabel(QPainter &painter,
               const QRect &rect,
               const QString &symbol,
               int side,
               const QString &text,
               const QColor &colour,
               Qt::TextElideMode elide = Qt::ElideRight)
{
    int x = rect.left();
    if (!symbol.isEmpty()) {
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        painter.drawPixmap(QRect(x, rect.center().y() - side / 2 + 1, side, side),
                           SymbolIcons::pixmap(symbol, colour, side, ratio));
        x += side + symbolSpacing;
    }
    const QRect textRect(x, rect.top(), std::max(0, rect.right() - x + 1), rect.height());
    painter.setPen(colour);
    painter.drawText(textRect,
                     Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(text, elide, textRect.width()));
}

/// The font of the stacked status lines of a row with more than one status.
QFont stackedStatusFont()
{
    return PellwickTheme::font(PellwickTheme::TextStyle::Caption);
}

/// Wide enough for the longest status title with its symbol, in a single-status row's font and
/// in the stacked lines alike, so no title is ever cut; the Name column takes what is left.
int importStatusWidth(const QFont &rowFont)
{
    const QFontMetrics row(rowFont);
    const QFontMetrics stacked(stackedStatusFont());
    int width = importStatusMinimumWidth;
    for (const LibraryItemImportStatus status : allLibraryItemImportStatuses()) {
        const QString title = LibraryPresentation::importStatusTitle(status);
        width = std::max(
            {width,
             iconSide + symbolSpacing + row.horizontalAdvance(title) + 1,
             stacked.height() - 2 + symbolSpacing + stacked.horizontalAdvance(title) + 1});
    }
    return width;
}

/// Paints every row of the finder list from the node snapshot: no widget per row.
class FinderRowDelegate final : public QStyledItemDelegate
{
public:
    /// `thumbnailWanted` is called when a row in view paints a thumbnail not loaded yet.
    FinderRowDelegate(int statusWidth,
                      const LocalLibraryFinderModel &model,
                      LocalLibraryPreviewPainter &previews,
                      std::function<void()> thumbnailWanted,
                      std::function<bool(const QString &)> highlighted,
                      QObject *parent)
        : QStyledItemDelegate(parent)
        , m_statusWidth(statusWidth)
        , m_model(model)
        , m_previews(previews)
        , m_thumbnailWanted(std::move(thumbnailWanted))
        , m_highlighted(std::move(highlighted))
    {}

    QSize sizeHint(const QStyleOptionViewItem & /*option*/, const QModelIndex &index) const override
    {
        return {nameMinimumWidth + captureDateWidth + m_statusWidth + 2 * cellSpacing
                    + 2 * rowPadding,
                index.data(Qt::SizeHintRole).toSize().height()};
    }

    void paint(QPainter *painter,
               const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const LocalLibraryTreeNode *node = m_model.node(index);
        if (!node)
            return;
        QStyleOptionViewItem panel(option);
        initStyleOption(&panel, index);
        painter->save();
        if (m_highlighted) {
            if (m_highlighted(node->id))
                painter->fillRect(option.rect,
                                  PellwickTheme::withOpacity(PellwickTheme::accent(), 0.18));
        } else {
            const QWidget *widget = option.widget;
            QStyle *style = widget ? widget->style() : nullptr;
            if (style)
                style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);
        }
        const bool selected = !m_highlighted && (option.state & QStyle::State_Selected);
        const QColor primary
            = selected ? option.palette.highlightedText().color() : PellwickTheme::label();
        const QColor secondary = selected ? primary : PellwickTheme::secondaryLabel();

        const QRect content = option.rect.adjusted(rowPadding, 0, -rowPadding, 0);
        const QRect status(
            content.right() - m_statusWidth + 1, content.top(), m_statusWidth, content.height());
        const QRect date(status.left() - cellSpacing - captureDateWidth,
                         content.top(),
                         captureDateWidth,
                         content.height());
        const QRect name(content.left(),
                         content.top(),
                         std::max(0, date.left() - cellSpacing - content.left()),
                         content.height());
        painter->setFont(option.font);
        paintName(*painter, name, *node, index, primary, secondary);
        if (node->item()) {
            painter->setPen(secondary);
            painter->drawText(date,
                              Qt::AlignLeft | Qt::AlignVCenter,
                              painter->fontMetrics().elidedText(
                                  index.data(LocalLibraryFinderModel::CaptureDateRole).toString(),
                                  Qt::ElideRight,
                                  date.width()));
        }
        paintStatus(*painter, status, *node, index, secondary, selected);
        painter->restore();
    }

private:
    void paintName(QPainter &painter,
                   const QRect &rect,
                   const LocalLibraryTreeNode &node,
                   const QModelIndex &index,
                   const QColor &primary,
                   const QColor &secondary) const
    {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (node.folderPage) {
            drawLabel(painter, rect, {}, 0, text, PellwickTheme::accent());
        } else if (!node.item()) {
            drawLabel(painter,
                      rect,
                      node.isDirectory ? QStringLiteral("folder.fill") : QStringLiteral("doc"),
                      iconSide,
                      text,
                      node.isDirectory ? primary : secondary);
        } else {
            const QRect frame(rect.left(),
                              rect.center().y() - thumbnailSide / 2 + 1,
                              thumbnailSide,
                              thumbnailSide);
            QPainterPath rounded;
            rounded.addRoundedRect(frame, 4, 4);
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing);
            painter.fillPath(rounded,
                             PellwickTheme::withOpacity(PellwickTheme::secondaryLabel(), 0.12));
            painter.setClipPath(rounded, Qt::IntersectClip);
            const QVariant url = index.data(LocalLibraryFinderModel::PreviewURLRole);
            if (!url.isValid())
                LocalLibraryPreview::drawPlaceholder(painter, frame);
            else if (!m_previews.paintLoaded(painter, frame, url.toString()) && m_thumbnailWanted)
                m_thumbnailWanted();
            painter.restore();
            drawLabel(painter,
                      rect.adjusted(thumbnailSide + 8, 0, 0, 0),
                      {},
                      0,
                      text,
                      primary,
                      Qt::ElideMiddle);
        }
    }

    static void paintStatus(QPainter &painter,
                            const QRect &rect,
                            const LocalLibraryTreeNode &node,
                            const QModelIndex &index,
                            const QColor &secondary,
                            bool selected)
    {
        const QStringList texts
            = index.data(LocalLibraryFinderModel::ImportStatusTextsRole).toStringList();
        if (!node.item()) {
            if (!texts.isEmpty())
                drawLabel(painter, rect, {}, 0, texts.constFirst(), secondary);
            return;
        }
        const QList<LibraryItemImportStatus> statuses = node.importStatuses();
        if (statuses.size() == 1) {
            const LibraryItemImportStatus status = node.item()->importStatus;
            drawLabel(painter,
                      rect,
                      LibraryPresentation::importStatusSymbol(status),
                      iconSide,
                      texts.value(0),
                      selected ? secondary : statusColour(status));
            return;
        }
        painter.setFont(stackedStatusFont());
        const int lineHeight = painter.fontMetrics().height();
        const auto lines = static_cast<int>(statuses.size());
        int y = rect.center().y() - (lines * lineHeight + (lines - 1) * 2) / 2;
        for (int i = 0; i < lines; ++i) {
            drawLabel(painter,
                      QRect(rect.left(), y, rect.width(), lineHeight),
                      LibraryPresentation::importStatusSymbol(statuses[i]),
                      lineHeight - 2,
                      texts.value(i),
                      selected ? secondary : statusColour(statuses[i]));
            y += lineHeight + 2;
        }
    }

    int m_statusWidth = importStatusMinimumWidth;
    const LocalLibraryFinderModel &m_model;
    LocalLibraryPreviewPainter &m_previews;
    std::function<void()> m_thumbnailWanted;
    std::function<bool(const QString &)> m_highlighted; ///< set for the flat rows only
};

QWidget *columnHeader(int statusWidth, QWidget *parent)
{
    auto *header = new QWidget(parent);
    auto *layout = new QHBoxLayout(header);
    // The rows below always leave room for their vertical scroll bar.
    const int scrollBar = header->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, header);
    layout->setContentsMargins(rowPadding, 7, rowPadding + scrollBar, 7);
    layout->setSpacing(cellSpacing);
    QFont font = PellwickTheme::font(PellwickTheme::TextStyle::Caption);
    font.setWeight(QFont::DemiBold);
    const auto addColumn = [&](const QString &text, int width) {
        auto *label = new QLabel(text, header);
        label->setFont(font);
        PellwickTheme::setTextColour(*label, PellwickTheme::secondaryLabel());
        if (width > 0)
            label->setFixedWidth(width);
        else
            label->setMinimumWidth(nameMinimumWidth);
        layout->addWidget(label, width > 0 ? 0 : 1);
    };
    const QStringList titles = LocalLibraryFinderModel::columnTitles();
    addColumn(titles.at(0), 0);
    addColumn(titles.at(1), captureDateWidth);
    addColumn(titles.at(2), statusWidth);
    return header;
}

/// The same list's tree data with no new build: the memo hands out its list, shared.
bool sameTree(const QList<LocalLibraryTreeNode> &a, const QList<LocalLibraryTreeNode> &b)
{
    return a.size() == b.size() && a.constData() == b.constData();
}

/// The id of the row at the top of `view` and how far it is scrolled above the viewport's edge.
std::pair<QString, int> topRow(const QAbstractItemView &view)
{
    const QModelIndex top = view.indexAt(QPoint(1, 1));
    if (!top.isValid())
        return {};
    return {top.data(LocalLibraryFinderModel::NodeIDRole).toString(), view.visualRect(top).top()};
}

} // namespace

LocalLibraryFinderList::LocalLibraryFinderList(LibraryState &state,
                                               LibraryOperations &operations,
                                               const SingleShotTimerFactory &timers,
                                               const ThumbnailLoader &loader,
                                               QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_operations(operations)
    , m_model(new LocalLibraryFinderModel(this))
    , m_previews(new LocalLibraryPreviewPainter(loader, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    const int statusWidth = importStatusWidth(font());
    layout->addWidget(columnHeader(statusWidth, this));
    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    layout->addWidget(divider);

    m_pages = new QStackedWidget(this);
    layout->addWidget(m_pages, 1);
    m_blank = new QWidget(m_pages);
    m_pages->addWidget(m_blank);
    m_emptyState = new EmptyStateView(QStringLiteral("magnifyingglass"),
                                      QStringLiteral("No Library items match filters"),
                                      {},
                                      m_pages);
    m_emptyDescription
        = m_emptyState->findChild<QLabel *>(QStringLiteral("empty-state.description"));
    m_pages->addWidget(m_emptyState);
    updateEmptyDescription();

    m_outline = new QTreeView(m_pages);
    m_outline->setModel(m_model);
    m_outline->setHeaderHidden(true);
    m_outline->setAlternatingRowColors(true);
    m_outline->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_outline->setSelectionBehavior(QAbstractItemView::SelectRows);
    const auto thumbnailWanted = [this] {
        if (!m_thumbnailRequest.isActive())
            m_thumbnailRequest.start();
    };
    m_outline->setItemDelegate(
        new FinderRowDelegate(statusWidth, *m_model, *m_previews, thumbnailWanted, {}, m_outline));
    m_outline->setFrameShape(QFrame::NoFrame);
    m_pages->addWidget(m_outline);

    m_flatList = new QListView(m_pages);
    m_flatList->setModel(m_model);
    m_flatList->setSelectionMode(QAbstractItemView::NoSelection);
    m_flatList->setItemDelegate(new FinderRowDelegate(
        statusWidth,
        *m_model,
        *m_previews,
        thumbnailWanted,
        [this](const QString &id) { return m_selectedNodeIDs.contains(id); },
        m_flatList));
    m_flatList->setFrameShape(QFrame::NoFrame);
    m_pages->addWidget(m_flatList);
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_outline),
                                    static_cast<QAbstractItemView *>(m_flatList)}) {
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setObjectName(usableContentID);
        view->setAccessibleName(QStringLiteral("Library"));
        connect(view, &QAbstractItemView::clicked, this, &LocalLibraryFinderList::rowClicked);
    }
    m_pages->setCurrentWidget(m_blank);
    connect(&m_state, &LibraryState::libraryReadErrorMessageChanged, this, [this] {
        if (m_hasTree && m_model->treeIndex().tree().isEmpty())
            m_pages->setCurrentWidget(emptyPage());
    });

    connect(m_outline->selectionModel(),
            &QItemSelectionModel::selectionChanged,
            this,
            &LocalLibraryFinderList::outlineSelectionChanged);
    connect(m_outline, &QTreeView::expanded, this, [this](const QModelIndex &index) {
        m_expandedNodeIDs.insert(index.data(LocalLibraryFinderModel::NodeIDRole).toString());
    });
    connect(m_outline, &QTreeView::collapsed, this, [this](const QModelIndex &index) {
        if (!m_updatingOutline)
            m_expandedNodeIDs.remove(index.data(LocalLibraryFinderModel::NodeIDRole).toString());
    });
    // Thumbnails are asked for once painting is over, and only for the rows in view then: rows
    // scrolled past meanwhile ask for nothing.
    m_thumbnailRequest.setSingleShot(true);
    m_thumbnailRequest.setInterval(0);
    connect(
        &m_thumbnailRequest, &QTimer::timeout, this, &LocalLibraryFinderList::loadThumbnailsInView);
    connect(m_previews, &LocalLibraryPreviewPainter::thumbnailLoaded, this, [this] {
        // Only the rows in view paint, so only they are drawn again.
        if (auto *view = qobject_cast<QAbstractItemView *>(m_pages->currentWidget()))
            view->viewport()->update();
    });
    connect(&m_state,
            &LibraryState::localLibraryTreeChanged,
            this,
            &LocalLibraryFinderList::requestTree);
    connect(&m_state,
            &LibraryState::localLibraryItemsRevisionChanged,
            this,
            &LocalLibraryFinderList::requestTree);
    connect(&m_state,
            &LibraryState::hasLocalLibraryRecordsChanged,
            this,
            &LocalLibraryFinderList::updateEmptyDescription);

    m_previewTimer = timers([this] {
        m_shouldLoadPreviews = true;
        m_model->setPreviewURLs([&operations = m_operations](const LocalLibraryItem &item) {
            return operations.localLibraryPreviewURL(item);
        });
    });
    m_previewTimer->start(previewDelay);
    requestTree();
}

LocalLibraryFinderList::~LocalLibraryFinderList() = default;

QSet<QString> LocalLibraryFinderList::nodeIDs(const QSet<QUuid> &itemIDs,
                                              const LocalLibraryTreeIndex &tree)
{
    QSet<QString> ids;
    for (const QUuid &itemID : itemIDs) {
        for (qsizetype position : tree.positionsRepresenting(itemID))
            ids.insert(tree.node(position).id);
    }
    return ids;
}

QSet<QUuid> LocalLibraryFinderList::selectedItemIDs(const QSet<QString> &nodeIDs,
                                                    const LocalLibraryTreeIndex &tree)
{
    QSet<QUuid> ids;
    for (const QString &nodeID : nodeIDs) {
        if (const std::optional<qsizetype> position = tree.position(nodeID)) {
            for (const QUuid &id : tree.node(*position).actionSelectionItemIDs())
                ids.insert(id);
        }
    }
    return ids;
}

QSet<QString> LocalLibraryFinderList::retainedNodeIDs(const QSet<QString> &nodeIDs,
                                                      const LocalLibraryTreeIndex &tree)
{
    QSet<QString> kept;
    for (const QString &nodeID : nodeIDs) {
        if (tree.position(nodeID))
            kept.insert(nodeID);
    }
    return kept;
}

std::optional<LocalLibraryItem>
LocalLibraryFinderList::inspectedItem(const QSet<QString> &nodeIDs,
                                      const LocalLibraryTreeIndex &tree)
{
    qsizetype first = std::numeric_limits<qsizetype>::max();
    for (const QString &nodeID : nodeIDs) {
        if (const std::optional<qsizetype> position = tree.position(nodeID))
            first = std::min(first, *position);
    }
    if (first == std::numeric_limits<qsizetype>::max())
        return std::nullopt;
    return tree.node(first).itemValue();
}

void LocalLibraryFinderList::toggleSelection(const LocalLibraryTreeNode &node)
{
    if (node.actionSelectionItemIDs().isEmpty()) {
        m_operations.inspectLocalLibraryItem(node.itemValue());
        return;
    }
    QSet<QString> toggled = m_selectedNodeIDs;
    if (!toggled.remove(node.id))
        toggled.insert(node.id);
    setSelectedNodeIDs(std::move(toggled));
}

void LocalLibraryFinderList::showMoreFolders(const LocalLibraryTreeNode &node)
{
    if (!node.folderPage)
        return;
    m_visibleFolderCounts.insert(node.folderPage->folderID,
                                 qint64(node.folderPage->visibleFolderCount) + folderPageGrowth);
    requestTree();
}

QWidget *LocalLibraryFinderList::currentPage() const
{
    return m_pages->currentWidget();
}

QWidget *LocalLibraryFinderList::emptyPage() const
{
    // A library that cannot be read is not an empty one.
    return m_state.libraryReadErrorMessage().isEmpty() ? static_cast<QWidget *>(m_emptyState)
                                                       : m_blank;
}

void LocalLibraryFinderList::requestTree()
{
    const std::optional<QList<LocalLibraryTreeNode>> tree
        = m_operations.localLibraryTree(m_visibleFolderCounts);
    if (!tree || (m_hasTree && sameTree(*tree, m_model->treeIndex().tree())))
        return;
    applyTree(*tree);
}

void LocalLibraryFinderList::applyTree(const QList<LocalLibraryTreeNode> &tree)
{
    const bool firstTree = !m_hasTree;
    m_hasTree = true;
    auto *shownView = qobject_cast<QAbstractItemView *>(m_pages->currentWidget());
    const auto [topID, topOffset] = shownView ? topRow(*shownView) : std::pair<QString, int>();
    const int scrollValue = shownView ? shownView->verticalScrollBar()->value() : 0;

    // One model update; what the platform list would keep on its own (expanded folders, the
    // selection, the rows in view) is put back by node id.
    m_updatingOutline = true;
    m_model->setTree(tree);
    const LocalLibraryTreeIndex &index = m_model->treeIndex();
    for (auto id = m_expandedNodeIDs.begin(); id != m_expandedNodeIDs.end();) {
        const QModelIndex folder = m_model->indexOf(*id);
        if (!folder.isValid()) {
            id = m_expandedNodeIDs.erase(id);
            continue;
        }
        m_outline->setExpanded(folder, true);
        ++id;
    }
    m_updatingOutline = false;
    showSelectionInOutline();

    const bool outlineMode = std::any_of(
        tree.cbegin(), tree.cend(), [](const auto &node) { return node.children.has_value(); });
    QWidget *page = tree.isEmpty() ? emptyPage()
                    : outlineMode  ? static_cast<QWidget *>(m_outline)
                                   : static_cast<QWidget *>(m_flatList);
    const bool appeared = page != m_pages->currentWidget();
    m_pages->setCurrentWidget(page);
    if (shownView == page) {
        const QModelIndex top = m_model->indexOf(topID);
        if (top.isValid()) {
            shownView->scrollTo(top, QAbstractItemView::PositionAtTop);
            if (shownView->verticalScrollMode() == QAbstractItemView::ScrollPerPixel)
                shownView->verticalScrollBar()->setValue(shownView->verticalScrollBar()->value()
                                                         - topOffset);
        } else {
            shownView->verticalScrollBar()->setValue(scrollValue);
        }
    }

    if (!firstTree) {
        if (m_writtenItemIDs != m_state.selectedLibraryItemIDs()) {
            // Changed elsewhere (a restore request, an import, a rebuild): the nodes follow it;
            // only a node still offering a selected item brings back its other items.
            selectNodesOfSelectedItems();
        } else if (QSet<QString> kept = retainedNodeIDs(m_selectedNodeIDs, index);
                   kept != m_selectedNodeIDs) {
            setSelectedNodeIDs(std::move(kept));
        } else {
            // A selected folder's items are the ones it holds now.
            publishItemSelection();
        }
    }
    if (appeared && page != m_emptyState)
        selectNodesOfSelectedItems();
    if (appeared)
        Q_EMIT usableStateAppeared();
}

void LocalLibraryFinderList::setSelectedNodeIDs(QSet<QString> nodeIDs, bool fromOutline)
{
    if (nodeIDs == m_selectedNodeIDs)
        return;
    const QSet<QString> old = std::exchange(m_selectedNodeIDs, std::move(nodeIDs));
    if (!fromOutline)
        showSelectionInOutline();
    m_flatList->viewport()->update();

    m_writtenItemIDs = selectedItemIDs(m_selectedNodeIDs, m_model->treeIndex());
    m_state.setSelectedLibraryItemIDs(*m_writtenItemIDs);
    inspectSelection(QSet<QString>(m_selectedNodeIDs).subtract(old));
}

void LocalLibraryFinderList::selectNodesOfSelectedItems()
{
    const LocalLibraryTreeIndex &tree = m_model->treeIndex();
    const QSet<QUuid> &items = m_state.selectedLibraryItemIDs();
    // A selected node that still offers one of the selected items stays selected, a folder as a
    // folder with the items it holds now; the items no such node offers select their own rows.
    QSet<QString> kept;
    QSet<QUuid> unoffered = items;
    for (const QString &nodeID : std::as_const(m_selectedNodeIDs)) {
        const std::optional<qsizetype> position = tree.position(nodeID);
        if (!position)
            continue;
        const QList<QUuid> actionItems = tree.node(*position).actionSelectionItemIDs();
        if (std::none_of(actionItems.cbegin(), actionItems.cend(), [&](const QUuid &id) {
                return items.contains(id);
            }))
            continue;
        kept.insert(nodeID);
        for (const QUuid &id : actionItems)
            unoffered.remove(id);
    }
    kept.unite(nodeIDs(unoffered, tree));
    if (kept == m_selectedNodeIDs) {
        // The rows stay: the items they offer now are the selection, and what is written.
        publishItemSelection();
        return;
    }
    setSelectedNodeIDs(std::move(kept));
}

void LocalLibraryFinderList::publishItemSelection()
{
    QSet<QUuid> items = selectedItemIDs(m_selectedNodeIDs, m_model->treeIndex());
    m_writtenItemIDs = items;
    if (items != m_state.selectedLibraryItemIDs())
        m_state.setSelectedLibraryItemIDs(std::move(items));
}

void LocalLibraryFinderList::inspectSelection(const QSet<QString> &added)
{
    const LocalLibraryTreeIndex &tree = m_model->treeIndex();
    if (const std::optional<LocalLibraryItem> item = inspectedItem(added, tree)) {
        m_operations.inspectLocalLibraryItem(item);
        return;
    }
    if (m_selectedNodeIDs.isEmpty()) {
        m_operations.inspectLocalLibraryItem(std::nullopt);
        return;
    }
    // The item shown stays while it is part of the selection; one left behind is replaced.
    const std::optional<QUuid> &shown = m_state.inspectedLocalLibraryItemID();
    if (!shown || m_state.selectedLibraryItemIDs().contains(*shown)
        || nodeIDs({*shown}, tree).intersects(m_selectedNodeIDs))
        return;
    m_operations.inspectLocalLibraryItem(inspectedItem(m_selectedNodeIDs, tree));
}

void LocalLibraryFinderList::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Only when the page comes back, not when the window is restored.
    if (!event->spontaneous() && (currentPage() == m_outline || currentPage() == m_flatList))
        selectNodesOfSelectedItems();
}

void LocalLibraryFinderList::showSelectionInOutline()
{
    QItemSelection selection;
    for (const QString &id : std::as_const(m_selectedNodeIDs)) {
        const QModelIndex row = m_model->indexOf(id);
        if (row.isValid())
            selection.select(row, row);
    }
    m_updatingOutline = true;
    m_outline->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_updatingOutline = false;
}

void LocalLibraryFinderList::outlineSelectionChanged()
{
    if (m_updatingOutline)
        return;
    QSet<QString> selected;
    for (const QModelIndex &row : m_outline->selectionModel()->selectedIndexes())
        selected.insert(row.data(LocalLibraryFinderModel::NodeIDRole).toString());
    setSelectedNodeIDs(std::move(selected), true);
}

void LocalLibraryFinderList::rowClicked(const QModelIndex &index)
{
    const LocalLibraryTreeNode *node = m_model->node(index);
    if (!node)
        return;
    if (node->folderPage)
        showMoreFolders(*node);
    else if (sender() == m_flatList)
        toggleSelection(*node);
}

void LocalLibraryFinderList::loadThumbnailsInView()
{
    auto *view = qobject_cast<QAbstractItemView *>(m_pages->currentWidget());
    if (!view)
        return;
    const int bottom = view->viewport()->height();
    for (QModelIndex row = view->indexAt(QPoint(1, 1)); row.isValid();) {
        if (view->visualRect(row).top() >= bottom)
            break;
        if (const QVariant url = row.data(LocalLibraryFinderModel::PreviewURLRole); url.isValid())
            m_previews->load(url.toString());
        row = view == m_outline ? m_outline->indexBelow(row) : row.siblingAtRow(row.row() + 1);
    }
}

void LocalLibraryFinderList::updateEmptyDescription()
{
    if (!m_emptyDescription)
        return;
    m_emptyDescription->setText(
        m_state.hasLocalLibraryRecords()
            ? QStringLiteral("Search or filters may be hiding Library items. Clear filename "
                             "search or adjust filters.")
            : QStringLiteral("Import RAW Originals to create Local Library Cache records."));
}

} // namespace Pellwick
