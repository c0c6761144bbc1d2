#include "LibraryShellViewModel_p.h"

#include <PellwickCore/Ingest/CacheRelativePath.h>
#include <PellwickCore/Ingest/CanonicalFilenameGenerator.h>
#include <PellwickCore/Library/LibraryPresentation.h>
#include <PellwickCore/Support/Overloaded.h>

#include <QDir>
#include <QHash>
#include <QPointer>

namespace Pellwick {

namespace {

const QString ingestCacheSourceName = QStringLiteral("Ingest Cache");

/// The record of one cached item, its canonical filename not yet chosen (`nameCachedRecords`);
/// see `LibraryShellViewModel::cachedLibraryItem`.
Result<LocalLibraryItem> makeCachedLibraryItem(const ImportReviewItem &item,
                                               const IngestCacheCopy *sourceCopy,
                                               const QString &cacheRoot,
                                               const ContentHashing &hasher,
                                               const PhotoMetadataExtracting &metadataExtractor)
{
    PELLWICK_TRY_ASSIGN(QString contentHash, hasher.contentHash(item.url));
    std::optional<QString> sidecarHash;
    if (item.sidecar) {
        PELLWICK_TRY_ASSIGN(QString hash, hasher.contentHash(item.sidecar->url));
        sidecarHash = std::move(hash);
    }
    std::optional<SourceMediaEvidence> evidence;
    if (sourceCopy) {
        if (const std::optional<QString> rawPath
            = CacheRelativePath::value(item.url, sourceCopy->sourceFolderURL)) {
            evidence = SourceMediaEvidence{
                .sourceRootURL = sourceCopy->sourceRootURL,
                .sourceIdentity = sourceCopy->sourceIdentity,
                .rawRelativePath = *rawPath,
                .rawContentHash = contentHash,
                .sidecarRelativePath = item.sidecar ? CacheRelativePath::value(
                                           item.sidecar->url, sourceCopy->sourceFolderURL)
                                                    : std::nullopt,
                .sidecarContentHash = sidecarHash,
                .safety = SourceMediaSafety::Current,
            };
        }
    }
    const Result<PhotoMetadata> metadata = metadataExtractor.metadata(item.url);
    return LocalLibraryItem{
        .id = QUuid::createUuid(),
        .originalFilename = item.filename,
        .canonicalFilename = item.filename,
        .contentHash = contentHash,
        .archiveByteCount = item.supportedByteCount(),
        .archiveSidecarFilename = std::nullopt,
        .archiveSidecarByteCount = std::nullopt,
        .archiveSidecarContentHash = std::nullopt,
        .importDate = Date::now(),
        .importStatus = LibraryItemImportStatus::LocalCacheReady,
        .backendLibraryItemID = std::nullopt,
        .restoreStatus = std::nullopt,
        .restoreAttentionReason = std::nullopt,
        .ingestCacheOriginalURL = item.url,
        .ingestCacheSidecarURL
        = item.sidecar ? std::optional<QString>(item.sidecar->url) : std::nullopt,
        .ingestCacheSidecarContentHash = sidecarHash,
        .ingestSourceName = item.volumeName,
        .sourceRelativePath = item.sourceRelativePath,
        .sourceMediaEvidence = std::move(evidence),
        .cacheRelativePath = CacheRelativePath::value(item.url, cacheRoot),
        .metadata = metadata ? *metadata : PhotoMetadata::unknown(),
        .preview = LocalPreviewState::failed(QStringLiteral("Generated when Import starts")),
    };
}

/// Gives each record a canonical filename unused in `library` and in the batch. Run it under the
/// library's exclusive access, with the write of the records.
Result<void> nameCachedRecords(QList<LocalLibraryItem> &records, const LocalLibraryCache &library)
{
    PELLWICK_TRY_ASSIGN(const LocalLibraryCacheRecords current, library.cachedRecords());
    QSet<QString> used = current.canonicalFilenames();
    for (LocalLibraryItem &record : records)
        record.canonicalFilename = CanonicalFilenameGenerator::canonicalFilename(
            record.originalFilename,
            record.metadata,
            record.contentHash.left(CanonicalFilenameGenerator::shortContentHashLength),
            used);
    return {};
}

/// The hashes of the records of a copy-in. A file the copy-in verified, still with the attributes
/// it had when its bytes were read for that digest, takes the digest, when `hasher` computes
/// SHA-256 too; any other file, and any file with a hasher of another kind, is hashed by `hasher`.
class CopyInVerifiedHashes final : public ContentHashing
{
public:
    CopyInVerifiedHashes(const ContentHashing &hasher,
                         const FileManager &files,
                         const QList<IngestCacheCopy> &copies)
        : m_hasher(hasher)
        , m_files(files)
        , m_copies(copies)
    {}

