#include "../Views/LibraryPageSeams.h"
#include "Gallery.h"

#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Views/Library/ConfirmationDialog.h>
#include <PellwickApp/Views/Library/IngestCacheMenu.h>
#include <PellwickApp/Views/Library/LocalLibraryFilterBar.h>
#include <PellwickApp/Views/Library/LocalLibraryToolbar.h>
#include <PellwickApp/Views/Library/OldCacheConflictList.h>

#include <QFrame>
#include <QMenu>
#include <QVBoxLayout>

#include <algorithm>

#include <Support/LibraryFixtures.h>
#include <Support/RecordingOperations.h>

namespace Pellwick::Gallery {

using namespace Qt::StringLiterals;

namespace {

/// The states and recorders behind one picture, owned by the widget shown.
class Seams final
    : public QObject
    , public Test::LibraryPageSeams
{};

std::unique_ptr<QWidget> toolbar(int width)
{
    auto *seams = new Seams;
    seams->importOperations.importItems = {Test::minimalLibraryItem(1)};
    seams->ingestCacheOperations.removableItems = {Test::minimalLibraryItem(1)};
    seams->libraryOperations.activeFilters = true;
    seams->ingestCache.setIngestCacheMigrationMessage(
        u"Ingest Cache move is ready to resume until verification completes."_s);
    auto widget = std::make_unique<LocalLibraryToolbar>(seams->toolbarSeams());
    seams->setParent(widget.get());
    // Fixed, so the gallery's frame keeps the width that chooses the arrangement.
    widget->setFixedSize(width, widget->heightForWidth(width));
    return widget;
}

std::unique_ptr<QWidget> filterPopover(std::optional<int> width)
{
    auto *seams = new Seams;
    auto widget = std::make_unique<QFrame>();
    widget->setFrameShape(QFrame::StyledPanel);
    (new QVBoxLayout(widget.get()))
        ->addWidget(new LocalLibraryFilterBar(seams->library, seams->libraryOperations));
    seams->setParent(widget.get());
    const int shown
        = width ? std::max(*width, widget->minimumSizeHint().width()) : widget->sizeHint().width();
    widget->setFixedSize(shown, widget->heightForWidth(shown));
    return widget;
}

std::unique_ptr<QWidget>
dialog(const QString &action, PellwickButtonRole role, const QString &title, const QString &message)
{
    auto widget = std::make_unique<ConfirmationDialog>(action, role, nullptr);
    widget->setTitle(title);
    widget->setMessage(message);
    widget->resize(widget->sizeHint());
    return widget;
}

std::unique_ptr<QWidget> conflictList()
{
    auto *seams = new Seams;
    seams->ingestCache.setRetainedIngestCacheConflicts(
        {{u"2026-05-01/IMG_0001.CR3"_s, u"/old/a"_s, u"/new/a"_s},
         {u"2026-05-01/IMG_0001.xmp"_s, u"/old/b"_s, u"/new/b"_s}});
    auto widget = std::make_unique<OldCacheConflictList>(
        seams->ingestCache, seams->ingestCacheOperations, nullptr);
    seams->setParent(widget.get());
    return widget;
}

/// The cache menu's items for a state set by `prepare`.
std::unique_ptr<QWidget> cacheMenu(const std::function<void(Seams &)> &prepare)
{
    auto *seams = new Seams;
    prepare(*seams);
    auto *button = new IngestCacheMenu({seams->ingestCache,
                                        seams->imports,
                                        seams->ingestCacheOperations,
                                        seams->importOperations,
                                        seams->chooser});
    button->rebuild();
    std::unique_ptr<QWidget> menu(button->menu());
    menu->setParent(nullptr);
    button->setParent(menu.get());
    button->hide();
    seams->setParent(menu.get());
    menu->resize(menu->sizeHint());
    return menu;
}

} // namespace

QList<Entry> toolbarEntries()
{
    return {
        {u"library.toolbar.wide"_s, [] { return toolbar(1100); }},
        {u"library.toolbar.narrow"_s, [] { return toolbar(520); }},
        {u"library.filter-popover.one-row"_s, [] { return filterPopover(std::nullopt); }},
        {u"library.filter-popover.two-rows"_s, [] { return filterPopover(360); }},
        {u"library.dialog.import"_s,
         [] {
             return dialog(u"Reserve Capacity and Start Import"_s,
                           PellwickButtonRole::None,
                           u"Start Import?"_s,
                           LocalLibraryToolbar::importConfirmationMessage({3, 3 << 20, 5LL << 30}));
         }},
        {u"library.dialog.delete-old-cache"_s,
         [] {
             return dialog(u"Delete Old Cache"_s,
                           PellwickButtonRole::Destructive,
                           u"Delete old Ingest Cache?"_s,
                           u"Pellwick will delete the old cache only after verifying every "
                           u"remaining file exists in the active cache."_s);
         }},
        {u"library.dialog.remove"_s,
         [] {
             return dialog(u"Remove from Ingest Cache"_s,
                           PellwickButtonRole::Destructive,
                           u"Remove 2 cache packages?"_s,
                           u"This permanently removes 48 MB from Ingest Cache. Online Archive "
                           u"files cannot be removed here."_s);
         }},
        {u"library.old-cache-conflicts"_s, [] { return conflictList(); }},
        {u"library.cache-menu.idle"_s, [] { return cacheMenu([](Seams &) {}); }},
        {u"library.cache-menu.move-pending"_s,
         [] {
             return cacheMenu([](Seams &s) {
                 s.ingestCache.setPendingIngestCacheMigration({{u"/a"_s, u"/b"_s}});
                 s.ingestCacheOperations.migrationPending = true;
             });
         }},
        {u"library.cache-menu.old-cache"_s,
         [] {
             return cacheMenu([](Seams &s) { s.ingestCache.setRetainedIngestCacheURL(u"/old"_s); });
         }},
    };
}

} // namespace Pellwick::Gallery
