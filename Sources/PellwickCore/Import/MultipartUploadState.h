#pragma once

#include <PellwickCore/Import/StagedUploadPart.h>
#include <PellwickCore/Import/VerifiedBackupUpload.h>
#include <PellwickCore/Support/Result.h>

#include <QJsonObject>
#include <QList>
#include <QString>

namespace Pellwick {

/// The progress of one multipart upload of one file (a RAW original or its sidecar) under one
/// upload id chosen by the backend. A plain value: every change returns a new state, and none
/// checks its input.
struct MultipartUploadState
{
    QString uploadID;
    qint64 partSizeBytes = 0;
    /// The presigned parts of the latest authorization, in the order the backend sent them.
    QList<StagedUploadPart> authorizedParts;
    /// The parts whose upload succeeded, at most one entry per part number (see
    /// `normalizedUploadedParts`).
    QList<UploadedMultipartPart> uploadedParts;
    /// The backend confirmed that the upload is complete.
    bool isCompleted = false;

    /// A fresh state for a newly authorized upload: nothing uploaded, not completed.
    static MultipartUploadState starting(const PresignedMultipartUpload &upload);

    /// The state after a new authorization of the same file. Another upload id starts afresh.
    /// The same id keeps the uploaded parts and the completion, takes the new part size and
    /// replaces the authorized parts, except that a part size that changed under an upload not
    /// yet completed forgets the uploaded parts: they were cut at the old size, and assembling
    /// them with parts of the new size would leave gaps or overlaps in the object.
    [[nodiscard]] MultipartUploadState
    replacingAuthorization(const PresignedMultipartUpload &upload) const;
    /// Records `part` as the last entry, replacing any earlier entry for its part number.
    [[nodiscard]] MultipartUploadState
    recordingUploadedPart(const UploadedMultipartPart &part) const;
    [[nodiscard]] MultipartUploadState markingCompleted() const;

    /// Keeps for each part number its last entry, at the position of that last entry.
    static QList<UploadedMultipartPart>
    normalizedUploadedParts(const QList<UploadedMultipartPart> &parts);

    bool operator==(const MultipartUploadState &) const = default;
};

/// {"uploadID", "partSizeBytes", "authorizedParts", "uploadedParts", "isCompleted"}.
QJsonObject toJson(const MultipartUploadState &state);
/// All five keys are required; uploaded parts are normalized as read.
[[nodiscard]] Result<MultipartUploadState> multipartUploadStateFromJson(const QJsonValue &value,
                                                                        const QString &path = {});

} // namespace Pellwick
