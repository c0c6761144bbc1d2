#pragma once

#include <PellwickCore/Support/FileManager.h>

#include <QMutex>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace Pellwick::Test {

/// Every operation the file manager seam offers, including those of its file handles.
enum class FileOperation {
    CreateDirectory,
    CreateFile,
    RemoveItem,
    RemoveDirectory,
    MoveItem,
    ReplaceItem,
    FileExists,
    IsReadableFile,
    AttributesOfItem,
    ContentsOfDirectory,
    EntriesOfDirectory,
    ResolvingSymlinks,
    OpenForReading,
    OpenForWriting,
    SynchronizeDirectory,
    Read,
    Write,
    Seek,
    Synchronize,
    DropCachedPages,
    OpenForAppending,
    LinkItem,
    SynchronizeData,
    Truncate,
    AvailableSpace,
};

QString operationName(FileOperation operation);

/// Wraps a file manager and injects failures at chosen operations and paths, or ends the process
/// at its N-th operation (for crash tests). Thread-safe. Handles it opens report no native
/// descriptor, so every byte goes through `read` and `write`, where faults can be injected.
class FaultInjectingFileManager final : public FileManager
{
public:
    explicit FaultInjectingFileManager(std::shared_ptr<const FileManager> inner
                                       = std::make_shared<LocalFileManager>());
    ~FaultInjectingFileManager() override;

    /// Fails calls of `operation` on a path containing `pathFragment` (any path when empty) with
    /// errno `code` (EEXIST stands for "exists"). `occurrence` counts matching calls from 1; 0
    /// fails every one.
    void failOperation(FileOperation operation,
                       int code,
                       const QString &pathFragment = {},
                       int occurrence = 0);
    /// Fails every call that would change the disk on a path containing `pathFragment` with errno
    /// `code`, as a read-only (EROFS) or full (ENOSPC) folder does; reads go on.
    void failChanges(int code, const QString &pathFragment);
    /// Makes paths containing `pathFragment` lie on a disk with no room left, as a real one
    /// behaves: making a file, folder or link there fails with ENOSPC, and so does a write past a
    /// file's end or a truncation that would grow it; writes over bytes a file holds, renames,
    /// removals and reads go on.
    void fillDisk(const QString &pathFragment);
    /// Whether `path` lies on a disk that `fillDisk` filled.
    bool isOnFilledDisk(const QString &path) const;
    /// Lifts every failure injected with `failOperation`, `failChanges` or `fillDisk` so far, as
    /// a disk given room again; hooks, space figures and kills stay.
    void clearFailures();
    /// Runs `hook` with the path as each call of `operation` on a path containing `pathFragment`
    /// begins, after its fault rules are applied and outside the manager's lock (to change the
    /// file system between two operations, as another thread could).
    void beforeOperation(FileOperation operation,
                         const QString &pathFragment,
                         std::function<void(const QString &path)> hook);
    /// Answers `availableSpace` for paths containing `pathFragment` with `bytes` (no figure when
    /// none), no count of file entries and blocks of one byte, instead of the file system's
    /// figures; a later call for a fragment wins.
    void setAvailableCapacity(const QString &pathFragment, std::optional<qint64> bytes);
    /// As `setAvailableCapacity`, with every figure given. An ENOSPC injected at making a file
    /// or folder there carries the free bytes when `space` has bytes but no file entries left.
    void setAvailableSpace(const QString &pathFragment, std::optional<FileSystemSpace> space);
    /// Sends SIGKILL to this process when its `n`-th operation (from 1) begins.
    void killAtOperation(int n);
    /// Ends the process when `operation` is next called on a matching path.
    void killAtOperation(FileOperation operation, const QString &pathFragment = {});

    int operationCount() const;
    /// One line per call: "<operation> <path>".
    QStringList log() const;
    /// The lines of `log()` whose operation changes a file or folder, or flushes one.
    QStringList changes() const;

    /// Called by handles and the manager before each operation: counts, logs, maybe kills, and
    /// returns the errno to fail with, if any.
    std::optional<int> begin(FileOperation operation, const QString &path) const;

    Result<void> createDirectory(const QString &path) const override;
    Result<void> createPrivateDirectory(const QString &path) const override;
    Result<void> createFile(const QString &path) const override;
    Result<void> createPrivateFile(const QString &path) const override;
    Result<void> removeItem(const QString &path) const override;
    Result<void> removeDirectory(const QString &path) const override;
    Result<void> moveItem(const QString &from, const QString &to) const override;
    Result<void> replaceItem(const QString &from, const QString &to) const override;
    bool fileExists(const QString &path) const override;
    bool isReadableFile(const QString &path) const override;
    Result<FileAttributes> attributesOfItem(const QString &path) const override;
    Result<QStringList> contentsOfDirectory(const QString &path) const override;
    Result<QList<DirectoryEntry>> entriesOfDirectory(const QString &path) const override;
    Result<QList<DirectoryEntry>> typedEntriesOfDirectory(const QString &path) const override;
    Result<QString> resolvingSymlinks(const QString &path) const override;
    Result<std::unique_ptr<FileHandle>> openForReading(const QString &path) const override;
    Result<std::unique_ptr<FileHandle>> openForWriting(const QString &path) const override;
    Result<std::unique_ptr<FileHandle>> openForAppending(const QString &path) const override;
    Result<void> linkItem(const QString &from, const QString &to) const override;
    Result<void> synchronizeDirectory(const QString &path) const override;
    Result<std::optional<FileSystemSpace>> availableSpace(const QString &path) const override;

private:
    struct Rule
    {
        FileOperation operation;
        int code;
        QString pathFragment;
        int occurrence;
        int seen = 0;
    };

    /// The space set for `path`, if any.
    std::optional<std::optional<FileSystemSpace>> setSpace(const QString &path) const;
    tl::unexpected<Error> injected(const QString &operation, const QString &path, int code) const;
    /// `handle` with faults injected; its writes start at `position` (none: the end).
    Result<std::unique_ptr<FileHandle>> wrap(Result<std::unique_ptr<FileHandle>> handle,
                                             const QString &path,
                                             std::optional<qint64> position = 0) const;

    struct Hook
    {
        FileOperation operation;
        QString pathFragment;
        std::function<void(const QString &)> run;
    };

    std::shared_ptr<const FileManager> m_inner;
    mutable QMutex m_mutex;
    mutable QList<Rule> m_rules;
    QStringList m_filledDisks;
    QList<Hook> m_hooks;
    QList<std::pair<QString, std::optional<FileSystemSpace>>> m_spaces;
    mutable QStringList m_log;
    mutable int m_count = 0;
    int m_killAt = 0;
    std::optional<std::pair<FileOperation, QString>> m_killAtOperation;
};

/// For crash-test children: a file manager over the local one that ends the process as the
/// operation numbered by `argument` (a positive whole number) begins, or only counts for "0", or
/// nothing when `argument` is not such a number.
std::shared_ptr<FaultInjectingFileManager> fileManagerKilledAtOperation(const char *argument);

} // namespace Pellwick::Test
