#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#ifndef PELLWICK_RUN_UNDER_XVFB
#error "a test that starts an X server is made with pellwick_add_test(... X_SERVER)"
#endif

namespace Pellwick::Test {

/// Starts `command` in `process` under an X server of its own with one 1400×900 screen
/// (Tests/Support/run-under-xvfb). The server chooses a free display itself, so servers started
/// at the same moment by other processes never share one. False, and nothing started, when Xvfb
/// is not installed.
inline bool startUnderPrivateXServer(QProcess &process, const QStringList &command)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return false;
    process.start(QStringLiteral(PELLWICK_RUN_UNDER_XVFB),
                  QStringList{QStringLiteral("-screen"),
                              QStringLiteral("0"),
                              QStringLiteral("1400x900x24"),
                              QStringLiteral("--")}
                      + command);
    return true;
}

} // namespace Pellwick::Test
