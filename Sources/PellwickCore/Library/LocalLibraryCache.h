#pragma once

#include <PellwickCore/Backend/RemoteLibraryItem.h>
#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Ingest/ImportScanVolume.h>
#include <PellwickCore/Library/IngestCacheReconciliation.h>
#include <PellwickCore/Library/LocalLibraryCacheRecords.h>
#include <PellwickCore/Library/LocalLibraryCacheStorage.h>
#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Library/LocalLibrarySearchResult.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>

namespace Pellwick {

struct IngestCacheCopy;
class IngestCache;

/// The records of a copy-in into the Ingest Cache.
struct IngestCacheCopyRecords
{
    /// One record per copied RAW original, as stored, in the order of the batch folders' review.
    QList<LocalLibraryItem> records;
    /// How many of them the cache held already: a ready record named an earlier copy with the
    /// same bytes, RAW original and sidecar, which the new copy replaced.
    qint64 alreadyHeldCount = 0;
};

/// Tuning of a `LocalLibraryCache`.
struct LocalLibraryCacheOptions
{
    /// Journal size beyond which it is folded into a new "library-items.json"; 0 chooses
    /// max(8 MiB, a quarter of the file).
    qint64 journalFoldBytes = 0;
};

/// The persistent library: one record per RAW original in "library-items.json" under `rootURL`,
/// with the preview files in "previews/". Loaded once, then served from memory; copies share one
/// storage and so one set of records and locks. Thread-safe.
///
/// On disk, each change becomes durable by appending one checksummed entry to
/// "library-items.journal" beside the file and flushing it before the change returns; the entries
/// are folded into a freshly written "library-items.json" when the journal grows past a bound, and
/// on whole-library writes. "library-items.json" alone may therefore lag behind the library: the
/// two files belong together. A journal that names another "library-items.json" (one replaced
/// from outside) is ignored. When the files were deleted, edited or replaced from outside, the
/// next change writes the whole library again. A change that leaves every record as it was writes
/// nothing while the files are the store's own. Files that do not load are never written over:
/// a whole-library write first gives them the names "library-items.json.damaged-" and
/// "library-items.journal.damaged-" followed by the UTC time.
///
/// Failures are the file system's `FileSystemError`s (a device or other non-regular file in place
/// of either file, or a journal far larger than the store ever lets it grow, is refused unread)
/// and the `DecodingError`s of a damaged file (naming the file and the record's key path, or the
/// journal and the byte offset of a damaged entry);
/// after a failed change the store and the files keep the previous library.
class LocalLibraryCache
{
public:
    using Options = LocalLibraryCacheOptions;

    LocalLibraryCache(const QString &rootURL,
                      std::shared_ptr<const FileManager> fileManager,
                      Options options = {});

    const QString &rootURL() const { return m_rootURL; }

    const std::shared_ptr<const FileManager> &fileManager() const { return m_fileManager; }

    const std::shared_ptr<LocalLibraryCacheStorage> &storage() const { return m_storage; }

    /// The loaded records (read from disk on first use); cheap to copy, never changes.
    [[nodiscard]] Result<LocalLibraryCacheRecords> cachedRecords() const;
    /// Every record in stored order.
    [[nodiscard]] Result<QList<LocalLibraryItem>> readItems() const;
    /// The records matching `query`, in stored order (`LocalLibraryCacheRecords::search`), held
    /// by reference into the library searched; fails only as loading does.
    [[nodiscard]] Result<LocalLibrarySearchResult>
    search(const LocalLibrarySearchQuery &query) const;

