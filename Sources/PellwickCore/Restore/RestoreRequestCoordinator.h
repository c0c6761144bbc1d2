#pragma once

#include <PellwickCore/Library/LocalLibraryCache.h>
#include <PellwickCore/Restore/RestoreAPI.h>
#include <PellwickCore/Restore/RestoreDestinationResolver.h>
#include <PellwickCore/Restore/RestoreRequestCoordinatorError.h>
#include <PellwickCore/Restore/RestoreTransferManifest.h>
#include <PellwickCore/Restore/RestoreTransferTypes.h>
#include <PellwickCore/Support/Result.h>

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>
#include <stop_token>

namespace Pellwick {

/// Drives a Restore Request over the backend and keeps the restore status of the Local Library
/// Cache in step with it. A plain value without state of its own; every operation is blocking and
/// thread-safe (the cache does its own locking) and `stop` cancels its backend call.
///
/// Every operation makes its backend call first: when that fails, the failure is returned
/// unchanged and nothing local changes. Both conflict checks (`RestoreRequestItemConflict`,
/// `LocalLibraryCacheConflict`) run before any local write. A status synchronisation writes one
/// group of items per item status; a failing write ends the operation with `LocalStatusNotSaved`,
/// which carries the backend's request and the write's failure, and the groups already written
/// stay written.
///
/// A duplicate record carries the backend id of the archived item it copies; it takes no part in
/// a restore, which reads and marks the archived record only.
class RestoreRequestCoordinator
{
public:
    RestoreRequestCoordinator(LocalLibraryCache cache,
                              std::shared_ptr<const RestoreAPI> api,
                              RestoreDestinationResolver destinationResolver);

    const LocalLibraryCache &cache() const { return m_cache; }

    /// Requests the Verified Backups among the selected records (in stored order; records without
    /// backend id are left out), then takes the statuses of the reply, replacing a downloaded or
    /// needs-attention status left from an earlier request also when the reply is ready. Fails with
    /// `NoRestorableItems`, without calling the backend, when none is left.
    [[nodiscard]] Result<RestoreRequest>
    createRestoreRequest(const QString &token,
                         const QSet<QUuid> &selectedLocalItemIDs,
                         std::stop_token stop = {}) const;
    /// The request, its statuses taken locally; while it is ready, items saved or failed here
    /// keep (and show) their local outcome.
    [[nodiscard]] Result<RestoreRequest> refreshRestoreRequest(const QString &token,
                                                               qint64 restoreRequestID,
                                                               std::stop_token stop = {}) const;
    /// As `refreshRestoreRequest` for the account's active request; none, touching nothing, when
    /// there is none.
    [[nodiscard]] Result<std::optional<RestoreRequest>>
    activeRestoreRequest(const QString &token, std::stop_token stop = {}) const;
    /// Clears the restore status and reason of every item of the cancelled request.
    [[nodiscard]] Result<RestoreRequest> cancelRestoreRequest(const QString &token,
                                                              qint64 restoreRequestID,
                                                              std::stop_token stop = {}) const;
    [[nodiscard]] Result<RestoreRequest> retryRestoreRequest(const QString &token,
                                                             qint64 restoreRequestID,
                                                             std::stop_token stop = {}) const;
    [[nodiscard]] Result<RestoreRequest> completeRestoreRequest(const QString &token,
                                                                qint64 restoreRequestID,
                                                                std::stop_token stop = {}) const;
    [[nodiscard]] Result<RestoreDownloads> restoreDownloads(const QString &token,
                                                            qint64 restoreRequestID,
                                                            std::stop_token stop = {}) const;

    /// One transfer per capability of the ready request, in the backend's order, each with free
    /// destinations in `destinationDirectory` (`RestoreTransferBuilder`). `destinationFilenames`
    /// maps a backend item id to a filename the user chose after a conflict;
    /// `completedTransferManifests` holds the manifests found for this request, whose finished
    /// destinations in the same folder are reused. Reads the cache only. Fails with the first
    /// `DestinationFilenameConflict`, `RestoreTransferError::MissingLocalLibraryItem` or
    /// `LocalLibraryCacheConflict`, returning no transfers; capabilities naming one item twice
    /// fail with `RestoreRequestItemConflict`.
    [[nodiscard]] Result<QList<RestoreTransfer>> restoreTransfers(
        const QString &token,
        qint64 restoreRequestID,
        const QString &destinationDirectory,
        const QHash<qint64, QString> &destinationFilenames,
        const QHash<RestoreTransferIdentifier, RestoreTransferManifest> &completedTransferManifests,
        std::stop_token stop = {}) const;

    /// Marks the items of the complete manifests downloaded (one write, also when none is).
    [[nodiscard]] Result<void>
    markRestoreTransfersComplete(const QList<RestoreTransferManifest> &manifests) const;
    /// Marks the transfers' items as needing attention, each with the reason `attentionReasons`
    /// holds for its backend id, or none (one write).
    [[nodiscard]] Result<void>
    markRestoreTransfersNeedsAttention(const QList<RestoreTransfer> &transfers,
                                       const QHash<qint64, QString> &attentionReasons) const;

private:
    class LocalItems;

    /// Whether the local downloaded and needs-attention outcomes of a ready request's items stand.
    enum class LocalOutcomes {
        Keep,
        Replace,
    };

    [[nodiscard]] Result<void> updateLocalRestoreStatuses(const RestoreRequest &request,
                                                          LocalOutcomes outcomes
                                                          = LocalOutcomes::Keep) const;
    [[nodiscard]] Result<RestoreRequest>
    restoreRequestPreservingLocalTransferOutcomes(RestoreRequest request) const;
    [[nodiscard]] Result<LocalItems> localItemsByBackendID() const;
    [[nodiscard]] static Result<void> validateUniqueRemoteItems(const RestoreRequest &request);
    /// A successful `request` after synchronisation; a failure unchanged.
    [[nodiscard]] Result<RestoreRequest> synchronized(Result<RestoreRequest> request) const;
    /// Synchronisation, then outcome preservation.
    [[nodiscard]] Result<RestoreRequest>
    synchronizedPreservingOutcomes(const RestoreRequest &request) const;

    LocalLibraryCache m_cache;
    std::shared_ptr<const RestoreAPI> m_api;
    RestoreDestinationResolver m_destinationResolver;
};

/// The request the backend returned when `error` says that only this computer's record of its
/// statuses could not be saved; null for any other error.
const RestoreRequest *unsavedRestoreRequest(const Error &error);

} // namespace Pellwick
