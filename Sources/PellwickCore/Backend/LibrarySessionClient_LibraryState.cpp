// Library state and billing link endpoints.

#include "LibrarySessionClient.h"
#include "LibrarySessionClient_p.h"

namespace Pellwick {

Result<LibraryShell> LibrarySessionClient::currentLibrary(const QString &token,
                                                          std::stop_token stop) const
{
    const HttpRequest request
        = makeRequest(QStringLiteral("api/library"), QByteArrayLiteral("GET"), token);
    return send(request,
                {200},
                &BackendWire::decodeShellResponse,
                RestoreFailureHandling::Off,
                std::move(stop));
}

Result<CheckoutSession> LibrarySessionClient::requestCheckout(const QString &token,
                                                              std::stop_token stop) const
{
    const HttpRequest request = makeRequest(
        QStringLiteral("api/billing/checkout_sessions"), QByteArrayLiteral("POST"), token);
    return send(request,
                {201},
                &BackendWire::decodeCheckoutSessionResponse,
                RestoreFailureHandling::Off,
                std::move(stop));
}

Result<QString> LibrarySessionClient::requestCustomerPortal(const QString &token,
                                                            std::stop_token stop) const
{
    const HttpRequest request = makeRequest(
        QStringLiteral("api/billing/customer_portal_sessions"), QByteArrayLiteral("POST"), token);
    return send(request,
                {201},
                &BackendWire::decodeCustomerPortalResponse,
                RestoreFailureHandling::Off,
                std::move(stop));
}

} // namespace Pellwick
