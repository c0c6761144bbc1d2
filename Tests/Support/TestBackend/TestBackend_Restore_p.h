#pragma once

// The restore requests of the test backend, guarded by the backend's mutex.

#include "TestBackend.h"

#include <PellwickCore/Backend/RestoreRequest.h>

#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace Pellwick::Test {

struct RestoreRequestStore
{
    struct ArchivedRecord
    {
        QString email;
        TestBackend::ArchivedItem item;
    };

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

    QList<ArchivedRecord> archived;
    QList<RequestRecord> requests;
    qint64 nextRequestID = 1;
    std::optional<std::chrono::seconds> downloadLifetime = std::chrono::minutes(15);

    const ArchivedRecord *findArchived(const QString &email, qint64 libraryItemID) const
    {
        for (const ArchivedRecord &record : archived) {
            if (record.email == email && record.item.libraryItemID == libraryItemID)
                return &record;
        }
        return nullptr;
    }

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