    /// Replaces the whole library, whatever the file held before.
    [[nodiscard]] Result<void> writeItems(const QList<LocalLibraryItem> &items) const;
    [[nodiscard]] Result<void> appendItems(const QList<LocalLibraryItem> &items) const;
    [[nodiscard]] Result<void> removeItems(const QSet<QUuid> &ids) const;
    /// Merges freshly copied packages: an input replaces the package of the first record with its
    /// content hash that takes it (`takesIngestCacheCopy`, `replacingIngestCacheItem`), one whose
    /// own photo it is (same file name and own sidecar) before any other; an input no such record
    /// takes (another sidecar, or an archived record with another package) is appended as a record
    /// of its own. An archived record keeps its `cacheRelativePath`, and its evidence when the
    /// copy is a twin's: the copy is only there for its cleanup. A record needing attention
    /// that never reached the archive and takes a copy verified against its source
    /// (`holdsVerifiedIngestCacheCopy`) becomes ready. One resulting record per input, in input
    /// order.
    [[nodiscard]] Result<QList<LocalLibraryItem>>
    upsertIngestCacheItems(const QList<LocalLibraryItem> &items) const;
    [[nodiscard]] Result<void> relocateIngestCacheItems(const QString &oldRoot,
                                                        const QString &newRoot) const;
    /// Clears the Ingest Cache package of the records; `cacheRelativePath` (the library tree's
    /// folder) stays.
    [[nodiscard]] Result<void> removeIngestCachePackages(const QSet<QUuid> &ids) const;
    /// The updated record (the last, were an id stored twice), or none for an unknown id.
    [[nodiscard]] Result<std::optional<LocalLibraryItem>>
    updateImportStatus(const QUuid &id, LibraryItemImportStatus status) const;
    /// Sets the import status of every record with an id in `ids`, as one change.
    [[nodiscard]] Result<void> updateImportStatuses(const QSet<QUuid> &ids,
                                                    LibraryItemImportStatus status) const;
    [[nodiscard]] Result<std::optional<LocalLibraryItem>>
    updateArchiveSidecar(const QUuid &id,
                         const std::optional<QString> &filename,
                         std::optional<qint64> byteCount,
                         const std::optional<QString> &contentHash) const;
    /// Sets the item's preview (one journal entry); none for an unknown id.
    [[nodiscard]] Result<std::optional<LocalLibraryItem>>
    updatePreview(const QUuid &id, const LocalPreviewState &preview) const;
    /// Sets the item's capture metadata (one journal entry); none for an unknown id.
    [[nodiscard]] Result<std::optional<LocalLibraryItem>>
    updateMetadata(const QUuid &id, const PhotoMetadata &metadata) const;
    [[nodiscard]] Result<std::optional<LocalLibraryItem>>
    updateBackendLibraryItemID(const QUuid &id, std::optional<qint64> backendID) const;
    /// Sets the restore status of every record whose backend id is in `backendIDs`, with the
    /// attention reason `attentionReasons` holds for it (none otherwise). A duplicate is left
    /// alone: its id is its archived record's, which is the one restored.
    [[nodiscard]] Result<void>
    updateRestoreStatus(const QSet<qint64> &backendIDs,
                        std::optional<RestoreRequestStatus> status,
                        const QHash<qint64, QString> &attentionReasons) const;

    /// Brings the library in line with `review`, a review of the Ingest Cache root: ready records
    /// follow their packages by content (moved) or by path (overwritten in place: needs
    /// attention), ready records whose package is gone (the scan did not see it and nothing is
    /// at its path) are dropped, archived records take over
    /// leftover copies of their packages, and every unclaimed package becomes a new record (needs
    /// attention below a folder of `blockedSourceFolders`, whose copy-in was interrupted) with
    /// the metadata `metadataExtractor` reads (all unknown when it fails) and a canonical
    /// filename unique in the library. A record that awaited a verified copy
    /// (`awaitsVerifiedIngestCacheCopy`) becomes ready once its batch is complete and its files
    /// still hold the verified bytes. A record whose bytes lie twice in the cache names the copy
    /// that comes later in the review, so that the next call finds it in place. Each file is
    /// hashed at most once. Run it inside `withExclusiveAccess`; the write happens only while
    /// the library still holds what was read (`didApply` false otherwise). A cache that holds
    /// none of the packages of the ready records while they name some is not available
    /// (`cacheUnavailable`): nothing is written. Fails with the hasher's first error, or the
    /// store's, writing nothing.
    [[nodiscard]] Result<IngestCacheReconciliation>
    reconcileIngestCache(const ImportReview &review,
                         const QSet<QString> &blockedSourceFolders,
                         const ContentHashing &contentHasher,
                         const PhotoMetadataExtracting &metadataExtractor,
                         Date now) const;

