#include "ChildProcess.h"

#include <QElapsedTimer>
#include <QProcess>

#include <thread>

namespace Pellwick::Test {

ChildRun runChildProcess(const QString &program,
                         const QStringList &arguments,
                         std::optional<std::chrono::microseconds> killAfter,
                         qint64 *runTime)
{
    QProcess child;
    child.setProgram(program);
    child.setArguments(arguments);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start();
    if (!child.waitForStarted())
        qFatal("cannot start %s", qPrintable(program));
    while (!child.canReadLine() && child.waitForReadyRead(-1)) {
    }
    QElapsedTimer sinceReady;
    sinceReady.start();
    if (killAfter) {
        std::this_thread::sleep_for(*killAfter);
        child.kill();
    }
    child.waitForFinished(-1);
    if (runTime)
        *runTime = sinceReady.nsecsElapsed() / 1000;
    return {child.exitStatus() == QProcess::CrashExit, child.exitCode()};
}

} // namespace Pellwick::Test
