#include "LibraryShellViewModel.h"

#include <PellwickApp/Feedback/LibraryFeedback.h>

#include <QtNumeric>

#include <algorithm>
#include <limits>

namespace Pellwick {

namespace {

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

LocalLibraryCacheRecords LibraryShellViewModel::allLocalLibraryRecords() const
{
    // The loaded records are shared, not copied: the getters run while views render.
    Result<LocalLibraryCacheRecords> records = m_localLibraryCache.cachedRecords();
    return records ? std::move(*records) : LocalLibraryCacheRecords();
}

template<typename Predicate>
QList<LocalLibraryItem>
LibraryShellViewModel::selectedRecords(const LocalLibraryCacheRecords &records,
                                       Predicate keep) const
{
    QList<LocalLibraryItem> result;
    // Records are large: growing the list by doubling would move them again and again.
    result.reserve(std::min(records.size(), m_selectedLibraryItemIDs.size()));
    records.forEach([&](const LocalLibraryItem &item) {
        if (m_selectedLibraryItemIDs.contains(item.id) && keep(item))
            result.append(item);
    });
    return result;
}

template<typename Key, typename Value, typename Derive>
Value LibraryShellViewModel::memoised(std::optional<LibraryMemo<Key, Value>> &memo,
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

void LibraryShellViewModel::refreshVisibleLocalLibraryItems(bool pruningRestoreSelection)
{
    // A library that cannot be read must not pass for an empty one.
    const Result<LocalLibraryCacheRecords> read = m_localLibraryCache.cachedRecords();
    setLibraryReadErrorMessage(read ? std::nullopt
                                    : std::optional(LibraryFeedback::readErrorMessage(
                                        m_localLibraryCache.rootURL() + QLatin1Char('/')
                                            + LocalLibraryCache::libraryFileName(),
                                        read.error())));
    const LocalLibraryCacheRecords records = read ? *read : LocalLibraryCacheRecords();
    setHasLocalLibraryRecords(!records.isEmpty());
    if (pruningRestoreSelection) {
        QSet<QUuid> kept;
        for (const QUuid &id : std::as_const(m_selectedLibraryItemIDs)) {
            if (!records.positions(id).isEmpty())
                kept.insert(id);
        }
        setSelectedLibraryItemIDs(std::move(kept));
    }
    const Result<LocalLibrarySearchResult> visible
        = m_localLibraryCache.search(localLibraryQuery());
    setLocalLibraryItems(visible ? visible->items() : QList<LocalLibraryItem>());
    // Wraps instead of overflowing: only a changed value matters to the tree memo.
    setLocalLibraryItemsRevision(m_localLibraryItemsRevision == std::numeric_limits<qint64>::max()
                                     ? std::numeric_limits<qint64>::min()
                                     : m_localLibraryItemsRevision + 1);
}

QList<LocalLibraryItem> LibraryShellViewModel::selectedImportItems() const
{
    if (isIngestCacheMoveBlockingImports())
        return {};
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return memoised(m_selectedImportItemsMemo,
                    records,
                    std::pair(m_selectedLibraryItemIDs, m_ingestCache.rootURL()),
                    [&] {
                        return selectedRecords(records, [this](const LocalLibraryItem &item) {
                            return canStartImport(item);
                        });
                    });
}

QList<LocalLibraryItem> LibraryShellViewModel::selectedRemovableIngestCacheItems() const
{
    if (m_isImporting || isIngestCacheMigrationPending())
        return {};
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return memoised(
        m_selectedRemovableIngestCacheItemsMemo, records, m_selectedLibraryItemIDs, [&] {
            return selectedRecords(records, [](const LocalLibraryItem &item) {
                return (item.importStatus == LibraryItemImportStatus::LocalCacheReady
                        || item.importStatus == LibraryItemImportStatus::NeedsAttention)
                       && item.ingestCacheOriginalURL.has_value();
            });
        });
}

QList<LocalLibraryItem> LibraryShellViewModel::selectedRestoreItems() const
{
    if (m_selectedLibraryItemIDs.isEmpty())
        return {};
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return memoised(m_selectedRestoreItemsMemo, records, m_selectedLibraryItemIDs, [&] {
        return selectedRecords(records, [](const LocalLibraryItem &item) {
            return item.importStatus == LibraryItemImportStatus::VerifiedBackup
                   && item.backendLibraryItemID.has_value();
        });
    });
}

RestoreSelectionSummary LibraryShellViewModel::restoreSelectionSummary() const
{
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return memoised(m_restoreSelectionSummaryMemo, records, m_selectedLibraryItemIDs, [this] {
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
    if (!m_activeRestoreRequest)
        return selectedRestoreItems();
    if (m_activeRestoreRequest->items.isEmpty())
        return {};
    const LocalLibraryCacheRecords records = allLocalLibraryRecords();
    return memoised(m_restoreWorkflowItemsMemo, records, m_activeRestoreRequest->items, [&] {
        QSet<qint64> requested;
        for (const RestoreRequestItem &item : m_activeRestoreRequest->items)
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
    return memoised(
        m_localLibraryIngestSourcesMemo, records, true, [&] { return ingestSourceNames(records); });
}

QList<LocalLibraryTreeNode>
LibraryShellViewModel::localLibraryTree(const QHash<QString, qint64> &visibleFolderCounts)
{
    const bool includePhysicalEntries = !hasActiveLocalLibraryFilters();
    if (m_localLibraryTreeCache && m_localLibraryTreeCache->revision == m_localLibraryItemsRevision
        && m_localLibraryTreeCache->includePhysicalEntries == includePhysicalEntries
        && m_localLibraryTreeCache->visibleFolderCounts == visibleFolderCounts) {
        return m_localLibraryTreeCache->nodes;
    }
    QList<LocalLibraryTreeNode> nodes;
    if (m_localLibraryTreeBuilder) {
        nodes = m_localLibraryTreeBuilder(m_localLibraryItems,
                                          m_ingestCache.rootURL(),
                                          includePhysicalEntries,
                                          visibleFolderCounts);
    }
    m_localLibraryTreeCache = LocalLibraryTreeCache{
        m_localLibraryItemsRevision, includePhysicalEntries, visibleFolderCounts, nodes};
    return nodes;
}

void LibraryShellViewModel::setLocalLibraryTreeBuilder(LocalLibraryTreeBuilder builder)
{
    m_localLibraryTreeBuilder = std::move(builder);
    m_localLibraryTreeCache.reset();
}

std::optional<LocalLibraryItem> LibraryShellViewModel::inspectedLocalLibraryItem() const
{
    if (!m_inspectedLocalLibraryItemID)
        return std::nullopt;
    for (const LocalLibraryItem &item : m_localLibraryItems) {
        if (item.id == *m_inspectedLocalLibraryItemID)
            return item;
    }
    return std::nullopt;
}

void LibraryShellViewModel::inspectLocalLibraryItem(const std::optional<LocalLibraryItem> &item)
{
    setInspectedLocalLibraryItemID(item ? std::optional(item->id) : std::nullopt);
}

} // namespace Pellwick
