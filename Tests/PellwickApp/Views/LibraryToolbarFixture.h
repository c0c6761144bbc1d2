#pragma once

#include "LibraryPageSeams.h"

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

/// The library toolbar over fresh seams.
struct LibraryToolbarFixture : LibraryPageSeams
{
    LocalLibraryToolbar toolbar{toolbarSeams()};

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
