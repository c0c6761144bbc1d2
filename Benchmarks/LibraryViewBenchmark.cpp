// pellwick-bench-library-view [--measure] LIBRARY INGEST_CACHE
//     Builds the view model over the library in the folder LIBRARY and the Ingest Cache folder
//     INGEST_CACHE as the application does (the visible items at start-up, the folder tree built
//     off the main thread), shows the whole Library page (toolbar, finder list and inspector)
//     offscreen at 1280 x 800 and exits at the first paint that shows the tree's rows. With
//     --measure it prints "library-view first paint: <s> s" (from the start of the process),
//     types "IMG_00" into the search field one key at a time, clears it again, expands the
//     whole outline, scrolls it from top to bottom a page at a time and prints
//     "library-view scroll: <ms> ms", the slowest step (scroll and repaint), then
//     "library-view keystroke: <ms> ms", the slowest time from a key to the paint that shows
//     its result (the tree of the items the key left visible). It then waits for the Ingest
//     Cache refresh that showing the page started and for the tree built after it, so that the
//     peak RSS covers the page's whole showing. Prints "peak RSS: <N> MiB" to standard error
//     when PELLWICK_BENCH_REPORT_RSS is set.

#include "PeakRss.h"
#include "ProcessStart.h"

#include <PellwickApp/Composition/AppComposition.h>
#include <PellwickApp/Composition/AppConfiguration.h>
#include <PellwickApp/Shell/LibraryShellViewModel.h>
#include <PellwickApp/Shell/State/LocalLibraryTree.h>
#include <PellwickApp/Views/Kit/FolderChooser.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Library/LocalLibraryCacheView.h>
#include <PellwickApp/Views/Library/LocalLibraryFinderList.h>
#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>
#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Support/FileManager.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

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

/// Which visible-items list each tree was built from, and whether with the folders' other files,
/// so that the tree answering a key can be told from an older one still arriving.
class TreeOrigins
{
public:
    using Origin = std::pair<const LocalLibraryItem *, bool>;

    void note(const LocalLibraryTreeNode *tree, Origin origin)
    {
        const std::lock_guard lock(m_mutex);
        m_originOfTree.insert(tree, origin);
    }

    Origin originOf(const LocalLibraryTreeNode *tree) const
    {
        const std::lock_guard lock(m_mutex);
        return m_originOfTree.value(tree);
    }

private:
    mutable std::mutex m_mutex;
    QHash<const LocalLibraryTreeNode *, Origin> m_originOfTree;
};

