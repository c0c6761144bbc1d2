#pragma once

// The private JSON wire forms of the backend client, shared by its source units.

#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Backend/LibrarySessionTypes.h>
#include <PellwickCore/Support/Json.h>

#include <QString>

#include <optional>

namespace Pellwick::BackendWire {

/// The failure `LibrarySessionClientError::UnexpectedStatus` with `statusCode`.
inline tl::unexpected<Error> unexpectedStatus(int statusCode)
{
    return failure(
        LibrarySessionClientError{LibrarySessionClientError::UnexpectedStatus{statusCode}});
}

/// Reads a top-level JSON object and hands it to `read`.
template<typename F>
[[nodiscard]] auto decodeObject(const QByteArray &body, F &&read)
    -> std::invoke_result_t<F, const Json::ObjectReader &>
{
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::parseObject(body));
    return std::forward<F>(read)(Json::ObjectReader(object));
}

/// The word under `key` turned into a value by `fromRaw`; a word it does not know fails decoding
/// as data corrupted, naming `typeName`.
template<typename F>
[[nodiscard]] auto
enumeration(const Json::ObjectReader &reader, const QString &key, const char *typeName, F &&fromRaw)
    -> Result<typename std::invoke_result_t<F, const QString &>::value_type>
{
    return Json::readRawValue(reader, key, QLatin1String(typeName), std::forward<F>(fromRaw));
}

/// A string under `key` that must form a URL; kept as the exact text received.
[[nodiscard]] Result<QString> urlString(const Json::ObjectReader &reader, const QString &key);
/// The "token" member, refused (data corrupted) unless `LibrarySessionClient::isUsableToken`.
[[nodiscard]] Result<QString> tokenString(const Json::ObjectReader &reader);

/// "user": id, email, optional display name.
[[nodiscard]] Result<LibraryUser> decodeUser(const Json::ObjectReader &reader);
/// "library": id, trial quota and paid plan.
[[nodiscard]] Result<UserLibrary> decodeLibrary(const Json::ObjectReader &reader);
/// "paid_plan", with the billing period kept only when both of its dates are present.
[[nodiscard]] Result<PaidPlanState> decodePaidPlan(const Json::ObjectReader &reader);

/// The reply to a sign-in.
struct SessionResponse
{
    QString token;
    std::optional<QString> emailVerification;
    std::optional<LibraryUser> user;
    std::optional<UserLibrary> library;
};

[[nodiscard]] Result<SessionResponse> decodeSessionResponse(const QByteArray &body);
/// The reply to reading the library: both "user" and "library" required.
[[nodiscard]] Result<LibraryShell> decodeShellResponse(const QByteArray &body);
[[nodiscard]] Result<CheckoutSession> decodeCheckoutSessionResponse(const QByteArray &body);
/// "portal_url".
[[nodiscard]] Result<QString> decodeCustomerPortalResponse(const QByteArray &body);

/// The reply to a registration.
struct PendingVerificationResponse
{
    QString token;
    QString emailVerification;
};

[[nodiscard]] Result<PendingVerificationResponse>
decodePendingVerificationResponse(const QByteArray &body);
[[nodiscard]] Result<EmailVerificationStatus>
decodeVerificationStatusResponse(const QByteArray &body);

/// The library item's status words of the library items endpoint: "staging", "uploading",
/// "verified_backup", "needs_attention".
std::optional<LibraryItemImportStatus> libraryItemStatusFromWord(const QString &word);
/// The status words of the verified backup endpoints: those of the library items endpoint and
/// "duplicate".
std::optional<LibraryItemImportStatus> verifiedBackupStatusFromWord(const QString &word);

/// The word that announces an unverified account, compared exactly.
inline const QString pendingVerificationWord = QStringLiteral("pending");

} // namespace Pellwick::BackendWire
