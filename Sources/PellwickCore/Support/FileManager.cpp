#include "FileManager.h"

#include "FileManager_p.h"

#include <PellwickCore/Support/Executor.h>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringDecoder>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Pellwick {

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

/// `FileManager::availableSpace` of the local file system.
Result<std::optional<FileSystemSpace>> readSpace(const QString &path)
{
    // A folder made by the first write is not there yet: ask the file system that will hold it.
    QString current = QDir::cleanPath(path);
    for (;;) {
        struct statvfs info
        {};

        if (::statvfs(encoded(current).constData(), &info) == 0) {
            if (info.f_frsize == 0)
                return std::optional<FileSystemSpace>();
            FileSystemSpace space;
            space.blockSize = static_cast<qint64>(info.f_frsize);
            space.availableBytes = static_cast<qint64>(info.f_bavail) * space.blockSize;
            space.availableFileEntries
                = FileSystemSpace::reportedFileEntries(info.f_files, info.f_favail);
            return std::optional(space);
        }
        const int error = errno;
        const QString parent = parentPath(current);
        if ((error != ENOENT && error != ENOTDIR) || parent == current)
            return fileSystemFailure(QStringLiteral("statvfs"), current, error);
        current = parent;
    }
}

/// A failure of `operation` at `path`. A full disk is told apart from one that still has bytes
/// but no free file entries: freeing space does not help the second.
tl::unexpected<Error> diskFailure(const QString &operation, const QString &path, int code)
{
    FileSystemError error{operation, path, code};
    if (code == ENOSPC) {
        const Result<std::optional<FileSystemSpace>> space = readSpace(path);
        if (space && *space && (*space)->availableFileEntries == 0 && (*space)->availableBytes > 0)
            error.freeBytesWithoutFileEntries = (*space)->availableBytes;
    }
    return failure(std::move(error));
}

FileAttributes attributesFromStat(const struct stat &st);

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

    Result<qint64> readAt(char *buffer, qint64 maxSize, qint64 offset) override
    {
        for (;;) {
            const ssize_t n = ::pread(m_fd, buffer, static_cast<size_t>(maxSize), offset);
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
                return diskFailure(QStringLiteral("write"), m_path, errno);
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

    Result<void> synchronizeData() override
    {
        if (::fdatasync(m_fd) != 0)
            return fileSystemFailure(QStringLiteral("fdatasync"), m_path, errno);
        return {};
    }

    Result<void> truncate(qint64 size) override
    {
        for (;;) {
            if (::ftruncate(m_fd, size) == 0)
                return {};
            if (errno != EINTR)
                return fileSystemFailure(QStringLiteral("ftruncate"), m_path, errno);
        }
    }

    Result<FileAttributes> attributes() const override
    {
        struct stat st
        {};

        if (::fstat(m_fd, &st) != 0)
            return fileSystemFailure(QStringLiteral("fstat"), m_path, errno);
        return attributesFromStat(st);
    }

    void startWriteBack(qint64 offset, qint64 length) override
    {
        ::sync_file_range(m_fd, offset, length, SYNC_FILE_RANGE_WRITE);
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
        return diskFailure(QString::fromLatin1(operation), path, errno);
    return std::unique_ptr<FileHandle>(std::make_unique<LocalFileHandle>(fd, path));
}

/// Where an item lives: its file system and, where the kernel tells, the mount it was reached
/// through (a bind mount shares its device with the folder it shows).
struct Placement
{
    dev_t device = 0;
    std::optional<quint64> mount;

    bool operator==(const Placement &) const = default;
};

/// Removes `path` and everything under it. Nothing on another mount is touched: a volume mounted
/// somewhere inside (`within` is where the item first asked for lives) fails the removal with
/// EXDEV, naming the mount point, before anything on that volume is removed.
Result<void> removeRecursively(const QByteArray &path,
                               std::optional<Placement> within = std::nullopt)
{
    struct statx stx
    {};

    if (::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MNT_ID, &stx)
        != 0)
        return fileSystemFailure(QStringLiteral("remove"), QFile::decodeName(path), errno);
    Placement placement{makedev(stx.stx_dev_major, stx.stx_dev_minor), std::nullopt};
    if ((stx.stx_mask & STATX_MNT_ID) != 0)
        placement.mount = stx.stx_mnt_id;
    if (within && placement != *within)
        return fileSystemFailure(QStringLiteral("remove"), QFile::decodeName(path), EXDEV);
    if (S_ISDIR(stx.stx_mode)) {
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
            PELLWICK_TRY(removeRecursively(child, placement));
        if (::rmdir(path.constData()) != 0)
            return fileSystemFailure(QStringLiteral("rmdir"), QFile::decodeName(path), errno);
        return {};
    }
    if (::unlink(path.constData()) != 0)
        return fileSystemFailure(QStringLiteral("unlink"), QFile::decodeName(path), errno);
    return {};
}

FileAttributes attributesFromStat(const struct stat &st)
{
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

/// Length of the well-formed UTF-8 sequence at the start of `s`, or 0 when there is none.
qsizetype utf8SequenceLength(const unsigned char *s, qsizetype available)
{
    const unsigned char lead = s[0];
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0)
            low = 0xa0; // overlong
        else if (lead == 0xed)
            high = 0x9f; // surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0)
            low = 0x90; // overlong
        else if (lead == 0xf4)
            high = 0x8f; // beyond U+10FFFF
    } else {
        return 0;
    }
    if (available < length || s[1] < low || s[1] > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if (s[i] < 0x80 || s[i] > 0xbf)
            return 0;
    }
    return length;
}

