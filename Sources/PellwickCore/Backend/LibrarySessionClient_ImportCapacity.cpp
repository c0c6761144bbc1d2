// Import capacity reservations.

#include "LibrarySessionClient.h"
#include "LibrarySessionClient_p.h"

#include <QJsonArray>

namespace Pellwick {

namespace {

const QString reservationsPath = QStringLiteral("api/library/import_capacity_reservations");

/// {"reservation": {"id": "<opaque text>"}}
Result<QString> decodeReservationResponse(const QByteArray &body)
{
    return BackendWire::decodeObject(body, [](const Json::ObjectReader &reader) -> Result<QString> {
        Result<Json::ObjectReader> reservation = reader.object(QStringLiteral("reservation"));
        PELLWICK_TRY(reservation);
        return reservation->string(QStringLiteral("id"));
    });
}

} // namespace

Result<QString> LibrarySessionClient::createImportCapacityReservation(
    const QString &token,
    const QList<ImportCapacityReservationPackage> &packages,
    std::stop_token stop) const
{
    Json::OrderedJson::Array list;
    for (const ImportCapacityReservationPackage &package : packages)
        list.push_back(toJson(package));
    Result<HttpRequest> request = makeRequest(reservationsPath,
                                              QByteArrayLiteral("POST"),
                                              token,
                                              {{QStringLiteral("packages"), std::move(list)}});
    PELLWICK_TRY(request);
    return send(
        *request, {201}, &decodeReservationResponse, RestoreFailureHandling::Off, std::move(stop));
}

Result<void> LibrarySessionClient::releaseImportCapacityReservation(const QString &token,
                                                                    const QString &reservationID,
                                                                    std::stop_token stop) const
{
    const HttpRequest request
        = makeRequest(reservationsPath + QLatin1Char('/') + pathSegment(reservationID),
                      QByteArrayLiteral("DELETE"),
                      token);
    return sendEmpty(request, 204, std::move(stop));
}

} // namespace Pellwick
