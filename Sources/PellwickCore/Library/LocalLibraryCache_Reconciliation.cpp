// Reconciliation of the library with what the Ingest Cache really holds.
#include "LocalLibraryCache.h"
#include "LocalLibraryCache_p.h"

#include <PellwickCore/Ingest/CanonicalFilenameGenerator.h>
#include <PellwickCore/Ingest/ParallelHashing_p.h>
#include <PellwickCore/Support/FileIdentity.h>
#include <PellwickCore/Support/UuidText.h>

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <unordered_map>

namespace Pellwick {

namespace {

bool isArchived(LibraryItemImportStatus status)
{
    return status == LibraryItemImportStatus::VerifiedBackup
           || status == LibraryItemImportStatus::Duplicate;
}

/// Whether `record` keeps its RAW original's bytes without needing attention: in the archive, or
/// in a copy in the cache that it names.
bool holdsRawOriginal(const LocalLibraryItem &record)
{
    return record.importStatus != LibraryItemImportStatus::NeedsAttention
           && (isArchived(record.importStatus)
               || record.importStatus == LibraryItemImportStatus::CleanupPending
               || record.ingestCacheOriginalURL);
}

/// Whether `hash` failed because the file is no longer there (deleted, or its folder gone, since
/// the listing named it): such a file is simply not in the cache.
bool isGone(const Result<QString> &hash)
{
    const FileSystemError *error = hash ? nullptr : hash.error().as<FileSystemError>();
    return error && (error->code == ENOENT || error->code == ENOTDIR);
}

/// Content hashes of one call, each file hashed at most once; failures are kept too, so that
/// they are reported where the files are first needed.
class HashMemo
{
public:
    explicit HashMemo(const ContentHashing &hasher)
        : m_hasher(hasher)
    {}

    /// Hashes `paths` ahead, in parallel, when the hasher allows it (its calls then have no
    /// effect but their results); otherwise does nothing and each file is hashed when needed.
    /// A batch at a time: a cache of 100,000 files does not hold every result twice.
    void prefetch(const QStringList &paths)
    {
        if (!m_hasher.allowsConcurrentCalls())
            return;
        m_hashes.reserve(paths.size());
        constexpr qsizetype batchSize = 8192;
        for (qsizetype start = 0; start < paths.size(); start += batchSize) {
            const QStringList batch = paths.mid(start, batchSize);
            std::vector<Result<QString>> results = contentHashResults(m_hasher, batch, {});
            for (qsizetype i = 0; i < batch.size(); ++i)
                keep(batch.at(i), std::move(results[static_cast<size_t>(i)]));
        }
    }

    Result<QString> hash(const QString &path)
    {
        if (const auto known = m_hashes.constFind(path); known != m_hashes.cend())
            return *known;
        if (const auto failed = m_failures.constFind(path); failed != m_failures.cend())
            return tl::unexpected<Error>(*failed);
        Result<QString> hashed = m_hasher.contentHash(path);
        keep(path, hashed);
        return hashed;
    }

private:
    void keep(const QString &path, Result<QString> hashed)
    {
        if (hashed)
            m_hashes.insert(path, *hashed);
        else
            m_failures.insert(path, std::move(hashed).error());
    }

    const ContentHashing &m_hasher;
    QHash<QString, QString> m_hashes;
    QHash<QString, Error> m_failures;
};

/// The content hash of `item`'s sidecar; none without one, or when it is gone since the listing
/// (the item is then a RAW original without sidecar, as a listing made now would find it).
Result<std::optional<QString>> sidecarHash(const ImportReviewItem &item, HashMemo &hashes)
{
    if (!item.sidecar)
        return std::optional<QString>();
    Result<QString> hash = hashes.hash(item.sidecar->url);
    if (isGone(hash))
        return std::optional<QString>();
    PELLWICK_TRY(hash);
    return std::optional<QString>(std::move(*hash));
}

/// The supported items of a review, claimed one by one by the library's ready records.
class UnclaimedItems
{
public:
    UnclaimedItems(const ImportReview &review, HashMemo &hashes)
        : m_hashes(hashes)
    {
        for (const ImportReviewItem &item : review.items) {
            if (!item.status.isSupported()) {
                m_unsupportedPaths.insert(QDir::cleanPath(item.url));
                continue;
            }
            m_byPath[QDir::cleanPath(item.url)].append(m_items.size());
            m_items.append(&item);
        }
        m_claimed.resize(m_items.size(), false);
    }

