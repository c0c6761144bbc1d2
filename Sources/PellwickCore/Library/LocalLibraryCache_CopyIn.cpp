// The records of a copy-in into the Ingest Cache.
#include "LocalLibraryCache.h"

#include <PellwickCore/Ingest/CacheRelativePath.h>
#include <PellwickCore/Ingest/CanonicalFilenameGenerator.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/IngestCache.h>
#include <PellwickCore/Ingest/PhotoMetadata.h>
#include <PellwickCore/Support/Date.h>

#include <QDir>

#include <algorithm>
#include <utility>

namespace Pellwick {

namespace {

/// The record of one cached item, its canonical filename not yet chosen (`nameCopiedRecords`).
Result<LocalLibraryItem> unnamedCopiedRecord(const ImportReviewItem &item,
                                             const IngestCacheCopy *sourceCopy,
                                             const QString &cacheRoot,
                                             const ContentHashing &hasher,
                                             const PhotoMetadataExtracting &metadataExtractor,
                                             std::stop_token stop)
{
    PELLWICK_TRY_ASSIGN(QString contentHash, hasher.contentHash(item.url, stop));
    std::optional<QString> sidecarHash;
    if (item.sidecar) {
        PELLWICK_TRY_ASSIGN(QString hash, hasher.contentHash(item.sidecar->url, stop));
        sidecarHash = std::move(hash);
    }
    std::optional<SourceMediaEvidence> evidence;
    if (sourceCopy) {
        if (const std::optional<QString> rawPath
            = CacheRelativePath::value(item.url, sourceCopy->sourceFolderURL)) {
            evidence = SourceMediaEvidence{
                .sourceRootURL = sourceCopy->sourceRootURL,
                .sourceIdentity = sourceCopy->sourceIdentity,
                .rawRelativePath = *rawPath,
                .rawContentHash = contentHash,
                .sidecarRelativePath = item.sidecar ? CacheRelativePath::value(
                                           item.sidecar->url, sourceCopy->sourceFolderURL)
                                                    : std::nullopt,
                .sidecarContentHash = sidecarHash,
                .safety = SourceMediaSafety::Current,
            };
        }
    }
    const Result<PhotoMetadata> metadata = metadataExtractor.metadata(item.url);
    return LocalLibraryItem{
        .id = QUuid::createUuid(),
        .originalFilename = item.filename,
        .canonicalFilename = item.filename,
        .contentHash = contentHash,
        .archiveByteCount = item.supportedByteCount(),
        .archiveSidecarFilename = std::nullopt,
        .archiveSidecarByteCount = std::nullopt,
        .archiveSidecarContentHash = std::nullopt,
        .importDate = Date::now(),
        .importStatus = LibraryItemImportStatus::LocalCacheReady,
        .backendLibraryItemID = std::nullopt,
        .restoreStatus = std::nullopt,
        .restoreAttentionReason = std::nullopt,
        .ingestCacheOriginalURL = item.url,
        .ingestCacheSidecarURL
        = item.sidecar ? std::optional<QString>(item.sidecar->url) : std::nullopt,
        .ingestCacheSidecarContentHash = sidecarHash,
        .ingestSourceName = item.volumeName,
        .sourceRelativePath = item.sourceRelativePath,
        .sourceMediaEvidence = std::move(evidence),
        .cacheRelativePath = CacheRelativePath::value(item.url, cacheRoot),
        .metadata = metadata ? *metadata : PhotoMetadata::unknown(),
        .preview = LocalPreviewState::failed(QStringLiteral("Generated when Import starts")),
    };
}

/// Gives each record a canonical filename unused in `library` and in the batch. Run it under the
/// library's exclusive access, with the write of the records.
Result<void> nameCopiedRecords(QList<LocalLibraryItem> &records, const LocalLibraryCache &library)
{
    PELLWICK_TRY_ASSIGN(const LocalLibraryCacheRecords current, library.cachedRecords());
    QSet<QString> used = current.canonicalFilenames();
    for (LocalLibraryItem &record : records)
        record.canonicalFilename = CanonicalFilenameGenerator::canonicalFilename(
            record.originalFilename,
            record.metadata,
            record.contentHash.left(CanonicalFilenameGenerator::shortContentHashLength),
            used);
    return {};
}

/// The hashes of the records of a copy-in. A file the copy-in verified, still with the attributes
/// it had when its bytes were read for that digest, takes the digest, when `hasher` computes
/// SHA-256 too; any other file, and any file with a hasher of another kind, is hashed by `hasher`.
class CopyInVerifiedHashes final : public ContentHashing
{
public:
    CopyInVerifiedHashes(const ContentHashing &hasher,
                         const FileManager &files,
                         const QList<IngestCacheCopy> &copies)
        : m_hasher(hasher)
        , m_files(files)
        , m_copies(copies)
    {}

