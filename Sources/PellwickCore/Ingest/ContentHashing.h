#pragma once

#include <PellwickCore/Support/Result.h>

#include <QString>

#include <stop_token>

namespace Pellwick {

/// Computes a file's content hash: SHA-256 of its bytes as 64 lowercase hexadecimal characters.
/// Two files are the same when their content hashes are equal. Implementations must be
/// thread-safe.
class ContentHashing
{
public:
    ContentHashing() = default;
    ContentHashing(const ContentHashing &) = delete;
    ContentHashing &operator=(const ContentHashing &) = delete;
    virtual ~ContentHashing() = default;

    /// Fails with the file system's error when the file cannot be opened or read, and with
    /// `CancellationError` soon after `stop` is requested (within about a MiB read).
    [[nodiscard]] virtual Result<QString> contentHash(const QString &path,
                                                      std::stop_token stop = {}) const = 0;

    /// True when callers may hash several files at once, or in another order than the one their
    /// algorithm names: the calls have no effect but their results. False by default, so a
    /// hasher that counts or scripts its calls sees them one after the other, in order.
    virtual bool allowsConcurrentCalls() const { return false; }

    /// True when the hash is the SHA-256 of the file's bytes, so a digest already found for those
    /// bytes (while copying them, or piece by piece) may stand in for asking again. False by
    /// default, so a hasher that scripts or counts its calls is still asked.
    virtual bool hashIsSha256OfContent() const { return false; }
};

/// Streaming SHA-256 over OpenSSL, in 1 MiB reads. Stateless and thread-safe; reads the next
/// chunk of a large file on a thread of the shared `Executor` while it digests the last.
class SHA256ContentHasher final : public ContentHashing
{
public:
    Result<QString> contentHash(const QString &path, std::stop_token stop) const override;

    /// As above, never stopped: for callers holding this type rather than the interface.
    [[nodiscard]] Result<QString> contentHash(const QString &path) const
    {
        return contentHash(path, {});
    }

    bool allowsConcurrentCalls() const override { return true; }

    bool hashIsSha256OfContent() const override { return true; }

    /// The content hash of an in-memory byte string.
    static QString contentHash(const QByteArray &bytes);
};

} // namespace Pellwick
