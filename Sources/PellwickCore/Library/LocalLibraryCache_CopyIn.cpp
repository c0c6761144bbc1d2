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

/// Removes the earlier copies of `superseded` that still hold their records' bytes and that no
/// record of `library` names any more; returns how many held those bytes. A copy that cannot be
/// removed stays where it is.
qint64 removeSupersededCopies(const QList<LocalLibraryItem> &superseded,
                              const LocalLibraryCache &library,
                              const IngestCache &ingestCache)
{
    // The files' attributes as they were before their bytes were checked: a file written since
    // (a sidecar edited while the other copies were checked) may hold bytes of its own, and stays.
    const auto attributesOf = [&ingestCache](const LocalLibraryItem &earlier) {
        QList<std::optional<FileAttributes>> found;
        for (const std::optional<QString> &url :
             {earlier.ingestCacheOriginalURL, earlier.ingestCacheSidecarURL}) {
            if (!url)
                continue;
            const Result<FileAttributes> attributes
                = ingestCache.fileManager().attributesOfItem(*url);
            found.append(attributes ? std::optional(*attributes) : std::nullopt);
        }
        return found;
    };
    QList<std::pair<const LocalLibraryItem *, QList<std::optional<FileAttributes>>>> sameBytes;
    for (const LocalLibraryItem &earlier : superseded) {
        QList<std::optional<FileAttributes>> checked = attributesOf(earlier);
        if (ingestCache.fileManager().fileExists(*earlier.ingestCacheOriginalURL)
            && ingestCache.matchesArchivedPackage(*earlier.ingestCacheOriginalURL,
                                                  earlier.ingestCacheSidecarURL,
                                                  earlier.contentHash,
                                                  earlier.ingestCacheSidecarContentHash))
            sameBytes.append({&earlier, std::move(checked)});
    }
    if (sameBytes.isEmpty())
        return 0;
    (void) library.withExclusiveAccess([&]() -> Result<void> {
        PELLWICK_TRY_ASSIGN(const LocalLibraryCacheRecords current, library.cachedRecords());
        QSet<QString> named;
        for (qsizetype p = 0; p < current.size(); ++p) {
            for (const std::optional<QString> &url :
                 {current.at(p).ingestCacheOriginalURL, current.at(p).ingestCacheSidecarURL}) {
                if (url)
                    named.insert(QDir::cleanPath(*url));
            }
        }
        for (const auto &[earlier, checked] : std::as_const(sameBytes)) {
            const QString &original = *earlier->ingestCacheOriginalURL;
            const std::optional<QString> &sidecar = earlier->ingestCacheSidecarURL;
            if (named.contains(QDir::cleanPath(original))
                || (sidecar && named.contains(QDir::cleanPath(*sidecar)))
                || attributesOf(*earlier) != checked)
                continue;
            (void) ingestCache.removeArchivedPackage(original, sidecar);
        }
        return {};
    });
    return sameBytes.size();
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
    return IngestCacheCopyRecords{stored, removeSupersededCopies(earlier, *this, ingestCache)};
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