/// The folders whose entries this process has flushed into their parents, and the folders a
/// thread is making or flushing. One thread at a time makes or flushes a folder; the others wait
/// and find it made and flushed, so that no caller goes on before its folder is durable, and each
/// folder is made and flushed the same way however the threads meet.
class DurableFolders
{
public:
    /// Holds a folder for the calling thread from construction to destruction.
    class Hold
    {
    public:
        explicit Hold(const QByteArray &path)
            : m_path(path)
        {
            DurableFolders &folders = instance();
            std::unique_lock lock(folders.m_mutex);
            folders.m_released.wait(lock, [&] { return !folders.m_held.contains(path); });
            folders.m_held.insert(path);
        }

        ~Hold()
        {
            DurableFolders &folders = instance();
            {
                const std::lock_guard lock(folders.m_mutex);
                folders.m_held.remove(m_path);
            }
            folders.m_released.notify_all();
        }

        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

        bool isDurable() const
        {
            const std::lock_guard lock(instance().m_mutex);
            return instance().m_durable.contains(m_path);
        }

        void markDurable() const
        {
            const std::lock_guard lock(instance().m_mutex);
            instance().m_durable.insert(m_path);
        }

    private:
        QByteArray m_path;
    };

private:
    static DurableFolders &instance()
    {
        static DurableFolders folders;
        return folders;
    }

    std::mutex m_mutex;
    std::condition_variable m_released;
    QSet<QByteArray> m_held;
    QSet<QByteArray> m_durable;
};

/// Flushes the entry of a folder that was already there into its parent, once per process: the
/// process that made it may have been killed before it did, and whatever is put into the folder
/// now would go with it at a power cut. A failed flush is tried again next time.
[[nodiscard]] Result<void> makeExistingDirectoryDurable(const FileManager &fileManager,
                                                        const QString &path,
                                                        const DurableFolders::Hold &hold)
{
    const QString parent = parentPath(path);
    if (parent == path || parent.isEmpty() || hold.isDurable())
        return {};
    PELLWICK_TRY(fileManager.synchronizeDirectory(parent));
    hold.markDurable();
    return {};
}

} // namespace

