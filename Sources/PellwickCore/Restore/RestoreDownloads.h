#pragma once

#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Support/Date.h>

#include <QList>
#include <QString>

#include <optional>

namespace Pellwick {

// Presigned URLs are kept as the exact text the backend sent: re-encoding would break their
// signatures. Names are the backend's text, unchecked: they must be validated before they are
// used as file names.

/// One presigned download of a RAW original, without expiry or sidecar.
struct RestoreDownload
{
    qint64 libraryItemID = 0;
    QString canonicalFilename;
    qint64 byteCount = 0;
    QString downloadURL;

    bool operator==(const RestoreDownload &) const = default;
};

/// A ready Restore Request with its downloads in the backend's order.
struct RestoreDownloads
{
    RestoreRequest restoreRequest;
    QList<RestoreDownload> downloads;

    bool operator==(const RestoreDownloads &) const = default;
};

/// The right to download a RAW original's XMP sidecar.
struct RestoreTransferCapabilityFile
{
    QString canonicalFilename;
    qint64 byteCount = 0;
    QString contentHash; ///< the sidecar's SHA-256 as the backend reports it, unchanged
    QString transferURL;
    Date expiresAt; ///< `Date::distantPast()` when the backend gave no expiry

    bool operator==(const RestoreTransferCapabilityFile &) const = default;
};

/// The right to download one RAW original with ranged GETs until `expiresAt`.
struct RestoreTransferCapability
{
    qint64 libraryItemID = 0;
    QString canonicalFilename;
    qint64 byteCount = 0;
    QString transferURL;
    Date expiresAt; ///< `Date::distantPast()` when the backend gave no expiry
    std::optional<RestoreTransferCapabilityFile> sidecar;

    bool operator==(const RestoreTransferCapability &) const = default;
};

/// A ready Restore Request with one capability per RAW original, in the backend's order.
struct RestoreTransferCapabilities
{
    RestoreRequest restoreRequest;
    QList<RestoreTransferCapability> transfers;

    bool operator==(const RestoreTransferCapabilities &) const = default;
};

} // namespace Pellwick
