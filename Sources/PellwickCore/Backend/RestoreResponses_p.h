#pragma once

// The JSON wire forms of the restore request endpoints. Private to the backend client.

#include <PellwickCore/Restore/RestoreDownloads.h>
#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Support/Date.h>
#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace Pellwick::BackendWire {

/// A "restore_request" object; every field is taken unchanged, items in the backend's order.
[[nodiscard]] Result<RestoreRequest> decodeRestoreRequest(const Json::ObjectReader &reader);

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

/// The downloads reply, every "capability_expires_at" read by the strict ISO 8601 rule; one bad
/// date or URL fails the whole reply.
[[nodiscard]] Result<RestoreDownloadsEnvelope>
decodeRestoreDownloadsEnvelope(const QByteArray &body);

/// The plain form: expiries and sidecars dropped.
RestoreDownloads restoreDownloads(const RestoreDownloadsEnvelope &envelope);
/// The transfer form: a missing expiry becomes the distant past, for the RAW original and its
/// sidecar independently.
RestoreTransferCapabilities restoreTransferCapabilities(const RestoreDownloadsEnvelope &envelope);

} // namespace Pellwick::BackendWire
