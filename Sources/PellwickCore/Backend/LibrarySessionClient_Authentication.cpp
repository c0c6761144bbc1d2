// Sign-in, registration, password and e-mail verification endpoints.

#include "LibrarySessionClient.h"
#include "LibrarySessionClient_p.h"

namespace Pellwick {

namespace {

const QByteArray post = QByteArrayLiteral("POST");

} // namespace

Result<SignInResult> LibrarySessionClient::signInResult(const QString &email,
                                                        const QString &password,
                                                        std::stop_token stop) const
{
    Result<HttpRequest> request
        = makeRequest(QStringLiteral("api/auth/sessions"),
                      post,
                      std::nullopt,
                      {{QStringLiteral("email"), email}, {QStringLiteral("password"), password}});
    PELLWICK_TRY(request);
    Result<BackendWire::SessionResponse> response = send(*request,
                                                         {201},
                                                         &BackendWire::decodeSessionResponse,
                                                         RestoreFailureHandling::Off,
                                                         std::move(stop));
    PELLWICK_TRY(response);
    if (response->emailVerification == BackendWire::pendingVerificationWord)
        return SignInResult{SignInResult::PendingVerification{response->token}};
    if (response->user && response->library) {
        return SignInResult{SignInResult::Authenticated{
            AuthenticatedLibrarySession{response->token, *response->user, *response->library}}};
    }
    return BackendWire::unexpectedStatus(201);
}

Result<AuthenticatedLibrarySession> LibrarySessionClient::signIn(const QString &email,
                                                                 const QString &password,
                                                                 std::stop_token stop) const
{
    Result<SignInResult> result = signInResult(email, password, std::move(stop));
    PELLWICK_TRY(result);
    if (const auto *authenticated = std::get_if<SignInResult::Authenticated>(&result->value))
        return authenticated->session;
    return BackendWire::unexpectedStatus(403);
}

Result<SignInResult> LibrarySessionClient::registerAccount(const QString &email,
                                                           const QString &password,
                                                           const QString &passwordConfirmation,
                                                           std::stop_token stop) const
{
    Result<HttpRequest> request
        = makeRequest(QStringLiteral("api/auth/registrations"),
                      post,
                      std::nullopt,
                      {{QStringLiteral("email"), email},
                       {QStringLiteral("password"), password},
                       {QStringLiteral("password_confirmation"), passwordConfirmation}});
    PELLWICK_TRY(request);
    Result<BackendWire::PendingVerificationResponse> response
        = send(*request,
               {201},
               &BackendWire::decodePendingVerificationResponse,
               RestoreFailureHandling::Off,
               std::move(stop));
    PELLWICK_TRY(response);
    if (response->emailVerification != BackendWire::pendingVerificationWord)
        return BackendWire::unexpectedStatus(201);
    return SignInResult{SignInResult::PendingVerification{response->token}};
}

Result<void> LibrarySessionClient::requestPasswordReset(const QString &email,
                                                        std::stop_token stop) const
{
    Result<HttpRequest> request = makeRequest(QStringLiteral("api/auth/password_resets"),
                                              post,
                                              std::nullopt,
                                              {{QStringLiteral("email"), email}});
    PELLWICK_TRY(request);
    return sendEmpty(*request, 202, std::move(stop));
}

Result<EmailVerificationStatus>
LibrarySessionClient::emailVerificationStatus(const QString &token, std::stop_token stop) const
{
    const HttpRequest request
        = makeRequest(QStringLiteral("api/auth/email_verification"), std::nullopt, token);
    return send(request,
                {200},
                &BackendWire::decodeVerificationStatusResponse,
                RestoreFailureHandling::Off,
                std::move(stop));
}

Result<void> LibrarySessionClient::resendEmailVerification(const QString &token,
                                                           std::stop_token stop) const
{
    const HttpRequest request
        = makeRequest(QStringLiteral("api/auth/email_verification/resend"), post, token);
    return sendEmpty(request, 202, std::move(stop));
}

Result<void> LibrarySessionClient::changePassword(const QString &token,
                                                  const QString &currentPassword,
                                                  const QString &password,
                                                  const QString &passwordConfirmation,
                                                  std::stop_token stop) const
{
    Result<HttpRequest> request
        = makeRequest(QStringLiteral("api/auth/password"),
                      QByteArrayLiteral("PATCH"),
                      token,
                      {{QStringLiteral("current_password"), currentPassword},
                       {QStringLiteral("password"), password},
                       {QStringLiteral("password_confirmation"), passwordConfirmation}});
    PELLWICK_TRY(request);
    return sendEmpty(*request, 204, std::move(stop));
}

} // namespace Pellwick
