#include "RestoreResponses_p.h"

#include <PellwickCore/Support/Iso8601.h>

#include <QUrl>

namespace Pellwick::RestoreResponses {

namespace {

template<typename T>
tl::unexpected<Error> passOn(Result<T> &&result)
{
    return tl::unexpected<Error>(std::move(result).error());
}

#define RESTORE_READ(variable, expr)                                                               \
    auto variable = (expr);                                                                        \
    if (!variable)                                                                                 \
    return passOn(std::move(variable))

Result<RestoreRequestStatus> readStatus(const Json::ObjectReader &object, const QString &key)
{
    RESTORE_READ(word, object.string(key));
    if (std::optional<RestoreRequestStatus> status = restoreRequestStatusFromRaw(*word))
        return *status;
    return failure(Json::dataCorrupted(
        object.keyPath(key),
        QStringLiteral("Cannot initialize RestoreRequestStatus from invalid String value %1")
            .arg(*word)));
}

/// An absolute URL with a scheme and a host, kept as the exact text received.
Result<QString> readURL(const Json::ObjectReader &object, const QString &key)
{
    RESTORE_READ(text, object.string(key));
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return failure(
            Json::dataCorrupted(object.keyPath(key), QStringLiteral("Invalid URL string.")));
    return *text;
}

Result<std::optional<Date>> readOptionalExpiry(const Json::ObjectReader &object)
{
    const QString key = QStringLiteral("capability_expires_at");
    if (!object.has(key))
        return std::optional<Date>();
    RESTORE_READ(date, Iso8601::readDate(object.jsonObject().value(key), object.keyPath(key)));
    return std::optional<Date>(*date);
}

Result<RestoreRequestItem> readItem(const QJsonValue &value, const QString &path)
{
    RESTORE_READ(json, Json::readObject(value, path));
    const Json::ObjectReader item(*json, path);
    RESTORE_READ(libraryItemID, item.integer(QStringLiteral("library_item_id")));
    RESTORE_READ(canonicalFilename, item.string(QStringLiteral("canonical_filename")));
    RESTORE_READ(byteCount, item.integer(QStringLiteral("byte_count")));
    RESTORE_READ(status, readStatus(item, QStringLiteral("status")));
    RESTORE_READ(attentionReason, item.optionalString(QStringLiteral("attention_reason")));
    return RestoreRequestItem{
        *libraryItemID, *canonicalFilename, *byteCount, *status, *attentionReason};
}

Result<RestoreDownloadSidecarResponse> readSidecar(const Json::ObjectReader &sidecar)
{
    RESTORE_READ(canonicalFilename, sidecar.string(QStringLiteral("canonical_filename")));
    RESTORE_READ(byteCount, sidecar.integer(QStringLiteral("byte_count")));
    RESTORE_READ(contentHash, sidecar.string(QStringLiteral("content_hash")));
    RESTORE_READ(downloadURL, readURL(sidecar, QStringLiteral("download_url")));
    RESTORE_READ(expiresAt, readOptionalExpiry(sidecar));
    return RestoreDownloadSidecarResponse{
        *canonicalFilename, *byteCount, *contentHash, *downloadURL, *expiresAt};
}

Result<RestoreDownloadResponse> readDownload(const QJsonValue &value, const QString &path)
{
    RESTORE_READ(json, Json::readObject(value, path));
    const Json::ObjectReader download(*json, path);
    RESTORE_READ(libraryItemID, download.integer(QStringLiteral("library_item_id")));
    RESTORE_READ(canonicalFilename, download.string(QStringLiteral("canonical_filename")));
    RESTORE_READ(byteCount, download.integer(QStringLiteral("byte_count")));
    RESTORE_READ(downloadURL, readURL(download, QStringLiteral("download_url")));
    RESTORE_READ(expiresAt, readOptionalExpiry(download));
    RESTORE_READ(sidecarObject, download.optionalObject(QStringLiteral("sidecar")));
    std::optional<RestoreDownloadSidecarResponse> sidecar;
    if (*sidecarObject) {
        RESTORE_READ(read, readSidecar(**sidecarObject));
        sidecar = std::move(*read);
    }
    return RestoreDownloadResponse{*libraryItemID,
                                   *canonicalFilename,
                                   *byteCount,
                                   *downloadURL,
                                   *expiresAt,
                                   std::move(sidecar)};
}

} // namespace

QJsonObject restoreRequestBody(const QList<qint64> &libraryItemIDs)
{
    QJsonArray ids;
    for (const qint64 id : libraryItemIDs)
        ids.append(id);
    return QJsonObject{{QStringLiteral("library_item_ids"), ids}};
}

Result<RestoreRequest> readRestoreRequest(const Json::ObjectReader &response)
{
    RESTORE_READ(id, response.integer(QStringLiteral("id")));
    RESTORE_READ(status, readStatus(response, QStringLiteral("status")));
    RESTORE_READ(byteCount, response.integer(QStringLiteral("byte_count")));
    RESTORE_READ(attentionReason, response.optionalString(QStringLiteral("attention_reason")));
    RESTORE_READ(preparationEstimate,
                 response.optionalString(QStringLiteral("preparation_estimate")));
    RESTORE_READ(items, response.elements<RestoreRequestItem>(QStringLiteral("items"), &readItem));
    return RestoreRequest{
        *id, *status, *byteCount, *attentionReason, *preparationEstimate, std::move(*items)};
}

Result<RestoreRequest> decodeRestoreRequestEnvelope(const QByteArray &body)
{
    RESTORE_READ(json, Json::parseObject(body));
    RESTORE_READ(request, Json::ObjectReader(*json).object(QStringLiteral("restore_request")));
    return readRestoreRequest(*request);
}

Result<std::optional<RestoreRequest>> decodeActiveRestoreRequestEnvelope(const QByteArray &body)
{
    RESTORE_READ(json, Json::parseObject(body));
    RESTORE_READ(request,
                 Json::ObjectReader(*json).optionalObject(QStringLiteral("restore_request")));
    if (!*request)
        return std::optional<RestoreRequest>();
    RESTORE_READ(mapped, readRestoreRequest(**request));
    return std::optional<RestoreRequest>(std::move(*mapped));
}

Result<RestoreDownloadsEnvelope> decodeRestoreDownloadsEnvelope(const QByteArray &body)
{
    RESTORE_READ(json, Json::parseObject(body));
    const Json::ObjectReader envelope(*json);
    RESTORE_READ(requestObject, envelope.object(QStringLiteral("restore_request")));
    RESTORE_READ(request, readRestoreRequest(*requestObject));
    RESTORE_READ(
        downloads,
        envelope.elements<RestoreDownloadResponse>(QStringLiteral("downloads"), &readDownload));
    return RestoreDownloadsEnvelope{std::move(*request), std::move(*downloads)};
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
        if (download.sidecar) {
            sidecar = RestoreTransferCapabilityFile{
                download.sidecar->canonicalFilename,
                download.sidecar->byteCount,
                download.sidecar->contentHash,
                download.sidecar->downloadURL,
                download.sidecar->capabilityExpiresAt.value_or(Date::distantPast())};
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

#undef RESTORE_READ

} // namespace Pellwick::RestoreResponses
