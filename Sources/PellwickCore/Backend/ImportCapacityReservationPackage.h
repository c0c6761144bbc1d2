#pragma once

#include <PellwickCore/Support/OrderedJson.h>

namespace Pellwick {

/// One package (a RAW original and its optional sidecar) to reserve archive capacity for.
struct ImportCapacityReservationPackage
{
    qint64 rawByteCount = 0;
    qint64 sidecarByteCount = 0; ///< 0 when there is no sidecar

    bool operator==(const ImportCapacityReservationPackage &) const = default;
};

/// {"raw_byte_count": ..., "sidecar_byte_count": ...}; both always written, also a 0.
inline Json::OrderedJson toJson(const ImportCapacityReservationPackage &package)
{
    return Json::OrderedJson::object(
        {{QStringLiteral("raw_byte_count"), package.rawByteCount},
         {QStringLiteral("sidecar_byte_count"), package.sidecarByteCount}});
}

} // namespace Pellwick
