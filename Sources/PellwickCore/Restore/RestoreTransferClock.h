#pragma once

#include <PellwickCore/Support/Date.h>

namespace Pellwick {

/// The current date, against which capability expiry is compared. Thread-safe.
class RestoreTransferClock
{
public:
    RestoreTransferClock() = default;
    RestoreTransferClock(const RestoreTransferClock &) = delete;
    RestoreTransferClock &operator=(const RestoreTransferClock &) = delete;
    virtual ~RestoreTransferClock() = default;

    virtual Date now() const = 0;
};

/// The system's clock.
class SystemRestoreTransferClock final : public RestoreTransferClock
{
public:
    Date now() const override;
};

} // namespace Pellwick
