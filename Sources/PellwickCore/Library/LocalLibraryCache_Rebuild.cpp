// Rebuild of the library's archive side from the backend's items.
#include "LocalLibraryCache.h"

#include <algorithm>

namespace Pellwick {

namespace {

/// The local record refreshed with what the backend knows of it.
LocalLibraryItem rebuilding(const LocalLibraryItem &local, const RemoteLibraryItem &remote)
{
    LocalLibraryItem item = local;
    item.originalFilename = remote.originalFilename;
    item.canonicalFilename = remote.canonicalFilename;
    item.contentHash = remote.contentHash;
    item.archiveByteCount = remote.archiveByteCount;
    item.archiveSidecarFilename = remote.archiveSidecarFilename;
    item.archiveSidecarByteCount = remote.archiveSidecarByteCount;
    item.archiveSidecarContentHash = remote.archiveSidecarContentHash;
    item.importStatus = remote.importStatus;
    item.backendLibraryItemID = remote.id;
    item.restoreStatus.reset();
    item.restoreAttentionReason.reset();
    item.ingestSourceName = remote.importSourceName;
    item.sourceRelativePath = remote.sourceRelativePath;
    if (remote.cacheRelativePath)
        item.cacheRelativePath = remote.cacheRelativePath;
    return item;
}

/// Whether `local` may be linked to `remote` by content alone. Only an archived item links: one
/// still staging, uploading or needing attention is an import this record never made (perhaps
/// another machine's), and with its backend id, removing this record's package would cancel that
/// import on the backend. A record that knows of a sidecar (its cached copy, or the one its
/// source held) links only when the item archived the very sidecar, else the library would call
/// the source media safe to erase while the sidecar is in no archive.
bool mayLinkByContent(const LocalLibraryItem &local, const RemoteLibraryItem &remote)
{
    if (remote.importStatus != LibraryItemImportStatus::VerifiedBackup)
        return false;
    const SharedOptional<SourceMediaEvidence> &evidence = local.sourceMediaEvidence;
    std::optional<QString> sidecarHash = local.ingestCacheSidecarContentHash;
    if (!sidecarHash && evidence)
        sidecarHash = evidence->sidecarContentHash;
    const bool hasSidecar
        = sidecarHash || local.ingestCacheSidecarURL || (evidence && evidence->sidecarRelativePath);
    return !hasSidecar || (sidecarHash && remote.archiveSidecarContentHash == sidecarHash);
}

/// A record for a backend item that no local record matches.
LocalLibraryItem newRecord(const RemoteLibraryItem &remote)
{
    LocalLibraryItem item;
    item.id = QUuid::createUuid();
    item.originalFilename = remote.originalFilename;
    item.canonicalFilename = remote.canonicalFilename;
    item.contentHash = remote.contentHash;
    item.archiveByteCount = remote.archiveByteCount;
    item.archiveSidecarFilename = remote.archiveSidecarFilename;
    item.archiveSidecarByteCount = remote.archiveSidecarByteCount;
    item.archiveSidecarContentHash = remote.archiveSidecarContentHash;
    item.importDate = remote.importedAt;
    item.importStatus = remote.importStatus;
    item.backendLibraryItemID = remote.id;
    item.ingestSourceName = remote.importSourceName;
    item.sourceRelativePath = remote.sourceRelativePath;
    item.cacheRelativePath = remote.cacheRelativePath;
    item.metadata = PhotoMetadata::unknown();
    item.preview = LocalPreviewState::failed(QStringLiteral("Preview needs refresh"));
    return item;
}

/// Whether the record at `position` of `records` is not one of `whenListed` (changed or added
/// since).
bool changedSince(const LocalLibraryCacheRecords &records,
                  qsizetype position,
                  const LocalLibraryCacheRecords &whenListed)
{
    const LocalLibraryItem &record = records.at(position);
    const QList<qsizetype> before = whenListed.positions(record.id);
    return std::none_of(before.cbegin(), before.cend(), [&](qsizetype p) {
        // Records a change left alone are shared with the earlier library.
        const LocalLibraryItem &earlier = whenListed.at(p);
        return &earlier == &record || earlier == record;
    });
}

} // namespace

Result<void>
LocalLibraryCache::rebuild(const QList<RemoteLibraryItem> &items,
                           const std::optional<LocalLibraryCacheRecords> &whenListed) const
{
    const std::lock_guard guard(m_storage->mutationLock);
    Result<LocalLibraryCacheRecords> records = cachedRecords();
    PELLWICK_TRY(records);

    // A linked record written after the list was asked for (an import linking or verifying it)
    // may be newer than the list says: it stays as it is, standing for its backend item. One
    // without a backend item links by content as any other: kept apart, it would stand beside a
    // new record for the item that holds its photo.
    const bool anyChanged = whenListed && !records->sharesRecordsWith(*whenListed);
    QSet<qint64> changedBackendIDs;
    QHash<qint64, QList<qsizetype>> knownByBackendID;
    QHash<QString, QList<qsizetype>> unlinkedByHash;
    QList<qsizetype> unlinked;
    for (qsizetype p = 0; p < records->size(); ++p) {
        const LocalLibraryItem &record = records->at(p);
        if (anyChanged && record.backendLibraryItemID && changedSince(*records, p, *whenListed)) {
            unlinked.append(p);
            changedBackendIDs.insert(*record.backendLibraryItemID);
        } else if (record.backendLibraryItemID) {
            knownByBackendID[*record.backendLibraryItemID].append(p);
        } else {
            unlinkedByHash[record.contentHash].append(p);
            unlinked.append(p);
        }
    }

    // Positions, not ids: of two records that a hand-edited file gave one id, linking one must
    // not drop the other.
    QSet<qsizetype> linked;
    QSet<qint64> seenBackendIDs;
    QList<LocalLibraryItem> rebuilt;
    rebuilt.reserve(items.size());
    for (const RemoteLibraryItem &remote : items) {
        // A list naming an item twice would link one record twice and repeat its id.
        if (seenBackendIDs.contains(remote.id))
            continue;
        seenBackendIDs.insert(remote.id);

        qsizetype match = -1;
        int matches = 0;
        for (const qsizetype p : knownByBackendID.value(remote.id)) {
            const LocalLibraryItem &record = records->at(p);
            if (record.originalFilename == remote.originalFilename
                && record.canonicalFilename == remote.canonicalFilename
                && record.contentHash == remote.contentHash) {
                match = p;
                ++matches;
            }
        }
        if (matches == 1) {
            rebuilt.append(rebuilding(records->at(match), remote));
            continue;
        }
        if (changedBackendIDs.contains(remote.id))
            continue;
        match = -1;
        matches = 0;
        for (const qsizetype p : unlinkedByHash.value(remote.contentHash)) {
            if (linked.contains(p) || !mayLinkByContent(records->at(p), remote))
                continue;
            match = p;
            ++matches;
        }
        if (matches == 1) {
            linked.insert(match);
            rebuilt.append(rebuilding(records->at(match), remote));
            continue;
        }
        rebuilt.append(newRecord(remote));
    }

    QList<LocalLibraryItem> result;
    result.reserve(unlinked.size() + rebuilt.size());
    for (const qsizetype p : unlinked) {
        if (!linked.contains(p))
            result.append(records->at(p));
    }
    result.append(rebuilt);
    return writeItemsLocked(result);
}

} // namespace Pellwick
