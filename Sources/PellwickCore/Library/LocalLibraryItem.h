#pragma once

#include <PellwickCore/Ingest/PhotoMetadata.h>
#include <PellwickCore/Ingest/SourceMediaEvidence.h>
#include <PellwickCore/Library/IngestCachePackage.h>
#include <PellwickCore/Library/LibraryItemImportStatus.h>
#include <PellwickCore/Library/LocalPreviewState.h>
#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Support/Date.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>
#include <PellwickCore/Support/SharedOptional.h>

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QUuid>

#include <optional>

namespace Pellwick {

/// The sidecar of a photo as a record knows it; both fields absent for a photo without one.
struct PackageSidecar
{
    std::optional<QString> filename;
    std::optional<QString> contentHash;

    bool operator==(const PackageSidecar &) const = default;
};

/// One library record per RAW original. A plain value: every change is a copy-with-change
/// operation returning a new record, which the caller persists through the library store.
/// File URLs are held as absolute paths.
struct LocalLibraryItem
{
    QUuid id;
    QString originalFilename;
    QString canonicalFilename;
    QString contentHash;
    std::optional<qint64> archiveByteCount;
    std::optional<QString> archiveSidecarFilename;
    std::optional<qint64> archiveSidecarByteCount;
    std::optional<QString> archiveSidecarContentHash;
    Date importDate;
    LibraryItemImportStatus importStatus = LibraryItemImportStatus::LocalCacheReady;
    std::optional<qint64> backendLibraryItemID;
    std::optional<RestoreRequestStatus> restoreStatus;
    std::optional<QString> restoreAttentionReason;
    std::optional<QString> ingestCacheOriginalURL;
    std::optional<QString> ingestCacheSidecarURL;
    std::optional<QString> ingestCacheSidecarContentHash;
    std::optional<QString> ingestSourceName;
    std::optional<QString> sourceRelativePath;
    /// Shared by the copies of a record (a list of visible items, the rows of a tree) until one
    /// changes it.
    SharedOptional<SourceMediaEvidence> sourceMediaEvidence;
    std::optional<QString> cacheRelativePath;
    PhotoMetadata metadata;
    LocalPreviewState preview;

    bool operator==(const LocalLibraryItem &) const = default;

    /// True for a Verified Backup without source-media evidence, or whose evidence is not marked
    /// changed and names the archived bytes: the RAW original's hash, and the archived sidecar's
    /// hash when the source held a sidecar (hexadecimal case ignored).
    bool isSafeToEraseSourceMedia() const;
    /// True for a record needing attention only for want of a verified copy of its bytes, as
    /// reconciliation makes one for a package under a batch whose copy-in has not finished: its
    /// preview is still the discovery's and nothing of the archive is known of it.
    bool awaitsVerifiedIngestCacheCopy() const;
    /// True when the record's source-media evidence, which a copy-in takes once it has verified
    /// the cached files against their source, names the bytes of the record's cached package.
    bool holdsVerifiedIngestCacheCopy() const;
    /// The backend item this record stands for in a restore: its backend id, but none for a
    /// duplicate, whose id names the archived item it copies and which the archived record
    /// restores.
    std::optional<qint64> restoreLibraryItemID() const;

    // Copy-with-change operations: each returns a record equal to this one except in the fields
    // it names.

    LocalLibraryItem replacingImportStatus(LibraryItemImportStatus status) const;
    LocalLibraryItem replacingArchiveSidecar(std::optional<QString> filename,
                                             std::optional<qint64> byteCount,
                                             std::optional<QString> sidecarContentHash) const;
    LocalLibraryItem replacingBackendLibraryItemID(std::optional<qint64> backendID) const;
    LocalLibraryItem replacingRestoreStatus(std::optional<RestoreRequestStatus> status,
                                            std::optional<QString> attentionReason) const;
    /// Sets the three Ingest Cache fields from `package` (all cleared without one) and takes its
    /// relative path when it carries one; `cacheRelativePath` is never cleared.
    LocalLibraryItem
    replacingIngestCachePackage(const std::optional<IngestCachePackage> &package) const;
    /// Sets the three Ingest Cache fields from `package`; `cacheRelativePath` stays.
    LocalLibraryItem attachingIngestCachePackageForCleanup(const IngestCachePackage &package) const;
    /// Takes `other`'s Ingest Cache package (reading its sidecar size) and its evidence when it
    /// has one; everything else stays this record's.
    LocalLibraryItem replacingIngestCacheItem(const LocalLibraryItem &other,
                                              const FileManager &fileManager) const;
    /// Sets the evidence's safety to changed; a record without evidence comes back equal.
    LocalLibraryItem markingSourceMediaChanged() const;
    /// Re-roots the two Ingest Cache URLs that lie in `oldRoot` (compared with symbolic links
    /// resolved) under `newRoot`, used as given; URLs elsewhere are returned byte-identical.
    LocalLibraryItem relocatingIngestCacheURLs(const QString &oldRoot,
                                               const QString &newRoot,
                                               const FileManager &fileManager) const;

    /// The record's Ingest Cache package, or nothing without a cached original. The sidecar's
    /// size is read now; a missing sidecar, a failure or anything but a regular file gives none.
    std::optional<IngestCachePackage> ingestCachePackage(const FileManager &fileManager) const;
    /// True when `candidate`'s cached package is the one this archived record describes (the
    /// content hashes are not compared). Reads the candidate's sidecar size; never fails.
    bool matchesArchivedPackage(const LocalLibraryItem &candidate,
                                const FileManager &fileManager) const;
    /// The sidecar this record's photo came with: the one its source-media evidence saw, else the
    /// cached one it names, else, once archived, the archived one; nothing when the record knows
    /// none of them.
    std::optional<PackageSidecar> ownSidecar() const;
    /// The content hash of `ownSidecar`, pointing into this record; null for none.
    const QString *ownSidecarContentHash() const;
    /// True when `copy`, a fresh copy of this record's RAW bytes, is this record's photo rather
    /// than a photo of its own: for a Verified Backup (its cleanup pending or not) or a
    /// duplicate, a copy whose sidecar (or lack of one) the archive holds with its size and
    /// content, under whatever name (a twin's copy too: the archive holds it already); for any
    /// other record, a copy with the record's own sidecar (none on both sides, or the same name
    /// and content hash), any copy when the record knows no sidecar, or a copy of its file name
    /// when it awaits a verified copy without a sidecar yet. A byte copy of a RAW original kept
    /// with another sidecar is another photo.
    bool takesIngestCacheCopy(const LocalLibraryItem &copy, const FileManager &fileManager) const;

    /// The JSON object of one record: the eight required keys always, the optional ones only with
    /// a value.
    QJsonObject toJson() const;
    /// Reads one record; a missing required key, a wrong JSON type, an unknown status word, a
    /// broken preview or a file URL that is not an absolute "file:" URL fails with a
    /// `DecodingError` whose key path begins with `path`. Null optional keys read as absent and
    /// unknown keys are ignored.
    [[nodiscard]] static Result<LocalLibraryItem> fromJson(const QJsonValue &json,
                                                           const QString &path = {});
};

/// Whether `path` lies below one of `folders`, all as the Ingest Cache lists them.
bool liesBelowAnyFolder(const QString &path, const QSet<QString> &folders);

} // namespace Pellwick
