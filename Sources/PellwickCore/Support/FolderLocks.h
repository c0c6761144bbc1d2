#pragma once

#include <PellwickCore/Support/Result.h>

#include <QString>

#include <vector>

namespace Pellwick {

/// Exclusive locks of this process on folders, each held through `flock` on a lock file in its
/// folder: no two processes hold one folder's lock at a time, and a lock ends with the process
/// however it ends (a killed or crashed process leaves its file behind, never its lock). The files
/// stay when the locks are released: removing one would let a process that opened it before the
/// removal and another that creates it anew both hold the lock. Not thread-safe; the descriptors
/// are not inherited by programs this process starts.
class FolderLocks
{
public:
    FolderLocks() = default;
    FolderLocks(const FolderLocks &) = delete;
    FolderLocks &operator=(const FolderLocks &) = delete;
    ~FolderLocks();

    /// Takes the lock of `folder` through its file `fileName`, creating the folder and the file
    /// when missing. True when this process holds it now, also when it already held that file
    /// under another path; false when another process holds it, in which case nothing was
    /// created. An error when the folder or the file cannot be made or opened, or the file
    /// system cannot lock.
    Result<bool> take(const QString &folder, const QString &fileName);

    /// True when another process holds the lock of `folder` through its file `fileName`, without
    /// creating or locking anything; false also when the file cannot be read.
    static bool isHeldElsewhere(const QString &folder, const QString &fileName);

    /// Takes the lock of the folder `folder` itself, writing nothing into it (for a folder of
    /// the user's, whose every file the application lists): as `take`, except that a missing
    /// folder is an error and nothing is created.
    Result<bool> takeFolder(const QString &folder);
    /// True when another process holds the lock of the folder `folder` itself.
    static bool isFolderHeldElsewhere(const QString &folder);

private:
    /// Keeps the lock of `descriptor`, opened on `path`, unless this process holds that file
    /// already (the descriptor is then closed) or another process does (false).
    Result<bool> hold(int descriptor, const QString &path);
    std::vector<int> m_descriptors;
};

} // namespace Pellwick
