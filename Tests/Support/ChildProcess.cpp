#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>

#include <thread>

namespace Pellwick::Test {

namespace {

/// How long a child may take to start, to say it is ready, and then to end. The children of the
/// crash tests work for well under a second; a child still running after this hangs.
std::chrono::seconds childTimeLimit()
{
#if defined(__SANITIZE_ADDRESS__)
    return std::chrono::seconds(480); // the sanitizers slow a child down several times
#else
    return std::chrono::seconds(120);
#endif
}

/// Ends the test process with a message saying which child did not get how far in time, after
/// ending the child.
[[noreturn]] void failHangingChild(QProcess &child, const char *stage)
{
    child.kill();
    child.waitForFinished(10'000);
    qFatal("The child process %s did not %s within %lld s.",
           qPrintable(child.program()),
           stage,
           static_cast<long long>(childTimeLimit().count()));
}

} // namespace

ChildRun runChildProcess(const QString &program,
                         const QStringList &arguments,
                         std::optional<std::chrono::microseconds> killAfter,
                         qint64 *runTime)
{
    QProcess child;
    child.setProgram(program);
    child.setArguments(arguments);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QDeadlineTimer deadline(childTimeLimit());
    child.start();
    if (!child.waitForStarted(int(deadline.remainingTime()))) {
        if (deadline.hasExpired())
            failHangingChild(child, "start");
        qFatal("Cannot start %s: %s", qPrintable(program), qPrintable(child.errorString()));
    }
    while (!child.canReadLine() && child.state() == QProcess::Running) {
        if (!child.waitForReadyRead(int(deadline.remainingTime())) && deadline.hasExpired())
            failHangingChild(child, "say it is ready");
    }
    QElapsedTimer sinceReady;
    sinceReady.start();
    if (killAfter) {
        std::this_thread::sleep_for(*killAfter);
        child.kill();
    }
    deadline = QDeadlineTimer(childTimeLimit());
    if (child.state() != QProcess::NotRunning
        && !child.waitForFinished(int(deadline.remainingTime())))
        failHangingChild(child, "end");
    if (runTime)
        *runTime = sinceReady.nsecsElapsed() / 1000;
    return {child.exitStatus() == QProcess::CrashExit, child.exitCode()};
}

} // namespace Pellwick::Test
