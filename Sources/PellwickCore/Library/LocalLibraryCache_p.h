#pragma once

#include <PellwickCore/Library/LibraryJournal_p.h>
#include <PellwickCore/Library/LocalLibraryCache.h>

namespace Pellwick {

namespace Detail {

/// What identifies a file's current version: if any of these changed, someone else wrote it.
struct FileStamp
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    Date modificationDate;

    bool operator==(const FileStamp &) const = default;

    static FileStamp of(const FileAttributes &attributes)
    {
        return {attributes.device, attributes.inode, attributes.size, attributes.modificationDate};
    }
};

/// The store's files as it last read or wrote them.
struct LibraryDiskState
{
    /// "library-items.json" is the store's own, as stamped; otherwise the next change writes it.
    bool snapshotIsOurs = false;
    FileStamp snapshotStamp;
    LibraryJournal::SnapshotName snapshotName;
    /// The journal names that snapshot and is as stamped; otherwise the next entry starts a new
    /// journal.
    bool journalIsOurs = false;
    FileStamp journalStamp;
    /// Where the next entry goes: after the last whole entry.
    qint64 journalLength = 0;
    /// Only zero bytes follow `journalLength` (room for entries); otherwise a torn tail there is
    /// cut off before the next entry.
    bool journalTailIsClear = true;
    /// False from a load of existing files until the first change flushed them: a process killed
    /// before its flushes leaves entries and names a power cut can still take back, which the
    /// next entries must not be built upon.
    bool loadedFilesAreDurable = true;
};

/// `record` with the cached package and the evidence of `copy`, a copy of its bytes
/// (`replacingIngestCacheItem`). An archived record (Verified Backup, duplicate) takes the copy
/// only for its cleanup: its place in the library tree, `cacheRelativePath`, stays.
LocalLibraryItem takingIngestCacheCopy(const LocalLibraryItem &record,
                                       const LocalLibraryItem &copy,
                                       const FileManager &fileManager);

} // namespace Detail

/// One change of the library: the records with `removedIDs` leave, then each assignment sets a
/// position (the size itself appends).
struct LocalLibraryCache::Change
{
    QSet<QUuid> removedIDs;
    QList<std::pair<qsizetype, LocalLibraryItem>> assignments;

    bool isEmpty() const { return removedIDs.isEmpty() && assignments.isEmpty(); }
};

} // namespace Pellwick
