#include "../Shell/ManualTimers.h"
#include "FinderTreeSamples.h"
#include "KeyboardNavigation.h"
#include "LibraryPageSeams.h"
#include "SaveGrab.h"

#include <PellwickApp/Shell/CacheNavigationPerformanceProbe.h>
#include <PellwickApp/Shell/IngestCacheDirectoryObserver.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/EmptyStateView.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Library/LocalLibraryCacheView.h>
#include <PellwickApp/Views/Library/LocalLibraryFinderList.h>
#include <PellwickApp/Views/Library/LocalLibraryInspectorView.h>

#include <QDir>
#include <QFile>
#include <QFocusFrame>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <Support/RecordingOperations.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

/// The page over fresh state objects, recorders and a hand-driven clock; the Ingest Cache root
/// is the folder "first" of a temporary folder that also holds "second".
struct PageFixture : LibraryPageSeams
{
    QTemporaryDir folder;
    ManualTimers timers;
    std::unique_ptr<LocalLibraryCacheView> page;

    PageFixture()
    {
        QDir(folder.path()).mkpath(u"first"_s);
        QDir(folder.path()).mkpath(u"second"_s);
        ingestCache.setIngestCacheRoot(root(u"first"_s));
        libraryOperations.tree = QList<LocalLibraryTreeNode>();
        page = std::make_unique<LocalLibraryCacheView>(toolbarSeams(), timers.factory());
    }

    QString root(const QString &name) const { return folder.filePath(name); }
};

struct LifecycleCase
{
    QStringList steps;
    int refreshes = 1;
    int safetyRequests = 1;
    /// The folder watched at the end; empty for none.
    QString watchedRoot = u"first"_s;
    bool looping = true;
    /// Why the library cannot be read: the strip shows it and the list no empty state.
    QString readError = {};
    /// The failure text of an import: the page shows it too.
    std::optional<QString> importError = {};
};

} // namespace

Q_DECLARE_METATYPE(LifecycleCase)

class LocalLibraryCachePageTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void lifecycle_data()
    {
        QTest::addColumn<LifecycleCase>("row");
        QTest::newRow("shown") << LifecycleCase{.steps = {u"show"_s}};
        QTest::newRow("shown twice, resized")
            << LifecycleCase{.steps = {u"show"_s, u"show"_s, u"resize"_s}};
        QTest::newRow("open for 130 s")
            << LifecycleCase{.steps = {u"show"_s, u"130 s"_s}, .safetyRequests = 3};
        QTest::newRow("cache moved while shown") << LifecycleCase{
            .steps = {u"show"_s, u"move"_s}, .refreshes = 2, .watchedRoot = u"second"_s};
        QTest::newRow("hidden") << LifecycleCase{
            .steps = {u"show"_s, u"hide"_s, u"130 s"_s}, .watchedRoot = {}, .looping = false};
        QTest::newRow("damaged library")
            << LifecycleCase{.steps = {u"show"_s}, .readError = u"Cannot read the library."_s};
        QTest::newRow("import failed") << LifecycleCase{
            .steps = {u"show"_s},
            .importError = u"Import could not complete: no space left in /srv. Keep source media "
                           u"and retry."_s};
        QTest::newRow("shown again")
            << LifecycleCase{.steps = {u"show"_s, u"hide"_s, u"130 s"_s, u"show"_s},
                             .refreshes = 2,
                             .safetyRequests = 2};
    }

    void lifecycle()
    {
        QFETCH(LifecycleCase, row);
        PageFixture fixture;
        LocalLibraryCacheView &page = *fixture.page;
        fixture.library.setLibraryReadErrorMessage(row.readError);
        fixture.imports.setImportErrorMessage(row.importError);
        for (const QString &step : std::as_const(row.steps)) {
            if (step == u"show"_s)
                page.show();
            else if (step == u"hide"_s)
                page.hide();
            else if (step == u"resize"_s)
                page.resize(page.width() + 200, page.height() + 100);
            else if (step == u"move"_s)
                fixture.ingestCache.setIngestCacheRoot(fixture.root(u"second"_s));
            else
                fixture.timers.advance(130s);
        }

        const QStringList requests = fixture.actions();
        QCOMPARE(requests.count(u"scheduleUserManagedIngestCacheRefresh"_s), row.refreshes);
        QCOMPARE(requests.count(u"scheduleSourceMediaSafetyRefresh"_s), row.safetyRequests);
        QCOMPARE(requests.size(), row.refreshes + row.safetyRequests);
        const IngestCacheDirectoryObserver *observer = page.cacheObserver();
        QCOMPARE(observer ? observer->root() : QString(),
                 row.watchedRoot.isEmpty() ? QString() : fixture.root(row.watchedRoot));
        QCOMPARE(page.isSafetyLoopRunning(), row.looping);
        QCOMPARE(page.inspector()->height(), LocalLibraryCacheView::inspectorHeight);
        QCOMPARE(page.readErrorStrip()->text(), row.readError);
        QCOMPARE(page.readErrorStrip()->isHidden(), row.readError.isEmpty());
        QCOMPARE(page.importErrorStrip()->text(), row.importError.value_or(QString()));
        QCOMPARE(page.importErrorStrip()->isHidden(), !row.importError);
        const LocalLibraryFinderList *list = page.finderList();
        QCOMPARE(list->currentPage() == list->emptyState(), row.readError.isEmpty());
    }

    /// Tab reaches the folder tree and the inspector, and each shows the focus ring while it
    /// has the focus.
    void tabbedSurfacesShowTheFocusRing()
    {
        PellwickControlStyles::install();
        PageFixture fixture;
        fixture.libraryOperations.tree = finderSampleTree();
        Q_EMIT fixture.library.localLibraryTreeChanged();
        fixture.page->resize(860, 600);
        fixture.page->show();
        QVERIFY(QTest::qWaitForWindowActive(fixture.page.get()));
        QList<QWidget *> ringed;
        for (QWidget *surface : focusChain(*fixture.page)) {
            surface->setFocus(Qt::TabFocusReason);
            for (const auto *ring : fixture.page->findChildren<QFocusFrame *>())
                if (ring->widget() == surface && ring->isVisible())
                    ringed.append(surface);
        }
        QVERIFY(ringed.contains(fixture.page->finderList()->outline()));
        QVERIFY(ringed.contains(fixture.page->inspector()));
        fixture.page->finderList()->outline()->setFocus(Qt::TabFocusReason);
        saveGrab(*fixture.page, u"library-page.focused-tree"_s);
    }

    void usabilityIsRecordedOnce()
    {
        QTemporaryDir folder;
        const QString metrics = folder.filePath(u"metrics"_s);
        QFile create(metrics);
        QVERIFY(create.open(QIODevice::WriteOnly));
        create.close();
        qputenv("PELL_WICK_PERFORMANCE_METRICS_FILE", metrics.toUtf8());
        PageFixture fixture;
        CacheNavigationPerformanceProbe::startNavigation();
        for (int call = 0; call < 3; ++call)
            Q_EMIT fixture.page->finderList()->usableStateAppeared();
        qunsetenv("PELL_WICK_PERFORMANCE_METRICS_FILE");

        QFile file(metrics);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 2); // one line and the empty rest after its newline
        QVERIFY(lines.first().startsWith("cache-usability-ms="));
    }
};

QTEST_MAIN(LocalLibraryCachePageTests)
#include "LocalLibraryCachePageTests.moc"
