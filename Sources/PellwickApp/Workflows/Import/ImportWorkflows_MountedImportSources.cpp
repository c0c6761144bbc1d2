#include "ImportWorkflows.h"

#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/StandardizedPath.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Support/FileBrowserSortKey.h>
#include <PellwickCore/Support/FileManager.h>

#include <QPointer>

#include <algorithm>

namespace Pellwick {

bool ImportWorkflows::isBusyForMountProposal() const
{
    return m_shellState.mountProposal().has_value() || m_state.isImporting()
           || m_restoreState.isRestoreTransferActive()
           || m_restoreState.activeRestoreRequest().has_value() || isIngestCacheMigrationPending();
}

QList<ImportScanVolume> ImportWorkflows::sortedPendingMountedImportSources() const
{
    return sortedInFileBrowserOrder(m_pendingMountedImportSources.values(),
                                    [](const ImportScanVolume &volume) { return volume.name; });
}

void ImportWorkflows::receiveMountedImportSource(const std::optional<QString> &url)
{
    if (!url)
        return;
    const QString mounted = standardizedPath(*url);
    if (m_initialMountedImportSourceURLs.contains(mounted)
        || m_dismissedMountedImportSourceURLs.contains(mounted))
        return;
    const quint64 notice = ++m_mountNoticeGenerations[mounted];
    completeMountedImportSource(mounted, notice); // runs on when the listing returns
}

QCoro::Task<> ImportWorkflows::completeMountedImportSource(QString mounted, quint64 notice)
{
    const QPointer<ImportWorkflows> self(this);
    QFuture<Result<QList<ImportScanVolume>>> listing
        = Workflow::run(WorkflowPools::utility(), [detector = m_services.volumeDetector] {
              return detector.removableVolumes();
          });
    const std::optional<Result<QList<ImportScanVolume>>> volumes
        = co_await Workflow::resumeIn(self, std::stop_token(), listing);
    // A newer notice for the path (an unmount, or a mount listed again) decides instead, and a
    // proposal of the path dismissed meanwhile stays dismissed.
    if (!volumes || !*volumes || m_mountNoticeGenerations.value(mounted) != notice
        || m_dismissedMountedImportSourceURLs.contains(mounted))
        co_return;
    const auto volume = std::find_if(
        (*volumes)->cbegin(), (*volumes)->cend(), [&mounted](const ImportScanVolume &each) {
            return standardizedPath(each.url) == mounted;
        });
    if (volume == (*volumes)->cend())
        co_return;
    m_pendingMountedImportSources.insert(mounted, *volume);
    if (m_shellState.mountProposal())
        m_shellState.setMountProposal(MountProposal{sortedPendingMountedImportSources()});
    presentPendingMountProposalIfPossible();
}

void ImportWorkflows::receiveUnmountedImportSource(const std::optional<QString> &url)
{
    if (!url)
        return;
    const QString unmounted = standardizedPath(*url);
    ++m_mountNoticeGenerations[unmounted];
    // Ejected media is forgotten everywhere: inserted again, it is new, also when it was
    // mounted at launch or dismissed.
    m_initialMountedImportSourceURLs.remove(unmounted);
    m_dismissedMountedImportSourceURLs.remove(unmounted);
    m_pendingMountedImportSources.remove(unmounted);
    const std::optional<MountProposal> &shown = m_shellState.mountProposal();
    if (!shown
        || std::none_of(shown->sources.cbegin(),
                        shown->sources.cend(),
                        [&unmounted](const ImportScanVolume &volume) {
                            return standardizedPath(volume.url) == unmounted;
                        }))
        return;
    m_shellState.setMountProposal(std::nullopt);
    presentPendingMountProposalIfPossible();
}

void ImportWorkflows::presentPendingMountProposalIfPossible()
{
    if (isBusyForMountProposal() || m_pendingMountedImportSources.isEmpty())
        return;
    m_shellState.setMountProposal(MountProposal{sortedPendingMountedImportSources()});
}

void ImportWorkflows::acceptMountProposal()
{
    if (!m_shellState.mountProposal())
        return;
    const QList<ImportScanVolume> sources = m_shellState.mountProposal()->sources;
    for (const ImportScanVolume &volume : sources)
        m_pendingMountedImportSources.remove(standardizedPath(volume.url));
    m_shellState.setMountProposal(std::nullopt);
    scanSkippingIngestCaches(sources);
}

void ImportWorkflows::dismissMountProposal()
{
    if (!m_shellState.mountProposal())
        return;
    for (const ImportScanVolume &volume : m_shellState.mountProposal()->sources) {
        const QString url = standardizedPath(volume.url);
        m_pendingMountedImportSources.remove(url);
        m_dismissedMountedImportSourceURLs.insert(url);
    }
    m_shellState.setMountProposal(std::nullopt);
}

void ImportWorkflows::scanNewlyMountedImportSources()
{
    const QList<ImportScanVolume> sources = sortedPendingMountedImportSources();
    m_pendingMountedImportSources.clear();
    m_shellState.setMountProposal(std::nullopt);
    scanSkippingIngestCaches(sources);
}

void ImportWorkflows::scanAllRemovableVolumes()
{
    scanSkippingIngestCaches(std::nullopt);
}

void ImportWorkflows::scanSkippingIngestCaches(std::optional<QList<ImportScanVolume>> sources)
{
    // A scan that listed cached packages would copy the cache into itself, and the copies'
    // records would take the cache file as their source-media evidence.
    QStringList ingestCaches{m_ingestCache.ingestCache().rootURL()};
    if (const std::optional<QString> &retained = m_ingestCacheState.retainedIngestCacheURL())
        ingestCaches.append(*retained);
    scanImportSources([builder = ImportReviewBuilder(m_services.fileManager),
                       detector = m_services.volumeDetector,
                       sources = std::move(sources),
                       ingestCaches](std::stop_token stop) -> Result<ImportReview> {
        if (sources)
            return builder.buildReview(*sources, stop, ingestCaches);
        PELLWICK_TRY_ASSIGN(QList<ImportScanVolume> volumes, detector.removableVolumes());
        return builder.buildReview(volumes, stop, ingestCaches);
    });
}

} // namespace Pellwick
