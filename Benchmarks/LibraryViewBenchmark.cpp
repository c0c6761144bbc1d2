// pellwick-bench-library-view [--measure] LIBRARY INGEST_CACHE
//     Builds the view model over the library in the folder LIBRARY and the Ingest Cache folder
//     INGEST_CACHE as the application does (the visible items at start-up, the folder tree built
//     off the main thread), shows the whole Library page (toolbar, finder list and inspector)
//     offscreen at 1280 x 800 and exits at the first
//     paint that shows the tree's rows. With --measure it prints "library-view first paint:
//     <s> s" (from the start of the process), then expands the whole outline, scrolls it from
//     top to bottom a page at a time and prints "library-view scroll: <ms> ms", the slowest
//     step (scroll and repaint). Prints "peak RSS: <N> MiB" to standard error when
//     PELLWICK_BENCH_REPORT_RSS is set.

#include "PeakRss.h"
#include "ProcessStart.h"

#include <PellwickApp/Composition/AppComposition.h>
#include <PellwickApp/Composition/AppConfiguration.h>
#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Views/Kit/FolderChooser.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Library/LocalLibraryFinderList.h>
#include <PellwickApp/Views/Pages/LocalLibraryCacheView.h>
#include <PellwickCore/Backend/CurlFetch.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace Pellwick;

namespace {

/// Calls `painted` once, after the first paint of a watched viewport once `armed` is set.
class FirstRowsPaint : public QObject
{
public:
    explicit FirstRowsPaint(std::function<void()> painted)
        : m_painted(std::move(painted))
    {}

    bool armed = false;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (armed && !m_seen && event->type() == QEvent::Paint) {
            m_seen = true;
            QTimer::singleShot(0, qApp, m_painted);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_painted;
    bool m_seen = false;
};

/// The slowest page step, in milliseconds, of scrolling `view` from top to bottom.
double slowestPageStep(QAbstractItemView &view)
{
    QScrollBar *bar = view.verticalScrollBar();
    bar->setValue(0);
    view.viewport()->repaint();
    double slowest = 0;
    while (bar->value() < bar->maximum()) {
        QElapsedTimer timer;
        timer.start();
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        view.viewport()->repaint();
        slowest = std::max(slowest, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return slowest;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool measure = argc == 4 && qstrcmp(argv[1], "--measure") == 0;
    if (argc != 3 && !measure) {
        std::fputs("usage: pellwick-bench-library-view [--measure] LIBRARY INGEST_CACHE\n", stderr);
        return 2;
    }
    CurlFetch::initializeGlobally();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir roots;
    qputenv("PELL_WICK_LOCAL_LIBRARY_CACHE_ROOT", argv[argc - 2]);
    qputenv("PELLWICK_INGEST_CACHE_ROOT", argv[argc - 1]);
    qputenv("PELL_WICK_STAGING_AREA_ROOT", roots.filePath(QStringLiteral("staging")).toLocal8Bit());
    qputenv("PELL_WICK_RESTORE_TRANSFER_STATE_ROOT",
            roots.filePath(QStringLiteral("transfers")).toLocal8Bit());
    qputenv("PELL_WICK_USE_NON_PERSISTENT_SESSION_TOKEN_STORE", "1");
    qputenv("PELL_WICK_USE_NON_PERSISTENT_INGEST_CACHE_LOCATION_STORE", "1");
    qputenv("PELL_WICK_USE_NON_PERSISTENT_RESTORE_DESTINATION_STORE", "1");
    // A backend that refuses at once: nothing here waits on the network.
    qputenv("PELL_WICK_BACKEND_URL", "http://127.0.0.1:9/");

    QApplication application(argc, argv);
    PellwickControlStyles::install();
    const std::unique_ptr<LibraryShellViewModel> viewModel
        = AppComposition::makeViewModel(AppConfiguration());
    DialogFolderChooser chooser;
    LocalLibraryCacheView page({viewModel->libraryState(),
                                viewModel->importState(),
                                viewModel->ingestCacheState(),
                                *viewModel,
                                *viewModel,
                                *viewModel,
                                *viewModel,
                                chooser},
                               viewModel->singleShotTimers());
    page.resize(1280, 800);
    LocalLibraryFinderList &list = *page.finderList();

    FirstRowsPaint firstPaint([&] {
        auto *view = qobject_cast<QAbstractItemView *>(list.currentPage());
        if (!measure || !view) {
            QApplication::exit(view ? 0 : 1);
            return;
        }
        std::printf("library-view first paint: %.3f s\n", Bench::secondsSinceProcessStart());
        if (auto *outline = qobject_cast<QTreeView *>(view))
            outline->expandAll();
        std::printf("library-view scroll: %.1f ms\n", slowestPageStep(*view));
        std::fflush(stdout);
        QApplication::exit(0);
    });
    list.outline()->viewport()->installEventFilter(&firstPaint);
    list.flatList()->viewport()->installEventFilter(&firstPaint);
    QObject::connect(&list, &LocalLibraryFinderList::usableStateAppeared, &list, [&] {
        firstPaint.armed = true;
    });
    page.show();
    const int status = QApplication::exec();
    Bench::reportPeakRss();
    // Like any command-line tool, leave without taking the library apart.
    std::fflush(stdout);
    std::_Exit(status);
}