namespace Detail {

Result<void> makeDirectory(const FileManager &fileManager, const QString &path, unsigned mode)
{
    struct stat st
    {};

    const QByteArray target = encoded(path);
    const DurableFolders::Hold hold(target);
    if (::stat(target.constData(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            return fileSystemFailure(QStringLiteral("mkdir"), path, EEXIST);
        // Best effort: a parent that cannot be flushed (one this process may not list) does not
        // keep the folder from being used; `makeDirectoryDurable` is for callers that count on it.
        (void) makeExistingDirectoryDurable(fileManager, path, hold);
        return {};
    }
    const QString parent = parentPath(path);
    if (parent != path && !parent.isEmpty())
        PELLWICK_TRY(fileManager.createDirectory(parent));
    if (::mkdir(target.constData(), static_cast<mode_t>(mode)) != 0) {
        if (errno != EEXIST)
            return diskFailure(QStringLiteral("mkdir"), path, errno);
        // Made meanwhile by someone else, who may not live to flush it.
        (void) makeExistingDirectoryDurable(fileManager, path, hold);
        return {};
    }
    // The new folder's own name must survive a power cut, or so would nothing put into it.
    PELLWICK_TRY(fileManager.synchronizeDirectory(parent));
    hold.markDurable();
    return {};
}

} // namespace Detail

Result<void> makeDirectoryDurable(const FileManager &fileManager, const QString &path)
{
    const DurableFolders::Hold hold(encoded(path));
    return makeExistingDirectoryDurable(fileManager, path, hold);
}

namespace {

Result<void> makeFile(const QString &path, mode_t mode)
{
    // Always a new file: truncating an existing one in place would also empty every other name
    // (hard link) it has, and would write through a symbolic link.
    const QByteArray target = encoded(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            ::close(fd);
            return {};
        }
        if (errno != EEXIST || ::unlink(target.constData()) != 0)
            return diskFailure(QStringLiteral("create"), path, errno);
    }
    return fileSystemFailure(QStringLiteral("create"), path, EEXIST);
}

/// The entries of the folder at `path` but "." and "..", each named and then completed by
/// `describe(folder descriptor, entry, listed)`, which returns 0 or an errno: ENOENT leaves out an
/// entry removed meanwhile, any other error fails the listing.
template<typename Describe>
Result<QList<DirectoryEntry>> listDirectory(const QString &path, const Describe &describe)
{
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fileSystemFailure(QStringLiteral("opendir"), path, errno);
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        const int openError = errno;
        ::close(fd);
        return fileSystemFailure(QStringLiteral("opendir"), path, openError);
    }
    QList<DirectoryEntry> entries;
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
            DirectoryEntry listed;
            if (const int error = describe(fd, *entry, listed); error == 0) {
                std::tie(listed.name, listed.hasValidName) = decodeFileName(name);
                entries.append(std::move(listed));
            } else if (error != ENOENT) { // an entry removed meanwhile is simply not listed
                ::closedir(dir);
                return fileSystemFailure(QStringLiteral("stat"),
                                         path + QLatin1Char('/') + decodeFileName(name).first,
                                         error);
            }
        }
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0)
        return fileSystemFailure(QStringLiteral("readdir"), path, readError);
    return entries;
}

} // namespace

Result<void> LocalFileManager::createDirectory(const QString &path) const
{
    return Detail::makeDirectory(*this, path, 0777);
}

Result<void> LocalFileManager::createPrivateDirectory(const QString &path) const
{
    return Detail::makeDirectory(*this, path, 0700);
}

Result<void> LocalFileManager::createFile(const QString &path) const
{
    return makeFile(path, 0666);
}

Result<void> LocalFileManager::createPrivateFile(const QString &path) const
{
    return makeFile(path, 0600);
}

Result<void> LocalFileManager::removeItem(const QString &path) const
{
    return removeRecursively(encoded(path));
}

Result<void> LocalFileManager::removeDirectory(const QString &path) const
{
    if (::rmdir(encoded(path).constData()) != 0)
        return fileSystemFailure(QStringLiteral("rmdir"), path, errno);
    return {};
}

Result<void> LocalFileManager::moveItem(const QString &from, const QString &to) const
{
    return Detail::moveWithoutReplacing(from, to, Detail::systemNoReplaceMoveCalls());
}

