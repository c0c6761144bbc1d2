#include "IngestCacheMenu.h"

#include <PellwickApp/Shell/Operations/ImportOperations.h>
#include <PellwickApp/Shell/Operations/IngestCacheOperations.h>
#include <PellwickApp/Shell/RunningWork.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Views/Kit/FolderChooser.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

#include <optional>
#include <utility>

namespace Pellwick {

using namespace Qt::StringLiterals;

struct IngestCacheMenu::Item
{
    QString text;
    QString symbol;
    QString id;
    std::function<bool()> shown;
    std::function<bool()> disabled;
    std::function<void()> action;
    bool dividerBefore = false;
};

IngestCacheMenu::IngestCacheMenu(Seams seams, QWidget *parent)
    : PellwickMenuSelectorLabel(u"Cache"_s, u"externaldrive"_s, parent)
    , m_seams(seams)
{
    setObjectName(u"local-library-cache.cache-menu"_s);
    auto *menu = new QMenu(this);
    menu->setObjectName(u"local-library-cache.cache-menu.items"_s);
    setMenu(menu);
    connect(menu, &QMenu::aboutToShow, this, &IngestCacheMenu::rebuild);
}

void IngestCacheMenu::rebuild()
{
    const auto always = [] { return true; };
    const auto never = [] { return false; };
    const auto pending
        = [this] { return m_seams.ingestCacheOperations.isIngestCacheMigrationPending(); };
    const auto hasPendingMove
        = [this] { return m_seams.ingestCache.pendingIngestCacheMigration().has_value(); };
    const auto hasOldCache
        = [this] { return m_seams.ingestCache.retainedIngestCacheURL().has_value(); };

    const QList<Item> items{
        {u"Refresh Cache"_s,
         u"arrow.clockwise"_s,
         u"local-library-cache.refresh-cache"_s,
         always,
         pending,
         [this] { m_seams.ingestCacheOperations.scheduleUserManagedIngestCacheRefresh(); }},
        {u"Move Cache"_s,
         u"externaldrive.badge.plus"_s,
         u"local-library-cache.move-cache"_s,
         always,
         // Offered exactly when `startMove` goes on: not while an import starts either.
         [this, pending] {
             return pending()
                    || RunningWork::of(m_seams.imports, m_seams.ingestCache)
                           .excludes(Work::IngestCacheMove);
         },
         [this] { chooseIngestCacheLocation(false); }},
        // Resuming while the move still runs would start a second copy into the same folder.
        {u"Resume Cache Move"_s,
         {},
         u"local-library-cache.resume-cache-move"_s,
         hasPendingMove,
         [this] { return m_seams.ingestCache.isMigratingIngestCache(); },
         [this] { m_seams.ingestCacheOperations.resumeIngestCacheMigration(); }},
        {u"Choose Different Cache Location"_s,
         {},
         u"local-library-cache.choose-cache-location"_s,
         hasPendingMove,
         never,
         [this] { chooseIngestCacheLocation(true); }},
        {u"Check Old Cache"_s,
         {},
         u"local-library-cache.check-old-cache"_s,
         hasOldCache,
         pending,
         [this] { checkOldCache(this); },
         true},
        {u"Delete Old Cache"_s,
         {},
         u"local-library-cache.delete-old-cache"_s,
         hasOldCache,
         [this, pending] {
             return pending() || !m_seams.ingestCache.retainedIngestCacheConflicts().isEmpty();
         },
         [this] { Q_EMIT oldCacheDeletionRequested(); }},
    };

    QMenu *entries = menu();
    entries->clear();
    for (const Item &item : items) {
        if (!item.shown())
            continue;
        if (item.dividerBefore)
            entries->addSeparator();
        QAction *action = item.symbol.isEmpty()
                              ? entries->addAction(item.text)
                              : entries->addAction(SymbolIcons::icon(item.symbol), item.text);
        action->setObjectName(item.id);
        action->setEnabled(!item.disabled());
        // The rule is asked again: the state may have changed while the menu was open.
        connect(action, &QAction::triggered, this, [disabled = item.disabled, run = item.action] {
            if (!disabled())
                run();
        });
    }
}

void IngestCacheMenu::chooseIngestCacheLocation(bool replacingPendingMigration)
{
    const QPointer<IngestCacheMenu> self(this);
    // Beside the current cache, under a title that says what is chosen; the dialog's own
    // default would open wherever the last chooser of any kind was left.
    const QString root = m_seams.ingestCache.ingestCacheRoot();
    const FolderQuestion question{
        .prompt = {},
        .message = u"Choose New Ingest Cache Location"_s,
        .startFolder = root.isEmpty() ? QString() : QFileInfo(QDir::cleanPath(root)).path(),
        .allowsNewFolders = true,
    };
    m_seams.folderChooser.chooseFolder(
        window(),
        question,
        [self, replacingPendingMigration](const std::optional<QString> &folder) {
            if (self && folder && !folder->isEmpty())
                self->startMove(*folder, replacingPendingMigration);
        });
}

void IngestCacheMenu::startMove(const QString &folder, bool replacingPendingMigration)
{
    // The state is read now: it may have changed while the chooser was open.
    if (replacingPendingMigration) {
        if (m_seams.ingestCache.isMigratingIngestCache())
            return;
    } else if (m_seams.ingestCacheOperations.isIngestCacheMigrationPending()
               || m_seams.imports.isImporting() || m_seams.importOperations.isStartingImport()) {
        // An import that started meanwhile owns the cache's packages until it ends.
        return;
    }
    m_seams.ingestCacheOperations.beginIngestCacheMigration(folder);
}

QCoro::Task<> IngestCacheMenu::checkOldCache(QPointer<IngestCacheMenu> menu)
{
    co_await menu->m_seams.ingestCacheOperations.synchronizeRetainedIngestCache();
    if (menu && !menu->m_seams.ingestCache.retainedIngestCacheConflicts().isEmpty())
        Q_EMIT menu->oldCacheConflictsFound();
}

} // namespace Pellwick
