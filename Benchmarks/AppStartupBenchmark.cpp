// pellwick-bench-app-startup LIBRARY_ROOT
//     Builds the application's window over the library in LIBRARY_ROOT (the store's own
//     "library-items.json") exactly as the application does, shows it on the offscreen platform
//     and exits at its first paint. Prints "app-startup first paint: <seconds> s" to standard
//     error: the time from the start of the process to that paint.

#include "ProcessStart.h"

#include <PellwickApp/Composition/AppComposition.h>
#include <PellwickApp/Views/Shell/LibraryShellWindow.h>
#include <PellwickCore/Backend/CurlFetch.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

using namespace Pellwick;

namespace {

/// Ends the application at the window's first paint.
class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(0, qApp, [] {
                std::fprintf(
                    stderr, "app-startup first paint: %.3f s\n", Bench::secondsSinceProcessStart());
                QApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: pellwick-bench-app-startup LIBRARY_ROOT\n");
        return 2;
    }
    CurlFetch::initializeGlobally();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir roots;
    qputenv("PELL_WICK_LOCAL_LIBRARY_CACHE_ROOT", argv[1]);
    qunsetenv("PELLWICK_INGEST_CACHE_ROOT");
    qputenv("PELL_WICK_INGEST_CACHE_ROOT", roots.filePath(QStringLiteral("ingest")).toLocal8Bit());
    qputenv("PELL_WICK_STAGING_AREA_ROOT", roots.filePath(QStringLiteral("staging")).toLocal8Bit());
    qputenv("PELL_WICK_RESTORE_TRANSFER_STATE_ROOT",
            roots.filePath(QStringLiteral("transfers")).toLocal8Bit());
    qputenv("PELL_WICK_USE_NON_PERSISTENT_SESSION_TOKEN_STORE", "1");
    qputenv("PELL_WICK_USE_NON_PERSISTENT_INGEST_CACHE_LOCATION_STORE", "1");
    qputenv("PELL_WICK_USE_NON_PERSISTENT_RESTORE_DESTINATION_STORE", "1");
    // A backend that refuses at once: start-up must not wait on the network.
    qputenv("PELL_WICK_BACKEND_URL", "http://127.0.0.1:9/");

    QApplication application(argc, argv);
    const std::unique_ptr<LibraryShellWindow> window
        = AppComposition::makeWindow(AppConfiguration());
    FirstPaint firstPaint;
    window->installEventFilter(&firstPaint);
    window->show();
    const int status = QApplication::exec();
    // Work the start-up began (an Ingest Cache cleanup pass, a library check) may still run on
    // the worker pools: leave as a command-line tool does, without tearing down what they use.
    std::fflush(stdout);
    // Leaving skips the destructors: the temporary folders are removed here.
    (void) roots.remove();
    std::_Exit(status);
}
