#include "../Views/FinderTreeSamples.h"
#include "../Views/LibraryPageSeams.h"
#include "Gallery.h"

#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Views/Pages/LibraryOverviewView.h>
#include <PellwickApp/Views/Pages/LocalLibraryCacheView.h>

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
        {u"page.overview.trial.narrow"_s, [] { return overview(PaidPlanStatus::Trial, 420); }},
        {u"page.overview.paid.wide"_s, [] { return overview(PaidPlanStatus::Paid, 1100); }},
        {u"page.overview.expired.wide"_s, [] { return overview(PaidPlanStatus::Expired, 1100); }},
    };
}

} // namespace Pellwick::Gallery
