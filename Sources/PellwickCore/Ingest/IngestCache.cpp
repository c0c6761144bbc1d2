#include "IngestCache.h"

#include <PellwickCore/Ingest/CacheRelativePath.h>
#include <PellwickCore/Ingest/VerifiedFileCopy.h>
#include <PellwickCore/Support/AtomicFile.h>
#include <PellwickCore/Support/DirectoryWalk.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QMap>

#include <algorithm>
#include <cerrno>

#include <sys/statvfs.h>

namespace Pellwick {

const QString IngestCache::incompleteCopyMarkerName = QStringLiteral(".pellwick-copy-in-progress");
const QString IngestCache::copyOperationName = QStringLiteral("Add to Ingest Cache");

namespace {

using ItemGroup = QList<const ImportReviewItem *>;

/// root/YYYY/MM/DD-<12 hex digits of a new random UUID>, dated in the local time zone.
QString newBatchRelativePath(const QDate &now)
{
    const QString batchID = QUuid::createUuid()
                                .toString(QUuid::WithoutBraces)
                                .remove(QLatin1Char('-'))
                                .toLower()
                                .left(12);
    return QString::asprintf("%04d/%02d/%02d-", now.year(), now.month(), now.day()) + batchID;
}

/// The items of one name, each given to the source of that name whose root holds it (the
/// deepest such root), so that two cards with one volume name are never copied relative to the
/// same root. An item under none of them stays with the first source, which then reports it as
/// not under its root. Returns one group per source, in review order, empty ones left out.
QList<std::pair<const ImportScanVolume *, ItemGroup>>
groupsBySource(const QList<const ImportScanVolume *> &sources, const ItemGroup &items)
{
    QList<ItemGroup> groups(sources.size());
    for (const ImportReviewItem *item : items) {
        qsizetype chosen = 0;
        qsizetype chosenRootLength = -1;
        for (qsizetype i = 0; i < sources.size(); ++i) {
            const QString root = QDir::cleanPath(sources.at(i)->url);
            if (root.size() > chosenRootLength && CacheRelativePath::value(item->url, root)) {
                chosen = i;
                chosenRootLength = root.size();
            }
        }
        groups[chosen].append(item);
    }
    QList<std::pair<const ImportScanVolume *, ItemGroup>> result;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        if (!groups.at(i).isEmpty())
            result.append({sources.at(i), groups.at(i)});
    }
    return result;
}

} // namespace

struct IngestCache::CopyProgressState
{
    qint64 completedBytes = 0;
    qint64 completedPackages = 0;
};

/// One run of `copy`: the cache, the progress sink and the totals shared by all sources.
class IngestCache::CopyIn
{
public:
    CopyIn(const IngestCache &cache,
           const TransferProgressSink &progress,
           const QUuid &transferID,
           qint64 totalBytes,
           qint64 totalPackages)
        : m_cache(cache)
        , m_progress(progress)
        , m_transferID(transferID)
        , m_totalBytes(totalBytes)
        , m_totalPackages(totalPackages)
    {}

    void emitRow(TransferProgressPhase phase,
                 const std::optional<QString> &currentFilename = std::nullopt,
                 std::optional<qint64> currentCompleted = std::nullopt,
                 std::optional<qint64> currentTotal = std::nullopt,
                 std::optional<qint64> completedBytesOverride = std::nullopt) const
    {
        if (!m_progress)
            return;
        m_progress(TransferProgress{m_transferID,
                                    copyOperationName,
                                    phase,
                                    std::nullopt,
                                    currentFilename,
                                    currentCompleted,
                                    currentTotal,
                                    completedBytesOverride.value_or(m_state.completedBytes),
                                    m_totalBytes,
                                    m_state.completedPackages,
                                    m_totalPackages});
    }

    Result<IngestCacheCopy> copySource(const ItemGroup &items, const ImportScanVolume &source)
    {
        Result<ImportSourceIdentity> identity = importSourceIdentity(items, source);
        if (!identity)
            return tl::unexpected<Error>(std::move(identity).error());
        const QString batch = incompleteDestinationRoot(*identity);
        PELLWICK_TRY(m_cache.fileManager().createDirectory(batch));
        PELLWICK_TRY(m_cache.writeIncompleteCopyMarker(batch, {*identity, std::nullopt}));

        qint64 copiedBytes = 0;
        for (const ImportReviewItem *item : items) {
            PELLWICK_TRY(copyAndVerify(item->url, source.url, batch));
            copiedBytes += item->byteCount;
            if (item->sidecar) {
                PELLWICK_TRY(copyAndVerify(item->sidecar->url, source.url, batch));
                copiedBytes += item->sidecar->byteCount;
            }
            ++m_state.completedPackages;
            emitRow(TransferProgressPhase::Copying);
        }

        PELLWICK_TRY(m_cache.fileManager().removeItem(
            appendingPathComponent(batch, incompleteCopyMarkerName)));
        return IngestCacheCopy{
            source.name, batch, source.url, *identity, items.size(), copiedBytes};
    }

private:
    Result<ImportSourceIdentity> importSourceIdentity(const ItemGroup &items,
                                                      const ImportScanVolume &source) const
    {
        if (source.volumeUUID)
            return ImportSourceIdentity::volume(*source.volumeUUID);

        // Always SHA-256, whatever hasher the cache verifies copies with: the identity is stored.
        const SHA256ContentHasher sha256;
        QStringList lines;
        const auto addLine = [&](const QString &file) -> Result<void> {
            Result<QString> hash = sha256.contentHash(file);
            if (!hash)
                return tl::unexpected<Error>(std::move(hash).error());
            lines.append(
                CacheRelativePath::value(file, source.url).value_or(lastPathComponent(file))
                + QLatin1Char(':') + *hash);
            return {};
        };
        for (const ImportReviewItem *item : items) {
            PELLWICK_TRY(addLine(item->url));
            if (item->sidecar)
                PELLWICK_TRY(addLine(item->sidecar->url));
        }
        return ImportSourceIdentity::folder(
            resolvingSymlinksInPath(m_cache.fileManager(), source.url),
            folderManifestHash(std::move(lines)));
    }

