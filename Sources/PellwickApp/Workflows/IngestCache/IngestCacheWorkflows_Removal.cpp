#include "IngestCacheWorkflows.h"

#include <PellwickApp/Feedback/IngestCacheFeedback.h>
#include <PellwickApp/Shell/RunningWork.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Workflows/Library/LibrarySelection.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Import/IngestCachePackageRemover.h>
#include <PellwickCore/Support/FileManager.h>

#include <QFuture>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUuid>

#include <limits>
#include <optional>

namespace Pellwick {

namespace {

/// The on-disk size of the files of `items`, RAW original and sidecar; a missing URL or a file
/// that cannot be examined counts 0. The sum saturates.
qint64 packageBytes(const FileManager &files, const QList<LocalLibraryItem> &items)
{
    qint64 total = 0;
    for (const LocalLibraryItem &item : items) {
        for (const std::optional<QString> &url :
             {item.ingestCacheOriginalURL, item.ingestCacheSidecarURL}) {
            const Result<FileAttributes> attributes
                = url ? files.attributesOfItem(*url) : Result<FileAttributes>();
            const qint64 size = attributes ? std::max<qint64>(attributes->size, 0) : 0;
            total = size > std::numeric_limits<qint64>::max() - total
                        ? std::numeric_limits<qint64>::max()
                        : total + size;
        }
    }
    return total;
}

} // namespace

bool IngestCacheWorkflows::isIngestCacheRemovalBlocked() const
{
    return RunningWork::of(m_importState, m_state).excludes(Work::PackageRemoval);
}

QList<LocalLibraryItem> IngestCacheWorkflows::selectedRemovableIngestCacheItems() const
{
    if (isIngestCacheRemovalBlocked())
        return {};
    const LocalLibraryCacheRecords records = m_libraryWorkflows.allLocalLibraryRecords();
    return LibrarySelection::memoised(
        m_selectedRemovableIngestCacheItemsMemo,
        records,
        m_libraryState.selectedLibraryItemIDs(),
        [&] {
            return LibrarySelection::selectedRecords(
                records, m_libraryState.selectedLibraryItemIDs(), [](const LocalLibraryItem &item) {
                    return (item.importStatus == LibraryItemImportStatus::LocalCacheReady
                            || item.importStatus == LibraryItemImportStatus::NeedsAttention)
                           && item.ingestCacheOriginalURL.has_value();
                });
        });
}

QCoro::Task<> IngestCacheWorkflows::requestSelectedIngestCacheRemovalConfirmation()
{
    const QList<LocalLibraryItem> items = selectedRemovableIngestCacheItems();
    if (items.isEmpty())
        co_return;
    const QPointer<IngestCacheWorkflows> self(this);
    QFuture<Result<qint64>> job
        = Workflow::run(WorkflowPools::utility(), [files = m_services.fileManager, items] {
              return Result<qint64>(packageBytes(*files, items));
          });
    const std::optional<Result<qint64>> bytes = co_await Workflow::resumeIn(self, {}, job);
    // An import, a recovery or a move that began while the sizes were read leaves nothing to
    // confirm.
    if (!bytes || isIngestCacheRemovalBlocked())
        co_return;
    QSet<QUuid> ids;
    for (const LocalLibraryItem &item : items)
        ids.insert(item.id);
    m_state.setIngestCacheRemovalConfirmation(
        IngestCacheRemovalConfirmation{int(items.size()), bytes->value_or(0), std::move(ids)});
}

QCoro::Task<>
IngestCacheWorkflows::removeSelectedIngestCachePackages(IngestCacheRemovalConfirmation confirmation)
{
    const std::optional<AuthenticatedLibrarySession> session = m_sessionState.session();
    if (!session)
        co_return;
    // A record that changed since the dialog (an upload that failed meanwhile) was not confirmed;
    // while the removal is blocked there is none.
    QSet<QUuid> ids;
    for (const LocalLibraryItem &item : selectedRemovableIngestCacheItems()) {
        if (confirmation.confirmedItemIDs.contains(item.id))
            ids.insert(item.id);
    }
    if (ids.isEmpty())
        co_return;

    beginImportingWork();
    const Services &services = m_services;
    const QPointer<IngestCacheWorkflows> self(this);
    QFuture<Result<QSet<QUuid>>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [remover = IngestCachePackageRemover(services.localLibraryCache,
                                                             services.stagingArea,
                                                             services.ingestCache,
                                                             services.sessionClient),
                         ids,
                         token = session->token] { return remover.removePackages(ids, token); });
    const std::optional<Result<QSet<QUuid>>> removed = co_await Workflow::resumeIn(self, {}, job);
    if (!removed)
        co_return;
    if (*removed) {
        QSet<QUuid> selection = m_libraryState.selectedLibraryItemIDs();
        selection.subtract(**removed);
        m_libraryState.setSelectedLibraryItemIDs(std::move(selection));
        m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
        clearSettledChangedFilesMessage();
        const qsizetype count = (*removed)->size();
        m_importState.setImportSuccessMessage(IngestCacheFeedback::removedPackagesMessage(count));
        endImportingWork();
        drainPendingIngestCacheRefresh();
        co_return;
    }
    endImportingWork();
    drainPendingIngestCacheRefresh();
    m_importState.setImportErrorMessage(IngestCacheFeedback::removalNeedsAttentionMessage());
    m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
    // The packages removed before the failure are gone with their records.
    clearSettledChangedFilesMessage();
}

} // namespace Pellwick
