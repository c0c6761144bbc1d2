// pellwick-dev-backend: a local stand-in for the archive service, for running the application on
// one's own machine. Prints its base URL as its first line and runs until it is ended or its
// standard input closes.

#include "DevelopmentBackend.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <cstdio>

#include <unistd.h>

using Pellwick::Test::DevelopmentBackend;

namespace {

void printLine(std::FILE *stream, const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pellwick-dev-backend"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A local stand-in for the archive service (not a real one): everything it "
                       "stores stays in its state folder on this machine."));
    parser.addHelpOption();
    const QCommandLineOption stateOption(
        QStringLiteral("state"),
        QStringLiteral(
            "The folder that keeps accounts, libraries and stored objects (default: %1).")
            .arg(DevelopmentBackend::defaultStateDirectory()),
        QStringLiteral("folder"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("The port on 127.0.0.1 (default: a free "
                                                       "one)."),
                                        QStringLiteral("port"),
                                        QStringLiteral("0"));
    const QCommandLineOption delayOption(QStringLiteral("restore-ready-after-ms"),
                                         QStringLiteral("How long restore requests prepare."),
                                         QStringLiteral("milliseconds"),
                                         QStringLiteral("3000"));
    const QCommandLineOption requestLogOption(
        QStringLiteral("request-log"),
        QStringLiteral("Appends a line for each request to this file: method, path and a "
                       "fingerprint of its bearer token (never the token)."),
        QStringLiteral("file"));
    const QCommandLineOption iterationsOption(
        QStringLiteral("password-hash-iterations"),
        QStringLiteral("The PBKDF2 iterations of new password hashes (fewer for tests)."),
        QStringLiteral("count"),
        QString::number(DevelopmentBackend::Options().passwordHashIterations));
    parser.addOption(stateOption);
    parser.addOption(iterationsOption);
    parser.addOption(requestLogOption);
    parser.addOption(portOption);
    parser.addOption(delayOption);
    parser.process(application);

    DevelopmentBackend::Options options;
    options.stateDirectory = parser.isSet(stateOption)
                                 ? parser.value(stateOption)
                                 : DevelopmentBackend::defaultStateDirectory();
    bool portValid = false;
    const uint port = parser.value(portOption).toUInt(&portValid);
    bool delayValid = false;
    const qint64 delay = parser.value(delayOption).toLongLong(&delayValid);
    bool iterationsValid = false;
    const int iterations = parser.value(iterationsOption).toInt(&iterationsValid);
    if (!portValid || port > 65535 || !delayValid || delay < 0 || !iterationsValid
        || iterations < 1) {
        printLine(stderr,
                  QStringLiteral("pellwick-dev-backend: invalid --port, delay or iterations"));
        return 2;
    }
    options.passwordHashIterations = iterations;
    options.port = static_cast<quint16>(port);
    options.requestLog = parser.value(requestLogOption);
    options.restoreReadyDelay = std::chrono::milliseconds(delay);

    QString error;
    const std::unique_ptr<DevelopmentBackend> backend = DevelopmentBackend::open(options, &error);
    if (!backend) {
        printLine(stderr, QStringLiteral("pellwick-dev-backend: ") + error);
        return 1;
    }
    QObject::connect(backend.get(), &DevelopmentBackend::notice, [](const QString &line) {
        printLine(stdout, line);
    });

    printLine(stdout, backend->baseURL().toString());
    printLine(stdout,
              QStringLiteral("A local stand-in backend, not a real archive service; its state is "
                             "kept in %1")
                  .arg(QDir(options.stateDirectory).absolutePath()));

    // Ends when standard input closes, so it never outlives whoever started it with a pipe.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        char buffer[256];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    return QCoreApplication::exec();
}
