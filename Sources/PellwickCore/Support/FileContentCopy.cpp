#include "FileContentCopy.h"

#include <PellwickCore/Support/PageAlignedBuffer.h>

#include <cerrno>
#include <optional>

#include <unistd.h>

namespace Pellwick {

namespace {

constexpr qint64 chunkSize = qint64{1024} * 1024;

/// Copies one chunk of up to `chunkSize` bytes in the kernel. Returns the bytes copied (0 at end
/// of file), or -1 with `errno` set when the kernel cannot copy between these files.
qint64 kernelCopyChunk(int from, int to)
{
    qint64 copied = 0;
    while (copied < chunkSize) {
        const ssize_t n = ::copy_file_range(
            from, nullptr, to, nullptr, static_cast<size_t>(chunkSize - copied), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return copied > 0 ? copied : -1;
        }
        if (n == 0)
            break;
        copied += n;
    }
    return copied;
}

bool kernelCopyUnsupported(int error)
{
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP
           || error == EBADF || error == ETXTBSY;
}

/// Reads up to `chunkSize` bytes, looping over short reads so each call fills one chunk.
Result<qint64> readChunk(FileHandle &source, char *buffer)
{
    qint64 filled = 0;
    while (filled < chunkSize) {
        Result<qint64> n = source.read(buffer + filled, chunkSize - filled);
        if (!n)
            return n;
        if (*n == 0)
            break;
        filled += *n;
    }
    return filled;
}

/// Where a failed kernel copy most likely failed: a full or read-only destination is the copy's,
/// anything else (an I/O error on a card, say) is reported against the source.
QString kernelCopyFailurePath(int error, const QString &source, const QString &partial)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case EROFS:
        return partial;
    default:
        return source;
    }
}

} // namespace

Result<void> copyFileContents(FileHandle &source,
                              FileHandle &partial,
                              const QString &sourcePath,
                              const QString &partialPath,
                              const std::function<void(qint64)> &didCopyBytes,
                              qint64 sourceLimit,
                              const std::stop_token &stop)
{
    qint64 total = 0;
    const int from = source.nativeDescriptor();
    const int to = partial.nativeDescriptor();
    bool useKernel = from >= 0 && to >= 0;
    std::optional<PageAlignedBuffer> buffer;

    for (;;) {
        if (stop.stop_requested())
            return failure(CancellationError{});
        qint64 n = 0;
        if (useKernel) {
            n = kernelCopyChunk(from, to);
            if (n < 0) {
                const int error = errno;
                if (total == 0 && kernelCopyUnsupported(error)) {
                    // Nothing copied yet and both offsets still at 0: carry on through the handles.
                    useKernel = false;
                    continue;
                }
                return fileSystemFailure(QStringLiteral("copy_file_range"),
                                         kernelCopyFailurePath(error, sourcePath, partialPath),
                                         error);
            }
        } else {
            if (!buffer)
                buffer.emplace(chunkSize);
            PELLWICK_TRY_ASSIGN(n, readChunk(source, buffer->data()));
            if (n > 0)
                PELLWICK_TRY(partial.write(buffer->data(), n));
        }
        if (n == 0)
            break;
        if (total + n > sourceLimit)
            return fileSystemFailure(QStringLiteral("read"), sourcePath, EFBIG);
        // Let the disk work while the next chunk is copied, not only when the copy is flushed.
        partial.startWriteBack(total, n);
        total += n;
        if (didCopyBytes)
            didCopyBytes(total);
    }
    return {};
}

} // namespace Pellwick