    const ImportReviewItem &item(qsizetype index) const { return *m_items.at(index); }

    /// Every file of the items, RAW original before sidecar, in review order.
    QStringList files() const
    {
        QStringList paths;
        for (const ImportReviewItem *item : m_items) {
            paths.append(item->url);
            if (item->sidecar)
                paths.append(item->sidecar->url);
        }
        return paths;
    }

    void claim(qsizetype index)
    {
        m_claimed[static_cast<size_t>(index)] = true;
        if (index < m_hashedCount) {
            const Result<QString> hash = m_hashes.hash(item(index).url);
            if (hash)
                m_byHash[*hash].removeOne(index);
        }
    }

    /// The first unclaimed item, from the front, whose RAW original holds `record`'s bytes and
    /// whose sidecar is the record's (by hash; none on both sides also matches). RAW originals
    /// are hashed front to back as the walk first reaches them, so the walk over the items
    /// already hashed is a lookup.
    Result<std::optional<qsizetype>> contentMatch(const LocalLibraryItem &record)
    {
        const auto sidecarMatches = [&](qsizetype index) -> Result<bool> {
            const ImportReviewItem &candidate = item(index);
            const Result<std::optional<QString>> hash = sidecarHash(candidate, m_hashes);
            PELLWICK_TRY(hash);
            if (!*hash)
                return !record.ingestCacheSidecarURL.has_value();
            return record.ingestCacheSidecarContentHash == **hash;
        };
        const auto known = m_byHash.constFind(record.contentHash);
        if (known != m_byHash.constEnd()) {
            for (const qsizetype index : *known) {
                Result<bool> matches = sidecarMatches(index);
                PELLWICK_TRY(matches);
                if (*matches)
                    return std::optional(index);
            }
        }
        while (m_hashedCount < m_items.size()) {
            const qsizetype index = m_hashedCount++;
            const Result<QString> hash = m_hashes.hash(item(index).url);
            if (isGone(hash)) { // neither any record's package nor a new photo
                m_claimed[static_cast<size_t>(index)] = true;
                continue;
            }
            PELLWICK_TRY(hash);
            m_byHash[*hash].append(index);
            if (*hash != record.contentHash)
                continue;
            Result<bool> matches = sidecarMatches(index);
            PELLWICK_TRY(matches);
            if (*matches)
                return std::optional(index);
        }
        return std::optional<qsizetype>();
    }

    /// The first unclaimed item at `path` (standardised).
    std::optional<qsizetype> pathMatch(const QString &path) const
    {
        const auto found = m_byPath.constFind(QDir::cleanPath(path));
        if (found == m_byPath.constEnd())
            return std::nullopt;
        for (const qsizetype index : *found) {
            if (!m_claimed[static_cast<size_t>(index)])
                return index;
        }
        return std::nullopt;
    }

    /// Whether the review lists a file at `path` (standardised), claimed or not.
    bool lists(const QString &path) const
    {
        const QString standardized = QDir::cleanPath(path);
        return m_byPath.contains(standardized) || m_unsupportedPaths.contains(standardized);
    }

