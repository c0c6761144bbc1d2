#include "RestoreTransferTypes.h"

#include <limits>

namespace Pellwick {

QString toRaw(RestoreTransferArtifact artifact)
{
    switch (artifact) {
    case RestoreTransferArtifact::Raw:
        return QStringLiteral("raw");
    case RestoreTransferArtifact::Sidecar:
        return QStringLiteral("sidecar");
    }
    return {};
}

std::optional<RestoreTransferArtifact> restoreTransferArtifactFromRaw(const QString &raw)
{
    if (raw == QLatin1String("raw"))
        return RestoreTransferArtifact::Raw;
    if (raw == QLatin1String("sidecar"))
        return RestoreTransferArtifact::Sidecar;
    return std::nullopt;
}

QString RestoreTransferIdentifier::fileStem() const
{
    QString stem
        = QStringLiteral("restore-request-%1-item-%2").arg(restoreRequestID).arg(libraryItemID);
    if (artifact == RestoreTransferArtifact::Sidecar)
        stem += QLatin1Char('-') + toRaw(artifact);
    return stem;
}

size_t qHash(const RestoreTransferIdentifier &id, size_t seed) noexcept
{
    return qHashMulti(seed, id.restoreRequestID, id.libraryItemID, static_cast<int>(id.artifact));
}

qint64 RestoreByteRange::byteCount() const
{
    qint64 difference = 0;
    qint64 count = 0;
    if (__builtin_sub_overflow(endInclusive, start, &difference)
        || __builtin_add_overflow(difference, qint64(1), &count))
        return 0;
    return count;
}

qint64 saturatingByteSum(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (__builtin_add_overflow(std::max<qint64>(a, 0), std::max<qint64>(b, 0), &sum))
        return std::numeric_limits<qint64>::max();
    return sum;
}

RestoreTransferFile RestoreTransfer::rawFile() const
{
    return RestoreTransferFile{id,
                               canonicalFilename,
                               destinationPath,
                               expectedByteCount,
                               expectedContentHash,
                               transferURL,
                               capabilityExpiresAt};
}

} // namespace Pellwick
