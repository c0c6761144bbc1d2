#include "AtomicFile.h"

#include <QUuid>

namespace Pellwick {

Result<void> writeFileAtomically(const FileManager &fileManager,
                                 const QString &path,
                                 const QByteArray &data,
                                 FileAccess access)
{
    const QString temporary
        = parentPath(path) + QStringLiteral("/.") + lastPathComponent(path) + QLatin1Char('.')
          + QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".tmp");
    return writeFileAtomically(fileManager, path, data, temporary, access);
}

Result<void> writeFileAtomically(const FileManager &fileManager,
                                 const QString &path,
                                 const QByteArray &data,
                                 const QString &temporary,
                                 FileAccess access)
{
    const QString folder = parentPath(path);

    auto write = [&]() -> Result<void> {
        PELLWICK_TRY(access == FileAccess::OwnerOnly ? fileManager.createPrivateFile(temporary)
                                                     : fileManager.createFile(temporary));
        PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> handle,
                            fileManager.openForWriting(temporary));
        PELLWICK_TRY(handle->write(data.constData(), data.size()));
        PELLWICK_TRY(handle->synchronize());
        handle->close();
        return fileManager.replaceItem(temporary, path);
    };

    if (Result<void> written = write(); !written) {
        (void) fileManager.removeItem(temporary);
        return written;
    }
    // The new name is in place; a failure to flush the folder is reported, the file is kept.
    return fileManager.synchronizeDirectory(folder);
}

} // namespace Pellwick