    Result<QString> contentHash(const QString &path, std::stop_token stop) const override
    {
        if (m_hasher.hashIsSha256OfContent()) {
            const QString key = QDir::cleanPath(path);
            for (const IngestCacheCopy &copy : m_copies) {
                const auto found = copy.verifiedFiles.constFind(key);
                if (found == copy.verifiedFiles.cend())
                    continue;
                const Result<FileAttributes> now = m_files.attributesOfItem(path);
                if (now && *now == found->attributes)
                    return found->contentHash;
                break;
            }
        }
        return m_hasher.contentHash(path, stop);
    }

    bool allowsConcurrentCalls() const override { return m_hasher.allowsConcurrentCalls(); }

    bool hashIsSha256OfContent() const override { return m_hasher.hashIsSha256OfContent(); }

private:
    const ContentHashing &m_hasher;
    const FileManager &m_files;
    const QList<IngestCacheCopy> &m_copies;
};

/// Steps 6 to 9 of Add to Ingest Cache, on a worker thread: the review of what was copied, one
/// record per supported item and the upsert. Each item takes the copy whose batch folder holds
/// it: two cards with one volume name are two copies with one source name. The hashes the copy-in
/// verified stand in for hashing the copies again (see `CopyInVerifiedHashes`).
Result<QList<LocalLibraryItem>> storeCachedRecords(const QList<IngestCacheCopy> &copies,
                                                   const ImportReviewBuilder &builder,
                                                   const QString &cacheRoot,
                                                   const ContentHashing &workflowHasher,
                                                   const PhotoMetadataExtracting &metadataExtractor,
                                                   const FileManager &files,
                                                   const LocalLibraryCache &library)
{
    const CopyInVerifiedHashes hasher(workflowHasher, files, copies);
    QList<ImportScanVolume> volumes;
    for (const IngestCacheCopy &copy : copies)
        volumes.append(ImportScanVolume{copy.sourceName, copy.sourceFolderURL, std::nullopt});
    PELLWICK_TRY_ASSIGN(ImportReview cached, builder.buildReview(volumes));
    QList<LocalLibraryItem> records;
    for (const ImportReviewItem &item : std::as_const(cached.items)) {
        if (!item.status.isSupported())
            continue;
        const auto copy
            = std::find_if(copies.cbegin(), copies.cend(), [&item](const IngestCacheCopy &each) {
                  return CacheRelativePath::value(item.url, each.sourceFolderURL).has_value();
              });
        PELLWICK_TRY_ASSIGN(LocalLibraryItem record,
                            makeCachedLibraryItem(item,
                                                  copy != copies.cend() ? &*copy : nullptr,
                                                  cacheRoot,
                                                  hasher,
                                                  metadataExtractor));
        records.append(std::move(record));
    }
    return library.withExclusiveAccess([&]() -> Result<QList<LocalLibraryItem>> {
        PELLWICK_TRY(nameCachedRecords(records, library));
        return library.upsertIngestCacheItems(records);
    });
}

} // namespace

void LibraryShellViewModel::scanImportSources(ImportScanOperation operation)
{
    if (m_d->imports.importScanTask)
        m_d->imports.importScanTask->cancel();
    m_importState->setIsScanningImportSources(true);
    m_d->imports.importScanTask.emplace();
    const std::stop_token stop = m_d->imports.importScanTask->token();
    const QPointer<LibraryShellViewModel> self(this);
    QFuture<Result<ImportReview>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [operation = std::move(operation), stop] { return operation(stop); });
    // A coroutine taking values only; started here and not awaited.
    [](QPointer<LibraryShellViewModel> viewModel,
       std::stop_token token,
       QFuture<Result<ImportReview>> scanning) -> QCoro::Task<> {
        const std::optional<Result<ImportReview>> outcome
            = co_await Workflow::resumeIn(viewModel, token, scanning);
        // A replaced scan publishes nothing: the flag now belongs to the scan that replaced it.
        if (!outcome)
            co_return;
        ImportState &state = viewModel->importState();
        if (*outcome) {
            ++viewModel->m_d->imports.importReviewRevision;
            state.setImportReviewState(ImportReviewState{**outcome, false});
            state.setImportErrorMessage(std::nullopt);
        } else {
            state.setImportReviewState(ImportReviewState{});
            state.setImportErrorMessage(QStringLiteral("Import review failed"));
        }
        state.setIsScanningImportSources(false);
    }(self, stop, std::move(job));
}

