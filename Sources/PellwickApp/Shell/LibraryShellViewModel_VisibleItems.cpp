#include "LibraryShellViewModel_p.h"

#include <PellwickApp/Feedback/LibraryFeedback.h>

#include <QFuture>
#include <QMetaObject>
#include <QtNumeric>

#include <algorithm>
#include <limits>

#include <malloc.h>

namespace Pellwick {

namespace {

/// Tree builds of at least this many items give their freed memory back to the system.
constexpr qsizetype trimmedTreeBuildItemCount = 20'000;

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

/// The records of `records` in `selected` for which `keep(record)` holds, in stored order.
template<typename Predicate>
QList<LocalLibraryItem> selectedRecords(const LocalLibraryCacheRecords &records,
                                        const QSet<QUuid> &selected,
                                        Predicate keep)
{
    QList<LocalLibraryItem> result;
    // Records are large: growing the list by doubling would move them again and again.
    result.reserve(std::min(records.size(), selected.size()));
    records.forEach([&](const LocalLibraryItem &item) {
        if (selected.contains(item.id) && keep(item))
            result.append(item);
    });
    return result;
}

/// `memo`'s value while it was derived from `records` and an equal `key`; otherwise `derive()`,
/// remembered in `memo`.
template<typename Key, typename Value, typename Derive>
Value memoised(std::optional<LibraryMemo<Key, Value>> &memo,
               const LocalLibraryCacheRecords &records,
               const Key &key,
               Derive derive)
{
    // Both comparisons are cheap while nothing changed: the records by their shared chunks,
    // the sets and lists first by their shared data. An equal key of other data (an equal
    // selection set anew) is taken over, so that the next comparison is cheap again.
    if (memo && memo->records.sharesRecordsWith(records) && memo->key == key) {
        memo->key = key;
        return memo->value;
    }
    Value value = derive();
    memo = LibraryMemo<Key, Value>{records, key, value};
    return value;
}

} // namespace

LocalLibraryCacheRecords LibraryShellViewModel::allLocalLibraryRecords() const
{
    // The loaded records are shared, not copied: the getters run while views render.
    Result<LocalLibraryCacheRecords> records = m_d->services.localLibraryCache.cachedRecords();
    return records ? std::move(*records) : LocalLibraryCacheRecords();
}

void LibraryShellViewModel::refreshVisibleLocalLibraryItems(bool pruningRestoreSelection)
{
    publishVisibleLocalLibraryItems(pruningRestoreSelection, false);
}

void LibraryShellViewModel::publishVisibleLocalLibraryItems(bool pruningRestoreSelection,
                                                            bool afterSearchTextChange)
{
    // A library that cannot be read must not pass for an empty one.
    const Result<LocalLibraryCacheRecords> read = m_d->services.localLibraryCache.cachedRecords();
    const QString readError = read ? QString()
                                   : LibraryFeedback::readErrorMessage(
                                       m_d->services.localLibraryCache.rootURL() + QLatin1Char('/')
                                           + LocalLibraryCache::libraryFileName(),
                                       read.error());
    // Published at every refresh of the visible items: only a change is announced.
    if (m_libraryState->libraryReadErrorMessage() != readError)
        m_libraryState->setLibraryReadErrorMessage(readError);
    const LocalLibraryCacheRecords records = read ? *read : LocalLibraryCacheRecords();
    m_libraryState->setHasLocalLibraryRecords(!records.isEmpty());
    if (pruningRestoreSelection) {
        QSet<QUuid> kept;
        for (const QUuid &id : std::as_const(m_libraryState->selectedLibraryItemIDs())) {
            if (!records.positions(id).isEmpty())
                kept.insert(id);
        }
        m_libraryState->setSelectedLibraryItemIDs(std::move(kept));
    }
    const Result<LocalLibrarySearchResult> visible
        = m_d->services.localLibraryCache.search(localLibraryQuery());
    std::optional<LibraryShellViewModelPrivate::Library::PublishedSearch> &published
        = m_d->library.publishedSearch;
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
    m_libraryState->setLocalLibraryItems(
        sameItems ? m_libraryState->localLibraryItems()
                  : (visible ? visible->items() : QList<LocalLibraryItem>()));
    // Wraps instead of overflowing: only a changed value matters to the tree memo.
    m_libraryState->setLocalLibraryItemsRevision(
        m_libraryState->localLibraryItemsRevision() == std::numeric_limits<qint64>::max()
            ? std::numeric_limits<qint64>::min()
            : m_libraryState->localLibraryItemsRevision() + 1);
}

QList<LocalLibraryItem> LibraryShellViewModel::selectedImportItems() const
{
    if (isIngestCacheMigrationPending())
        return {};
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return memoised(
        m_d->library.selectedImportItemsMemo,
        records,
        std::pair(m_libraryState->selectedLibraryItemIDs(), m_d->services.ingestCache.rootURL()),
        [&] {
            return selectedRecords(
                records,
                m_libraryState->selectedLibraryItemIDs(),
                [this](const LocalLibraryItem &item) { return canStartImport(item); });
        });
}

bool LibraryShellViewModel::isIngestCacheRemovalBlocked() const
{
    return m_importState->isImporting() || isImporterBusy() || isIngestCacheMigrationPending();
}

QList<LocalLibraryItem> LibraryShellViewModel::selectedRemovableIngestCacheItems() const
{
    if (isIngestCacheRemovalBlocked())
        return {};
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return memoised(
        m_d->library.selectedRemovableIngestCacheItemsMemo,
        records,
        m_libraryState->selectedLibraryItemIDs(),
        [&] {
            return selectedRecords(
                records,
                m_libraryState->selectedLibraryItemIDs(),
                [](const LocalLibraryItem &item) {
                    return (item.importStatus == LibraryItemImportStatus::LocalCacheReady
                            || item.importStatus == LibraryItemImportStatus::NeedsAttention)
                           && item.ingestCacheOriginalURL.has_value();
                });
        });
}

QList<LocalLibraryItem> LibraryShellViewModel::selectedRestoreItems() const
{
    if (m_libraryState->selectedLibraryItemIDs().isEmpty())
        return {};
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return memoised(m_d->library.selectedRestoreItemsMemo,
                    records,
                    m_libraryState->selectedLibraryItemIDs(),
                    [&] {
                        return selectedRecords(
                            records,
                            m_libraryState->selectedLibraryItemIDs(),
                            [](const LocalLibraryItem &item) {
                                return item.importStatus == LibraryItemImportStatus::VerifiedBackup
                                       && item.backendLibraryItemID.has_value();
                            });
                    });
}

RestoreSelectionSummary LibraryShellViewModel::restoreSelectionSummary() const
{
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return memoised(m_d->library.restoreSelectionSummaryMemo,
                    records,
                    m_libraryState->selectedLibraryItemIDs(),
                    [this] {
                        const QList<LocalLibraryItem> items = selectedRestoreItems();
                        RestoreSelectionSummary summary;
                        summary.itemCount = static_cast<int>(items.size());
                        summary.filenames.reserve(items.size());
                        for (const LocalLibraryItem &item : items) {
                            const qint64 bytes = item.archiveByteCount.value_or(0);
                            // Stored sizes are not trusted to add up: the sum saturates instead of wrapping.
                            if (qAddOverflow(summary.byteCount, bytes, &summary.byteCount)) {
                                summary.byteCount = bytes > 0 ? std::numeric_limits<qint64>::max()
                                                              : std::numeric_limits<qint64>::min();
                            }
                            summary.filenames.append(item.originalFilename);
                        }
                        return summary;
                    });
}

QList<LocalLibraryItem> LibraryShellViewModel::restoreWorkflowItems() const
{
    if (!m_restoreState->activeRestoreRequest())
        return selectedRestoreItems();
    if (m_restoreState->activeRestoreRequest()->items.isEmpty())
        return {};
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return memoised(
        m_d->library.restoreWorkflowItemsMemo,
        records,
        m_restoreState->activeRestoreRequest()->items,
        [&] {
            QSet<qint64> requested;
            for (const RestoreRequestItem &item : m_restoreState->activeRestoreRequest()->items)
                requested.insert(item.libraryItemID);
            QList<LocalLibraryItem> result;
            result.reserve(std::min(records.size(), requested.size()));
            records.forEach([&](const LocalLibraryItem &item) {
                if (item.backendLibraryItemID && requested.contains(*item.backendLibraryItemID))
                    result.append(item);
            });
            return result;
        });
}

QStringList LibraryShellViewModel::localLibraryIngestSources() const
{
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return memoised(m_d->library.localLibraryIngestSourcesMemo, records, true, [&] {
        return ingestSourceNames(records);
    });
}

void LibraryShellViewModel::keepLocalLibraryTree(const LocalLibraryTreeKey &key,
                                                 quint64 build,
                                                 Result<QList<LocalLibraryTreeNode>> built)
{
    LibraryShellViewModelPrivate::Library &library = m_d->library;
    if (build == library.startedLocalLibraryTreeBuilds)
        library.pendingLocalLibraryTreeKey.reset();
    if (!built || (library.localLibraryTreeCache && library.localLibraryTreeCache->build > build)) {
        Workflow::releaseLater(std::move(built));
        return;
    }
    if (library.localLibraryTreeCache)
        Workflow::releaseLater(std::move(library.localLibraryTreeCache->nodes));
    library.localLibraryTreeCache = LocalLibraryTreeCache{key, build, std::move(*built)};
    Q_EMIT m_libraryState->localLibraryTreeChanged();
}

std::optional<QList<LocalLibraryTreeNode>>
LibraryShellViewModel::localLibraryTree(const QHash<QString, qint64> &visibleFolderCounts)
{
    LibraryShellViewModelPrivate::Library &library = m_d->library;
    LocalLibraryTreeKey key{m_libraryState->localLibraryItemsRevision(),
                            !hasActiveLocalLibraryFilters(),
                            visibleFolderCounts};
    if (library.localLibraryTreeCache && library.localLibraryTreeCache->key == key)
        return library.localLibraryTreeCache->nodes;
    if (!library.localLibraryTreeBuilder) {
        library.localLibraryTreeCache
            = LocalLibraryTreeCache{std::move(key), ++library.startedLocalLibraryTreeBuilds, {}};
        return QList<LocalLibraryTreeNode>();
    }
    if (library.pendingLocalLibraryTreeKey != key) {
        library.pendingLocalLibraryTreeKey = key;
        const quint64 build = ++library.startedLocalLibraryTreeBuilds;
        QFuture<Result<QList<LocalLibraryTreeNode>>> job = Workflow::run(
            WorkflowPools::utility(),
            [builder = library.localLibraryTreeBuilder,
             items = m_libraryState->localLibraryItems(),
             root = m_d->services.ingestCache.rootURL(),
             key]() -> Result<QList<LocalLibraryTreeNode>> {
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
        // ended before this call returns; never once the view model is gone.
        job.then(this, [this, key, build](Result<QList<LocalLibraryTreeNode>> built) {
            QMetaObject::invokeMethod(
                this,
                [this, key, build, built = std::move(built)]() mutable {
                    keepLocalLibraryTree(key, build, std::move(built));
                },
                Qt::QueuedConnection);
        });
    }
    if (library.localLibraryTreeCache)
        return library.localLibraryTreeCache->nodes;
    return std::nullopt;
}

void LibraryShellViewModel::setLocalLibraryTreeBuilder(LocalLibraryTreeBuilder builder)
{
    m_d->library.localLibraryTreeBuilder = std::move(builder);
    m_d->library.localLibraryTreeCache.reset();
    m_d->library.pendingLocalLibraryTreeKey.reset();
}

std::optional<QString>
LibraryShellViewModel::localLibraryPreviewURL(const LocalLibraryItem &item) const
{
    return m_d->services.localLibraryCache.absolutePreviewURL(item);
}

std::optional<LocalLibraryItem> LibraryShellViewModel::inspectedLocalLibraryItem() const
{
    if (!m_libraryState->inspectedLocalLibraryItemID())
        return std::nullopt;
    for (const LocalLibraryItem &item : m_libraryState->localLibraryItems()) {
        if (item.id == *m_libraryState->inspectedLocalLibraryItemID())
            return item;
    }
    return std::nullopt;
}

void LibraryShellViewModel::inspectLocalLibraryItem(const std::optional<LocalLibraryItem> &item)
{
    m_libraryState->setInspectedLocalLibraryItemID(item ? std::optional(item->id) : std::nullopt);
}

} // namespace Pellwick
