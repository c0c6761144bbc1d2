#include "LibraryShellViewModel_p.h"

#include <PellwickCore/Support/FileBrowserSortKey.h>

#include <algorithm>

namespace Pellwick {

bool LibraryShellViewModel::isBusyForMountProposal() const
{
    return m_shellState->mountProposal().has_value() || m_importState->isImporting()
           || m_restoreState->isRestoreTransferActive()
           || m_restoreState->activeRestoreRequest().has_value() || isIngestCacheMigrationPending();
}

QList<ImportScanVolume> LibraryShellViewModel::sortedPendingMountedImportSources() const
{
    return sortedInFileBrowserOrder(m_d->shell.pendingMountedImportSources.values(),
                                    [](const ImportScanVolume &volume) { return volume.name; });
}

void LibraryShellViewModel::receiveMountedImportSource(const std::optional<QString> &url)
{
    if (!url)
        return;
    const QString mounted = standardizedPath(*url);
    if (m_d->shell.initialMountedImportSourceURLs.contains(mounted)
        || m_d->shell.dismissedMountedImportSourceURLs.contains(mounted))
        return;
    const quint64 notice = ++m_d->shell.mountNoticeGenerations[mounted];
    completeMountedImportSource(mounted, notice); // runs on when the listing returns
}

QCoro::Task<> LibraryShellViewModel::completeMountedImportSource(QString mounted, quint64 notice)
{
    const QPointer<LibraryShellViewModel> self(this);
    QFuture<Result<QList<ImportScanVolume>>> listing
        = Workflow::run(WorkflowPools::utility(), [detector = m_d->services.volumeDetector] {
              return detector.removableVolumes();
          });
    const std::optional<Result<QList<ImportScanVolume>>> volumes
        = co_await Workflow::resumeIn(self, std::stop_token(), listing);
    // A newer notice for the path (an unmount, or a mount listed again) decides instead, and a
    // proposal of the path dismissed meanwhile stays dismissed.
    if (!volumes || !*volumes || m_d->shell.mountNoticeGenerations.value(mounted) != notice
        || m_d->shell.dismissedMountedImportSourceURLs.contains(mounted))
        co_return;
    const auto volume = std::find_if(
        (*volumes)->cbegin(), (*volumes)->cend(), [&mounted](const ImportScanVolume &each) {
            return standardizedPath(each.url) == mounted;
        });
    if (volume == (*volumes)->cend())
        co_return;
    m_d->shell.pendingMountedImportSources.insert(mounted, *volume);
    if (m_shellState->mountProposal())
        m_shellState->setMountProposal(MountProposal{sortedPendingMountedImportSources()});
    presentPendingMountProposalIfPossible();
}

void LibraryShellViewModel::receiveUnmountedImportSource(const std::optional<QString> &url)
{
    if (!url)
        return;
    const QString unmounted = standardizedPath(*url);
    ++m_d->shell.mountNoticeGenerations[unmounted];
    // Ejected media is forgotten everywhere: inserted again, it is new, also when it was
    // mounted at launch or dismissed.
    m_d->shell.initialMountedImportSourceURLs.remove(unmounted);
    m_d->shell.dismissedMountedImportSourceURLs.remove(unmounted);
    m_d->shell.pendingMountedImportSources.remove(unmounted);
    const std::optional<MountProposal> &shown = m_shellState->mountProposal();
    if (!shown
        || std::none_of(shown->sources.cbegin(),
                        shown->sources.cend(),
                        [&unmounted](const ImportScanVolume &volume) {
                            return standardizedPath(volume.url) == unmounted;
                        }))
        return;
    m_shellState->setMountProposal(std::nullopt);
    presentPendingMountProposalIfPossible();
}

void LibraryShellViewModel::presentPendingMountProposalIfPossible()
{
    if (isBusyForMountProposal() || m_d->shell.pendingMountedImportSources.isEmpty())
        return;
    m_shellState->setMountProposal(MountProposal{sortedPendingMountedImportSources()});
}

void LibraryShellViewModel::acceptMountProposal()
{
    if (!m_shellState->mountProposal())
        return;
    const QList<ImportScanVolume> sources = m_shellState->mountProposal()->sources;
    for (const ImportScanVolume &volume : sources)
        m_d->shell.pendingMountedImportSources.remove(standardizedPath(volume.url));
    m_shellState->setMountProposal(std::nullopt);
    scanSkippingIngestCaches(sources);
}

void LibraryShellViewModel::dismissMountProposal()
{
    if (!m_shellState->mountProposal())
        return;
    for (const ImportScanVolume &volume : m_shellState->mountProposal()->sources) {
        const QString url = standardizedPath(volume.url);
        m_d->shell.pendingMountedImportSources.remove(url);
        m_d->shell.dismissedMountedImportSourceURLs.insert(url);
    }
    m_shellState->setMountProposal(std::nullopt);
}

void LibraryShellViewModel::scanNewlyMountedImportSources()
{
    const QList<ImportScanVolume> sources = sortedPendingMountedImportSources();
    m_d->shell.pendingMountedImportSources.clear();
    m_shellState->setMountProposal(std::nullopt);
    scanSkippingIngestCaches(sources);
}

void LibraryShellViewModel::scanAllRemovableVolumes()
{
    scanSkippingIngestCaches(std::nullopt);
}

void LibraryShellViewModel::scanSkippingIngestCaches(std::optional<QList<ImportScanVolume>> sources)
{
    // A scan that listed cached packages would copy the cache into itself, and the copies'
    // records would take the cache file as their source-media evidence.
    QStringList ingestCaches{m_d->services.ingestCache.rootURL()};
    if (const std::optional<QString> &retained = m_ingestCacheState->retainedIngestCacheURL())
        ingestCaches.append(*retained);
    scanImportSources([builder = ImportReviewBuilder(m_d->services.fileManager),
                       detector = m_d->services.volumeDetector,
                       sources = std::move(sources),
                       ingestCaches](std::stop_token stop) -> Result<ImportReview> {
        if (sources)
            return builder.buildReview(*sources, stop, ingestCaches);
        PELLWICK_TRY_ASSIGN(QList<ImportScanVolume> volumes, detector.removableVolumes());
        return builder.buildReview(volumes, stop, ingestCaches);
    });
}

} // namespace Pellwick
