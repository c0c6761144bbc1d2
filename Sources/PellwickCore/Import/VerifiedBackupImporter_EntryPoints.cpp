// The importer's entry points: imports of cached items or of a confirmed review, and the
// recovery of interrupted imports.

#include "VerifiedBackupImporter.h"

#include <PellwickCore/Backend/ImportCapacityReservationPackage.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Import/VerifiedBackupImporterError.h>

#include <QHash>

#include <algorithm>

namespace Pellwick {

namespace {

bool isUnrecoverable(const Error &error)
{
    return error == Error(VerifiedBackupImporterError::unrecoverableStagedImport());
}

/// The archive holds the item's bytes, verified by this item's own import (a duplicate is not).
bool isVerifiedInArchive(LibraryItemImportStatus status)
{
    return status == LibraryItemImportStatus::VerifiedBackup
           || status == LibraryItemImportStatus::CleanupPending;
}

bool isResumable(StagedImportPhase phase)
{
    return phase == StagedImportPhase::NotStarted || phase == StagedImportPhase::Uploading
           || phase == StagedImportPhase::Uploaded;
}

LibraryItemImportStatus statusOfTerminalPhase(StagedImportPhase phase)
{
    switch (phase) {
    case StagedImportPhase::VerifiedBackup:
        return LibraryItemImportStatus::VerifiedBackup;
    case StagedImportPhase::Duplicate:
        return LibraryItemImportStatus::Duplicate;
    case StagedImportPhase::NotStarted:
    case StagedImportPhase::Uploading:
    case StagedImportPhase::Uploaded:
    case StagedImportPhase::NeedsAttention:
        break;
    }
    return LibraryItemImportStatus::NeedsAttention;
}

/// The record of a staging that verified the item's bytes, when every other terminal staging of
/// the item only heard that the same backend item holds those bytes: the archive holds the item,
/// and the stagings agree on where.
const StagedImportRecord *verifiedByEveryStaging(const QList<StagedImportRecord> &named,
                                                 const LocalLibraryItem &item)
{
    const auto sameBytes = [&](const StagedImportRecord &record) {
        return record.contentHash.compare(item.contentHash, Qt::CaseInsensitive) == 0;
    };
    const auto verified = std::find_if(named.begin(), named.end(), [&](const auto &record) {
        return record.phase == StagedImportPhase::VerifiedBackup && record.backendLibraryItemID
               && sameBytes(record);
    });
    if (verified == named.end())
        return nullptr;
    const bool agree = std::all_of(named.begin(), named.end(), [&](const auto &record) {
        return (record.phase == StagedImportPhase::VerifiedBackup
                || record.phase == StagedImportPhase::Duplicate)
               && sameBytes(record)
               && record.backendLibraryItemID == verified->backendLibraryItemID;
    });
    return agree ? &*verified : nullptr;
}

tl::unexpected<Error> cancelled()
{
    return failure(CancellationError{});
}

} // namespace

Result<LocalLibraryItem>
VerifiedBackupImporter::importPackage(const ImportReviewItem &review,
                                      const std::optional<LocalLibraryItem> &cached,
                                      const std::optional<QString> &reservationID,
                                      QSet<QString> &usedCanonicalFilenames,
                                      const QString &token,
                                      const StatusDidChange &statusDidChange,
                                      ImportTransferProgressReporter &progress,
                                      ArchiveListing &listing,
                                      std::stop_token stop) const
{
    if (stop.stop_requested())
        return cancelled();
    progress.stage(review.filename);
    Result<PreparedBackup> prepared
        = prepareBackup(review, reservationID, usedCanonicalFilenames, cached);
    if (!prepared) {
        // The cached bytes are not those the library knows: the item cannot be archived as is.
        if (cached && isUnrecoverable(prepared.error())) {
            PELLWICK_TRY(setImportStatus(cached->id, LibraryItemImportStatus::NeedsAttention));
            if (statusDidChange)
                statusDidChange();
        }
        return tl::unexpected<Error>(prepared.error());
    }
    // Until its first record is written, nothing but this run knows the new folder.
    Result<void> recorded = cached ? Result<void>() : m_cache.appendItems({prepared->item});
    if (recorded)
        recorded = m_stagingArea.writeRecord(prepared->record);
    if (!recorded) {
        (void) m_stagingArea.discardStaged(prepared->stagedOriginal);
        return tl::unexpected<Error>(recorded.error());
    }
    // The preview made now is the item's thumbnail, unless making it failed while the item
    // already shows one.
    if (cached) {
        const bool keepShown = !prepared->preview.url && cached->preview.availablePath();
        PELLWICK_TRY(m_cache.withExclusiveAccess([&]() -> Result<void> {
            if (!keepShown)
                PELLWICK_TRY(m_cache.updatePreview(cached->id, prepared->preview.state));
            if (!(prepared->item.metadata == cached->metadata))
                PELLWICK_TRY(m_cache.updateMetadata(cached->id, prepared->item.metadata));
            return {};
        }));
    }
    if (statusDidChange)
        statusDidChange();
    return continuePackage(prepared->record,
                           prepared->stagedOriginal.url,
                           prepared->stagedOriginal.sidecarURL,
                           token,
                           statusDidChange,
                           &progress,
                           listing,
                           stop);
}

Result<QList<LocalLibraryItem>>
VerifiedBackupImporter::importVerifiedBackups(const QList<LocalLibraryItem> &cacheItems,
                                              const QString &token,
                                              const std::optional<QString> &reservationID,
                                              const StatusDidChange &statusDidChange,
                                              const TransferProgressSink &progressDidChange,
                                              const QUuid &transferID,
                                              std::stop_token stop) const
{
    Result<LocalLibraryCacheRecords> records = m_cache.cachedRecords();
    PELLWICK_TRY(records);
    QSet<QString> used = records->canonicalFilenames();

    QList<ImportReviewItem> reviews;
    qint64 totalBytes = 0;
    for (const LocalLibraryItem &item : cacheItems) {
        Result<ImportReviewItem> review = cacheReviewItem(item);
        PELLWICK_TRY(review);
        totalBytes += review->supportedByteCount();
        reviews.append(*review);
    }
    ImportTransferProgressReporter progress(
        transferID, totalBytes, cacheItems.size(), progressDidChange);
    QList<LocalLibraryItem> result;
    ArchiveListing listing;
    for (qsizetype i = 0; i < cacheItems.size(); ++i) {
        Result<LocalLibraryItem> item = importPackage(reviews.at(i),
                                                      cacheItems.at(i),
                                                      reservationID,
                                                      used,
                                                      token,
                                                      statusDidChange,
                                                      progress,
                                                      listing,
                                                      stop);
        PELLWICK_TRY(item);
        result.append(*item);
    }
    return result;
}

Result<QList<LocalLibraryItem>>
VerifiedBackupImporter::importReservingCapacity(const LibrarySessionClient &client,
                                                const QList<LocalLibraryItem> &cacheItems,
                                                const ImportReview &review,
                                                const QString &token,
                                                const StatusDidChange &statusDidChange,
                                                const TransferProgressSink &progressDidChange,
                                                const QUuid &transferID,
                                                std::stop_token stop) const
{
    QList<ImportCapacityReservationPackage> packages;
    for (const ImportReviewItem &item : std::as_const(review.items))
        packages.append({item.byteCount, item.sidecar ? item.sidecar->byteCount : 0});
    PELLWICK_TRY_ASSIGN(const QString reservationID,
                        client.createImportCapacityReservation(token, packages, stop));
    Result<QList<LocalLibraryItem>> imported = importVerifiedBackups(
        cacheItems, token, reservationID, statusDidChange, progressDidChange, transferID, stop);
    Q_UNUSED(client.releaseImportCapacityReservation(token, reservationID));
    return imported;
}

Result<QList<LocalLibraryItem>>
VerifiedBackupImporter::importVerifiedBackups(const ImportReview &review,
                                              const QString &token,
                                              const std::optional<QString> &reservationID,
                                              const StatusDidChange &statusDidChange,
                                              const TransferProgressSink &progressDidChange,
                                              const QUuid &transferID,
                                              std::stop_token stop) const
{
    Result<LocalLibraryCacheRecords> records = m_cache.cachedRecords();
    PELLWICK_TRY(records);
    QSet<QString> used = records->canonicalFilenames();

    QList<ImportReviewItem> candidates;
    qint64 totalBytes = 0;
    for (const ImportReviewItem &item : review.items) {
        if (!item.status.isSupported())
            continue;
        candidates.append(item);
        totalBytes += item.supportedByteCount();
    }
    ImportTransferProgressReporter progress(
        transferID, totalBytes, candidates.size(), progressDidChange);
    QList<LocalLibraryItem> result;
    ArchiveListing listing;
    for (const ImportReviewItem &candidate : candidates) {
        Result<LocalLibraryItem> item = importPackage(candidate,
                                                      std::nullopt,
                                                      reservationID,
                                                      used,
                                                      token,
                                                      statusDidChange,
                                                      progress,
                                                      listing,
                                                      stop);
        PELLWICK_TRY(item);
        result.append(*item);
    }
    return result;
}

Result<QList<StagedImportRecord>> VerifiedBackupImporter::resumableRecords() const
{
    PELLWICK_TRY_ASSIGN(const StagingRecoveryReport report, m_stagingArea.readRecoverableRecords());
    QList<StagedImportRecord> resumable;
    for (const StagedImportRecord &record : report.records) {
        if (isResumable(record.phase))
            resumable.append(record);
    }
    return resumable;
}

Result<QList<LocalLibraryItem>>
VerifiedBackupImporter::resumeInterruptedImports(const QString &token,
                                                 const StatusDidChange &statusDidChange,
                                                 const TransferProgressSink &progressDidChange,
                                                 const QUuid &transferID,
                                                 std::stop_token stop) const
{
    // Folders that a stop left before their first record are nobody's: they only hold copies.
    PELLWICK_TRY(m_stagingArea.removeAbandonedPackages());
    Result<StagingRecoveryReport> report = m_stagingArea.readRecoverableRecords();
    PELLWICK_TRY(report);
    // An item a staging verified while the library missed it is settled first: a stale staging
    // of it then finds it verified and leaves it so.
    ArchiveListing listing;
    Result<QList<LocalLibraryItem>> result = settleTerminalRecords(
        *report, {}, Settling::VerifiedOnly, statusDidChange, token, listing, stop);
    PELLWICK_TRY(result);
    QList<StagedImportRecord> resumable;
    qint64 totalBytes = 0;
    for (const StagedImportRecord &record : report->records) {
        if (!isResumable(record.phase))
            continue;
        resumable.append(record);
        totalBytes += record.byteCount + record.sidecarByteCount;
    }
    ImportTransferProgressReporter progress(
        transferID, totalBytes, resumable.size(), progressDidChange);
    QSet<QUuid> resumedItems;
    // One package the backend refuses must not hold back the others (listing order is no
    // order): every record gets its turn, and the first error is told at the end.
    std::optional<Error> firstError;
    for (const StagedImportRecord &record : resumable) {
        if (stop.stop_requested())
            return tl::unexpected<Error>(firstError.value_or(Error(CancellationError{})));
        progress.stage(record.originalFilename);
        Result<LocalLibraryItem> item
            = resumePackage(record, token, statusDidChange, &progress, listing, stop);
        resumedItems.insert(record.localLibraryItemID);
        if (!item) {
            if (!firstError)
                firstError = item.error();
            continue;
        }
        result->append(*item);
    }

    Result<QList<LocalLibraryItem>> settled = settleTerminalRecords(
        *report, resumedItems, Settling::All, statusDidChange, token, listing, stop);
    PELLWICK_TRY(settled);
    *result += *settled;

    bool anonymousIssue = false;
    for (const StagingRecoveryIssue &issue : report->issues) {
        if (!issue.localLibraryItemID) {
            anonymousIssue = true;
            continue;
        }
        Result<std::optional<LocalLibraryItem>> updated
            = m_cache.withExclusiveAccess([&]() -> Result<std::optional<LocalLibraryItem>> {
                  // An item the archive verified keeps that verdict: a leftover file that cannot
                  // be read casts no doubt on it, and would take it again at every start.
                  Result<LocalLibraryCacheRecords> records = m_cache.cachedRecords();
                  PELLWICK_TRY(records);
                  const QList<qsizetype> positions = records->positions(*issue.localLibraryItemID);
                  if (!positions.isEmpty()
                      && isVerifiedInArchive(records->at(positions.first()).importStatus))
                      return std::optional<LocalLibraryItem>();
                  return m_cache.updateImportStatus(*issue.localLibraryItemID,
                                                    LibraryItemImportStatus::NeedsAttention);
              });
        PELLWICK_TRY(updated);
        if (!*updated)
            continue;
        result->append(**updated);
        if (statusDidChange)
            statusDidChange();
    }
    if (firstError)
        return tl::unexpected<Error>(*firstError);
    if (anonymousIssue)
        return failure(VerifiedBackupImporterError::unrecoverableStagedImport());
    return result;
}

Result<QList<LocalLibraryItem>>
VerifiedBackupImporter::settleTerminalRecords(const StagingRecoveryReport &report,
                                              const QSet<QUuid> &resumedItems,
                                              Settling settling,
                                              const StatusDidChange &statusDidChange,
                                              const QString &token,
                                              ArchiveListing &listing,
                                              std::stop_token stop) const
{
    // A kill or a failed library write between a terminal record and its library update leaves
    // the item uploading or verifying (or archived without its sidecar facts) for good, since
    // terminal records are never resumed.
    QList<QUuid> order;
    QHash<QUuid, QList<StagedImportRecord>> terminal;
    for (const StagedImportRecord &record : report.records) {
        if (isResumable(record.phase))
            continue;
        if (!terminal.contains(record.localLibraryItemID))
            order.append(record.localLibraryItemID);
        terminal[record.localLibraryItemID].append(record);
    }
    Result<LocalLibraryCacheRecords> records = m_cache.cachedRecords();
    PELLWICK_TRY(records);
    QList<LocalLibraryItem> settled;
    for (const QUuid &id : order) {
        if (resumedItems.contains(id))
            continue;
        const QList<qsizetype> positions = records->positions(id);
        if (positions.isEmpty())
            continue;
        const LocalLibraryItem &item = records->at(positions.first());
        const QList<StagedImportRecord> &named = terminal.value(id);
        const bool agree = std::all_of(named.begin(), named.end(), [&](const auto &other) {
            return other.phase == named.first().phase;
        });
        // A staging that heard the archive holds the bytes another staging verified casts no
        // doubt: the item is that verified backup, never one needing attention pointed at it.
        const StagedImportRecord *verified = agree ? nullptr : verifiedByEveryStaging(named, item);
        const StagedImportRecord &record = verified ? *verified : named.first();
        // Never "Verified" on doubt.
        const LibraryItemImportStatus status = agree || verified
                                                   ? statusOfTerminalPhase(record.phase)
                                                   : LibraryItemImportStatus::NeedsAttention;
        if (settling == Settling::VerifiedOnly
            && (status != LibraryItemImportStatus::VerifiedBackup
                || record.contentHash.compare(item.contentHash, Qt::CaseInsensitive) != 0))
            continue;
        const ArchiveSidecar staged = stagedSidecar(record);
        const bool unfinished = item.importStatus == LibraryItemImportStatus::Uploading
                                || item.importStatus == LibraryItemImportStatus::Verifying;
        // A kill between the two library writes of the mark leaves the status without the
        // archive sidecar facts. A duplicate's facts are the archive's, which no record holds.
        const bool sidecarFactsMissing = item.importStatus == status
                                         && status == LibraryItemImportStatus::VerifiedBackup
                                         && ArchiveSidecar{item.archiveSidecarFilename,
                                                           item.archiveSidecarByteCount,
                                                           item.archiveSidecarContentHash}
                                                != staged;
        if (!unfinished && !sidecarFactsMissing)
            continue;
        Result<std::optional<LocalLibraryItem>> updated
            = m_cache.withExclusiveAccess([&] { return m_cache.updateImportStatus(id, status); });
        PELLWICK_TRY(updated);
        if (verified && item.backendLibraryItemID != verified->backendLibraryItemID) {
            updated = m_cache.updateBackendLibraryItemID(id, *verified->backendLibraryItemID);
            PELLWICK_TRY(updated);
        }
        if (status != LibraryItemImportStatus::NeedsAttention) {
            const ArchiveSidecar sidecar
                = status == LibraryItemImportStatus::VerifiedBackup
                      ? staged
                      : archivedSidecar(record, token, listing, stop).value_or(ArchiveSidecar());
            updated = m_cache.updateArchiveSidecar(
                id, sidecar.filename, sidecar.byteCount, sidecar.contentHash);
            PELLWICK_TRY(updated);
        }
        if (*updated)
            settled.append(**updated);
        if (statusDidChange)
            statusDidChange();
    }
    return settled;
}

} // namespace Pellwick
