#include "DiskFeedback.h"

#include <PellwickCore/Library/LibraryPresentation.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Pellwick {

namespace {

/// How a folder refused: out of file entries, full, or otherwise.
enum class Refusal {
    NoFileEntries,
    NoSpace,
    Other
};

Refusal refusal(const FileSystemError &failure)
{
    if (DiskFeedback::isOutOfFileEntries(failure))
        return Refusal::NoFileEntries;
    return DiskFeedback::isNoSpace(failure.code) ? Refusal::NoSpace : Refusal::Other;
}

/// What to do about a refusal. A folder the user chose can be swapped for another; one Pellwick
/// keeps for itself cannot.
QString advice(Refusal refused,
               bool chosenFolder,
               const QString &again = QStringLiteral("retry"),
               bool several = false)
{
    const QString orAnother
        = chosenFolder ? QStringLiteral(" or choose another folder") : QString();
    switch (refused) {
    case Refusal::NoFileEntries:
        return QStringLiteral("Remove files there%1, then %2.").arg(orAnother, again);
    case Refusal::NoSpace:
        return QStringLiteral("Free space%1, then %2.").arg(orAnother, again);
    case Refusal::Other:
        break;
    }
    if (chosenFolder)
        return QStringLiteral("Choose another folder, then %1.").arg(again);
    return QStringLiteral("Make %1 writable, then %2.")
        .arg(several ? QStringLiteral("them") : QStringLiteral("it"), again);
}

/// "A", "A and B", "A, B and C".
QString listed(const QStringList &names)
{
    if (names.size() < 2)
        return names.value(0);
    return QStringList(names.mid(0, names.size() - 1)).join(QStringLiteral(", "))
           + QStringLiteral(" and ") + names.constLast();
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

bool DiskFeedback::isOutOfFileEntries(const FileSystemError &failure)
{
    return failure.code == ENOSPC && failure.freeBytesWithoutFileEntries.has_value();
}

QString DiskFeedback::reason(const FileSystemError &failure)
{
    if (isOutOfFileEntries(failure))
        return QStringLiteral("no free file entries left (%1 are free)")
            .arg(LibraryPresentation::byteText(*failure.freeBytesWithoutFileEntries));
    return reason(failure.code);
}

QString DiskFeedback::holdsNoMoreFiles(const QString &folder, qint64 freeBytes)
{
    return QStringLiteral(
               "%1 can hold no more files: its file system has no free file entries left (%2 "
               "are free)")
        .arg(folder, LibraryPresentation::byteText(freeBytes));
}

QString DiskFeedback::folderFailure(const QString &folder, const FileSystemError &failure)
{
    switch (refusal(failure)) {
    case Refusal::NoFileEntries:
        return holdsNoMoreFiles(folder, *failure.freeBytesWithoutFileEntries) + QLatin1Char('.');
    case Refusal::NoSpace:
        return QStringLiteral("No space left in %1.").arg(folder);
    case Refusal::Other:
        break;
    }
    return QStringLiteral("%1 cannot be written (%2).").arg(folder, reason(failure.code));
}

QString DiskFeedback::chosenFolderFailure(const QString &folder,
                                          const FileSystemError &failure,
                                          const QString &again)
{
    return folderFailure(folder, failure) + QLatin1Char(' ')
           + advice(refusal(failure), true, again);
}

QString DiskFeedback::ownFolderFailure(const QString &folder, const FileSystemError &failure)
{
    return folderFailure(folder, failure) + QLatin1Char(' ') + advice(refusal(failure), false);
}

QString DiskFeedback::shortOfSpace(const QString &folder,
                                   qint64 neededBytes,
                                   qint64 availableBytes,
                                   const QString &shares)
{
    return folder + QStringLiteral(" needs ") + LibraryPresentation::byteText(neededBytes) + shares
           + QStringLiteral("; ") + LibraryPresentation::byteText(availableBytes)
           + QStringLiteral(" available.");
}

QString DiskFeedback::chosenFolderShortOfSpace(const QString &folder,
                                               qint64 neededBytes,
                                               qint64 availableBytes,
                                               const QString &shares,
                                               const QString &again)
{
    return shortOfSpace(folder, neededBytes, availableBytes, shares) + QLatin1Char(' ')
           + advice(Refusal::NoSpace, true, again);
}

QString DiskFeedback::ownFolderShortOfSpace(const QString &folder,
                                            qint64 neededBytes,
                                            qint64 availableBytes)
{
    return shortOfSpace(folder, neededBytes, availableBytes) + QLatin1Char(' ')
           + advice(Refusal::NoSpace, false);
}

QString DiskFeedback::shortOfFileEntries(const QString &folder,
                                         qint64 neededEntries,
                                         qint64 availableEntries,
                                         bool chosenFolder)
{
    return QStringLiteral("%1 needs %2 new files; its file system has free file entries for %3. ")
               .arg(folder)
               .arg(neededEntries)
               .arg(availableEntries)
           + advice(Refusal::NoFileEntries, chosenFolder);
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

QString DiskFeedback::dataFolderFailures(const QList<UnwritableDataFolder> &folders)
{
    // Folders that failed alike, in the order of their first: a failure and the names.
    QList<std::pair<FileSystemError, QStringList>> alike;
    for (const UnwritableDataFolder &each : folders) {
        const FileSystemError *cause = fileSystemCause(each.error);
        const FileSystemError failure = cause ? *cause : FileSystemError{{}, each.path, EIO};
        const QString name
            = each.folder == ManagedFolder::RestoreTransferState
                  ? restoreStateFolderName(each.path)
                  : QStringLiteral("%1 (%2)").arg(managedFolderName(each.folder), each.path);
        // A disk out of file entries is told with its own free bytes.
        const auto group = std::find_if(alike.begin(), alike.end(), [&](const auto &other) {
            return !isOutOfFileEntries(failure) && !isOutOfFileEntries(other.first)
                   && reason(other.first.code) == reason(failure.code);
        });
        if (group == alike.end())
            alike.append({failure, {name}});
        else
            group->second.append(name);
    }
    QStringList sentences;
    for (const auto &[failure, names] : std::as_const(alike)) {
        QString sentence = folderFailure(listed(names), failure);
        sentence[0] = sentence[0].toUpper();
        sentences.append(sentence + QLatin1Char(' ')
                         + advice(refusal(failure),
                                  false,
                                  QStringLiteral("choose Refresh Library"),
                                  names.size() > 1));
    }
    return sentences.join(QLatin1Char(' '));
}

QString DiskFeedback::restoreStateFolderName(const QString &path)
{
    return QStringLiteral("Pellwick's restore state folder (%1)").arg(path);
}

} // namespace Pellwick
