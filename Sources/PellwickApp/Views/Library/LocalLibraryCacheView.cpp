#include "LocalLibraryCacheView.h"

#include <PellwickApp/Shell/CacheNavigationPerformanceProbe.h>
#include <PellwickApp/Shell/IngestCacheDirectoryObserver.h>
#include <PellwickApp/Shell/Operations/IngestCacheOperations.h>
#include <PellwickApp/Shell/Operations/LibraryOperations.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Library/LibraryDetailViewport.h>
#include <PellwickApp/Views/Library/LocalLibraryFinderList.h>
#include <PellwickApp/Views/Library/LocalLibraryInspectorView.h>

#include <QFrame>
#include <QHideEvent>
#include <QShowEvent>
#include <QVBoxLayout>

#include <utility>

namespace Pellwick {

namespace {

QFrame *horizontalDivider(QWidget *parent)
{
    auto *divider = new QFrame(parent);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    return divider;
}

QVBoxLayout *column(QWidget *widget)
{
    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

} // namespace

LocalLibraryCacheView::LocalLibraryCacheView(LocalLibraryToolbar::Seams seams,
                                             const SingleShotTimerFactory &timers,
                                             QWidget *parent)
    : PageBackground(parent)
    , m_seams(seams)
    , m_timers(timers)
    , m_safetyTimer(timers([this] { requestSafetyCheck(); }))
{
    setObjectName(QStringLiteral("page.localLibraryCache"));

    auto *chrome = new QWidget(this);
    QVBoxLayout *chromeColumn = column(chrome);
    m_toolbar = new LocalLibraryToolbar(seams, chrome);
    chromeColumn->addWidget(m_toolbar);
    m_readError = new AlertStrip(
        {}, QStringLiteral("exclamationmark.triangle"), LibraryPresentationTone::Danger, chrome);
    m_readError->setObjectName(QStringLiteral("local-library-cache.read-error"));
    chromeColumn->addWidget(m_readError);
    m_importError = new AlertStrip(
        {}, QStringLiteral("exclamationmark.triangle"), LibraryPresentationTone::Danger, chrome);
    m_importError->setObjectName(QStringLiteral("local-library-cache.import-error"));
    chromeColumn->addWidget(m_importError);
    chromeColumn->addWidget(horizontalDivider(chrome));

    auto *content = new QWidget(this);
    QVBoxLayout *contentColumn = column(content);
    m_finderList = new LocalLibraryFinderList(
        seams.library, seams.libraryOperations, &makeQtSingleShotTimer, ThumbnailLoader(), content);
    contentColumn->addWidget(m_finderList, 1);
    contentColumn->addWidget(horizontalDivider(content));
    m_inspector = new LocalLibraryInspector(content);
    m_inspector->setFixedHeight(inspectorHeight);
    contentColumn->addWidget(m_inspector);

    m_viewport = new LibraryDetailViewport(chrome, content, this);
    column(this)->addWidget(m_viewport);

    connect(m_toolbar,
            &LocalLibraryToolbar::restoreRequested,
            this,
            &LocalLibraryCacheView::showRestore);
    connect(m_finderList,
            &LocalLibraryFinderList::usableStateAppeared,
            this,
            &LocalLibraryCacheView::recordUsability);
    connect(&seams.ingestCache, &IngestCacheState::ingestCacheRootChanged, this, [this] {
        if (m_isShown)
            watchIngestCache();
    });
    connect(&seams.library,
            &LibraryState::inspectedLocalLibraryItemIDChanged,
            this,
            &LocalLibraryCacheView::updateInspector);
    connect(&seams.library,
            &LibraryState::localLibraryItemsChanged,
            this,
            &LocalLibraryCacheView::updateInspector);
    connect(&seams.ingestCache,
            &IngestCacheState::unfinishedIngestCacheBatchesChanged,
            this,
            &LocalLibraryCacheView::updateInspector);
    connect(&seams.library,
            &LibraryState::libraryReadErrorMessageChanged,
            this,
            &LocalLibraryCacheView::updateReadError);
    for (auto signal :
         {&ImportState::importErrorMessageChanged, &ImportState::isImportMessageSuccessChanged})
        connect(&seams.imports, signal, this, &LocalLibraryCacheView::updateImportError);
    updateInspector();
    updateReadError();
    updateImportError();
}

LocalLibraryCacheView::~LocalLibraryCacheView() = default;

bool LocalLibraryCacheView::isSafetyLoopRunning() const
{
    return m_safetyTimer->isActive();
}

void LocalLibraryCacheView::showEvent(QShowEvent *event)
{
    PageBackground::showEvent(event);
    // A window coming back from the dock shows the page again without it having left.
    if (event->spontaneous() || m_isShown)
        return;
    m_isShown = true;
    watchIngestCache();
    requestSafetyCheck();
}

void LocalLibraryCacheView::hideEvent(QHideEvent *event)
{
    PageBackground::hideEvent(event);
    if (event->spontaneous() || !m_isShown)
        return;
    m_isShown = false;
    m_cacheObserver.reset();
    m_safetyTimer->stop();
}

void LocalLibraryCacheView::watchIngestCache()
{
    IngestCacheOperations &operations = m_seams.ingestCacheOperations;
    // Storing the new watch releases the previous one, which stops it.
    m_cacheObserver = IngestCacheDirectoryObserver::create(
        m_seams.ingestCache.ingestCacheRoot(),
        [&operations] { operations.scheduleUserManagedIngestCacheRefresh(); },
        m_timers);
    operations.scheduleUserManagedIngestCacheRefresh();
}

void LocalLibraryCacheView::requestSafetyCheck()
{
    m_seams.libraryOperations.scheduleSourceMediaSafetyRefresh();
    m_safetyTimer->start(safetyInterval);
}

void LocalLibraryCacheView::recordUsability()
{
    if (m_hasRecordedUsability)
        return;
    m_hasRecordedUsability = true;
    CacheNavigationPerformanceProbe::recordUsability();
}

void LocalLibraryCacheView::updateInspector()
{
    m_inspector->setItem(m_seams.libraryOperations.inspectedLocalLibraryItem(),
                         m_seams.ingestCache.unfinishedIngestCacheBatches());
}

void LocalLibraryCacheView::updateReadError()
{
    const QString &message = m_seams.library.libraryReadErrorMessage();
    m_readError->setAlert(
        message, QStringLiteral("exclamationmark.triangle"), LibraryPresentationTone::Danger);
    m_readError->setVisible(!message.isEmpty());
}

void LocalLibraryCacheView::updateImportError()
{
    // Start Import and Remove from Cache are pressed on this page: their failures are shown here
    // as well as on the Overview.
    const std::optional<QString> &message = m_seams.imports.importErrorMessage();
    const bool failed = message && !m_seams.imports.isImportMessageSuccess();
    m_importError->setAlert(failed ? *message : QString(),
                            QStringLiteral("exclamationmark.triangle"),
                            LibraryPresentationTone::Danger);
    m_importError->setVisible(failed);
}

} // namespace Pellwick
