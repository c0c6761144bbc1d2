#include "ContentHashing.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

namespace Pellwick {

namespace {

constexpr qint64 chunkSize = 1024 * 1024;

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

} // namespace

Result<QString> SHA256ContentHasher::contentHash(const QString &path) const
{
    const FileDescriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return fileSystemFailure(QStringLiteral("open"), path, errno);
    ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const std::unique_ptr<EVP_MD_CTX, DigestDeleter> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return fileSystemFailure(QStringLiteral("digest"), path, ENOMEM);

    const auto buffer = std::make_unique<char[]>(chunkSize);
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer.get(), chunkSize);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fileSystemFailure(QStringLiteral("read"), path, errno);
        }
        if (n == 0)
            break;
        EVP_DigestUpdate(context.get(), buffer.get(), static_cast<size_t>(n));
    }

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
