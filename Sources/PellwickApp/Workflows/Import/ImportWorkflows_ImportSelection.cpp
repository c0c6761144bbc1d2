#include "ImportWorkflows.h"

#include <PellwickApp/Feedback/ImportFeedback.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Support/FileManager.h>

#include <QPointer>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace Pellwick {

namespace {

/// Candidates hashed at once by the production hasher: enough to keep a fast disk busy, few
/// enough not to thrash a card reader or a spinning disk.
constexpr int parallelCandidateChecks = 4;

/// True when `item`'s cached files are gone or no longer hold the bytes recorded for them; the
/// tests in order, the first failing one deciding. Reads the whole RAW original and sidecar.
bool isUnavailableForImport(const LocalLibraryItem &item,
                            const FileManager &files,
                            const ContentHashing &hasher)
{
    if (!item.ingestCacheOriginalURL || !files.fileExists(*item.ingestCacheOriginalURL))
        return true;
    const Result<QString> rawHash = hasher.contentHash(*item.ingestCacheOriginalURL);
    if (!rawHash || *rawHash != item.contentHash)
        return true;
    if (!item.ingestCacheSidecarURL)
        return false;
    if (!files.fileExists(*item.ingestCacheSidecarURL))
        return true;
    const Result<QString> sidecarHash = hasher.contentHash(*item.ingestCacheSidecarURL);
    const std::optional<QString> found
        = sidecarHash ? std::optional<QString>(*sidecarHash) : std::nullopt;
    return found != item.ingestCacheSidecarContentHash;
}

/// One availability answer per candidate, in order. A hasher that allows concurrent calls checks
/// up to `parallelCandidateChecks` candidates at once; any other checks them one by one.
QList<bool> unavailability(const QList<LocalLibraryItem> &candidates,
                           const FileManager &files,
                           const ContentHashing &hasher)
{
    const qsizetype count = candidates.size();
    std::vector<char> unavailable(size_t(count), 0);
    const int workers = int(
        std::min<qsizetype>(hasher.allowsConcurrentCalls() ? parallelCandidateChecks : 1, count));
    std::atomic<qsizetype> next = 0;
    const auto check = [&] {
        for (qsizetype i = next++; i < count; i = next++)
            unavailable[size_t(i)] = isUnavailableForImport(candidates[i], files, hasher) ? 1 : 0;
    };
    {
        std::vector<std::jthread> threads;
        for (int i = 1; i < workers; ++i)
            threads.emplace_back(check);
        check();
    }
    QList<bool> answers;
    for (const char each : unavailable)
        answers.append(each != 0);
    return answers;
}

/// Whether `current`, a record as it is now, still names the files `checked` named when they were
/// found changed, with the bytes recorded for them: a record re-pointed to another copy since
/// then was not the one found changed.
bool namesCheckedFiles(const LocalLibraryItem &current, const LocalLibraryItem &checked)
{
    return current.importStatus == checked.importStatus
           && current.ingestCacheOriginalURL == checked.ingestCacheOriginalURL
           && current.ingestCacheSidecarURL == checked.ingestCacheSidecarURL
           && current.contentHash == checked.contentHash
           && current.ingestCacheSidecarContentHash == checked.ingestCacheSidecarContentHash;
}

/// What a confirmed import will carry to the archive.
struct ImportSize
{
    int packageCount = 0;
    qint64 byteCount = 0;
    /// The packages counted.
    QSet<QUuid> items;
};

/// What the check of the candidates found: the unavailable ones, or the review of all.
struct CandidateCheck
{
    QList<LocalLibraryItem> unavailable;
    ImportReview review;
};

} // namespace

std::optional<QList<LocalLibraryItem>>
ImportWorkflows::selectedImportCandidates(const QSet<QUuid> &resumed)
{
    const QList<LocalLibraryItem> records
        = m_services.localLibraryCache.readItems().value_or(QList<LocalLibraryItem>());
    const QSet<QUuid> &selection = m_libraryState.selectedLibraryItemIDs();
    QList<LocalLibraryItem> candidates;
    QSet<QUuid> found;
    for (const LocalLibraryItem &record : records) {
        if (!selection.contains(record.id))
            continue;
        found.insert(record.id);
        // As `canStartImport` counts them: a package outside the active cache is not offered.
        // A package the run has just carried on is done (or failed) with: not a second time,
        // and its new status is no change of the selection.
        if (m_ingestCache.isInActiveIngestCache(record) && !resumed.contains(record.id))
            candidates.append(record);
    }
    const bool allReady
        = std::all_of(candidates.cbegin(), candidates.cend(), [](const LocalLibraryItem &item) {
              return item.importStatus == LibraryItemImportStatus::LocalCacheReady;
          });
    if (found != selection || !allReady) {
        invalidateSelectedImport();
        return std::nullopt;
    }
    return candidates;
}

