#pragma once

#include <PellwickCore/Restore/ManagedFolder.h>
#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Restore/RestoreTransferTypes.h>
#include <PellwickCore/Support/Error.h>

#include <QString>

#include <optional>

namespace Pellwick {

/// The user text of a failed Restore Request operation. Pure functions, callable from any thread.
class RestoreFeedback
{
public:
    RestoreFeedback() = delete;

    /// The sentence for a Restore Request that could not be started. A failure of the disk names
    /// what said no: inside `libraryFolder`, the library that could not be saved and what was
    /// kept; elsewhere, the file and the system's reason. Only other failures blame the
    /// connection.
    static QString message(const Error &error, const QString &libraryFolder = QString());
    /// The sentence for a failed named operation, e.g. "Restore refresh" or "Library refresh";
    /// a failure of the disk is worded as for `message`.
    static QString operationMessage(const Error &error,
                                    const QString &operation,
                                    const QString &libraryFolder = QString());

    /// The attention reason kept with an item whose restore transfer ended with `error`, or why a
    /// run could not start writing. A file-system failure names the folder it happened in: the
    /// restore state folder `stateFolder` when its path lies there, else `destinationFolder`.
    static QString restoreTransferFailureReason(const Error &error,
                                                const QString &destinationFolder,
                                                const QString &stateFolder);
    /// Why a run did not start: the folder with too little free space, what the run needs there
    /// and what is free, with the advice for a full disk. The restore state folder `stateFolder`
    /// is named as Pellwick's own.
    static QString restoreSpaceShortfallMessage(const RestoreSpaceShortfall &shortfall,
                                                const QString &stateFolder);
    /// "Restore complete: <count> item(s) saved", the count in plain decimal digits whatever the
    /// locale, "item(s)" for one and for many.
    static QString restoreCompleteMessage(qint64 savedCount);
    /// A run that left items unsaved: "<saved> of <total> item(s) saved; <failed> need
    /// attention", the items of the whole request counted as `restoreCompleteMessage` counts.
    static QString partlySavedMessage(qint64 savedCount, qint64 itemCount, qint64 failedCount);
    /// `partlySavedMessage` of the request's items: those downloaded, all, those needing
    /// attention.
    static QString partlySavedMessage(const RestoreRequest &request);
    /// Why `request` needs attention: its own reason, else that of its first item with one, else
    /// a fixed sentence when its status needs attention; none otherwise.
    static std::optional<QString> restoreAttentionReason(const RestoreRequest &request);
    /// "Restore 1 RAW Original?", "Restore <count> RAW Originals?" for any other count.
    static QString restoreConfirmationTitle(qint64 itemCount);
    /// "Restore Transfer paused".
    static QString restoreTransferPausedMessage();
    /// The pause of a transfer that an earlier run left: "Restore Transfer paused: <saved> of
    /// <total> item(s) saved in <folder>", counted as `restoreCompleteMessage` counts.
    static QString
    unfinishedRestoreTransferMessage(qint64 savedCount, qint64 itemCount, const QString &folder);
    /// The word on a Restore Request in `status`: "Restore ready" and so on; a preparing request
    /// names its `preparationEstimate` when it has one.
    static QString restoreStatusMessage(RestoreRequestStatus status,
                                        const std::optional<QString> &preparationEstimate
                                        = std::nullopt);
    /// A cancellation found the Restore Request already finished.
    static QString restoreCompletedBeforeCancellationMessage();
    /// The refusal of a restore destination that is or lies inside `folder`, naming it.
    static QString managedDestinationMessage(ManagedFolder folder);
    /// Why `filename`, trimmed, cannot name a restored file (empty, a path, "." or ".."); none
    /// when it can.
    static std::optional<QString> refusedRestoreFilenameMessage(const QString &filename);

private:
    static QString
    unexpectedStatusMessage(int statusCode, const QString &operation, const QString &failureVerb);
    static QString restoreRequestFailureMessage(const QString &errorCode,
                                                const std::optional<QString> &reason,
                                                int statusCode,
                                                const std::optional<QString> &operation);
    static QString genericRestoreFailureMessage(const std::optional<QString> &operation,
                                                int statusCode);
    /// The text of the two conflicts found in local state, or none for any other error.
    static std::optional<QString> conflictMessage(const Error &error);
    /// The text of a failure of this computer's disk, led by `failure` where it is not the
    /// library's ("Restore refresh failed"), or none for any other error.
    static std::optional<QString>
    localFailureMessage(const Error &error, const QString &failure, const QString &libraryFolder);
};

} // namespace Pellwick
