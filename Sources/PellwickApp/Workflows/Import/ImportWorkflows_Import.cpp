#include "ImportWorkflows.h"

#include <PellwickApp/Feedback/ImportFeedback.h>
#include <PellwickApp/Feedback/IngestCacheFeedback.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/TransferProgressBoard.h>
#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Support/FileManager.h>

#include <QDir>
#include <QHash>
#include <QPointer>

#include <algorithm>

namespace Pellwick {

namespace {

const QString ingestCacheSourceName = QStringLiteral("Ingest Cache");

} // namespace

void ImportWorkflows::scanImportSources(ImportScanOperation operation)
{
    if (m_importScanTask)
        m_importScanTask->cancel();
    m_state.setIsScanningImportSources(true);
    m_importScanTask.emplace();
    const std::stop_token stop = m_importScanTask->token();
    const QPointer<ImportWorkflows> self(this);
    QFuture<Result<ImportReview>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [operation = std::move(operation), stop] { return operation(stop); });
    // A coroutine taking values only; started here and not awaited.
    [](QPointer<ImportWorkflows> workflows,
       std::stop_token token,
       QFuture<Result<ImportReview>> scanning) -> QCoro::Task<> {
        const std::optional<Result<ImportReview>> outcome
            = co_await Workflow::resumeIn(workflows, token, scanning);
        // A replaced scan publishes nothing: the flag now belongs to the scan that replaced it.
        if (!outcome)
            co_return;
        ImportState &state = workflows->m_state;
        if (*outcome) {
            ++workflows->m_importReviewRevision;
            state.setImportReviewState(ImportReviewState{**outcome, false});
            state.setImportErrorMessage(std::nullopt);
        } else {
            state.setImportReviewState(ImportReviewState{});
            state.setImportErrorMessage(ImportFeedback::importReviewFailedMessage());
        }
        state.setIsScanningImportSources(false);
    }(self, stop, std::move(job));
}

void ImportWorkflows::scanFolder(QString path)
{
    scanSkippingIngestCaches(QList{ImportScanVolume{lastPathComponent(path), path, std::nullopt}});
}

QCoro::Task<> ImportWorkflows::addReviewToIngestCache()
{
    if (runningWork().excludes(Work::AddToIngestCache) || !m_state.importReviewState().review)
        co_return;
    // Held across the gate too: a second Add (a double click, or Add during "Create Here")
    // would copy the review twice.
    m_isAddingReviewToIngestCache = true;
    const QPointer<ImportWorkflows> self(this);
    const bool gateAsked = co_await requestInitialIngestCacheCreationIfNeeded();
    if (!self)
        co_return;
    // Copies into the bare mount point of a drive that is away would hide beneath the drive.
    Result<bool> there = true;
    if (!gateAsked) {
        QFuture<Result<bool>> holding = m_ingestCache.holdIngestCacheFolder();
        std::optional<Result<bool>> held = co_await Workflow::resumeIn(self, {}, holding);
        if (!held)
            co_return;
        there = std::move(*held);
    }
    // Work that began during the gate, this Add aside.
    const bool excluded
        = RunningWork::of(m_state, m_ingestCacheState).excludes(Work::AddToIngestCache);
    if (gateAsked || excluded || !m_state.importReviewState().review) {
        m_isAddingReviewToIngestCache = false;
        co_return;
    }
    if (!there || !*there) {
        m_isAddingReviewToIngestCache = false;
        m_state.setImportErrorMessage(
            there ? IngestCacheFeedback::folderAwayMessage(m_ingestCache.ingestCache().rootURL())
                  : m_ingestCache.ingestCacheFolderFailureMessage(
                      there.error(), ImportFeedback::ingestCacheCopyNeedsAttentionMessage()));
        co_return;
    }

    const ImportReview review = *m_state.importReviewState().review;
    const qint64 reviewRevision = m_importReviewRevision;
    const QUuid transferID = QUuid::createUuid();
    m_board.open(transferID);
    m_board.update(TransferProgress{transferID,
                                    IngestCache::copyOperationName,
                                    TransferProgressPhase::Preparing,
                                    std::nullopt,
                                    std::nullopt,
                                    std::nullopt,
                                    std::nullopt,
                                    0,
                                    review.totalSupportedBytes(),
                                    0,
                                    review.candidateCount()});
    // A refresh already scanning would see the batch mid-copy and mark its files as needing
    // attention: its result is dropped, and the drain at the end runs it again.
    m_ingestCache.ingestCacheRefreshGeneration()->advance();
    m_ingestCache.beginImportingWork();

    m_addToIngestCacheTask.emplace();
    const std::stop_token stop = m_addToIngestCacheTask->token();
    QFuture<Result<QList<IngestCacheCopy>>> copyJob = Workflow::run(
        WorkflowPools::userInitiated(),
        [cache = m_ingestCache.ingestCache(), review, progress = m_board.sink(), transferID, stop] {
            return cache.copy(review, progress, transferID, stop);
        });
    const std::optional<Result<QList<IngestCacheCopy>>> copied
        = co_await Workflow::resumeIn(self, stop, copyJob);
    if (!copied)
        co_return; // the view model is gone; the batch keeps its marker for the next Add

    std::optional<Error> failed;
    std::optional<Result<IngestCacheCopyRecords>> stored;
    if (*copied) {
        QFuture<Result<IngestCacheCopyRecords>> storeJob = Workflow::run(
            WorkflowPools::userInitiated(),
            [copies = **copied,
             cache = m_ingestCache.ingestCache(),
             hasher = m_services.contentHasher,
             extractor = m_services.verifiedBackupImporter.metadataExtractor(),
             files = m_services.fileManager,
             library = m_services.localLibraryCache] {
                return library.addIngestCacheCopies(copies, cache, files, *hasher, *extractor);
            });
        stored = co_await Workflow::resumeIn(self, stop, storeJob);
        if (!stored)
            co_return;
        if (!*stored)
            failed = stored->error();
    } else {
        failed = copied->error();
    }
    std::optional<Result<IngestCacheWorkflows::ArchivedCacheCleanup>> cleanup;
    if (!failed) {
        const std::optional<QList<LocalLibraryItem>> added = (*stored)->records;
        cleanup = co_await m_ingestCache.cleanupArchivedCachePackages(added);
        if (!self)
            co_return;
        if (!*cleanup)
            failed = cleanup->error();
    }
    // A copy verified anew against its card mends a record whose cached files had changed.
    if (stored && *stored)
        m_ingestCache.clearSettledChangedFilesMessage();
    if (failed) {
        finishAddToIngestCache(transferID);
        const QString otherwise = ImportFeedback::ingestCacheCopyNeedsAttentionMessage();
        if (!*copied)
            m_state.setImportErrorMessage(IngestCacheFeedback::copyFailedMessage(
                *failed, m_ingestCache.ingestCache().rootURL(), otherwise));
        else if (!*stored) { // the copies are complete; only their records were not saved
            const QString unrecorded = IngestCacheFeedback::copiesNotRecordedMessage(
                *failed,
                m_services.localLibraryCache.rootURL(),
                m_ingestCache.ingestCache().rootURL(),
                otherwise);
            m_state.setImportErrorMessage(unrecorded);
            m_ingestCache.noteUnrecordedCopiesMessage(unrecorded);
        } else
            m_state.setImportErrorMessage(IngestCacheFeedback::message(*failed, otherwise));
        co_return;
    }

    m_ingestCache.scheduleCacheCleanupRetryIfNeeded((*cleanup)->pendingCount);
    m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
    // Copies of files the archive already holds were removed again (or will be, once their
    // cleanup succeeds): they were not added.
    qint64 alreadyArchived = (*cleanup)->pendingCount;
    for (const LocalLibraryItem &record : std::as_const((*stored)->records))
        alreadyArchived += (*cleanup)->removedItemIDs.contains(record.id) ? 1 : 0;
    // Photos the cache held already, byte for byte, are held once: the earlier copies went.
    const qint64 alreadyHeld = (*stored)->alreadyHeldCount;
    const qint64 added
        = std::max<qint64>(0, (*stored)->records.size() - alreadyArchived - alreadyHeld);
    // A review scanned during the copy is not the one added: it stays.
    if (m_importReviewRevision == reviewRevision)
        m_state.setImportReviewState(ImportReviewState{});
    m_state.setImportSuccessMessage(
        ImportFeedback::addedToIngestCacheMessage(added, alreadyArchived, alreadyHeld));
    finishAddToIngestCache(transferID);
}

