#pragma once

#include <QString>
#include <QStringList>

#include <optional>

/// The command line of the application: `--help` and `--version` besides Qt's own options.
namespace Pellwick::CommandLine {

/// What the process prints and returns instead of opening its window.
struct Answer
{
    int exitCode = 0;
    QString standardOutput;
    QString standardError;

    bool operator==(const Answer &) const = default;
};

/// Before the application object that needs a display exists (a `QCoreApplication` must, for
/// the program name in the usage): the help or the version text with exit code 0 when either
/// is asked for; none otherwise. Options it does not know are left for `refuseUnknownOptions`,
/// as Qt's own (`-platform`, `-style`…) are among them.
std::optional<Answer> answerBeforeStart(const QStringList &arguments);

/// Once Qt has taken its own options out of `arguments`: the error and the usage on standard
/// error with exit code 2 for any option left; none when there is none. Other arguments are
/// ignored, as they always were.
std::optional<Answer> refuseUnknownOptions(const QStringList &arguments);

} // namespace Pellwick::CommandLine