    Result<QString> contentHash(const QString &path, std::stop_token stop) const override
    {
        if (m_hasher.hashIsSha256OfContent()) {
            const QString key = QDir::cleanPath(path);
            for (const IngestCacheCopy &copy : m_copies) {
                const auto found = copy.verifiedFiles.constFind(key);
                if (found == copy.verifiedFiles.cend())
                    continue;
                const Result<FileAttributes> now = m_files.attributesOfItem(path);
                if (now && *now == found->attributes)
                    return found->contentHash;
                break;
            }
        }
        return m_hasher.contentHash(path, stop);
    }

    bool allowsConcurrentCalls() const override { return m_hasher.allowsConcurrentCalls(); }

    bool hashIsSha256OfContent() const override { return m_hasher.hashIsSha256OfContent(); }

private:
    const ContentHashing &m_hasher;
    const FileManager &m_files;
    const QList<IngestCacheCopy> &m_copies;
};

/// The records as they stood before the inputs of `upserted` replaced their copies (in `before`,
/// or an earlier input of the same batch): ready before and after, at another path, with the
/// same sidecar (none on both sides, or the same hash).
QList<LocalLibraryItem> supersededCopies(const QList<LocalLibraryItem> &upserted,
                                         const LocalLibraryCacheRecords &before)
{
    QList<LocalLibraryItem> superseded;
    QHash<QUuid, LocalLibraryItem> latest;
    for (const LocalLibraryItem &record : upserted) {
        std::optional<LocalLibraryItem> previous;
        if (const auto found = latest.constFind(record.id); found != latest.cend())
            previous = *found;
        else if (const QList<qsizetype> positions = before.positions(record.id);
                 !positions.isEmpty())
            previous = before.at(positions.first());
        latest.insert(record.id, record);
        if (!previous || record.importStatus != LibraryItemImportStatus::LocalCacheReady
            || !record.ingestCacheOriginalURL)
            continue;
        const LocalLibraryItem &earlier = *previous;
        if (earlier.importStatus == LibraryItemImportStatus::LocalCacheReady
            && earlier.ingestCacheOriginalURL
            && QDir::cleanPath(*earlier.ingestCacheOriginalURL)
                   != QDir::cleanPath(*record.ingestCacheOriginalURL)
            && earlier.ingestCacheSidecarURL.has_value() == record.ingestCacheSidecarURL.has_value()
            && earlier.ingestCacheSidecarContentHash == record.ingestCacheSidecarContentHash)
            superseded.append(earlier);
    }
    return superseded;
}

/// A cached package to remove while no record names it and its files keep the attributes they
/// had before their bytes were checked.
struct UnnamedCopy
{
    QString original;
    std::optional<QString> sidecar;
    QList<std::optional<FileAttributes>> checked;
};

/// The package files' attributes as they are now: a file written since its bytes were checked (a
/// sidecar edited meanwhile) may hold bytes of its own, and stays.
QList<std::optional<FileAttributes>> attributesOf(const FileManager &files,
                                                  const QString &original,
                                                  const std::optional<QString> &sidecar)
{
    QList<std::optional<FileAttributes>> found;
    for (const std::optional<QString> &url : {std::optional(original), sidecar}) {
        if (!url)
            continue;
        const Result<FileAttributes> attributes = files.attributesOfItem(*url);
        found.append(attributes ? std::optional(*attributes) : std::nullopt);
    }
    return found;
}

/// Whether `path` spells a file below `root` (cleaned) as the cache root in use spells its files.
bool isSpelledInside(const QString &path, const QString &root)
{
    const QString cleaned = QDir::cleanPath(path);
    return cleaned != root && isSameOrInside(cleaned, root);
}

/// The Ingest Cache files that records name, known by their paths and by the files themselves:
/// a copy that is a record's file under another spelling of the cache (a symbolic link, a bind
/// mount) is named too. While a record names a file that cannot be examined, or a file outside
/// the cache root in use that cannot be found (it may name the cache through a spelling not
/// reachable now), which files the records name is not known, and every file counts as named.
class NamedCacheFiles
{
public:
    NamedCacheFiles(LocalLibraryCacheRecords records, const IngestCache &ingestCache)
        : m_records(std::move(records))
        , m_files(ingestCache.fileManager())
        , m_root(QDir::cleanPath(ingestCache.rootURL()))
    {
        forEachFile([this](const QString &path) { m_paths.insert(QDir::cleanPath(path)); });
    }

