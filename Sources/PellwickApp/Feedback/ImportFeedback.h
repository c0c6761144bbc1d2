#pragma once

#include <PellwickCore/Support/Error.h>

#include <QString>

namespace Pellwick {

/// The user texts of the import road (scan, Add to Ingest Cache, confirmed Import, recovery and
/// source-media safety) and the log line of a confirmed Import that failed. Pure functions,
/// callable from any thread.
class ImportFeedback
{
public:
    ImportFeedback() = delete;

    /// The folders a confirmed import works in. A failure of the disk in one of them is named
    /// with it ("the Staging Area (<path>)"); a failure elsewhere with the folder of its file.
    struct Folders
    {
        QString stagingArea;
        QString library;
        QString ingestCache;
    };

    /// The sentence the shell shows for `error`. An error that would read "Import could not
    /// complete. Keep source media and retry." and comes from a failure of the disk names the
    /// folder and the system's reason after "Import could not complete: ", e.g. "no space left in
    /// the Staging Area (<path>)" or "the library (<path>) cannot be used (read-only)".
    static QString message(const Error &error, const Folders &folders = {});
    /// One key=value token that names the failure for the log, e.g. "library_http_status=503".
    static QString diagnostic(const Error &error);
    /// Writes "Confirmed Import failed: " + `diagnostic(error)` at critical level to the category
    /// "<application identifier>.import". The user text is never logged.
    static void log(const Error &error);

    /// "Connection failed. Check connection and retry.": an import that could not reach the
    /// backend or the archive's storage.
    static QString connectionFailedMessage();
    static QString importReviewFailedMessage();
    /// "Added <added> files to Ingest Cache", followed by "; <archived> files already archived"
    /// when some copies were already archived; "<archived> files already archived; nothing added
    /// to Ingest Cache" when all were. Where archived copies are named, a count of one reads
    /// "file". Photos the Ingest Cache held already follow as "; <held> were already there.", or
    /// read "<held> files were already in Ingest Cache; their copies were replaced." when nothing
    /// else was (the new copies took the place of the earlier ones).
    static QString
    addedToIngestCacheMessage(qint64 added, qint64 alreadyArchived, qint64 alreadyHeld = 0);
    static QString ingestCacheCopyNeedsAttentionMessage();
    static QString selectedCacheFilesChangedMessage();
    /// "<archived> files safely archived; " and either "<pending> cache cleanups will retry" or
    /// "cache cleanup complete".
    static QString archivedMessage(qsizetype archived, qint64 pendingCleanups);
    /// `archivedMessage` + "; <count> files need attention".
    static QString archivedNeedingAttentionMessage(qsizetype archived,
                                                   qint64 pendingCleanups,
                                                   qsizetype needingAttention);
    static QString recoveringMessage();
    static QString recoveryNeedsAttentionMessage();
    static QString recoveryCleanupNeedsAttentionMessage();
    static QString recoveryCleanupWillRetryMessage();
    static QString sourceMediaChangedMessage();
};

} // namespace Pellwick
