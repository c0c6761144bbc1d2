#include "VerifiedFileCopy.h"

#include <PellwickCore/Support/Executor.h>
#include <PellwickCore/Support/PageAlignedBuffer.h>

#include <cerrno>
#include <memory>
#include <optional>

#include <unistd.h>

namespace Pellwick {

namespace {

constexpr qint64 chunkSize = 1024 * 1024;

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

/// Copies the source's bytes to the partial file. The source may not grow past `sourceSize`, its
/// size when it was opened: a file still being written (or one swapped for an endless one) stops
/// the copy with EFBIG as soon as more has arrived.
Result<void> copyBytes(FileHandle &source,
                       FileHandle &partial,
                       const QString &sourcePath,
                       const QString &partialPath,
                       qint64 sourceSize,
                       const std::function<void(qint64)> &didCopyBytes,
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
            Result<qint64> read = readChunk(source, buffer->data());
            if (!read)
                return tl::unexpected<Error>(std::move(read).error());
            n = *read;
            if (n > 0)
                PELLWICK_TRY(partial.write(buffer->data(), n));
        }
        if (n == 0)
            break;
        if (total + n > sourceSize)
            return fileSystemFailure(QStringLiteral("read"), sourcePath, EFBIG);
        // Let the disk work while the next chunk is copied, not only when the copy is flushed.
        partial.startWriteBack(total, n);
        total += n;
        if (didCopyBytes)
            didCopyBytes(total);
    }
    return {};
}

/// Hashes source then copy. With a hasher that allows it, both files are read at once (the copy
/// from storage, the source most likely from the page cache), the source on a thread of the
/// shared `Executor` when one is free: the result is the same, only sooner. Otherwise the hasher
/// is called in order, source first, on this thread.
Result<std::pair<QString, QString>> hashBoth(const ContentHashing &hasher,
                                             const QString &source,
                                             const QString &copy,
                                             const std::stop_token &stop)
{
    std::optional<Result<QString>> sourceHash;
    auto hashSource = [&] { sourceHash.emplace(hasher.contentHash(source, stop)); };
    std::optional<Executor::Task> worker;
    if (hasher.allowsConcurrentCalls())
        worker = Executor::shared()->tryStart(hashSource);
    if (!worker) {
        hashSource();
        if (!*sourceHash)
            return tl::unexpected<Error>(std::move(*sourceHash).error());
    }
    Result<QString> copyHash = hasher.contentHash(copy, stop);
    if (worker)
        worker->wait();
    if (!*sourceHash)
        return tl::unexpected<Error>(std::move(*sourceHash).error());
    if (!copyHash)
        return tl::unexpected<Error>(std::move(copyHash).error());
    return std::make_pair(std::move(**sourceHash), std::move(*copyHash));
}

} // namespace

QString VerifiedFileCopy::partialURL(const QString &destination)
{
    QString folder = parentPath(destination);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QLatin1Char('.') + lastPathComponent(destination)
           + QStringLiteral(".pellwick-partial");
}

Result<void> VerifiedFileCopy::copy(const QString &source,
                                    const QString &destination,
                                    const FileManager &fileManager,
                                    const ContentHashing &contentHasher,
                                    const std::function<void()> &willVerify,
                                    const std::function<void(qint64)> &didCopyBytes,
                                    QString *verifiedContentHash,
                                    std::stop_token stop)
{
    if (stop.stop_requested())
        return failure(CancellationError{});
    const QString partial = partialURL(destination);
    const QString folder = parentPath(destination);

    PELLWICK_TRY(fileManager.createDirectory(folder));
    (void) fileManager.removeItem(partial); // a leftover of an interrupted copy, if any
    if (!fileManager.createFile(partial))
        return failure(
            VerifiedFileCopyError{VerifiedFileCopyError::UnableToCreatePartial{partial}});

    std::unique_ptr<FileHandle> sourceHandle;
    std::unique_ptr<FileHandle> partialHandle;
    bool moved = false;

    auto run = [&]() -> Result<void> {
        Result<std::unique_ptr<FileHandle>> opened = fileManager.openForReading(source);
        if (!opened)
            return tl::unexpected<Error>(std::move(opened).error());
        sourceHandle = std::move(*opened);
        Result<FileAttributes> opensAs = sourceHandle->attributes();
        if (!opensAs)
            return tl::unexpected<Error>(std::move(opensAs).error());
        PELLWICK_TRY(requireRegularFile(opensAs->type, source));
        opened = fileManager.openForWriting(partial);
        if (!opened)
            return tl::unexpected<Error>(std::move(opened).error());
        partialHandle = std::move(*opened);

        PELLWICK_TRY(copyBytes(
            *sourceHandle, *partialHandle, source, partial, opensAs->size, didCopyBytes, stop));
        PELLWICK_TRY(partialHandle->synchronize());
        // Verify what reached storage, not what is still in the page cache.
        partialHandle->dropCachedPages();

        if (willVerify)
            willVerify();

        Result<std::pair<QString, QString>> hashes = hashBoth(contentHasher, source, partial, stop);
        if (!hashes)
            return tl::unexpected<Error>(std::move(hashes).error());
        if (hashes->first != hashes->second)
            return failure(VerifiedFileCopyError{VerifiedFileCopyError::ContentHashMismatch{}});

        sourceHandle->close();
        partialHandle->close();
        PELLWICK_TRY(fileManager.moveItem(partial, destination));
        moved = true;
        // Make the new name durable: the caller treats the copy as verified from here on. The
        // copy is in place whatever this reports, so a failure to flush the folder is not one of
        // the copy's.
        (void) fileManager.synchronizeDirectory(folder);
        if (verifiedContentHash)
            *verifiedContentHash = hashes->second;
        return {};
    };

    Result<void> result = run();
    if (sourceHandle)
        sourceHandle->close();
    if (partialHandle)
        partialHandle->close();
    if (!moved)
        (void) fileManager.removeItem(partial);
    return result;
}

} // namespace Pellwick
