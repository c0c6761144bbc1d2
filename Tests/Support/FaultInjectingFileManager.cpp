#include "FaultInjectingFileManager.h"

#include <PellwickCore/Support/FileManager_p.h>

#include <QMutexLocker>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <unistd.h>

namespace Pellwick::Test {

namespace {

class FaultInjectingFileHandle final : public FileHandle
{
public:
    /// `position` is where the next write goes; none for the file's end.
    FaultInjectingFileHandle(std::unique_ptr<FileHandle> inner,
                             const FaultInjectingFileManager *manager,
                             QString path,
                             std::optional<qint64> position)
        : m_inner(std::move(inner))
        , m_manager(manager)
        , m_path(std::move(path))
        , m_position(position)
    {}

    Result<qint64> read(char *buffer, qint64 maxSize) override
    {
        if (auto code = m_manager->begin(FileOperation::Read, m_path))
            return fileSystemFailure(QStringLiteral("read"), m_path, *code);
        Result<qint64> read = m_inner->read(buffer, maxSize);
        if (read && m_position)
            *m_position += *read;
        return read;
    }

    Result<qint64> readAt(char *buffer, qint64 maxSize, qint64 offset) override
    {
        if (auto code = m_manager->begin(FileOperation::Read, m_path))
            return fileSystemFailure(QStringLiteral("read"), m_path, *code);
        m_position.reset(); // unspecified: taken as the end
        return m_inner->readAt(buffer, maxSize, offset);
    }

    Result<void> write(const char *data, qint64 size) override
    {
        if (auto code = m_manager->begin(FileOperation::Write, m_path))
            return fileSystemFailure(QStringLiteral("write"), m_path, *code);
        if (m_manager->isOnFilledDisk(m_path) && !fitsInFile(m_position, size))
            return fileSystemFailure(QStringLiteral("write"), m_path, ENOSPC);
        PELLWICK_TRY(m_inner->write(data, size));
        if (m_position)
            *m_position += size;
        return {};
    }

    Result<void> seek(qint64 offset) override
    {
        if (auto code = m_manager->begin(FileOperation::Seek, m_path))
            return fileSystemFailure(QStringLiteral("seek"), m_path, *code);
        PELLWICK_TRY(m_inner->seek(offset));
        m_position = offset;
        return {};
    }

    Result<void> synchronize() override
    {
        if (auto code = m_manager->begin(FileOperation::Synchronize, m_path))
            return fileSystemFailure(QStringLiteral("fsync"), m_path, *code);
        return m_inner->synchronize();
    }

    Result<void> synchronizeData() override
    {
        if (auto code = m_manager->begin(FileOperation::SynchronizeData, m_path))
            return fileSystemFailure(QStringLiteral("fdatasync"), m_path, *code);
        return m_inner->synchronizeData();
    }

    Result<void> truncate(qint64 size) override
    {
        if (auto code = m_manager->begin(FileOperation::Truncate, m_path))
            return fileSystemFailure(QStringLiteral("ftruncate"), m_path, *code);
        if (m_manager->isOnFilledDisk(m_path) && !fitsInFile(0, size))
            return fileSystemFailure(QStringLiteral("ftruncate"), m_path, ENOSPC);
        return m_inner->truncate(size);
    }

    Result<FileAttributes> attributes() const override { return m_inner->attributes(); }

    void startWriteBack(qint64 offset, qint64 length) override
    {
        m_inner->startWriteBack(offset, length);
    }

    void dropCachedPages() override
    {
        // Cannot fail; counted and logged so tests see where it happens (and can end there).
        (void) m_manager->begin(FileOperation::DropCachedPages, m_path);
        m_inner->dropCachedPages();
    }

    void close() override { m_inner->close(); }

private:
    /// Whether `size` bytes at `position` (none: the end) lie within what the file holds.
    bool fitsInFile(std::optional<qint64> position, qint64 size) const
    {
        const Result<FileAttributes> now = m_inner->attributes();
        return now && position && *position + size <= now->size;
    }

