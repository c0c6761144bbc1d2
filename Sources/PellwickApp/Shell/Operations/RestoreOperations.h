#pragma once

#include <PellwickApp/Shell/ShellTypes.h>
#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Restore/RestoreRequest.h>

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace Pellwick {

/// The restore operations the restore pages and the window call. Main thread only;
/// `RestoreWorkflows` implements it.
class RestoreOperations
{
public:
    RestoreOperations() = default;
    virtual ~RestoreOperations() = default;
    RestoreOperations(const RestoreOperations &) = delete;
    RestoreOperations &operator=(const RestoreOperations &) = delete;

    /// Refreshes the held or the account's active Restore Request.
    virtual QCoro::Task<> refreshActiveRestoreRequest() = 0;
    /// Rebuilds the Local Library Cache from the backend's items.
    virtual QCoro::Task<> refreshLocalLibraryCacheForRestore() = 0;
    /// Creates a Restore Request for the selected Verified Backups.
    virtual QCoro::Task<> requestRestoreForSelection() = 0;
    /// Stops the transfers of the active Restore Request and cancels it.
    virtual QCoro::Task<> cancelActiveRestoreRequest() = 0;
    /// Asks the backend to prepare the active Restore Request again.
    virtual QCoro::Task<> retryActiveRestorePreparation() = 0;
    /// The confirmed rebuild after a Local Library Cache conflict.
    virtual QCoro::Task<> rebuildLocalLibraryCache() = 0;
    /// Selected Verified Backups that the backend knows by id.
    virtual QList<LocalLibraryItem> selectedRestoreItems() const = 0;
    /// Count, bytes and filenames of the selected restore items.
    virtual RestoreSelectionSummary restoreSelectionSummary() const = 0;
    /// The records the restore page lists.
    virtual QList<LocalLibraryItem> restoreWorkflowItems() const = 0;
    /// Saves the ready Restore Request's items into `destinationDirectory`; `destinationFilenames`
    /// holds names chosen after conflicts, by backend item id.
    virtual QCoro::Task<> restoreReadyItems(QString destinationDirectory,
                                            QHash<qint64, QString> destinationFilenames)
        = 0;
    /// The configured default restore folder, created when missing; none when it cannot be.
    virtual QCoro::Task<std::optional<QString>> defaultRestoreDestination() = 0;
    /// Starts, keeps or stops the polling of a preparing Restore Request.
    virtual void updateRestorePolling(const std::optional<RestoreRequest> &request) = 0;
    /// Cancels the restore polling, if it runs. Synchronous.
    virtual void cancelRestorePolling() = 0;
    /// The application became active (true) or inactive (false): polling runs only while active.
    virtual void setApplicationActive(bool active) = 0;
    /// Pauses the running restore transfer, if any; synchronous, never waits.
    virtual void pauseActiveRestoreTransfer() = 0;
    /// Restarts the restore with `filename` for the conflicting item.
    virtual QCoro::Task<> resolveRestoreFilenameConflict(RestoreFilenameConflict conflict,
                                                         QString filename)
        = 0;
};

} // namespace Pellwick
