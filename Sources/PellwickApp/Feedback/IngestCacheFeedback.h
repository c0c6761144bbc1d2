#pragma once

#include <PellwickCore/Ingest/IngestCacheError.h>
#include <PellwickCore/Support/Error.h>

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace Pellwick {

/// The user texts of the Ingest Cache: its failures, its location, its move and retained old
/// cache, its upkeep and the removal of packages. Pure functions, callable from any thread.
class IngestCacheFeedback
{
public:
    IngestCacheFeedback() = delete;

    /// The text of an Ingest Cache failure; relative paths are not shown.
    static QString message(const IngestCacheError &error);
    /// `message` of an Ingest Cache failure, `otherwise` for any other error.
    static QString message(const Error &error, const QString &otherwise);
    /// The text of a copy into the Ingest Cache at `cacheRoot` that failed with `error`. When the
    /// disk refused a write inside the cache (no space left, read-only, no permission), the
    /// folder and the reason: "No space left in <cacheRoot>. Free space there, then add to Ingest
    /// Cache again." or "<cacheRoot> cannot be written (<reason>). " + `notWritableMessage`.
    /// A room check that found too little space: "Ingest Cache (<folder>) needs <needed>;
    /// <available> available. Free space there, then add to Ingest Cache again." Otherwise
    /// `message(error, otherwise)`, so a copy whose bytes differ stays a failed verification.
    static QString
    copyFailedMessage(const Error &error, const QString &cacheRoot, const QString &otherwise);
    /// The text of a move of the Ingest Cache to `target` that failed with `error` before the
    /// new root was saved. When the disk refused a write at the target (no space left, read-only,
    /// no permission), the folder, the reason and that the cache was not moved: "No space left in
    /// <target>. Free space or choose another folder, then move again." or "<target> cannot be
    /// written (<reason>). Choose another folder, then move again.", and for a room check that
    /// found too little space "<target> needs <needed>; <available> available. Free space or
    /// choose another folder, then move again.", each followed by " The current Ingest Cache
    /// stays in use." Otherwise `message(error, otherwise)`, so copies that kept differing keep
    /// their own sentence.
    static QString
    moveFailedMessage(const Error &error, const QString &target, const QString &otherwise);
    /// The text of copies made into the Ingest Cache whose records could not be saved. When
    /// `error` is the disk's inside `libraryFolder` (and not inside `cacheRoot` lying there), the
    /// library's write failure followed by what
    /// was kept: "Pellwick could not save the library in <libraryFolder>: <reason>. The copies
    /// stay in the Ingest Cache; Refresh Cache finds them again." Otherwise `message(error,
    /// otherwise)`.
    static QString copiesNotRecordedMessage(const Error &error,
                                            const QString &libraryFolder,
                                            const QString &cacheRoot,
                                            const QString &otherwise);

    // Location.
    static QString unavailableMessage();
    /// The cache's folder at `root` is there but holds none of its photos' files, as the mount
    /// point of a drive that is not mounted: "Ingest Cache folder <root> is not available: its
    /// drive may need connecting. Its photos stay in the library, and nothing is added to it
    /// until it is back."
    static QString folderAwayMessage(const QString &root);
    /// Whether `error` is the refusal of a folder's hold that another running copy has.
    static bool isHeldByAnotherCopy(const Error &error);
    /// "Another copy of Pellwick uses the Ingest Cache folder <folder>."
    static QString folderInUseMessage(const QString &folder);
    static QString locationNeedsAttentionMessage();
    static QString notAFolderMessage();
    static QString notWritableMessage();

    // Move and retained old cache.
    static QString pendingMigrationAtLaunchMessage();
    static QString outsideCurrentCacheMessage();
    static QString activeArchivePackagesMessage();
    static QString restoreDestinationMessage();
    static QString readyToResumeMessage();
    static QString migrationNeedsAttentionMessage();
    static QString movedMessage();
    static QString locationChangedMessage();
    static QString synchronizationNeedsAttentionMessage();
    static QString synchronizedMessage();
    /// "Resolve <count> old-cache conflicts before deletion."
    static QString retainedConflictsMessage(qsizetype count);
    static QString deletionNeedsAttentionMessage();
    static QString deletedMessage();
    /// "Old Ingest Cache kept: <count> file(s) in it changed during deletion (<names>). Check Old
    /// Cache, then delete it again.", naming the first three files by name.
    static QString retainedCacheChangedMessage(const QStringList &remainingFiles);

    // Upkeep.
    static QString reconciliationFailedMessage();
    static QString changedFilesMessage();
    /// "1 photo needs attention: its copy into the Ingest Cache was interrupted. Add the card
    /// again to finish it.", or for any other count "<count> photos need attention: their copy …".
    static QString interruptedCopyMessage(qsizetype count);

    // Removal of packages.
    /// "Removed <count> cache package", with "s" for any count but one.
    static QString removedPackagesMessage(qsizetype count);
    static QString removalNeedsAttentionMessage();
};

} // namespace Pellwick
