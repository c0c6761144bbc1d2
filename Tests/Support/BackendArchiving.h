#pragma once

#include <PellwickCore/Backend/LibrarySessionClient.h>

#include <QByteArray>
#include <QString>

#include <optional>

namespace Pellwick::Test {

/// Takes one RAW original of `raw` bytes (one part, no sidecar) through a backend's verified
/// backup endpoints up to the step `until`: "requested", "completed" or "finalized", uploading
/// its part and preview through the presigned PUTs handed out. `announcedHash` defaults to the
/// bytes' own hash. Without `withPreview` it announces and uploads no preview. Gives the
/// backend's library item id, or 0 when a step failed.
qint64 archiveThroughBackend(const LibrarySessionClient &client,
                             const QString &session,
                             const QByteArray &raw,
                             const QString &until,
                             const std::optional<QString> &announcedHash = std::nullopt,
                             bool withPreview = true);

} // namespace Pellwick::Test