    /// Named by a record's path, as it spells it; asks nothing of the disk.
    bool namesPath(const QString &path) const { return m_paths.contains(QDir::cleanPath(path)); }

    /// Named by a record's path, or the file a record names.
    bool names(const QString &path)
    {
        if (namesPath(path))
            return true;
        if (!m_identities)
            identify();
        if (!m_known)
            return true;
        const Result<std::optional<FileIdentity>> identity = presentFileIdentity(m_files, path);
        return !identity || (*identity && m_identities->contains(**identity));
    }

private:
    template<typename F>
    void forEachFile(F &&body) const
    {
        for (qsizetype p = 0; p < m_records.size(); ++p) {
            for (const std::optional<QString> &url :
                 {m_records.at(p).ingestCacheOriginalURL, m_records.at(p).ingestCacheSidecarURL}) {
                if (url)
                    body(*url);
            }
        }
    }

    void identify()
    {
        m_identities.emplace();
        forEachFile([this](const QString &path) {
            const Result<std::optional<FileIdentity>> identity = presentFileIdentity(m_files, path);
            if (identity && *identity)
                m_identities->insert(**identity);
            else if (!identity || !isSpelledInside(path, m_root))
                m_known = false;
        });
    }

    LocalLibraryCacheRecords m_records;
    const FileManager &m_files;
    QString m_root;
    QSet<QString> m_paths;
    std::optional<QSet<FileIdentity>> m_identities;
    bool m_known = true;
};

/// Removes each copy whose files no record of `library` names and are unchanged, under the
/// library's exclusive access and once the library files read are durable; a copy that cannot be
/// removed stays where it is.
void removeUnnamedCopies(const QList<UnnamedCopy> &copies,
                         const LocalLibraryCache &library,
                         const IngestCache &ingestCache)
{
    if (copies.isEmpty())
        return;
    (void) library.withExclusiveAccess([&]() -> Result<void> {
        PELLWICK_TRY_ASSIGN(const LocalLibraryCacheRecords current, library.cachedRecords());
        NamedCacheFiles named(current, ingestCache);
        for (const UnnamedCopy &copy : copies) {
            if (named.names(copy.original) || (copy.sidecar && named.names(*copy.sidecar))
                || attributesOf(ingestCache.fileManager(), copy.original, copy.sidecar)
                       != copy.checked)
                continue;
            // Records read back from the page cache may be ones a power cut takes back, naming
            // the very copy removed on their strength.
            PELLWICK_TRY(library.makeLoadedFilesDurable());
            (void) ingestCache.removeArchivedPackage(copy.original, copy.sidecar);
        }
        return {};
    });
}

/// Removes the earlier copies of `superseded` that still hold their records' bytes and that no
/// record of `library` names any more; returns how many held those bytes.
qint64 removeSupersededCopies(const QList<LocalLibraryItem> &superseded,
                              const LocalLibraryCache &library,
                              const IngestCache &ingestCache)
{
    QList<UnnamedCopy> sameBytes;
    for (const LocalLibraryItem &earlier : superseded) {
        const QString &original = *earlier.ingestCacheOriginalURL;
        QList<std::optional<FileAttributes>> checked
            = attributesOf(ingestCache.fileManager(), original, earlier.ingestCacheSidecarURL);
        if (ingestCache.fileManager().fileExists(original)
            && ingestCache.matchesArchivedPackage(original,
                                                  earlier.ingestCacheSidecarURL,
                                                  earlier.contentHash,
                                                  earlier.ingestCacheSidecarContentHash))
            sameBytes.append({original, earlier.ingestCacheSidecarURL, std::move(checked)});
    }
    removeUnnamedCopies(sameBytes, library, ingestCache);
    return sameBytes.size();
}

/// The batch folders of the cache (root/YYYY/MM/DD-<batch id>) that hold no file a record of
/// `records` names and no copy-in marker. A record spelling its file outside the root names the
/// batch that one of its folders is (the cache through a symbolic link or a bind mount); while a
/// record names a file outside the root that cannot be found, no batch counts as unnamed. A
/// folder that cannot be read is passed over.
QList<ImportScanVolume> unnamedFinishedBatches(const IngestCache &ingestCache,
                                               const LocalLibraryCacheRecords &records)
{
    const QString root = QDir::cleanPath(ingestCache.rootURL());
    const FileManager &files = ingestCache.fileManager();
    QStringList level{QString()};
    for (int depth = 0; depth < 3; ++depth) {
        QStringList next;
        for (const QString &relative : std::as_const(level)) {
            const QString folder = relative.isEmpty() ? root : root + u'/' + relative;
            const Result<QList<DirectoryEntry>> entries = files.typedEntriesOfDirectory(folder);
            if (!entries)
                continue;
            for (const DirectoryEntry &entry : *entries) {
                if (entry.hasValidName && entry.attributes.type == FileAttributes::Type::Directory
                    && !entry.name.startsWith(u'.'))
                    next.append(relative.isEmpty() ? entry.name : relative + u'/' + entry.name);
            }
        }
        level = std::move(next);
    }
    if (level.isEmpty())
        return {};

    std::optional<QHash<FileIdentity, QString>> batchByIdentity;
    QHash<QString, std::optional<QString>> batchOfFolder;
    // The batch that `folder` is or lies in, found by the folders' identities.
    const auto batchHolding = [&](const QString &folder) -> std::optional<QString> {
        if (!batchByIdentity) {
            batchByIdentity.emplace();
            for (const QString &relative : std::as_const(level)) {
                const Result<std::optional<FileIdentity>> identity
                    = presentFileIdentity(files, root + u'/' + relative);
                if (identity && *identity)
                    batchByIdentity->insert(**identity, relative);
            }
        }
        QStringList visited;
        std::optional<QString> found;
        for (QString current = folder;; current = parentPath(current)) {
            if (const auto known = batchOfFolder.constFind(current);
                known != batchOfFolder.cend()) {
                found = *known;
                break;
            }
            visited.append(current);
            const Result<std::optional<FileIdentity>> identity
                = presentFileIdentity(files, current);
            if (identity && *identity) {
                if (const auto batch = batchByIdentity->constFind(**identity);
                    batch != batchByIdentity->cend()) {
                    found = *batch;
                    break;
                }
            }
            if (parentPath(current) == current)
                break;
        }
        for (const QString &each : std::as_const(visited))
            batchOfFolder.insert(each, found);
        return found;
    };
    QSet<QString> named;
    for (qsizetype p = 0; p < records.size(); ++p) {
        for (const std::optional<QString> &url :
             {records.at(p).ingestCacheOriginalURL, records.at(p).ingestCacheSidecarURL}) {
            if (!url)
                continue;
            const QString cleaned = QDir::cleanPath(*url);
            if (isSpelledInside(cleaned, root)) {
                named.insert(QDir(root).relativeFilePath(cleaned).section(u'/', 0, 2));
                continue;
            }
            if (const std::optional<QString> batch = batchHolding(parentPath(cleaned))) {
                named.insert(*batch);
                continue;
            }
            const Result<std::optional<FileIdentity>> elsewhere
                = presentFileIdentity(files, cleaned);
            if (!elsewhere || !*elsewhere)
                return {}; // which batch it names cannot be told now
        }
    }
    QList<ImportScanVolume> batches;
    for (const QString &relative : std::as_const(level)) {
        const QString folder = root + u'/' + relative;
        if (!named.contains(relative)
            && !files.fileExists(folder + u'/' + IngestCache::incompleteCopyMarkerName))
            batches.append(ImportScanVolume{relative, folder, std::nullopt});
    }
    return batches;
}

bool isLoneSidecar(const ImportReviewItem &item)
{
    const auto *unsupported = std::get_if<ImportReviewItemStatus::Unsupported>(&item.status.value);
    return unsupported && unsupported->reason == ImportReviewUnsupportedReason::UnpairedSidecar;
}

} // namespace

Result<IngestCacheCopyRecords>
LocalLibraryCache::addIngestCacheCopies(const QList<IngestCacheCopy> &copies,
                                        const IngestCache &ingestCache,
                                        const std::shared_ptr<const FileManager> &fileManager,
                                        const ContentHashing &contentHasher,
                                        const PhotoMetadataExtracting &metadataExtractor,
                                        std::stop_token stop) const
{
    // Each item takes the copy whose batch folder holds it: two cards with one volume name are
    // two copies with one source name.
    const CopyInVerifiedHashes hasher(contentHasher, *fileManager, copies);
    QList<ImportScanVolume> volumes;
    for (const IngestCacheCopy &copy : copies)
        volumes.append(ImportScanVolume{copy.sourceName, copy.sourceFolderURL, std::nullopt});
    PELLWICK_TRY_ASSIGN(ImportReview cached, ImportReviewBuilder(fileManager).buildReview(volumes));
    QList<LocalLibraryItem> records;
    for (const ImportReviewItem &item : std::as_const(cached.items)) {
        if (!item.status.isSupported())
            continue;
        const auto copy
            = std::find_if(copies.cbegin(), copies.cend(), [&item](const IngestCacheCopy &each) {
                  return CacheRelativePath::value(item.url, each.sourceFolderURL).has_value();
              });
        PELLWICK_TRY_ASSIGN(LocalLibraryItem record,
                            unnamedCopiedRecord(item,
                                                copy != copies.cend() ? &*copy : nullptr,
                                                ingestCache.rootURL(),
                                                hasher,
                                                metadataExtractor,
                                                stop));
        records.append(std::move(record));
    }
    QList<LocalLibraryItem> earlier;
    PELLWICK_TRY_ASSIGN(
        const QList<LocalLibraryItem> stored,
        withExclusiveAccess([&]() -> Result<QList<LocalLibraryItem>> {
            PELLWICK_TRY_ASSIGN(const LocalLibraryCacheRecords before, cachedRecords());
            PELLWICK_TRY(nameCopiedRecords(records, *this));
            PELLWICK_TRY_ASSIGN(QList<LocalLibraryItem> upserted, upsertIngestCacheItems(records));
            earlier = supersededCopies(upserted, before);
            return upserted;
        }));
    const qint64 alreadyHeld = removeSupersededCopies(earlier, *this, ingestCache);
    // A copy whose records were never saved (an add that failed or was killed before its
    // library write) is named by no record: once a record holds its photo, it goes.
    if (const Result<LocalLibraryCacheRecords> current = cachedRecords()) {
        const QList<ImportScanVolume> unnamed = unnamedFinishedBatches(ingestCache, *current);
        const Result<ImportReview> leftOver
            = unnamed.isEmpty() ? Result<ImportReview>(ImportReview{})
                                : ImportReviewBuilder(fileManager).buildReview(unnamed);
        if (leftOver)
            removeRedundantIngestCacheCopies(leftOver->items, ingestCache, {});
    }
    return IngestCacheCopyRecords{stored, alreadyHeld};
}

qint64
LocalLibraryCache::removeRedundantIngestCacheCopies(const QList<ImportReviewItem> &items,
                                                    const IngestCache &ingestCache,
                                                    const QSet<QString> &unfinishedBatches) const
{
    const Result<LocalLibraryCacheRecords> records = cachedRecords();
    if (!records)
        return 0;
    const auto key = [](const QString &original, const std::optional<QString> &sidecar) {
        QString names = lastPathComponent(original);
        names.append(u'\n');
        if (sidecar)
            names.append(lastPathComponent(*sidecar));
        return names;
    };
    const QString root = QDir::cleanPath(ingestCache.rootURL());
    NamedCacheFiles named(*records, ingestCache);
    // The ready records holding a copy of their own in the cache root in use, by the names of
    // their files (a record spelling the cache otherwise is not yet reconciled to it), and the
    // records holding a sidecar, by its name: a ready record in such a copy, or the archive.
    QHash<QString, QList<qsizetype>> readyByNames;
    QHash<QString, QList<qsizetype>> sidecarHolders;
    for (qsizetype p = 0; p < records->size(); ++p) {
        const LocalLibraryItem &record = records->at(p);
        if (record.importStatus == LibraryItemImportStatus::LocalCacheReady
            && record.ingestCacheOriginalURL
            && isSpelledInside(*record.ingestCacheOriginalURL, root)) {
            readyByNames[key(*record.ingestCacheOriginalURL, record.ingestCacheSidecarURL)].append(
                p);
            if (record.ingestCacheSidecarURL && record.ingestCacheSidecarContentHash
                && isSpelledInside(*record.ingestCacheSidecarURL, root))
                sidecarHolders[lastPathComponent(*record.ingestCacheSidecarURL)].append(p);
        } else if (isInTheArchive(record.importStatus) && record.archiveSidecarFilename
                   && record.archiveSidecarContentHash) {
            sidecarHolders[*record.archiveSidecarFilename].append(p);
        }
    }
    const FileManager &files = ingestCache.fileManager();
    const auto holds = [&](const QString &path, const QString &hash) {
        const Result<QString> found = ingestCache.contentHasher().contentHash(path);
        return found && *found == hash;
    };
    QList<UnnamedCopy> redundant;
    for (const ImportReviewItem &item : items) {
        const std::optional<QString> sidecar
            = item.sidecar ? std::optional(item.sidecar->url) : std::nullopt;
        if (named.namesPath(item.url) || (sidecar && named.namesPath(*sidecar))
            || liesBelowAnyFolder(item.url, unfinishedBatches))
            continue;
        if (isLoneSidecar(item)) {
            // A removal cut between a RAW original and its sidecar left the sidecar alone.
            const auto holders = sidecarHolders.constFind(item.filename);
            if (holders == sidecarHolders.cend() || !ingestCache.isInsideActiveRoot(item.url)
                || named.names(item.url))
                continue;
            QList<std::optional<FileAttributes>> checked
                = attributesOf(files, item.url, std::nullopt);
            const Result<QString> hash = ingestCache.contentHasher().contentHash(item.url);
            if (!hash)
                continue;
            for (const qsizetype p : *holders) {
                const LocalLibraryItem &record = records->at(p);
                const bool held = record.importStatus == LibraryItemImportStatus::LocalCacheReady
                                      ? *hash == *record.ingestCacheSidecarContentHash
                                            && holds(*record.ingestCacheSidecarURL, *hash)
                                      : *hash == *record.archiveSidecarContentHash;
                if (held) {
                    redundant.append({item.url, std::nullopt, std::move(checked)});
                    break;
                }
            }
            continue;
        }
        if (!item.status.isSupported())
            continue;
        const auto ready = readyByNames.constFind(key(item.url, sidecar));
        if (ready == readyByNames.cend() || named.names(item.url)
            || (sidecar && named.names(*sidecar)))
            continue;
        QList<std::optional<FileAttributes>> checked = attributesOf(files, item.url, sidecar);
        for (const qsizetype p : *ready) {
            const LocalLibraryItem &record = records->at(p);
            // Both the copy and the record's own copy must hold the record's bytes.
            if (files.fileExists(*record.ingestCacheOriginalURL)
                && ingestCache.matchesArchivedPackage(
                    item.url, sidecar, record.contentHash, record.ingestCacheSidecarContentHash)
                && ingestCache.matchesArchivedPackage(*record.ingestCacheOriginalURL,
                                                      record.ingestCacheSidecarURL,
                                                      record.contentHash,
                                                      record.ingestCacheSidecarContentHash)) {
                redundant.append({item.url, sidecar, std::move(checked)});
                break;
            }
        }
    }
    removeUnnamedCopies(redundant, *this, ingestCache);
    return redundant.size();
}

Result<LocalLibraryItem>
LocalLibraryCache::ingestCacheRecord(const ImportReviewItem &item,
                                     const IngestCacheCopy *sourceCopy,
                                     const QString &ingestCacheRoot,
                                     const ContentHashing &contentHasher,
                                     const PhotoMetadataExtracting &metadataExtractor,
                                     std::stop_token stop) const
{
    PELLWICK_TRY_ASSIGN(
        LocalLibraryItem record,
        unnamedCopiedRecord(
            item, sourceCopy, ingestCacheRoot, contentHasher, metadataExtractor, stop));
    QList<LocalLibraryItem> named{std::move(record)};
    PELLWICK_TRY(nameCopiedRecords(named, *this));
    return named.constFirst();
}

} // namespace Pellwick
