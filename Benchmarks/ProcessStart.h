#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>

#include <ctime>

#include <unistd.h>

namespace Pellwick::Bench {

/// Seconds since this process started, from its start time in /proc and the boot-time clock.
inline double secondsSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Field 22 (start time in clock ticks since boot) counts from after the command's ")".
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20)
        return -1;
    const double started = fields[19].toDouble() / double(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9 - started;
}

} // namespace Pellwick::Bench
