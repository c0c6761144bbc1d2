#pragma once

#include <PellwickCore/Support/Result.h>

#include <QJsonObject>
#include <QString>

namespace Pellwick {

/// One presigned part upload as an import record keeps it. `url` is the exact text the backend
/// sent: re-encoding it would break its signature.
struct StagedUploadPart
{
    qint64 partNumber = 0;
    QString url;

    bool operator==(const StagedUploadPart &) const = default;
};

/// {"partNumber": <number>, "url": <text>}.
QJsonObject toJson(const StagedUploadPart &part);
/// Both keys are required; the part number must be at least 1 and the URL an absolute http or
/// https URL, kept as written. `path` names the value in failures.
[[nodiscard]] Result<StagedUploadPart> stagedUploadPartFromJson(const QJsonValue &value,
                                                                const QString &path = {});

} // namespace Pellwick
