#pragma once

#include <PellwickCore/Library/LocalLibraryCacheRecords.h>

#include <memory>
#include <mutex>
#include <optional>

namespace Pellwick {

namespace Detail {
struct LibraryDiskState;
}

/// The state shared by every copy of one `LocalLibraryCache`: its locks, the loaded records and
/// what the store knows of its files. `mutationLock` is always taken before `lock`.
class LocalLibraryCacheStorage
{
public:
    LocalLibraryCacheStorage();
    LocalLibraryCacheStorage(const LocalLibraryCacheStorage &) = delete;
    LocalLibraryCacheStorage &operator=(const LocalLibraryCacheStorage &) = delete;
    ~LocalLibraryCacheStorage();

    /// Guards `records` (held only to read or swap it, and for the first load of the file).
    std::mutex lock;
    /// Serialises read-modify-write sequences and every write of the files.
    std::recursive_mutex mutationLock;
    /// Absent until the first successful read or write.
    std::optional<LocalLibraryCacheRecords> records;
    /// The files as last read or written. Until records are loaded it is guarded by `lock`,
    /// which a first load and every write before one hold; afterwards by `mutationLock`.
    std::unique_ptr<Detail::LibraryDiskState> disk;
};

} // namespace Pellwick
