#include "LocalLibraryItem.h"

namespace Pellwick {

namespace {

/// The size of the regular file at `path`, or nothing.
std::optional<qint64> regularFileSize(const std::optional<QString> &path,
                                      const FileManager &fileManager)
{
    if (!path)
        return std::nullopt;
    const Result<FileAttributes> attributes = fileManager.attributesOfItem(*path);
    if (!attributes || attributes->type != FileAttributes::Type::Regular)
        return std::nullopt;
    return attributes->size;
}

void applyPackage(LocalLibraryItem &item,
                  const std::optional<IngestCachePackage> &package,
                  bool updatingCacheRelativePath)
{
    item.ingestCacheOriginalURL
        = package ? std::optional<QString>(package->originalURL) : std::nullopt;
    item.ingestCacheSidecarURL = package ? package->sidecarURL : std::nullopt;
    item.ingestCacheSidecarContentHash = package ? package->sidecarContentHash : std::nullopt;
    if (updatingCacheRelativePath && package && package->relativePath)
        item.cacheRelativePath = package->relativePath;
}

/// `url` re-rooted from `oldRoot` (already resolved) to `newRoot`, or unchanged outside it.
std::optional<QString> relocated(const std::optional<QString> &url,
                                 const QString &resolvedOldRoot,
                                 const QString &newRoot,
                                 const FileManager &fileManager)
{
    if (!url)
        return url;
    const QString resolved = resolvingSymlinksInPath(fileManager, *url);
    if (resolved != resolvedOldRoot
        && !(resolved.startsWith(resolvedOldRoot)
             && (resolvedOldRoot.endsWith(QLatin1Char('/'))
                 || resolved.at(resolvedOldRoot.size()) == QLatin1Char('/')))) {
        return url;
    }
    QString rest = resolved.mid(resolvedOldRoot.size());
    while (rest.startsWith(QLatin1Char('/')))
        rest.remove(0, 1);
    while (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    if (rest.isEmpty())
        return newRoot;
    if (newRoot.endsWith(QLatin1Char('/')))
        return newRoot + rest;
    return newRoot + QLatin1Char('/') + rest;
}

/// Whether `candidate`'s cached package holds what `archived` archived: the RAW original and the
/// sidecar's size and content hash (or the lack of a sidecar), and, with `comparingName`, the
/// sidecar's file name.
bool holdsArchivedPackage(const LocalLibraryItem &archived,
                          const LocalLibraryItem &candidate,
                          bool comparingName,
                          const FileManager &fileManager)
{
    if (!candidate.ingestCacheOriginalURL)
        return false;
    const bool hasName = archived.archiveSidecarFilename.has_value();
    const bool hasSize = archived.archiveSidecarByteCount.has_value();
    const bool hasHash = archived.archiveSidecarContentHash.has_value();
    if (!hasName && !hasSize && !hasHash)
        return !candidate.ingestCacheSidecarURL;
    if (!(hasName && hasSize && hasHash) || !candidate.ingestCacheSidecarURL)
        return false;
    const std::optional<qint64> size
        = regularFileSize(candidate.ingestCacheSidecarURL, fileManager);
    return (!comparingName
            || lastPathComponent(*candidate.ingestCacheSidecarURL)
                   == *archived.archiveSidecarFilename)
           && size == archived.archiveSidecarByteCount
           && candidate.ingestCacheSidecarContentHash == archived.archiveSidecarContentHash;
}

} // namespace

LocalLibraryItem LocalLibraryItem::replacingImportStatus(LibraryItemImportStatus status) const
{
    LocalLibraryItem item = *this;
    item.importStatus = status;
    return item;
}

LocalLibraryItem
LocalLibraryItem::replacingArchiveSidecar(std::optional<QString> filename,
                                          std::optional<qint64> byteCount,
                                          std::optional<QString> sidecarContentHash) const
{
    LocalLibraryItem item = *this;
    item.archiveSidecarFilename = std::move(filename);
    item.archiveSidecarByteCount = byteCount;
    item.archiveSidecarContentHash = std::move(sidecarContentHash);
    return item;
}

LocalLibraryItem
LocalLibraryItem::replacingBackendLibraryItemID(std::optional<qint64> backendID) const
{
    LocalLibraryItem item = *this;
    item.backendLibraryItemID = backendID;
    return item;
}

LocalLibraryItem
LocalLibraryItem::replacingRestoreStatus(std::optional<RestoreRequestStatus> status,
                                         std::optional<QString> attentionReason) const
{
    LocalLibraryItem item = *this;
    item.restoreStatus = status;
    item.restoreAttentionReason = std::move(attentionReason);
    return item;
}

LocalLibraryItem LocalLibraryItem::replacingIngestCachePackage(
    const std::optional<IngestCachePackage> &package) const
{
    LocalLibraryItem item = *this;
    applyPackage(item, package, true);
    return item;
}

LocalLibraryItem
LocalLibraryItem::attachingIngestCachePackageForCleanup(const IngestCachePackage &package) const
{
    LocalLibraryItem item = *this;
    applyPackage(item, package, false);
    return item;
}

LocalLibraryItem LocalLibraryItem::replacingIngestCacheItem(const LocalLibraryItem &other,
                                                            const FileManager &fileManager) const
{
    LocalLibraryItem item = *this;
    applyPackage(item, other.ingestCachePackage(fileManager), true);
    if (other.sourceMediaEvidence)
        item.sourceMediaEvidence = other.sourceMediaEvidence;
    return item;
}

LocalLibraryItem LocalLibraryItem::markingSourceMediaChanged() const
{
    LocalLibraryItem item = *this;
    if (item.sourceMediaEvidence)
        item.sourceMediaEvidence->safety = SourceMediaSafety::Changed;
    return item;
}

LocalLibraryItem LocalLibraryItem::relocatingIngestCacheURLs(const QString &oldRoot,
                                                             const QString &newRoot,
                                                             const FileManager &fileManager) const
{
    if (!ingestCacheOriginalURL && !ingestCacheSidecarURL)
        return *this;
    const QString resolvedOldRoot = resolvingSymlinksInPath(fileManager, oldRoot);
    LocalLibraryItem item = *this;
    item.ingestCacheOriginalURL
        = relocated(ingestCacheOriginalURL, resolvedOldRoot, newRoot, fileManager);
    item.ingestCacheSidecarURL
        = relocated(ingestCacheSidecarURL, resolvedOldRoot, newRoot, fileManager);
    return item;
}

std::optional<IngestCachePackage>
LocalLibraryItem::ingestCachePackage(const FileManager &fileManager) const
{
    if (!ingestCacheOriginalURL)
        return std::nullopt;
    return IngestCachePackage{*ingestCacheOriginalURL,
                              ingestCacheSidecarURL,
                              ingestCacheSidecarContentHash,
                              regularFileSize(ingestCacheSidecarURL, fileManager),
                              cacheRelativePath};
}

bool LocalLibraryItem::matchesArchivedPackage(const LocalLibraryItem &candidate,
                                              const FileManager &fileManager) const
{
    return holdsArchivedPackage(*this, candidate, true, fileManager);
}

std::optional<PackageSidecar> LocalLibraryItem::ownSidecar() const
{
    const auto named = [](const std::optional<QString> &path) {
        return path ? std::optional(lastPathComponent(*path)) : std::nullopt;
    };
    if (sourceMediaEvidence)
        return PackageSidecar{named(sourceMediaEvidence->sidecarRelativePath),
                              sourceMediaEvidence->sidecarContentHash};
    if (ingestCacheOriginalURL)
        return PackageSidecar{named(ingestCacheSidecarURL), ingestCacheSidecarContentHash};
    if (isInTheArchive(importStatus))
        return PackageSidecar{archiveSidecarFilename, archiveSidecarContentHash};
    return std::nullopt;
}

const QString *LocalLibraryItem::ownSidecarContentHash() const
{
    const auto pointer = [](const std::optional<QString> &hash) { return hash ? &*hash : nullptr; };
    if (sourceMediaEvidence)
        return pointer(sourceMediaEvidence->sidecarContentHash);
    if (ingestCacheOriginalURL)
        return pointer(ingestCacheSidecarContentHash);
    return isInTheArchive(importStatus) ? pointer(archiveSidecarContentHash) : nullptr;
}

bool LocalLibraryItem::takesIngestCacheCopy(const LocalLibraryItem &copy,
                                            const FileManager &fileManager) const
{
    if (isInTheArchive(importStatus))
        // The archive holds the pair whatever its file names: a duplicate's archived package may
        // carry its twin's sidecar under the twin's name, and a twin whose duplicate record is
        // gone (a rebuild keeps one record per backend item) is the archived record's bytes; so
        // too while the record's cleanup is pending.
        return holdsArchivedPackage(*this, copy, false, fileManager);
    // A record found in a batch whose copy-in was cut short may not have its sidecar yet: a copy
    // of its own card file brings it. Any other copy with another sidecar is another photo.
    if (awaitsVerifiedIngestCacheCopy() && !ingestCacheSidecarURL
        && copy.originalFilename == originalFilename)
        return true;
    const std::optional<PackageSidecar> own = ownSidecar();
    return !own || own == copy.ownSidecar();
}

} // namespace Pellwick
