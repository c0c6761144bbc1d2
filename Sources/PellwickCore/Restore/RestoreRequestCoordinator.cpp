#include "RestoreRequestCoordinator.h"

#include "RestoreTransferBuilder.h"
#include "RestoreTransferError.h"

#include <map>

namespace Pellwick {

namespace {

using CoordinatorError = RestoreRequestCoordinatorError;

bool isLocalTransferOutcome(const std::optional<RestoreRequestStatus> &status)
{
    return status == RestoreRequestStatus::Downloaded
           || status == RestoreRequestStatus::NeedsAttention;
}

/// The failure of a local write made after the backend changed `request`.
tl::unexpected<Error> notSaved(const RestoreRequest &request, Error cause)
{
    return failure(CoordinatorError{
        CoordinatorError::LocalStatusNotSaved{request, ErrorCause(std::move(cause))}});
}

} // namespace

/// The records of one read of the cache by backend id; the pointers stay valid while `records`
/// lives.
class RestoreRequestCoordinator::LocalItems
{
public:
    const LocalLibraryItem *find(qint64 backendID) const { return byBackendID.value(backendID); }

    LocalLibraryCacheRecords records;
    QHash<qint64, const LocalLibraryItem *> byBackendID;
};

RestoreRequestCoordinator::RestoreRequestCoordinator(LocalLibraryCache cache,
                                                     std::shared_ptr<const RestoreAPI> api,
                                                     RestoreDestinationResolver destinationResolver)
    : m_cache(std::move(cache))
    , m_api(std::move(api))
    , m_destinationResolver(std::move(destinationResolver))
{}

Result<RestoreRequest> RestoreRequestCoordinator::createRestoreRequest(
    const QString &token, const QSet<QUuid> &selectedLocalItemIDs, std::stop_token stop) const
{
    PELLWICK_TRY_ASSIGN(auto records, m_cache.cachedRecords());
    QList<qint64> libraryItemIDs;
    records.forEach([&](const LocalLibraryItem &item) {
        if (selectedLocalItemIDs.contains(item.id)
            && item.importStatus == LibraryItemImportStatus::VerifiedBackup
            && item.backendLibraryItemID)
            libraryItemIDs.append(*item.backendLibraryItemID);
    });
    if (libraryItemIDs.isEmpty())
        return failure(CoordinatorError{CoordinatorError::NoRestorableItems{}});

    // A new request has no local outcomes yet: a downloaded or failed status its items carry is
    // left from an earlier request and must not stand for this one, also when it is ready at once.
    auto request = m_api->createRestoreRequest(token, libraryItemIDs, std::move(stop));
    if (!request)
        return request;
    PELLWICK_TRY(updateLocalRestoreStatuses(*request, LocalOutcomes::Replace));
    return request;
}

Result<RestoreRequest> RestoreRequestCoordinator::refreshRestoreRequest(const QString &token,
                                                                        qint64 restoreRequestID,
                                                                        std::stop_token stop) const
{
    auto request = m_api->restoreRequest(token, restoreRequestID, std::move(stop));
    if (!request)
        return request;
    return synchronizedPreservingOutcomes(*request);
}

Result<std::optional<RestoreRequest>>
RestoreRequestCoordinator::activeRestoreRequest(const QString &token, std::stop_token stop) const
{
    auto request = m_api->activeRestoreRequest(token, std::move(stop));
    if (!request || !*request)
        return request;
    PELLWICK_TRY_ASSIGN(auto preserved, synchronizedPreservingOutcomes(**request));
    return std::optional(std::move(preserved));
}

Result<RestoreRequest> RestoreRequestCoordinator::cancelRestoreRequest(const QString &token,
                                                                       qint64 restoreRequestID,
                                                                       std::stop_token stop) const
{
    auto request = m_api->cancelRestoreRequest(token, restoreRequestID, std::move(stop));
    if (!request)
        return request;
    QSet<qint64> ids;
    for (const RestoreRequestItem &item : request->items)
        ids.insert(item.libraryItemID);
    if (Result<void> cleared = m_cache.updateRestoreStatus(ids, std::nullopt, {}); !cleared)
        return notSaved(*request, cleared.error());
    return request;
}

Result<RestoreRequest> RestoreRequestCoordinator::retryRestoreRequest(const QString &token,
                                                                      qint64 restoreRequestID,
                                                                      std::stop_token stop) const
{
    return synchronized(m_api->retryRestoreRequest(token, restoreRequestID, std::move(stop)));
}

Result<RestoreRequest> RestoreRequestCoordinator::completeRestoreRequest(const QString &token,
                                                                         qint64 restoreRequestID,
                                                                         std::stop_token stop) const
{
    return synchronized(m_api->completeRestoreRequest(token, restoreRequestID, std::move(stop)));
}

Result<RestoreDownloads> RestoreRequestCoordinator::restoreDownloads(const QString &token,
                                                                     qint64 restoreRequestID,
                                                                     std::stop_token stop) const
{
    auto downloads = m_api->restoreDownloads(token, restoreRequestID, std::move(stop));
    if (!downloads)
        return downloads;
    PELLWICK_TRY(updateLocalRestoreStatuses(downloads->restoreRequest));
    return downloads;
}

Result<QList<RestoreTransfer>> RestoreRequestCoordinator::restoreTransfers(
    const QString &token,
    qint64 restoreRequestID,
    const QString &destinationDirectory,
    const QHash<qint64, QString> &destinationFilenames,
    const QHash<RestoreTransferIdentifier, RestoreTransferManifest> &completedTransferManifests,
    std::stop_token stop) const
{
    PELLWICK_TRY_ASSIGN(
        auto capabilities,
        m_api->restoreTransferCapabilities(token, restoreRequestID, std::move(stop)));
    PELLWICK_TRY_ASSIGN(auto local, localItemsByBackendID());

    const auto manifest = [&](qint64 libraryItemID, RestoreTransferArtifact artifact) {
        const auto found = completedTransferManifests.constFind(
            RestoreTransferIdentifier{restoreRequestID, libraryItemID, artifact});
        return found == completedTransferManifests.cend() ? std::optional<RestoreTransferManifest>()
                                                          : std::optional(*found);
    };

    QList<RestoreTransfer> transfers;
    transfers.reserve(capabilities.transfers.size());
    QSet<QString> reserved;
    QSet<qint64> offered;
    for (const RestoreTransferCapability &capability : std::as_const(capabilities.transfers)) {
        // One item offered twice would get two transfers under one identifier, sharing one
        // manifest, and its second name would clash with its first after every choice.
        if (offered.contains(capability.libraryItemID))
            return failure(CoordinatorError{CoordinatorError::RestoreRequestItemConflict{}});
        offered.insert(capability.libraryItemID);
        const LocalLibraryItem *item = local.find(capability.libraryItemID);
        if (!item) {
            return failure(RestoreTransferError{
                RestoreTransferError::MissingLocalLibraryItem{capability.libraryItemID}});
        }
        const auto selected = destinationFilenames.constFind(capability.libraryItemID);
        RestoreTransferBuilder builder{
            m_destinationResolver,
            capability,
            *item,
            restoreRequestID,
            destinationDirectory,
            selected == destinationFilenames.cend() ? std::nullopt : std::optional(*selected),
            manifest(capability.libraryItemID, RestoreTransferArtifact::Raw),
            manifest(capability.libraryItemID, RestoreTransferArtifact::Sidecar),
            std::move(reserved)};
        PELLWICK_TRY_ASSIGN(auto transfer, builder.build());
        reserved = std::move(builder.reservedDestinations);
        transfers.append(std::move(transfer));
    }
    return transfers;
}

Result<void> RestoreRequestCoordinator::markRestoreTransfersComplete(
    const QList<RestoreTransferManifest> &manifests) const
{
    QSet<qint64> ids;
    for (const RestoreTransferManifest &manifest : manifests) {
        if (manifest.isComplete)
            ids.insert(manifest.id.libraryItemID);
    }
    return m_cache.updateRestoreStatus(ids, RestoreRequestStatus::Downloaded, {});
}

Result<void> RestoreRequestCoordinator::markRestoreTransfersNeedsAttention(
    const QList<RestoreTransfer> &transfers, const QHash<qint64, QString> &attentionReasons) const
{
    QSet<qint64> ids;
    for (const RestoreTransfer &transfer : transfers)
        ids.insert(transfer.id.libraryItemID);
    return m_cache.updateRestoreStatus(ids, RestoreRequestStatus::NeedsAttention, attentionReasons);
}

Result<void> RestoreRequestCoordinator::updateLocalRestoreStatuses(const RestoreRequest &request,
                                                                   LocalOutcomes outcomes) const
{
    PELLWICK_TRY(validateUniqueRemoteItems(request));
    PELLWICK_TRY_ASSIGN(auto local, localItemsByBackendID());

    struct Group
    {
        QSet<qint64> ids;
        QHash<qint64, QString> attentionReasons;
    };

    // Ordered by status so that the writes happen in one fixed order.
    std::map<RestoreRequestStatus, Group> groups;
    for (const RestoreRequestItem &item : request.items) {
        if (request.status == RestoreRequestStatus::Ready && outcomes == LocalOutcomes::Keep) {
            const LocalLibraryItem *record = local.find(item.libraryItemID);
            if (record && isLocalTransferOutcome(record->restoreStatus))
                continue;
        }
        Group &group = groups[item.status];
        group.ids.insert(item.libraryItemID);
        if (item.attentionReason)
            group.attentionReasons.insert(item.libraryItemID, *item.attentionReason);
    }
    for (const auto &[status, group] : groups) {
        if (Result<void> written
            = m_cache.updateRestoreStatus(group.ids, status, group.attentionReasons);
            !written)
            return notSaved(request, written.error());
    }
    return {};
}

Result<RestoreRequest> RestoreRequestCoordinator::restoreRequestPreservingLocalTransferOutcomes(
    RestoreRequest request) const
{
    if (request.status != RestoreRequestStatus::Ready)
        return request;
    PELLWICK_TRY_ASSIGN(auto local, localItemsByBackendID());
    for (RestoreRequestItem &item : request.items) {
        const LocalLibraryItem *record = local.find(item.libraryItemID);
        if (!record || !isLocalTransferOutcome(record->restoreStatus))
            continue;
        item.status = *record->restoreStatus;
        if (item.status == RestoreRequestStatus::NeedsAttention && record->restoreAttentionReason)
            item.attentionReason = record->restoreAttentionReason;
    }
    return request;
}

Result<RestoreRequestCoordinator::LocalItems>
RestoreRequestCoordinator::localItemsByBackendID() const
{
    PELLWICK_TRY_ASSIGN(auto records, m_cache.cachedRecords());
    LocalItems local{std::move(records), {}};
    bool conflict = false;
    local.records.forEach([&](const LocalLibraryItem &item) {
        // A duplicate shares its archived record's id without being a second record of it.
        const std::optional<qint64> backendID = item.restoreLibraryItemID();
        if (!backendID || conflict)
            return;
        const LocalLibraryItem *&entry = local.byBackendID[*backendID];
        if (!entry)
            entry = &item;
        else if (!(*entry == item))
            conflict = true;
    });
    if (conflict)
        return failure(CoordinatorError{CoordinatorError::LocalLibraryCacheConflict{}});
    return local;
}

Result<void> RestoreRequestCoordinator::validateUniqueRemoteItems(const RestoreRequest &request)
{
    QSet<qint64> seen;
    for (const RestoreRequestItem &item : request.items) {
        if (seen.contains(item.libraryItemID))
            return failure(CoordinatorError{CoordinatorError::RestoreRequestItemConflict{}});
        seen.insert(item.libraryItemID);
    }
    return {};
}

Result<RestoreRequest> RestoreRequestCoordinator::synchronized(Result<RestoreRequest> request) const
{
    if (!request)
        return request;
    PELLWICK_TRY(updateLocalRestoreStatuses(*request));
    return request;
}

Result<RestoreRequest>
RestoreRequestCoordinator::synchronizedPreservingOutcomes(const RestoreRequest &request) const
{
    Result<void> synchronized = updateLocalRestoreStatuses(request);
    if (!synchronized) {
        // The request is shown even so, with the outcomes this computer saved before.
        if (!unsavedRestoreRequest(synchronized.error()))
            return failure(synchronized.error());
        Result<RestoreRequest> preserved = restoreRequestPreservingLocalTransferOutcomes(request);
        return notSaved(preserved ? *preserved : request, *synchronized.error().cause());
    }
    return restoreRequestPreservingLocalTransferOutcomes(request);
}

const RestoreRequest *unsavedRestoreRequest(const Error &error)
{
    const auto *coordinator = error.as<CoordinatorError>();
    const auto *unsaved
        = coordinator ? std::get_if<CoordinatorError::LocalStatusNotSaved>(&coordinator->value)
                      : nullptr;
    return unsaved ? &unsaved->restoreRequest : nullptr;
}

} // namespace Pellwick
