#pragma once

#include <PellwickCore/Backend/HttpFetch.h>
#include <PellwickCore/Backend/LibrarySessionTypes.h>
#include <PellwickCore/Support/Result.h>

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>

namespace Pellwick {

/// The one client through which the system talks to its backend: HTTP with JSON bodies, one
/// exchange per operation, nothing kept between calls (the access token is an argument of every
/// authenticated operation). An immutable value, safe to call from any thread, also concurrently.
///
/// Every operation fails with, in this order of precedence: the fetch function's error unchanged
/// (`TransportError`, including time-outs and cancellation through `stop`); a
/// `LibrarySessionClientError` from the status of the reply (`unexpectedStatus(-1)` when the reply
/// was not HTTP); or, for an accepted reply whose body cannot be read, the `DecodingError` naming
/// the offending key. Nothing is retried.
class LibrarySessionClient
{
public:
    enum class RestoreFailureHandling {
        Off,
        On,
    };

    /// JSON object members in the order they are written.
    using JsonFields = QList<std::pair<QString, QJsonValue>>;

    /// Stores both; nothing else happens.
    LibrarySessionClient(QUrl baseURL, HttpFetch fetch);

    const QUrl &baseURL() const { return m_baseURL; }

    // Sign-in, library state and billing.

    /// Signs in with a password: `Authenticated` with the session, or `PendingVerification` with a
    /// token for the e-mail verification operations. A reply that is neither fails as
    /// `unexpectedStatus(201)`.
    [[nodiscard]] Result<SignInResult>
    signInResult(const QString &email, const QString &password, std::stop_token stop = {}) const;
    /// Like `signInResult`, but a pending verification fails as `unexpectedStatus(403)`.
    [[nodiscard]] Result<AuthenticatedLibrarySession>
    signIn(const QString &email, const QString &password, std::stop_token stop = {}) const;
    /// Reads the current user and library.
    [[nodiscard]] Result<LibraryShell> currentLibrary(const QString &token,
                                                      std::stop_token stop = {}) const;
    /// Asks for a checkout link.
    [[nodiscard]] Result<CheckoutSession> requestCheckout(const QString &token,
                                                          std::stop_token stop = {}) const;
    /// Asks for a customer-portal link; the URL is the backend's text, unchanged.
    [[nodiscard]] Result<QString> requestCustomerPortal(const QString &token,
                                                        std::stop_token stop = {}) const;

    // Registration, password and e-mail verification.

    /// Creates an account. The only success is a pending verification; any other reply to an
    /// accepted registration fails as `unexpectedStatus(201)`.
    [[nodiscard]] Result<SignInResult> registerAccount(const QString &email,
                                                       const QString &password,
                                                       const QString &passwordConfirmation,
                                                       std::stop_token stop = {}) const;
    /// Asks for a password-reset e-mail; succeeds on exactly 202.
    [[nodiscard]] Result<void> requestPasswordReset(const QString &email,
                                                    std::stop_token stop = {}) const;
    /// Reads the e-mail verification state of the token's account.
    [[nodiscard]] Result<EmailVerificationStatus>
    emailVerificationStatus(const QString &token, std::stop_token stop = {}) const;
    /// Sends the verification e-mail again; succeeds on exactly 202.
    [[nodiscard]] Result<void> resendEmailVerification(const QString &token,
                                                       std::stop_token stop = {}) const;
    /// Changes the password; succeeds on exactly 204.
    [[nodiscard]] Result<void> changePassword(const QString &token,
                                              const QString &currentPassword,
                                              const QString &password,
                                              const QString &passwordConfirmation,
                                              std::stop_token stop = {}) const;

    // The frame every operation is built on.

    /// A request for `path` (relative, no leading slash) under the base URL, with the 60-second
    /// timeout, the method (no value: the default GET) and, when a token is given,
    /// "Authorization: Bearer <token>".
    HttpRequest makeRequest(const QString &path,
                            std::optional<QByteArray> method,
                            const std::optional<QString> &token) const;
    /// The same with a JSON body and "Content-Type: application/json"; fails with the encoder's
    /// error, in which case nothing may be sent.
    [[nodiscard]] Result<HttpRequest> makeRequest(const QString &path,
                                                  std::optional<QByteArray> method,
                                                  const std::optional<QString> &token,
                                                  const JsonFields &body) const;

    /// The decoding send step: the body of a reply whose status is in `expectedStatuses`, decoded
    /// by `decode` (its failure returned unchanged); any other reply becomes the failure its status
    /// and error body map to.
    template<typename Decode>
    [[nodiscard]] std::invoke_result_t<Decode, const QByteArray &>
    send(const HttpRequest &request,
         const QList<int> &expectedStatuses,
         Decode &&decode,
         RestoreFailureHandling restoreFailureHandling,
         std::stop_token stop = {}) const
    {
        Result<QByteArray> body
            = acceptedBody(request, expectedStatuses, restoreFailureHandling, std::move(stop));
        if (!body)
            return tl::unexpected<Error>(std::move(body).error());
        return std::forward<Decode>(decode)(*body);
    }

    /// The body-less send step: succeeds on exactly `expectedStatus`, ignoring the body; any
    /// other status is `unexpectedStatus` without reading an error body.
    [[nodiscard]] Result<void>
    sendEmpty(const HttpRequest &request, int expectedStatus, std::stop_token stop = {}) const;

private:
    [[nodiscard]] Result<QByteArray> acceptedBody(const HttpRequest &request,
                                                  const QList<int> &expectedStatuses,
                                                  RestoreFailureHandling restoreFailureHandling,
                                                  std::stop_token stop) const;

    QUrl m_baseURL;
    HttpFetch m_fetch;
};

} // namespace Pellwick
