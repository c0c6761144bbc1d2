#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace Pellwick::Test {

/// How a child process of a crash test ended.
struct ChildRun
{
    bool killed = false;
    int exitCode = 0;
};

/// Runs `program` and waits until it prints its first line (by convention "ready", just before
/// the work that is to be interrupted). With `killAfter` it then ends the child with SIGKILL that
/// long after, unless it finished first; otherwise it waits for the end. `runTime` receives the
/// microseconds from "ready" to the end of the child. Every wait is bounded: a child that does not
/// start, say it is ready or end within two minutes (longer under the sanitizers) is killed and
/// the test process ends with a message naming it.
ChildRun runChildProcess(const QString &program,
                         const QStringList &arguments,
                         std::optional<std::chrono::microseconds> killAfter = std::nullopt,
                         qint64 *runTime = nullptr);

} // namespace Pellwick::Test