    /// The records of a copy-in: reviews the batch folders `copies` wrote (reading them with
    /// `fileManager`), makes one record ready to import per supported item (`ingestCacheRecord`,
    /// with the copy whose batch folder holds the item), gives each a canonical filename unused
    /// in the library and in the batch, and upserts them (`upsertIngestCacheItems`) under the
    /// library's exclusive access. A file the copy-in verified, still with the attributes it had
    /// when its bytes were read, takes that digest instead of being hashed again when
    /// `contentHasher` gives the SHA-256 of content too. `stop` reaches every hash. Fails with
    /// the review's, the hasher's or the store's first error, writing nothing. Then the earlier
    /// copies that ready records left for the new ones are removed from `ingestCache` where they
    /// still hold the same bytes and no record names them (`removeRedundantIngestCacheCopies`
    /// says what that means); one that cannot be removed stays.
    [[nodiscard]] Result<IngestCacheCopyRecords>
    addIngestCacheCopies(const QList<IngestCacheCopy> &copies,
                         const IngestCache &ingestCache,
                         const std::shared_ptr<const FileManager> &fileManager,
                         const ContentHashing &contentHasher,
                         const PhotoMetadataExtracting &metadataExtractor,
                         std::stop_token stop = {}) const;
    /// Whether the Ingest Cache folder `root` is away rather than there, as far as can be told
    /// without reading it through: ready records name files below it and not one of those is
    /// at its path (each known to lead nowhere), as in the bare mount point of a drive that is
    /// not mounted. Reads the records and examines at most one path per ready record. Fails with
    /// the store's error.
    [[nodiscard]] Result<bool> isIngestCacheFolderAway(const QString &root) const;
    /// Removes the copies among `items` (items of a review of the Ingest Cache) that no record
    /// names, that lie in no folder of `unfinishedBatches`, and whose RAW original and sidecar
    /// (or lack of one), under the same file names and with the same bytes, a ready record holds
    /// in a copy of its own that still has them; and the unpaired sidecars that a removal cut
    /// after their RAW original left, where a ready record holds one of that name and bytes in a
    /// copy of its own or the archive holds it. A file is named by a record when it is the file a
    /// record names, whatever the spelling of either path (symbolic links, bind mounts); while a
    /// record names a file outside the cache root in use that cannot be found, nothing is removed.
    /// The library files read are made durable before the first removal, under the library's
    /// exclusive access. A copy that changed while it was checked, or that cannot be checked or
    /// removed, stays. Returns how many copies were found redundant. `addIngestCacheCopies` does
    /// this for the finished batch folders no record names.
    qint64 removeRedundantIngestCacheCopies(const QList<ImportReviewItem> &items,
                                            const IngestCache &ingestCache,
                                            const QSet<QString> &unfinishedBatches) const;
    /// The record of one cached, supported item, ready to import: with the source-media evidence
    /// of `sourceCopy` when the item lies in its batch folder, the metadata of the cached RAW
    /// original (all unknown when unreadable) and a canonical filename unused in the library.
    /// Writes nothing. Fails with the hasher's or the store's error. Thread-safe.
    [[nodiscard]] Result<LocalLibraryItem>
    ingestCacheRecord(const ImportReviewItem &item,
                      const IngestCacheCopy *sourceCopy,
                      const QString &ingestCacheRoot,
                      const ContentHashing &contentHasher,
                      const PhotoMetadataExtracting &metadataExtractor,
                      std::stop_token stop = {}) const;

