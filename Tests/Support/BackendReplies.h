#pragma once

#include <PellwickCore/Backend/LibrarySessionClientError.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>

#include <Support/TestErrors.h>

namespace Pellwick::Test {

// JSON bodies of well-formed backend replies, written out by hand so that the client's decoding is
// checked against the wire words rather than against itself.

inline const QByteArray fullBillingPeriod
    = QByteArrayLiteral(R"({"starts_at":"2025-03-01T00:00:00Z","ends_at":"2025-04-01T00:00:00Z"})");

/// A "paid_plan" object: entitlement used 50 of 100, allowance used 7 of 70, price 1200.
inline QByteArray paidPlanJson(const QByteArray &status = "paid",
                               const QByteArray &billingPeriod = fullBillingPeriod)
{
    return R"({"status":")" + status
           + R"(","price_cents":1200,"storage_entitlement":{"used_bytes":50,"limit_bytes":100},)"
             R"("restore_allowance":{"used_bytes":7,"limit_bytes":70},"billing_period":)"
           + billingPeriod + "}";
}

/// A "library" object with id 9 and a trial quota of 5 used of 10.
inline QByteArray libraryJson(const QByteArray &paidPlan = paidPlanJson())
{
    return R"({"id":9,"trial_quota":{"used_bytes":5,"limit_bytes":10},"paid_plan":)" + paidPlan
           + "}";
}

/// A "user" object with id 4 and the given raw "display_name" member text (none when empty).
inline QByteArray userJson(const QByteArray &displayNameMember = R"("display_name":"Ada")")
{
    return R"({"id":4,"email":"ada@example.test")"
           + (displayNameMember.isEmpty() ? QByteArray() : "," + displayNameMember) + "}";
}

inline QByteArray shellJson(const QByteArray &library = libraryJson(),
                            const QByteArray &user = userJson())
{
    return R"({"user":)" + user + R"(,"library":)" + library + "}";
}

/// The client error inside `error`, or null when it is another kind.
inline const LibrarySessionClientError *clientError(const Error &error)
{
    return error.as<LibrarySessionClientError>();
}

inline Error unexpectedStatusError(int statusCode)
{
    return LibrarySessionClientError{LibrarySessionClientError::UnexpectedStatus{statusCode}};
}

} // namespace Pellwick::Test
