// Restore request endpoints: create, read, find the active one, cancel, retry, complete, and
// read the downloads of a ready request.

#include "LibrarySessionClient.h"
#include "LibrarySessionClient_p.h"
#include "RestoreResponses_p.h"

#include <QJsonArray>

namespace Pellwick {

namespace {

const QByteArray get = QByteArrayLiteral("GET");
const QByteArray postMethod = QByteArrayLiteral("POST");
const QByteArray deleteMethod = QByteArrayLiteral("DELETE");

const QString restoreRequestsPath = QStringLiteral("api/library/restore_requests");

QString restoreRequestPath(qint64 restoreRequestID, QStringView suffix = {})
{
    return restoreRequestsPath + QLatin1Char('/') + QString::number(restoreRequestID) + suffix;
}

/// Sends a request whose reply carries one Restore Request, accepted only with `acceptedStatus`.
Result<RestoreRequest> exchangeRestoreRequest(const LibrarySessionClient &client,
                                              const HttpRequest &request,
                                              int acceptedStatus,
                                              std::stop_token stop)
{
    return client.send(request,
                       {acceptedStatus},
                       &BackendWire::decodeRestoreRequestEnvelope,
                       LibrarySessionClient::RestoreFailureHandling::On,
                       std::move(stop));
}

/// The one request behind both readings of a ready request's downloads.
Result<BackendWire::RestoreDownloadsEnvelope> downloadsEnvelope(const LibrarySessionClient &client,
                                                                const QString &token,
                                                                qint64 restoreRequestID,
                                                                std::stop_token stop)
{
    return client.send(
        client.makeRequest(restoreRequestPath(restoreRequestID, u"/downloads"), postMethod, token),
        {200},
        &BackendWire::decodeRestoreDownloadsEnvelope,
        LibrarySessionClient::RestoreFailureHandling::On,
        std::move(stop));
}

} // namespace

Result<RestoreRequest> LibrarySessionClient::createRestoreRequest(
    const QString &token, const QList<qint64> &libraryItemIDs, std::stop_token stop) const
{
    Json::OrderedJson::Array ids;
    for (const qint64 id : libraryItemIDs)
        ids.emplace_back(id);
    Result<HttpRequest> request
        = makeRequest(restoreRequestsPath,
                      postMethod,
                      token,
                      {{QStringLiteral("library_item_ids"), std::move(ids)}});
    PELLWICK_TRY(request);
    return exchangeRestoreRequest(*this, *request, 201, std::move(stop));
}

Result<RestoreRequest> LibrarySessionClient::restoreRequest(const QString &token,
                                                            qint64 restoreRequestID,
                                                            std::stop_token stop) const
{
    const HttpRequest request = makeRequest(restoreRequestPath(restoreRequestID), get, token);
    return exchangeRestoreRequest(*this, request, 200, std::move(stop));
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
    const HttpRequest request
        = makeRequest(restoreRequestPath(restoreRequestID), deleteMethod, token);
    return exchangeRestoreRequest(*this, request, 200, std::move(stop));
}

Result<RestoreRequest> LibrarySessionClient::retryRestoreRequest(const QString &token,
                                                                 qint64 restoreRequestID,
                                                                 std::stop_token stop) const
{
    const HttpRequest request
        = makeRequest(restoreRequestPath(restoreRequestID, u"/retry"), postMethod, token);
    return exchangeRestoreRequest(*this, request, 200, std::move(stop));
}

Result<RestoreRequest> LibrarySessionClient::completeRestoreRequest(const QString &token,
                                                                    qint64 restoreRequestID,
                                                                    std::stop_token stop) const
{
    const HttpRequest request
        = makeRequest(restoreRequestPath(restoreRequestID, u"/complete"), postMethod, token);
    return exchangeRestoreRequest(*this, request, 200, std::move(stop));
}

Result<RestoreDownloads> LibrarySessionClient::restoreDownloads(const QString &token,
                                                                qint64 restoreRequestID,
                                                                std::stop_token stop) const
{
    Result<BackendWire::RestoreDownloadsEnvelope> envelope
        = downloadsEnvelope(*this, token, restoreRequestID, std::move(stop));
    PELLWICK_TRY(envelope);
    return BackendWire::restoreDownloads(*envelope);
}

Result<RestoreTransferCapabilities> LibrarySessionClient::restoreTransferCapabilities(
    const QString &token, qint64 restoreRequestID, std::stop_token stop) const
{
    Result<BackendWire::RestoreDownloadsEnvelope> envelope
        = downloadsEnvelope(*this, token, restoreRequestID, std::move(stop));
    PELLWICK_TRY(envelope);
    return BackendWire::restoreTransferCapabilities(*envelope);
}

} // namespace Pellwick