    /// Replaces the archive side of the library with the backend's `items` (in the backend's
    /// order), keeping each linked record's id, package, evidence, metadata and preview; records
    /// without backend id that no item links stay in front. A backend id listed twice counts
    /// once. A record without backend id links by content only to a Verified Backup, and only
    /// when it archived the sidecar the record knows of. One write, under the mutation lock.
    /// `whenListed` holds the records as they were when `items` was asked for (none: as they are
    /// now): a record changed or added since (an import gave it its backend item or its status
    /// meanwhile) is kept as it is now, never dropped or set back, and stands for its backend item.
    [[nodiscard]] Result<void> rebuild(const QList<RemoteLibraryItem> &items,
                                       const std::optional<LocalLibraryCacheRecords> &whenListed
                                       = std::nullopt) const;

    /// Marks the evidence of every record whose available source no longer holds the recorded
    /// files as changed, and returns how many records it changed. The sources are examined with
    /// no lock held; only records still holding the examined evidence are marked, whatever else
    /// changed meanwhile (a record that took a new copy's evidence is examined next time). Fails
    /// with `CancellationError` when `stop` is requested (checked between records), after marking
    /// the records found changed until then, or with the store's errors.
    [[nodiscard]] Result<qsizetype>
    revalidateSourceMedia(const QList<ImportScanVolume> &availableSources,
                          const FileManager &fileManager,
                          const ContentHashing &contentHasher,
                          std::stop_token stop = {}) const;

    /// Runs `body` (returning a `Result`) with the mutation lock held, released on every path.
    /// `body` may call the store's operations on the same thread.
    template<typename F>
    auto withExclusiveAccess(F &&body) const -> std::invoke_result_t<F &&>
    {
        const std::lock_guard guard(m_storage->mutationLock);
        return std::forward<F>(body)();
    }

    /// Makes the library files the records were loaded from durable, once: an earlier process
    /// killed before its flushes may have left entries that a power cut still takes back. Run it
    /// inside `withExclusiveAccess` before removing anything on the strength of what the records
    /// say; changes run it themselves. Fails with the file system's error.
    [[nodiscard]] Result<void> makeLoadedFilesDurable() const;
    /// Writes the complete item array. For callers inside `withExclusiveAccess`.
    [[nodiscard]] Result<void> writeItemsLocked(const QList<LocalLibraryItem> &items) const;
    /// Writes `items` only while the stored records still equal `expectedItems` (every field);
    /// false, writing nothing, otherwise.
    [[nodiscard]] Result<bool>
    writeItemsIfUnchangedLocked(const QList<LocalLibraryItem> &items,
                                const QList<LocalLibraryItem> &expectedItems) const;

    /// `rootURL`/previews/<name>.jpg, or none when `canonicalFilename` is not one safe path
    /// component (it may come from the backend).
    std::optional<QString> previewURL(const QString &canonicalFilename) const;
    /// The absolute path of an available preview, or none when it failed or its path is not
    /// "previews/" followed by one safe component.
    std::optional<QString> absolutePreviewURL(const LocalLibraryItem &item) const;

    static QString libraryFileName() { return QStringLiteral("library-items.json"); }

    static QString journalFileName() { return QStringLiteral("library-items.journal"); }

private:
    struct Change;

    template<typename T, typename F>
    Result<T> mutate(F &&compute) const;
    Result<void> commit(const LocalLibraryCacheRecords &current, const Change &change) const;
    Result<void> replaceAll(const LocalLibraryCacheRecords &records) const;
    Result<void> writeSnapshot(const LocalLibraryCacheRecords &records) const;
    Result<void> keepUnreadableFiles() const;
    Result<void> appendToJournal(const QByteArray &entry) const;
    Result<void> createJournal(const QByteArray &entry) const;
    Result<void> replaceCommitting(const QString &temporary, const QString &target) const;
    bool filesAreOurs() const;
    void publish(const LocalLibraryCacheRecords &records) const;
    Result<LocalLibraryCacheRecords> load() const;
    QString path(const QString &name) const;

    QString m_rootURL;
    std::shared_ptr<const FileManager> m_fileManager;
    std::shared_ptr<LocalLibraryCacheStorage> m_storage;
    Options m_options;
};

} // namespace Pellwick
