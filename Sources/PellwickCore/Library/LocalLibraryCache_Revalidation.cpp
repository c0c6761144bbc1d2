// Revalidation of the source-media evidence of the library's records.
#include "LocalLibraryCache.h"
#include "LocalLibraryCache_p.h"

namespace Pellwick {

Result<qsizetype>
LocalLibraryCache::revalidateSourceMedia(const QList<ImportScanVolume> &availableSources,
                                         const FileManager &fileManager,
                                         const ContentHashing &contentHasher,
                                         std::stop_token stop) const
{
    Result<LocalLibraryCacheRecords> snapshot = cachedRecords();
    PELLWICK_TRY(snapshot);

    // The slow part, reading the sources, holds no lock.
    // The evidence examined, by id; an id that a hand-edited file holds twice keeps every suspect
    // copy, so that each record is compared with what was examined of it.
    QHash<QUuid, QList<SourceMediaEvidence>> suspects;
    // A check stopped before its end still marks what it found: were each check of a large card
    // stopped, a change seen early on would otherwise never be recorded.
    bool stopped = false;
    for (qsizetype p = 0; p < snapshot->size(); ++p) {
        if (stop.stop_requested()) {
            stopped = true;
            break;
        }
        const LocalLibraryItem &record = snapshot->at(p);
        if (record.sourceMediaEvidence
            && record.sourceMediaEvidence->detectsChange(
                availableSources, fileManager, contentHasher)) {
            suspects[record.id].append(*record.sourceMediaEvidence);
        }
    }
    const auto finished = [stopped](qsizetype marked) -> Result<qsizetype> {
        if (stopped)
            return failure(CancellationError{});
        return marked;
    };
    if (suspects.isEmpty())
        return finished(0);

    const std::lock_guard guard(m_storage->mutationLock);
    Result<LocalLibraryCacheRecords> current = cachedRecords();
    PELLWICK_TRY(current);
    // Only records still holding the evidence examined are marked: a new copy's evidence is
    // looked at next time. Any other change made meanwhile (an import that has just verified
    // the item, above all) leaves the finding true, and the record is marked.
    Change change;
    for (qsizetype p = 0; p < current->size(); ++p) {
        const LocalLibraryItem &record = current->at(p);
        const auto suspect = suspects.constFind(record.id);
        if (suspect == suspects.constEnd() || !record.sourceMediaEvidence
            || !suspect->contains(*record.sourceMediaEvidence))
            continue;
        LocalLibraryItem marked = record.markingSourceMediaChanged();
        if (!(marked == record))
            change.assignments.append({p, std::move(marked)});
    }
    if (change.isEmpty())
        return finished(0);
    PELLWICK_TRY(commit(*current, change));
    return finished(change.assignments.size());
}

} // namespace Pellwick