    std::unique_ptr<FileHandle> m_inner;
    const FaultInjectingFileManager *m_manager;
    QString m_path;
    std::optional<qint64> m_position;
};

/// The operations that change what is on disk, flushes aside.
constexpr FileOperation writingOperations[] = {FileOperation::CreateDirectory,
                                               FileOperation::CreateFile,
                                               FileOperation::RemoveItem,
                                               FileOperation::RemoveDirectory,
                                               FileOperation::MoveItem,
                                               FileOperation::ReplaceItem,
                                               FileOperation::OpenForWriting,
                                               FileOperation::OpenForAppending,
                                               FileOperation::LinkItem,
                                               FileOperation::Write,
                                               FileOperation::Truncate};

} // namespace

QString operationName(FileOperation operation)
{
    switch (operation) {
    case FileOperation::CreateDirectory:
        return QStringLiteral("createDirectory");
    case FileOperation::CreateFile:
        return QStringLiteral("createFile");
    case FileOperation::RemoveItem:
        return QStringLiteral("removeItem");
    case FileOperation::RemoveDirectory:
        return QStringLiteral("removeDirectory");
    case FileOperation::MoveItem:
        return QStringLiteral("moveItem");
    case FileOperation::ReplaceItem:
        return QStringLiteral("replaceItem");
    case FileOperation::FileExists:
        return QStringLiteral("fileExists");
    case FileOperation::IsReadableFile:
        return QStringLiteral("isReadableFile");
    case FileOperation::AttributesOfItem:
        return QStringLiteral("attributesOfItem");
    case FileOperation::ContentsOfDirectory:
        return QStringLiteral("contentsOfDirectory");
    case FileOperation::EntriesOfDirectory:
        return QStringLiteral("entriesOfDirectory");
    case FileOperation::ResolvingSymlinks:
        return QStringLiteral("resolvingSymlinks");
    case FileOperation::OpenForReading:
        return QStringLiteral("openForReading");
    case FileOperation::OpenForWriting:
        return QStringLiteral("openForWriting");
    case FileOperation::SynchronizeDirectory:
        return QStringLiteral("synchronizeDirectory");
    case FileOperation::Read:
        return QStringLiteral("read");
    case FileOperation::Write:
        return QStringLiteral("write");
    case FileOperation::Seek:
        return QStringLiteral("seek");
    case FileOperation::Synchronize:
        return QStringLiteral("synchronize");
    case FileOperation::DropCachedPages:
        return QStringLiteral("dropCachedPages");
    case FileOperation::OpenForAppending:
        return QStringLiteral("openForAppending");
    case FileOperation::LinkItem:
        return QStringLiteral("linkItem");
    case FileOperation::SynchronizeData:
        return QStringLiteral("synchronizeData");
    case FileOperation::Truncate:
        return QStringLiteral("truncate");
    case FileOperation::AvailableSpace:
        return QStringLiteral("availableSpace");
    }
    return {};
}

FaultInjectingFileManager::FaultInjectingFileManager(std::shared_ptr<const FileManager> inner)
    : m_inner(std::move(inner))
{}

FaultInjectingFileManager::~FaultInjectingFileManager() = default;

void FaultInjectingFileManager::failOperation(FileOperation operation,
                                              int code,
                                              const QString &pathFragment,
                                              int occurrence)
{
    const QMutexLocker lock(&m_mutex);
    m_rules.append(Rule{operation, code, pathFragment, occurrence});
}

void FaultInjectingFileManager::failChanges(int code, const QString &pathFragment)
{
    for (const FileOperation operation : writingOperations)
        failOperation(operation, code, pathFragment);
}

void FaultInjectingFileManager::fillDisk(const QString &pathFragment)
{
    const QMutexLocker lock(&m_mutex);
    m_filledDisks.append(pathFragment);
}

bool FaultInjectingFileManager::isOnFilledDisk(const QString &path) const
{
    const QMutexLocker lock(&m_mutex);
    return std::any_of(m_filledDisks.cbegin(), m_filledDisks.cend(), [&](const QString &fragment) {
        return path.contains(fragment);
    });
}

void FaultInjectingFileManager::clearFailures()
{
    const QMutexLocker lock(&m_mutex);
    m_rules.clear();
    m_filledDisks.clear();
}

void FaultInjectingFileManager::beforeOperation(FileOperation operation,
                                                const QString &pathFragment,
                                                std::function<void(const QString &)> hook)
{
    const QMutexLocker lock(&m_mutex);
    m_hooks.append(Hook{operation, pathFragment, std::move(hook)});
}

void FaultInjectingFileManager::setAvailableCapacity(const QString &pathFragment,
                                                     std::optional<qint64> bytes)
{
    setAvailableSpace(pathFragment,
                      bytes ? std::optional(FileSystemSpace{.availableBytes = *bytes})
                            : std::nullopt);
}

void FaultInjectingFileManager::setAvailableSpace(const QString &pathFragment,
                                                  std::optional<FileSystemSpace> space)
{
    const QMutexLocker lock(&m_mutex);
    m_spaces.append({pathFragment, space});
}

std::optional<std::optional<FileSystemSpace>>
FaultInjectingFileManager::setSpace(const QString &path) const
{
    const QMutexLocker lock(&m_mutex);
    for (auto it = m_spaces.crbegin(); it != m_spaces.crend(); ++it) {
        if (path.contains(it->first))
            return it->second;
    }
    return std::nullopt;
}

tl::unexpected<Error>
FaultInjectingFileManager::injected(const QString &operation, const QString &path, int code) const
{
    // As the local file manager tells a disk out of file entries from a full one.
    FileSystemError error{operation, path, code};
    const auto space = setSpace(path);
    if (code == ENOSPC && space && *space && (*space)->availableFileEntries == 0
        && (*space)->availableBytes > 0)
        error.freeBytesWithoutFileEntries = (*space)->availableBytes;
    return failure(std::move(error));
}

void FaultInjectingFileManager::killAtOperation(int n)
{
    const QMutexLocker lock(&m_mutex);
    m_killAt = n;
}

void FaultInjectingFileManager::killAtOperation(FileOperation operation,
                                                const QString &pathFragment)
{
    const QMutexLocker lock(&m_mutex);
    m_killAtOperation = std::make_pair(operation, pathFragment);
}

int FaultInjectingFileManager::operationCount() const
{
    const QMutexLocker lock(&m_mutex);
    return m_count;
}

QStringList FaultInjectingFileManager::log() const
{
    const QMutexLocker lock(&m_mutex);
    return m_log;
}

QStringList FaultInjectingFileManager::changes() const
{
    static const QSet<QString> changing = [] {
        QSet<QString> names;
        for (const FileOperation operation : writingOperations)
            names.insert(operationName(operation));
        for (const FileOperation operation : {FileOperation::SynchronizeDirectory,
                                              FileOperation::Synchronize,
                                              FileOperation::SynchronizeData})
            names.insert(operationName(operation));
        return names;
    }();
    QStringList lines;
    for (const QString &line : log()) {
        if (changing.contains(line.section(QLatin1Char(' '), 0, 0)))
            lines.append(line);
    }
    return lines;
}

std::optional<int> FaultInjectingFileManager::begin(FileOperation operation,
                                                    const QString &path) const
{
    std::optional<int> code;
    QList<std::function<void(const QString &)>> hooks;
    {
        const QMutexLocker lock(&m_mutex);
        ++m_count;
        m_log.append(operationName(operation) + QLatin1Char(' ') + path);
        const bool killHere = (m_killAt > 0 && m_count == m_killAt)
                              || (m_killAtOperation && m_killAtOperation->first == operation
                                  && path.contains(m_killAtOperation->second));
        if (killHere)
            ::kill(::getpid(), SIGKILL);
        for (Rule &rule : m_rules) {
            if (rule.operation != operation || !path.contains(rule.pathFragment))
                continue;
            ++rule.seen;
            if (rule.occurrence == 0 || rule.occurrence == rule.seen) {
                code = rule.code;
                break;
            }
        }
        for (const Hook &hook : m_hooks) {
            if (hook.operation == operation && path.contains(hook.pathFragment))
                hooks.append(hook.run);
        }
    }
    for (const auto &hook : hooks)
        hook(path);
    // A full disk still takes the entry of a folder it has already.
    const auto makesEntry = [&] {
        return operation == FileOperation::CreateFile || operation == FileOperation::LinkItem
               || (operation == FileOperation::CreateDirectory && !m_inner->fileExists(path));
    };
    if (!code && isOnFilledDisk(path) && makesEntry())
        code = ENOSPC;
    return code;
}

Result<std::unique_ptr<FileHandle>>
FaultInjectingFileManager::wrap(Result<std::unique_ptr<FileHandle>> handle,
                                const QString &path,
                                std::optional<qint64> position) const
{
    if (!handle)
        return handle;
    return std::unique_ptr<FileHandle>(
        std::make_unique<FaultInjectingFileHandle>(std::move(*handle), this, path, position));
}

Result<void> FaultInjectingFileManager::createDirectory(const QString &path) const
{
    if (auto code = begin(FileOperation::CreateDirectory, path))
        return injected(QStringLiteral("mkdir"), path, *code);
    // Over the local file manager, its folder making runs through this one, so that the folders
    // it flushes are logged (and can fail or be killed at).
    if (dynamic_cast<const LocalFileManager *>(m_inner.get()))
        return Detail::makeDirectory(*this, path, 0777);
    return m_inner->createDirectory(path);
}

Result<void> FaultInjectingFileManager::createPrivateDirectory(const QString &path) const
{
    if (auto code = begin(FileOperation::CreateDirectory, path))
        return injected(QStringLiteral("mkdir"), path, *code);
    return m_inner->createPrivateDirectory(path);
}

Result<void> FaultInjectingFileManager::createFile(const QString &path) const
{
    if (auto code = begin(FileOperation::CreateFile, path))
        return injected(QStringLiteral("create"), path, *code);
    return m_inner->createFile(path);
}

Result<void> FaultInjectingFileManager::createPrivateFile(const QString &path) const
{
    if (auto code = begin(FileOperation::CreateFile, path))
        return injected(QStringLiteral("create"), path, *code);
    return m_inner->createPrivateFile(path);
}

Result<void> FaultInjectingFileManager::removeItem(const QString &path) const
{
    if (auto code = begin(FileOperation::RemoveItem, path))
        return fileSystemFailure(QStringLiteral("remove"), path, *code);
    return m_inner->removeItem(path);
}

Result<void> FaultInjectingFileManager::removeDirectory(const QString &path) const
{
    if (auto code = begin(FileOperation::RemoveDirectory, path))
        return fileSystemFailure(QStringLiteral("rmdir"), path, *code);
    return m_inner->removeDirectory(path);
}

Result<void> FaultInjectingFileManager::moveItem(const QString &from, const QString &to) const
{
    if (auto code = begin(FileOperation::MoveItem, to))
        return fileSystemFailure(QStringLiteral("rename"), to, *code);
    return m_inner->moveItem(from, to);
}

Result<void> FaultInjectingFileManager::replaceItem(const QString &from, const QString &to) const
{
    if (auto code = begin(FileOperation::ReplaceItem, to))
        return fileSystemFailure(QStringLiteral("rename"), to, *code);
    return m_inner->replaceItem(from, to);
}

bool FaultInjectingFileManager::fileExists(const QString &path) const
{
    if (begin(FileOperation::FileExists, path))
        return false;
    return m_inner->fileExists(path);
}

bool FaultInjectingFileManager::isReadableFile(const QString &path) const
{
    if (begin(FileOperation::IsReadableFile, path))
        return false;
    return m_inner->isReadableFile(path);
}

Result<FileAttributes> FaultInjectingFileManager::attributesOfItem(const QString &path) const
{
    if (auto code = begin(FileOperation::AttributesOfItem, path))
        return fileSystemFailure(QStringLiteral("stat"), path, *code);
    return m_inner->attributesOfItem(path);
}

Result<QStringList> FaultInjectingFileManager::contentsOfDirectory(const QString &path) const
{
    if (auto code = begin(FileOperation::ContentsOfDirectory, path))
        return fileSystemFailure(QStringLiteral("opendir"), path, *code);
    return m_inner->contentsOfDirectory(path);
}

Result<QList<DirectoryEntry>>
FaultInjectingFileManager::entriesOfDirectory(const QString &path) const
{
    if (auto code = begin(FileOperation::EntriesOfDirectory, path))
        return fileSystemFailure(QStringLiteral("opendir"), path, *code);
    return m_inner->entriesOfDirectory(path);
}

Result<QList<DirectoryEntry>>
FaultInjectingFileManager::typedEntriesOfDirectory(const QString &path) const
{
    if (auto code = begin(FileOperation::EntriesOfDirectory, path))
        return fileSystemFailure(QStringLiteral("opendir"), path, *code);
    return m_inner->typedEntriesOfDirectory(path);
}

Result<QString> FaultInjectingFileManager::resolvingSymlinks(const QString &path) const
{
    if (auto code = begin(FileOperation::ResolvingSymlinks, path))
        return fileSystemFailure(QStringLiteral("realpath"), path, *code);
    return m_inner->resolvingSymlinks(path);
}

Result<std::unique_ptr<FileHandle>>
FaultInjectingFileManager::openForReading(const QString &path) const
{
    if (auto code = begin(FileOperation::OpenForReading, path))
        return fileSystemFailure(QStringLiteral("open"), path, *code);
    return wrap(m_inner->openForReading(path), path);
}

Result<std::unique_ptr<FileHandle>>
FaultInjectingFileManager::openForWriting(const QString &path) const
{
    if (auto code = begin(FileOperation::OpenForWriting, path))
        return fileSystemFailure(QStringLiteral("open"), path, *code);
    return wrap(m_inner->openForWriting(path), path);
}

Result<std::unique_ptr<FileHandle>>
FaultInjectingFileManager::openForAppending(const QString &path) const
{
    if (auto code = begin(FileOperation::OpenForAppending, path))
        return fileSystemFailure(QStringLiteral("open"), path, *code);
    return wrap(m_inner->openForAppending(path), path, std::nullopt);
}

Result<void> FaultInjectingFileManager::linkItem(const QString &from, const QString &to) const
{
    if (auto code = begin(FileOperation::LinkItem, to))
        return fileSystemFailure(QStringLiteral("link"), to, *code);
    return m_inner->linkItem(from, to);
}

Result<void> FaultInjectingFileManager::synchronizeDirectory(const QString &path) const
{
    if (auto code = begin(FileOperation::SynchronizeDirectory, path))
        return fileSystemFailure(QStringLiteral("fsync"), path, *code);
    return m_inner->synchronizeDirectory(path);
}

Result<std::optional<FileSystemSpace>>
FaultInjectingFileManager::availableSpace(const QString &path) const
{
    if (auto code = begin(FileOperation::AvailableSpace, path))
        return fileSystemFailure(QStringLiteral("statvfs"), path, *code);
    if (const auto space = setSpace(path))
        return *space;
    return m_inner->availableSpace(path);
}

std::shared_ptr<FaultInjectingFileManager> fileManagerKilledAtOperation(const char *argument)
{
    bool valid = false;
    const int killAt = QString::fromLocal8Bit(argument).toInt(&valid);
    if (!valid || killAt < 0)
        return nullptr;
    auto fileManager = std::make_shared<FaultInjectingFileManager>();
    if (killAt > 0)
        fileManager->killAtOperation(killAt);
    return fileManager;
}

} // namespace Pellwick::Test
