// The JSON wire forms of the restore request endpoints.

#include "LibrarySessionClient_p.h"
#include "RestoreResponses_p.h"

#include <PellwickCore/Support/Iso8601.h>

namespace Pellwick::BackendWire {

using Json::ObjectReader;

namespace {

Result<RestoreRequestStatus> restoreRequestStatus(const ObjectReader &reader)
{
    return Json::readRawValue(reader,
                              QStringLiteral("status"),
                              QStringLiteral("RestoreRequestStatus"),
                              restoreRequestStatusFromRaw);
}

/// "canonical_filename" and "byte_count", which every file entry carries.
struct FileEntry
{
    QString canonicalFilename;
    qint64 byteCount = 0;
};

Result<FileEntry> fileEntry(const ObjectReader &reader)
{
    Result<QString> canonicalFilename = reader.string(QStringLiteral("canonical_filename"));
    PELLWICK_TRY(canonicalFilename);
    Result<qint64> byteCount = reader.byteCount(QStringLiteral("byte_count"));
    PELLWICK_TRY(byteCount);
    return FileEntry{*canonicalFilename, *byteCount};
}

/// "capability_expires_at": absent or null gives no value.
Result<std::optional<Date>> capabilityExpiresAt(const ObjectReader &reader)
{
    const QString key = QStringLiteral("capability_expires_at");
    if (!reader.has(key))
        return std::optional<Date>();
    Result<Date> date = Iso8601::readDate(reader.jsonObject().value(key), reader.keyPath(key));
    PELLWICK_TRY(date);
    return std::optional<Date>(*date);
}

Result<RestoreRequestItem> decodeItem(const QJsonValue &value, const QString &path)
{
    Result<QJsonObject> object = Json::readObject(value, path);
    PELLWICK_TRY(object);
    const ObjectReader reader(*object, path);
    Result<qint64> libraryItemID = reader.integer(QStringLiteral("library_item_id"));
    PELLWICK_TRY(libraryItemID);
    Result<FileEntry> file = fileEntry(reader);
    PELLWICK_TRY(file);
    Result<RestoreRequestStatus> status = restoreRequestStatus(reader);
    PELLWICK_TRY(status);
    Result<std::optional<QString>> attentionReason
        = reader.optionalString(QStringLiteral("attention_reason"));
    PELLWICK_TRY(attentionReason);
    return RestoreRequestItem{
        *libraryItemID, file->canonicalFilename, file->byteCount, *status, *attentionReason};
}

Result<RestoreDownloadSidecarResponse> decodeSidecar(const ObjectReader &reader)
{
    Result<FileEntry> file = fileEntry(reader);
    PELLWICK_TRY(file);
    Result<QString> contentHash = reader.string(QStringLiteral("content_hash"));
    PELLWICK_TRY(contentHash);
    Result<QString> downloadURL = urlString(reader, QStringLiteral("download_url"));
    PELLWICK_TRY(downloadURL);
    Result<std::optional<Date>> expiresAt = capabilityExpiresAt(reader);
    PELLWICK_TRY(expiresAt);
    return RestoreDownloadSidecarResponse{
        file->canonicalFilename, file->byteCount, *contentHash, *downloadURL, *expiresAt};
}

Result<RestoreDownloadResponse> decodeDownload(const QJsonValue &value, const QString &path)
{
    Result<QJsonObject> object = Json::readObject(value, path);
    PELLWICK_TRY(object);
    const ObjectReader reader(*object, path);
    Result<qint64> libraryItemID = reader.integer(QStringLiteral("library_item_id"));
    PELLWICK_TRY(libraryItemID);
    Result<FileEntry> file = fileEntry(reader);
    PELLWICK_TRY(file);
    Result<QString> downloadURL = urlString(reader, QStringLiteral("download_url"));
    PELLWICK_TRY(downloadURL);
    Result<std::optional<Date>> expiresAt = capabilityExpiresAt(reader);
    PELLWICK_TRY(expiresAt);
    Result<std::optional<ObjectReader>> sidecarObject
        = reader.optionalObject(QStringLiteral("sidecar"));
    PELLWICK_TRY(sidecarObject);
    std::optional<RestoreDownloadSidecarResponse> sidecar;
    if (*sidecarObject) {
        Result<RestoreDownloadSidecarResponse> decoded = decodeSidecar(**sidecarObject);
        PELLWICK_TRY(decoded);
        sidecar = std::move(*decoded);
    }
    return RestoreDownloadResponse{*libraryItemID,
                                   file->canonicalFilename,
                                   file->byteCount,
                                   *downloadURL,
                                   *expiresAt,
                                   std::move(sidecar)};
}

} // namespace

Result<RestoreRequest> decodeRestoreRequest(const ObjectReader &reader)
{
    Result<qint64> id = reader.integer(QStringLiteral("id"));
    PELLWICK_TRY(id);
    Result<RestoreRequestStatus> status = restoreRequestStatus(reader);
    PELLWICK_TRY(status);
    Result<qint64> byteCount = reader.byteCount(QStringLiteral("byte_count"));
    PELLWICK_TRY(byteCount);
    Result<std::optional<QString>> attentionReason
        = reader.optionalString(QStringLiteral("attention_reason"));
    PELLWICK_TRY(attentionReason);
    Result<std::optional<QString>> preparationEstimate
        = reader.optionalString(QStringLiteral("preparation_estimate"));
    PELLWICK_TRY(preparationEstimate);
    Result<QList<RestoreRequestItem>> items
        = reader.elements<RestoreRequestItem>(QStringLiteral("items"), &decodeItem);
    PELLWICK_TRY(items);
    return RestoreRequest{
        *id, *status, *byteCount, *attentionReason, *preparationEstimate, std::move(*items)};
}

Result<RestoreRequest> decodeRestoreRequestEnvelope(const QByteArray &body)
{
    return decodeObject(body, [](const ObjectReader &reader) -> Result<RestoreRequest> {
        Result<ObjectReader> request = reader.object(QStringLiteral("restore_request"));
        PELLWICK_TRY(request);
        return decodeRestoreRequest(*request);
    });
}

Result<std::optional<RestoreRequest>> decodeActiveRestoreRequestEnvelope(const QByteArray &body)
{
    return decodeObject(body,
                        [](const ObjectReader &reader) -> Result<std::optional<RestoreRequest>> {
                            Result<std::optional<ObjectReader>> request
                                = reader.optionalObject(QStringLiteral("restore_request"));
                            PELLWICK_TRY(request);
                            if (!*request)
                                return std::optional<RestoreRequest>();
                            Result<RestoreRequest> decoded = decodeRestoreRequest(**request);
                            PELLWICK_TRY(decoded);
                            return std::optional<RestoreRequest>(std::move(*decoded));
                        });
}

Result<RestoreDownloadsEnvelope> decodeRestoreDownloadsEnvelope(const QByteArray &body)
{
    return decodeObject(body, [](const ObjectReader &reader) -> Result<RestoreDownloadsEnvelope> {
        Result<ObjectReader> requestObject = reader.object(QStringLiteral("restore_request"));
        PELLWICK_TRY(requestObject);
        Result<RestoreRequest> request = decodeRestoreRequest(*requestObject);
        PELLWICK_TRY(request);
        Result<QList<RestoreDownloadResponse>> downloads = reader.elements<RestoreDownloadResponse>(
            QStringLiteral("downloads"), &decodeDownload);
        PELLWICK_TRY(downloads);
        return RestoreDownloadsEnvelope{std::move(*request), std::move(*downloads)};
    });
}

RestoreDownloads restoreDownloads(const RestoreDownloadsEnvelope &envelope)
{
    RestoreDownloads result{envelope.restoreRequest, {}};
    result.downloads.reserve(envelope.downloads.size());
    for (const RestoreDownloadResponse &download : envelope.downloads) {
        result.downloads.append(RestoreDownload{download.libraryItemID,
                                                download.canonicalFilename,
                                                download.byteCount,
                                                download.downloadURL});
    }
    return result;
}

RestoreTransferCapabilities restoreTransferCapabilities(const RestoreDownloadsEnvelope &envelope)
{
    RestoreTransferCapabilities result{envelope.restoreRequest, {}};
    result.transfers.reserve(envelope.downloads.size());
    for (const RestoreDownloadResponse &download : envelope.downloads) {
        std::optional<RestoreTransferCapabilityFile> sidecar;
        if (const std::optional<RestoreDownloadSidecarResponse> &file = download.sidecar) {
            sidecar = RestoreTransferCapabilityFile{
                file->canonicalFilename,
                file->byteCount,
                file->contentHash,
                file->downloadURL,
                file->capabilityExpiresAt.value_or(Date::distantPast())};
        }
        result.transfers.append(
            RestoreTransferCapability{download.libraryItemID,
                                      download.canonicalFilename,
                                      download.byteCount,
                                      download.downloadURL,
                                      download.capabilityExpiresAt.value_or(Date::distantPast()),
                                      std::move(sidecar)});
    }
    return result;
}

} // namespace Pellwick::BackendWire