Result<void> LocalFileManager::replaceItem(const QString &from, const QString &to) const
{
    // A file whose last name goes away is freed by the renaming thread, which then waits for the
    // file system's journal: milliseconds on a busy disk, paid by every record replaced. Held
    // open across the rename, the old file is freed later, when a background thread closes it.
    const QByteArray target = encoded(to);
    const int replaced = ::open(target.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (::rename(encoded(from).constData(), target.constData()) != 0) {
        const int renameError = errno;
        if (replaced >= 0)
            ::close(replaced);
        return diskFailure(QStringLiteral("rename"), to, renameError);
    }
    if (replaced >= 0)
        Detail::closeInBackground(replaced);
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
    return attributesFromStat(st);
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

Result<QList<DirectoryEntry>> LocalFileManager::entriesOfDirectory(const QString &path) const
{
    return listDirectory(path, [](int fd, const dirent &entry, DirectoryEntry &listed) {
        struct stat st
        {};

        if (::fstatat(fd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errno;
        listed.attributes = attributesFromStat(st);
        return 0;
    });
}

Result<QList<DirectoryEntry>> LocalFileManager::typedEntriesOfDirectory(const QString &path) const
{
    return listDirectory(path, [](int fd, const dirent &entry, DirectoryEntry &listed) {
        switch (entry.d_type) {
        case DT_REG:
            listed.attributes.type = FileAttributes::Type::Regular;
            return 0;
        case DT_DIR:
            listed.attributes.type = FileAttributes::Type::Directory;
            return 0;
        case DT_LNK:
            listed.attributes.type = FileAttributes::Type::SymbolicLink;
            return 0;
        case DT_UNKNOWN:
            break;
        default:
            listed.attributes.type = FileAttributes::Type::Other;
            return 0;
        }
        // Some file systems do not tell the type while listing.
        struct stat st
        {};

        if (::fstatat(fd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errno;
        listed.attributes.type = attributesFromStat(st).type;
        return 0;
    });
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
    return openHandle(path, O_RDONLY | O_NONBLOCK, "open");
}

Result<std::unique_ptr<FileHandle>> LocalFileManager::openForWriting(const QString &path) const
{
    return openHandle(path, O_WRONLY, "open");
}

Result<std::unique_ptr<FileHandle>> LocalFileManager::openForAppending(const QString &path) const
{
    return openHandle(path, O_WRONLY | O_APPEND, "open");
}

Result<void> LocalFileManager::linkItem(const QString &from, const QString &to) const
{
    if (::link(encoded(from).constData(), encoded(to).constData()) != 0)
        return diskFailure(QStringLiteral("link"), to, errno);
    return {};
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

qint64 FileSystemSpace::allocatedBytes(qint64 size) const
{
    if (size <= 0 || blockSize <= 1)
        return std::max<qint64>(size, 0);
    const qint64 blocks = size / blockSize + (size % blockSize != 0 ? 1 : 0);
    return blocks > std::numeric_limits<qint64>::max() / blockSize
               ? std::numeric_limits<qint64>::max()
               : blocks * blockSize;
}

std::optional<qint64> FileSystemSpace::reportedFileEntries(quint64 fileEntries,
                                                           quint64 freeFileEntries)
{
    // A file system without a table of file entries reports none at all.
    if (fileEntries == 0)
        return std::nullopt;
    return static_cast<qint64>(
        std::min<quint64>(freeFileEntries, std::numeric_limits<qint64>::max()));
}

Result<std::optional<FileSystemSpace>> LocalFileManager::availableSpace(const QString &path) const
{
    return readSpace(path);
}

namespace Detail {

NoReplaceMoveCalls systemNoReplaceMoveCalls()
{
    return NoReplaceMoveCalls{
        [](const char *from, const char *to) {
            return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
        },
        [](const char *from, const char *to) { return ::link(from, to); },
        [](const char *path) { return ::unlink(path); },
        [](const char *path) {
            struct stat st
            {};

            return ::lstat(path, &st);
        },
        [](const char *from, const char *to) { return ::rename(from, to); },
    };
}

Result<void>
moveWithoutReplacing(const QString &from, const QString &to, const NoReplaceMoveCalls &calls)
{
    const QByteArray source = encoded(from);
    const QByteArray target = encoded(to);
    if (calls.renameNoReplace(source.constData(), target.constData()) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return diskFailure(QStringLiteral("rename"), to, errno);

    // The file system refuses the flag (some FUSE file systems): a hard link fails on an
    // existing name, so it cannot replace one either.
    if (calls.link(source.constData(), target.constData()) == 0) {
        // Should the old name stay, it is only a second name of the moved file.
        (void) calls.unlink(source.constData());
        return {};
    }
    if (errno == EEXIST)
        return fileSystemFailure(QStringLiteral("link"), to, EEXIST);
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS && errno != EXDEV)
        return diskFailure(QStringLiteral("link"), to, errno);

    // No hard links either (FAT): check, then rename, as the last resort.
    if (calls.exists(target.constData()) == 0)
        return fileSystemFailure(QStringLiteral("rename"), to, EEXIST);
    if (errno != ENOENT)
        return fileSystemFailure(QStringLiteral("stat"), to, errno);
    if (calls.rename(source.constData(), target.constData()) != 0)
        return diskFailure(QStringLiteral("rename"), to, errno);
    return {};
}

namespace {

/// The thread behind `closeInBackground`, started on first use. Never destroyed: its detached
/// thread may still wait on it while the process exits.
class BackgroundCloser
{
public:
    static BackgroundCloser &instance()
    {
        static auto *closer = new BackgroundCloser;
        return *closer;
    }

    void close(int descriptor)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_started) {
                m_started = true;
                m_running = Executor::systemThreadStarter()([this] { run(); });
            }
            if (m_running && m_open < maximumPendingBackgroundCloses) {
                m_pending.push_back(descriptor);
                ++m_open;
                m_wake.notify_one();
                return;
            }
        }
        ::close(descriptor);
    }

private:
    BackgroundCloser() = default;

    [[noreturn]] void run()
    {
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return !m_pending.empty(); });
                m_closing.swap(m_pending);
            }
            for (const int descriptor : m_closing) {
                ::close(descriptor);
                const std::lock_guard lock(m_mutex);
                --m_open;
            }
            m_closing.clear();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<int> m_pending;
    /// What the thread is closing, only ever touched by it. A member rather than the thread's own:
    /// at the process's exit the leak checker then finds it through the closer, wherever the thread
    /// stands.
    std::vector<int> m_closing;
    qsizetype m_open = 0; ///< handed over and not yet closed
    bool m_started = false;
    bool m_running = false;
};

} // namespace

void closeInBackground(int descriptor)
{
    BackgroundCloser::instance().close(descriptor);
}

} // namespace Detail

Result<QByteArray> readFileContents(const FileManager &fileManager, const QString &path)
{
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> handle, fileManager.openForReading(path));
    QByteArray data;
    constexpr qint64 chunk = 16384;
    for (;;) {
        const qsizetype filled = data.size();
        data.resize(filled + chunk);
        PELLWICK_TRY_ASSIGN(qint64 n, handle->read(data.data() + filled, chunk));
        data.resize(filled + n);
        if (n == 0)
            return data;
    }
}

Result<QByteArray>
readRegularFileContents(const FileManager &fileManager, const QString &path, qint64 maxBytes)
{
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> handle, fileManager.openForReading(path));
    PELLWICK_TRY_ASSIGN(const FileAttributes attributes, handle->attributes());
    PELLWICK_TRY(requireRegularFile(attributes.type, path));
    if (attributes.size > maxBytes)
        return fileSystemFailure(QStringLiteral("read"), path, EFBIG);
    QByteArray data;
    data.resize(attributes.size + 1);
    qint64 filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (filled > maxBytes)
                return fileSystemFailure(QStringLiteral("read"), path, EFBIG);
            data.resize(std::min(filled * 2, maxBytes + 1));
        }
        PELLWICK_TRY_ASSIGN(qint64 n, handle->read(data.data() + filled, data.size() - filled));
        if (n == 0)
            break;
        filled += n;
    }
    data.truncate(filled);
    return data;
}

