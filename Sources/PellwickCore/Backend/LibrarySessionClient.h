#pragma once

#include <PellwickCore/Backend/HttpFetch.h>
#include <PellwickCore/Backend/ImportCapacityReservationPackage.h>
#include <PellwickCore/Backend/LibrarySessionTypes.h>
#include <PellwickCore/Backend/RemoteLibraryItem.h>
#include <PellwickCore/Import/VerifiedBackupAPI.h>
#include <PellwickCore/Import/VerifiedBackupImportCancelling.h>
#include <PellwickCore/Restore/RestoreAPI.h>
#include <PellwickCore/Support/OrderedJson.h>
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
class LibrarySessionClient final
    : public VerifiedBackupAPI
    , public VerifiedBackupImportCancelling
    , public RestoreAPI
{
public:
    enum class RestoreFailureHandling {
        Off,
        On,
    };

    /// JSON object members in the order they are written.
    using JsonFields = Json::OrderedJson::Object;

    /// Stores both; nothing else happens.
    LibrarySessionClient(QUrl baseURL, HttpFetch fetch);

    const QUrl &baseURL() const { return m_baseURL; }

    /// The longest access token accepted, in characters.
    static constexpr qsizetype maximumTokenLength = 8192;
    /// Whether `token` can be sent back as a bearer token: 1 to `maximumTokenLength` visible
    /// ASCII characters (no space, no control character). A sign-in or registration reply with
    /// any other token fails to decode.
    static bool isUsableToken(const QString &token);

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

    // Library items.

    /// The backend's whole list of archived items, in its order; one item that cannot be read
    /// fails the call (no partial list), as do byte counts whose sum leaves 64 bits.
    [[nodiscard]] Result<QList<RemoteLibraryItem>>
    libraryItems(const QString &token, std::stop_token stop = {}) const override;

    // Import capacity reservations.

    /// Reserves room for `packages` (an empty list is sent as such) and returns the backend's
    /// reservation id, unchanged. Accepts exactly 201.
    [[nodiscard]] Result<QString>
    createImportCapacityReservation(const QString &token,
                                    const QList<ImportCapacityReservationPackage> &packages,
                                    std::stop_token stop = {}) const;
    /// Gives a reservation back; succeeds on exactly 204 (a 404 is a failure like any other).
    [[nodiscard]] Result<void> releaseImportCapacityReservation(const QString &token,
                                                                const QString &reservationID,
                                                                std::stop_token stop = {}) const;

    // Verified backup uploads. The completions and the cancel succeed on exactly 204 and never
    // read an error body, so a 403 or 409 there is `unexpectedStatus`.

    /// A reply naming neither a duplicate nor the RAW original's upload fails as a
    /// `DecodingError` (value not found); a duplicate wins over upload instructions.
    Result<VerifiedBackupUploadDecision>
    requestVerifiedBackupUpload(const QString &token,
                                const VerifiedBackupUploadRequest &request,
                                std::stop_token stop = {}) const override;
    /// The state of the library item the reply names.
    Result<VerifiedBackupUploadState> verifiedBackupUploadState(const QString &token,
                                                                qint64 libraryItemID,
                                                                std::stop_token stop
                                                                = {}) const override;
    Result<void> completeVerifiedBackupUpload(const QString &token,
                                              qint64 libraryItemID,
                                              const QString &uploadID,
                                              const QList<UploadedMultipartPart> &parts,
                                              std::stop_token stop = {}) const override;
    Result<void> completeVerifiedBackupSidecarUpload(const QString &token,
                                                     qint64 libraryItemID,
                                                     const QString &uploadID,
                                                     const QList<UploadedMultipartPart> &parts,
                                                     std::stop_token stop = {}) const override;
    Result<VerifiedBackupFinalization> finalizeVerifiedBackupUpload(const QString &token,
                                                                    qint64 libraryItemID,
                                                                    std::stop_token stop
                                                                    = {}) const override;
    Result<void> cancelVerifiedBackupImport(const QString &token,
                                            qint64 libraryItemID,
                                            std::stop_token stop = {}) const override;

    // Restore requests: the operations of `RestoreAPI`, each with restore failure handling on.

    /// Creates a Restore Request for the library items, sent in the order given (an empty list
    /// is sent as it is); succeeds on exactly 201.
    [[nodiscard]] Result<RestoreRequest> createRestoreRequest(const QString &token,
                                                              const QList<qint64> &libraryItemIDs,
                                                              std::stop_token stop
                                                              = {}) const override;
    [[nodiscard]] Result<RestoreRequest> restoreRequest(const QString &token,
                                                        qint64 restoreRequestID,
                                                        std::stop_token stop = {}) const override;
    /// No value when the reply holds no request; a 404 is a failure, not "none active".
    [[nodiscard]] Result<std::optional<RestoreRequest>>
    activeRestoreRequest(const QString &token, std::stop_token stop = {}) const override;
    /// A "DELETE" whose reply still carries the request.
    [[nodiscard]] Result<RestoreRequest> cancelRestoreRequest(const QString &token,
                                                              qint64 restoreRequestID,
                                                              std::stop_token stop
                                                              = {}) const override;
    [[nodiscard]] Result<RestoreRequest> retryRestoreRequest(const QString &token,
                                                             qint64 restoreRequestID,
                                                             std::stop_token stop
                                                             = {}) const override;
    /// The ready request's download URLs, without expiries or sidecars.
    [[nodiscard]] Result<RestoreDownloads> restoreDownloads(const QString &token,
                                                            qint64 restoreRequestID,
                                                            std::stop_token stop
                                                            = {}) const override;
    [[nodiscard]] Result<RestoreRequest> completeRestoreRequest(const QString &token,
                                                                qint64 restoreRequestID,
                                                                std::stop_token stop
                                                                = {}) const override;
    /// The ready request's download URLs with their expiries (the distant past when the backend
    /// gave none) and sidecars. Every call asks anew and may return new URLs.
    [[nodiscard]] Result<RestoreTransferCapabilities> restoreTransferCapabilities(
        const QString &token, qint64 restoreRequestID, std::stop_token stop = {}) const override;

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
        PELLWICK_TRY_ASSIGN(
            QByteArray body,
            acceptedBody(request, expectedStatuses, restoreFailureHandling, std::move(stop)));
        return std::forward<Decode>(decode)(body);
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
