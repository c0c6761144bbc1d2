// Restore request endpoints: create, read, find the active one, cancel, retry, complete, and
// read the downloads of a ready request.

#include "LibrarySessionClient.h"
#include "LibrarySessionClient_p.h"
#include "RestoreResponses_p.h"

#include <QJsonArray>

namespace Pellwick {

namespace {

const QByteArray get = QByteArrayLiteral("GET");
const QByteArray post = QByteArrayLiteral("POST");
const QByteArray deleteMethod = QByteArrayLiteral("DELETE");

const QString restoreRequestsPath = QStringLiteral("api/library/restore_requests");

QString restoreRequestPath(qint64 restoreRequestID, QStringView suffix = {})
{
    return restoreRequestsPath + QLatin1Char('/') + QString::number(restoreRequestID) + suffix;
}

} // namespace

Result<RestoreRequest> LibrarySessionClient::createRestoreRequest(
    const QString &token, const QList<qint64> &libraryItemIDs, std::stop_token stop) const
{
    QJsonArray ids;
    for (const qint64 id : libraryItemIDs)
        ids.append(id);
    Result<HttpRequest> request = makeRequest(
        restoreRequestsPath, post, token, {{QStringLiteral("library_item_ids"), ids}});
    PELLWICK_TRY(request);
    return send(*request,
                {201},
                &BackendWire::decodeRestoreRequestEnvelope,
                RestoreFailureHandling::On,
                std::move(stop));
}

Result<RestoreRequest> LibrarySessionClient::restoreRequest(const QString &token,
                                                            qint64 restoreRequestID,
                                                            std::stop_token stop) const
{
    return send(makeRequest(restoreRequestPath(restoreRequestID), get, token),
                {200},
                &BackendWire::decodeRestoreRequestEnvelope,
                RestoreFailureHandling::On,
                std::move(stop));
}

Result<std::optional<RestoreRequest>>
LibrarySessionClient::activeRestoreRequest(const QString &token, std::stop_token stop) const
{
    // The method is left unset: the default GET.
    return send(makeRequest(restoreRequestsPath + QStringLiteral("/active"), std::nullopt, token),
                {200},
                &BackendWire::decodeActiveRestoreRequestEnvelope,
                RestoreFailureHandling::On,
                std::move(stop));
}

Result<RestoreRequest> LibrarySessionClient::cancelRestoreRequest(const QString &token,
                                                                  qint64 restoreRequestID,
                                                                  std::stop_token stop) const
{
    return send(makeRequest(restoreRequestPath(restoreRequestID), deleteMethod, token),
                {200},
                &BackendWire::decodeRestoreRequestEnvelope,
                RestoreFailureHandling::On,
                std::move(stop));
}

Result<RestoreRequest> LibrarySessionClient::retryRestoreRequest(const QString &token,
                                                                 qint64 restoreRequestID,
                                                                 std::stop_token stop) const
{
    return send(makeRequest(restoreRequestPath(restoreRequestID, u"/retry"), post, token),
                {200},
                &BackendWire::decodeRestoreRequestEnvelope,
                RestoreFailureHandling::On,
                std::move(stop));
}

Result<RestoreRequest> LibrarySessionClient::completeRestoreRequest(const QString &token,
                                                                    qint64 restoreRequestID,
                                                                    std::stop_token stop) const
{
    return send(makeRequest(restoreRequestPath(restoreRequestID, u"/complete"), post, token),
                {200},
                &BackendWire::decodeRestoreRequestEnvelope,
                RestoreFailureHandling::On,
                std::move(stop));
}

Result<RestoreDownloads> LibrarySessionClient::restoreDownloads(const QString &token,
                                                                qint64 restoreRequestID,
                                                                std::stop_token stop) const
{
    Result<BackendWire::RestoreDownloadsEnvelope> envelope
        = send(makeRequest(restoreRequestPath(restoreRequestID, u"/downloads"), post, token),
               {200},
               &BackendWire::decodeRestoreDownloadsEnvelope,
               RestoreFailureHandling::On,
               std::move(stop));
    PELLWICK_TRY(envelope);
    return BackendWire::restoreDownloads(*envelope);
}

Result<RestoreTransferCapabilities> LibrarySessionClient::restoreTransferCapabilities(
    const QString &token, qint64 restoreRequestID, std::stop_token stop) const
{
    Result<BackendWire::RestoreDownloadsEnvelope> envelope
        = send(makeRequest(restoreRequestPath(restoreRequestID, u"/downloads"), post, token),
               {200},
               &BackendWire::decodeRestoreDownloadsEnvelope,
               RestoreFailureHandling::On,
               std::move(stop));
    PELLWICK_TRY(envelope);
    return BackendWire::restoreTransferCapabilities(*envelope);
}

} // namespace Pellwick
