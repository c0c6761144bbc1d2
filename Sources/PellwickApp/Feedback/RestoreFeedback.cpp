#include "RestoreFeedback.h"

#include <PellwickApp/Feedback/BackendText.h>
#include <PellwickApp/Feedback/DiskFeedback.h>
#include <PellwickApp/Feedback/LibraryFeedback.h>
#include <PellwickCore/Library/LibraryPresentation.h>
#include <PellwickCore/Restore/RestoreRequestCoordinator.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Overloaded.h>

#include <algorithm>

namespace Pellwick {

std::optional<QString> RestoreFeedback::localFailureMessage(const Error &error,
                                                            const QString &failure,
                                                            const QString &libraryFolder)
{
    if (unsavedRestoreRequest(error)) {
        return LibraryFeedback::writeErrorMessage(libraryFolder,
                                                  error.cause() ? *error.cause() : error)
               + QStringLiteral(" The Restore Request is shown as the service holds it; the "
                                "library keeps its earlier restore status.");
    }
    const FileSystemError *fileSystem = DiskFeedback::fileSystemCause(error);
    if (!fileSystem)
        return std::nullopt;
    if (isSameOrInside(fileSystem->path, libraryFolder))
        return LibraryFeedback::writeErrorMessage(libraryFolder, error)
               + QStringLiteral(" The library keeps what it held before.");
    return QStringLiteral("%1: %2: %3.")
        .arg(failure, fileSystem->path, DiskFeedback::reason(*fileSystem));
}

std::optional<QString> RestoreFeedback::conflictMessage(const Error &error)
{
    const auto *coordinator = error.as<RestoreRequestCoordinatorError>();
    if (!coordinator)
        return std::nullopt;
    if (std::holds_alternative<RestoreRequestCoordinatorError::LocalLibraryCacheConflict>(
            coordinator->value))
        return QStringLiteral("Restore cannot continue because Local Library Cache has "
                              "conflicting items. Refresh Local Library Cache, then try again.");
    if (std::holds_alternative<RestoreRequestCoordinatorError::RestoreRequestItemConflict>(
            coordinator->value))
        return QStringLiteral("Restore cannot continue because Restore Request has conflicting "
                              "items. Contact support, then try again.");
    return std::nullopt;
}

QString RestoreFeedback::message(const Error &error, const QString &libraryFolder)
{
    if (std::optional<QString> conflict = conflictMessage(error))
        return *std::move(conflict);
    if (const auto *client = error.as<LibrarySessionClientError>()) {
        return std::visit(
            Overloaded{
                [](const LibrarySessionClientError::UnexpectedStatus &unexpected) {
                    return unexpectedStatusMessage(unexpected.statusCode,
                                                   QStringLiteral("Restore Request"),
                                                   QStringLiteral("could not start"));
                },
                [](const LibrarySessionClientError::StorageFull &) {
                    return QStringLiteral(
                        "Restore Request could not start because Managed Archive Storage is "
                        "full. Review storage plan, then try again.");
                },
                [](const LibrarySessionClientError::RestoreAllowanceExceeded &exceeded) {
                    return exceeded.kind == RestoreAllowanceKind::Paid
                               ? QStringLiteral("Restore Allowance reached. Wait for next plan "
                                                "year or contact support.")
                               : QStringLiteral("Trial Restore Allowance reached. Start a Paid "
                                                "Plan to restore more RAW Originals.");
                },
                [](const LibrarySessionClientError::RestoreRequestFailed &failed) {
                    return restoreRequestFailureMessage(
                        failed.error, failed.reason, failed.statusCode, std::nullopt);
                },
                [](const LibrarySessionClientError::ImportUnavailable &) {
                    return QStringLiteral("Restore Request could not start because Imports are "
                                          "unavailable. Check plan status, then try again.");
                },
                [](const LibrarySessionClientError::RestoreUnavailableAfterGracePeriod &) {
                    return QStringLiteral("Restore unavailable: Billing Grace Period ended. Renew "
                                          "plan to restore RAW Originals.");
                },
            },
            client->value);
    }
    if (std::optional<QString> local = localFailureMessage(
            error, QStringLiteral("Restore Request could not start"), libraryFolder))
        return *std::move(local);
    return QStringLiteral(
        "Restore Request could not start. Check internet connection, then try again.");
}

QString RestoreFeedback::operationMessage(const Error &error,
                                          const QString &operation,
                                          const QString &libraryFolder)
{
    if (std::optional<QString> conflict = conflictMessage(error))
        return *std::move(conflict);
    if (const auto *client = error.as<LibrarySessionClientError>()) {
        if (const auto *unexpected
            = std::get_if<LibrarySessionClientError::UnexpectedStatus>(&client->value))
            return unexpectedStatusMessage(
                unexpected->statusCode, operation, QStringLiteral("failed"));
        if (const auto *failed
            = std::get_if<LibrarySessionClientError::RestoreRequestFailed>(&client->value))
            return restoreRequestFailureMessage(
                failed->error, failed->reason, failed->statusCode, operation);
        return message(error);
    }
    if (std::optional<QString> local
        = localFailureMessage(error, operation + QStringLiteral(" failed"), libraryFolder))
        return *std::move(local);
    return operation + QStringLiteral(" failed. Check internet connection, then try again.");
}

QString RestoreFeedback::unexpectedStatusMessage(int statusCode,
                                                 const QString &operation,
                                                 const QString &failureVerb)
{
    const QString code = QString::number(statusCode);
    if (statusCode == 401)
        return operation
               + QStringLiteral(" failed because sign-in expired. Sign in again, then try again.");
    if (statusCode == 403)
        return operation
               + QStringLiteral(" was denied (HTTP 403). Check plan and sign-in status, then try "
                                "again.");
    if (statusCode == 404 || statusCode == 422)
        return operation + u' ' + failureVerb + QStringLiteral(" (HTTP ") + code
               + QStringLiteral("). Refresh Local Library Cache, then try again.");
    if (statusCode == 408 || statusCode == 429)
        return operation + u' ' + failureVerb
               + QStringLiteral(" because service is busy. Wait a moment, then try again.");
    if (statusCode >= 500 && statusCode <= 599)
        return operation + u' ' + failureVerb
               + QStringLiteral(" because Pellwick service is unavailable. Try again later.");
    return genericRestoreFailureMessage(operation, statusCode);
}

QString RestoreFeedback::restoreRequestFailureMessage(const QString &errorCode,
                                                      const std::optional<QString> &reason,
                                                      int statusCode,
                                                      const std::optional<QString> &operation)
{
    if (errorCode == u"active_restore_request")
        return QStringLiteral("Another Restore Request is active. Refresh Restore, then finish "
                              "or cancel it before starting another.");
    if (errorCode == u"not_verified_backup")
        return QStringLiteral("Selected RAW Original is not a Verified Backup. Refresh Local "
                              "Library Cache, choose a Verified Backup, then try again.");
    if (errorCode == u"not_found") {
        return operation ? QStringLiteral("Restore Request no longer exists. Refresh Local "
                                          "Library Cache, then create a new Restore Request.")
                         : QStringLiteral("Selected RAW Original is no longer in your Library. "
                                          "Refresh Local Library Cache, then choose it again.");
    }
    if (errorCode == u"empty_restore_request")
        return QStringLiteral("Choose at least one Verified Backup before starting Restore.");
    if (errorCode == u"restore_unavailable") {
        return QStringLiteral("Restore unavailable: ")
               + (reason ? shownBackendText(*reason).replace(u'_', u' ')
                         : QStringLiteral("no reason returned"))
               + QStringLiteral(". Check plan status, then try again.");
    }
    if (errorCode == u"restore_request_not_cancellable")
        return QStringLiteral("Restore Request already completed before it could be stopped. "
                              "Refresh Restore to see its final status.");
    if (errorCode == u"restore_request_not_retryable")
        return QStringLiteral("Restore Request can retry only when it Needs Attention. Refresh "
                              "Restore to see current status.");
    if (errorCode == u"restore_not_ready")
        return QStringLiteral("Restore Request is still preparing. Wait for Ready before "
                              "starting Restore Transfer.");
    return genericRestoreFailureMessage(operation, statusCode);
}

QString RestoreFeedback::genericRestoreFailureMessage(const std::optional<QString> &operation,
                                                      int statusCode)
{
    const QString code = QString::number(statusCode);
    if (operation)
        return *operation + QStringLiteral(" failed (HTTP ") + code
               + QStringLiteral("). Try again; if it continues, contact support.");
    return QStringLiteral("Restore Request could not start (HTTP ") + code
           + QStringLiteral("). Try again; if it continues, contact support.");
}

QString RestoreFeedback::restoreTransferFailureReason(const Error &error,
                                                      const QString &destinationFolder,
                                                      const QString &stateFolder)
{
    const auto *transfer = error.as<RestoreTransferError>();
    if (!transfer) {
        const FileSystemError *fileSystem = DiskFeedback::fileSystemCause(error);
        if (!fileSystem)
            return QStringLiteral("Restore Transfer failed. Check your connection, then retry.");
        // A folder above the state folder that could not be made is the state folder's failure,
        // unless the destination lies in it too.
        const bool inStateFolder = isSameOrInside(fileSystem->path, stateFolder)
                                   || (isSameOrInside(stateFolder, fileSystem->path)
                                       && !isSameOrInside(destinationFolder, fileSystem->path));
        if (inStateFolder)
            return DiskFeedback::ownFolderFailure(DiskFeedback::restoreStateFolderName(stateFolder),
                                                  *fileSystem);
        return DiskFeedback::chosenFolderFailure(destinationFolder, *fileSystem);
    }
    QString incomplete
        = QStringLiteral("Restore Transfer received incomplete data. Retry this RAW Original.");
    return std::visit(
        Overloaded{
            [&](const RestoreTransferError::InvalidRangeData &) { return incomplete; },
            [&](const RestoreTransferError::ByteCountMismatch &) { return incomplete; },
            [](const RestoreTransferError::ContentHashMismatch &) {
                return QStringLiteral(
                    "Restore Transfer did not verify the RAW Original. Retry this RAW Original.");
            },
            [](const RestoreTransferError::MissingLocalLibraryItem &) {
                return QStringLiteral("This RAW Original is missing from Local Library Cache. "
                                      "Refresh Local Library Cache, then retry.");
            },
            [](const RestoreTransferError::DestinationAlreadyExists &) {
                return QStringLiteral(
                    "Restore destination changed. Choose a destination again, then retry.");
            },
            [](const RestoreTransferError::Paused &) {
                return QStringLiteral("Restore Transfer paused. Continue when ready.");
            },
            [](const RestoreTransferError::Cancelled &) {
                return QStringLiteral("Restore stopped in Pellwick.");
            },
            [](const RestoreTransferError::UnexpectedRangeResponse &) {
                return QStringLiteral("Restore Transfer could not download a byte range. Check "
                                      "your connection, then retry.");
            },
            [](const RestoreTransferError::MissingSidecarCapability &) {
                return QStringLiteral(
                    "Restore Transfer could not retrieve the paired Sidecar. Retry this Archive "
                    "Package.");
            },
        },
        transfer->value);
}

QString RestoreFeedback::restoreSpaceShortfallMessage(const RestoreSpaceShortfall &shortfall,
                                                      const QString &stateFolder)
{
    if (shortfall.folder == stateFolder) {
        const QString folder = DiskFeedback::restoreStateFolderName(stateFolder);
        if (shortfall.isShortOfFileEntries())
            return DiskFeedback::shortOfFileEntries(
                folder, shortfall.neededFileEntries, shortfall.availableFileEntries, false);
        return DiskFeedback::ownFolderShortOfSpace(
            folder, shortfall.neededBytes, shortfall.availableBytes);
    }
    if (shortfall.isShortOfFileEntries())
        return DiskFeedback::shortOfFileEntries(
            shortfall.folder, shortfall.neededFileEntries, shortfall.availableFileEntries, true);
    // The state folder on the same disk takes its working room from the destination's.
    const QString shares
        = shortfall.stateBytes <= 0
              ? QString()
              : QStringLiteral(" (%1 for the restored files, %2 working room for %3 on the same "
                               "disk)")
                    .arg(
                        LibraryPresentation::byteText(shortfall.neededBytes - shortfall.stateBytes),
                        LibraryPresentation::byteText(shortfall.stateBytes),
                        DiskFeedback::restoreStateFolderName(stateFolder));
    return DiskFeedback::chosenFolderShortOfSpace(
        shortfall.folder, shortfall.neededBytes, shortfall.availableBytes, shares);
}

QString RestoreFeedback::restoreCompleteMessage(qint64 savedCount)
{
    return QStringLiteral("Restore complete: ") + QString::number(savedCount)
           + QStringLiteral(" item(s) saved");
}

QString RestoreFeedback::partlySavedMessage(qint64 savedCount, qint64 itemCount, qint64 failedCount)
{
    return QString::number(savedCount) + QStringLiteral(" of ") + QString::number(itemCount)
           + QStringLiteral(" item(s) saved; ") + QString::number(failedCount)
           + QStringLiteral(" need attention");
}

QString RestoreFeedback::partlySavedMessage(const RestoreRequest &request)
{
    const auto count = [&](RestoreRequestStatus status) -> qint64 {
        return std::count_if(request.items.cbegin(),
                             request.items.cend(),
                             [&](const RestoreRequestItem &item) { return item.status == status; });
    };
    return partlySavedMessage(count(RestoreRequestStatus::Downloaded),
                              request.items.size(),
                              count(RestoreRequestStatus::NeedsAttention));
}

std::optional<QString> RestoreFeedback::restoreAttentionReason(const RestoreRequest &request)
{
    if (request.attentionReason)
        return request.attentionReason;
    const auto item = std::find_if(
        request.items.cbegin(), request.items.cend(), [](const RestoreRequestItem &each) {
            return each.attentionReason.has_value();
        });
    if (item != request.items.cend())
        return item->attentionReason;
    if (request.status == RestoreRequestStatus::NeedsAttention) {
        return QStringLiteral(
            "Archive Storage preparation needs attention, but Pellwick did not receive a detailed "
            "reason. Retry preparation or cancel this Restore Request.");
    }
    return std::nullopt;
}

QString RestoreFeedback::restoreConfirmationTitle(qint64 itemCount)
{
    if (itemCount == 1)
        return QStringLiteral("Restore 1 RAW Original?");
    return QStringLiteral("Restore %1 RAW Originals?").arg(itemCount);
}

QString RestoreFeedback::restoreTransferPausedMessage()
{
    return QStringLiteral("Restore Transfer paused");
}

QString RestoreFeedback::unfinishedRestoreTransferMessage(qint64 savedCount,
                                                          qint64 itemCount,
                                                          const QString &folder)
{
    return restoreTransferPausedMessage() + QStringLiteral(": ") + QString::number(savedCount)
           + QStringLiteral(" of ") + QString::number(itemCount)
           + QStringLiteral(" item(s) saved in ") + folder;
}

QString RestoreFeedback::restoreStatusMessage(RestoreRequestStatus status,
                                              const std::optional<QString> &preparationEstimate)
{
    switch (status) {
    case RestoreRequestStatus::Preparing:
        if (preparationEstimate)
            return QStringLiteral("Restore preparing \u2014 estimated ready ")
                   + *preparationEstimate;
        return QStringLiteral("Restore preparing");
    case RestoreRequestStatus::Ready:
        return QStringLiteral("Restore ready");
    case RestoreRequestStatus::Downloaded:
        return QStringLiteral("Restore downloaded");
    case RestoreRequestStatus::NeedsAttention:
        return QStringLiteral("Restore needs attention");
    case RestoreRequestStatus::Cancelled:
        break;
    }
    return QStringLiteral("Restore cancelled");
}

QString RestoreFeedback::restoreCompletedBeforeCancellationMessage()
{
    return QStringLiteral("Restore completed before cancellation could finish");
}

QString RestoreFeedback::managedDestinationMessage(ManagedFolder folder)
{
    return QStringLiteral("Choose a restore destination outside ")
           + DiskFeedback::managedFolderName(folder) + QLatin1Char('.');
}

std::optional<QString> RestoreFeedback::refusedRestoreFilenameMessage(const QString &filename)
{
    // `trimmed` also drops U+0085 and U+2028, as the filename prompt may carry them.
    const QString name = filename.trimmed();
    if (name.isEmpty())
        return QStringLiteral("Enter a filename.");
    if (name.contains(QLatin1Char('/')))
        return QStringLiteral("A filename cannot contain \"/\".");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("A filename cannot be \".\" or \"..\".");
    return std::nullopt;
}

} // namespace Pellwick
