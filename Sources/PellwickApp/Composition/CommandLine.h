#pragma once

#include <QProcessEnvironment>
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
/// the program name in the usage), and before anything is read or written: the help or the
/// version text with exit code 0 when either is asked for; the error and the usage on standard
/// error with exit code 2 for an option that is neither the program's nor one of Qt's, or for
/// any other argument; one line saying that no display was found and how to run without one,
/// with exit code 1, when neither `environment` nor the arguments name a display or a platform.
/// None when the window may open.
std::optional<Answer> answerBeforeStart(const QStringList &arguments,
                                        const QProcessEnvironment &environment);

/// Once Qt has taken its own options out of `arguments`: the error and the usage on standard
/// error with exit code 2 for any option or argument left (some of Qt's options are Qt's on one
/// platform only); none when there is none.
std::optional<Answer> refuseUnknownOptions(const QStringList &arguments);

/// The sentence a second copy shows when another copy holds its folders.
QString alreadyRunningText();

/// Another copy holds the folders: `alreadyRunningText` on standard error, exit code 1; when it
/// is the Ingest Cache's folder `ingestCacheFolder` that it holds, followed by " Another copy
/// uses the Ingest Cache folder <folder>." on the same line.
Answer alreadyRunning(const std::optional<QString> &ingestCacheFolder = std::nullopt);

/// The lock of the application's folders could not be taken (`reason`): the application does not
/// start, as it could not tell whether another copy works on them.
Answer folderNotLockable(const QString &folder, const QString &reason);

} // namespace Pellwick::CommandLine
