#include "../Views/FinderTreeSamples.h"
#include "../Views/LibraryPageSeams.h"
#include "Gallery.h"

#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Views/Library/LocalLibraryCacheView.h>
#include <PellwickApp/Views/Library/LocalLibraryToolbar.h>
#include <PellwickApp/Views/Overview/LibraryOverviewView.h>

#include <QFrame>
#include <QPixmap>

#include <functional>

namespace Pellwick::Gallery {

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 gigabyte = 1'000'000'000;

/// The states and recorders behind one picture, owned by the page shown.
class PageSeams final
    : public QObject
    , public Test::LibraryPageSeams
{
public:
    SessionState session;
    RestoreState restore;
    ShellState shell;
};

std::unique_ptr<QWidget> libraryPage(const std::function<void(PageSeams &)> &prepare)
{
    auto *seams = new PageSeams;
    seams->libraryOperations.tree = QList<LocalLibraryTreeNode>();
    prepare(*seams);
    auto page = std::make_unique<LocalLibraryCacheView>(seams->toolbarSeams());
    seams->setParent(page.get());
    page->setFixedSize(1100, 720);
    return page;
}

/// The Library page with 300 items, as the window shows it at its default size; with
/// `showsFilters` its filter popover is open, drawn where it opens.
std::unique_ptr<QWidget> libraryInWindow(bool showsFilters)
{
    std::unique_ptr<QWidget> window
        = inDefaultWindow(libraryPage([](PageSeams &s) {
                              QList<LocalLibraryTreeNode> tree;
                              for (int n = 1; n <= 300; ++n)
                                  tree.append(Test::finderContent(n, {Test::finderItem(n)}));
                              s.libraryOperations.tree = tree;
                          }),
                          ShellSection::LocalLibraryCache);
    if (showsFilters) {
        // A grab lays the whole window out, as showing it would.
        [[maybe_unused]] const QPixmap laidOut = window->grab();
        auto *toolbar = window->findChild<LocalLibraryToolbar *>();
        toolbar->showFilters();
        QFrame *popover = toolbar->filterPopover();
        const QPoint at = popover->pos() - window->mapToGlobal(QPoint(0, 0));
        popover->setParent(window.get(), Qt::Widget);
        popover->setAutoFillBackground(true); // a popup window paints its own background
        popover->move(at);
        popover->show();
    }
    return window;
}

std::unique_ptr<QWidget> overview(PaidPlanStatus status, int width)
{
    auto *seams = new PageSeams;
    UserLibrary library;
    library.id = 12345;
    library.trialQuota = {3 * gigabyte, 5 * gigabyte};
    library.paidPlan.status = status;
    library.paidPlan.storageEntitlement = {120 * gigabyte, 1000 * gigabyte};
    library.paidPlan.restoreAllowance = {8 * gigabyte, 100 * gigabyte};
    seams->session.setSession(AuthenticatedLibrarySession{
        u"token"_s, {7, u"ana@example.com"_s, u"Ana Kowalski"_s}, library});
    auto page = std::make_unique<LibraryOverviewView>(LibraryOverviewView::States{
        seams->session, seams->imports, seams->restore, seams->shell, seams->library});
    seams->setParent(page.get());
    page->setFixedSize(width, 900);
    return page;
}

} // namespace

QList<Entry> pageEntries()
{
    return {
        {u"page.library.empty"_s, [] { return libraryPage([](PageSeams &) {}); }},
        {u"page.library.items"_s,
         [] {
             return libraryPage([](PageSeams &s) {
                 QList<LocalLibraryTreeNode> tree;
                 for (int n = 1; n <= 300; ++n)
                     tree.append(Test::finderContent(n, {Test::finderItem(n)}));
                 s.libraryOperations.tree = tree;
             });
         }},
        {u"page.library.migration-message"_s,
         [] {
             return libraryPage([](PageSeams &s) {
                 s.ingestCache.setIngestCacheMigrationMessage(
                     u"Ingest Cache move is ready to resume until verification completes."_s);
             });
         }},
        {u"page.library.migration-failure"_s,
         [] {
             return libraryPage([](PageSeams &s) {
                 s.ingestCache.setIngestCacheMigrationFailure(
                     u"No space left in /media/ext/Pellwick Ingest Cache. Free space or choose "
                     u"another folder, then move again. The current Ingest Cache stays in use."_s);
             });
         }},
        {u"page.library.inspected"_s,
         [] {
             return libraryPage([](PageSeams &s) {
                 s.libraryOperations.tree = Test::finderFlatTree();
                 s.libraryOperations.inspectedItem = Test::finderItem(1);
             });
         }},
        {u"page.library.unreadable"_s,
         [] {
             return libraryPage([](PageSeams &s) {
                 s.library.setLibraryReadErrorMessage(u"The library could not be read."_s);
             });
         }},
        {u"window.library"_s, [] { return libraryInWindow(false); }},
        {u"window.library.filter-popover"_s, [] { return libraryInWindow(true); }},
        {u"page.overview.trial.narrow"_s, [] { return overview(PaidPlanStatus::Trial, 420); }},
        {u"page.overview.paid.wide"_s, [] { return overview(PaidPlanStatus::Paid, 1100); }},
        {u"page.overview.expired.wide"_s, [] { return overview(PaidPlanStatus::Expired, 1100); }},
    };
}

} // namespace Pellwick::Gallery