    /// The batch of an interrupted copy-in of the same source, or a new one dated today.
    QString incompleteDestinationRoot(const ImportSourceIdentity &identity) const
    {
        Result<QSet<QString>> incomplete = m_cache.incompleteSourceFolderURLs();
        QStringList folders
            = incomplete ? QStringList(incomplete->cbegin(), incomplete->cend()) : QStringList();
        folders.sort(); // the same choice every time, should several match
        for (const QString &folder : folders) {
            Result<IncompleteCopyMarker> marker = m_cache.readIncompleteCopyMarker(folder);
            if (!marker)
                continue;
            if (marker->sourceIdentity) {
                if (*marker->sourceIdentity == identity)
                    return folder;
                continue;
            }
            const auto *folderIdentity = std::get_if<ImportSourceIdentity::Folder>(&identity.value);
            if (folderIdentity && marker->sourceURL
                && resolvingSymlinksInPath(m_cache.fileManager(), *marker->sourceURL)
                       == folderIdentity->canonicalPath) {
                return folder;
            }
        }
        return appendingPathComponent(m_cache.rootURL(),
                                      newBatchRelativePath(QDate::currentDate()));
    }

    Result<void>
    copyAndVerify(const QString &file, const QString &sourceRoot, const QString &destinationRoot)
    {
        const std::optional<QString> relativePath = CacheRelativePath::value(file, sourceRoot);
        if (!relativePath)
            return failure(IngestCacheError::verificationFailed(lastPathComponent(file)));
        const QString destination = appendingPathComponent(destinationRoot, *relativePath);
        const QString name = lastPathComponent(file);
        const FileManager &fileManager = m_cache.fileManager();
        const ContentHashing &hasher = m_cache.contentHasher();

        Result<FileAttributes> attributes = fileManager.attributesOfItem(file);
        if (!attributes)
            return tl::unexpected<Error>(std::move(attributes).error());
        const qint64 size = attributes->size;

        if (fileManager.fileExists(destination)) {
            // Copied by an interrupted copy-in: count it only when its bytes are the source's.
            emitRow(TransferProgressPhase::Verifying, name);
            Result<QString> sourceHash = hasher.contentHash(file);
            if (!sourceHash)
                return tl::unexpected<Error>(std::move(sourceHash).error());
            Result<QString> destinationHash = hasher.contentHash(destination);
            if (!destinationHash)
                return tl::unexpected<Error>(std::move(destinationHash).error());
            if (*sourceHash != *destinationHash)
                return failure(IngestCacheError::verificationFailed(*relativePath));
            m_state.completedBytes += size;
            emitRow(TransferProgressPhase::Copying, name, size, size);
            return {};
        }

        emitRow(TransferProgressPhase::Copying, name, 0, size);
        const Result<void> copied = VerifiedFileCopy::copy(
            file,
            destination,
            fileManager,
            hasher,
            [&] {
                emitRow(TransferProgressPhase::Verifying,
                        name,
                        std::nullopt,
                        std::nullopt,
                        m_state.completedBytes + size);
            },
            [&](qint64 written) {
                emitRow(TransferProgressPhase::Copying,
                        name,
                        written,
                        size,
                        m_state.completedBytes + written);
            });
        if (!copied)
            return failure(IngestCacheError::verificationFailed(*relativePath));
        m_state.completedBytes += size;
        emitRow(TransferProgressPhase::Copying, name, size, size);
        return {};
    }

    const IngestCache &m_cache;
    const TransferProgressSink &m_progress;
    QUuid m_transferID;
    qint64 m_totalBytes;
    qint64 m_totalPackages;
    CopyProgressState m_state;
};

IngestCache::IngestCache(QString rootURL,
                         std::shared_ptr<const FileManager> fileManager,
                         std::shared_ptr<const ContentHashing> contentHasher,
                         AvailableCapacityProbe availableCapacity)
    : m_rootURL(std::move(rootURL))
    , m_fileManager(std::move(fileManager))
    , m_contentHasher(std::move(contentHasher))
    , m_availableCapacity(std::move(availableCapacity))
{}