Result<void> checkFolderTakesFiles(const FileManager &fileManager, const QString &folder)
{
    PELLWICK_TRY(fileManager.createDirectory(folder));
    const QString prefix = QStringLiteral(".pellwick-write-probe-");
    // A check that was killed between its two steps left its empty file: it goes now, so that
    // nothing of ours stays in a folder of the user's.
    PELLWICK_TRY_ASSIGN(const QStringList names, fileManager.contentsOfDirectory(folder));
    for (const QString &name : names) {
        if (!name.startsWith(prefix))
            continue;
        const QString leftover = folder + QLatin1Char('/') + name;
        const Result<FileAttributes> attributes = fileManager.attributesOfItem(leftover);
        if (attributes && attributes->type == FileAttributes::Type::Regular
            && attributes->size == 0)
            (void) fileManager.removeItem(leftover);
    }
    const QString probe = folder + QLatin1Char('/') + prefix
                          + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    PELLWICK_TRY(fileManager.createFile(probe));
    Result<void> removed = fileManager.removeItem(probe);
    // A check running beside this one may have taken our file for a killed check's: the folder
    // took it all the same.
    if (!removed) {
        const auto *fileSystem = removed.error().as<FileSystemError>();
        if (fileSystem && fileSystem->code == ENOENT)
            return {};
    }
    return removed;
}

