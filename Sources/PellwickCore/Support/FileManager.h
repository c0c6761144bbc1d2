#pragma once

#include <PellwickCore/Support/Date.h>
#include <PellwickCore/Support/Result.h>

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>

namespace Pellwick {

/// What `FileManager::attributesOfItem` reports of one directory entry (symbolic links are not
/// followed).
struct FileAttributes
{
    enum class Type {
        Regular,
        Directory,
        SymbolicLink,
        Other,
    };

    Type type = Type::Other;
    qint64 size = 0;
    Date modificationDate;
    quint64 device = 0;
    quint64 inode = 0;

    bool operator==(const FileAttributes &) const = default;
};

/// One entry of a folder as `FileManager::entriesOfDirectory` reports it.
struct DirectoryEntry
{
    /// The entry's name. A name whose bytes are not valid UTF-8 cannot be used to reach the entry;
    /// its invalid bytes are written as "\xNN" so that it can be shown.
    QString name;
    /// False when the name's bytes are not valid UTF-8.
    bool hasValidName = true;
    /// The entry itself, symbolic links not followed.
    FileAttributes attributes;

    bool operator==(const DirectoryEntry &) const = default;
};

/// An open file. Used by one thread at a time; closing is idempotent and ignores errors, and the
/// destructor closes.
class FileHandle
{
public:
    FileHandle() = default;
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    virtual ~FileHandle() = default;

    /// Reads up to `maxSize` bytes at the current position; 0 means end of file.
    [[nodiscard]] virtual Result<qint64> read(char *buffer, qint64 maxSize) = 0;

    /// Reads up to `maxSize` bytes at `offset`; 0 means end of file. The current position
    /// afterwards is unspecified. Lets several readers of one file avoid seeking.
    [[nodiscard]] virtual Result<qint64> readAt(char *buffer, qint64 maxSize, qint64 offset)
    {
        PELLWICK_TRY(seek(offset));
        return read(buffer, maxSize);
    }

    /// Writes all `size` bytes at the current position.
    [[nodiscard]] virtual Result<void> write(const char *data, qint64 size) = 0;
    [[nodiscard]] virtual Result<void> seek(qint64 offset) = 0;
    /// Flushes written bytes to permanent storage.
    [[nodiscard]] virtual Result<void> synchronize() = 0;
    /// Flushes written bytes, and the size when it grew, to permanent storage without the other
    /// metadata (modification time): enough for appended records.
    [[nodiscard]] virtual Result<void> synchronizeData() = 0;
    /// Cuts the file to `size` bytes.
    [[nodiscard]] virtual Result<void> truncate(qint64 size) = 0;
    /// What the open file is now (fstat): its type and size, whatever its path names meanwhile.
    [[nodiscard]] virtual Result<FileAttributes> attributes() const = 0;

    /// Asks the kernel to start writing the given bytes to storage now, so that a later
    /// `synchronize` has less to wait for. Best effort; it promises nothing about durability.
    virtual void startWriteBack(qint64 offset, qint64 length)
    {
        Q_UNUSED(offset);
        Q_UNUSED(length);
    }

    /// Asks the kernel to forget the file's cached pages, so the next read comes from storage.
    /// Best effort; only meaningful after `synchronize`.
    virtual void dropCachedPages() {}

    virtual void close() = 0;

    /// The POSIX descriptor for kernel-side fast paths, or -1 when the handle must be used only
    /// through its own operations (wrappers that observe or inject faults return -1).
    virtual int nativeDescriptor() const { return -1; }
};

/// The room left on a file system, as `FileManager::availableSpace` reads it.
struct FileSystemSpace
{
    qint64 availableBytes = 0;
    /// The free file entries (inodes): every new file or folder takes one. No value where the
    /// file system keeps no count of them.
    std::optional<qint64> availableFileEntries = std::nullopt;
    /// The unit the file system hands out: a file takes its size rounded up to a whole number of
    /// them.
    qint64 blockSize = 1;

    /// The bytes a file of `size` bytes takes on this file system.
    qint64 allocatedBytes(qint64 size) const;
    /// `availableFileEntries` from a file system's own counts of all and of free file entries:
    /// none when it counts none at all. A free count beyond a signed 64-bit figure is the largest:
    /// CephFS and some FUSE and SFTP file systems write all ones for "no limit".
    static std::optional<qint64> reportedFileEntries(quint64 fileEntries, quint64 freeFileEntries);

