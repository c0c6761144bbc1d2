#pragma once

#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>

namespace Pellwick {

/// Who may read a file that `writeFileAtomically` puts in place.
enum class FileAccess {
    Shared,    ///< as the process's file-creation mask allows
    OwnerOnly, ///< the owner only (for files holding credentials)
};

/// Replaces the file at `path` with `data` so that a crash leaves either the old file or the new
/// one: hidden temporary file in the same folder, write, flush, rename over, flush the folder.
/// The folder must exist. On failure the temporary file is removed and `path` is untouched.
[[nodiscard]] Result<void> writeFileAtomically(const FileManager &fileManager,
                                               const QString &path,
                                               const QByteArray &data,
                                               FileAccess access = FileAccess::Shared);

/// As above, through the given temporary path, which must be in the same folder as `path`.
[[nodiscard]] Result<void> writeFileAtomically(const FileManager &fileManager,
                                               const QString &path,
                                               const QByteArray &data,
                                               const QString &temporaryPath,
                                               FileAccess access = FileAccess::Shared);

} // namespace Pellwick
