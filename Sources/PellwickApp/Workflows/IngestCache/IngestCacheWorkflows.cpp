#include "IngestCacheWorkflows.h"

#include <PellwickApp/Shell/RunningWork.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Workflows/StandardizedPath.h>

namespace Pellwick {

namespace {

/// True when `path` lies strictly below `root`, comparing standardized paths.
bool liesBelow(const QString &path, const QString &root)
{
    const QString standardizedRoot = standardizedPath(root);
    const QString prefix = standardizedRoot.endsWith(QLatin1Char('/'))
                               ? standardizedRoot
                               : standardizedRoot + QLatin1Char('/');
    const QString standardized = standardizedPath(path);
    return standardized.startsWith(prefix) && standardized.size() > prefix.size();
}

} // namespace

IngestCacheWorkflows::IngestCacheWorkflows(Services services,
                                           Collaborators collaborators,
                                           QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_state(collaborators.ingestCache)
    , m_importState(collaborators.imports)
    , m_libraryState(collaborators.library)
    , m_sessionState(collaborators.session)
    , m_libraryWorkflows(collaborators.libraryWorkflows)
    , m_board(collaborators.board)
{
    Q_ASSERT_X(m_services.ingestCacheLocationStore && m_services.fileManager
                   && m_services.contentHasher,
               "IngestCacheWorkflows",
               "every collaborator is required");
    const IngestCacheLocationStoring &locationStore = *m_services.ingestCacheLocationStore;
    m_state.setRetainedIngestCacheURL(locationStore.retained());
    m_retainedIngestCacheManifest = locationStore.retainedManifest();
    m_state.setPendingIngestCacheMigration(locationStore.pendingMigration());
    m_state.setIngestCacheRoot(m_services.ingestCache.rootURL());
}

IngestCacheWorkflows::~IngestCacheWorkflows()
{
    m_cacheCleanupPasses.cancel();
    // The pending record stays: the next launch resumes the move.
    if (m_ingestCacheMoveTask)
        m_ingestCacheMoveTask->cancel();
}

void IngestCacheWorkflows::useIngestCache(const QString &root)
{
    m_services.ingestCache = IngestCache(root, m_services.fileManager, m_services.contentHasher);
    m_state.setIngestCacheRoot(root);
}

bool IngestCacheWorkflows::isInActiveIngestCache(const LocalLibraryItem &item) const
{
    return item.ingestCacheOriginalURL
           && liesBelow(*item.ingestCacheOriginalURL, m_services.ingestCache.rootURL());
}

bool IngestCacheWorkflows::isIngestCacheMigrationPending() const
{
    return m_state.isIngestCacheMigrationPending();
}

void IngestCacheWorkflows::beginImportingWork()
{
    ++m_importingWorkCount;
    m_importState.setIsImporting(true);
}

void IngestCacheWorkflows::endImportingWork()
{
    Q_ASSERT(m_importingWorkCount > 0);
    if (--m_importingWorkCount == 0)
        m_importState.setIsImporting(false);
}

bool IngestCacheWorkflows::isBusyWithIngestCache() const
{
    return RunningWork::of(m_importState, m_state).excludes(Work::IngestCacheRefresh);
}

void IngestCacheWorkflows::drainPendingIngestCacheRefresh()
{
    if (!m_isIngestCacheRefreshPending || isBusyWithIngestCache())
        return;
    m_isIngestCacheRefreshPending = false;
    scheduleUserManagedIngestCacheRefresh();
}

} // namespace Pellwick
