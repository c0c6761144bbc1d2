#include "AtomicFile.h"

#include <QUuid>

namespace Pellwick {

namespace {

QString temporaryPrefix(const QString &targetName)
{
    return QLatin1Char('.') + targetName + QLatin1Char('.');
}

const QString temporarySuffix = QStringLiteral(".tmp");

} // namespace

Result<void>
writeFileAtomically(const FileManager &fileManager, const QString &path, const QByteArray &data)
{
    const QString folder = parentPath(path);
    const QString temporary = folder + QLatin1Char('/') + temporaryPrefix(lastPathComponent(path))
                              + QUuid::createUuid().toString(QUuid::WithoutBraces)
                              + temporarySuffix;

    auto write = [&]() -> Result<void> {
        if (!fileManager.createFile(temporary))
            return fileSystemFailure(QStringLiteral("create"), temporary, EIO);
        Result<std::unique_ptr<FileHandle>> handle = fileManager.openForWriting(temporary);
        if (!handle)
            return tl::unexpected<Error>(std::move(handle).error());
        PELLWICK_TRY((*handle)->write(data.constData(), data.size()));
        PELLWICK_TRY((*handle)->synchronize());
        (*handle)->close();
        return fileManager.replaceItem(temporary, path);
    };

    if (Result<void> written = write(); !written) {
        (void) fileManager.removeItem(temporary);
        return written;
    }
    // The new name is in place; a failure to flush the folder is reported, the file is kept.
    return fileManager.synchronizeDirectory(folder);
}

bool isTemporaryFileOfAtomicWrite(const QString &name, const QString &targetName)
{
    const QString prefix = temporaryPrefix(targetName);
    return name.size() > prefix.size() + temporarySuffix.size() && name.startsWith(prefix)
           && name.endsWith(temporarySuffix);
}

} // namespace Pellwick