Result<void> checkFolderWouldTakeFiles(const FileManager &fileManager, const QString &folder)
{
    QString existing = folder;
    while (!fileManager.fileExists(existing)) {
        const QString parent = parentPath(existing);
        if (parent == existing)
            break;
        existing = parent;
    }
    return checkFolderTakesFiles(fileManager, existing);
}

QString resolvingSymlinksInPath(const FileManager &fileManager, const QString &path)
{
    // Resolved step by step as the system does, never by dropping ".." from the text first: after
    // a symbolic link, ".." leads to the parent of the link's target, not of the link.
    if (Result<QString> resolved = fileManager.resolvingSymlinks(path))
        return *resolved;
    const QString parent = parentPath(path);
    if (parent == path || parent == QLatin1String("."))
        return QDir::cleanPath(path);
    const QString name = lastPathComponent(path);
    QString resolvedParent = resolvingSymlinksInPath(fileManager, parent);
    if (name == QLatin1String("."))
        return resolvedParent;
    if (name == QLatin1String(".."))
        return parentPath(resolvedParent);
    if (resolvedParent.endsWith(QLatin1Char('/')))
        return resolvedParent + name;
    return resolvedParent + QLatin1Char('/') + name;
}

std::pair<QString, bool> decodeFileName(QByteArrayView bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
        return {QString::fromLatin1(bytes), true};
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString name = decoder(bytes);
    if (!decoder.hasError())
        return {name, true};
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.data());
    QByteArray escaped;
    for (qsizetype i = 0; i < bytes.size();) {
        const qsizetype length = utf8SequenceLength(s + i, bytes.size() - i);
        if (length == 0) {
            escaped += "\\x" + QByteArray::number(s[i], 16).toUpper().rightJustified(2, '0');
            ++i;
        } else {
            escaped.append(bytes.data() + i, length);
            i += length;
        }
    }
    return {QString::fromUtf8(escaped), false};
}

Result<void> requireRegularFile(FileAttributes::Type type, const QString &path)
{
    if (type == FileAttributes::Type::Regular)
        return {};
    return fileSystemFailure(
        QStringLiteral("read"), path, type == FileAttributes::Type::Directory ? EISDIR : EINVAL);
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

bool isSameOrInside(const QString &path, const QString &folder)
{
    if (folder.isEmpty())
        return false;
    return path == folder
           || path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder
                                                                : folder + QLatin1Char('/'));
}

bool isSafePathComponent(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QChar(u'\0'));
}

QString leadingUtf8Bytes(const QString &text, qsizetype maxBytes)
{
    qsizetype bytes = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const bool pair = text.at(end).isHighSurrogate() && end + 1 < text.size()
                          && text.at(end + 1).isLowSurrogate();
        const char16_t unit = text.at(end).unicode();
        const qsizetype length = pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        if (bytes + length > maxBytes)
            break;
        bytes += length;
        end += pair ? 2 : 1;
    }
    return text.left(end);
}

} // namespace Pellwick