    /// How the review spells the file at `path` when `path` spells it otherwise (through a
    /// symbolic link or a bind mount of the cache): the listed file that is the same file.
    std::optional<QString> listedSpellingOf(const QString &path, const FileManager &fileManager)
    {
        if (lists(path))
            return std::nullopt;
        const Result<std::optional<FileIdentity>> identity = presentFileIdentity(fileManager, path);
        if (!identity || !*identity)
            return std::nullopt;
        if (!m_byIdentity) {
            m_byIdentity.emplace();
            QStringList listed = files();
            listed.append(QStringList(m_unsupportedPaths.cbegin(), m_unsupportedPaths.cend()));
            for (const QString &each : std::as_const(listed)) {
                const Result<std::optional<FileIdentity>> found
                    = presentFileIdentity(fileManager, each);
                if (found && *found)
                    m_byIdentity->insert(**found, each);
            }
        }
        const auto found = m_byIdentity->constFind(**identity);
        return found != m_byIdentity->cend() ? std::optional(*found) : std::nullopt;
    }

    QList<qsizetype> remaining() const
    {
        QList<qsizetype> indexes;
        for (qsizetype i = 0; i < m_items.size(); ++i) {
            if (!m_claimed[static_cast<size_t>(i)])
                indexes.append(i);
        }
        return indexes;
    }

private:
    HashMemo &m_hashes;
    QList<const ImportReviewItem *> m_items;
    std::vector<bool> m_claimed;
    /// Items [0, m_hashedCount) have had their RAW original hashed.
    qsizetype m_hashedCount = 0;
    /// Unclaimed hashed items by RAW hash, in review order.
    QHash<QString, QList<qsizetype>> m_byHash;
    QHash<QString, QList<qsizetype>> m_byPath;
    QSet<QString> m_unsupportedPaths;
    std::optional<QHash<FileIdentity, QString>> m_byIdentity;
};

/// The library's records with the changes of one reconciliation. Changed and added records are
/// kept beside the library's; the whole list is copied only for a removal or when taken, and only
/// when a change remains: a reconciliation that finds the cache as the library knows it, the
/// common case, copies none of 100,000 records, even when files of equal bytes take turns with
/// one record's package.
class EditedRecords
{
public:
    explicit EditedRecords(const LocalLibraryCacheRecords &records)
        : m_original(records)
    {}

    qsizetype size() const
    {
        return m_edited ? m_edited->size() : m_original.size() + m_appended.size();
    }

    const LocalLibraryItem &at(qsizetype position) const
    {
        if (m_edited)
            return m_edited->at(position);
        if (position >= m_original.size())
            return m_appended.at(position - m_original.size());
        const auto changed = m_changed.find(position);
        return changed != m_changed.end() ? changed->second : m_original.at(position);
    }

    /// Whether any record differs from the library's.
    bool isChanged() const
    {
        if (m_edited || !m_appended.isEmpty())
            return true;
        return std::any_of(m_changed.begin(), m_changed.end(), [this](const auto &change) {
            return !(change.second == m_original.at(change.first));
        });
    }

    void replace(qsizetype position, LocalLibraryItem record)
    {
        if (m_edited)
            (*m_edited)[position] = std::move(record);
        else if (position >= m_original.size())
            m_appended[position - m_original.size()] = std::move(record);
        else
            m_changed.insert_or_assign(position, std::move(record));
    }

    void append(LocalLibraryItem record)
    {
        if (m_edited)
            m_edited->append(std::move(record));
        else
            m_appended.append(std::move(record));
    }

    /// Removes the records at the positions marked in `removed`, keeping the others' order.
    void remove(const std::vector<bool> &removed)
    {
        if (std::find(removed.begin(), removed.end(), true) == removed.end())
            return;
        QList<LocalLibraryItem> &records = edited();
        qsizetype kept = 0;
        for (qsizetype p = 0; p < records.size(); ++p) {
            if (removed[static_cast<size_t>(p)])
                continue;
            if (kept != p)
                records[kept] = std::move(records[p]);
            ++kept;
        }
        records.resize(kept);
    }

