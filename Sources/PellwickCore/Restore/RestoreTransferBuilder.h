#pragma once

#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Restore/RestoreDestinationResolver.h>
#include <PellwickCore/Restore/RestoreDownloads.h>
#include <PellwickCore/Restore/RestoreTransferManifest.h>
#include <PellwickCore/Restore/RestoreTransferTypes.h>
#include <PellwickCore/Support/Result.h>

#include <QSet>
#include <QString>

#include <optional>

namespace Pellwick {

/// Turns one transfer capability of a ready Restore Request and its local record into one
/// `RestoreTransfer` whose destinations in `destinationDirectory` are free: never an existing
/// file, never a name an earlier transfer of the same run claimed. A transfer that already
/// completed into the same folder keeps its destination, so a second run reuses finished files;
/// so does one whose file is installed with exactly the expected content but was not yet recorded
/// complete.
/// Built per capability; `build()` adds the destinations it assigns to `reservedDestinations`.
struct RestoreTransferBuilder
{
    RestoreDestinationResolver destinationResolver;
    RestoreTransferCapability capability;
    LocalLibraryItem localItem; ///< the record whose backend id is the capability's
    qint64 restoreRequestID = 0;
    QString destinationDirectory;
    /// A filename the user chose for this item after a conflict; only a transfer to that name is
    /// then reused.
    std::optional<QString> selectedFilename;
    std::optional<RestoreTransferManifest> completedRawManifest;
    std::optional<RestoreTransferManifest> completedSidecarManifest;
    /// Destinations claimed earlier in the run.
    QSet<QString> reservedDestinations;

    /// Fails with `RestoreRequestCoordinatorError::DestinationFilenameConflict` when the RAW's or
    /// the sidecar's destination is taken, or when a name from the backend or the user is not one
    /// safe path component; `reservedDestinations` is then left as it was.
    [[nodiscard]] Result<RestoreTransfer> build();

private:
    [[nodiscard]] Result<QString> resolveDestination(const QString &filename,
                                                     const QString &suggestedFilename) const;
    [[nodiscard]] Result<std::optional<RestoreTransferFile>>
    buildSidecar(const QString &rawFilename, const QString &suggestedFilename);
    /// The manifest's destination when it may be reused for `artifact`: the manifest is this
    /// item's, its file is in the chosen folder, and it is complete or its destination already
    /// holds the expected content. With a selected filename, only at `selectedPath`.
    std::optional<QString>
    reusableDestination(const std::optional<RestoreTransferManifest> &manifest,
                        RestoreTransferArtifact artifact,
                        const QString &canonicalFilename,
                        qint64 byteCount,
                        const QString &contentHash,
                        const std::optional<QString> &selectedPath) const;
    QString resolvedPath(const QString &path) const;
};

} // namespace Pellwick
