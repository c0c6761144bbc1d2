#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QString>

#include <functional>
#include <stop_token>

namespace Pellwick {

/// Copies a file through a hidden partial file beside the destination that is flushed to disk,
/// verified by content hash and only then moved into place. When `copy` returns success the
/// destination exists with verified bytes; when it fails nothing is at the destination that was
/// not there before, and no partial file is left behind.
struct VerifiedFileCopy
{
    /// Copies `source` to `destination`, creating missing folders. Never replaces an existing
    /// destination (the move's "file exists" error). Failures: `FileSystemError` from the file
    /// system and the hasher, unchanged; `VerifiedFileCopyError` for a partial file that cannot
    /// be created or hashes that differ. A source that is not a regular file is refused before
    /// any byte is read (`FileSystemError` "read" naming it, EISDIR for a folder, EINVAL for
    /// anything else); one that grows past its size at opening fails with EFBIG. `didCopyBytes`
    /// receives the cumulative byte count once per MiB; both callbacks run on the calling
    /// thread. On success `verifiedContentHash`, when given, receives the content hash that
    /// source and copy were found to share. A request on `stop` ends the copy with
    /// `CancellationError` within about a MiB, as any failure ends it. Callers must not copy to
    /// the same destination concurrently.
    [[nodiscard]] static Result<void> copy(const QString &source,
                                           const QString &destination,
                                           const FileManager &fileManager,
                                           const ContentHashing &contentHasher,
                                           const std::function<void()> &willVerify = {},
                                           const std::function<void(qint64)> &didCopyBytes = {},
                                           QString *verifiedContentHash = nullptr,
                                           std::stop_token stop = {});

    /// ".<name>.pellwick-partial" in the destination's folder; for a name too long to take the
    /// additions, ".<start of name>-<16 hex digits of its SHA-256>.pellwick-partial", within 255
    /// bytes.
    static QString partialURL(const QString &destination);
};

} // namespace Pellwick
