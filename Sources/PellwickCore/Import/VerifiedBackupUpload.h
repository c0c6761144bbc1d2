#pragma once

#include <PellwickCore/Library/LibraryItemImportStatus.h>
#include <PellwickCore/Support/OrderedJson.h>
#include <PellwickCore/Support/Result.h>

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

// The values in which the verified backup road speaks to the backend. URLs handed out by the
// backend are kept as the exact text received: re-encoding a presigned URL breaks its signature.

namespace Pellwick {

/// The XMP sidecar that travels with a RAW original.
struct VerifiedBackupSidecar
{
    QString filename;
    qint64 byteCount = 0;
    QString contentHash;

    bool operator==(const VerifiedBackupSidecar &) const = default;
};

/// What the client asks the backend to archive.
struct VerifiedBackupUploadRequest
{
    QString originalFilename;
    QString canonicalFilename;
    qint64 byteCount = 0;
    QString contentHash;
    qint64 previewByteCount = 0;
    std::optional<QString> importSourceName;
    std::optional<QString> sourceRelativePath;
    std::optional<QString> cacheRelativePath;
    std::optional<VerifiedBackupSidecar> sidecar;
    /// The import capacity reservation under which this upload runs.
    std::optional<QString> reservationID;

    bool operator==(const VerifiedBackupUploadRequest &) const = default;
};

/// A presigned PUT target for one part of a multipart upload.
struct PresignedUploadPart
{
    qint64 partNumber = 0; ///< 1-based, as the backend numbers it
    QString url;

    bool operator==(const PresignedUploadPart &) const = default;
};

/// One multipart upload opened by the backend.
struct PresignedMultipartUpload
{
    QString uploadID;
    qint64 partSizeBytes = 0;         ///< chosen by the backend, never by the client
    QList<PresignedUploadPart> parts; ///< in the order the backend listed them

    bool operator==(const PresignedMultipartUpload &) const = default;
};

/// A presigned PUT target for the whole preview JPEG.
struct PresignedPreviewUpload
{
    QString url;

    bool operator==(const PresignedPreviewUpload &) const = default;
};

/// Permission and targets for one upload.
struct VerifiedBackupUploadAuthorization
{
    qint64 libraryItemID = 0;
    PresignedMultipartUpload rawOriginalUpload;
    std::optional<PresignedPreviewUpload> previewUpload;
    std::optional<PresignedMultipartUpload> sidecarUpload;

    bool operator==(const VerifiedBackupUploadAuthorization &) const = default;
};

/// The backend already holds these bytes.
struct DuplicateVerifiedBackup
{
    qint64 libraryItemID = 0;
    QString originalFilename;
    QString contentHash;
    qint64 byteCount = 0;

    bool operator==(const DuplicateVerifiedBackup &) const = default;
};

/// The backend's answer to an upload request: upload the bytes, or nothing to upload.
struct VerifiedBackupUploadDecision
{
    struct Upload
    {
        VerifiedBackupUploadAuthorization authorization;
        bool operator==(const Upload &) const = default;
    };

    struct Duplicate
    {
        DuplicateVerifiedBackup duplicate;
        bool operator==(const Duplicate &) const = default;
    };

    std::variant<Upload, Duplicate> value;

    bool operator==(const VerifiedBackupUploadDecision &) const = default;
};

/// The receipt of one uploaded part: its number and the ETag object storage returned, verbatim.
/// Stored as {"part_number": <integer>, "etag": <string>} in completion bodies and import records.
struct UploadedMultipartPart
{
    /// Part numbers run from 1 to this, as object storage numbers them.
    static constexpr qint64 maximumPartNumber = 10'000;

    qint64 partNumber = 0;
    QString etag;

    bool operator==(const UploadedMultipartPart &) const = default;
};

/// Both keys, always, "part_number" first.
Json::OrderedJson toOrderedJson(const UploadedMultipartPart &part);
/// The same as Qt's JSON object (whose keys are sorted).
QJsonObject toJson(const UploadedMultipartPart &part);
/// Both keys are required; other keys are ignored. `path` names the value in failures.
[[nodiscard]] Result<UploadedMultipartPart> uploadedMultipartPartFromJson(const QJsonValue &value,
                                                                          const QString &path = {});

/// A time-limited link to an archived preview.
struct SignedPreviewAccess
{
    QString url;
    QString expiresAt; ///< exactly as the backend sent it; not parsed

    bool operator==(const SignedPreviewAccess &) const = default;
};

/// The result of finalizing an upload.
struct VerifiedBackupFinalization
{
    qint64 libraryItemID = 0;
    LibraryItemImportStatus importStatus = LibraryItemImportStatus::LocalCacheReady;
    std::optional<SignedPreviewAccess> previewAccess;

    bool operator==(const VerifiedBackupFinalization &) const = default;
};

/// What the backend knows of one library item when an interrupted import resumes.
struct VerifiedBackupUploadState
{
    qint64 libraryItemID = 0;
    LibraryItemImportStatus importStatus = LibraryItemImportStatus::LocalCacheReady;

    bool operator==(const VerifiedBackupUploadState &) const = default;
};

} // namespace Pellwick
