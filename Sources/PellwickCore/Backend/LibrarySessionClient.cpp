#include "LibrarySessionClient.h"

#include "LibrarySessionClient_p.h"

#include <PellwickCore/Support/Json.h>

#include <algorithm>
#include <chrono>

namespace Pellwick {

namespace {

using Json::ObjectReader;

constexpr std::chrono::seconds requestTimeout(60);

// The error bodies below are each read with a fresh decoder from the same bytes; a body that does
// not decode makes its rule not apply.

bool isImportUnavailable(const QByteArray &body)
{
    Result<QString> error = BackendWire::decodeObject(
        body, [](const ObjectReader &reader) { return reader.string(QStringLiteral("error")); });
    return error && *error == QLatin1String("import_unavailable");
}

std::optional<StorageFullState> storageFullState(const QByteArray &body)
{
    struct StorageFullResponse
    {
        QString error;
        QString state;
        StorageFullState storage;
    };

    Result<StorageFullResponse> response = BackendWire::decodeObject(
        body, [](const ObjectReader &reader) -> Result<StorageFullResponse> {
            StorageFullResponse out;
            Result<QString> error = reader.string(QStringLiteral("error"));
            PELLWICK_TRY(error);
            Result<ObjectReader> storage = reader.object(QStringLiteral("storage"));
            PELLWICK_TRY(storage);
            Result<QString> state = storage->string(QStringLiteral("state"));
            PELLWICK_TRY(state);
            Result<qint64> used = storage->integer(QStringLiteral("used_bytes"));
            PELLWICK_TRY(used);
            Result<qint64> limit = storage->integer(QStringLiteral("limit_bytes"));
            PELLWICK_TRY(limit);
            Result<qint64> remaining = storage->integer(QStringLiteral("remaining_bytes"));
            PELLWICK_TRY(remaining);
            Result<QString> message = storage->string(QStringLiteral("message"));
            PELLWICK_TRY(message);
            return StorageFullResponse{*error, *state, {*used, *limit, *remaining, *message}};
        });
    const QLatin1String word("storage_full");
    if (response && response->error == word && response->state == word)
        return response->storage;
    return std::nullopt;
}

struct RestoreRequestFailureResponse
{
    QString error;
    std::optional<RestoreAllowanceKind> allowanceKind;
    std::optional<QString> reason;
};

Result<RestoreRequestFailureResponse> decodeRestoreRequestFailure(const QByteArray &body)
{
    return BackendWire::decodeObject(
        body, [](const ObjectReader &reader) -> Result<RestoreRequestFailureResponse> {
            Result<QString> error = reader.string(QStringLiteral("error"));
            PELLWICK_TRY(error);
            Result<std::optional<QString>> kindWord
                = reader.optionalString(QStringLiteral("allowance_kind"));
            PELLWICK_TRY(kindWord);
            std::optional<RestoreAllowanceKind> kind;
            if (*kindWord) {
                kind = restoreAllowanceKindFromRaw(**kindWord);
                if (!kind) {
                    return failure(
                        Json::invalidRawValue(reader.keyPath(QStringLiteral("allowance_kind")),
                                              QStringLiteral("RestoreAllowanceKind"),
                                              **kindWord));
                }
            }
            Result<std::optional<QString>> reason = reader.optionalString(QStringLiteral("reason"));
            PELLWICK_TRY(reason);
            return RestoreRequestFailureResponse{*error, kind, *reason};
        });
}

/// The failure for a reply whose status was not accepted, by the fixed order of rules.
LibrarySessionClientError
refusal(int status, const QByteArray &body, LibrarySessionClient::RestoreFailureHandling handling)
{
    using E = LibrarySessionClientError;
    if (status == 403 && isImportUnavailable(body))
        return E{E::ImportUnavailable{}};
    if (status == 409) {
        if (std::optional<StorageFullState> state = storageFullState(body))
            return E{E::StorageFull{*state}};
    }
    if (handling == LibrarySessionClient::RestoreFailureHandling::On) {
        if (Result<RestoreRequestFailureResponse> response = decodeRestoreRequestFailure(body)) {
            if (response->error == QLatin1String("restore_allowance_exceeded")
                && response->allowanceKind) {
                return E{E::RestoreAllowanceExceeded{*response->allowanceKind}};
            }
            if (response->error == QLatin1String("restore_unavailable")
                && response->reason == QLatin1String("billing_grace_period_ended")) {
                return E{E::RestoreUnavailableAfterGracePeriod{}};
            }
            return E{E::RestoreRequestFailed{response->error, response->reason, status}};
        }
    }
    return E{E::UnexpectedStatus{status}};
}

} // namespace

LibrarySessionClient::LibrarySessionClient(QUrl baseURL, HttpFetch fetch)
    : m_baseURL(std::move(baseURL))
    , m_fetch(std::move(fetch))
{
    Q_ASSERT_X(m_fetch, "LibrarySessionClient", "a fetch function is required");
}

bool LibrarySessionClient::isUsableToken(const QString &token)
{
    return !token.isEmpty() && token.size() <= maximumTokenLength
           && std::all_of(token.cbegin(), token.cend(), [](QChar c) {
                  return c.unicode() > 0x20 && c.unicode() < 0x7f;
              });
}

HttpRequest LibrarySessionClient::makeRequest(const QString &path,
                                              std::optional<QByteArray> method,
                                              const std::optional<QString> &token) const
{
    HttpRequest request;
    request.url = appendingPath(m_baseURL, path);
    request.timeoutInterval = requestTimeout;
    request.method = std::move(method);
    if (token)
        request.headers.set(QByteArrayLiteral("Authorization"), "Bearer " + token->toUtf8());
    return request;
}

Result<HttpRequest> LibrarySessionClient::makeRequest(const QString &path,
                                                      std::optional<QByteArray> method,
                                                      const std::optional<QString> &token,
                                                      const JsonFields &body) const
{
    HttpRequest request = makeRequest(path, std::move(method), token);
    request.headers.set(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json"));
    Result<QByteArray> encoded = Json::OrderedJson(body).serialize();
    PELLWICK_TRY(encoded);
    request.body = std::move(*encoded);
    return request;
}

Result<QByteArray> LibrarySessionClient::acceptedBody(const HttpRequest &request,
                                                      const QList<int> &expectedStatuses,
                                                      RestoreFailureHandling restoreFailureHandling,
                                                      std::stop_token stop) const
{
    Q_ASSERT(!expectedStatuses.isEmpty());
    Result<HttpResponse> reply = m_fetch(request, std::move(stop));
    PELLWICK_TRY(reply);
    if (!reply->statusCode)
        return BackendWire::unexpectedStatus(-1);
    const int status = *reply->statusCode;
    if (expectedStatuses.contains(status))
        return std::move(reply->body);
    return failure(refusal(status, reply->body, restoreFailureHandling));
}

Result<void> LibrarySessionClient::sendEmpty(const HttpRequest &request,
                                             int expectedStatus,
                                             std::stop_token stop) const
{
    Result<HttpResponse> reply = m_fetch(request, std::move(stop));
    PELLWICK_TRY(reply);
    if (!reply->statusCode)
        return BackendWire::unexpectedStatus(-1);
    if (*reply->statusCode != expectedStatus)
        return BackendWire::unexpectedStatus(*reply->statusCode);
    return {};
}

} // namespace Pellwick
