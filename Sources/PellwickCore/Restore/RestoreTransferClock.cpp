#include "RestoreTransferClock.h"

namespace Pellwick {

Date SystemRestoreTransferClock::now() const
{
    return Date::now();
}

} // namespace Pellwick
