#include "FileManager.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Pellwick {

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

class LocalFileHandle final : public FileHandle
{
public:
    LocalFileHandle(int fd, QString path)
        : m_fd(fd)
        , m_path(std::move(path))
    {}

    ~LocalFileHandle() override { close(); }

    Result<qint64> read(char *buffer, qint64 maxSize) override
    {
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, static_cast<size_t>(maxSize));
            if (n >= 0)
                return static_cast<qint64>(n);
            if (errno != EINTR)
                return fileSystemFailure(QStringLiteral("read"), m_path, errno);
        }
    }

    Result<void> write(const char *data, qint64 size) override
    {
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, data + done, static_cast<size_t>(size - done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return fileSystemFailure(QStringLiteral("write"), m_path, errno);
            }
            done += n;
        }
        return {};
    }

    Result<void> seek(qint64 offset) override
    {
        if (::lseek(m_fd, offset, SEEK_SET) < 0)
            return fileSystemFailure(QStringLiteral("seek"), m_path, errno);
        return {};
    }

    Result<void> synchronize() override
    {
        if (::fsync(m_fd) != 0)
            return fileSystemFailure(QStringLiteral("fsync"), m_path, errno);
        return {};
    }

    void dropCachedPages() override { ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_DONTNEED); }

    void close() override
    {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    int nativeDescriptor() const override { return m_fd; }

private:
    int m_fd;
    QString m_path;
};

Result<std::unique_ptr<FileHandle>>
openHandle(const QString &path, int flags, const char *operation)
{
    const int fd = ::open(encoded(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return fileSystemFailure(QString::fromLatin1(operation), path, errno);
    return std::unique_ptr<FileHandle>(std::make_unique<LocalFileHandle>(fd, path));
}

Result<void> removeRecursively(const QByteArray &path)
{
    struct stat st
    {};

    if (::lstat(path.constData(), &st) != 0)
        return fileSystemFailure(QStringLiteral("remove"), QFile::decodeName(path), errno);
    if (S_ISDIR(st.st_mode)) {
        DIR *dir = ::opendir(path.constData());
        if (!dir)
            return fileSystemFailure(QStringLiteral("opendir"), QFile::decodeName(path), errno);
        QList<QByteArray> children;
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                children.append(path + '/' + name);
        }
        ::closedir(dir);
        for (const QByteArray &child : children)
            PELLWICK_TRY(removeRecursively(child));
        if (::rmdir(path.constData()) != 0)
            return fileSystemFailure(QStringLiteral("rmdir"), QFile::decodeName(path), errno);
        return {};
    }
    if (::unlink(path.constData()) != 0)
        return fileSystemFailure(QStringLiteral("unlink"), QFile::decodeName(path), errno);
    return {};
}

} // namespace

