#pragma once

#include <PellwickCore/Support/FileManager.h>

namespace Pellwick {

/// Removes the file at `path` only while it is the file `expected` describes (type, size,
/// modification date, device and inode). The file is first renamed to a hidden name in its folder
/// and examined there, where no save can reach it any more: a version saved over `path` by a
/// rename at any moment is never the one unlinked, and a version found under the hidden name is
/// given its name back (or, when yet another version took the name meanwhile, kept under the
/// hidden one). True when the file was removed or nothing is at `path`; false when something else
/// is there. Fails with the file system's error.
[[nodiscard]] Result<bool> removeFileIfStill(const FileManager &fileManager,
                                             const QString &path,
                                             const FileAttributes &expected);

} // namespace Pellwick
