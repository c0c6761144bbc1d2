#pragma once

#include <PellwickCore/Restore/RestoreDownloads.h>
#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Support/Result.h>

#include <QList>
#include <QString>

#include <optional>
#include <stop_token>

namespace Pellwick {

/// The backend's Restore Request operations as the restore coordinator sees them. Each is one
/// blocking HTTP exchange, safe to call from any thread, that `stop` cancels; `token` is the
/// signed-in session's bearer token and ids are the backend's. Failures are the implementation's
/// errors, passed through unchanged.
class RestoreAPI
{
public:
    RestoreAPI() = default;
    RestoreAPI(const RestoreAPI &) = delete;
    RestoreAPI &operator=(const RestoreAPI &) = delete;
    virtual ~RestoreAPI() = default;

    [[nodiscard]] virtual Result<RestoreRequest>
    createRestoreRequest(const QString &token,
                         const QList<qint64> &libraryItemIDs,
                         std::stop_token stop = {}) const = 0;
    [[nodiscard]] virtual Result<RestoreRequest> restoreRequest(const QString &token,
                                                                qint64 restoreRequestID,
                                                                std::stop_token stop
                                                                = {}) const = 0;
    /// No value when no Restore Request is active.
    [[nodiscard]] virtual Result<std::optional<RestoreRequest>>
    activeRestoreRequest(const QString &token, std::stop_token stop = {}) const = 0;
    [[nodiscard]] virtual Result<RestoreRequest> cancelRestoreRequest(const QString &token,
                                                                      qint64 restoreRequestID,
                                                                      std::stop_token stop
                                                                      = {}) const = 0;
    [[nodiscard]] virtual Result<RestoreRequest> retryRestoreRequest(const QString &token,
                                                                     qint64 restoreRequestID,
                                                                     std::stop_token stop
                                                                     = {}) const = 0;
    [[nodiscard]] virtual Result<RestoreDownloads> restoreDownloads(const QString &token,
                                                                    qint64 restoreRequestID,
                                                                    std::stop_token stop
                                                                    = {}) const = 0;
    [[nodiscard]] virtual Result<RestoreRequest> completeRestoreRequest(const QString &token,
                                                                        qint64 restoreRequestID,
                                                                        std::stop_token stop
                                                                        = {}) const = 0;
    /// One capability per RAW original, each with its URL's expiry and optional sidecar.
    [[nodiscard]] virtual Result<RestoreTransferCapabilities> restoreTransferCapabilities(
        const QString &token, qint64 restoreRequestID, std::stop_token stop = {}) const = 0;
};

} // namespace Pellwick
