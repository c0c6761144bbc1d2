#pragma once

#include "ScriptedFolderChooser.h"

#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Views/Library/LocalLibraryToolbar.h>

#include <QStringList>

#include <Support/RecordingOperations.h>

namespace Pellwick::Test {

/// Fresh state objects, recorders and a scripted folder chooser behind the Library page.
struct LibraryPageSeams
{
    LibraryState library;
    ImportState imports;
    IngestCacheState ingestCache;
    RecordingLibraryOperations libraryOperations;
    RecordingImportOperations importOperations;
    RecordingIngestCacheOperations ingestCacheOperations;
    RecordingRestoreOperations restoreOperations;
    ScriptedFolderChooser chooser;

    LocalLibraryToolbar::Seams toolbarSeams()
    {
        return {library,
                imports,
                ingestCache,
                libraryOperations,
                importOperations,
                ingestCacheOperations,
                restoreOperations,
                chooser};
    }

    /// The operations called, in order per recorder (imports, Ingest Cache, library), without
    /// the getters.
    QStringList actions() const
    {
        static const QStringList getters{QStringLiteral("selectedImportItems"),
                                         QStringLiteral("isStartingImport"),
                                         QStringLiteral("isIngestCacheMigrationPending"),
                                         QStringLiteral("selectedRemovableIngestCacheItems"),
                                         QStringLiteral("hasActiveLocalLibraryFilters"),
                                         QStringLiteral("localLibraryIngestSources"),
                                         QStringLiteral("localLibraryTree"),
                                         QStringLiteral("inspectedLocalLibraryItem")};
        QStringList all
            = importOperations.calls + ingestCacheOperations.calls + libraryOperations.calls;
        all.removeIf([](const QString &call) { return getters.contains(call); });
        return all;
    }
};

} // namespace Pellwick::Test
