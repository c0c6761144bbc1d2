#pragma once

#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace Pellwick {

/// What the last settled restore transfer run of a Restore Request left: the items it saved and
/// those that failed, each with why. Kept in the restore transfer state beside the manifests, so
/// that it outlives the library's restore markings, which a rebuild from the backend resets.
struct RestoreRunOutcome
{
    qint64 restoreRequestID = 0;
    /// Backend item ids of the items saved, in the request's order.
    QList<qint64> savedItemIDs;
    /// The failed items' reasons by backend item id.
    QMap<qint64, QString> failedItems;

    /// The outcome of a run that ended with `request` as its items say: the saved items and the
    /// failed ones with their reasons.
    static RestoreRunOutcome of(const RestoreRequest &request);

    /// `request` with this outcome's items: saved ones downloaded, failed ones needing attention
    /// with their reason unless saved meanwhile. Another request, or one that is not ready, is
    /// returned unchanged.
    RestoreRequest appliedTo(RestoreRequest request) const;

    /// Records `libraryItemID` saved: a later run finished what this one left.
    void noteSaved(qint64 libraryItemID);

    /// The file's JSON form: pretty-printed, keys sorted.
    [[nodiscard]] Result<QByteArray> encoded() const;
    /// `encoded()` when it takes at most `byteCount` bytes; otherwise the form with the reasons
    /// of all failed items but the first left empty, or with none, whichever fits first (the
    /// counts and the statuses are what must be kept). Longer than `byteCount` only when even
    /// that does not fit.
    [[nodiscard]] Result<QByteArray> encodedWithin(qint64 byteCount) const;
    /// The bytes kept for the outcome of a run of a request with `itemCount` items: its JSON form
    /// with every item failed, each id of the widest, and room for a reason of
    /// `reasonRoomBytes` bytes per item.
    static qint64 reservedByteCount(qint64 itemCount);
    static constexpr qint64 reasonRoomBytes = 320;
    /// Reads the JSON form: "restoreRequestID", "savedItemIDs" and "failedItems" (objects of
    /// "libraryItemID" and "reason") are required with their JSON types. Failures are
    /// `DecodingError`s naming the key path.
    [[nodiscard]] static Result<RestoreRunOutcome> decode(const QByteArray &data);

    bool operator==(const RestoreRunOutcome &) const = default;
};

} // namespace Pellwick
