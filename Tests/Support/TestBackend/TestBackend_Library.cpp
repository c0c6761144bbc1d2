// Library state and billing endpoints of the test backend.

#include "TestBackend_p.h"

namespace Pellwick::Test {

void registerLibraryRoutes(TestBackend::Private &backend)
{
    using Account = TestBackend::Account;
    TestBackend::Private *d = &backend;

    // An unverified account's token serves only the verification endpoints.
    auto verifiedAccount
        = [d](const httplib::Request &request, httplib::Response &response) -> Account * {
        Account *account = d->authorizedAccount(request, response);
        if (account && !account->emailVerified) {
            replyError(response, 403, QStringLiteral("email_unverified"));
            return nullptr;
        }
        return account;
    };

    d->route("GET", "/api/library", [d, verifiedAccount](const auto &request, auto &response) {
        std::lock_guard lock(d->mutex);
        const Account *account = verifiedAccount(request, response);
        if (!account)
            return;
        replyJson(response,
                  200,
                  {{QStringLiteral("user"), userJson(*account)},
                   {QStringLiteral("library"), libraryJson(account->library)}});
    });

    d->route("POST",
             "/api/billing/checkout_sessions",
             [d, verifiedAccount](const auto &request, auto &response) {
                 std::lock_guard lock(d->mutex);
                 const Account *account = verifiedAccount(request, response);
                 if (!account)
                     return;
                 replyJson(
                     response,
                     201,
                     {{QStringLiteral("checkout_url"),
                       QStringLiteral("https://billing.test.invalid/checkout/cs_%1?step=pay")
                           .arg(d->nextBillingSession++)},
                      {QStringLiteral("paid_plan"), paidPlanJson(account->library.paidPlan)}});
             });

    d->route("POST",
             "/api/billing/customer_portal_sessions",
             [d, verifiedAccount](const auto &request, auto &response) {
                 std::lock_guard lock(d->mutex);
                 if (!verifiedAccount(request, response))
                     return;
                 replyJson(response,
                           201,
                           {{QStringLiteral("portal_url"),
                             QStringLiteral("https://billing.test.invalid/portal/ps_%1")
                                 .arg(d->nextBillingSession++)}});
             });
}

void registerHealthRoutes(TestBackend::Private &backend)
{
    backend.route("GET", "/api/health", [](const auto &, auto &response) {
        replyJson(response, 200, {{QStringLiteral("status"), QStringLiteral("ok")}});
    });
}

} // namespace Pellwick::Test
