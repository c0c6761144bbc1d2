#pragma once

#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QString>

#include <functional>

namespace Pellwick {

/// How `walkDirectoryTree` treats hidden entries and folders it cannot list.
struct DirectoryWalkOptions
{
    /// Entries whose names begin with "." are neither visited nor descended into.
    bool skipHiddenEntries = false;
    /// A root that cannot be listed (missing, not a folder, unreadable) gives an empty walk.
    bool passOverUnreadableRoot = false;
    /// Folders below the root that cannot be listed are passed over instead of failing the walk.
    bool passOverUnreadableSubfolders = false;
    /// Entries carry only their type (`FileManager::typedEntriesOfDirectory`), which spares a
    /// status call per entry.
    bool typesOnly = false;
};

/// Called once per entry with the path of the folder holding it; returns true to descend into a
/// folder entry (the answer is ignored for other entries), or an error that ends the walk.
using DirectoryWalkVisitor
    = std::function<Result<bool>(const QString &folder, const DirectoryEntry &entry)>;

/// Visits the tree below `root` depth first, each folder's entries in the order the file manager
/// lists them, never following symbolic links. A folder whose name is not valid UTF-8 cannot be
/// listed (`FileSystemError` with EILSEQ naming it). Fails with the first listing error not
/// passed over, or the visitor's error.
[[nodiscard]] Result<void> walkDirectoryTree(const FileManager &fileManager,
                                             const QString &root,
                                             const DirectoryWalkOptions &options,
                                             const DirectoryWalkVisitor &visit);

/// `folder` + "/" + `name`, without doubling the slash of the file-system root.
QString appendingPathComponent(const QString &folder, const QString &name);

} // namespace Pellwick
