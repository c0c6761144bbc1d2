#pragma once

// Readers shared by the stored forms of the import record and its upload states.

#include <PellwickCore/Import/VerifiedBackupUpload.h>
#include <PellwickCore/Support/Json.h>

#include <QList>
#include <QString>

namespace Pellwick::ImportRecordJson {

/// True when `text` is an absolute http or https URL with a host.
bool isPresignedURL(const QString &text);

/// The URL text under `key`, which must be a presigned URL (data corrupted otherwise); kept as
/// written.
[[nodiscard]] Result<QString> presignedURL(const Json::ObjectReader &reader, const QString &key);

/// A count of bytes or a part number: a whole number of at least `minimum`.
[[nodiscard]] Result<qint64>
count(const Json::ObjectReader &reader, const QString &key, qint64 minimum = 0);

/// The uploaded parts stored in `array`, each {"part_number", "etag"} with a part number of at
/// least 1.
[[nodiscard]] Result<QList<UploadedMultipartPart>> uploadedParts(const QJsonArray &array,
                                                                 const QString &path);

} // namespace Pellwick::ImportRecordJson
