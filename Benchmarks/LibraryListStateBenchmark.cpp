// pellwick-bench-list-state DIR [COUNT [SELECTED]]
//     Builds a library of COUNT (default 100,000) fully filled records in a new directory inside
//     DIR, constructs the shell view model over it with SELECTED records selected (default all;
//     spread evenly over the library), and prints the median and the slowest of 15 runs of a
//     refresh of the visible items (without and with filters, with pruning) and of each derived
//     getter, in milliseconds. The directory is removed at the end.

#include <PellwickApp/Shell/ShellViewModelFixture.h>
#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <Support/LibraryFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;

namespace {

constexpr int runs = 15;

void measure(const char *name, const std::function<void()> &operation)
{
    std::vector<double> milliseconds;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        operation();
        milliseconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    std::printf("%-44s median %8.3f ms   max %8.3f ms\n",
                name,
                milliseconds[milliseconds.size() / 2],
                milliseconds.back());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fputs("usage: pellwick-bench-list-state DIR [COUNT]\n", stderr);
        return 2;
    }
    const int count = argc > 2 ? std::atoi(argv[2]) : 100'000;
    const int selected = std::clamp(argc > 3 ? std::atoi(argv[3]) : count, 1, count);
    ShellViewModelFixture fixture(QString::fromLocal8Bit(argv[1]));
    if (!fixture.dir.isValid()) {
        std::fputs("cannot create the benchmark directory\n", stderr);
        return 1;
    }
    const QString cacheRoot = fixture.dir.filePath(QStringLiteral("IngestCache"));
    fixture.ingestCacheRoot = cacheRoot;
    QList<LocalLibraryItem> items;
    items.reserve(count);
    QSet<QUuid> selection;
    RestoreRequest request;
    for (int n = 0; n < count; ++n) {
        items.append(filledLibraryItem(n, cacheRoot));
        // Random ids as the application makes them: the fixture's sequential ids all share one
        // hash in a QSet<QUuid>.
        items.last().id = QUuid::createUuid();
        if (n % (count / selected) == 0 && selection.size() < selected)
            selection.insert(items.last().id);
        if (n % 100 == 0)
            request.items.append({*items.last().backendLibraryItemID, {}, 1, {}, {}});
    }
    if (!fixture.library.writeItems(items)) {
        std::fputs("cannot write the library\n", stderr);
        return 1;
    }
    items.clear();
    const auto model = fixture.make();
    model->libraryState().setSelectedLibraryItemIDs(selection);
    std::printf("%d records, %lld selected\n", count, static_cast<long long>(selection.size()));

    measure("refresh", [&] { model->libraryWorkflows().refreshVisibleLocalLibraryItems(false); });
    measure("refresh, pruning the selection",
            [&] { model->libraryWorkflows().refreshVisibleLocalLibraryItems(true); });
    model->libraryState().setLocalLibrarySearchText(QStringLiteral("img_01"));
    measure("refresh, search text",
            [&] { model->libraryWorkflows().refreshVisibleLocalLibraryItems(false); });
    model->libraryState().setLocalLibrarySearchText(QString());
    model->libraryState().setLocalLibraryCaptureTimeFilter(
        LocalLibraryCaptureTimeFilter::DateRange);
    model->libraryState().setLocalLibraryCaptureTimeStart(Date{7.1e8});
    model->libraryState().setLocalLibraryCaptureTimeEnd(Date{7.1e8 + 30 * 86400.0});
    model->libraryState().setLocalLibraryIngestSourceFilter(QStringLiteral("EOS_DIGITAL 3"));
    measure("refresh, capture-time window and source",
            [&] { model->libraryWorkflows().refreshVisibleLocalLibraryItems(false); });
    model->libraryWorkflows().resetLocalLibraryFilters();

    // Each run of these changes the selection (one id in or out), so nothing derived before
    // can be reused.
    const QUuid toggled = QUuid::createUuid();
    const auto changeSelection = [&] {
        QSet<QUuid> changed = model->libraryState().selectedLibraryItemIDs();
        if (!changed.remove(toggled))
            changed.insert(toggled);
        model->libraryState().setSelectedLibraryItemIDs(std::move(changed));
    };
    const std::pair<const char *, std::function<void()>> derived[] = {
        {"selectedImportItems, selection changed",
         [&] { (void) model->importWorkflows().selectedImportItems(); }},
        {"selectedRemovableIngestCacheItems, selection changed",
         [&] { (void) model->ingestCacheWorkflows().selectedRemovableIngestCacheItems(); }},
        {"selectedRestoreItems, selection changed",
         [&] { (void) model->restoreWorkflows().selectedRestoreItems(); }},
        {"restoreSelectionSummary, selection changed",
         [&] { (void) model->restoreWorkflows().restoreSelectionSummary(); }},
    };
    for (const auto &[name, getter] : derived) {
        measure(name, [&] {
            changeSelection();
            getter();
        });
    }
    measure("selection change alone", changeSelection);
    model->libraryState().setSelectedLibraryItemIDs(selection);
    measure("selectedImportItems", [&] { (void) model->importWorkflows().selectedImportItems(); });
    measure("selectedRemovableIngestCacheItems",
            [&] { (void) model->ingestCacheWorkflows().selectedRemovableIngestCacheItems(); });
    measure("selectedRestoreItems",
            [&] { (void) model->restoreWorkflows().selectedRestoreItems(); });
    measure("restoreSelectionSummary",
            [&] { (void) model->restoreWorkflows().restoreSelectionSummary(); });
    model->restoreState().setActiveRestoreRequest(request);
    measure("restoreWorkflowItems (1% requested)",
            [&] { (void) model->restoreWorkflows().restoreWorkflowItems(); });
    model->restoreState().setActiveRestoreRequest(std::nullopt);
    measure("localLibraryIngestSources",
            [&] { (void) model->libraryWorkflows().localLibraryIngestSources(); });
    const QHash<QString, qint64> counts{{QStringLiteral("folder:"), 25}};
    (void) model->libraryWorkflows().localLibraryTree(counts);
    measure("localLibraryTree (memo hit)",
            [&] { (void) model->libraryWorkflows().localLibraryTree(counts); });
    model->libraryWorkflows().inspectLocalLibraryItem(
        model->libraryState().localLibraryItems().constLast());
    measure("inspectedLocalLibraryItem (last)",
            [&] { (void) model->libraryWorkflows().inspectedLocalLibraryItem(); });
    measure("hasActiveLocalLibraryFilters",
            [&] { (void) model->libraryWorkflows().hasActiveLocalLibraryFilters(); });
    return 0;
}
