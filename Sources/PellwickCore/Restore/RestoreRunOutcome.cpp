#include "RestoreRunOutcome.h"

#include <PellwickCore/Support/Json.h>

#include <limits>

namespace Pellwick {

namespace {

struct FailedItem
{
    qint64 libraryItemID = 0;
    QString reason;
};

Result<FailedItem> readFailedItem(const QJsonValue &value, const QString &path)
{
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::readObject(value, path));
    const Json::ObjectReader reader(object, path);
    FailedItem item;
    PELLWICK_TRY_ASSIGN(item.libraryItemID, reader.integer(QStringLiteral("libraryItemID")));
    PELLWICK_TRY_ASSIGN(item.reason, reader.string(QStringLiteral("reason")));
    return item;
}

} // namespace

RestoreRunOutcome RestoreRunOutcome::of(const RestoreRequest &request)
{
    RestoreRunOutcome outcome;
    outcome.restoreRequestID = request.id;
    for (const RestoreRequestItem &item : request.items) {
        if (item.status == RestoreRequestStatus::Downloaded)
            outcome.savedItemIDs.append(item.libraryItemID);
        else if (item.status == RestoreRequestStatus::NeedsAttention)
            outcome.failedItems.insert(item.libraryItemID,
                                       item.attentionReason.value_or(QString()));
    }
    return outcome;
}

RestoreRequest RestoreRunOutcome::appliedTo(RestoreRequest request) const
{
    if (request.id != restoreRequestID || request.status != RestoreRequestStatus::Ready)
        return request;
    for (RestoreRequestItem &item : request.items) {
        if (savedItemIDs.contains(item.libraryItemID)) {
            item.status = RestoreRequestStatus::Downloaded;
            continue;
        }
        const auto failed = failedItems.constFind(item.libraryItemID);
        if (failed == failedItems.cend() || item.status == RestoreRequestStatus::Downloaded)
            continue;
        item.status = RestoreRequestStatus::NeedsAttention;
        if (!failed->isEmpty())
            item.attentionReason = *failed;
    }
    return request;
}

void RestoreRunOutcome::noteSaved(qint64 libraryItemID)
{
    failedItems.remove(libraryItemID);
    if (!savedItemIDs.contains(libraryItemID))
        savedItemIDs.append(libraryItemID);
}

Result<QByteArray> RestoreRunOutcome::encoded() const
{
    QJsonArray saved;
    for (const qint64 id : savedItemIDs)
        saved.append(id);
    QJsonArray failed;
    for (auto it = failedItems.cbegin(); it != failedItems.cend(); ++it) {
        failed.append(QJsonObject{
            {QStringLiteral("libraryItemID"), it.key()},
            {QStringLiteral("reason"), it.value()},
        });
    }
    return Json::serialize(
        QJsonObject{
            {QStringLiteral("failedItems"), failed},
            {QStringLiteral("restoreRequestID"), restoreRequestID},
            {QStringLiteral("savedItemIDs"), saved},
        },
        Json::Format::Pretty);
}

Result<QByteArray> RestoreRunOutcome::encodedWithin(qint64 byteCount) const
{
    PELLWICK_TRY_ASSIGN(QByteArray data, encoded());
    if (data.size() <= byteCount || failedItems.isEmpty())
        return data;
    RestoreRunOutcome shorter = *this;
    for (auto reason = std::next(shorter.failedItems.begin()); reason != shorter.failedItems.end();
         ++reason)
        reason->clear();
    PELLWICK_TRY_ASSIGN(data, shorter.encoded());
    if (data.size() <= byteCount)
        return data;
    shorter.failedItems.begin()->clear();
    return shorter.encoded();
}

qint64 RestoreRunOutcome::reservedByteCount(qint64 itemCount)
{
    // Ids of twenty characters: none is wider in decimal.
    constexpr qint64 widestID = std::numeric_limits<qint64>::min();
    RestoreRunOutcome widest;
    widest.restoreRequestID = widestID;
    for (qint64 n = 0; n < itemCount; ++n)
        widest.failedItems.insert(widestID + n, QString());
    const Result<QByteArray> data = widest.encoded();
    return (data ? data->size() : 0) + itemCount * reasonRoomBytes;
}

Result<RestoreRunOutcome> RestoreRunOutcome::decode(const QByteArray &data)
{
    PELLWICK_TRY_ASSIGN(QJsonObject object, Json::parseObject(data));
    const Json::ObjectReader reader(object);
    RestoreRunOutcome outcome;
    PELLWICK_TRY_ASSIGN(const QList<FailedItem> failed,
                        reader.elements<FailedItem>(QStringLiteral("failedItems"), readFailedItem));
    PELLWICK_TRY_ASSIGN(outcome.restoreRequestID,
                        reader.integer(QStringLiteral("restoreRequestID")));
    PELLWICK_TRY_ASSIGN(outcome.savedItemIDs,
                        reader.elements<qint64>(QStringLiteral("savedItemIDs"), Json::readInteger));
    for (const FailedItem &item : failed)
        outcome.failedItems.insert(item.libraryItemID, item.reason);
    return outcome;
}

} // namespace Pellwick
