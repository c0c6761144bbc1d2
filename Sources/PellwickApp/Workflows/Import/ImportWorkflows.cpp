#include "ImportWorkflows.h"

#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Workflows/StandardizedPath.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>

namespace Pellwick {

ImportWorkflows::ImportWorkflows(Services services, Collaborators collaborators, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_state(collaborators.imports)
    , m_shellState(collaborators.shell)
    , m_sessionState(collaborators.session)
    , m_libraryState(collaborators.library)
    , m_restoreState(collaborators.restore)
    , m_ingestCacheState(collaborators.ingestCacheState)
    , m_ingestCache(collaborators.ingestCache)
    , m_libraryWorkflows(collaborators.libraryWorkflows)
    , m_board(collaborators.board)
    , m_storageFiguresChanged(std::move(collaborators.storageFiguresChanged))
{
    Q_ASSERT_X(m_services.sessionClient && m_services.ingestCacheLocationStore
                   && m_services.steadyClock && m_services.fileManager && m_services.contentHasher
                   && m_storageFiguresChanged,
               "ImportWorkflows",
               "every collaborator is required");
    // Media already inserted at launch is never proposed for import.
    if (const Result<QList<ImportScanVolume>> volumes
        = m_services.volumeDetector.removableVolumes()) {
        for (const ImportScanVolume &volume : *volumes)
            m_initialMountedImportSourceURLs.insert(standardizedPath(volume.url));
    }
}

ImportWorkflows::~ImportWorkflows()
{
    if (m_importScanTask)
        m_importScanTask->cancel();
    if (m_addToIngestCacheTask)
        m_addToIngestCacheTask->cancel();
    m_importerRuns.cancel();
    // A check can read a whole card.
    m_sourceMediaChecks.cancel();
}

bool ImportWorkflows::isIngestCacheMigrationPending() const
{
    return m_ingestCacheState.isIngestCacheMigrationPending();
}

} // namespace Pellwick
