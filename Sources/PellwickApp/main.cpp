// The application's entry: one window over one service graph.

#include <PellwickApp/Composition/AppComposition.h>
#include <PellwickApp/Composition/CommandLine.h>
#include <PellwickApp/Stores/PellwickIdentity.h>
#include <PellwickApp/Views/Kit/PellwickAppIcon.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Shell/LibraryShellWindow.h>
#include <PellwickApp/Workflows/Workflow.h>
#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Support/FolderLocks.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace {

/// How long closing waits for Core work still running; a network stall is not waited out.
constexpr int exitWaitMilliseconds = 3000;

int signalPipe[2] = {-1, -1};

void quitOnSignal(int /*signal*/)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

/// SIGTERM, SIGINT and SIGHUP (the terminal that started the application closed) close the
/// window as the user would, so the same orderly end follows.
void quitOnTerminationSignals(QObject &context)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = quitOnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        // A signal ignored by whoever started the application (nohup, a background job) stays
        // ignored.
        struct sigaction previous = {};
        if (::sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(number, &action, nullptr);
    }
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &context);
    QObject::connect(notifier, &QSocketNotifier::activated, &context, [] {
        char byte = 0;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        QApplication::quit();
    });
}

/// Prints `answer`'s texts; its exit code is the process's.
int give(const Pellwick::CommandLine::Answer &answer)
{
    std::fputs(qPrintable(answer.standardOutput), stdout);
    std::fputs(qPrintable(answer.standardError), stderr);
    return answer.exitCode;
}

/// Takes the locks of the folders one copy keeps to itself; none when they are this process's
/// now, else what to say instead of starting.
std::optional<Pellwick::CommandLine::Answer>
lockFolders(Pellwick::FolderLocks &locks, const Pellwick::AppConfiguration &configuration)
{
    const QStringList folders = configuration.exclusiveFolders();
    // Refused before any folder or lock file is made, whichever of them the other copy holds.
    for (const QString &folder : folders) {
        if (Pellwick::FolderLocks::isHeldElsewhere(folder,
                                                   Pellwick::AppConfiguration::lockFileName()))
            return Pellwick::CommandLine::alreadyRunning();
    }
    // The Ingest Cache's folder is held by the window's workflows, once it is known to be there.
    const QString ingestCache = configuration.ingestCacheURL();
    if (Pellwick::FolderLocks::isFolderHeldElsewhere(ingestCache))
        return Pellwick::CommandLine::alreadyRunning(ingestCache);
    for (const QString &folder : folders) {
        const Pellwick::Result<bool> held
            = locks.take(folder, Pellwick::AppConfiguration::lockFileName());
        if (!held) {
            const auto *failure = held.error().as<Pellwick::FileSystemError>();
            return Pellwick::CommandLine::folderNotLockable(
                folder,
                failure ? qt_error_string(failure->code) : Pellwick::describe(held.error()));
        }
        if (!*held)
            return Pellwick::CommandLine::alreadyRunning();
    }
    return std::nullopt;
}

/// Holds folders through `locks` from the workflows' threads: refused with the "lock"
/// EWOULDBLOCK failure when another copy holds one. A folder whose file system cannot lock is
/// used unheld, as it was before holds existed: nothing tells whether another copy uses it.
std::function<Pellwick::Result<void>(const QString &)> holdingThrough(Pellwick::FolderLocks &locks)
{
    return [&locks, mutex = std::make_shared<std::mutex>()](
               const QString &folder) -> Pellwick::Result<void> {
        const std::lock_guard guard(*mutex);
        const Pellwick::Result<bool> held = locks.takeFolder(folder);
        if (held && !*held)
            return Pellwick::fileSystemFailure(QStringLiteral("lock"), folder, EWOULDBLOCK);
        return {};
    };
}

