#include "LocalLibraryCache.h"

#include "LocalLibraryCache_p.h"

#include <QDir>

#include <algorithm>
#include <vector>

namespace Pellwick {

namespace {

/// Whether `copy` is `record`'s own photo, not a twin's with the same bytes: the same file name
/// and the same own sidecar (name and content hash, or none).
bool isOwnPhoto(const LocalLibraryItem &record, const LocalLibraryItem &copy)
{
    return record.originalFilename == copy.originalFilename
           && record.ownSidecar() == copy.ownSidecar();
}

/// Whether both paths are given and lead to one file, whatever their spelling.
bool namesSameFile(const std::optional<QString> &a,
                   const std::optional<QString> &b,
                   const FileManager &fileManager)
{
    return a && b
           && resolvingSymlinksInPath(fileManager, *a) == resolvingSymlinksInPath(fileManager, *b);
}

} // namespace

LocalLibraryItem Detail::takingIngestCacheCopy(const LocalLibraryItem &record,
                                               const LocalLibraryItem &copy,
                                               const FileManager &fileManager)
{
    LocalLibraryItem taken = record.replacingIngestCacheItem(copy, fileManager);
    if (record.importStatus == LibraryItemImportStatus::VerifiedBackup
        || record.importStatus == LibraryItemImportStatus::Duplicate) {
        taken.cacheRelativePath = record.cacheRelativePath;
        // A twin's copy is only there for its cleanup: the record's source and its own sidecar
        // stay its own, so that its own photo is known at the next add.
        if (!isOwnPhoto(record, copy))
            taken.sourceMediaEvidence = record.sourceMediaEvidence;
    }
    return taken;
}

LocalLibraryCacheStorage::LocalLibraryCacheStorage()
    : disk(std::make_unique<Detail::LibraryDiskState>())
{}

LocalLibraryCacheStorage::~LocalLibraryCacheStorage() = default;

LocalLibraryCache::LocalLibraryCache(const QString &rootURL,
                                     std::shared_ptr<const FileManager> fileManager,
                                     Options options)
    : m_rootURL(QDir::cleanPath(rootURL))
    , m_fileManager(std::move(fileManager))
    , m_storage(std::make_shared<LocalLibraryCacheStorage>())
    , m_options(options)
{}

QString LocalLibraryCache::path(const QString &name) const
{
    return m_rootURL + QLatin1Char('/') + name;
}

Result<LocalLibraryCacheRecords> LocalLibraryCache::cachedRecords() const
{
    const std::lock_guard guard(m_storage->lock);
    if (m_storage->records)
        return *m_storage->records;
    Result<LocalLibraryCacheRecords> loaded = load();
    if (loaded)
        m_storage->records = *loaded;
    return loaded;
}

Result<QList<LocalLibraryItem>> LocalLibraryCache::readItems() const
{
    PELLWICK_TRY_ASSIGN(LocalLibraryCacheRecords records, cachedRecords());
    return records.items();
}

Result<LocalLibrarySearchResult>
LocalLibraryCache::search(const LocalLibrarySearchQuery &query) const
{
    PELLWICK_TRY_ASSIGN(LocalLibraryCacheRecords records, cachedRecords());
    return records.search(query);
}

void LocalLibraryCache::publish(const LocalLibraryCacheRecords &records) const
{
    const std::lock_guard guard(m_storage->lock);
    m_storage->records = records;
}

template<typename T, typename F>
Result<T> LocalLibraryCache::mutate(F &&compute) const
{
    const std::lock_guard guard(m_storage->mutationLock);
    PELLWICK_TRY_ASSIGN(LocalLibraryCacheRecords current, cachedRecords());
    Change change;
    T result = compute(current, change);
    PELLWICK_TRY(commit(current, change));
    return result;
}

Result<void> LocalLibraryCache::writeItems(const QList<LocalLibraryItem> &items) const
{
    const std::lock_guard guard(m_storage->mutationLock);
    return replaceAll(LocalLibraryCacheRecords(items));
}

Result<void> LocalLibraryCache::writeItemsLocked(const QList<LocalLibraryItem> &items) const
{
    const std::lock_guard guard(m_storage->mutationLock);
    Result<LocalLibraryCacheRecords> current = cachedRecords();
    if (!current || items.size() < current->size())
        return replaceAll(LocalLibraryCacheRecords(items));
    Change change;
    for (qsizetype p = 0; p < items.size(); ++p) {
        if (p >= current->size() || !(current->at(p) == items[p]))
            change.assignments.append({p, items[p]});
    }
    return commit(*current, change);
}

Result<bool>
LocalLibraryCache::writeItemsIfUnchangedLocked(const QList<LocalLibraryItem> &items,
                                               const QList<LocalLibraryItem> &expectedItems) const
{
    const std::lock_guard guard(m_storage->mutationLock);
    PELLWICK_TRY_ASSIGN(LocalLibraryCacheRecords current, cachedRecords());
    if (current.size() != expectedItems.size())
        return false;
    for (qsizetype p = 0; p < expectedItems.size(); ++p) {
        if (!(current.at(p) == expectedItems[p]))
            return false;
    }
    PELLWICK_TRY(writeItemsLocked(items));
    return true;
}

Result<void> LocalLibraryCache::appendItems(const QList<LocalLibraryItem> &items) const
{
    return mutate<bool>([&](const LocalLibraryCacheRecords &current, Change &change) {
               for (qsizetype i = 0; i < items.size(); ++i)
                   change.assignments.append({current.size() + i, items[i]});
               return true;
           })
        .map([](bool) {});
}

Result<void> LocalLibraryCache::removeItems(const QSet<QUuid> &ids) const
{
    return mutate<bool>([&](const LocalLibraryCacheRecords &current, Change &change) {
               for (const QUuid &id : ids) {
                   if (!current.positions(id).isEmpty())
                       change.removedIDs.insert(id);
               }
               return true;
           })
        .map([](bool) {});
}

Result<QList<LocalLibraryItem>>
LocalLibraryCache::upsertIngestCacheItems(const QList<LocalLibraryItem> &items) const
{
    return mutate<QList<LocalLibraryItem>>([&](const LocalLibraryCacheRecords &current,
                                               Change &change) {
        // The records of each hash as a chain, front to back, appended ones included.
        QHash<QString, qsizetype> firstWithHash;
        firstWithHash.reserve(current.size());
        std::vector<qsizetype> nextWithHash(size_t(current.size()), -1);
        for (qsizetype p = current.size() - 1; p >= 0; --p) {
            const QString &hash = current.at(p).contentHash;
            nextWithHash[size_t(p)] = firstWithHash.value(hash, -1);
            firstWithHash.insert(hash, p);
        }
        // The working array is `current` with `replaced` over it, followed by `appended`.
        QHash<qsizetype, LocalLibraryItem> replaced;
        QList<LocalLibraryItem> appended;
        const auto working = [&](qsizetype p) -> LocalLibraryItem & {
            if (p >= current.size())
                return appended[p - current.size()];
            auto it = replaced.find(p);
            if (it == replaced.end())
                it = replaced.insert(p, current.at(p));
            return *it;
        };
        const auto constWorking = [&](qsizetype p) -> const LocalLibraryItem & {
            if (p >= current.size())
                return appended.at(p - current.size());
            const auto it = replaced.constFind(p);
            return it != replaced.cend() ? *it : current.at(p);
        };
        QList<LocalLibraryItem> results;
        for (const LocalLibraryItem &input : items) {
            // The record whose own photo the input is goes first: of twins archived as one
            // package, each takes its own copy. A pair the archive holds is never taken by a
            // record that has not reached it (a twin whose cached copy changed): it goes to the
            // archived record, so it is told as already archived and its copy not kept. A copy
            // the waiting record already names (a batch resumed after a cut) stays its own.
            qsizetype taker = -1;
            qsizetype own = -1;
            qsizetype archived = -1;
            qsizetype last = -1;
            for (qsizetype p = firstWithHash.value(input.contentHash, -1); p >= 0;
                 p = nextWithHash[size_t(p)]) {
                const LocalLibraryItem &record = constWorking(p);
                if (record.takesIngestCacheCopy(input, *m_fileManager)) {
                    const bool inArchive = isInTheArchive(record.importStatus);
                    if (own < 0 && isOwnPhoto(record, input))
                        own = p;
                    if (archived < 0 && inArchive)
                        archived = p;
                    if (taker < 0)
                        taker = p;
                }
                last = p;
            }
            if (own >= 0)
                taker = own;
            if (taker >= 0 && archived >= 0 && !isInTheArchive(constWorking(taker).importStatus)
                && !namesSameFile(constWorking(taker).ingestCacheOriginalURL,
                                  input.ingestCacheOriginalURL,
                                  *m_fileManager))
                taker = archived;
            if (taker < 0) {
                const qsizetype position = current.size() + appended.size();
                if (last < 0)
                    firstWithHash.insert(input.contentHash, position);
                else
                    nextWithHash[size_t(last)] = position;
                nextWithHash.push_back(-1);
                appended.append(input);
                results.append(input);
                continue;
            }
            LocalLibraryItem &record = working(taker);
            // A record that never reached the archive and needed attention (its cached
            // files changed, or their copy-in was cut short) is ready again once a copy-in
            // verified its photo anew against the source.
            const bool awaitedCopy = record.importStatus == LibraryItemImportStatus::NeedsAttention
                                     && !record.backendLibraryItemID;
            record = Detail::takingIngestCacheCopy(record, input, *m_fileManager);
            if (awaitedCopy && record.holdsVerifiedIngestCacheCopy())
                record = record.replacingImportStatus(LibraryItemImportStatus::LocalCacheReady);
            results.append(record);
        }
        for (auto it = replaced.cbegin(); it != replaced.cend(); ++it) {
            if (!(current.at(it.key()) == it.value()))
                change.assignments.append({it.key(), it.value()});
        }
        std::sort(change.assignments.begin(),
                  change.assignments.end(),
                  [](const auto &a, const auto &b) { return a.first < b.first; });
        for (qsizetype i = 0; i < appended.size(); ++i)
            change.assignments.append({current.size() + i, appended[i]});
        return results;
    });
}

Result<void> LocalLibraryCache::relocateIngestCacheItems(const QString &oldRoot,
                                                         const QString &newRoot) const
{
    return mutate<bool>([&](const LocalLibraryCacheRecords &current, Change &change) {
               for (qsizetype p = 0; p < current.size(); ++p) {
                   const LocalLibraryItem &item = current.at(p);
                   LocalLibraryItem moved
                       = item.relocatingIngestCacheURLs(oldRoot, newRoot, *m_fileManager);
                   if (!(moved == item))
                       change.assignments.append({p, std::move(moved)});
               }
               return true;
           })
        .map([](bool) {});
}

Result<void> LocalLibraryCache::removeIngestCachePackages(const QSet<QUuid> &ids) const
{
    return mutate<bool>([&](const LocalLibraryCacheRecords &current, Change &change) {
               QList<qsizetype> positions;
               for (const QUuid &id : ids)
                   positions.append(current.positions(id));
               std::sort(positions.begin(), positions.end());
               for (const qsizetype p : positions) {
                   LocalLibraryItem cleared
                       = current.at(p).replacingIngestCachePackage(std::nullopt);
                   if (!(cleared == current.at(p)))
                       change.assignments.append({p, std::move(cleared)});
               }
               return true;
           })
        .map([](bool) {});
}

namespace {

/// Replaces every record with `id` by `transform(record)`; the last replacement, or none.
template<typename F>
std::optional<LocalLibraryItem> updateRecords(const LocalLibraryCacheRecords &current,
                                              const QUuid &id,
                                              QList<std::pair<qsizetype, LocalLibraryItem>> &out,
                                              F &&transform)
{
    std::optional<LocalLibraryItem> last;
    for (const qsizetype p : current.positions(id)) {
        LocalLibraryItem updated = transform(current.at(p));
        if (!(updated == current.at(p)))
            out.append({p, updated});
        last = std::move(updated);
    }
    return last;
}

} // namespace

Result<std::optional<LocalLibraryItem>>
LocalLibraryCache::updateImportStatus(const QUuid &id, LibraryItemImportStatus status) const
{
    return mutate<std::optional<LocalLibraryItem>>([&](const LocalLibraryCacheRecords &current,
                                                       Change &change) {
        return updateRecords(current, id, change.assignments, [&](const LocalLibraryItem &item) {
            return item.replacingImportStatus(status);
        });
    });
}

Result<void> LocalLibraryCache::updateImportStatuses(const QSet<QUuid> &ids,
                                                     LibraryItemImportStatus status) const
{
    return mutate<bool>([&](const LocalLibraryCacheRecords &current, Change &change) {
               for (const QUuid &id : ids)
                   updateRecords(
                       current, id, change.assignments, [&](const LocalLibraryItem &item) {
                           return item.replacingImportStatus(status);
                       });
               std::sort(change.assignments.begin(),
                         change.assignments.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
               return true;
           })
        .map([](bool) {});
}

Result<std::optional<LocalLibraryItem>>
LocalLibraryCache::updateArchiveSidecar(const QUuid &id,
                                        const std::optional<QString> &filename,
                                        std::optional<qint64> byteCount,
                                        const std::optional<QString> &contentHash) const
{
    return mutate<std::optional<LocalLibraryItem>>([&](const LocalLibraryCacheRecords &current,
                                                       Change &change) {
        return updateRecords(current, id, change.assignments, [&](const LocalLibraryItem &item) {
            return item.replacingArchiveSidecar(filename, byteCount, contentHash);
        });
    });
}

Result<std::optional<LocalLibraryItem>>
LocalLibraryCache::updatePreview(const QUuid &id, const LocalPreviewState &preview) const
{
    return mutate<std::optional<LocalLibraryItem>>([&](const LocalLibraryCacheRecords &current,
                                                       Change &change) {
        return updateRecords(current, id, change.assignments, [&](const LocalLibraryItem &item) {
            LocalLibraryItem next = item;
            next.preview = preview;
            return next;
        });
    });
}

Result<std::optional<LocalLibraryItem>>
LocalLibraryCache::updateMetadata(const QUuid &id, const PhotoMetadata &metadata) const
{
    return mutate<std::optional<LocalLibraryItem>>([&](const LocalLibraryCacheRecords &current,
                                                       Change &change) {
        return updateRecords(current, id, change.assignments, [&](const LocalLibraryItem &item) {
            LocalLibraryItem next = item;
            next.metadata = metadata;
            return next;
        });
    });
}

Result<std::optional<LocalLibraryItem>>
LocalLibraryCache::updateBackendLibraryItemID(const QUuid &id,
                                              std::optional<qint64> backendID) const
{
    return mutate<std::optional<LocalLibraryItem>>([&](const LocalLibraryCacheRecords &current,
                                                       Change &change) {
        return updateRecords(current, id, change.assignments, [&](const LocalLibraryItem &item) {
            return item.replacingBackendLibraryItemID(backendID);
        });
    });
}

Result<void>
LocalLibraryCache::updateRestoreStatus(const QSet<qint64> &backendIDs,
                                       std::optional<RestoreRequestStatus> status,
                                       const QHash<qint64, QString> &attentionReasons) const
{
    return mutate<bool>([&](const LocalLibraryCacheRecords &current, Change &change) {
               for (qsizetype p = 0; p < current.size(); ++p) {
                   const LocalLibraryItem &item = current.at(p);
                   const std::optional<qint64> backendID = item.restoreLibraryItemID();
                   if (!backendID || !backendIDs.contains(*backendID))
                       continue;
                   const auto reason = attentionReasons.constFind(*backendID);
                   LocalLibraryItem updated = item.replacingRestoreStatus(
                       status,
                       reason == attentionReasons.constEnd() ? std::nullopt
                                                             : std::optional(*reason));
                   if (!(updated == item))
                       change.assignments.append({p, std::move(updated)});
               }
               return true;
           })
        .map([](bool) {});
}

std::optional<QString> LocalLibraryCache::previewURL(const QString &canonicalFilename) const
{
    if (!isSafePathComponent(canonicalFilename))
        return std::nullopt;
    return m_rootURL + QStringLiteral("/previews/") + canonicalFilename + QStringLiteral(".jpg");
}

std::optional<QString> LocalLibraryCache::absolutePreviewURL(const LocalLibraryItem &item) const
{
    const QString *relativePath = item.preview.availablePath();
    const QString folder = QStringLiteral("previews/");
    if (!relativePath || !relativePath->startsWith(folder)
        || !isSafePathComponent(relativePath->mid(folder.size()))) {
        return std::nullopt;
    }
    return m_rootURL + QLatin1Char('/') + *relativePath;
}

} // namespace Pellwick