    bool operator==(const FileSystemSpace &) const = default;
};

/// The file-system operations Core uses, behind a seam so tests can inject failures (CI runs as
/// root, so permission failures can only be injected). Thread-safe. Paths are absolute.
class FileManager
{
public:
    FileManager() = default;
    FileManager(const FileManager &) = delete;
    FileManager &operator=(const FileManager &) = delete;
    virtual ~FileManager() = default;

    /// Creates the folder and any missing parents, each flushed into its parent folder; an
    /// existing folder is not an error (its entry is flushed into its parent once per process,
    /// as whoever made it may have been killed before it did).
    [[nodiscard]] virtual Result<void> createDirectory(const QString &path) const = 0;
    /// As `createDirectory`, but a folder at `path` that this call makes may be used by its owner
    /// only (for folders holding credentials); an existing folder is left as it is.
    [[nodiscard]] virtual Result<void> createPrivateDirectory(const QString &path) const = 0;
    /// Creates a new, empty regular file, replacing a file already at `path` by a new one (the old
    /// file is unlinked, never emptied in place). Fails with the system's reason, naming `path`.
    [[nodiscard]] virtual Result<void> createFile(const QString &path) const = 0;
    /// As `createFile`, with a file that only its owner may read and write.
    [[nodiscard]] virtual Result<void> createPrivateFile(const QString &path) const = 0;
    /// Removes a file, a symbolic link (not its target) or a folder with everything in it. A
    /// volume mounted inside the folder is never entered: the removal fails (EXDEV) at it.
    [[nodiscard]] virtual Result<void> removeItem(const QString &path) const = 0;
    /// Removes a folder only while it is empty; fails (ENOTEMPTY) when anything is in it, even
    /// an entry that appeared a moment ago, and (ENOTDIR) on anything but a folder.
    [[nodiscard]] virtual Result<void> removeDirectory(const QString &path) const = 0;
    /// Renames `from` to `to` on one file system, never replacing an existing `to` (EEXIST).
    [[nodiscard]] virtual Result<void> moveItem(const QString &from, const QString &to) const = 0;
    /// Renames `from` over `to` atomically, replacing it (for record files). The local file
    /// manager frees the replaced file shortly after, off the calling thread.
    [[nodiscard]] virtual Result<void> replaceItem(const QString &from,
                                                   const QString &to) const = 0;
    /// True when something exists at `path` (symbolic links followed).
    virtual bool fileExists(const QString &path) const = 0;
    /// True when this process may read the item at `path` (a folder: list it).
    virtual bool isReadableFile(const QString &path) const = 0;
    [[nodiscard]] virtual Result<FileAttributes> attributesOfItem(const QString &path) const = 0;
    /// Names of the folder's entries, hidden ones included, in no particular order.
    [[nodiscard]] virtual Result<QStringList> contentsOfDirectory(const QString &path) const = 0;
    /// The folder's entries with their attributes, hidden ones included, in no particular order.
    /// An entry that disappears while the folder is read is left out.
    [[nodiscard]] virtual Result<QList<DirectoryEntry>>
    entriesOfDirectory(const QString &path) const = 0;
    /// As `entriesOfDirectory`, but each entry's attributes hold only its type, as the folder
    /// listing tells it (one status call only where the file system does not): for walks of large
    /// trees that need nothing else.
    [[nodiscard]] virtual Result<QList<DirectoryEntry>>
    typedEntriesOfDirectory(const QString &path) const = 0;
    /// The path with every symbolic link resolved; the item must exist.
    [[nodiscard]] virtual Result<QString> resolvingSymlinks(const QString &path) const = 0;
    /// Opens for reading without waiting for a writer: a FIFO opens at once (and reads nothing),
    /// so that callers can refuse it by its `attributes`.
    [[nodiscard]] virtual Result<std::unique_ptr<FileHandle>>
    openForReading(const QString &path) const = 0;
    /// Opens an existing file for writing from its start, without truncating it.
    [[nodiscard]] virtual Result<std::unique_ptr<FileHandle>>
    openForWriting(const QString &path) const = 0;
    /// Opens an existing file so that every write goes to its end.
    [[nodiscard]] virtual Result<std::unique_ptr<FileHandle>>
    openForAppending(const QString &path) const = 0;
    /// Gives the file at `from` the second name `to` (a hard link), never replacing an existing
    /// `to` (EEXIST).
    [[nodiscard]] virtual Result<void> linkItem(const QString &from, const QString &to) const = 0;
    /// Flushes a folder's entries (new names, renames) to permanent storage.
    [[nodiscard]] virtual Result<void> synchronizeDirectory(const QString &path) const = 0;
    /// What an unprivileged writer may still put on the file system holding `path`, or on that of
    /// its nearest existing ancestor when `path` does not exist yet; no value when the file system
    /// reports no figure for its bytes. Fails with the system's error, naming the path asked.
    [[nodiscard]] virtual Result<std::optional<FileSystemSpace>>
    availableSpace(const QString &path) const = 0;
};

/// The production file manager over POSIX calls.
class LocalFileManager final : public FileManager
{
public:
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
};

/// Makes the entry of the existing folder at `path` durable in its parent: flushes the parent
/// through `fileManager` unless this process has flushed that entry already (as
/// `createDirectory` does for a folder it makes, and tries for one it finds). Where
/// `createDirectory` only tries, a failed flush is returned here, and the next call tries again:
/// for callers that count on what they put into the folder surviving a power cut.
[[nodiscard]] Result<void> makeDirectoryDurable(const FileManager &fileManager,
                                                const QString &path);
/// The whole contents of a file, read through `fileManager`.
[[nodiscard]] Result<QByteArray> readFileContents(const FileManager &fileManager,
                                                  const QString &path);
/// The whole contents of the regular file at `path`, judged as opened (a symbolic link to a
/// device is a device): anything but a regular file fails as `requireRegularFile` says, one of
/// more than `maxBytes` bytes with EFBIG naming `path`. Never reads more than `maxBytes` + 1 bytes,
/// so a file that grows while read is refused too.
[[nodiscard]] Result<QByteArray>
readRegularFileContents(const FileManager &fileManager, const QString &path, qint64 maxBytes);
/// `path` without "." and ".." components and with the symbolic links of its existing part
/// resolved, naming what the system would reach (".." after a link leads to the parent of the
/// link's target); a part that does not exist is kept as written. Never fails.
QString resolvingSymlinksInPath(const FileManager &fileManager, const QString &path);
/// Succeeds when `folder` can take a new file: the folder is made (with its parents) when it is
/// missing, and a hidden empty file is created in it and removed again; such empty files that an
/// earlier check left (killed between its steps) are removed first. Fails with the file system's
/// error, naming the folder or the file.
[[nodiscard]] Result<void> checkFolderTakesFiles(const FileManager &fileManager,
                                                 const QString &folder);
/// `checkFolderTakesFiles` for a folder that is made when it is first written to: while `folder`
/// is missing, the nearest folder above it that exists is checked instead, so that the check
/// makes no folder.
[[nodiscard]] Result<void> checkFolderWouldTakeFiles(const FileManager &fileManager,
                                                     const QString &folder);

/// Decodes a file name or path from its bytes. Bytes that are not valid UTF-8 are written as
/// "\xNN" so that it can be shown, and the second value is false: such a text cannot be used to
/// reach the file.
std::pair<QString, bool> decodeFileName(QByteArrayView bytes);

/// Refuses anything but a regular file as a source of bytes, as `read` reports an object it cannot
/// read: a folder with EISDIR, anything else (FIFO, device, socket) with EINVAL, naming `path`.
/// A FIFO would never end and a device such as /dev/zero never stops giving bytes.
[[nodiscard]] Result<void> requireRegularFile(FileAttributes::Type type, const QString &path);

/// The parent folder of an absolute path ("/a/b/c" -> "/a/b").
QString parentPath(const QString &path);
/// The last component of a path.
QString lastPathComponent(const QString &path);
/// True when the absolute `path` is `folder` or lies inside it, judged by the text of both (no
/// link is resolved). An empty `folder` holds nothing.
bool isSameOrInside(const QString &path, const QString &folder);
/// True when `name` is usable as one path component: not empty, no "/", no NUL, not "." or "..".
bool isSafePathComponent(const QString &name);
/// The most bytes one path component may take on the file systems Core writes to.
inline constexpr qsizetype maximumNameBytes = 255;
/// The longest start of `text` whose UTF-8 form takes at most `maxBytes` bytes, cut between two
/// characters (never inside a surrogate pair).
QString leadingUtf8Bytes(const QString &text, qsizetype maxBytes);

} // namespace Pellwick