Result<void> LocalFileManager::createDirectory(const QString &path) const
{
    struct stat st
    {};

    const QByteArray target = encoded(path);
    if (::stat(target.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return {};
        return fileSystemFailure(QStringLiteral("mkdir"), path, EEXIST);
    }
    const QString parent = parentPath(path);
    if (parent != path && !parent.isEmpty())
        PELLWICK_TRY(createDirectory(parent));
    if (::mkdir(target.constData(), 0777) != 0 && errno != EEXIST)
        return fileSystemFailure(QStringLiteral("mkdir"), path, errno);
    return {};
}

bool LocalFileManager::createFile(const QString &path) const
{
    const int fd
        = ::open(encoded(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

Result<void> LocalFileManager::removeItem(const QString &path) const
{
    return removeRecursively(encoded(path));
}

Result<void> LocalFileManager::moveItem(const QString &from, const QString &to) const
{
    const QByteArray source = encoded(from);
    const QByteArray target = encoded(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE)
        == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return fileSystemFailure(QStringLiteral("rename"), to, errno);

    // The file system refuses the flag: a hard link fails on an existing name, so it cannot
    // replace one either.
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return {};
    }
    if (errno == EEXIST)
        return fileSystemFailure(QStringLiteral("link"), to, EEXIST);
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EXDEV
        && errno != ENOSYS)
        return fileSystemFailure(QStringLiteral("link"), to, errno);

    // No hard links either: check, then rename, as the last resort.
    struct stat st
    {};

    if (::lstat(target.constData(), &st) == 0)
        return fileSystemFailure(QStringLiteral("rename"), to, EEXIST);
    if (::rename(source.constData(), target.constData()) != 0)
        return fileSystemFailure(QStringLiteral("rename"), to, errno);
    return {};
}

Result<void> LocalFileManager::replaceItem(const QString &from, const QString &to) const
{
    if (::rename(encoded(from).constData(), encoded(to).constData()) != 0)
        return fileSystemFailure(QStringLiteral("rename"), to, errno);
    return {};
}

bool LocalFileManager::fileExists(const QString &path) const
{
    struct stat st
    {};

    return ::stat(encoded(path).constData(), &st) == 0;
}

bool LocalFileManager::isReadableFile(const QString &path) const
{
    return ::access(encoded(path).constData(), R_OK) == 0;
}

Result<FileAttributes> LocalFileManager::attributesOfItem(const QString &path) const
{
    struct stat st
    {};

    if (::lstat(encoded(path).constData(), &st) != 0)
        return fileSystemFailure(QStringLiteral("stat"), path, errno);
    FileAttributes attributes;
    if (S_ISREG(st.st_mode))
        attributes.type = FileAttributes::Type::Regular;
    else if (S_ISDIR(st.st_mode))
        attributes.type = FileAttributes::Type::Directory;
    else if (S_ISLNK(st.st_mode))
        attributes.type = FileAttributes::Type::SymbolicLink;
    attributes.size = static_cast<qint64>(st.st_size);
    attributes.modificationDate = Date::fromUnixSeconds(
        static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9);
    attributes.device = static_cast<quint64>(st.st_dev);
    attributes.inode = static_cast<quint64>(st.st_ino);
    return attributes;
}

Result<QStringList> LocalFileManager::contentsOfDirectory(const QString &path) const
{
    DIR *dir = ::opendir(encoded(path).constData());
    if (!dir)
        return fileSystemFailure(QStringLiteral("opendir"), path, errno);
    QStringList names;
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(QFile::decodeName(name));
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0)
        return fileSystemFailure(QStringLiteral("readdir"), path, readError);
    return names;
}

Result<QString> LocalFileManager::resolvingSymlinks(const QString &path) const
{
    char resolved[PATH_MAX];
    if (!::realpath(encoded(path).constData(), resolved))
        return fileSystemFailure(QStringLiteral("realpath"), path, errno);
    return QFile::decodeName(resolved);
}

Result<std::unique_ptr<FileHandle>> LocalFileManager::openForReading(const QString &path) const
{
    return openHandle(path, O_RDONLY, "open");
}

Result<std::unique_ptr<FileHandle>> LocalFileManager::openForWriting(const QString &path) const
{
    return openHandle(path, O_WRONLY, "open");
}

Result<void> LocalFileManager::synchronizeDirectory(const QString &path) const
{
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fileSystemFailure(QStringLiteral("open"), path, errno);
    const int rc = ::fsync(fd);
    const int syncError = errno;
    ::close(fd);
    if (rc != 0 && syncError != EINVAL)
        return fileSystemFailure(QStringLiteral("fsync"), path, syncError);
    return {};
}

Result<QByteArray> readContents(const FileManager &fileManager, const QString &path)
{
    Result<std::unique_ptr<FileHandle>> handle = fileManager.openForReading(path);
    if (!handle)
        return tl::unexpected<Error>(std::move(handle).error());
    QByteArray contents;
    constexpr qint64 chunkSize = 64 * 1024;
    for (;;) {
        const qsizetype used = contents.size();
        contents.resize(used + chunkSize);
        Result<qint64> n = (*handle)->read(contents.data() + used, chunkSize);
        if (!n)
            return tl::unexpected<Error>(std::move(n).error());
        contents.resize(used + *n);
        if (*n == 0)
            return contents;
    }
}

QString parentPath(const QString &path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QStringLiteral(".");
    if (slash == 0)
        return QStringLiteral("/");
    return trimmed.left(slash);
}

QString lastPathComponent(const QString &path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
    return slash < 0 || trimmed == QLatin1String("/") ? trimmed : trimmed.mid(slash + 1);
}

bool isSafePathComponent(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QChar(u'\0'));
}

} // namespace Pellwick
