#include "KillPoints.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QtGlobal>

namespace Pellwick::Test {

bool killAtEveryPoint()
{
    return qEnvironmentVariableIntValue("PELLWICK_KILL_EVERY_OPERATION") == 1;
}

QList<int> killPoints(int count, int samples)
{
    QList<int> points;
    if (count < 1)
        return points;
    if (killAtEveryPoint() || samples >= count) {
        for (int point = 1; point <= count; ++point)
            points.append(point);
        return points;
    }
    if (samples < 2)
        return {1};
    for (int i = 0; i < samples; ++i) {
        const int point = 1 + static_cast<int>(qint64(count - 1) * i / (samples - 1));
        if (points.isEmpty() || points.last() != point)
            points.append(point);
    }
    return points;
}

int randomKillCount(int runs)
{
    return killAtEveryPoint() ? 5 * runs : runs;
}

QString killTestDirectoryTemplate(const QString &name)
{
    // Sizeable for the files of every crash test running at once, and a container's small default
    // shared memory is left alone.
    constexpr qint64 wantedRoom = qint64{256} * 1024 * 1024;
    const QString shared = QStringLiteral("/dev/shm");
    const QFileInfo info(shared);
    const bool usable
        = info.isDir() && info.isWritable() && QStorageInfo(shared).bytesAvailable() >= wantedRoom;
    return (usable ? shared : QDir::tempPath()) + QLatin1Char('/') + name
           + QStringLiteral("-XXXXXX");
}

} // namespace Pellwick::Test
