#include "VerifiedFileCopy.h"

#include <PellwickCore/Support/Executor.h>
#include <PellwickCore/Support/FileContentCopy.h>

#include <cerrno>
#include <memory>
#include <optional>

#include <unistd.h>

namespace Pellwick {

namespace {

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
    const QString name = lastPathComponent(destination);
    const QString suffix = QStringLiteral(".pellwick-partial");
    if (name.toUtf8().size() + 1 + suffix.size() <= maximumNameBytes)
        return folder + QLatin1Char('.') + name + suffix;
    // A name near the file system's limit leaves no room for the additions: the partial file
    // takes a start of the name and a digest of the whole, still one per destination.
    const QString digest = SHA256ContentHasher::contentHash(name.toUtf8()).left(16);
    const qsizetype room = maximumNameBytes - 1 - 1 - digest.size() - suffix.size();
    return folder + QLatin1Char('.') + leadingUtf8Bytes(name, room) + QLatin1Char('-') + digest
           + suffix;
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
    if (Result<void> created = fileManager.createFile(partial); !created) {
        return failure(VerifiedFileCopyError{
            VerifiedFileCopyError::UnableToCreatePartial{partial, ErrorCause(created.error())}});
    }

    std::unique_ptr<FileHandle> sourceHandle;
    std::unique_ptr<FileHandle> partialHandle;
    bool moved = false;

    auto run = [&]() -> Result<void> {
        PELLWICK_TRY_ASSIGN(sourceHandle, fileManager.openForReading(source));
        PELLWICK_TRY_ASSIGN(FileAttributes opensAs, sourceHandle->attributes());
        PELLWICK_TRY(requireRegularFile(opensAs.type, source));
        PELLWICK_TRY_ASSIGN(partialHandle, fileManager.openForWriting(partial));

        PELLWICK_TRY(copyFileContents(
            *sourceHandle, *partialHandle, source, partial, didCopyBytes, opensAs.size, stop));
        PELLWICK_TRY(partialHandle->synchronize());
        // Verify what reached storage, not what is still in the page cache.
        partialHandle->dropCachedPages();

        if (willVerify)
            willVerify();

        PELLWICK_TRY_ASSIGN(auto hashes, hashBoth(contentHasher, source, partial, stop));
        if (hashes.first != hashes.second)
            return failure(VerifiedFileCopyError{VerifiedFileCopyError::ContentHashMismatch{}});

        sourceHandle->close();
        partialHandle->close();
        PELLWICK_TRY(fileManager.moveItem(partial, destination));
        moved = true;
        // The caller treats the copy as verified from here on: the new name must be durable. A
        // name that may not survive a power loss is no copy; it is taken away again, so that a
        // failed copy leaves nothing at the destination.
        if (Result<void> flushed = fileManager.synchronizeDirectory(folder); !flushed) {
            (void) fileManager.removeItem(destination);
            return flushed;
        }
        if (verifiedContentHash)
            *verifiedContentHash = hashes.second;
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
