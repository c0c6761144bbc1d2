#pragma once

#include <PellwickCore/Support/FileManager.h>

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <utility>

namespace Pellwick {

/// Where the system's mount tables are read; tests point them at fixture files and folders.
struct MountTablePaths
{
    /// The kernel's table of what is mounted now.
    QString mountInfo = QStringLiteral("/proc/self/mountinfo");
    /// The file systems table: where drives are mounted when they are there.
    QString fileSystemTable = QStringLiteral("/etc/fstab");
    /// Folders under which removable drives and shares are mounted while they are there.
    QStringList removableMountBases
        = {QStringLiteral("/media"), QStringLiteral("/run/media"), QStringLiteral("/mnt")};
};

/// A mount table field with the "\ooo" escapes (space, tab, newline, backslash) decoded. Bytes that
/// are not valid UTF-8 are written as "\xNN" and the second value is false.
std::pair<QString, bool> unescapeMountTableField(QByteArrayView field);

/// True when `path` may lie on a drive or share that is away, so that what is (or is not) found
/// there now says nothing of its contents: `path` or one of its ancestors is a mount point of the
/// file systems table that the kernel's table does not hold now, or `path` is missing and its
/// nearest existing ancestor lies under one of `removableMountBases` on that base's own file system
/// (no drive is mounted on the way). Unreadable tables count as empty. Reads the file system.
bool mayLieOnAbsentDrive(const FileManager &fileManager,
                         const QString &path,
                         const MountTablePaths &paths = {});

} // namespace Pellwick