void LibraryShellViewModel::scanFolder(QString path)
{
    scanSkippingIngestCaches(QList{ImportScanVolume{lastPathComponent(path), path, std::nullopt}});
}

QCoro::Task<> LibraryShellViewModel::addReviewToIngestCache()
{
    if (m_d->imports.isAddingReviewToIngestCache || isIngestCacheMigrationPending()
        || !m_importState->importReviewState().review)
        co_return;
    // Held across the gate too: a second Add (a double click, or Add during "Create Here")
    // would copy the review twice.
    m_d->imports.isAddingReviewToIngestCache = true;
    const QPointer<LibraryShellViewModel> self(this);
    const bool gateAsked = co_await requestInitialIngestCacheCreationIfNeeded();
    if (!self)
        co_return;
    if (gateAsked || isIngestCacheMigrationPending()
        || !m_importState->importReviewState().review) {
        m_d->imports.isAddingReviewToIngestCache = false;
        co_return;
    }

    const ImportReview review = *m_importState->importReviewState().review;
    const qint64 reviewRevision = m_d->imports.importReviewRevision;
    const QUuid transferID = QUuid::createUuid();
    m_board->open(transferID);
    m_board->update(TransferProgress{transferID,
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
    m_d->ingestCache.ingestCacheRefreshGeneration->advance();
    beginImportingWork();

    m_d->imports.addToIngestCacheTask.emplace();
    const std::stop_token stop = m_d->imports.addToIngestCacheTask->token();
    QFuture<Result<QList<IngestCacheCopy>>> copyJob = Workflow::run(
        WorkflowPools::userInitiated(),
        [cache = m_d->services.ingestCache, review, progress = m_board->sink(), transferID, stop] {
            return cache.copy(review, progress, transferID, stop);
        });
    const std::optional<Result<QList<IngestCacheCopy>>> copied
        = co_await Workflow::resumeIn(self, stop, copyJob);
    if (!copied)
        co_return; // the view model is gone; the batch keeps its marker for the next Add

    std::optional<Error> failed;
    std::optional<Result<QList<LocalLibraryItem>>> stored;
    if (*copied) {
        QFuture<Result<QList<LocalLibraryItem>>> storeJob = Workflow::run(
            WorkflowPools::userInitiated(),
            [copies = **copied,
             builder = ImportReviewBuilder(m_d->services.fileManager),
             cacheRoot = m_d->services.ingestCache.rootURL(),
             hasher = m_d->services.contentHasher,
             extractor = m_d->services.verifiedBackupImporter.metadataExtractor(),
             files = m_d->services.fileManager,
             library = m_d->services.localLibraryCache] {
                return storeCachedRecords(
                    copies, builder, cacheRoot, *hasher, *extractor, *files, library);
            });
        stored = co_await Workflow::resumeIn(self, stop, storeJob);
        if (!stored)
            co_return;
        if (!*stored)
            failed = stored->error();
    } else {
        failed = copied->error();
    }
    std::optional<Result<ArchivedCacheCleanup>> cleanup;
    if (!failed) {
        const std::optional<QList<LocalLibraryItem>> added = **stored;
        cleanup = co_await cleanupArchivedCachePackages(added);
        if (!self)
            co_return;
        if (!*cleanup)
            failed = cleanup->error();
    }
    if (failed) {
        finishAddToIngestCache(transferID);
        const IngestCacheError *cacheError = failed->as<IngestCacheError>();
        m_importState->setImportErrorMessage(
            cacheError ? ingestCacheMessage(*cacheError)
                       : QStringLiteral("Ingest Cache copy needs attention"));
        co_return;
    }

    scheduleCacheCleanupRetryIfNeeded((*cleanup)->pendingCount);
    m_library->refreshVisibleLocalLibraryItems(true);
    qint64 added = 0;
    for (const IngestCacheCopy &copy : std::as_const(**copied))
        added += copy.copiedPackageCount;
    // A review scanned during the copy is not the one added: it stays.
    if (m_d->imports.importReviewRevision == reviewRevision)
        m_importState->setImportReviewState(ImportReviewState{});
    m_importState->setImportSuccessMessage(QStringLiteral("Added ") + QString::number(added)
                                           + QStringLiteral(" files to Ingest Cache"));
    finishAddToIngestCache(transferID);
}

void LibraryShellViewModel::finishAddToIngestCache(const QUuid &transferID)
{
    m_d->imports.addToIngestCacheTask.reset();
    m_d->imports.isAddingReviewToIngestCache = false;
    endImportingWork();
    m_board->remove(transferID);
    drainPendingIngestCacheRefresh();
}

ImportReview LibraryShellViewModel::importReview(const QList<LocalLibraryItem> &items) const
{
    return importReview(items, *m_d->services.fileManager);
}

ImportReview LibraryShellViewModel::importReview(const QList<LocalLibraryItem> &items,
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

std::optional<ImportReviewItem>
LibraryShellViewModel::importReviewItem(const LocalLibraryItem &item, const FileManager &files)
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

Result<LocalLibraryItem>
LibraryShellViewModel::cachedLibraryItem(const ImportReviewItem &item,
                                         const IngestCacheCopy *sourceCopy) const
{
    const LocalLibraryCache &library = m_d->services.localLibraryCache;
    PELLWICK_TRY_ASSIGN(
        LocalLibraryItem record,
        makeCachedLibraryItem(item,
                              sourceCopy,
                              m_d->services.ingestCache.rootURL(),
                              *m_d->services.contentHasher,
                              *m_d->services.verifiedBackupImporter.metadataExtractor()));
    QList<LocalLibraryItem> named{std::move(record)};
    PELLWICK_TRY(nameCachedRecords(named, library));
    return named.constFirst();
}

QString LibraryShellViewModel::ingestCacheMessage(const IngestCacheError &error)
{
    return std::visit(
        Overloaded{
            [](const IngestCacheError::InsufficientCapacity &capacity) -> QString {
                return QStringLiteral("Ingest Cache needs ")
                       + LibraryPresentation::byteText(capacity.requiredBytes)
                       + QStringLiteral("; ")
                       + LibraryPresentation::byteText(capacity.availableBytes)
                       + QStringLiteral(" available.");
            },
            [](const IngestCacheError::VerificationFailed &) {
                return QStringLiteral("Ingest Cache copy verification failed.");
            },
            [](const IngestCacheError::UnsupportedMigrationItem &) {
                return QStringLiteral("Ingest Cache contains an item that cannot be migrated.");
            },
            [](const IngestCacheError::MigrationSourceChangedTooOften &) {
                return QStringLiteral(
                    "Ingest Cache files kept changing; retry migration when editing stops.");
            },
            [](const IngestCacheError::UnableToDetermineCapacity &) {
                return QStringLiteral("Ingest Cache capacity could not be determined.");
            },
            [](const IngestCacheError::MigrationTargetIsNotEmpty &) {
                return QStringLiteral("Choose an empty folder for Ingest Cache.");
            },
            [](const IngestCacheError::RetainedCacheConflicts &) {
                return QStringLiteral(
                    "Resolve retained-cache conflicts before deleting the old cache.");
            },
            [](const IngestCacheError::InvalidMigrationTarget &) {
                return QStringLiteral("Choose an Ingest Cache location outside the current cache.");
            },
            [](const IngestCacheError::MigrationSourceIsUnavailable &) {
                return QStringLiteral(
                    "Current Ingest Cache is unavailable; reconnect it before moving the cache.");
            },
            [](const IngestCacheError::PackageOutsideActiveRoot &) {
                return QStringLiteral(
                    "That cache package is no longer inside the active Ingest Cache.");
            },
        },
        error.value);
}

} // namespace Pellwick
