#include "Error.h"

#include "Overloaded.h"
#include "Result.h"

#include <cstring>

namespace Pellwick {

namespace {

QString describeDecodingKind(DecodingError::Kind kind)
{
    switch (kind) {
    case DecodingError::Kind::DataCorrupted:
        return QStringLiteral("data corrupted");
    case DecodingError::Kind::KeyNotFound:
        return QStringLiteral("key not found");
    case DecodingError::Kind::ValueNotFound:
        return QStringLiteral("value not found");
    case DecodingError::Kind::TypeMismatch:
        return QStringLiteral("type mismatch");
    }
    return {};
}

QString describeLibrarySessionClientError(const LibrarySessionClientError &error)
{
    using E = LibrarySessionClientError;
    return std::visit(
        Overloaded{
            [](const E::UnexpectedStatus &c) {
                return QStringLiteral("unexpected status %1").arg(c.statusCode);
            },
            [](const E::StorageFull &c) {
                return QStringLiteral("storage full (used %1 of %2, %3 remaining): %4")
                    .arg(c.state.usedBytes)
                    .arg(c.state.limitBytes)
                    .arg(c.state.remainingBytes)
                    .arg(c.state.message);
            },
            [](const E::RestoreAllowanceExceeded &c) {
                return QStringLiteral("restore allowance exceeded (%1)").arg(toRaw(c.kind));
            },
            [](const E::RestoreRequestFailed &c) {
                return QStringLiteral("restore request failed with status %1: %2 (%3)")
                    .arg(c.statusCode)
                    .arg(c.error, c.reason.value_or(QStringLiteral("no reason")));
            },
            [](const E::ImportUnavailable &) { return QStringLiteral("import unavailable"); },
            [](const E::RestoreUnavailableAfterGracePeriod &) {
                return QStringLiteral("restore unavailable after the billing grace period");
            },
        },
        error.value);
}

QString describeIngestCacheError(const IngestCacheError &error)
{
    using E = IngestCacheError;
    return std::visit(
        Overloaded{
            [](const E::InsufficientCapacity &c) {
                return QStringLiteral("insufficient capacity: %1 bytes required, %2 available")
                    .arg(c.requiredBytes)
                    .arg(c.availableBytes);
            },
            [](const E::VerificationFailed &c) {
                return QStringLiteral("verification failed for %1").arg(c.relativePath);
            },
            [](const E::UnsupportedMigrationItem &c) {
                return QStringLiteral("unsupported migration item %1").arg(c.relativePath);
            },
            [](const E::MigrationSourceChangedTooOften &c) {
                return QStringLiteral("migration source changed too often: %1").arg(c.relativePath);
            },
            [](const E::UnableToDetermineCapacity &) {
                return QStringLiteral("unable to determine capacity");
            },
            [](const E::MigrationTargetIsNotEmpty &) {
                return QStringLiteral("migration target is not empty");
            },
            [](const E::RetainedCacheConflicts &) {
                return QStringLiteral("retained cache conflicts");
            },
            [](const E::InvalidMigrationTarget &) {
                return QStringLiteral("invalid migration target");
            },
            [](const E::MigrationSourceIsUnavailable &) {
                return QStringLiteral("migration source is unavailable");
            },
            [](const E::PackageOutsideActiveRoot &) {
                return QStringLiteral("package outside the active cache root");
            },
        },
        error.value);
}

QString describeRestoreTransferError(const RestoreTransferError &error)
{
    using E = RestoreTransferError;
    return std::visit(
        Overloaded{
            [](const E::InvalidRangeData &c) {
                return QStringLiteral("invalid range data: %1 bytes expected, %2 received")
                    .arg(c.expected)
                    .arg(c.actual);
            },
            [](const E::ByteCountMismatch &c) {
                return QStringLiteral("byte count mismatch: %1 expected, %2 found")
                    .arg(c.expected)
                    .arg(c.actual);
            },
            [](const E::ContentHashMismatch &c) {
                return QStringLiteral("content hash mismatch: %1 expected, %2 found")
                    .arg(c.expected, c.actual);
            },
            [](const E::MissingLocalLibraryItem &c) {
                return QStringLiteral("missing local library item %1").arg(c.libraryItemID);
            },
            [](const E::DestinationAlreadyExists &c) {
                return QStringLiteral("destination already exists: %1").arg(c.destinationPath);
            },
            [](const E::Paused &) { return QStringLiteral("restore transfer paused"); },
            [](const E::Cancelled &) { return QStringLiteral("restore transfer cancelled"); },
            [](const E::UnexpectedRangeResponse &) {
                return QStringLiteral("unexpected range response");
            },
            [](const E::MissingSidecarCapability &) {
                return QStringLiteral("missing sidecar capability");
            },
        },
        error.value);
}

QString describeRestoreRequestCoordinatorError(const RestoreRequestCoordinatorError &error)
{
    using E = RestoreRequestCoordinatorError;
    return std::visit(
        Overloaded{
            [](const E::DestinationFilenameConflict &c) {
                return QStringLiteral("destination filename conflict for item %1 at %2 (free: %3)")
                    .arg(c.libraryItemID)
                    .arg(c.existingURL, c.suggestedFilename);
            },
            [](const E::NoRestorableItems &) { return QStringLiteral("no restorable items"); },
            [](const E::LocalLibraryCacheConflict &) {
                return QStringLiteral("two local records share one backend library item id");
            },
            [](const E::RestoreRequestItemConflict &) {
                return QStringLiteral("the restore request lists one library item twice");
            },
        },
        error.value);
}

} // namespace

tl::unexpected<Error> fileSystemFailure(const QString &operation, const QString &path, int code)
{
    return failure(FileSystemError{operation, path, code});
}

QString describe(const Error &error)
{
    return std::visit(
        Overloaded{
            [](const FileSystemError &e) {
                return QStringLiteral("%1 %2: %3 (errno %4)")
                    .arg(e.operation, e.path, QString::fromLocal8Bit(std::strerror(e.code)))
                    .arg(e.code);
            },
            [](const DecodingError &e) {
                return QStringLiteral("decoding failed (%1) at \"%2\": %3")
                    .arg(describeDecodingKind(e.kind), e.keyPath, e.description);
            },
            [](const TransportError &e) {
                return QStringLiteral("transport error %1%2%3: %4")
                    .arg(e.curlCode)
                    .arg(e.cancelled ? QStringLiteral(" (cancelled)") : QString())
                    .arg(e.timedOut ? QStringLiteral(" (timed out)") : QString())
                    .arg(e.message);
            },
            [](const CancellationError &) { return QStringLiteral("cancelled"); },
            [](const UnexpectedExceptionError &e) {
                return QStringLiteral("unexpected exception: %1").arg(e.message);
            },
            [](const VerifiedFileCopyError &e) {
                return std::visit(
                    Overloaded{[](const VerifiedFileCopyError::UnableToCreatePartial &c) {
                                   return QStringLiteral("unable to create partial file %1")
                                       .arg(c.partialPath);
                               },
                               [](const VerifiedFileCopyError::ContentHashMismatch &) {
                                   return QStringLiteral("content hash mismatch");
                               }},
                    e.value);
            },
            [](const LibrarySessionClientError &e) { return describeLibrarySessionClientError(e); },
            [](const PresignedURLUploadError &e) {
                return std::visit(
                    Overloaded{[](const PresignedURLUploadError::UnexpectedStatus &c) {
                        return QStringLiteral("upload_http_status=%1").arg(c.status);
                    }},
                    e.value);
            },
            [](const IngestCacheError &e) { return describeIngestCacheError(e); },
            [](const RestoreTransferError &e) { return describeRestoreTransferError(e); },
            [](const VerifiedBackupImporterError &e) {
                return std::visit(
                    Overloaded{[](const VerifiedBackupImporterError::StorageFull &c) {
                                   return QStringLiteral("verified_backup_importer_error="
                                                         "storage_full (%1 of %2 bytes used)")
                                       .arg(c.state.usedBytes)
                                       .arg(c.state.limitBytes);
                               },
                               [](const VerifiedBackupImporterError::UnrecoverableStagedImport &) {
                                   return QStringLiteral("unrecoverable staged import");
                               }},
                    e.value);
            },
            [](const RestoreRequestCoordinatorError &e) {
                return describeRestoreRequestCoordinatorError(e);
            },
        },
        error.value);
}

} // namespace Pellwick
