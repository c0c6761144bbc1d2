#include "CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace Pellwick::CommandLine {

namespace {

/// Exit code of a command line the program cannot follow (as for a wrong use of a shell tool).
constexpr int usageExitCode = 2;

/// Exit code of a start that cannot go on.
constexpr int notStartedExitCode = 1;

/// Qt's own options, which the application object takes out of the arguments once it exists:
/// those of every platform and those of X11. Known here so that they can be told from mistakes
/// before there is a display.
QList<QCommandLineOption> qtOptions()
{
    QList<QCommandLineOption> options;
    for (const char *name : {"platform",
                             "platformpluginpath",
                             "platformtheme",
                             "plugin",
                             "qwindowgeometry",
                             "qwindowtitle",
                             "qwindowicon",
                             "qmljsdebugger",
                             "session",
                             "style",
                             "stylesheet",
                             "display",
                             "geometry",
                             "title",
                             "icon",
                             "name"}) {
        options.append(
            QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    }
    for (const char *name : {"reverse", "testability", "widgetcount", "sync", "nograb", "dograb"})
        options.append(QCommandLineOption(QString::fromLatin1(name)));
    for (QCommandLineOption &option : options)
        option.setFlags(QCommandLineOption::HiddenFromHelp);
    return options;
}

struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                            QStringLiteral("Displays help on commandline options.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Displays version information.")};

    explicit Parser(bool withQtOptions)
    {
        parser.setApplicationDescription(
            QStringLiteral("Copies camera RAW originals into a verified Ingest Cache, archives "
                           "them online and restores them."));
        // "-reverse" is one of Qt's options, not -r -e -v…
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOption(help);
        parser.addOption(version);
        if (withQtOptions)
            parser.addOptions(qtOptions());
    }

    /// The error and the usage for an unknown option or any argument; none when all is known.
    std::optional<Answer> refusal(const QStringList &arguments)
    {
        QString error;
        if (!parser.parse(arguments))
            error = parser.errorText();
        else if (!parser.positionalArguments().isEmpty())
            error = QStringLiteral("Unexpected argument '%1'.")
                        .arg(parser.positionalArguments().first());
        else
            return std::nullopt;
        const QString program = QFileInfo(arguments.value(0)).fileName();
        return Answer{
            usageExitCode, {}, program + QStringLiteral(": ") + error + u'\n' + parser.helpText()};
    }
};

bool names(const QProcessEnvironment &environment, const char *variable)
{
    return !environment.value(QString::fromLatin1(variable)).isEmpty();
}

} // namespace

std::optional<Answer> answerBeforeStart(const QStringList &arguments,
                                        const QProcessEnvironment &environment)
{
    Parser parsed(true);
    // Help and version are answered whatever else the command line holds.
    [[maybe_unused]] const bool known = parsed.parser.parse(arguments);
    if (parsed.parser.isSet(parsed.help))
        return Answer{0, parsed.parser.helpText(), {}};
    if (parsed.parser.isSet(parsed.version)) {
        return Answer{0,
                      QCoreApplication::applicationName() + u' '
                          + QCoreApplication::applicationVersion() + u'\n',
                      {}};
    }
    if (std::optional<Answer> refused = parsed.refusal(arguments))
        return refused;
    // Qt would abort, saying only that it could not connect to a display.
    if (!names(environment, "DISPLAY") && !names(environment, "WAYLAND_DISPLAY")
        && !names(environment, "QT_QPA_PLATFORM")
        && !parsed.parser.isSet(QStringLiteral("platform"))) {
        return Answer{notStartedExitCode,
                      {},
                      QFileInfo(arguments.value(0)).fileName()
                          + QStringLiteral(": no display found (DISPLAY and WAYLAND_DISPLAY are "
                                           "unset); to run without a window, start it with "
                                           "QT_QPA_PLATFORM=offscreen\n")};
    }
    return std::nullopt;
}

std::optional<Answer> refuseUnknownOptions(const QStringList &arguments)
{
    Parser parsed(false);
    return parsed.refusal(arguments);
}

QString alreadyRunningText()
{
    return QStringLiteral("Pellwick is already running.");
}

Answer alreadyRunning(const std::optional<QString> &ingestCacheFolder)
{
    // A copy with another data folder and library is told which folder the two share.
    const QString shared = ingestCacheFolder
                               ? QStringLiteral(" Another copy uses the Ingest Cache folder %1.")
                                     .arg(*ingestCacheFolder)
                               : QString();
    return Answer{notStartedExitCode, {}, alreadyRunningText() + shared + u'\n'};
}

Answer folderNotLockable(const QString &folder, const QString &reason)
{
    return Answer{notStartedExitCode,
                  {},
                  QStringLiteral("Pellwick cannot lock its folder %1 (%2), so it does not start: "
                                 "another copy might be using it.\n")
                      .arg(folder, reason)};
}

} // namespace Pellwick::CommandLine
