#pragma once

#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickApp/Views/Kit/PageBackground.h>
#include <PellwickApp/Views/Library/LocalLibraryToolbar.h>

#include <chrono>
#include <memory>

namespace Pellwick {

class AlertStrip;
class IngestCacheDirectoryObserver;
class LibraryDetailViewport;
class LocalLibraryFinderList;
class LocalLibraryInspector;

/// The Library page: the toolbar above the finder list and the inspector of the inspected item,
/// on the page background, with a danger strip while the library cannot be read and one while the
/// import text reports a failure (of Start Import or Remove from Cache, among others). While it is
/// shown it keeps the library current: it watches the Ingest Cache root (and the new root after a
/// move) and asks for a refresh on every change and once per watch, and asks for a source-media
/// safety check at once and then every minute. It does no file-system or library work itself.
/// The first time the list becomes usable it records the navigation probe. Main thread only.
class LocalLibraryCacheView final : public PageBackground
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds safetyInterval{60'000};
    static constexpr int inspectorHeight = 168;

    /// `timers` is the workflow clock: the safety loop and the folder watch run on it.
    LocalLibraryCacheView(LocalLibraryToolbar::Seams seams,
                          const SingleShotTimerFactory &timers = &makeQtSingleShotTimer,
                          QWidget *parent = nullptr);
    ~LocalLibraryCacheView() override;

    /// The folder watch of the current Ingest Cache root; none while hidden or when the root
    /// cannot be watched.
    const IngestCacheDirectoryObserver *cacheObserver() const { return m_cacheObserver.get(); }

    /// The safety loop is waiting for its next request.
    bool isSafetyLoopRunning() const;

    LibraryDetailViewport *viewport() const { return m_viewport; }

    LocalLibraryToolbar *toolbar() const { return m_toolbar; }

    LocalLibraryFinderList *finderList() const { return m_finderList; }

    LocalLibraryInspector *inspector() const { return m_inspector; }

    /// The strip that says why the library cannot be read.
    AlertStrip *readErrorStrip() const { return m_readError; }

    /// The strip that shows the import text while it reports a failure.
    AlertStrip *importErrorStrip() const { return m_importError; }

Q_SIGNALS:
    /// "Restore Selected": the shell shows the Restore page.
    void showRestore();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void watchIngestCache();
    void requestSafetyCheck();
    void recordUsability();
    void updateInspector();
    void updateReadError();
    void updateImportError();

    LocalLibraryToolbar::Seams m_seams;
    SingleShotTimerFactory m_timers;
    std::unique_ptr<IngestCacheDirectoryObserver> m_cacheObserver;
    std::unique_ptr<SingleShotTimer> m_safetyTimer;
    bool m_isShown = false;
    bool m_hasRecordedUsability = false;
    LibraryDetailViewport *m_viewport = nullptr;
    LocalLibraryToolbar *m_toolbar = nullptr;
    AlertStrip *m_readError = nullptr;
    AlertStrip *m_importError = nullptr;
    LocalLibraryFinderList *m_finderList = nullptr;
    LocalLibraryInspector *m_inspector = nullptr;
};

} // namespace Pellwick
