#include "StagedImportRecord.h"

#include "ImportRecordJson_p.h"

#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/UuidText.h>

#include <QJsonArray>

namespace Pellwick {

namespace {

/// Which of the record's two flattened upload states a set of keys belongs to.
enum class UploadKind {
    RawOriginal,
    Sidecar,
};

struct UploadStateKeys
{
    QString parts;
    QString uploadID;
    QString partSize;
    QString uploaded;
    QString completed;
};

UploadStateKeys keysOf(UploadKind kind)
{
    switch (kind) {
    case UploadKind::RawOriginal:
        return {QStringLiteral("rawUploadParts"),
                QStringLiteral("rawUploadID"),
                QStringLiteral("rawPartSizeBytes"),
                QStringLiteral("uploadedRawParts"),
                QStringLiteral("rawUploadCompleted")};
    case UploadKind::Sidecar:
        return {QStringLiteral("sidecarUploadParts"),
                QStringLiteral("sidecarUploadID"),
                QStringLiteral("sidecarPartSizeBytes"),
                QStringLiteral("uploadedSidecarParts"),
                QStringLiteral("sidecarUploadCompleted")};
    }
    return {};
}

void writeUploadState(QJsonObject &object,
                      UploadKind kind,
                      const std::optional<MultipartUploadState> &state)
{
    const UploadStateKeys keys = keysOf(kind);
    QJsonArray parts;
    QJsonArray uploaded;
    if (state) {
        for (const StagedUploadPart &part : state->authorizedParts)
            parts.append(toJson(part));
        for (const UploadedMultipartPart &part : state->uploadedParts)
            uploaded.append(toJson(part));
        object.insert(keys.uploadID, state->uploadID);
    }
    object.insert(keys.parts, parts);
    object.insert(keys.partSize, state ? state->partSizeBytes : 0);
    object.insert(keys.uploaded, uploaded);
    object.insert(keys.completed, state ? state->isCompleted : false);
}

Result<std::optional<MultipartUploadState>> readUploadState(const Json::ObjectReader &reader,
                                                            UploadKind kind)
{
    const UploadStateKeys keys = keysOf(kind);
    const bool required = kind == UploadKind::RawOriginal;

    QList<StagedUploadPart> parts;
    if (required || reader.has(keys.parts)) {
        Result<QList<StagedUploadPart>> read
            = reader.elements<StagedUploadPart>(keys.parts, &stagedUploadPartFromJson);
        PELLWICK_TRY(read);
        parts = *read;
    }
    Result<std::optional<QString>> uploadID = reader.optionalString(keys.uploadID);
    PELLWICK_TRY(uploadID);
    qint64 partSize = 0;
    if (required || reader.has(keys.partSize)) {
        Result<qint64> read = ImportRecordJson::count(reader, keys.partSize);
        PELLWICK_TRY(read);
        partSize = *read;
    }
    QList<UploadedMultipartPart> uploaded;
    if (required || reader.has(keys.uploaded)) {
        Result<QJsonArray> array = reader.array(keys.uploaded);
        PELLWICK_TRY(array);
        Result<QList<UploadedMultipartPart>> read
            = ImportRecordJson::uploadedParts(*array, reader.keyPath(keys.uploaded));
        PELLWICK_TRY(read);
        uploaded = *read;
    }
    bool completed = false;
    if (required || reader.has(keys.completed)) {
        Result<bool> read = reader.boolean(keys.completed);
        PELLWICK_TRY(read);
        completed = *read;
    }
    if (!*uploadID)
        return std::optional<MultipartUploadState>();
    return std::optional<MultipartUploadState>(
        MultipartUploadState{**uploadID,
                             partSize,
                             parts,
                             MultipartUploadState::normalizedUploadedParts(uploaded),
                             completed});
}

void insertIfPresent(QJsonObject &object, const QString &key, const std::optional<QString> &value)
{
    if (value)
        object.insert(key, *value);
}

} // namespace

VerifiedBackupUploadRequest StagedImportRecord::uploadRequest() const
{
    VerifiedBackupUploadRequest request;
    request.originalFilename = originalFilename;
    request.canonicalFilename = canonicalFilename;
    request.byteCount = byteCount;
    request.contentHash = contentHash;
    request.previewByteCount = previewByteCount;
    request.importSourceName = importSourceName;
    request.sourceRelativePath = sourceRelativePath;
    request.cacheRelativePath = cacheRelativePath;
    if (sidecarFilename && sidecarContentHash)
        request.sidecar
            = VerifiedBackupSidecar{*sidecarFilename, sidecarByteCount, *sidecarContentHash};
    request.reservationID = importCapacityReservationID;
    return request;
}

StagedImportRecord StagedImportRecord::replacingAuthorization(
    const VerifiedBackupUploadAuthorization &authorization) const
{
    return applyingAuthorization(
        authorization, previewUploaded || !previewRelativePath || !authorization.previewUpload);
}

StagedImportRecord StagedImportRecord::restartingAuthorization(
    const VerifiedBackupUploadAuthorization &authorization) const
{
    return applyingAuthorization(authorization,
                                 !previewRelativePath || !authorization.previewUpload);
}

StagedImportRecord
StagedImportRecord::applyingAuthorization(const VerifiedBackupUploadAuthorization &authorization,
                                          bool previewAlreadyUploaded) const
{
    StagedImportRecord next = *this;
    next.backendLibraryItemID = authorization.libraryItemID;
    next.multipartUpload
        = multipartUpload ? multipartUpload->replacingAuthorization(authorization.rawOriginalUpload)
                          : MultipartUploadState::starting(authorization.rawOriginalUpload);
    if (!authorization.sidecarUpload)
        next.sidecarMultipartUpload.reset();
    else if (sidecarMultipartUpload)
        next.sidecarMultipartUpload
            = sidecarMultipartUpload->replacingAuthorization(*authorization.sidecarUpload);
    else
        next.sidecarMultipartUpload = MultipartUploadState::starting(*authorization.sidecarUpload);
    next.previewUploadURL = authorization.previewUpload
                                ? std::optional<QString>(authorization.previewUpload->url)
                                : std::nullopt;
    next.previewUploaded = previewAlreadyUploaded;
    next.phase = StagedImportPhase::Uploading;
    return next;
}

StagedImportRecord StagedImportRecord::markingDuplicate(qint64 backendLibraryItemID) const
{
    StagedImportRecord next = *this;
    next.backendLibraryItemID = backendLibraryItemID;
    next.previewUploadURL.reset();
    next.multipartUpload.reset();
    next.sidecarMultipartUpload.reset();
    next.previewUploaded = true;
    next.phase = StagedImportPhase::Duplicate;
    return next;
}

StagedImportRecord
StagedImportRecord::markingRawPartUploaded(const UploadedMultipartPart &part) const
{
    if (!multipartUpload)
        return *this;
    StagedImportRecord next = *this;
    next.multipartUpload = multipartUpload->recordingUploadedPart(part);
    next.phase = StagedImportPhase::Uploading;
    return next;
}

StagedImportRecord
StagedImportRecord::markingSidecarPartUploaded(const UploadedMultipartPart &part) const
{
    if (!sidecarMultipartUpload)
        return *this;
    StagedImportRecord next = *this;
    next.sidecarMultipartUpload = sidecarMultipartUpload->recordingUploadedPart(part);
    next.phase = StagedImportPhase::Uploading;
    return next;
}

StagedImportRecord StagedImportRecord::markingRawUploadCompleted() const
{
    if (!multipartUpload)
        return *this;
    StagedImportRecord next = *this;
    next.multipartUpload = multipartUpload->markingCompleted();
    next.phase = StagedImportPhase::Uploading;
    return next;
}

StagedImportRecord StagedImportRecord::markingSidecarUploadCompleted() const
{
    if (!sidecarMultipartUpload)
        return *this;
    StagedImportRecord next = *this;
    next.sidecarMultipartUpload = sidecarMultipartUpload->markingCompleted();
    next.phase = StagedImportPhase::Uploading;
    return next;
}

StagedImportRecord StagedImportRecord::markingPreviewUploaded() const
{
    StagedImportRecord next = *this;
    next.previewUploaded = true;
    next.phase = StagedImportPhase::Uploading;
    return next;
}

StagedImportRecord StagedImportRecord::markingUploaded() const
{
    return markingTerminal(StagedImportPhase::Uploaded);
}

StagedImportRecord StagedImportRecord::markingTerminal(StagedImportPhase terminalPhase) const
{
    StagedImportRecord next = *this;
    next.phase = terminalPhase;
    return next;
}

QJsonObject toJson(const StagedImportRecord &record)
{
    QJsonObject object;
    object.insert(QStringLiteral("localLibraryItemID"), uuidText(record.localLibraryItemID));
    if (record.backendLibraryItemID)
        object.insert(QStringLiteral("backendLibraryItemID"), *record.backendLibraryItemID);
    object.insert(QStringLiteral("originalFilename"), record.originalFilename);
    object.insert(QStringLiteral("canonicalFilename"), record.canonicalFilename);
    object.insert(QStringLiteral("contentHash"), record.contentHash);
    object.insert(QStringLiteral("byteCount"), record.byteCount);
    object.insert(QStringLiteral("previewByteCount"), record.previewByteCount);
    insertIfPresent(object, QStringLiteral("importSourceName"), record.importSourceName);
    insertIfPresent(object, QStringLiteral("sourceRelativePath"), record.sourceRelativePath);
    insertIfPresent(object, QStringLiteral("cacheRelativePath"), record.cacheRelativePath);
    object.insert(QStringLiteral("stagedOriginalRelativePath"), record.stagedOriginalRelativePath);
    insertIfPresent(object, QStringLiteral("previewRelativePath"), record.previewRelativePath);
    insertIfPresent(object, QStringLiteral("sidecarFilename"), record.sidecarFilename);
    insertIfPresent(object, QStringLiteral("sidecarContentHash"), record.sidecarContentHash);
    object.insert(QStringLiteral("sidecarByteCount"), record.sidecarByteCount);
    insertIfPresent(
        object, QStringLiteral("importCapacityReservationID"), record.importCapacityReservationID);
    insertIfPresent(
        object, QStringLiteral("stagedSidecarRelativePath"), record.stagedSidecarRelativePath);
    writeUploadState(object, UploadKind::RawOriginal, record.multipartUpload);
    writeUploadState(object, UploadKind::Sidecar, record.sidecarMultipartUpload);
    insertIfPresent(object, QStringLiteral("previewUploadURL"), record.previewUploadURL);
    object.insert(QStringLiteral("previewUploaded"), record.previewUploaded);
    object.insert(QStringLiteral("phase"), toRaw(record.phase));
    return object;
}

Result<StagedImportRecord> stagedImportRecordFromJson(const QJsonObject &object)
{
    const Json::ObjectReader reader(object);
    StagedImportRecord record;

    Result<QString> id = reader.string(QStringLiteral("localLibraryItemID"));
    PELLWICK_TRY(id);
    const std::optional<QUuid> uuid = uuidFromText(*id);
    if (!uuid)
        return failure(Json::dataCorrupted(QStringLiteral("localLibraryItemID"),
                                           QStringLiteral("Attempted to decode UUID from invalid "
                                                          "UUID string.")));
    record.localLibraryItemID = *uuid;

    auto readText = [&](const char *key, QString &field) -> Result<void> {
        Result<QString> value = reader.string(QLatin1String(key));
        PELLWICK_TRY(value);
        field = *value;
        return {};
    };
    auto readOptionalText = [&](const char *key, std::optional<QString> &field) -> Result<void> {
        Result<std::optional<QString>> value = reader.optionalString(QLatin1String(key));
        PELLWICK_TRY(value);
        field = *value;
        return {};
    };
    auto readCount = [&](const char *key, qint64 &field) -> Result<void> {
        Result<qint64> value = ImportRecordJson::count(reader, QLatin1String(key));
        PELLWICK_TRY(value);
        field = *value;
        return {};
    };

    Result<std::optional<qint64>> backendID
        = reader.optionalInteger(QStringLiteral("backendLibraryItemID"));
    PELLWICK_TRY(backendID);
    record.backendLibraryItemID = *backendID;
    PELLWICK_TRY(readText("originalFilename", record.originalFilename));
    PELLWICK_TRY(readText("canonicalFilename", record.canonicalFilename));
    PELLWICK_TRY(readText("contentHash", record.contentHash));
    PELLWICK_TRY(readCount("byteCount", record.byteCount));
    PELLWICK_TRY(readCount("previewByteCount", record.previewByteCount));
    PELLWICK_TRY(readOptionalText("importSourceName", record.importSourceName));
    PELLWICK_TRY(readOptionalText("sourceRelativePath", record.sourceRelativePath));
    PELLWICK_TRY(readOptionalText("cacheRelativePath", record.cacheRelativePath));
    PELLWICK_TRY(readText("stagedOriginalRelativePath", record.stagedOriginalRelativePath));
    PELLWICK_TRY(readOptionalText("previewRelativePath", record.previewRelativePath));
    PELLWICK_TRY(readOptionalText("sidecarFilename", record.sidecarFilename));
    PELLWICK_TRY(readOptionalText("sidecarContentHash", record.sidecarContentHash));
    if (reader.has(QStringLiteral("sidecarByteCount")))
        PELLWICK_TRY(readCount("sidecarByteCount", record.sidecarByteCount));
    PELLWICK_TRY(
        readOptionalText("importCapacityReservationID", record.importCapacityReservationID));
    PELLWICK_TRY(readOptionalText("stagedSidecarRelativePath", record.stagedSidecarRelativePath));

    if (reader.has(QStringLiteral("previewUploadURL"))) {
        Result<QString> url
            = ImportRecordJson::presignedURL(reader, QStringLiteral("previewUploadURL"));
        PELLWICK_TRY(url);
        record.previewUploadURL = *url;
    }
    Result<std::optional<bool>> previewUploaded
        = reader.optionalBoolean(QStringLiteral("previewUploaded"));
    PELLWICK_TRY(previewUploaded);
    record.previewUploaded = previewUploaded->value_or(false);
    if (reader.has(QStringLiteral("phase"))) {
        Result<StagedImportPhase> phase = Json::readRawValue(reader,
                                                             QStringLiteral("phase"),
                                                             QStringLiteral("StagedImportPhase"),
                                                             &stagedImportPhaseFromRaw);
        PELLWICK_TRY(phase);
        record.phase = *phase;
    }

    Result<std::optional<MultipartUploadState>> raw
        = readUploadState(reader, UploadKind::RawOriginal);
    PELLWICK_TRY(raw);
    record.multipartUpload = *raw;
    Result<std::optional<MultipartUploadState>> sidecar
        = readUploadState(reader, UploadKind::Sidecar);
    PELLWICK_TRY(sidecar);
    record.sidecarMultipartUpload = *sidecar;
    return record;
}

} // namespace Pellwick
