#pragma once

#include <PellwickCore/Ingest/IngestCacheError.h>
#include <PellwickCore/Support/Error.h>

#include <QString>
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

    // Location.
    static QString unavailableMessage();
    static QString locationNeedsAttentionMessage();
    static QString notAFolderMessage();
    static QString notWritableMessage();

    // Move and retained old cache.
    static QString pendingMigrationAtLaunchMessage();
    static QString outsideCurrentCacheMessage();
    static QString activeArchivePackagesMessage();
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

    // Upkeep.
    static QString reconciliationFailedMessage();
    static QString changedFilesMessage();

    // Removal of packages.
    /// "Removed <count> cache package", with "s" for any count but one.
    static QString removedPackagesMessage(qsizetype count);
    static QString removalNeedsAttentionMessage();
};

} // namespace Pellwick
