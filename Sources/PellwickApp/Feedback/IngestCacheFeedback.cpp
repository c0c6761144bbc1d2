#include "IngestCacheFeedback.h"

#include <PellwickApp/Feedback/DiskFeedback.h>
#include <PellwickApp/Feedback/LibraryFeedback.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Overloaded.h>

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <variant>

namespace Pellwick {

namespace {

/// The file-system failure behind `error` when it happened at `folder` or inside it, or, with
/// `orAbove`, at a folder above it (made on the way to it).
const FileSystemError *
fileSystemCauseIn(const Error &error, const QString &folder, bool orAbove = false)
{
    const FileSystemError *fileSystem = DiskFeedback::fileSystemCause(error);
    if (!fileSystem)
        return nullptr;
    const QString path = QDir::cleanPath(fileSystem->path);
    const QString place = QDir::cleanPath(folder);
    return isSameOrInside(path, place) || (orAbove && isSameOrInside(place, path)) ? fileSystem
                                                                                   : nullptr;
}

/// `cause` when it is a disk that refused a write (no space or file entries left, read-only, no
/// permission); null for any other failure or none.
const FileSystemError *refusedWrite(const FileSystemError *cause)
{
    const int code = cause ? cause->code : 0;
    return DiskFeedback::isNoSpace(code) || code == EACCES || code == EPERM || code == EROFS
               ? cause
               : nullptr;
}

/// The room check that refused `error`, or null for any other failure.
const IngestCacheError::InsufficientCapacity *insufficientCapacity(const Error &error)
{
    const IngestCacheError *cacheError = error.as<IngestCacheError>();
    return cacheError ? std::get_if<IngestCacheError::InsufficientCapacity>(&cacheError->value)
                      : nullptr;
}

} // namespace

QString IngestCacheFeedback::message(const IngestCacheError &error)
{
    return std::visit(
        Overloaded{
            [](const IngestCacheError::InsufficientCapacity &capacity) -> QString {
                // During a move the folder tells the target from the current cache.
                return DiskFeedback::shortOfSpace(
                    capacity.folder.isEmpty()
                        ? QStringLiteral("Ingest Cache")
                        : QStringLiteral("Ingest Cache (%1)").arg(capacity.folder),
                    capacity.requiredBytes,
                    capacity.availableBytes);
            },
            [](const IngestCacheError::VerificationFailed &) {
                return QStringLiteral("Ingest Cache copy verification failed.");
            },
            [](const IngestCacheError::UnsupportedMigrationItem &) {
                return QStringLiteral("Ingest Cache contains an item that cannot be migrated.");
            },
            [](const IngestCacheError::MigrationSourceChangedTooOften &) {
                return QStringLiteral(
                    "Ingest Cache files kept changing; retry migration when editing stops.");
            },
            [](const IngestCacheError::UnableToDetermineCapacity &) {
                return QStringLiteral("Ingest Cache capacity could not be determined.");
            },
            [](const IngestCacheError::MigrationTargetIsNotEmpty &) {
                return QStringLiteral("Choose an empty folder for Ingest Cache.");
            },
            [](const IngestCacheError::RetainedCacheConflicts &) {
                return QStringLiteral(
                    "Resolve retained-cache conflicts before deleting the old cache.");
            },
            [](const IngestCacheError::InvalidMigrationTarget &) {
                return outsideCurrentCacheMessage();
            },
            [](const IngestCacheError::MigrationSourceIsUnavailable &) {
                return QStringLiteral(
                    "Current Ingest Cache is unavailable; reconnect it before moving the cache.");
            },
            [](const IngestCacheError::PackageOutsideActiveRoot &) {
                return QStringLiteral(
                    "That cache package is no longer inside the active Ingest Cache.");
            },
            [](const IngestCacheError::RetainedCacheChanged &changed) {
                return retainedCacheChangedMessage(changed.remainingFiles);
            },
            [](const IngestCacheError::RetainedCacheNotFound &) {
                return QStringLiteral("Old Ingest Cache could not be found; its drive may not be "
                                      "connected. Connect it, then delete the old cache again.");
            },
        },
        error.value);
}

QString IngestCacheFeedback::message(const Error &error, const QString &otherwise)
{
    const IngestCacheError *cacheError = error.as<IngestCacheError>();
    return cacheError ? message(*cacheError) : otherwise;
}

QString IngestCacheFeedback::copyFailedMessage(const Error &error,
                                               const QString &cacheRoot,
                                               const QString &otherwise)
{
    if (const auto *capacity = insufficientCapacity(error))
        return DiskFeedback::shortOfSpace(
                   QStringLiteral("Ingest Cache (%1)")
                       .arg(capacity->folder.isEmpty() ? cacheRoot : capacity->folder),
                   capacity->requiredBytes,
                   capacity->availableBytes)
               + QStringLiteral(" Free space there, then add to Ingest Cache again.");
    const FileSystemError *refused = refusedWrite(fileSystemCauseIn(error, cacheRoot));
    if (!refused)
        return message(error, otherwise);
    if (DiskFeedback::isOutOfFileEntries(*refused))
        return DiskFeedback::chosenFolderFailure(
            cacheRoot, *refused, QStringLiteral("add to Ingest Cache again"));
    return DiskFeedback::folderFailure(cacheRoot, *refused) + QLatin1Char(' ')
           + (DiskFeedback::isNoSpace(refused->code)
                  ? QStringLiteral("Free space there, then add to Ingest Cache again.")
                  : notWritableMessage());
}

QString IngestCacheFeedback::moveFailedMessage(const Error &error,
                                               const QString &target,
                                               const QString &otherwise)
{
    const QString stays = QStringLiteral(" The current Ingest Cache stays in use.");
    const QString again = QStringLiteral("move again");
    if (isHeldByAnotherCopy(error))
        return folderInUseMessage(target)
               + QStringLiteral(" Choose another folder, then move again.") + stays;
    if (const auto *capacity = insufficientCapacity(error))
        return DiskFeedback::chosenFolderShortOfSpace(
                   target, capacity->requiredBytes, capacity->availableBytes, {}, again)
               + stays;
    // Folders made on the way to the target are the target's too.
    const FileSystemError *refused = refusedWrite(fileSystemCauseIn(error, target, true));
    if (!refused)
        return message(error, otherwise);
    return DiskFeedback::chosenFolderFailure(target, *refused, again) + stays;
}

QString IngestCacheFeedback::copiesNotRecordedMessage(const Error &error,
                                                      const QString &libraryFolder,
                                                      const QString &cacheRoot,
                                                      const QString &otherwise)
{
    // A cache in the library's folder (its default place when none was chosen): a failure on a
    // cache file is the cache's, not the library's.
    const bool inCache
        = fileSystemCauseIn(error, cacheRoot)
          && isSameOrInside(QDir::cleanPath(cacheRoot), QDir::cleanPath(libraryFolder));
    if (inCache || !fileSystemCauseIn(error, libraryFolder))
        return message(error, otherwise);
    return LibraryFeedback::writeErrorMessage(libraryFolder, error)
           + QStringLiteral(
               " The copies stay in the Ingest Cache; Refresh Cache finds them again.");
}

QString IngestCacheFeedback::unavailableMessage()
{
    return QStringLiteral("Ingest Cache is unavailable. Reconnect it or choose a new location.");
}

QString IngestCacheFeedback::folderAwayMessage(const QString &root)
{
    return QStringLiteral("Ingest Cache folder %1 is not available: its drive may need "
                          "connecting. Its photos stay in the library, and nothing is added to "
                          "it until it is back.")
        .arg(root);
}

bool IngestCacheFeedback::isHeldByAnotherCopy(const Error &error)
{
    const FileSystemError *held = error.as<FileSystemError>();
    return held && held->operation == u"lock" && held->code == EWOULDBLOCK;
}

QString IngestCacheFeedback::folderInUseMessage(const QString &folder)
{
    return QStringLiteral("Another copy of Pellwick uses the Ingest Cache folder %1.").arg(folder);
}

QString IngestCacheFeedback::locationNeedsAttentionMessage()
{
    return QStringLiteral("Ingest Cache location needs attention.");
}

QString IngestCacheFeedback::notAFolderMessage()
{
    return QStringLiteral("Choose an existing folder for Ingest Cache.");
}

QString IngestCacheFeedback::notWritableMessage()
{
    return QStringLiteral("Ingest Cache location needs to be writable.");
}

QString IngestCacheFeedback::pendingMigrationAtLaunchMessage()
{
    return QStringLiteral(
        "Ingest Cache migration needs attention. Resume it before changing cached files.");
}

QString IngestCacheFeedback::outsideCurrentCacheMessage()
{
    return QStringLiteral("Choose an Ingest Cache location outside the current cache.");
}

QString IngestCacheFeedback::restoreDestinationMessage()
{
    return QStringLiteral("A restore is saving files into that folder. Choose another Ingest "
                          "Cache location, or move the cache once the restore has finished.");
}

QString IngestCacheFeedback::activeArchivePackagesMessage()
{
    return QStringLiteral("Wait for active archive packages to finish before moving Ingest Cache.");
}

QString IngestCacheFeedback::readyToResumeMessage()
{
    return QStringLiteral("Ingest Cache move is ready to resume until verification completes.");
}

QString IngestCacheFeedback::migrationNeedsAttentionMessage()
{
    return QStringLiteral("Ingest Cache migration needs attention.");
}

QString IngestCacheFeedback::movedMessage()
{
    return QStringLiteral(
        "Ingest Cache moved and verified. Keep the old cache until cleanup is available.");
}

QString IngestCacheFeedback::locationChangedMessage()
{
    return QStringLiteral("Ingest Cache move cannot resume because the active cache location "
                          "changed. Start a new move.");
}

QString IngestCacheFeedback::synchronizationNeedsAttentionMessage()
{
    return QStringLiteral("Old cache synchronization needs attention.");
}

QString IngestCacheFeedback::synchronizedMessage()
{
    return QStringLiteral("Old cache is synchronized and ready for deletion confirmation.");
}

QString IngestCacheFeedback::deletionNeedsAttentionMessage()
{
    return QStringLiteral("Old Ingest Cache deletion needs attention.");
}

QString IngestCacheFeedback::retainedCacheChangedMessage(const QStringList &remainingFiles)
{
    // Names, not paths: enough to find them, short enough for the one message line.
    constexpr qsizetype shown = 3;
    QStringList names;
    for (const QString &file : remainingFiles.first(std::min(shown, remainingFiles.size())))
        names.append(lastPathComponent(file));
    if (remainingFiles.size() > shown)
        names.append(QStringLiteral("…"));
    const qsizetype count = remainingFiles.size();
    return QStringLiteral("Old Ingest Cache kept: %1 %2 in it changed during deletion (%3). "
                          "Check Old Cache, then delete it again.")
        .arg(QString::number(count),
             count == 1 ? QStringLiteral("file") : QStringLiteral("files"),
             names.join(QStringLiteral(", ")));
}

QString IngestCacheFeedback::deletedMessage()
{
    return QStringLiteral("Old Ingest Cache deleted after verification.");
}

QString IngestCacheFeedback::reconciliationFailedMessage()
{
    return QStringLiteral("Ingest Cache reconciliation needs attention");
}

QString IngestCacheFeedback::changedFilesMessage()
{
    return QStringLiteral("Changed Ingest Cache files need attention");
}

QString IngestCacheFeedback::interruptedCopyMessage(qsizetype count)
{
    const QString advice
        = QStringLiteral(" copy into the Ingest Cache was interrupted. Add the card again to "
                         "finish it.");
    if (count == 1)
        return QStringLiteral("1 photo needs attention: its") + advice;
    return QString::number(count) + QStringLiteral(" photos need attention: their") + advice;
}

QString IngestCacheFeedback::removalNeedsAttentionMessage()
{
    return QStringLiteral("Cache package removal needs attention");
}

QString IngestCacheFeedback::retainedConflictsMessage(qsizetype count)
{
    return QStringLiteral("Resolve ") + QString::number(count)
           + QStringLiteral(" old-cache conflicts before deletion.");
}

QString IngestCacheFeedback::removedPackagesMessage(qsizetype count)
{
    return QStringLiteral("Removed ") + QString::number(count) + QStringLiteral(" cache package")
           + (count == 1 ? QString() : QStringLiteral("s"));
}

} // namespace Pellwick
