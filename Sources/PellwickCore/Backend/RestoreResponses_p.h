#pragma once

// The restore endpoints' wire forms and how they are read. Private to the backend client.

#include <PellwickCore/Backend/RestoreDownloads.h>
#include <PellwickCore/Backend/RestoreRequest.h>
#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QJsonArray>

#include <optional>

namespace Pellwick::RestoreResponses {

/// The create request's body: exactly {"library_item_ids":[...]}, in the caller's order, also
/// when empty.
QJsonObject restoreRequestBody(const QList<qint64> &libraryItemIDs);

/// A "restore_request" object read into the public value; every field is taken unchanged.
[[nodiscard]] Result<RestoreRequest> readRestoreRequest(const Json::ObjectReader &response);

/// The reply of create, get, cancel, retry and complete: "restore_request" is required.
[[nodiscard]] Result<RestoreRequest> decodeRestoreRequestEnvelope(const QByteArray &body);
/// The reply of the active query: "restore_request" absent or null gives no request.
[[nodiscard]] Result<std::optional<RestoreRequest>>
decodeActiveRestoreRequestEnvelope(const QByteArray &body);

struct RestoreDownloadSidecarResponse
{
    QString canonicalFilename;
    qint64 byteCount = 0;
    QString contentHash;
    QString downloadURL;
    std::optional<Date> capabilityExpiresAt;
};

struct RestoreDownloadResponse
{
    qint64 libraryItemID = 0;
    QString canonicalFilename;
    qint64 byteCount = 0;
    QString downloadURL;
    std::optional<Date> capabilityExpiresAt;
    std::optional<RestoreDownloadSidecarResponse> sidecar;
};

struct RestoreDownloadsEnvelope
{
    RestoreRequest restoreRequest;
    QList<RestoreDownloadResponse> downloads;
};

/// The downloads reply, with every "capability_expires_at" read by the strict ISO 8601 rule; a
/// single bad date or URL fails the whole reply.
[[nodiscard]] Result<RestoreDownloadsEnvelope>
decodeRestoreDownloadsEnvelope(const QByteArray &body);

/// The plain form: expiries and sidecars dropped.
RestoreDownloads restoreDownloads(const RestoreDownloadsEnvelope &envelope);
/// The transfer form: a missing expiry becomes the distant past, for the RAW original and the
/// sidecar independently.
RestoreTransferCapabilities restoreTransferCapabilities(const RestoreDownloadsEnvelope &envelope);

} // namespace Pellwick::RestoreResponses
