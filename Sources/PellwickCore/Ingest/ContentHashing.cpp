#include "ContentHashing.h"

#include <PellwickCore/Support/Executor.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/PageAlignedBuffer.h>

#include <QFile>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Pellwick {

namespace {

constexpr qint64 chunkSize = qint64{1024} * 1024;

struct DigestDeleter
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

QString hexDigest(const unsigned char *digest, unsigned int length)
{
    static constexpr char hex[] = "0123456789abcdef";
    QString out;
    out.reserve(static_cast<qsizetype>(length) * 2);
    for (unsigned int i = 0; i < length; ++i) {
        out.append(QLatin1Char(hex[digest[i] >> 4]));
        out.append(QLatin1Char(hex[digest[i] & 0x0f]));
    }
    return out;
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {}

    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd); // an error from closing a file only read is ignored
    }

    int get() const { return m_fd; }

private:
    int m_fd;
};

/// One read of up to `chunkSize` bytes: the byte count, 0 at the end, or -1 with `errno` set.
ssize_t readChunk(int fd, char *buffer)
{
    for (;;) {
        const ssize_t n = ::read(fd, buffer, chunkSize);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

/// What ended a digest: 0 at the end of the file, the errno of a failed read, or `digestCancelled`.
constexpr int digestCancelled = -1;

/// Reads and digests chunk after chunk on this thread.
int digestInTurn(int fd, EVP_MD_CTX *context, const std::stop_token &stop)
{
    const PageAlignedBuffer buffer(chunkSize);
    for (;;) {
        if (stop.stop_requested())
            return digestCancelled;
        const ssize_t n = readChunk(fd, buffer.data());
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        EVP_DigestUpdate(context, buffer.data(), static_cast<size_t>(n));
    }
}

/// Like `digestInTurn`, but a helper thread reads the next chunk while this one digests the
/// last, so the kernel's copying (or the storage) and the digest overlap. Two chunks in memory.
int digestPipelined(int fd, EVP_MD_CTX *context, const std::stop_token &stop)
{
    struct Chunk
    {
        PageAlignedBuffer bytes{chunkSize};
        ssize_t size = 0;
        int error = 0;
        bool full = false;
    };

    std::array<Chunk, 2> chunks;
    std::mutex mutex;
    std::condition_variable changed;
    bool abandoned = false;

    auto readAhead = [&] {
        for (std::size_t i = 0;; ++i) {
            Chunk &chunk = chunks[i % 2];
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return !chunk.full || abandoned; });
                if (abandoned)
                    return;
            }
            const ssize_t n = readChunk(fd, chunk.bytes.data());
            const int error = n < 0 ? errno : 0;
            {
                const std::lock_guard lock(mutex);
                chunk.size = n;
                chunk.error = error;
                chunk.full = true;
            }
            changed.notify_all();
            if (n <= 0)
                return;
        }
    };

    std::optional<Executor::Task> reader = Executor::shared()->tryStart(readAhead);
    if (!reader)
        return digestInTurn(fd, context, stop); // no thread to spare: the same digest, in turn

    int result = 0;
    for (std::size_t i = 0;; ++i) {
        if (stop.stop_requested()) {
            result = digestCancelled;
            break;
        }
        Chunk &chunk = chunks[i % 2];
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return chunk.full; });
        }
        if (chunk.size <= 0) {
            result = chunk.size < 0 ? chunk.error : 0;
            break;
        }
        EVP_DigestUpdate(context, chunk.bytes.data(), static_cast<size_t>(chunk.size));
        {
            const std::lock_guard lock(mutex);
            chunk.full = false;
        }
        changed.notify_all();
    }
    {
        const std::lock_guard lock(mutex);
        abandoned = true;
    }
    changed.notify_all();
    reader->wait();
    return result;
}

} // namespace

Result<QString> SHA256ContentHasher::contentHash(const QString &path, std::stop_token stop) const
{
    if (stop.stop_requested())
        return failure(CancellationError{});
    // Without waiting for a writer: a FIFO put where a file was is refused below, not read.
    const FileDescriptor file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0)
        return fileSystemFailure(QStringLiteral("open"), path, errno);

    struct stat status
    {};

    if (::fstat(file.get(), &status) != 0)
        return fileSystemFailure(QStringLiteral("fstat"), path, errno);
    PELLWICK_TRY(requireRegularFile(S_ISREG(status.st_mode)   ? FileAttributes::Type::Regular
                                    : S_ISDIR(status.st_mode) ? FileAttributes::Type::Directory
                                                              : FileAttributes::Type::Other,
                                    path));
    ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const std::unique_ptr<EVP_MD_CTX, DigestDeleter> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return fileSystemFailure(QStringLiteral("digest"), path, ENOMEM);

    // Only worth a thread when there are several chunks to overlap.
    const bool large = status.st_size > 2 * chunkSize;
    const int readError = large ? digestPipelined(file.get(), context.get(), stop)
                                : digestInTurn(file.get(), context.get(), stop);
    if (readError == digestCancelled)
        return failure(CancellationError{});
    if (readError != 0)
        return fileSystemFailure(QStringLiteral("read"), path, readError);

    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest.data(), &length);
    return hexDigest(digest.data(), length);
}

QString SHA256ContentHasher::contentHash(const QByteArray &bytes)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_Digest(bytes.constData(),
               static_cast<size_t>(bytes.size()),
               digest.data(),
               &length,
               EVP_sha256(),
               nullptr);
    return hexDigest(digest.data(), length);
}

} // namespace Pellwick
