// The verified backup upload endpoints.

#include "LibrarySessionClient.h"
#include "LibrarySessionClient_p.h"

#include <QJsonArray>

#include <limits>

namespace Pellwick {

namespace BackendWire {

std::optional<LibraryItemImportStatus> verifiedBackupStatusFromWord(const QString &word)
{
    if (word == QLatin1String("duplicate"))
        return LibraryItemImportStatus::Duplicate;
    return libraryItemStatusFromWord(word);
}

} // namespace BackendWire

namespace {

using Json::ObjectReader;

const QString uploadsPath = QStringLiteral("api/library/verified_backup_uploads");

QString itemPath(qint64 libraryItemID, const QString &suffix = {})
{
    return uploadsPath + QLatin1Char('/') + QString::number(libraryItemID) + suffix;
}

/// "library_item": the backend's id and status of the item.
struct LibraryItemResponse
{
    qint64 id = 0;
    LibraryItemImportStatus importStatus = LibraryItemImportStatus::LocalCacheReady;
};

Result<LibraryItemResponse> decodeLibraryItem(const ObjectReader &reply)
{
    Result<ObjectReader> reader = reply.object(QStringLiteral("library_item"));
    PELLWICK_TRY(reader);
    Result<qint64> id = reader->integer(QStringLiteral("id"));
    PELLWICK_TRY(id);
    Result<LibraryItemImportStatus> status
        = BackendWire::enumeration(*reader,
                                   QStringLiteral("import_status"),
                                   "VerifiedBackupAPIImportStatus",
                                   &BackendWire::verifiedBackupStatusFromWord);
    PELLWICK_TRY(status);
    return LibraryItemResponse{*id, *status};
}

Result<PresignedUploadPart> decodePart(const QJsonValue &value, const QString &path)
{
    Result<QJsonObject> object = Json::readObject(value, path);
    PELLWICK_TRY(object);
    const ObjectReader reader(*object, path);
    Result<qint64> number = reader.integer(
        QStringLiteral("part_number"), 1, UploadedMultipartPart::maximumPartNumber);
    PELLWICK_TRY(number);
    Result<QString> url = BackendWire::urlString(reader, QStringLiteral("url"));
    PELLWICK_TRY(url);
    return PresignedUploadPart{*number, *url};
}

/// A multipart upload object, its parts in reply order, nothing checked beyond their form.
Result<std::optional<PresignedMultipartUpload>> decodeMultipartUpload(const ObjectReader &reply,
                                                                      const QString &key)
{
    Result<std::optional<ObjectReader>> object = reply.optionalObject(key);
    PELLWICK_TRY(object);
    if (!*object)
        return std::optional<PresignedMultipartUpload>();
    const ObjectReader &reader = **object;
    Result<QString> uploadID = reader.string(QStringLiteral("upload_id"));
    PELLWICK_TRY(uploadID);
    Result<qint64> partSize
        = reader.integer(QStringLiteral("part_size_bytes"), 1, std::numeric_limits<qint64>::max());
    PELLWICK_TRY(partSize);
    Result<QList<PresignedUploadPart>> parts
        = reader.elements<PresignedUploadPart>(QStringLiteral("parts"), &decodePart);
    PELLWICK_TRY(parts);
    return std::optional(PresignedMultipartUpload{*uploadID, *partSize, *parts});
}

Result<std::optional<DuplicateVerifiedBackup>> decodeDuplicate(const ObjectReader &reply,
                                                               qint64 libraryItemID)
{
    Result<std::optional<ObjectReader>> object = reply.optionalObject(QStringLiteral("duplicate"));
    PELLWICK_TRY(object);
    if (!*object)
        return std::optional<DuplicateVerifiedBackup>();
    const ObjectReader &reader = **object;
    Result<QString> filename = reader.string(QStringLiteral("original_filename"));
    PELLWICK_TRY(filename);
    Result<QString> hash = reader.string(QStringLiteral("content_hash"));
    PELLWICK_TRY(hash);
    Result<qint64> byteCount = reader.byteCount(QStringLiteral("byte_count"));
    PELLWICK_TRY(byteCount);
    return std::optional(DuplicateVerifiedBackup{libraryItemID, *filename, *hash, *byteCount});
}

/// Every member is read before the decision, so a malformed member fails the reply even when
/// the decision would not use it.
Result<VerifiedBackupUploadDecision> decodeUploadResponse(const QByteArray &body)
{
    return BackendWire::decodeObject(
        body, [](const ObjectReader &reply) -> Result<VerifiedBackupUploadDecision> {
            Result<LibraryItemResponse> item = decodeLibraryItem(reply);
            PELLWICK_TRY(item);
            Result<std::optional<PresignedMultipartUpload>> raw
                = decodeMultipartUpload(reply, QStringLiteral("raw_original_upload"));
            PELLWICK_TRY(raw);
            Result<std::optional<ObjectReader>> preview
                = reply.optionalObject(QStringLiteral("preview_upload"));
            PELLWICK_TRY(preview);
            std::optional<PresignedPreviewUpload> previewUpload;
            if (*preview) {
                Result<QString> url = BackendWire::urlString(**preview, QStringLiteral("url"));
                PELLWICK_TRY(url);
                previewUpload = PresignedPreviewUpload{*url};
            }
            Result<std::optional<PresignedMultipartUpload>> sidecar
                = decodeMultipartUpload(reply, QStringLiteral("sidecar_upload"));
            PELLWICK_TRY(sidecar);
            Result<std::optional<DuplicateVerifiedBackup>> duplicate
                = decodeDuplicate(reply, item->id);
            PELLWICK_TRY(duplicate);

            using Decision = VerifiedBackupUploadDecision;
            if (*duplicate)
                return Decision{Decision::Duplicate{**duplicate}};
            if (*raw) {
                return Decision{Decision::Upload{
                    VerifiedBackupUploadAuthorization{item->id, **raw, previewUpload, *sidecar}}};
            }
            return failure(DecodingError{DecodingError::Kind::ValueNotFound,
                                         QString(),
                                         QStringLiteral("Expected upload instructions or "
                                                        "duplicate evidence")});
        });
}

Result<VerifiedBackupUploadState> decodeStateResponse(const QByteArray &body)
{
    return BackendWire::decodeObject(
        body, [](const ObjectReader &reply) -> Result<VerifiedBackupUploadState> {
            Result<LibraryItemResponse> item = decodeLibraryItem(reply);
            PELLWICK_TRY(item);
            return VerifiedBackupUploadState{item->id, item->importStatus};
        });
}

Result<VerifiedBackupFinalization> decodeFinalizationResponse(const QByteArray &body)
{
    return BackendWire::decodeObject(
        body, [](const ObjectReader &reply) -> Result<VerifiedBackupFinalization> {
            Result<LibraryItemResponse> item = decodeLibraryItem(reply);
            PELLWICK_TRY(item);
            Result<std::optional<ObjectReader>> preview
                = reply.optionalObject(QStringLiteral("preview"));
            PELLWICK_TRY(preview);
            std::optional<SignedPreviewAccess> access;
            if (*preview) {
                Result<QString> url
                    = BackendWire::urlString(**preview, QStringLiteral("access_url"));
                PELLWICK_TRY(url);
                Result<QString> expiresAt = (*preview)->string(QStringLiteral("expires_at"));
                PELLWICK_TRY(expiresAt);
                access = SignedPreviewAccess{*url, *expiresAt};
            }
            return VerifiedBackupFinalization{item->id, item->importStatus, access};
        });
}

LibrarySessionClient::JsonFields uploadRequestBody(const VerifiedBackupUploadRequest &request)
{
    LibrarySessionClient::JsonFields fields{
        {QStringLiteral("original_filename"), request.originalFilename},
        {QStringLiteral("canonical_filename"), request.canonicalFilename},
        {QStringLiteral("byte_count"), request.byteCount},
        {QStringLiteral("content_hash"), request.contentHash},
        {QStringLiteral("preview_byte_count"), request.previewByteCount},
    };
    auto optional = [&fields](const QString &key, const std::optional<QString> &value) {
        if (value)
            fields.push_back({key, *value});
    };
    optional(QStringLiteral("import_source_name"), request.importSourceName);
    optional(QStringLiteral("source_relative_path"), request.sourceRelativePath);
    optional(QStringLiteral("cache_relative_path"), request.cacheRelativePath);
    if (request.sidecar) {
        fields.push_back({QStringLiteral("sidecar_filename"), request.sidecar->filename});
        fields.push_back({QStringLiteral("sidecar_byte_count"), request.sidecar->byteCount});
        fields.push_back({QStringLiteral("sidecar_content_hash"), request.sidecar->contentHash});
    }
    optional(QStringLiteral("reservation_id"), request.reservationID);
    return fields;
}

LibrarySessionClient::JsonFields completionBody(const QString &uploadID,
                                                const QList<UploadedMultipartPart> &parts)
{
    Json::OrderedJson::Array list;
    for (const UploadedMultipartPart &part : parts)
        list.push_back(toOrderedJson(part));
    return {{QStringLiteral("upload_id"), uploadID}, {QStringLiteral("parts"), std::move(list)}};
}

} // namespace

Result<VerifiedBackupUploadDecision> LibrarySessionClient::requestVerifiedBackupUpload(
    const QString &token, const VerifiedBackupUploadRequest &request, std::stop_token stop) const
{
    Result<HttpRequest> http
        = makeRequest(uploadsPath, QByteArrayLiteral("POST"), token, uploadRequestBody(request));
    PELLWICK_TRY(http);
    return send(
        *http, {200, 201}, &decodeUploadResponse, RestoreFailureHandling::Off, std::move(stop));
}

Result<VerifiedBackupUploadState> LibrarySessionClient::verifiedBackupUploadState(
    const QString &token, qint64 libraryItemID, std::stop_token stop) const
{
    const HttpRequest request
        = makeRequest(itemPath(libraryItemID), QByteArrayLiteral("GET"), token);
    return send(request, {200}, &decodeStateResponse, RestoreFailureHandling::Off, std::move(stop));
}

Result<void>
LibrarySessionClient::completeVerifiedBackupUpload(const QString &token,
                                                   qint64 libraryItemID,
                                                   const QString &uploadID,
                                                   const QList<UploadedMultipartPart> &parts,
                                                   std::stop_token stop) const
{
    Result<HttpRequest> request = makeRequest(itemPath(libraryItemID, QStringLiteral("/complete")),
                                              QByteArrayLiteral("POST"),
                                              token,
                                              completionBody(uploadID, parts));
    PELLWICK_TRY(request);
    return sendEmpty(*request, 204, std::move(stop));
}

Result<void>
LibrarySessionClient::completeVerifiedBackupSidecarUpload(const QString &token,
                                                          qint64 libraryItemID,
                                                          const QString &uploadID,
                                                          const QList<UploadedMultipartPart> &parts,
                                                          std::stop_token stop) const
{
    Result<HttpRequest> request
        = makeRequest(itemPath(libraryItemID, QStringLiteral("/complete_sidecar")),
                      QByteArrayLiteral("POST"),
                      token,
                      completionBody(uploadID, parts));
    PELLWICK_TRY(request);
    return sendEmpty(*request, 204, std::move(stop));
}

Result<VerifiedBackupFinalization> LibrarySessionClient::finalizeVerifiedBackupUpload(
    const QString &token, qint64 libraryItemID, std::stop_token stop) const
{
    const HttpRequest request = makeRequest(
        itemPath(libraryItemID, QStringLiteral("/finalize")), QByteArrayLiteral("POST"), token);
    return send(
        request, {200}, &decodeFinalizationResponse, RestoreFailureHandling::Off, std::move(stop));
}

Result<void> LibrarySessionClient::cancelVerifiedBackupImport(const QString &token,
                                                              qint64 libraryItemID,
                                                              std::stop_token stop) const
{
    const HttpRequest request
        = makeRequest(itemPath(libraryItemID), QByteArrayLiteral("DELETE"), token);
    return sendEmpty(request, 204, std::move(stop));
}

} // namespace Pellwick
