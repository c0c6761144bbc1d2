#pragma once

#include <PellwickCore/Support/Result.h>

#include <QString>

namespace Pellwick {

/// Computes a file's content hash: SHA-256 of its bytes as 64 lowercase hexadecimal characters.
/// Two files are the same when their content hashes are equal. Implementations must be
/// thread-safe: the Ingest Cache hashes several files at once.
class ContentHashing
{
public:
    ContentHashing() = default;
    ContentHashing(const ContentHashing &) = delete;
    ContentHashing &operator=(const ContentHashing &) = delete;
    virtual ~ContentHashing() = default;

    /// Fails with the file system's error when the file cannot be opened or read.
    [[nodiscard]] virtual Result<QString> contentHash(const QString &path) const = 0;
};

/// Streaming SHA-256 over OpenSSL, in 1 MiB reads. Stateless and thread-safe.
class SHA256ContentHasher final : public ContentHashing
{
public:
    Result<QString> contentHash(const QString &path) const override;

    /// The content hash of an in-memory byte string.
    static QString contentHash(const QByteArray &bytes);
};

} // namespace Pellwick
