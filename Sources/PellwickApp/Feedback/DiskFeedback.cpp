#include "DiskFeedback.h"

#include <PellwickCore/Library/LibraryPresentation.h>

#include <cerrno>
#include <cstring>

namespace Pellwick {

namespace {

QString chosenFolderAdvice(bool isFull, const QString &again = QStringLiteral("retry"))
{
    return (isFull ? QStringLiteral("Free space or choose another folder, then %1.")
                   : QStringLiteral("Choose another folder, then %1."))
        .arg(again);
}

QString ownFolderAdvice(bool isFull, const QString &again = QStringLiteral("retry"))
{
    return (isFull ? QStringLiteral("Free space, then %1.")
                   : QStringLiteral("Make it writable, then %1."))
        .arg(again);
}

} // namespace

const FileSystemError *DiskFeedback::fileSystemCause(const Error &error)
{
    for (const Error *level = &error; level; level = level->cause()) {
        if (const auto *fileSystem = level->as<FileSystemError>())
            return fileSystem;
    }
    return nullptr;
}

bool DiskFeedback::isNoSpace(int code)
{
    return code == ENOSPC || code == EDQUOT;
}

QString DiskFeedback::reason(int code)
{
    if (isNoSpace(code))
        return QStringLiteral("no space left");
    switch (code) {
    case EROFS:
        return QStringLiteral("read-only");
    case EACCES:
        return QStringLiteral("permission denied");
    case EPERM:
        return QStringLiteral("not permitted");
    default:
        break;
    }
    QString text = QString::fromLocal8Bit(std::strerror(code));
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

QString DiskFeedback::folderFailure(const QString &folder, int code)
{
    if (isNoSpace(code))
        return QStringLiteral("No space left in %1.").arg(folder);
    return QStringLiteral("%1 cannot be written (%2).").arg(folder, reason(code));
}

QString DiskFeedback::chosenFolderFailure(const QString &folder, int code, const QString &again)
{
    return folderFailure(folder, code) + QLatin1Char(' ')
           + chosenFolderAdvice(isNoSpace(code), again);
}

QString DiskFeedback::ownFolderFailure(const QString &folder, int code)
{
    return folderFailure(folder, code) + QLatin1Char(' ') + ownFolderAdvice(isNoSpace(code));
}

QString DiskFeedback::shortOfSpace(const QString &folder, qint64 neededBytes, qint64 availableBytes)
{
    return folder + QStringLiteral(" needs ") + LibraryPresentation::byteText(neededBytes)
           + QStringLiteral("; ") + LibraryPresentation::byteText(availableBytes)
           + QStringLiteral(" available.");
}

QString DiskFeedback::chosenFolderShortOfSpace(const QString &folder,
                                               qint64 neededBytes,
                                               qint64 availableBytes)
{
    return shortOfSpace(folder, neededBytes, availableBytes) + QLatin1Char(' ')
           + chosenFolderAdvice(true);
}

QString DiskFeedback::ownFolderShortOfSpace(const QString &folder,
                                            qint64 neededBytes,
                                            qint64 availableBytes)
{
    return shortOfSpace(folder, neededBytes, availableBytes) + QLatin1Char(' ')
           + ownFolderAdvice(true);
}

QString DiskFeedback::managedFolderName(ManagedFolder folder)
{
    switch (folder) {
    case ManagedFolder::IngestCache:
        return QStringLiteral("the Ingest Cache");
    case ManagedFolder::RetainedIngestCache:
        return QStringLiteral("the old Ingest Cache");
    case ManagedFolder::StagingArea:
        return QStringLiteral("the Staging Area");
    case ManagedFolder::RestoreTransferState:
        return QStringLiteral("the Restore Transfer state folder");
    case ManagedFolder::LocalLibraryCache:
        return QStringLiteral("the Local Library Cache");
    }
    return {};
}

QString
DiskFeedback::dataFolderFailure(ManagedFolder folder, const QString &path, const Error &error)
{
    const FileSystemError *fileSystem = fileSystemCause(error);
    const int code = fileSystem ? fileSystem->code : EIO;
    QString sentence
        = folderFailure(folder == ManagedFolder::RestoreTransferState
                            ? restoreStateFolderName(path)
                            : QStringLiteral("%1 (%2)").arg(managedFolderName(folder), path),
                        code);
    sentence[0] = sentence[0].toUpper();
    return sentence + QLatin1Char(' ')
           + ownFolderAdvice(isNoSpace(code), QStringLiteral("choose Refresh Library"));
}

QString DiskFeedback::restoreStateFolderName(const QString &path)
{
    return QStringLiteral("Pellwick's restore state folder (%1)").arg(path);
}

} // namespace Pellwick
