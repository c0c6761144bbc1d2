#include "LibraryWorkflows.h"

#include <PellwickApp/Feedback/LibraryFeedback.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Workflows/Workflow.h>

#include <QFuture>
#include <QMetaObject>
#include <QtNumeric>

#include <algorithm>
#include <limits>
#include <utility>

#include <malloc.h>

namespace Pellwick {

namespace {

/// Tree builds of at least this many items give their freed memory back to the system.
constexpr qsizetype trimmedTreeBuildItemCount = 20'000;

/// Visible items from which on the tree a search text asks for is built ahead: below, building
/// it when the text is typed takes a few milliseconds.
constexpr qsizetype treeBuiltAheadItemCount = 5'000;

/// The distinct ingest source names of `records`, in code-unit order.
QStringList ingestSourceNames(const LocalLibraryCacheRecords &records)
{
    QSet<QString> names;
    // Records of one source mostly sit together: comparing with the previous name spares most
    // hash insertions.
    const QString *previous = nullptr;
    records.forEach([&](const LocalLibraryItem &item) {
        if (!item.ingestSourceName || (previous && *previous == *item.ingestSourceName))
            return;
        previous = &*item.ingestSourceName;
        names.insert(*previous);
    });
    QStringList sorted(names.cbegin(), names.cend());
    // QString's operator< compares UTF-16 code units: no locale, no case folding.
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

} // namespace

LocalLibraryCacheRecords LibraryWorkflows::allLocalLibraryRecords() const
{
    // The loaded records are shared, not copied: the getters run while views render.
    Result<LocalLibraryCacheRecords> records = m_localLibraryCache.cachedRecords();
    return records ? std::move(*records) : LocalLibraryCacheRecords();
}

void LibraryWorkflows::refreshVisibleLocalLibraryItems(bool pruningRestoreSelection)
{
    publishVisibleLocalLibraryItems(pruningRestoreSelection, false);
}

void LibraryWorkflows::publishVisibleLocalLibraryItems(bool pruningRestoreSelection,
                                                       bool afterSearchTextChange)
{
    // A library that cannot be read must not pass for an empty one.
    const Result<LocalLibraryCacheRecords> read = m_localLibraryCache.cachedRecords();
    const QString readError
        = read ? QString()
               : LibraryFeedback::readErrorMessage(m_localLibraryCache.rootURL() + QLatin1Char('/')
                                                       + LocalLibraryCache::libraryFileName(),
                                                   read.error());
    // Published at every refresh of the visible items: only a change is announced.
    if (m_state.libraryReadErrorMessage() != readError)
        m_state.setLibraryReadErrorMessage(readError);
    const LocalLibraryCacheRecords records = read ? *read : LocalLibraryCacheRecords();
    m_state.setHasLocalLibraryRecords(!records.isEmpty());
    if (pruningRestoreSelection) {
        QSet<QUuid> kept;
        for (const QUuid &id : std::as_const(m_state.selectedLibraryItemIDs())) {
            if (!records.positions(id).isEmpty())
                kept.insert(id);
        }
        m_state.setSelectedLibraryItemIDs(std::move(kept));
    }
    const Result<LocalLibrarySearchResult> visible
        = m_localLibraryCache.search(localLibraryQuery());
    std::optional<PublishedSearch> &published = m_publishedSearch;
    const bool isFiltered = hasActiveLocalLibraryFilters();
    // Typing a longer search text often keeps the very same items: they are not copied again,
    // and the tree is built again only when it now leaves out the folders' other files.
    const bool sameItems = visible && published && visible->holdsSameRecordsAs(published->result);
    if (afterSearchTextChange && sameItems && published->isFiltered == isFiltered)
        return;
    if (visible)
        published = {*visible, isFiltered};
    else
        published.reset();
    // The same items are published again as they are, without another copy.
    m_state.setLocalLibraryItems(sameItems
                                     ? m_state.localLibraryItems()
                                     : (visible ? visible->items() : QList<LocalLibraryItem>()));
    // Wraps instead of overflowing: only a changed value matters to the tree memo.
    m_state.setLocalLibraryItemsRevision(m_state.localLibraryItemsRevision()
                                                 == std::numeric_limits<qint64>::max()
                                             ? std::numeric_limits<qint64>::min()
                                             : m_state.localLibraryItemsRevision() + 1);
    dropStaleTreeBuiltAhead();
    // Clearing a search text is no refresh: what a text then asks for is built when typed.
    m_buildsTreeAhead = !isFiltered && !afterSearchTextChange;
}

QStringList LibraryWorkflows::localLibraryIngestSources() const
{
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return LibrarySelection::memoised(
        m_ingestSourcesMemo, records, true, [&] { return ingestSourceNames(records); });
}

void LibraryWorkflows::keepLocalLibraryTree(const LocalLibraryTreeKey &key,
                                            quint64 build,
                                            Result<QList<LocalLibraryTreeNode>> built)
{
    if (build == m_startedTreeBuilds)
        m_pendingTreeKey.reset();
    if (!built || (m_treeCache && m_treeCache->build > build)) {
        Workflow::releaseLater(std::move(built));
        return;
    }
    if (m_treeCache)
        Workflow::releaseLater(std::move(m_treeCache->nodes));
    m_treeCache = TreeCache{key, build, std::move(*built)};
    Q_EMIT m_state.localLibraryTreeChanged();
}

void LibraryWorkflows::startTreeBuild(const QList<LocalLibraryItem> &items,
                                      const QString &root,
                                      const LocalLibraryTreeKey &key,
                                      std::function<void(Result<QList<LocalLibraryTreeNode>>)> keep)
{
    QFuture<Result<QList<LocalLibraryTreeNode>>> job = Workflow::run(
        WorkflowPools::utility(),
        [builder = m_treeBuilder, items, root, key]() -> Result<QList<LocalLibraryTreeNode>> {
            Result<QList<LocalLibraryTreeNode>> built
                = builder(items, root, key.includePhysicalEntries, key.visibleFolderCounts);
            // A build allocates far more than the tree keeps, in the heaps of several
            // threads: their freed pages go back now, or at 100,000 items the window's own
            // allocations (an expanded outline) come on top of them. Giving pages back holds
            // up every thread's allocations for a while, so a small build, as typing a
            // search text makes, leaves it.
            if (items.size() >= trimmedTreeBuildItemCount)
                malloc_trim(0);
            return built;
        });
    // The result is kept on the main thread through its event loop, also when the build
    // ended before this call returns; never once the workflows are gone.
    job.then(this, [this, keep = std::move(keep)](Result<QList<LocalLibraryTreeNode>> built) {
        QMetaObject::invokeMethod(
            this,
            [keep, built = std::move(built)]() mutable { keep(std::move(built)); },
            Qt::QueuedConnection);
    });
}

void LibraryWorkflows::dropStaleTreeBuiltAhead()
{
    if (!m_aheadTree
        || m_aheadTree->isFor(
            m_state.localLibraryItems(), m_ingestCacheRoot(), m_requestedFolderCounts))
        return;
    if (m_aheadTree->waiting && m_pendingTreeKey == m_aheadTree->waiting->first)
        m_pendingTreeKey.reset();
    Workflow::releaseLater(std::exchange(m_aheadTree, std::nullopt));
}

void LibraryWorkflows::buildTreeAhead()
{
    dropStaleTreeBuiltAhead();
    const QList<LocalLibraryItem> &items = m_state.localLibraryItems();
    if (m_aheadTree || items.size() < treeBuiltAheadItemCount)
        return;
    const quint64 generation = ++m_aheadTreeGenerations;
    const QString root = m_ingestCacheRoot();
    m_aheadTree = AheadTree{generation, items, root, m_requestedFolderCounts, {}, {}};
    startTreeBuild(items,
                   root,
                   {m_state.localLibraryItemsRevision(), false, m_requestedFolderCounts},
                   [this, generation](Result<QList<LocalLibraryTreeNode>> built) {
                       keepTreeBuiltAhead(generation, std::move(built));
                   });
}

void LibraryWorkflows::keepTreeBuiltAhead(quint64 generation,
                                          Result<QList<LocalLibraryTreeNode>> built)
{
    if (!m_aheadTree || m_aheadTree->generation != generation) {
        Workflow::releaseLater(std::move(built));
        return;
    }
    const std::optional<std::pair<LocalLibraryTreeKey, quint64>> waiting
        = std::exchange(m_aheadTree->waiting, std::nullopt);
    if (built)
        m_aheadTree->nodes = *built;
    else
        m_aheadTree.reset();
    if (waiting)
        keepLocalLibraryTree(waiting->first, waiting->second, std::move(built));
    else
        Workflow::releaseLater(std::move(built));
}

std::optional<QList<LocalLibraryTreeNode>>
LibraryWorkflows::localLibraryTree(const QHash<QString, qint64> &visibleFolderCounts)
{
    m_requestedFolderCounts = visibleFolderCounts;
    LocalLibraryTreeKey key{
        m_state.localLibraryItemsRevision(), !hasActiveLocalLibraryFilters(), visibleFolderCounts};
    if (m_treeCache && m_treeCache->key == key)
        return m_treeCache->nodes;
    if (!m_treeBuilder) {
        m_treeCache = TreeCache{std::move(key), ++m_startedTreeBuilds, {}};
        return QList<LocalLibraryTreeNode>();
    }
    if (key.includePhysicalEntries && std::exchange(m_buildsTreeAhead, false))
        buildTreeAhead();
    const bool builtAhead = !key.includePhysicalEntries && m_aheadTree
                            && m_aheadTree->isFor(m_state.localLibraryItems(),
                                                  m_ingestCacheRoot(),
                                                  visibleFolderCounts);
    if (builtAhead && m_aheadTree->nodes) {
        // Builds started before answer older questions: none of them may become the memo.
        m_pendingTreeKey.reset();
        if (m_treeCache)
            Workflow::releaseLater(std::move(m_treeCache->nodes));
        m_treeCache = TreeCache{std::move(key), ++m_startedTreeBuilds, *m_aheadTree->nodes};
        return m_treeCache->nodes;
    }
    if (m_pendingTreeKey != key) {
        m_pendingTreeKey = key;
        const quint64 build = ++m_startedTreeBuilds;
        if (builtAhead) {
            // The build ahead is not done yet: its result answers this key when it ends.
            m_aheadTree->waiting = {key, build};
        } else {
            startTreeBuild(m_state.localLibraryItems(),
                           m_ingestCacheRoot(),
                           key,
                           [this, key, build](Result<QList<LocalLibraryTreeNode>> built) {
                               keepLocalLibraryTree(key, build, std::move(built));
                           });
        }
    }
    if (m_treeCache)
        return m_treeCache->nodes;
    return std::nullopt;
}

void LibraryWorkflows::setLocalLibraryTreeBuilder(LocalLibraryTreeBuilder builder)
{
    m_treeBuilder = std::move(builder);
    m_treeCache.reset();
    m_pendingTreeKey.reset();
    Workflow::releaseLater(std::exchange(m_aheadTree, std::nullopt));
    m_buildsTreeAhead = !hasActiveLocalLibraryFilters();
}

std::optional<QString> LibraryWorkflows::localLibraryPreviewURL(const LocalLibraryItem &item) const
{
    return m_localLibraryCache.absolutePreviewURL(item);
}

std::optional<LocalLibraryItem> LibraryWorkflows::inspectedLocalLibraryItem() const
{
    if (!m_state.inspectedLocalLibraryItemID())
        return std::nullopt;
    for (const LocalLibraryItem &item : m_state.localLibraryItems()) {
        if (item.id == *m_state.inspectedLocalLibraryItemID())
            return item;
    }
    return std::nullopt;
}

void LibraryWorkflows::inspectLocalLibraryItem(const std::optional<LocalLibraryItem> &item)
{
    m_state.setInspectedLocalLibraryItemID(item ? std::optional(item->id) : std::nullopt);
}

} // namespace Pellwick
