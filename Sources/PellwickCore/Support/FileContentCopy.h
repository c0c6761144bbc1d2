#pragma once

#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QString>

#include <functional>

namespace Pellwick {

/// Copies what remains of `source` from its current position to `destination` at its current
/// position, in the kernel when both handles have descriptors and the file systems allow it,
/// else through the handles in 1 MiB chunks. `didCopyBytes` gets the running total after each
/// chunk. Failures name `sourcePath`, or `destinationPath` when the destination is full or
/// read-only.
[[nodiscard]] Result<void> copyFileContents(FileHandle &source,
                                            FileHandle &destination,
                                            const QString &sourcePath,
                                            const QString &destinationPath,
                                            const std::function<void(qint64)> &didCopyBytes = {});

} // namespace Pellwick
