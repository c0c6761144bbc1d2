#pragma once

#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QString>

#include <functional>
#include <limits>
#include <stop_token>

namespace Pellwick {

/// Copies what remains of `source` from its current position to `destination` at its current
/// position, in the kernel when both handles have descriptors and the file systems allow it,
/// else through the handles in 1 MiB chunks. `didCopyBytes` gets the running total after each
/// chunk. The source may not yield more than `sourceLimit` bytes: a file still being written (or
/// one swapped for an endless one) stops the copy with EFBIG as soon as more has arrived.
/// A stop through `stop` (checked before each chunk) ends it with `CancellationError`.
/// Failures name `sourcePath`, or `destinationPath` when the destination is full or read-only.
[[nodiscard]] Result<void> copyFileContents(FileHandle &source,
                                            FileHandle &destination,
                                            const QString &sourcePath,
                                            const QString &destinationPath,
                                            const std::function<void(qint64)> &didCopyBytes = {},
                                            qint64 sourceLimit = std::numeric_limits<qint64>::max(),
                                            const std::stop_token &stop = {});

} // namespace Pellwick