Result<QList<IngestCacheCopy>> IngestCache::copy(const ImportReview &review,
                                                 const TransferProgressSink &progress,
                                                 const QUuid &transferID) const
{
    ItemGroup supported;
    qint64 totalBytes = 0;
    for (const ImportReviewItem &item : review.items) {
        if (!item.status.isSupported())
            continue;
        supported.append(&item);
        totalBytes += item.byteCount + (item.sidecar ? item.sidecar->byteCount : 0);
    }
    CopyIn copyIn(*this, progress, transferID, totalBytes, supported.size());
    copyIn.emitRow(TransferProgressPhase::Preparing, std::nullopt, std::nullopt, std::nullopt, 0);

    Result<qint64> available = m_availableCapacity(m_rootURL);
    if (!available)
        return tl::unexpected<Error>(std::move(available).error());
    if (*available < totalBytes)
        return failure(IngestCacheError::insufficientCapacity(totalBytes, *available));
    PELLWICK_TRY(m_fileManager->createDirectory(m_rootURL));

    QMap<QString, ItemGroup> byName; // ordered by plain string comparison
    for (const ImportReviewItem *item : supported)
        byName[item->volumeName].append(item);

    QList<IngestCacheCopy> copies;
    for (auto group = byName.cbegin(); group != byName.cend(); ++group) {
        QList<const ImportScanVolume *> sources;
        for (const ImportScanVolume &volume : review.volumes) {
            if (volume.name == group.key())
                sources.append(&volume);
        }
        if (sources.isEmpty())
            continue; // items of a source that is not part of the review are left alone
        for (const auto &[source, items] : groupsBySource(sources, group.value())) {
            Result<IngestCacheCopy> copied = copyIn.copySource(items, *source);
            if (!copied)
                return tl::unexpected<Error>(std::move(copied).error());
            copies.append(std::move(*copied));
        }
    }
    return copies;
}

Result<QSet<QString>> IngestCache::incompleteSourceFolderURLs() const
{
    QSet<QString> folders;
    if (!m_fileManager->fileExists(m_rootURL))
        return folders;
    const DirectoryWalkOptions options{.skipHiddenEntries = false,
                                       .passOverUnreadableRoot = true,
                                       .passOverUnreadableSubfolders = true};
    const Result<void> walked = walkDirectoryTree(
        *m_fileManager,
        m_rootURL,
        options,
        [&folders](const QString &folder, const DirectoryEntry &entry) -> Result<bool> {
            if (entry.name == incompleteCopyMarkerName)
                folders.insert(folder);
            return true;
        });
    Q_UNUSED(walked); // nothing but listing failures could end the walk, and those are passed over
    return folders;
}

Result<IncompleteCopyMarker> IngestCache::readIncompleteCopyMarker(const QString &folder) const
{
    Result<QByteArray> data = readFileContents(
        *m_fileManager, appendingPathComponent(folder, incompleteCopyMarkerName));
    if (!data)
        return tl::unexpected<Error>(std::move(data).error());
    return IncompleteCopyMarker::fromJson(*data);
}

Result<void> IngestCache::writeIncompleteCopyMarker(const QString &folder,
                                                    const IncompleteCopyMarker &marker) const
{
    Result<QByteArray> json = marker.toJson();
    if (!json)
        return tl::unexpected<Error>(std::move(json).error());
    // An atomic write that was interrupted leaves its hidden temporary file; it would keep the
    // batch folder from ever being pruned.
    const QString leftoverPrefix = QLatin1Char('.') + incompleteCopyMarkerName + QLatin1Char('.');
    if (Result<QStringList> names = m_fileManager->contentsOfDirectory(folder)) {
        for (const QString &name : *names) {
            if (name.startsWith(leftoverPrefix) && name.endsWith(QLatin1String(".tmp")))
                (void) m_fileManager->removeItem(appendingPathComponent(folder, name));
        }
    }
    return writeFileAtomically(
        *m_fileManager, appendingPathComponent(folder, incompleteCopyMarkerName), *json);
}

Result<qint64> IngestCache::systemAvailableCapacity(const QString &path)
{
    // The root does not exist before the first copy-in: ask the file system that will hold it.
    QString current = QDir::cleanPath(path);
    for (;;) {
        struct statvfs info
        {};

        if (::statvfs(QFile::encodeName(current).constData(), &info) == 0) {
            if (info.f_frsize == 0)
                return failure(IngestCacheError{IngestCacheError::UnableToDetermineCapacity{}});
            return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
        }
        const int error = errno;
        const QString parent = parentPath(current);
        if ((error != ENOENT && error != ENOTDIR) || parent == current)
            return fileSystemFailure(QStringLiteral("statvfs"), current, error);
        current = parent;
    }
}

QString IngestCache::folderManifestHash(QStringList manifestLines)
{
    std::sort(manifestLines.begin(), manifestLines.end());
    return SHA256ContentHasher::contentHash(manifestLines.join(QLatin1Char('\n')).toUtf8());
}

} // namespace Pellwick
