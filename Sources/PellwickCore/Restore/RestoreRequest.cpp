#include "RestoreRequest.h"

#include <algorithm>

namespace Pellwick {

QString toRaw(RestoreRequestStatus status)
{
    switch (status) {
    case RestoreRequestStatus::Preparing:
        return QStringLiteral("preparing");
    case RestoreRequestStatus::Ready:
        return QStringLiteral("ready");
    case RestoreRequestStatus::Downloaded:
        return QStringLiteral("downloaded");
    case RestoreRequestStatus::NeedsAttention:
        return QStringLiteral("needs_attention");
    case RestoreRequestStatus::Cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}

std::optional<RestoreRequestStatus> restoreRequestStatusFromRaw(const QString &raw)
{
    for (const RestoreRequestStatus status : {RestoreRequestStatus::Preparing,
                                              RestoreRequestStatus::Ready,
                                              RestoreRequestStatus::Downloaded,
                                              RestoreRequestStatus::NeedsAttention,
                                              RestoreRequestStatus::Cancelled}) {
        if (raw == toRaw(status))
            return status;
    }
    return std::nullopt;
}

bool failsTransfers(const RestoreRequest &request)
{
    return request.status == RestoreRequestStatus::Ready
           && std::any_of(
               request.items.cbegin(), request.items.cend(), [](const RestoreRequestItem &item) {
                   return item.status == RestoreRequestStatus::NeedsAttention;
               });
}

} // namespace Pellwick
