#pragma once

#include <PellwickCore/Support/Result.h>

#include <QString>

namespace Pellwick {
class FileManager;
}

namespace Pellwick::Detail {

/// The system calls behind a move that never replaces its target. Tests swap single calls to
/// reach the fallbacks that only some file systems (FUSE, FAT) need.
struct NoReplaceMoveCalls
{
    int (*renameNoReplace)(const char *from, const char *to);
    int (*link)(const char *from, const char *to);
    int (*unlink)(const char *path);
    /// 0 when something (even a dangling symbolic link) is at `path`, else -1 with `errno`.
    int (*exists)(const char *path);
    int (*rename)(const char *from, const char *to);
};

NoReplaceMoveCalls systemNoReplaceMoveCalls();

/// `renameat2(RENAME_NOREPLACE)`; where the file system refuses the flag, link then unlink;
/// where it has no hard links either, an existence check then rename. The first two never
/// replace a target that appears meanwhile; all three fail with EEXIST on an existing target.
[[nodiscard]] Result<void>
moveWithoutReplacing(const QString &from, const QString &to, const NoReplaceMoveCalls &calls);

/// Makes the folder at `path` with `mode` (and its missing parents, as `fileManager` makes them),
/// flushing each new entry through `fileManager`; a folder found existing has its entry flushed
/// into its parent once per process. `LocalFileManager`'s folder making; a test's file manager
/// over the local one calls it with itself to see the flushes.
[[nodiscard]] Result<void>
makeDirectory(const FileManager &fileManager, const QString &path, unsigned mode);

/// At most this many descriptors wait for `closeInBackground`; beyond it, descriptors are closed
/// on the calling thread.
constexpr qsizetype maximumPendingBackgroundCloses = 64;

/// Closes `descriptor` on a thread of its own, soon, so that freeing the file of a name that is
/// gone does not hold up the caller. Closes it at once when that thread cannot be had or too many
/// descriptors are waiting. Thread-safe.
void closeInBackground(int descriptor);

} // namespace Pellwick::Detail
