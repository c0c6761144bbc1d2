#include "Date.h"

#include <chrono>
#include <cmath>

namespace Pellwick {

Date Date::now()
{
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    const double seconds = std::chrono::duration<double>(sinceEpoch).count();
    return fromUnixSeconds(seconds);
}

Date Date::fromDateTime(const QDateTime &dateTime)
{
    return fromUnixSeconds(static_cast<double>(dateTime.toMSecsSinceEpoch()) / 1000.0);
}

QDateTime Date::toDateTime() const
{
    const auto msecs = static_cast<qint64>(std::llround(unixSeconds() * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

} // namespace Pellwick
