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
    // By id; an id that a hand-edited file holds twice keeps every suspect copy, so that each
    // record is compared with what was examined of it.
    QHash<QUuid, QList<LocalLibraryItem>> suspects;
    for (qsizetype p = 0; p < snapshot->size(); ++p) {
        if (stop.stop_requested())
            return failure(CancellationError{});
        const LocalLibraryItem &record = snapshot->at(p);
        if (record.sourceMediaEvidence
            && record.sourceMediaEvidence->detectsChange(
                availableSources, fileManager, contentHasher)) {
            suspects[record.id].append(record);
        }
    }
    if (suspects.isEmpty())
        return 0;

    const std::lock_guard guard(m_storage->mutationLock);
    Result<LocalLibraryCacheRecords> current = cachedRecords();
    PELLWICK_TRY(current);
    // Only records still as examined are marked: one changed meanwhile is looked at next time.
    Change change;
    for (qsizetype p = 0; p < current->size(); ++p) {
        const LocalLibraryItem &record = current->at(p);
        const auto suspect = suspects.constFind(record.id);
        if (suspect == suspects.constEnd() || !suspect->contains(record))
            continue;
        LocalLibraryItem marked = record.markingSourceMediaChanged();
        if (!(marked == record))
            change.assignments.append({p, std::move(marked)});
    }
    if (change.isEmpty())
        return 0;
    PELLWICK_TRY(commit(*current, change));
    return change.assignments.size();
}

} // namespace Pellwick
