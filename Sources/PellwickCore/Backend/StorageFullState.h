#pragma once

#include <QString>

namespace Pellwick {

/// The archive storage figures the backend sends with a storage-full refusal, taken as they stand:
/// the client neither checks nor recomputes them.
struct StorageFullState
{
    qint64 usedBytes = 0;
    qint64 limitBytes = 0;
    qint64 remainingBytes = 0;
    QString message;

    bool operator==(const StorageFullState &) const = default;
};

} // namespace Pellwick
