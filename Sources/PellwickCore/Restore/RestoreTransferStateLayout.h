#pragma once

#include <PellwickCore/Restore/RestoreTransferTypes.h>

#include <QString>

namespace Pellwick {

/// Where the state of restore transfers lies under its root folder:
/// "manifests/<stem>.json" for each artifact's manifest and "parts/<stem>/<start>-<end>.part" for
/// each completed range, numbers in plain decimal; "outcomes/restore-request-<request>.json" for
/// the outcome of a request's last settled run, "outcomes/.restore-request-<request>.room" for the
/// room a running run keeps for its outcome and "outcomes/.restore-request-<request>.unsaved" where
/// a settled run's outcome could not be stored.
struct RestoreTransferStateLayout
{
    QString rootPath;

    QString manifestsPath() const;
    QString manifestPath(const RestoreTransferIdentifier &id) const;
    QString partsPath(const RestoreTransferIdentifier &id) const;
    QString partPath(const RestoreTransferIdentifier &id, const RestoreByteRange &range) const;
    QString runOutcomesPath() const;
    QString runOutcomePath(qint64 restoreRequestID) const;
    QString runOutcomeRoomPath(qint64 restoreRequestID) const;
    QString unsavedRunOutcomePath(qint64 restoreRequestID) const;
};

} // namespace Pellwick
