#pragma once

#include <PellwickApp/Shell/Operations/LibraryOperations.h>
#include <PellwickApp/Workflows/Library/LibrarySelection.h>
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Library/LocalLibrarySearchResult.h>
#include <PellwickCore/Restore/ManagedFolder.h>
#include <PellwickCore/Support/Result.h>

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace Pellwick {

class FileManager;
class LibraryState;

/// What a folder tree of the library is built for: `revision` of the visible items, with or
/// without the physical folder entries, and `visibleFolderCounts`.
struct LocalLibraryTreeKey
{
    qint64 revision = 0;
    bool includePhysicalEntries = false;
    QHash<QString, qint64> visibleFolderCounts;

    bool operator==(const LocalLibraryTreeKey &) const = default;
};

/// What the library pages derive from the Local Library Cache's records: the visible items under
/// the filters of `LibraryState`, the folder tree and the inspected item. Each getter reads the
/// library's in-memory records afresh, in stored order; a failed read counts as an empty
/// library, and nothing here reports a failure, except the check of the data folders, which
/// reports the first that cannot take a file. Main thread only.
class LibraryWorkflows final
    : public QObject
    , public LibraryOperations
{
public:
    /// Builds the folder tree of the visible items: (items, Ingest Cache root, whether the
    /// physical folder entries are included, visible child-folder counts per folder id).
    using LocalLibraryTreeBuilder = std::function<QList<LocalLibraryTreeNode>(
        const QList<LocalLibraryItem> &, const QString &, bool, const QHash<QString, qint64> &)>;

    /// The folders Pellwick writes its own files into, in the order a check names them, and the
    /// file manager that checks them.
    struct DataFolders
    {
        std::shared_ptr<const FileManager> fileManager;
        QList<std::pair<ManagedFolder, QString>> folders;
        /// Answers, on the main thread, the active Ingest Cache's root once its location was
        /// chosen, else nothing: checked after `folders`.
        std::function<QString()> ingestCache = {};
    };

    /// Sets the capture-time window to the 30 days before now, then observes the filters: each
    /// assignment refreshes the visible items (the search text only when it changed), except
    /// while `resetLocalLibraryFilters()` runs. `ingestCacheRoot` answers the active Ingest
    /// Cache's root, which the tree builder is given; `scheduleSourceMediaSafetyRefresh` asks the
    /// import workflows for a check.
    LibraryWorkflows(LibraryState &state,
                     LocalLibraryCache localLibraryCache,
                     std::function<QString()> ingestCacheRoot,
                     std::function<void()> scheduleSourceMediaSafetyRefresh,
                     DataFolders dataFolders,
                     QObject *parent = nullptr);
    ~LibraryWorkflows() override;

    /// Re-reads the library and publishes `hasLocalLibraryRecords`, the items matching
    /// `localLibraryQuery()` (none when the search fails) and the next revision (wrapping). When
    /// pruning, the selection loses the ids of records that no longer exist; records hidden by
    /// the filters stay selected. The inspected id and the tree memo are left alone. Without an
    /// active filter, the next request of the tree also builds ahead, on the utility pool, a
    /// large library's tree without the folders' other files, ready for the first search text
    /// that leaves the same items; a build for items published earlier is dropped.
    void refreshVisibleLocalLibraryItems(bool pruningRestoreSelection) override;
    /// The distinct ingest source names of the records, in code-unit order.
    QStringList localLibraryIngestSources() const override;
    /// The newest folder tree of the visible items. When the revision, the physical-entries flag
    /// (no filter active) or `visibleFolderCounts` differ from those of the memo, the builder runs
    /// on the utility pool (once per key while it runs) and its result replaces the memo on the
    /// main thread, unless a build started later already did; the replaced tree is taken apart
    /// on the pool. Without an installed builder the tree is empty at once. A tree built ahead
    /// for the very items asked for (see `refreshVisibleLocalLibraryItems`) answers at once, or
    /// is waited for while it is built.
    std::optional<QList<LocalLibraryTreeNode>>
    localLibraryTree(const QHash<QString, qint64> &visibleFolderCounts) override;
    std::optional<QString> localLibraryPreviewURL(const LocalLibraryItem &item) const override;
    /// The visible item with the inspected id; none when the filters hide it.
    std::optional<LocalLibraryItem> inspectedLocalLibraryItem() const override;
    /// Inspects `item` (none clears); assigns even an unchanged id.
    void inspectLocalLibraryItem(const std::optional<LocalLibraryItem> &item) override;
    /// Whether the search text (trimmed) or any filter but the capture-time window's dates
    /// differs from its default.
    bool hasActiveLocalLibraryFilters() const override;
    /// Puts the six filters back to their defaults with one refresh; the window dates stay.
    void resetLocalLibraryFilters() override;
    void scheduleSourceMediaSafetyRefresh() override;
    /// Checks on the utility pool that each data folder can take a file (a missing one is made
    /// on demand, so the nearest folder above it is checked) and publishes the sentences of every
    /// one that cannot, in order (`DiskFeedback::dataFolderFailures`), as
    /// `dataFolderErrorMessage`, or clears it. Only the latest check publishes; a failed check
    /// leaves nothing on the disk.
    QCoro::Task<> checkDataFolders() override;

    /// Replaces the tree builder (by default one that builds no nodes), drops the memo and
    /// builds ahead at the next request as after a refresh. The builder runs on a worker thread:
    /// it must not touch the workflows.
    void setLocalLibraryTreeBuilder(LocalLibraryTreeBuilder builder);
    /// The search for the current filters: the text exactly as typed, the capture-time window
    /// in whole local days, never an import-date condition.
    LocalLibrarySearchQuery localLibraryQuery() const;
    /// Every record in stored order; empty when the library cannot be read.
    LocalLibraryCacheRecords allLocalLibraryRecords() const;

private:
    /// `refreshVisibleLocalLibraryItems`; after a change of the search text only, the items and
    /// the revision stay as they are when the search found the same records of the same
    /// library with the filters as active as before (the tree would come out the same).
    void publishVisibleLocalLibraryItems(bool pruningRestoreSelection, bool afterSearchTextChange);
    /// Keeps a finished tree build as the newest tree unless a later build is already kept.
    void keepLocalLibraryTree(const LocalLibraryTreeKey &key,
                              quint64 build,
                              Result<QList<LocalLibraryTreeNode>> built);
    /// Starts a build of the tree for `key` from `items` on the utility pool; `keep` receives
    /// the result on the main thread through its event loop, never once the workflows are gone.
    void startTreeBuild(const QList<LocalLibraryItem> &items,
                        const QString &root,
                        const LocalLibraryTreeKey &key,
                        std::function<void(Result<QList<LocalLibraryTreeNode>>)> keep);
    /// Drops a tree built ahead for other items than the visible ones.
    void dropStaleTreeBuiltAhead();
    /// Builds ahead the tree that a search text leaving the visible items as they are would ask
    /// for, unless one for them is built or being built already.
    void buildTreeAhead();
    /// Keeps a finished build ahead unless items published later made it stale; hands it to a
    /// request that waits for it.
    void keepTreeBuiltAhead(quint64 generation, Result<QList<LocalLibraryTreeNode>> built);
    /// The observer of the search text: refreshes when it changed.
    void refreshAfterSearchTextChange();
    /// The observer of every filter field but the search text.
    void refreshAfterFilterChange();
    /// The capture-time window in whole local days, for `DateRange` only.
    std::optional<LocalLibraryDateRange> localLibraryCaptureTimeRange() const;

    /// The memo of the newest folder tree built: `build` numbers the builds in the order they
    /// were started, so an older build that ends late never replaces it.
    struct TreeCache
    {
        LocalLibraryTreeKey key;
        quint64 build = 0;
        QList<LocalLibraryTreeNode> nodes;
    };

    /// The search whose items were published last, and whether a filter was active then.
    struct PublishedSearch
    {
        LocalLibrarySearchResult result;
        bool isFiltered = false;
    };

    LibraryState &m_state;
    LocalLibraryCache m_localLibraryCache;
    std::function<QString()> m_ingestCacheRoot;
    std::function<void()> m_scheduleSourceMediaSafetyRefresh;
    DataFolders m_dataFolders;
    /// Numbers the checks of the data folders: only the newest publishes.
    quint64 m_dataFolderChecks = 0;
    bool m_isResettingFilters = false;
    /// The search text of the last observed assignment: only a changed text refreshes.
    QString m_observedSearchText;

    /// A tree built ahead, without the folders' other files, for the visible items published
    /// without filters. It keeps the list it is built from, so the list's address names it.
    struct AheadTree
    {
        quint64 generation = 0;
        QList<LocalLibraryItem> items;
        QString root;
        QHash<QString, qint64> visibleFolderCounts;
        /// None while it is built.
        std::optional<QList<LocalLibraryTreeNode>> nodes;
        /// A request for it made while it is built: its key and build number.
        std::optional<std::pair<LocalLibraryTreeKey, quint64>> waiting;

        bool isFor(const QList<LocalLibraryItem> &visible,
                   const QString &cacheRoot,
                   const QHash<QString, qint64> &counts) const
        {
            return items.constData() == visible.constData() && items.size() == visible.size()
                   && root == cacheRoot && visibleFolderCounts == counts;
        }
    };

    std::optional<PublishedSearch> m_publishedSearch;
    std::optional<TreeCache> m_treeCache;
    /// The key of the newest build started and not ended yet.
    std::optional<LocalLibraryTreeKey> m_pendingTreeKey;
    quint64 m_startedTreeBuilds = 0;
    std::optional<AheadTree> m_aheadTree;
    /// Set by a refresh without filters: the next request of the tree builds ahead too.
    bool m_buildsTreeAhead = false;
    /// Numbers the builds ahead: a result whose number is not the newest is stale.
    quint64 m_aheadTreeGenerations = 0;
    /// The folder counts of the newest tree asked for, which a build ahead uses.
    QHash<QString, qint64> m_requestedFolderCounts;
    LocalLibraryTreeBuilder m_treeBuilder;
    mutable std::optional<LibraryMemo<bool, QStringList>> m_ingestSourcesMemo;
};

} // namespace Pellwick