/// Sends `key` (a character, or Backspace when null) to `field`, then waits until the view
/// model holds the tree of the items the key left visible (the list then shows it) and paints
/// the list. Returns the milliseconds from the key to that paint; negative after a minute.
double keyToPaint(QLineEdit &field,
                  QChar key,
                  LibraryShellViewModel &viewModel,
                  LocalLibraryFinderList &list,
                  const TreeOrigins &origins,
                  QList<QList<LocalLibraryItem>> &published)
{
    QElapsedTimer timer;
    timer.start();
    const int code = key.isNull() ? Qt::Key_Backspace : 0;
    const QString text = key.isNull() ? QString() : QString(key);
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QApplication::sendEvent(&field, &press);
    QApplication::sendEvent(&field, &release);
    // The lists published since the last tree shown stay alive, so that no later list can take
    // their address. Older ones cannot come back: a tree built from them would be older than
    // the one shown, and the view model keeps only newer trees.
    published.append(viewModel.libraryState().localLibraryItems());
    // A search text leaves the folders' other files out of the tree; none shows them.
    TreeOrigins::Origin origin{published.last().constData(), field.text().isEmpty()};
    for (;;) {
        // The Ingest Cache refresh that showing the page started can publish the items again
        // while the key's tree is built: the tree then shown is the one of the newer items.
        if (viewModel.libraryState().localLibraryItems().constData() != origin.first) {
            published.append(viewModel.libraryState().localLibraryItems());
            origin.first = published.last().constData();
        }
        // Looked at and let go before events run: a tree replaced meanwhile must not be taken
        // apart here, on the main thread.
        if (const std::optional<QList<LocalLibraryTreeNode>> tree
            = viewModel.libraryWorkflows().localLibraryTree({});
            tree && origins.originOf(tree->constData()) == origin)
            break;
        if (timer.elapsed() > 60'000)
            return -1;
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (auto *view = qobject_cast<QAbstractItemView *>(list.currentPage()))
        view->viewport()->repaint();
    const double milliseconds = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    published.erase(published.begin(), published.end() - 1);
    return milliseconds;
}

/// Waits until the Ingest Cache refresh has ended, then two seconds more, in which the tree
/// built after it (in about a tenth of that) is kept; false when it has not ended after a minute.
bool waitForRefresh(const LibraryShellViewModel &viewModel)
{
    QElapsedTimer timer;
    timer.start();
    while (viewModel.ingestCacheWorkflows().isIngestCacheRefreshRunning()) {
        if (timer.elapsed() > 60'000)
            return false;
        QEventLoop step;
        QTimer::singleShot(20, &step, &QEventLoop::quit);
        step.exec();
    }
    QEventLoop settle;
    QTimer::singleShot(2'000, &settle, &QEventLoop::quit);
    settle.exec();
    return true;
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
    qunsetenv("PELLWICK_INGEST_CACHE_ROOT");
    qputenv("PELL_WICK_INGEST_CACHE_ROOT", argv[argc - 1]);
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
    // The application's tree builder, noting which items each tree was built from.
    const auto files = std::make_shared<LocalFileManager>();
    const auto origins = std::make_shared<TreeOrigins>();
    viewModel->libraryWorkflows().setLocalLibraryTreeBuilder(
        [files, origins](const QList<LocalLibraryItem> &items,
                         const QString &cacheRoot,
                         bool includePhysicalEntries,
                         const QHash<QString, qint64> &counts) {
            QList<LocalLibraryTreeNode> tree
                = LocalLibraryTree::build(items, cacheRoot, includePhysicalEntries, counts, *files);
            origins->note(tree.constData(), {items.constData(), includePhysicalEntries});
            return tree;
        });
    DialogFolderChooser chooser;
    LocalLibraryCacheView page({viewModel->libraryState(),
                                viewModel->importState(),
                                viewModel->ingestCacheState(),
                                viewModel->libraryWorkflows(),
                                viewModel->importWorkflows(),
                                viewModel->ingestCacheWorkflows(),
                                viewModel->restoreWorkflows(),
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
        auto *search = page.findChild<QLineEdit *>(QStringLiteral("local-library-cache.search"));
        if (!search) {
            QApplication::exit(1);
            return;
        }
        QList<QList<LocalLibraryItem>> published;
        double slowestKey = 0;
        for (const QChar key : QStringLiteral("IMG_00")) {
            const double ms = keyToPaint(*search, key, *viewModel, list, *origins, published);
            slowestKey = ms < 0 || slowestKey < 0 ? -1 : std::max(slowestKey, ms);
        }
        // The whole library again, for scrolling.
        search->selectAll();
        keyToPaint(*search, QChar(), *viewModel, list, *origins, published);
        view = qobject_cast<QAbstractItemView *>(list.currentPage());
        if (auto *outline = qobject_cast<QTreeView *>(view))
            outline->expandAll();
        std::printf("library-view scroll: %.1f ms\n", slowestPageStep(*view));
        std::printf("library-view keystroke: %.1f ms\n", slowestKey);
        std::fflush(stdout);
        QApplication::exit(waitForRefresh(*viewModel) ? 0 : 1);
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
    // Leaving skips the destructors: the temporary folders are removed here.
    (void) roots.remove();
    std::_Exit(status);
}
