#include "RestoreTransferStateLayout.h"

namespace Pellwick {

QString RestoreTransferStateLayout::manifestsPath() const
{
    return rootPath + QStringLiteral("/manifests");
}

QString RestoreTransferStateLayout::manifestPath(const RestoreTransferIdentifier &id) const
{
    return manifestsPath() + QLatin1Char('/') + id.fileStem() + QStringLiteral(".json");
}

QString RestoreTransferStateLayout::partsPath(const RestoreTransferIdentifier &id) const
{
    return rootPath + QStringLiteral("/parts/") + id.fileStem();
}

QString RestoreTransferStateLayout::partPath(const RestoreTransferIdentifier &id,
                                             const RestoreByteRange &range) const
{
    return partsPath(id) + QStringLiteral("/%1-%2.part").arg(range.start).arg(range.endInclusive);
}

QString RestoreTransferStateLayout::runOutcomesPath() const
{
    return rootPath + QStringLiteral("/outcomes");
}

QString RestoreTransferStateLayout::runOutcomePath(qint64 restoreRequestID) const
{
    return runOutcomesPath() + QStringLiteral("/restore-request-%1.json").arg(restoreRequestID);
}

QString RestoreTransferStateLayout::runOutcomeRoomPath(qint64 restoreRequestID) const
{
    return runOutcomesPath() + QStringLiteral("/.restore-request-%1.room").arg(restoreRequestID);
}

QString RestoreTransferStateLayout::unsavedRunOutcomePath(qint64 restoreRequestID) const
{
    return runOutcomesPath() + QStringLiteral("/.restore-request-%1.unsaved").arg(restoreRequestID);
}

} // namespace Pellwick
