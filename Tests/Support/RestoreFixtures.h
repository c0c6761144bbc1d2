#pragma once

#include <PellwickCore/Restore/RestoreRequest.h>

#include <QList>
#include <QString>

#include <optional>

namespace Pellwick::Test {

/// An entry of a Restore Request for the backend's library item `id`.
inline RestoreRequestItem
restoreEntry(qint64 id, RestoreRequestStatus status, std::optional<QString> reason = {})
{
    RestoreRequestItem entry;
    entry.libraryItemID = id;
    entry.status = status;
    entry.attentionReason = std::move(reason);
    return entry;
}

/// A Restore Request of `byteCount` bytes with `entries`, in that order.
inline RestoreRequest restoreRequest(RestoreRequestStatus status,
                                     QList<RestoreRequestItem> entries = {},
                                     std::optional<QString> reason = {},
                                     qint64 byteCount = 2048)
{
    RestoreRequest request;
    request.id = 42;
    request.status = status;
    request.byteCount = byteCount;
    request.attentionReason = std::move(reason);
    request.items = std::move(entries);
    return request;
}

} // namespace Pellwick::Test
