// pellwick-bench-app-startup LIBRARY_ROOT
//     Builds the application's window over the library in LIBRARY_ROOT (the store's own
//     "library-items.json") exactly as the application does, shows it on the offscreen platform
//     and exits at its first paint. Prints "app-startup first paint: <seconds> s" to standard
//     error: the time from the start of the process to that paint.

#include <PellwickApp/Composition/AppComposition.h>
#include <PellwickApp/Views/Shell/LibraryShellWindow.h>
#include <PellwickCore/Backend/CurlFetch.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

#include <unistd.h>

using namespace Pellwick;

namespace {

/// Seconds since this process started, from its start time in /proc and the boot-time clock.
double secondsSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Field 22 (start time in clock ticks since boot) counts from after the command's ")".
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20)
        return -1;
    const double started = fields[19].toDouble() / double(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9 - started;
}

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
                    stderr, "app-startup first paint: %.3f s\n", secondsSinceProcessStart());
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
    qputenv("PELLWICK_INGEST_CACHE_ROOT", roots.filePath(QStringLiteral("ingest")).toLocal8Bit());
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
    return QApplication::exec();
}
