// The JSON wire forms of the sign-in, library, billing and account endpoints.

#include "LibrarySessionClient_p.h"

namespace Pellwick::BackendWire {

using Json::ObjectReader;

namespace {

/// The two byte counts shared by the trial quota, storage entitlement and restore allowance.
Result<std::pair<qint64, qint64>> usedAndLimit(const ObjectReader &reader, const QString &key)
{
    Result<ObjectReader> object = reader.object(key);
    PELLWICK_TRY(object);
    Result<qint64> used = object->byteCount(QStringLiteral("used_bytes"));
    PELLWICK_TRY(used);
    Result<qint64> limit = object->byteCount(QStringLiteral("limit_bytes"));
    PELLWICK_TRY(limit);
    return std::pair{*used, *limit};
}

Result<PaidPlanStatus> paidPlanStatus(const ObjectReader &reader)
{
    return enumeration(reader, QStringLiteral("status"), "PaidPlanStatus", &paidPlanStatusFromRaw);
}

} // namespace

Result<QString> urlString(const ObjectReader &reader, const QString &key)
{
    Result<QString> text = reader.string(key);
    PELLWICK_TRY(text);
    if (!QUrl(*text, QUrl::StrictMode).isValid())
        return failure(
            Json::dataCorrupted(reader.keyPath(key), QStringLiteral("Invalid URL string.")));
    return *text;
}

Result<QString> tokenString(const ObjectReader &reader)
{
    const QString key = QStringLiteral("token");
    Result<QString> token = reader.string(key);
    PELLWICK_TRY(token);
    if (!LibrarySessionClient::isUsableToken(*token))
        return failure(Json::dataCorrupted(reader.keyPath(key),
                                           QStringLiteral("The token cannot be sent back.")));
    return *token;
}

Result<LibraryUser> decodeUser(const ObjectReader &reader)
{
    Result<qint64> id = reader.integer(QStringLiteral("id"));
    PELLWICK_TRY(id);
    Result<QString> email = reader.string(QStringLiteral("email"));
    PELLWICK_TRY(email);
    Result<std::optional<QString>> displayName
        = reader.optionalString(QStringLiteral("display_name"));
    PELLWICK_TRY(displayName);
    return LibraryUser{*id, *email, *displayName};
}

Result<PaidPlanState> decodePaidPlan(const ObjectReader &reader)
{
    Result<PaidPlanStatus> status = paidPlanStatus(reader);
    PELLWICK_TRY(status);
    Result<qint64> priceCents = reader.integer(QStringLiteral("price_cents"));
    PELLWICK_TRY(priceCents);
    Result<std::pair<qint64, qint64>> entitlement
        = usedAndLimit(reader, QStringLiteral("storage_entitlement"));
    PELLWICK_TRY(entitlement);
    Result<std::pair<qint64, qint64>> allowance
        = usedAndLimit(reader, QStringLiteral("restore_allowance"));
    PELLWICK_TRY(allowance);
    Result<ObjectReader> period = reader.object(QStringLiteral("billing_period"));
    PELLWICK_TRY(period);
    Result<std::optional<QString>> startsAt = period->optionalString(QStringLiteral("starts_at"));
    PELLWICK_TRY(startsAt);
    Result<std::optional<QString>> endsAt = period->optionalString(QStringLiteral("ends_at"));
    PELLWICK_TRY(endsAt);

    PaidPlanState plan;
    plan.status = *status;
    plan.priceCents = *priceCents;
    plan.storageEntitlement = {entitlement->first, entitlement->second};
    plan.restoreAllowance = {allowance->first, allowance->second};
    if (*startsAt && *endsAt)
        plan.billingPeriod = BillingPeriod{**startsAt, **endsAt};
    return plan;
}

Result<UserLibrary> decodeLibrary(const ObjectReader &reader)
{
    Result<qint64> id = reader.integer(QStringLiteral("id"));
    PELLWICK_TRY(id);
    Result<std::pair<qint64, qint64>> trialQuota
        = usedAndLimit(reader, QStringLiteral("trial_quota"));
    PELLWICK_TRY(trialQuota);
    Result<ObjectReader> paidPlan = reader.object(QStringLiteral("paid_plan"));
    PELLWICK_TRY(paidPlan);
    Result<PaidPlanState> plan = decodePaidPlan(*paidPlan);
    PELLWICK_TRY(plan);
    return UserLibrary{*id, {trialQuota->first, trialQuota->second}, *plan};
}

namespace {

Result<LibraryUser> userUnder(const ObjectReader &reader)
{
    Result<ObjectReader> user = reader.object(QStringLiteral("user"));
    PELLWICK_TRY(user);
    return decodeUser(*user);
}

Result<UserLibrary> libraryUnder(const ObjectReader &reader)
{
    Result<ObjectReader> library = reader.object(QStringLiteral("library"));
    PELLWICK_TRY(library);
    return decodeLibrary(*library);
}

} // namespace

Result<SessionResponse> decodeSessionResponse(const QByteArray &body)
{
    return decodeObject(body, [](const ObjectReader &reader) -> Result<SessionResponse> {
        SessionResponse response;
        Result<QString> token = tokenString(reader);
        PELLWICK_TRY(token);
        response.token = *token;
        Result<std::optional<QString>> verification
            = reader.optionalString(QStringLiteral("email_verification"));
        PELLWICK_TRY(verification);
        response.emailVerification = *verification;
        if (reader.has(QStringLiteral("user"))) {
            Result<LibraryUser> user = userUnder(reader);
            PELLWICK_TRY(user);
            response.user = *user;
        }
        if (reader.has(QStringLiteral("library"))) {
            Result<UserLibrary> library = libraryUnder(reader);
            PELLWICK_TRY(library);
            response.library = *library;
        }
        return response;
    });
}

Result<LibraryShell> decodeShellResponse(const QByteArray &body)
{
    return decodeObject(body, [](const ObjectReader &reader) -> Result<LibraryShell> {
        Result<LibraryUser> user = userUnder(reader);
        PELLWICK_TRY(user);
        Result<UserLibrary> library = libraryUnder(reader);
        PELLWICK_TRY(library);
        return LibraryShell{*user, *library};
    });
}

Result<CheckoutSession> decodeCheckoutSessionResponse(const QByteArray &body)
{
    return decodeObject(body, [](const ObjectReader &reader) -> Result<CheckoutSession> {
        Result<QString> url = urlString(reader, QStringLiteral("checkout_url"));
        PELLWICK_TRY(url);
        Result<ObjectReader> paidPlan = reader.object(QStringLiteral("paid_plan"));
        PELLWICK_TRY(paidPlan);
        Result<PaidPlanState> plan = decodePaidPlan(*paidPlan);
        PELLWICK_TRY(plan);
        return CheckoutSession{*url, *plan};
    });
}

Result<QString> decodeCustomerPortalResponse(const QByteArray &body)
{
    return decodeObject(body, [](const ObjectReader &reader) {
        return urlString(reader, QStringLiteral("portal_url"));
    });
}

Result<PendingVerificationResponse> decodePendingVerificationResponse(const QByteArray &body)
{
    return decodeObject(
        body, [](const ObjectReader &reader) -> Result<PendingVerificationResponse> {
            Result<QString> token = tokenString(reader);
            PELLWICK_TRY(token);
            Result<QString> verification = reader.string(QStringLiteral("email_verification"));
            PELLWICK_TRY(verification);
            return PendingVerificationResponse{*token, *verification};
        });
}

Result<EmailVerificationStatus> decodeVerificationStatusResponse(const QByteArray &body)
{
    return decodeObject(body, [](const ObjectReader &reader) -> Result<EmailVerificationStatus> {
        Result<QString> verification = reader.string(QStringLiteral("email_verification"));
        PELLWICK_TRY(verification);
        Result<QString> email = reader.string(QStringLiteral("email"));
        PELLWICK_TRY(email);
        return EmailVerificationStatus{*verification, *email};
    });
}

} // namespace Pellwick::BackendWire
