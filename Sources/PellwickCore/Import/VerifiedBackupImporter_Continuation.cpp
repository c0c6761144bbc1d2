// Carrying one package with a written record to its end: continuation, resumption after an
// interruption, and finalization.

#include "VerifiedBackupImporter.h"

namespace Pellwick {

Result<LocalLibraryItem>
VerifiedBackupImporter::continueImport(const StagedImportRecord &record,
                                       const QString &stagedOriginalURL,
                                       const std::optional<QString> &stagedSidecarURL,
                                       const QString &token,
                                       const StatusDidChange &statusDidChange,
                                       ImportTransferProgressReporter *progress,
                                       std::stop_token stop) const
{
    ArchiveListing listing;
    return continuePackage(record,
                           stagedOriginalURL,
                           stagedSidecarURL,
                           token,
                           statusDidChange,
                           progress,
                           listing,
                           std::move(stop));
}

Result<LocalLibraryItem>
VerifiedBackupImporter::continuePackage(const StagedImportRecord &start,
                                        const QString &stagedOriginalURL,
                                        const std::optional<QString> &stagedSidecarURL,
                                        const QString &token,
                                        const StatusDidChange &statusDidChange,
                                        ImportTransferProgressReporter *progress,
                                        ArchiveListing &listing,
                                        std::stop_token stop) const
{
    StagedImportRecord record = start;
    if (!record.backendLibraryItemID || !record.multipartUpload) {
        Result<StagedImportRecord> authorized = authorizingRecord(
            record, token, AuthorizationRefresh::Replace, statusDidChange, stop);
        PELLWICK_TRY(authorized);
        record = *authorized;
        if (record.phase == StagedImportPhase::Duplicate)
            return closeDuplicate(record, token, statusDidChange, listing, stop);
    }
    PELLWICK_TRY(setImportStatus(record.localLibraryItemID, LibraryItemImportStatus::Uploading));
    if (statusDidChange)
        statusDidChange();

    Result<std::optional<StagedImportRecord>> raw
        = completeRawUploadIfNeeded(record, stagedOriginalURL, token, progress, stop);
    if (!raw)
        return tl::unexpected<Error>(
            closedOnRefusal(record, raw.error(), statusDidChange, Refusal::Completion));
    if (!*raw)
        return close(record, LibraryItemImportStatus::NeedsAttention, statusDidChange);
    record = **raw;

    Result<std::optional<StagedImportRecord>> sidecar
        = completeSidecarUploadIfNeeded(record, stagedSidecarURL, token, progress, stop);
    if (!sidecar)
        return tl::unexpected<Error>(
            closedOnRefusal(record, sidecar.error(), statusDidChange, Refusal::Completion));
    if (!*sidecar)
        return close(record, LibraryItemImportStatus::NeedsAttention, statusDidChange);
    record = **sidecar;

    Result<StagedImportRecord> previewed = uploadPreviewIfNeeded(record, progress, stop);
    PELLWICK_TRY(previewed);
    record = previewed->markingUploaded();
    PELLWICK_TRY(m_stagingArea.writeRecord(record));
    PELLWICK_TRY(setImportStatus(record.localLibraryItemID, LibraryItemImportStatus::Verifying));
    if (statusDidChange)
        statusDidChange();
    return finalize(record, token, statusDidChange, progress, stop);
}

bool VerifiedBackupImporter::hasRequiredStagedSidecar(
    const StagedImportRecord &record, const std::optional<QString> &stagedSidecarURL) const
{
    if (!record.sidecarFilename)
        return true;
    return stagedSidecarURL && m_stagingArea.fileManager()->fileExists(*stagedSidecarURL);
}

Result<LocalLibraryItem> VerifiedBackupImporter::resume(const StagedImportRecord &record,
                                                        const QString &token,
                                                        const StatusDidChange &statusDidChange,
                                                        ImportTransferProgressReporter *progress,
                                                        std::stop_token stop) const
{
    ArchiveListing listing;
    return resumePackage(record, token, statusDidChange, progress, listing, std::move(stop));
}

Result<LocalLibraryItem>
VerifiedBackupImporter::resumePackage(const StagedImportRecord &start,
                                      const QString &token,
                                      const StatusDidChange &statusDidChange,
                                      ImportTransferProgressReporter *progress,
                                      ArchiveListing &listing,
                                      std::stop_token stop) const
{
    StagedImportRecord record = start;
    // The run that staged this package has ended, and its capacity reservation was given back
    // with it (or has lapsed): a resumed package asks the backend without one, since a released
    // reservation is unknown there and would refuse every recovery.
    record.importCapacityReservationID.reset();
    // A staging a stop left behind, of an item verified since through another staging: the
    // archive holds these bytes, and nothing this staging meets (a refusal, a failed upload, a
    // verdict on its own backend item) may take that from the item or repoint it. It closes as
    // a duplicate, which keeps the item verified.
    Result<LocalLibraryCacheRecords> records = m_cache.cachedRecords();
    PELLWICK_TRY(records);
    if (verifiedItem(*records, record))
        return close(record, LibraryItemImportStatus::Duplicate, statusDidChange);

    const QString original = m_stagingArea.stagedOriginalURL(record);
    const std::optional<QString> sidecar = m_stagingArea.stagedSidecarURL(record);
    if (!m_stagingArea.fileManager()->fileExists(original)
        || !hasRequiredStagedSidecar(record, sidecar)) {
        return close(record, LibraryItemImportStatus::NeedsAttention, statusDidChange);
    }

    if (record.backendLibraryItemID) {
        Result<VerifiedBackupUploadState> state
            = m_api->verifiedBackupUploadState(token, *record.backendLibraryItemID, stop);
        // A backend that no longer knows the upload (404) gets it anew, as any unfinished one
        // would: failing here would block every later recovery at this package.
        const bool forgotten
            = !state && state.error().as<LibrarySessionClientError>()
              && state.error().as<LibrarySessionClientError>()->unexpectedStatusCode() == 404;
        if (!state && !forgotten)
            return tl::unexpected<Error>(state.error());
        // The state of another item says nothing about this one: it is authorized anew, as a
        // forgotten one is, and never closed on that word.
        const bool known = state && state->libraryItemID == *record.backendLibraryItemID;
        if (known
            && (state->importStatus == LibraryItemImportStatus::VerifiedBackup
                || state->importStatus == LibraryItemImportStatus::NeedsAttention)) {
            return close(record, state->importStatus, statusDidChange);
        }
        const bool uploadedAndComplete = known && record.phase == StagedImportPhase::Uploaded
                                         && record.multipartUpload
                                         && record.multipartUpload->isCompleted;
        if (!uploadedAndComplete) {
            Result<StagedImportRecord> authorized = authorizingRecord(
                record, token, AuthorizationRefresh::Restart, statusDidChange, stop);
            PELLWICK_TRY(authorized);
            record = *authorized;
        }
    }
    if (record.phase == StagedImportPhase::Duplicate)
        return closeDuplicate(record, token, statusDidChange, listing, stop);
    return continuePackage(
        record, original, sidecar, token, statusDidChange, progress, listing, std::move(stop));
}

Result<LocalLibraryItem> VerifiedBackupImporter::finalize(const StagedImportRecord &record,
                                                          const QString &token,
                                                          const StatusDidChange &statusDidChange,
                                                          ImportTransferProgressReporter *progress,
                                                          std::stop_token stop) const
{
    if (progress)
        progress->verify(record.originalFilename);
    if (!record.backendLibraryItemID)
        return close(record, LibraryItemImportStatus::NeedsAttention, statusDidChange);
    Result<VerifiedBackupFinalization> finalization
        = m_api->finalizeVerifiedBackupUpload(token, *record.backendLibraryItemID, stop);
    if (!finalization)
        return tl::unexpected<Error>(
            closedOnRefusal(record, finalization.error(), statusDidChange, Refusal::Completion));
    // A verdict on another item verifies nothing of this package.
    if (finalization->libraryItemID != *record.backendLibraryItemID) {
        return tl::unexpected<Error>(
            closedOnImpossibleAnswer(record,
                                     QStringLiteral("library_item.id"),
                                     QStringLiteral("Finalization names another library item"),
                                     statusDidChange));
    }
    PELLWICK_TRY(setBackendLibraryItemID(record.localLibraryItemID, finalization->libraryItemID));
    Result<LocalLibraryItem> item
        = markRecord(record,
                     finalization->importStatus == LibraryItemImportStatus::VerifiedBackup
                         ? LibraryItemImportStatus::VerifiedBackup
                         : LibraryItemImportStatus::NeedsAttention);
    PELLWICK_TRY(item);
    if (statusDidChange)
        statusDidChange();
    if (progress)
        progress->finishPackage(record.byteCount + record.sidecarByteCount);
    return item;
}

} // namespace Pellwick
