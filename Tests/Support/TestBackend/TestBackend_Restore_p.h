#pragma once

// The restore requests of the test backend, guarded by the backend's mutex. Their items are the
// account's library items.

#include "TestBackend.h"

#include <PellwickCore/Restore/RestoreRequest.h>

#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace Pellwick::Test {

struct RestoreRequestStore
{
    struct ItemRecord
    {
        qint64 libraryItemID = 0;
        RestoreRequestStatus status = RestoreRequestStatus::Preparing;
        std::optional<QString> attentionReason;
    };

    struct RequestRecord
    {
        qint64 id = 0;
        QString email;
        RestoreRequestStatus status = RestoreRequestStatus::Preparing;
        std::optional<QString> attentionReason;
        QList<ItemRecord> items;
    };

    QList<RequestRecord> requests;
    qint64 nextRequestID = 1;
    std::optional<std::chrono::seconds> downloadLifetime = std::chrono::minutes(15);
    /// What a preparing request says of its wait ("preparation_estimate").
    QString preparationEstimate = QStringLiteral("about 4 hours");

    RequestRecord *findRequest(qint64 id)
    {
        for (RequestRecord &record : requests) {
            if (record.id == id)
                return &record;
        }
        return nullptr;
    }
};

} // namespace Pellwick::Test