QCoro::Task<std::optional<ImportWorkflows::SelectedImportPlan>>
ImportWorkflows::selectedImportPlan(QSet<QUuid> resumed)
{
    const QPointer<ImportWorkflows> self(this);
    // A record found changed that was re-pointed to another copy before it could be marked is
    // checked again as it is now; records cannot keep changing under a starting import for long.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (isIngestCacheMigrationPending() || !m_sessionState.session())
            co_return std::nullopt;
        const QString token = m_sessionState.session()->token;
        const std::optional<QList<LocalLibraryItem>> candidates = selectedImportCandidates(resumed);
        if (!candidates || candidates->isEmpty())
            co_return std::nullopt;

        QFuture<Result<CandidateCheck>> job
            = Workflow::run(WorkflowPools::userInitiated(),
                            [items = *candidates,
                             files = m_services.fileManager,
                             hasher = m_services.contentHasher]() -> Result<CandidateCheck> {
                                CandidateCheck check;
                                const QList<bool> answers = unavailability(items, *files, *hasher);
                                for (qsizetype i = 0; i < items.size(); ++i) {
                                    if (answers[i])
                                        check.unavailable.append(items[i]);
                                }
                                if (check.unavailable.isEmpty())
                                    check.review = importReview(items, *files);
                                return check;
                            });
        const std::optional<Result<CandidateCheck>> checked
            = co_await Workflow::resumeIn(self, m_importerRuns.token(), job);
        if (!checked || !*checked)
            co_return std::nullopt;
        if ((*checked)->unavailable.isEmpty())
            co_return SelectedImportPlan{token, *candidates, (*checked)->review};
        const bool marked = co_await recordUnavailableImportItems((*checked)->unavailable);
        if (!self || marked)
            co_return std::nullopt;
    }
    co_return std::nullopt;
}

void ImportWorkflows::invalidateSelectedImport()
{
    m_libraryState.setSelectedLibraryItemIDs({});
    m_state.setImportSelectionConfirmation(std::nullopt);
    m_state.setImportErrorMessage(ImportFeedback::selectedCacheFilesChangedMessage());
    m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
}

QCoro::Task<bool> ImportWorkflows::recordUnavailableImportItems(QList<LocalLibraryItem> items)
{
    const QPointer<ImportWorkflows> self(this);
    QFuture<Result<QSet<QUuid>>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [items, library = m_services.localLibraryCache]() -> Result<QSet<QUuid>> {
            return library.withExclusiveAccess([&]() -> Result<QSet<QUuid>> {
                PELLWICK_TRY_ASSIGN(const QList<LocalLibraryItem> current, library.readItems());
                QSet<QUuid> marked;
                for (const LocalLibraryItem &checked : items) {
                    const auto now = std::find_if(
                        current.cbegin(), current.cend(), [&](const LocalLibraryItem &record) {
                            return record.id == checked.id;
                        });
                    if (now == current.cend() || !namesCheckedFiles(*now, checked))
                        continue;
                    // One by one: a failed write leaves that record as it was, and the others
                    // go on.
                    Q_UNUSED(library.updateImportStatus(checked.id,
                                                        LibraryItemImportStatus::NeedsAttention));
                    marked.insert(checked.id);
                }
                return marked;
            });
        });
    const std::optional<Result<QSet<QUuid>>> marked = co_await Workflow::resumeIn(self, {}, job);
    if (!marked)
        co_return false;
    QSet<QUuid> ids;
    if (*marked) {
        ids = **marked;
        if (ids.isEmpty())
            co_return false;
    } else { // an unreadable library: the records stay as they were, found changed all the same
        for (const LocalLibraryItem &item : std::as_const(items))
            ids.insert(item.id);
    }
    QSet<QUuid> selection = m_libraryState.selectedLibraryItemIDs();
    selection.subtract(ids);
    m_libraryState.setSelectedLibraryItemIDs(selection);
    m_state.setImportErrorMessage(ImportFeedback::selectedCacheFilesChangedMessage());
    m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
    co_return true;
}

QCoro::Task<> ImportWorkflows::requestSelectedImportConfirmation()
{
    // A move would leave the confirmed import without a plan.
    if (runningWork().excludes(Work::ConfirmedImport))
        co_return;
    const std::optional<QList<LocalLibraryItem>> candidates = selectedImportCandidates();
    if (!candidates || candidates->isEmpty())
        co_return;
    const QPointer<ImportWorkflows> self(this);
    // The run first carries on the packages a failed run left unfinished: the dialog counts
    // them with the selection, each once.
    QFuture<Result<ImportSize>> sizes = Workflow::run(
        WorkflowPools::utility(),
        [items = *candidates,
         files = m_services.fileManager,
         importer = m_services.verifiedBackupImporter,
         resumes = m_isImportRecoveryDue] {
            const auto sizeOf = [&files](const std::optional<QString> &path) -> qint64 {
                if (!path)
                    return 0;
                const Result<FileAttributes> attributes = files->attributesOfItem(*path);
                return attributes ? attributes->size : 0;
            };
            ImportSize size{int(items.size()), 0, {}};
            QSet<QUuid> counted;
            for (const LocalLibraryItem &item : items) {
                size.byteCount
                    += sizeOf(item.ingestCacheOriginalURL) + sizeOf(item.ingestCacheSidecarURL);
                counted.insert(item.id);
            }
            const QList<StagedImportRecord> resumed
                = resumes ? importer.resumableRecords().value_or(QList<StagedImportRecord>())
                          : QList<StagedImportRecord>();
            for (const StagedImportRecord &record : resumed) {
                if (counted.contains(record.localLibraryItemID))
                    continue;
                counted.insert(record.localLibraryItemID);
                ++size.packageCount;
                size.byteCount += record.byteCount + record.sidecarByteCount;
            }
            size.items = std::move(counted);
            return Result<ImportSize>(size);
        });
    const std::optional<Result<ImportSize>> size = co_await Workflow::resumeIn(self, {}, sizes);
    // An import that started meanwhile has taken the selection.
    if (!size || !*size || !m_sessionState.session()
        || runningWork().excludes(Work::ConfirmedImport))
        co_return;
    m_confirmedImportItemIDs = (*size)->items;
    m_state.setImportSelectionConfirmation(ImportSelectionConfirmation{
        (*size)->packageCount,
        (*size)->byteCount,
        m_sessionState.session()->library.remainingStorageBytes(),
    });
}

} // namespace Pellwick