void ImportWorkflows::finishAddToIngestCache(const QUuid &transferID)
{
    m_addToIngestCacheTask.reset();
    m_isAddingReviewToIngestCache = false;
    m_ingestCache.endImportingWork();
    m_board.remove(transferID);
    m_ingestCache.drainPendingIngestCacheRefresh();
}

ImportReview ImportWorkflows::importReview(const QList<LocalLibraryItem> &items) const
{
    return importReview(items, *m_services.fileManager);
}

ImportReview ImportWorkflows::importReview(const QList<LocalLibraryItem> &items,
                                           const FileManager &files)
{
    ImportReview review;
    QSet<QString> grouped;
    for (const LocalLibraryItem &item : items) {
        const QString name = item.ingestSourceName.value_or(ingestCacheSourceName);
        if (grouped.contains(name))
            continue;
        grouped.insert(name);
        if (item.ingestCacheOriginalURL)
            review.volumes.append(
                ImportScanVolume{name, parentPath(*item.ingestCacheOriginalURL), std::nullopt});
    }
    for (const LocalLibraryItem &item : items) {
        if (std::optional<ImportReviewItem> reviewItem = importReviewItem(item, files))
            review.items.append(std::move(*reviewItem));
    }
    return review;
}

std::optional<ImportReviewItem> ImportWorkflows::importReviewItem(const LocalLibraryItem &item,
                                                                  const FileManager &files)
{
    if (!item.ingestCacheOriginalURL)
        return std::nullopt;
    const Result<FileAttributes> original = files.attributesOfItem(*item.ingestCacheOriginalURL);
    if (!original)
        return std::nullopt;
    std::optional<ImportReviewSidecar> sidecar;
    if (item.ingestCacheSidecarURL) {
        if (const Result<FileAttributes> attributes
            = files.attributesOfItem(*item.ingestCacheSidecarURL))
            sidecar = ImportReviewSidecar{*item.ingestCacheSidecarURL,
                                          lastPathComponent(*item.ingestCacheSidecarURL),
                                          attributes->size};
    }
    // The item's id stays its URL, as for every review item.
    return ImportReviewItem(item.ingestSourceName.value_or(ingestCacheSourceName),
                            *item.ingestCacheOriginalURL,
                            item.originalFilename,
                            original->size,
                            ImportReviewItemStatus::supported(),
                            std::move(sidecar),
                            item.sourceRelativePath);
}

} // namespace Pellwick
