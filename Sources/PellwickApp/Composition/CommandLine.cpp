#include "CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace Pellwick::CommandLine {

namespace {

/// Exit code of a command line the program cannot follow (as for a wrong use of a shell tool).
constexpr int usageExitCode = 2;

struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                            QStringLiteral("Displays help on commandline options.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Displays version information.")};

    Parser()
    {
        parser.setApplicationDescription(
            QStringLiteral("Copies camera RAW originals into a verified Ingest Cache, archives "
                           "them online and restores them."));
        // "-reverse" is one of Qt's options, not -r -e -v…
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOption(help);
        parser.addOption(version);
    }
};

} // namespace

std::optional<Answer> answerBeforeStart(const QStringList &arguments)
{
    Parser parsed;
    // Unknown options are Qt's business at this point.
    [[maybe_unused]] const bool known = parsed.parser.parse(arguments);
    if (parsed.parser.isSet(parsed.help))
        return Answer{0, parsed.parser.helpText(), {}};
    if (parsed.parser.isSet(parsed.version)) {
        return Answer{0,
                      QCoreApplication::applicationName() + u' '
                          + QCoreApplication::applicationVersion() + u'\n',
                      {}};
    }
    return std::nullopt;
}

std::optional<Answer> refuseUnknownOptions(const QStringList &arguments)
{
    Parser parsed;
    if (parsed.parser.parse(arguments))
        return std::nullopt;
    const QString program = QFileInfo(arguments.value(0)).fileName();
    return Answer{usageExitCode,
                  {},
                  program + QStringLiteral(": ") + parsed.parser.errorText() + u'\n'
                      + parsed.parser.helpText()};
}

} // namespace Pellwick::CommandLine
