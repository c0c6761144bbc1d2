#include "FolderLocks.h"

#include <PellwickCore/Support/FileManager.h>

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Pellwick {

namespace {

int lockWithoutWaiting(int descriptor, int operation)
{
    int result = 0;
    do {
        result = ::flock(descriptor, operation | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result;
}

bool sameFile(int first, int second)
{
    struct stat a = {};
    struct stat b = {};
    return ::fstat(first, &a) == 0 && ::fstat(second, &b) == 0 && a.st_dev == b.st_dev
           && a.st_ino == b.st_ino;
}

/// Whether another process holds the exclusive lock of the file open as `descriptor` (closed
/// here; a failed open, -1, tells nothing).
bool isLockedElsewhere(int descriptor)
{
    if (descriptor < 0)
        return false;
    // A shared lock conflicts only with the exclusive one of a running copy.
    const bool held = lockWithoutWaiting(descriptor, LOCK_SH) != 0 && errno == EWOULDBLOCK;
    ::close(descriptor);
    return held;
}

} // namespace

FolderLocks::~FolderLocks()
{
    for (const int descriptor : m_descriptors)
        ::close(descriptor);
}

Result<bool> FolderLocks::take(const QString &folder, const QString &fileName)
{
    // A folder that is missing is locked by nobody.
    PELLWICK_TRY(LocalFileManager().createDirectory(folder));
    const QString path = folder + u'/' + fileName;
    const int descriptor
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return fileSystemFailure(QStringLiteral("open"), path, errno);
    return hold(descriptor, path);
}

Result<bool> FolderLocks::takeFolder(const QString &folder)
{
    const int descriptor
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return fileSystemFailure(QStringLiteral("open"), folder, errno);
    return hold(descriptor, folder);
}

Result<bool> FolderLocks::hold(int descriptor, const QString &path)
{
    // flock conflicts between two descriptions of one file even within one process.
    for (const int held : m_descriptors) {
        if (sameFile(held, descriptor)) {
            ::close(descriptor);
            return true;
        }
    }
    if (lockWithoutWaiting(descriptor, LOCK_EX) != 0) {
        const int code = errno;
        ::close(descriptor);
        if (code == EWOULDBLOCK)
            return false;
        return fileSystemFailure(QStringLiteral("lock"), path, code);
    }
    m_descriptors.push_back(descriptor);
    return true;
}

bool FolderLocks::isHeldElsewhere(const QString &folder, const QString &fileName)
{
    return isLockedElsewhere(
        ::open(QFile::encodeName(folder + u'/' + fileName).constData(), O_RDONLY | O_CLOEXEC));
}

bool FolderLocks::isFolderHeldElsewhere(const QString &folder)
{
    return isLockedElsewhere(
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

} // namespace Pellwick