    /// Every record, changed ones included.
    QList<LocalLibraryItem> take() { return std::move(edited()); }

private:
    QList<LocalLibraryItem> &edited()
    {
        if (!m_edited) {
            QList<LocalLibraryItem> records = m_original.items();
            for (auto &[position, record] : m_changed)
                records[position] = std::move(record);
            records.append(std::move(m_appended));
            m_changed.clear();
            m_edited = std::move(records);
        }
        return *m_edited;
    }

    const LocalLibraryCacheRecords &m_original;
    /// Changed records by position, before the list is copied; nodes keep their places, so a
    /// record handed out stays where it is while others change.
    std::unordered_map<qsizetype, LocalLibraryItem> m_changed;
    QList<LocalLibraryItem> m_appended;
    std::optional<QList<LocalLibraryItem>> m_edited;
};

/// The package of a review item; its sidecar is hashed (through the memo) and its size read now.
Result<IngestCachePackage>
packageOf(const ImportReviewItem &item, HashMemo &hashes, const FileManager &fileManager)
{
    IngestCachePackage package;
    package.originalURL = item.url;
    package.relativePath = item.sourceRelativePath;
    const Result<std::optional<QString>> hash = sidecarHash(item, hashes);
    PELLWICK_TRY(hash);
    if (*hash) {
        package.sidecarURL = item.sidecar->url;
        package.sidecarContentHash = **hash;
        const Result<FileAttributes> attributes = fileManager.attributesOfItem(item.sidecar->url);
        if (attributes && attributes->type == FileAttributes::Type::Regular)
            package.sidecarByteCount = attributes->size;
    }
    return package;
}

/// Whether `record` names the sidecar of `item`, or neither has one.
bool namesSidecarOf(const LocalLibraryItem &record, const ImportReviewItem &item)
{
    if (!item.sidecar || !record.ingestCacheSidecarURL)
        return !item.sidecar && !record.ingestCacheSidecarURL;
    return QDir::cleanPath(item.sidecar->url) == QDir::cleanPath(*record.ingestCacheSidecarURL);
}

/// The new record for a review item no record claimed; none when its RAW original is gone since
/// the listing.
Result<std::optional<LocalLibraryItem>> discoveredIngestCacheItem(
    const ImportReviewItem &item, const QSet<QString> &blockedFolders, HashMemo &hashes, Date now)
{
    const Result<QString> rawHash = hashes.hash(item.url);
    if (isGone(rawHash))
        return std::optional<LocalLibraryItem>();
    PELLWICK_TRY(rawHash);
    LocalLibraryItem record;
    const Result<std::optional<QString>> sidecar = sidecarHash(item, hashes);
    PELLWICK_TRY(sidecar);
    if (*sidecar) {
        record.ingestCacheSidecarURL = item.sidecar->url;
        record.ingestCacheSidecarContentHash = **sidecar;
    }
    record.id = QUuid::createUuid();
    record.originalFilename = item.filename;
    record.contentHash = *rawHash;
    record.importDate = now;
    record.importStatus = liesBelowAnyFolder(item.url, blockedFolders)
                              ? LibraryItemImportStatus::NeedsAttention
                              : LibraryItemImportStatus::LocalCacheReady;
    record.ingestCacheOriginalURL = item.url;
    record.ingestSourceName = item.volumeName;
    record.sourceRelativePath = item.sourceRelativePath;
    record.cacheRelativePath = item.sourceRelativePath;
    record.metadata = PhotoMetadata::unknown();
    record.preview = LocalPreviewState::discoveredInIngestCache();
    return std::optional(std::move(record));
}

/// Whether `item`, the package `record` names, is the verified copy the record awaited
/// (`awaitsVerifiedIngestCacheCopy`): its batch is complete and its files still hold the bytes a
/// copy-in verified. A file that cannot be hashed is no such copy.
bool isAwaitedCopy(const LocalLibraryItem &record,
                   const ImportReviewItem &item,
                   const QSet<QString> &blockedFolders,
                   HashMemo &hashes)
{
    if (!record.awaitsVerifiedIngestCacheCopy() || !record.holdsVerifiedIngestCacheCopy()
        || liesBelowAnyFolder(item.url, blockedFolders))
        return false;
    const Result<QString> rawHash = hashes.hash(item.url);
    if (!rawHash || *rawHash != record.contentHash)
        return false;
    if (!item.sidecar)
        return !record.ingestCacheSidecarContentHash;
    const Result<QString> sidecarHash = hashes.hash(item.sidecar->url);
    return sidecarHash && *sidecarHash == record.ingestCacheSidecarContentHash;
}

/// Hands the packages of ready records holding an archived record's bytes to that record (when
/// the package facts match), dropping the ready records; the smallest id text goes first.
void handOverArchiveBackedPackages(EditedRecords &records, const FileManager &fileManager)
{
    QList<std::pair<QString, qsizetype>> candidates;
    QHash<QString, QList<qsizetype>> archivedByHash;
    for (qsizetype p = 0; p < records.size(); ++p) {
        const LocalLibraryItem &record = records.at(p);
        if (record.importStatus == LibraryItemImportStatus::LocalCacheReady
            && record.ingestCacheOriginalURL) {
            candidates.append({uuidText(record.id), p});
        } else if (isArchived(record.importStatus) && !record.ingestCacheOriginalURL) {
            archivedByHash[record.contentHash].append(p);
        }
    }
    if (candidates.isEmpty() || archivedByHash.isEmpty())
        return;
    std::stable_sort(candidates.begin(), candidates.end(), [](const auto &a, const auto &b) {
        return a.first < b.first;
    });
    std::vector<bool> removed(static_cast<size_t>(records.size()), false);
    for (const auto &[idText, position] : candidates) {
        const LocalLibraryItem &candidate = records.at(position);
        const auto archived = archivedByHash.constFind(candidate.contentHash);
        if (archived == archivedByHash.constEnd())
            continue;
        for (const qsizetype a : *archived) {
            const LocalLibraryItem &record = records.at(a);
            if (record.ingestCacheOriginalURL
                || !record.matchesArchivedPackage(candidate, fileManager))
                continue;
            const std::optional<IngestCachePackage> package
                = candidate.ingestCachePackage(fileManager);
            if (package) {
                records.replace(a, record.attachingIngestCachePackageForCleanup(*package));
                removed[static_cast<size_t>(position)] = true;
            }
            break;
        }
    }
    records.remove(removed);
}

/// Makes a record for each review item no record claimed, in review order, and merges it into
/// the first record with its bytes that takes it (one not archived, or an archived one whose
/// package facts match) or appends it; returns how many were appended. A record keeps the package
/// it names (its item in `claimedItems`, by record id) over a copy that comes before it in the
/// review or lies in a batch whose copy-in is unfinished. An appended record takes the metadata of
/// its file and a canonical filename unique in the library. One record is made at a time: a cache
/// full of files the library does not know must not hold them all as records besides. On a
/// failure `records` is left part merged.
Result<int> mergeDiscovered(EditedRecords &records,
                            const UnclaimedItems &unclaimed,
                            const QHash<QUuid, qsizetype> &claimedItems,
                            const QSet<QString> &blockedFolders,
                            HashMemo &hashes,
                            const PhotoMetadataExtracting &metadataExtractor,
                            Date now,
                            const FileManager &fileManager)
{
    std::optional<QSet<QString>> usedNames;
    // The records of each hash as a chain, front to back, appended ones included.
    const qsizetype existing = records.size();
    QHash<QString, qsizetype> firstWithHash;
    std::vector<qsizetype> nextWithHash(static_cast<size_t>(existing), -1);
    for (qsizetype p = existing - 1; p >= 0; --p) {
        const QString &hash = records.at(p).contentHash;
        nextWithHash[static_cast<size_t>(p)] = firstWithHash.value(hash, -1);
        firstWithHash.insert(hash, p);
    }
    int added = 0;
    for (const qsizetype index : unclaimed.remaining()) {
        Result<std::optional<LocalLibraryItem>> discovered
            = discoveredIngestCacheItem(unclaimed.item(index), blockedFolders, hashes, now);
        PELLWICK_TRY(discovered);
        if (!*discovered)
            continue;
        LocalLibraryItem &item = **discovered;
        qsizetype taker = firstWithHash.value(item.contentHash, -1);
        qsizetype last = -1;
        bool held = false;
        while (taker >= 0 && !records.at(taker).takesIngestCacheCopy(item, fileManager)) {
            held = held || holdsRawOriginal(records.at(taker));
            last = taker;
            taker = nextWithHash[static_cast<size_t>(taker)];
        }
        // A RAW original renamed into a batch whose copy-in was cut before its sidecar's, while
        // a record holds its bytes: it gets no record yet. The Add that finishes the batch gives
        // the pair to the record holding the photo; one split off now would need attention that
        // the Add never resolves.
        if (taker < 0 && held && !item.ingestCacheSidecarURL
            && liesBelowAnyFolder(*item.ingestCacheOriginalURL, blockedFolders))
            continue;
        if (taker < 0) {
            if (last < 0)
                firstWithHash.insert(item.contentHash, records.size());
            else
                nextWithHash[static_cast<size_t>(last)] = records.size();
            nextWithHash.push_back(-1);
            if (!usedNames) {
                usedNames.emplace();
                for (qsizetype p = 0; p < records.size(); ++p)
                    usedNames->insert(records.at(p).canonicalFilename);
            }
            const Result<PhotoMetadata> metadata
                = metadataExtractor.metadata(*item.ingestCacheOriginalURL);
            item.metadata = metadata ? *metadata : PhotoMetadata::unknown();
            item.canonicalFilename = CanonicalFilenameGenerator::canonicalFilename(
                item.originalFilename,
                item.metadata,
                item.contentHash.left(CanonicalFilenameGenerator::shortContentHashLength),
                *usedNames);
            records.append(item);
            ++added;
            continue;
        }
        // Taking the earlier copy would hand the record back and forth between the two copies,
        // one library write at every refresh. A copy of a batch whose copy-in is unfinished is
        // left to the Add that finishes it: taken now, it would leave the record's copy unnamed.
        const qsizetype claimed = claimedItems.value(records.at(taker).id, -1);
        if (claimed > index
            || (claimed >= 0 && liesBelowAnyFolder(*item.ingestCacheOriginalURL, blockedFolders)))
            continue;
        records.replace(taker, Detail::takingIngestCacheCopy(records.at(taker), item, fileManager));
    }
    return added;
}

/// Gives every record, whatever its status, whose files the review lists under another spelling
/// (the cache through a symbolic link or a bind mount) the review's spelling: the checks that
/// follow, and every pass after this one that decides by path, then find them in place.
void respellAsListed(EditedRecords &records, UnclaimedItems &listed, const FileManager &fileManager)
{
    for (qsizetype p = 0; p < records.size(); ++p) {
        std::optional<LocalLibraryItem> respelled;
        for (const bool sidecar : {false, true}) {
            const LocalLibraryItem &record = respelled ? *respelled : records.at(p);
            const std::optional<QString> &url
                = sidecar ? record.ingestCacheSidecarURL : record.ingestCacheOriginalURL;
            if (!url)
                continue;
            if (const std::optional<QString> spelled = listed.listedSpellingOf(*url, fileManager))
                respelled = record.relocatingIngestCacheURLs(
                    parentPath(*url), parentPath(*spelled), fileManager);
        }
        if (respelled && !(*respelled == records.at(p)))
            records.replace(p, std::move(*respelled));
    }
}

/// Whether the file of a package that the scan did not list may still be there: anything at its
/// path, or a path that cannot be examined. Only a path known to lead nowhere lets the package
/// count as gone: a scan passes over folders it cannot read, and a cache whose drive fails or
/// whose permissions changed must not cost the library its ready records.
bool mayStillHold(const QString &path, const FileManager &fileManager)
{
    const Result<FileAttributes> attributes = fileManager.attributesOfItem(path);
    if (attributes)
        return true;
    const FileSystemError *error = attributes.error().as<FileSystemError>();
    return !error || (error->code != ENOENT && error->code != ENOTDIR);
}

/// Whether a record is ready to import from a package in the cache: the records whose packages
/// tell whether the cache's folder is there at all.
bool isReadyPackage(const LocalLibraryItem &record)
{
    return record.importStatus == LibraryItemImportStatus::LocalCacheReady
           && record.ingestCacheOriginalURL;
}

bool holdsEqualRecords(const QList<LocalLibraryItem> &items,
                       const LocalLibraryCacheRecords &records)
{
    if (items.size() != records.size())
        return false;
    for (qsizetype p = 0; p < items.size(); ++p) {
        if (!(items.at(p) == records.at(p)))
            return false;
    }
    return true;
}

} // namespace

Result<bool> LocalLibraryCache::isIngestCacheFolderAway(const QString &root) const
{
    Result<LocalLibraryCacheRecords> records = cachedRecords();
    PELLWICK_TRY(records);
    const QSet<QString> folder{QDir::cleanPath(root)};
    bool named = false;
    bool there = false;
    records->forEach([&](const LocalLibraryItem &record) {
        if (there || !isReadyPackage(record)
            || !liesBelowAnyFolder(QDir::cleanPath(*record.ingestCacheOriginalURL), folder))
            return;
        named = true;
        there = mayStillHold(*record.ingestCacheOriginalURL, *m_fileManager);
    });
    return named && !there;
}

Result<IngestCacheReconciliation>
LocalLibraryCache::reconcileIngestCache(const ImportReview &review,
                                        const QSet<QString> &blockedSourceFolders,
                                        const ContentHashing &contentHasher,
                                        const PhotoMetadataExtracting &metadataExtractor,
                                        Date now) const
{
    Result<LocalLibraryCacheRecords> expected = cachedRecords();
    PELLWICK_TRY(expected);

    HashMemo hashes(contentHasher);
    UnclaimedItems unclaimed(review, hashes);
    hashes.prefetch(unclaimed.files());

    IngestCacheReconciliation outcome;
    EditedRecords reconciled(*expected);
    QHash<QUuid, qsizetype> claimedItems;
    std::vector<bool> gone(static_cast<size_t>(expected->size()), false);
    qsizetype readyCount = 0;
    qsizetype absentCount = 0;
    respellAsListed(reconciled, unclaimed, *m_fileManager);
    for (qsizetype p = 0; p < expected->size(); ++p) {
        const LocalLibraryItem &record = reconciled.at(p);
        if (!isReadyPackage(record))
            continue;
        ++readyCount;
        Result<std::optional<qsizetype>> byContent = unclaimed.contentMatch(record);
        PELLWICK_TRY(byContent);
        if (*byContent) {
            const qsizetype index = **byContent;
            unclaimed.claim(index);
            claimedItems.insert(record.id, index);
            const ImportReviewItem &item = unclaimed.item(index);
            if (QDir::cleanPath(item.url) == QDir::cleanPath(*record.ingestCacheOriginalURL))
                continue;
            Result<IngestCachePackage> package = packageOf(item, hashes, *m_fileManager);
            PELLWICK_TRY(package);
            reconciled.replace(p, record.replacingIngestCachePackage(*package));
            continue;
        }
        if (const std::optional<qsizetype> atPath
            = unclaimed.pathMatch(*record.ingestCacheOriginalURL)) {
            const ImportReviewItem &item = unclaimed.item(*atPath);
            const Result<QString> rawHash = hashes.hash(item.url);
            const bool rawIntact = rawHash && *rawHash == record.contentHash;
            // A record found in the cache knows no other sidecar than the one there: whatever
            // now lies beside its RAW original is its own, edited or not. Split off, the pair
            // would come back to the record, which would wait for a card it never had.
            if (rawIntact && !record.sourceMediaEvidence
                && record.preview == LocalPreviewState::discoveredInIngestCache()) {
                Result<IngestCachePackage> package = packageOf(item, hashes, *m_fileManager);
                PELLWICK_TRY(package);
                unclaimed.claim(*atPath);
                claimedItems.insert(record.id, *atPath);
                reconciled.replace(p, record.replacingIngestCachePackage(*package));
                continue;
            }
            LocalLibraryItem attention
                = record.replacingImportStatus(LibraryItemImportStatus::NeedsAttention);
            // The RAW original there is still the record's, but the sidecar beside it is not
            // (edited, removed or added): the record lets go of that sidecar, and the pair there
            // is found as a photo of its own, so that neither sidecar is lost.
            if (rawIntact && record.ingestCacheSidecarURL)
                attention = attention.replacingIngestCachePackage(
                    IngestCachePackage{*record.ingestCacheOriginalURL,
                                       std::nullopt,
                                       std::nullopt,
                                       std::nullopt,
                                       std::nullopt});
            reconciled.replace(p, std::move(attention));
            ++outcome.needsAttentionCount;
            continue;
        }
        // Unseen by the scan yet perhaps still there: kept as it is.
        const bool listed = unclaimed.lists(*record.ingestCacheOriginalURL);
        if (!listed && mayStillHold(*record.ingestCacheOriginalURL, *m_fileManager))
            continue;
        // Otherwise the package is gone and so is the record.
        gone[static_cast<size_t>(p)] = true;
        absentCount += listed ? 0 : 1;
    }
    // Not one file of the ready records is there: the folder is away (a drive not mounted on
    // it, a share not connected), not emptied, and its records wait for it unchanged.
    if (readyCount > 0 && absentCount == readyCount) {
        outcome.didApply = true;
        outcome.cacheUnavailable = true;
        return outcome;
    }
    // A package whose files a record of any other status names is that record's: found anew,
    // it would come back as a record at every refresh. Ready records went first, so that one
    // made needing attention just now leaves its changed file to be found as new.
    for (qsizetype p = 0; p < expected->size(); ++p) {
        const LocalLibraryItem &record = reconciled.at(p);
        if (expected->at(p).importStatus == LibraryItemImportStatus::LocalCacheReady
            || !record.ingestCacheOriginalURL)
            continue;
        const std::optional<qsizetype> named = unclaimed.pathMatch(*record.ingestCacheOriginalURL);
        if (!named || !namesSidecarOf(record, unclaimed.item(*named)))
            continue;
        unclaimed.claim(*named);
        claimedItems.insert(record.id, *named);
        if (isAwaitedCopy(record, unclaimed.item(*named), blockedSourceFolders, hashes))
            reconciled.replace(
                p, record.replacingImportStatus(LibraryItemImportStatus::LocalCacheReady));
    }
    reconciled.remove(gone);

    handOverArchiveBackedPackages(reconciled, *m_fileManager);
    Result<int> added = mergeDiscovered(reconciled,
                                        unclaimed,
                                        claimedItems,
                                        blockedSourceFolders,
                                        hashes,
                                        metadataExtractor,
                                        now,
                                        *m_fileManager);
    PELLWICK_TRY(added);
    outcome.addedCount = *added;

    if (!reconciled.isChanged()) {
        outcome.didApply = true;
        return outcome;
    }
    const QList<LocalLibraryItem> cleaned = reconciled.take();
    if (holdsEqualRecords(cleaned, *expected)) {
        outcome.didApply = true;
        return outcome;
    }
    const std::lock_guard guard(m_storage->mutationLock);
    Result<LocalLibraryCacheRecords> current = cachedRecords();
    PELLWICK_TRY(current);
    if (!(*current == *expected))
        return outcome;
    PELLWICK_TRY(writeItemsLocked(cleaned));
    outcome.didApply = true;
    return outcome;
}

} // namespace Pellwick
