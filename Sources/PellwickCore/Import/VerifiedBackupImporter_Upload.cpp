// The upload phases of one package: authorization, RAW and sidecar parts with their completion,
// the preview, and the terminal mark.

#include "ImportRecordJson_p.h"
#include "VerifiedBackupImporter.h"

#include <PellwickCore/Import/VerifiedBackupImporterError.h>

#include <QSet>

#include <algorithm>
#include <limits>

namespace Pellwick {

namespace {

bool isUnexpectedStatus(const Error &error, int status)
{
    const auto *client = error.as<LibrarySessionClientError>();
    return client && client->unexpectedStatusCode() == status;
}

/// A 4xx answer that asking again cannot change (a part ETag the storage does not know, a body
/// it cannot take): not a session, permission, lookup, conflict or rate refusal.
bool isFinalRefusal(const Error &error)
{
    const auto *client = error.as<LibrarySessionClientError>();
    const int status = client ? client->unexpectedStatusCode().value_or(0) : 0;
    return status >= 400 && status <= 499 && status != 401 && status != 403 && status != 404
           && status != 409 && status != 429;
}

const StorageFullState *storageFullState(const Error &error)
{
    const auto *client = error.as<LibrarySessionClientError>();
    if (!client)
        return nullptr;
    const auto *full = std::get_if<LibrarySessionClientError::StorageFull>(&client->value);
    return full ? &full->state : nullptr;
}

/// The byte range of part `partNumber` of a file of `byteCount` bytes cut at `partSize`.
/// A part whose offset no 64-bit number holds (a hostile part size or number) starts past any
/// file and is empty.
ByteRange partRange(qint64 partNumber, qint64 partSize, qint64 byteCount)
{
    qint64 start = 0;
    if (partNumber < 1 || partSize < 0 || __builtin_mul_overflow(partNumber - 1, partSize, &start))
        return {std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max()};
    if (start >= byteCount)
        return {start, byteCount};
    return {start, start + std::min(partSize, byteCount - start)};
}

/// How many parts a file of `byteCount` bytes is cut into at `partSize` (an empty file is one
/// empty part); nothing when no multipart upload can hold the file that way.
std::optional<qint64> neededPartCount(qint64 partSize, qint64 byteCount)
{
    if (partSize < 1 || byteCount < 0)
        return std::nullopt;
    const qint64 count
        = std::max<qint64>(1, byteCount / partSize + (byteCount % partSize != 0 ? 1 : 0));
    if (count > UploadedMultipartPart::maximumPartNumber)
        return std::nullopt;
    return count;
}

/// A receipt object storage can assemble: one of the file's parts, with an ETag.
bool isUsableReceipt(const UploadedMultipartPart &part, qint64 partCount)
{
    return part.partNumber >= 1 && part.partNumber <= partCount && !part.etag.trimmed().isEmpty();
}

/// The receipts to complete the upload with: exactly parts 1 to N of the file, ascending, each
/// with its latest ETag. Nothing while any part is missing, so that an upload with a hole, a
/// part of another cut or a receipt without ETag is never assembled into an object.
std::optional<QList<UploadedMultipartPart>> completionParts(const MultipartUploadState &state,
                                                            qint64 byteCount)
{
    const std::optional<qint64> partCount = neededPartCount(state.partSizeBytes, byteCount);
    if (!partCount)
        return std::nullopt;
    QList<std::optional<UploadedMultipartPart>> byNumber(*partCount);
    for (const UploadedMultipartPart &part : state.uploadedParts)
        if (isUsableReceipt(part, *partCount))
            byNumber[part.partNumber - 1] = part;
    QList<UploadedMultipartPart> parts;
    parts.reserve(*partCount);
    for (const std::optional<UploadedMultipartPart> &part : byNumber) {
        if (!part)
            return std::nullopt;
        parts.append(*part);
    }
    return parts;
}

/// True when the backend's duplicate evidence is about the package's RAW original.
bool describesSameBytes(const DuplicateVerifiedBackup &duplicate, const StagedImportRecord &record)
{
    return duplicate.byteCount == record.byteCount
           && duplicate.contentHash.compare(record.contentHash, Qt::CaseInsensitive) == 0;
}

/// The key of the first URL of `authorization` that is no absolute http or https URL. The
/// record keeps every URL of the authorization, and it cannot read such a URL back: the package
/// would turn unreadable at the next start, verified or not.
std::optional<QString> unusableURLKey(const VerifiedBackupUploadAuthorization &authorization)
{
    const auto partKey = [](const std::optional<PresignedMultipartUpload> &upload,
                            const QString &key) -> std::optional<QString> {
        for (qsizetype i = 0; upload && i < upload->parts.size(); ++i) {
            if (!ImportRecordJson::isPresignedURL(upload->parts.at(i).url))
                return QStringLiteral("%1.parts[%2].url").arg(key).arg(i);
        }
        return std::nullopt;
    };
    if (std::optional<QString> key
        = partKey(authorization.rawOriginalUpload, QStringLiteral("raw_original_upload")))
        return key;
    if (std::optional<QString> key
        = partKey(authorization.sidecarUpload, QStringLiteral("sidecar_upload")))
        return key;
    if (authorization.previewUpload
        && !ImportRecordJson::isPresignedURL(authorization.previewUpload->url))
        return QStringLiteral("preview_upload.url");
    return std::nullopt;
}

tl::unexpected<Error> unusableUpload()
{
    return failure(PresignedURLUploadError{PresignedURLUploadError::UnexpectedStatus{-1}});
}

} // namespace

qint64 VerifiedBackupImporter::uploadedByteCount(const MultipartUploadState &state,
                                                 qint64 byteCount)
{
    qint64 total = 0;
    for (const UploadedMultipartPart &part : state.uploadedParts)
        total += std::max<qint64>(
            0, partRange(part.partNumber, state.partSizeBytes, byteCount).length());
    return total;
}

std::optional<LocalLibraryItem>
VerifiedBackupImporter::verifiedItem(const LocalLibraryCacheRecords &records,
                                     const StagedImportRecord &record)
{
    const QList<qsizetype> positions = records.positions(record.localLibraryItemID);
    if (positions.isEmpty())
        return std::nullopt;
    const LocalLibraryItem &item = records.at(positions.first());
    if (item.importStatus != LibraryItemImportStatus::VerifiedBackup
        || item.contentHash.compare(record.contentHash, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return item;
}

Result<void> VerifiedBackupImporter::setImportStatus(const QUuid &id,
                                                     LibraryItemImportStatus status) const
{
    return m_cache.withExclusiveAccess([&]() -> Result<void> {
        PELLWICK_TRY(m_cache.updateImportStatus(id, status));
        return {};
    });
}

Result<void> VerifiedBackupImporter::setBackendLibraryItemID(const QUuid &id,
                                                             qint64 backendID) const
{
    return m_cache.withExclusiveAccess([&]() -> Result<void> {
        PELLWICK_TRY(m_cache.updateBackendLibraryItemID(id, backendID));
        return {};
    });
}

Result<LocalLibraryItem> VerifiedBackupImporter::close(const StagedImportRecord &record,
                                                       LibraryItemImportStatus status,
                                                       const StatusDidChange &statusDidChange) const
{
    Result<LocalLibraryItem> item = markRecord(record, status);
    PELLWICK_TRY(item);
    if (statusDidChange)
        statusDidChange();
    return item;
}

Error VerifiedBackupImporter::closedOnRefusal(const StagedImportRecord &record,
                                              Error error,
                                              const StatusDidChange &statusDidChange,
                                              Refusal refusal) const
{
    const StorageFullState *full = storageFullState(error);
    const bool closes = full || isUnexpectedStatus(error, 422)
                        || (refusal == Refusal::Completion && isFinalRefusal(error));
    if (!closes)
        return error;
    Error mapped = full ? Error(VerifiedBackupImporterError::storageFull(*full)) : error;
    if (Result<LocalLibraryItem> closed
        = close(record, LibraryItemImportStatus::NeedsAttention, statusDidChange);
        !closed) {
        return closed.error();
    }
    return mapped;
}

Error VerifiedBackupImporter::closedOnImpossibleAnswer(const StagedImportRecord &record,
                                                       const QString &keyPath,
                                                       const QString &description,
                                                       const StatusDidChange &statusDidChange) const
{
    if (Result<LocalLibraryItem> closed
        = close(record, LibraryItemImportStatus::NeedsAttention, statusDidChange);
        !closed) {
        return closed.error();
    }
    return DecodingError{DecodingError::Kind::DataCorrupted, keyPath, description};
}

Result<StagedImportRecord>
VerifiedBackupImporter::authorizingRecord(const StagedImportRecord &record,
                                          const QString &token,
                                          AuthorizationRefresh refresh,
                                          const StatusDidChange &statusDidChange,
                                          std::stop_token stop) const
{
    Result<VerifiedBackupUploadDecision> decision
        = m_api->requestVerifiedBackupUpload(token, record.uploadRequest(), stop);
    if (!decision)
        return tl::unexpected<Error>(closedOnRefusal(record, decision.error(), statusDidChange));

    StagedImportRecord next;
    qint64 backendID = 0;
    if (const auto *duplicate
        = std::get_if<VerifiedBackupUploadDecision::Duplicate>(&decision->value)) {
        // Evidence of other bytes is no evidence: the package is not in the archive.
        if (!describesSameBytes(duplicate->duplicate, record)) {
            return tl::unexpected<Error>(
                closedOnImpossibleAnswer(record,
                                         QStringLiteral("duplicate"),
                                         QStringLiteral("Duplicate evidence names other bytes"),
                                         statusDidChange));
        }
        backendID = duplicate->duplicate.libraryItemID;
        next = record.markingDuplicate(backendID);
    } else {
        const auto &authorization
            = std::get<VerifiedBackupUploadDecision::Upload>(decision->value).authorization;
        if (const std::optional<QString> key = unusableURLKey(authorization))
            return failure(Json::dataCorrupted(*key, QStringLiteral("Invalid URL string.")));
        backendID = authorization.libraryItemID;
        next = refresh == AuthorizationRefresh::Restart
                   ? record.restartingAuthorization(authorization)
                   : record.replacingAuthorization(authorization);
    }
    PELLWICK_TRY(m_stagingArea.writeRecord(next));
    PELLWICK_TRY(setBackendLibraryItemID(next.localLibraryItemID, backendID));
    return next;
}

Result<StagedImportRecord>
VerifiedBackupImporter::uploadParts(StagedImportRecord record,
                                    UploadKind kind,
                                    const QString &file,
                                    ImportTransferProgressReporter *progress,
                                    std::stop_token stop) const
{
    const bool raw = kind == UploadKind::RawOriginal;
    const std::optional<MultipartUploadState> &state
        = raw ? record.multipartUpload : record.sidecarMultipartUpload;
    if (!state)
        return record;
    const qint64 byteCount = raw ? record.byteCount : record.sidecarByteCount;
    const QString filename
        = raw ? record.originalFilename : record.sidecarFilename.value_or(QString());
    const qint64 partSize = state->partSizeBytes;

    // A part size that cannot cut the file, or a part the file cannot fill, would send an
    // object with a hole or fail on the wire halfway through the package; refuse before
    // anything is sent.
    const std::optional<qint64> partCount = neededPartCount(partSize, byteCount);
    if (!partCount)
        return unusableUpload();
    QSet<qint64> uploaded;
    for (const UploadedMultipartPart &part : state->uploadedParts)
        if (isUsableReceipt(part, *partCount))
            uploaded.insert(part.partNumber);
    QList<StagedUploadPart> parts = state->authorizedParts;
    std::stable_sort(parts.begin(), parts.end(), [](const auto &a, const auto &b) {
        return a.partNumber < b.partNumber;
    });
    // One URL per part (the first the backend listed), only for parts still to send; a part
    // that starts where the file ends belongs to no object.
    QSet<qint64> planned = uploaded;
    parts.removeIf([&](const StagedUploadPart &part) {
        if (part.partNumber > *partCount
            && partRange(part.partNumber, partSize, byteCount).lowerBound == byteCount)
            return true;
        if (part.partNumber >= 1 && part.partNumber <= *partCount
            && planned.contains(part.partNumber))
            return true;
        planned.insert(part.partNumber);
        return false;
    });
    for (const StagedUploadPart &part : parts) {
        if (part.partNumber < 1 || part.partNumber > *partCount)
            return unusableUpload();
    }
    // A part neither received nor authorized would leave a hole: the backend's list of parts
    // must cover the whole file.
    if (planned.size() != *partCount)
        return unusableUpload();

    qint64 completed = uploadedByteCount(*state, byteCount);
    if (progress)
        progress->upload(filename, completed, byteCount);
    qint64 previousPartNumber = 0;
    for (const StagedUploadPart &part : parts) {
        const ByteRange range = partRange(part.partNumber, partSize, byteCount);
        // Sorted and checked above: ascending, each part a range of the file.
        Q_ASSERT(part.partNumber >= previousPartNumber);
        Q_ASSERT(range.lowerBound >= 0 && range.lowerBound <= range.upperBound
                 && range.upperBound <= byteCount);
        previousPartNumber = part.partNumber;
        const qint64 before = completed;
        const UploadProgress report = [&](qint64 sent) {
            if (progress)
                progress->upload(filename, before + sent, byteCount);
        };
        Result<QString> etag = m_uploader->uploadPart(file, range, part.url, report, stop);
        PELLWICK_TRY(etag);
        const UploadedMultipartPart done{part.partNumber, *etag};
        record
            = raw ? record.markingRawPartUploaded(done) : record.markingSidecarPartUploaded(done);
        PELLWICK_TRY(m_stagingArea.writeRecord(record));
        completed += range.length();
        if (progress)
            progress->upload(filename, completed, byteCount);
    }
    return record;
}

Result<StagedImportRecord>
VerifiedBackupImporter::uploadRawParts(const StagedImportRecord &record,
                                       const QString &stagedOriginalURL,
                                       ImportTransferProgressReporter *progress,
                                       std::stop_token stop) const
{
    return uploadParts(record, UploadKind::RawOriginal, stagedOriginalURL, progress, stop);
}

Result<std::optional<StagedImportRecord>>
VerifiedBackupImporter::completeRawUploadIfNeeded(const StagedImportRecord &record,
                                                  const QString &stagedOriginalURL,
                                                  const QString &token,
                                                  ImportTransferProgressReporter *progress,
                                                  std::stop_token stop) const
{
    if (record.multipartUpload && record.multipartUpload->isCompleted) {
        if (progress)
            progress->completeFile(record.byteCount);
        return std::optional(record);
    }
    Result<StagedImportRecord> sent = uploadRawParts(record, stagedOriginalURL, progress, stop);
    PELLWICK_TRY(sent);
    if (!sent->multipartUpload || !sent->backendLibraryItemID)
        return std::optional<StagedImportRecord>();
    const std::optional<QList<UploadedMultipartPart>> parts
        = completionParts(*sent->multipartUpload, sent->byteCount);
    if (!parts)
        return unusableUpload();
    PELLWICK_TRY(m_api->completeVerifiedBackupUpload(
        token, *sent->backendLibraryItemID, sent->multipartUpload->uploadID, *parts, stop));
    const StagedImportRecord next = sent->markingRawUploadCompleted();
    PELLWICK_TRY(m_stagingArea.writeRecord(next));
    if (progress)
        progress->completeFile(next.byteCount);
    return std::optional(next);
}

Result<std::optional<StagedImportRecord>> VerifiedBackupImporter::completeSidecarUploadIfNeeded(
    const StagedImportRecord &record,
    const std::optional<QString> &stagedSidecarURL,
    const QString &token,
    ImportTransferProgressReporter *progress,
    std::stop_token stop) const
{
    if (!record.sidecarFilename)
        return std::optional(record);
    if (!record.sidecarMultipartUpload || !stagedSidecarURL || !record.backendLibraryItemID)
        return std::optional<StagedImportRecord>();
    if (record.sidecarMultipartUpload->isCompleted) {
        if (progress)
            progress->completeFile(record.sidecarByteCount);
        return std::optional(record);
    }
    Result<StagedImportRecord> sent
        = uploadParts(record, UploadKind::Sidecar, *stagedSidecarURL, progress, stop);
    PELLWICK_TRY(sent);
    if (!sent->sidecarMultipartUpload)
        return std::optional<StagedImportRecord>();
    const std::optional<QList<UploadedMultipartPart>> parts
        = completionParts(*sent->sidecarMultipartUpload, sent->sidecarByteCount);
    if (!parts)
        return unusableUpload();
    PELLWICK_TRY(m_api->completeVerifiedBackupSidecarUpload(
        token, *sent->backendLibraryItemID, sent->sidecarMultipartUpload->uploadID, *parts, stop));
    const StagedImportRecord next = sent->markingSidecarUploadCompleted();
    PELLWICK_TRY(m_stagingArea.writeRecord(next));
    if (progress)
        progress->completeFile(next.sidecarByteCount);
    return std::optional(next);
}

std::optional<QString> VerifiedBackupImporter::previewURL(const StagedImportRecord &record) const
{
    if (!record.previewRelativePath)
        return std::nullopt;
    return m_cache.rootURL() + QStringLiteral("/previews/") + *record.previewRelativePath;
}

Result<StagedImportRecord>
VerifiedBackupImporter::uploadPreviewIfNeeded(const StagedImportRecord &record,
                                              ImportTransferProgressReporter *progress,
                                              std::stop_token stop) const
{
    if (record.previewUploaded)
        return record;
    const std::optional<QString> local = previewURL(record);
    if (local && record.previewUploadURL) {
        const qint64 total = record.previewByteCount;
        // The preview's own file name is internal: the row names the photo.
        const UploadProgress report = [&](qint64 sent) {
            if (progress)
                progress->uploadPreview(record.originalFilename, sent, total);
        };
        report(0);
        PELLWICK_TRY(m_uploader->uploadFile(*local, *record.previewUploadURL, report, stop));
        report(total);
    }
    const StagedImportRecord next = record.markingPreviewUploaded();
    PELLWICK_TRY(m_stagingArea.writeRecord(next));
    return next;
}

ArchiveSidecar VerifiedBackupImporter::stagedSidecar(const StagedImportRecord &record)
{
    return {record.sidecarFilename,
            record.sidecarFilename ? std::optional(record.sidecarByteCount) : std::nullopt,
            record.sidecarContentHash};
}

std::optional<ArchiveSidecar>
VerifiedBackupImporter::archivedSidecar(const StagedImportRecord &record,
                                        const QString &token,
                                        ArchiveListing &listing,
                                        std::stop_token stop) const
{
    if (!record.sidecarFilename || !record.backendLibraryItemID)
        return std::nullopt;
    const auto listed = [&]() -> std::optional<ArchiveSidecar> {
        for (const RemoteLibraryItem &item : **listing.items) {
            if (item.id == *record.backendLibraryItemID
                && item.contentHash.compare(record.contentHash, Qt::CaseInsensitive) == 0)
                return ArchiveSidecar{item.archiveSidecarFilename,
                                      item.archiveSidecarByteCount,
                                      item.archiveSidecarContentHash};
        }
        return std::nullopt;
    };
    if (listing.items) {
        if (!*listing.items)
            return std::nullopt; // the list could not be had in this run
        if (std::optional<ArchiveSidecar> sidecar = listed())
            return sidecar;
        // Listed before this run archived the item (the twin it duplicates, uploaded since).
    }
    Result<QList<RemoteLibraryItem>> items = m_api->libraryItems(token, std::move(stop));
    listing.items = items ? std::optional(*items) : std::nullopt;
    return *listing.items ? listed() : std::nullopt;
}

Result<LocalLibraryItem>
VerifiedBackupImporter::closeDuplicate(const StagedImportRecord &record,
                                       const QString &token,
                                       const StatusDidChange &statusDidChange,
                                       ArchiveListing &listing,
                                       std::stop_token stop) const
{
    Result<LocalLibraryItem> item = markRecord(
        record, LibraryItemImportStatus::Duplicate, archivedSidecar(record, token, listing, stop));
    PELLWICK_TRY(item);
    if (statusDidChange)
        statusDidChange();
    return item;
}

Result<LocalLibraryItem>
VerifiedBackupImporter::markRecord(const StagedImportRecord &record,
                                   LibraryItemImportStatus status,
                                   const std::optional<ArchiveSidecar> &archiveSidecar) const
{
    StagedImportPhase phase = StagedImportPhase::NeedsAttention;
    if (status == LibraryItemImportStatus::VerifiedBackup)
        phase = StagedImportPhase::VerifiedBackup;
    else if (status == LibraryItemImportStatus::Duplicate)
        phase = StagedImportPhase::Duplicate;
    const StagedImportRecord terminal = record.markingTerminal(phase);
    PELLWICK_TRY(m_stagingArea.writeRecord(terminal));

    // A second staging of an item that is already verified (an import tried again before a
    // stopped one was recovered) hears that the archive holds its bytes: the item stays
    // verified rather than turning into a duplicate of itself.
    bool alreadyVerified = false;
    Result<std::optional<LocalLibraryItem>> updated
        = m_cache.withExclusiveAccess([&]() -> Result<std::optional<LocalLibraryItem>> {
              if (status == LibraryItemImportStatus::Duplicate) {
                  Result<LocalLibraryCacheRecords> records = m_cache.cachedRecords();
                  PELLWICK_TRY(records);
                  std::optional<LocalLibraryItem> verified = verifiedItem(*records, terminal);
                  alreadyVerified = verified.has_value();
                  if (alreadyVerified)
                      return verified;
              }
              return m_cache.updateImportStatus(terminal.localLibraryItemID, status);
          });
    PELLWICK_TRY(updated);
    if (phase != StagedImportPhase::NeedsAttention && !alreadyVerified) {
        // A duplicate's backend item is another import's archived copy: its sidecar is whatever
        // that import sent, which may not be this package's.
        const ArchiveSidecar sidecar = phase == StagedImportPhase::VerifiedBackup
                                           ? stagedSidecar(terminal)
                                           : archiveSidecar.value_or(ArchiveSidecar());
        updated = m_cache.updateArchiveSidecar(
            terminal.localLibraryItemID, sidecar.filename, sidecar.byteCount, sidecar.contentHash);
        PELLWICK_TRY(updated);
    }
    if (*updated)
        return **updated;
    return fallbackItem(terminal, status);
}

LocalLibraryItem VerifiedBackupImporter::fallbackItem(const StagedImportRecord &record,
                                                      LibraryItemImportStatus status) const
{
    LocalLibraryItem item;
    item.id = record.localLibraryItemID;
    item.originalFilename = record.originalFilename;
    item.canonicalFilename = record.canonicalFilename;
    item.contentHash = record.contentHash;
    item.archiveByteCount = record.byteCount + record.sidecarByteCount;
    const ArchiveSidecar sidecar = stagedSidecar(record);
    item.archiveSidecarFilename = sidecar.filename;
    item.archiveSidecarByteCount = sidecar.byteCount;
    item.archiveSidecarContentHash = sidecar.contentHash;
    item.importDate = m_clock->now();
    item.importStatus = status;
    item.backendLibraryItemID = record.backendLibraryItemID;
    item.ingestSourceName = record.importSourceName;
    item.sourceRelativePath = record.sourceRelativePath;
    item.cacheRelativePath = record.cacheRelativePath;
    item.metadata = PhotoMetadata::unknown();
    item.preview = record.previewRelativePath
                       ? LocalPreviewState::available(QStringLiteral("previews/")
                                                      + *record.previewRelativePath)
                       : LocalPreviewState::failed(QStringLiteral("Preview unavailable"));
    return item;
}

} // namespace Pellwick
