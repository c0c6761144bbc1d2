#pragma once

#include "ScriptedFolderChooser.h"

#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Views/Library/IngestCacheMenu.h>
#include <PellwickApp/Views/Library/LocalLibraryToolbar.h>

#include <QAction>
#include <QMenu>
#include <QStringList>

#include <Support/RecordingOperations.h>

namespace Pellwick::Test {

/// The library toolbar over fresh state objects, recorders and a scripted folder chooser.
struct LibraryToolbarFixture
{
    LibraryState library;
    ImportState imports;
    IngestCacheState ingestCache;
    RecordingLibraryOperations libraryOperations;
    RecordingImportOperations importOperations;
    RecordingIngestCacheOperations ingestCacheOperations;
    RecordingRestoreOperations restoreOperations;
    ScriptedFolderChooser chooser;
    LocalLibraryToolbar toolbar{{library,
                                 imports,
                                 ingestCache,
                                 libraryOperations,
                                 importOperations,
                                 ingestCacheOperations,
                                 restoreOperations,
                                 chooser}};

    /// The operations called, in order per recorder (imports, Ingest Cache, library), without
    /// the getters.
    QStringList actions() const
    {
        static const QStringList getters{QStringLiteral("selectedImportItems"),
                                         QStringLiteral("isStartingImport"),
                                         QStringLiteral("isIngestCacheMigrationPending"),
                                         QStringLiteral("selectedRemovableIngestCacheItems"),
                                         QStringLiteral("hasActiveLocalLibraryFilters"),
                                         QStringLiteral("localLibraryIngestSources")};
        QStringList all
            = importOperations.calls + ingestCacheOperations.calls + libraryOperations.calls;
        all.removeIf([](const QString &call) { return getters.contains(call); });
        return all;
    }

    /// The cache menu's items as they are built when it opens: "<id>" or "<id> (disabled)".
    QStringList cacheMenuItems() const
    {
        QMenu *menu = toolbar.cacheMenu()->menu();
        Q_EMIT menu->aboutToShow();
        QStringList items;
        for (const QAction *action : menu->actions())
            if (!action->isSeparator())
                items.append(action->objectName()
                             + (action->isEnabled() ? QString() : QStringLiteral(" (disabled)")));
        return items;
    }

    /// Triggers the cache menu's item `id` as the keyboard or an accessible action would.
    void triggerCacheMenuItem(const QString &id) const
    {
        QMenu *menu = toolbar.cacheMenu()->menu();
        Q_EMIT menu->aboutToShow();
        if (QAction *action = menu->findChild<QAction *>(id))
            action->activate(QAction::Trigger);
    }
};

} // namespace Pellwick::Test
