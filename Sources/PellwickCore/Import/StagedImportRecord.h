#pragma once

#include <PellwickCore/Import/MultipartUploadState.h>
#include <PellwickCore/Import/StagedImportPhase.h>
#include <PellwickCore/Import/VerifiedBackupUpload.h>
#include <PellwickCore/Support/Result.h>

#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace Pellwick {

/// The durable state of one package (a RAW original, its optional XMP sidecar and its preview)
/// on its way from the Staging Area to a Verified Backup, kept as "import-state.json" in the
/// package's folder. A plain value: every change returns a new record, none fails and none
/// checks the phase it starts from; the order of steps is the importer's.
///
/// New records are built from the first twenty fields, both upload states absent.
struct StagedImportRecord
{
    QUuid localLibraryItemID;
    std::optional<qint64> backendLibraryItemID;
    QString originalFilename;
    QString canonicalFilename;
    QString contentHash;
    qint64 byteCount = 0;
    qint64 previewByteCount = 0;
    std::optional<QString> importSourceName;
    std::optional<QString> sourceRelativePath;
    std::optional<QString> cacheRelativePath;
    /// "<package folder>/<RAW filename>", relative to the Staging Area root.
    QString stagedOriginalRelativePath;
    /// The preview's file name in the library's preview folder; absent without a preview.
    std::optional<QString> previewRelativePath;
    std::optional<QString> sidecarFilename;
    std::optional<QString> sidecarContentHash;
    qint64 sidecarByteCount = 0; ///< 0 without a sidecar
    std::optional<QString> importCapacityReservationID;
    std::optional<QString> stagedSidecarRelativePath;
    /// Presigned, kept as the exact text received.
    std::optional<QString> previewUploadURL;
    /// The preview is uploaded, or needs no upload.
    bool previewUploaded = false;
    StagedImportPhase phase = StagedImportPhase::NotStarted;
    std::optional<MultipartUploadState> multipartUpload;
    /// Present only while the latest applied authorization carried a sidecar upload.
    std::optional<MultipartUploadState> sidecarMultipartUpload;

    /// What to send to ask for an upload authorization. It carries a sidecar only when both the
    /// sidecar's name and hash are recorded.
    VerifiedBackupUploadRequest uploadRequest() const;

    /// An authorization answered while an import continues: a preview once uploaded stays so.
    [[nodiscard]] StagedImportRecord
    replacingAuthorization(const VerifiedBackupUploadAuthorization &authorization) const;
    /// An authorization answered when an interrupted import is resumed: the preview is sent
    /// again whenever there is one and the authorization provides a target for it.
    [[nodiscard]] StagedImportRecord
    restartingAuthorization(const VerifiedBackupUploadAuthorization &authorization) const;
    /// The shared step of the two above: phase `Uploading`.
    [[nodiscard]] StagedImportRecord
    applyingAuthorization(const VerifiedBackupUploadAuthorization &authorization,
                          bool previewAlreadyUploaded) const;
    /// The backend already holds these bytes: no upload state, no preview URL.
    [[nodiscard]] StagedImportRecord markingDuplicate(qint64 backendLibraryItemID) const;
    // The four marks below return the record unchanged, phase included, without the state
    // they would change.
    [[nodiscard]] StagedImportRecord
    markingRawPartUploaded(const UploadedMultipartPart &part) const;
    [[nodiscard]] StagedImportRecord
    markingSidecarPartUploaded(const UploadedMultipartPart &part) const;
    [[nodiscard]] StagedImportRecord markingRawUploadCompleted() const;
    [[nodiscard]] StagedImportRecord markingSidecarUploadCompleted() const;
    [[nodiscard]] StagedImportRecord markingPreviewUploaded() const;
    /// RAW original, sidecar and preview are all uploaded.
    [[nodiscard]] StagedImportRecord markingUploaded() const;
    /// The backend's final status is known.
    [[nodiscard]] StagedImportRecord markingTerminal(StagedImportPhase terminalPhase) const;

    bool operator==(const StagedImportRecord &) const = default;
};

/// The 30 flat keys of "import-state.json"; absent optional values are left out, absent upload
/// states written as empty lists, 0 and false without an upload id.
QJsonObject toJson(const StagedImportRecord &record);
/// Reads the stored form. Missing required keys, values of the wrong type, a malformed UUID or
/// URL, a negative count or an unknown phase fail the whole read with a `DecodingError` naming
/// the key. An upload state is present only with its upload id; uploaded parts are normalized.
[[nodiscard]] Result<StagedImportRecord> stagedImportRecordFromJson(const QJsonObject &object);

} // namespace Pellwick
