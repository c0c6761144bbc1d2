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

/// The cleaned paths of the Ingest Cache files the records name.
QSet<QString> namedCacheFiles(const LocalLibraryCacheRecords &records)
{
    QSet<QString> named;
    for (qsizetype p = 0; p < records.size(); ++p) {
        for (const std::optional<QString> &url :
             {records.at(p).ingestCacheOriginalURL, records.at(p).ingestCacheSidecarURL}) {
            if (url)
                named.insert(QDir::cleanPath(*url));
        }
    }
    return named;
}

/// Removes each copy whose files no record of `library` names and are unchanged, under the
/// library's exclusive access; a copy that cannot be removed stays where it is.
void removeUnnamedCopies(const QList<UnnamedCopy> &copies,
                         const LocalLibraryCache &library,
                         const IngestCache &ingestCache)
{
    if (copies.isEmpty())
        return;
    (void) library.withExclusiveAccess([&]() -> Result<void> {
        PELLWICK_TRY_ASSIGN(const LocalLibraryCacheRecords current, library.cachedRecords());
        const QSet<QString> named = namedCacheFiles(current);
        for (const UnnamedCopy &copy : copies) {
            if (named.contains(QDir::cleanPath(copy.original))
                || (copy.sidecar && named.contains(QDir::cleanPath(*copy.sidecar)))
                || attributesOf(ingestCache.fileManager(), copy.original, copy.sidecar)
                       != copy.checked)
                continue;
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
/// `records` names and no copy-in marker. A folder that cannot be read is passed over.
QList<ImportScanVolume> unnamedFinishedBatches(const IngestCache &ingestCache,
                                               const LocalLibraryCacheRecords &records)
{
    const QString root = QDir::cleanPath(ingestCache.rootURL());
    const auto batchOf = [&root](const QString &url) {
        const QString relative = QDir(root).relativeFilePath(QDir::cleanPath(url));
        return relative.section(QLatin1Char('/'), 0, 2);
    };
    QSet<QString> named;
    for (qsizetype p = 0; p < records.size(); ++p) {
        for (const std::optional<QString> &url :
             {records.at(p).ingestCacheOriginalURL, records.at(p).ingestCacheSidecarURL}) {
            if (url)
                named.insert(batchOf(*url));
        }
    }
    const FileManager &files = ingestCache.fileManager();
    QList<ImportScanVolume> batches;
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
    for (const QString &relative : std::as_const(level)) {
        const QString folder = root + u'/' + relative;
        if (!named.contains(relative)
            && !files.fileExists(folder + u'/' + IngestCache::incompleteCopyMarkerName))
            batches.append(ImportScanVolume{relative, folder, std::nullopt});
    }
    return batches;
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
    const QSet<QString> named = namedCacheFiles(*records);
    // The ready records holding a copy, by the names of their files.
    QHash<QString, QList<qsizetype>> readyByNames;
    for (qsizetype p = 0; p < records->size(); ++p) {
        const LocalLibraryItem &record = records->at(p);
        if (record.importStatus == LibraryItemImportStatus::LocalCacheReady
            && record.ingestCacheOriginalURL)
            readyByNames[key(*record.ingestCacheOriginalURL, record.ingestCacheSidecarURL)].append(
                p);
    }
    const FileManager &files = ingestCache.fileManager();
    QList<UnnamedCopy> redundant;
    for (const ImportReviewItem &item : items) {
        const std::optional<QString> sidecar
            = item.sidecar ? std::optional(item.sidecar->url) : std::nullopt;
        if (!item.status.isSupported() || named.contains(QDir::cleanPath(item.url))
            || (sidecar && named.contains(QDir::cleanPath(*sidecar)))
            || liesBelowAnyFolder(item.url, unfinishedBatches))
            continue;
        const auto ready = readyByNames.constFind(key(item.url, sidecar));
        if (ready == readyByNames.cend())
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