/// Says `refusal`, in a message box too when there is a screen to show it on.
int refuseToStart(int &argc, char **argv, const Pellwick::CommandLine::Answer &refusal)
{
    const int exitCode = give(refusal);
    std::fflush(stderr);
    const auto screenless = [](const QString &platform) {
        return platform.startsWith(u"offscreen") || platform.startsWith(u"minimal");
    };
    // Not even the application object where nothing could be shown.
    if (screenless(qEnvironmentVariable("QT_QPA_PLATFORM")))
        return exitCode;
    const QApplication application(argc, argv);
    if (!screenless(QGuiApplication::platformName())) {
        QMessageBox::critical(
            nullptr, Pellwick::PellwickIdentity::productName(), refusal.standardError.trimmed());
    }
    return exitCode;
}

} // namespace

int main(int argc, char *argv[])
{
    // Before any thread exists.
    Pellwick::CurlFetch::initializeGlobally();

    QCoreApplication::setApplicationName(Pellwick::PellwickIdentity::productName());
    QCoreApplication::setApplicationVersion(QStringLiteral(PELLWICK_VERSION));
    QCoreApplication::setOrganizationName(Pellwick::PellwickIdentity::productName());
    // The command line is answered without a display and before anything is read or written.
    std::optional<Pellwick::CommandLine::Answer> early;
    {
        const QCoreApplication core(argc, argv);
        early = Pellwick::CommandLine::answerBeforeStart(QCoreApplication::arguments(),
                                                         QProcessEnvironment::systemEnvironment());
    }
    if (early)
        return give(*early);

    // One copy per data folder and per library, held before anything is written: the work that
    // must not interleave (imports, cleanups, restores) is exclusive only within one process.
    Pellwick::FolderLocks locks;
    const Pellwick::AppConfiguration configuration;
    if (const auto refused = lockFolders(locks, configuration))
        return refuseToStart(argc, argv, *refused);

    QApplication application(argc, argv);
    // Qt has taken its own options (-platform, -style…) out of the arguments.
    if (const auto refused = Pellwick::CommandLine::refuseUnknownOptions(QApplication::arguments()))
        return give(*refused);
    QGuiApplication::setDesktopFileName(Pellwick::PellwickIdentity::applicationIdentifier());
    Pellwick::PellwickControlStyles::install();
    Pellwick::PellwickAppIcon::applyApplicationIcon();

    quitOnTerminationSignals(application);

    if (const std::optional<QString> notice = configuration.backendURLNotice())
        std::fprintf(stderr, "pellwick: %s\n", qPrintable(*notice));

    int exitCode = 0;
    {
        // The window owns the view model; one window, never a second.
        Pellwick::AppSystemServices services;
        services.holdFolder = holdingThrough(locks);
        std::unique_ptr<Pellwick::LibraryShellWindow> window
            = Pellwick::AppComposition::makeWindow(configuration, services);
        window->show();
        exitCode = QApplication::exec();
    }

    // The window and its view model are gone, so late results are dropped. Work still blocked in
    // Core (a stalled download) is not waited for beyond a short bound: the process ends anyway,
    // and what was on disk stays as it was written (parts and manifests are kept).
    // Thumbnails still queued are of no use now: only decodes already running are waited for.
    Pellwick::WorkflowPools::thumbnails().clear();
    QElapsedTimer waited;
    waited.start();
    bool finished = true;
    for (QThreadPool *pool : {&Pellwick::WorkflowPools::userInitiated(),
                              &Pellwick::WorkflowPools::utility(),
                              &Pellwick::WorkflowPools::keychain(),
                              &Pellwick::WorkflowPools::thumbnails(),
                              &Pellwick::WorkflowPools::restoreTransfers(),
                              &Pellwick::WorkflowPools::ingestCacheMove(),
                              &Pellwick::WorkflowPools::hashesAhead()}) {
        const int remaining = std::max(0, exitWaitMilliseconds - int(waited.elapsed()));
        finished = pool->waitForDone(remaining) && finished;
    }
    if (!finished) {
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
