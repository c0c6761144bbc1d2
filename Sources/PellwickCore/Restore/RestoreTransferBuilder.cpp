#include "RestoreTransferBuilder.h"

#include "RestoreRequestCoordinatorError.h"

namespace Pellwick {

Result<RestoreTransfer> RestoreTransferBuilder::build()
{
    const std::optional<QString> reusedRaw = reusableDestination(
        completedRawManifest,
        RestoreTransferArtifact::Raw,
        capability.canonicalFilename,
        capability.byteCount,
        localItem.contentHash,
        selectedFilename ? std::optional(
            RestoreDestinationResolver::destinationPath(destinationDirectory, *selectedFilename))
                         : std::nullopt);
    const QString filename = reusedRaw ? lastPathComponent(*reusedRaw)
                                       : selectedFilename.value_or(capability.canonicalFilename);
    const std::optional<QString> sidecarName
        = capability.sidecar ? std::optional(capability.sidecar->canonicalFilename) : std::nullopt;
    const QString suggested = destinationResolver.suggestedFilename(
        filename, sidecarName, destinationDirectory, reservedDestinations);

    QString destination;
    if (reusedRaw) {
        destination = *reusedRaw;
    } else {
        PELLWICK_TRY_ASSIGN(destination, resolveDestination(filename, suggested));
    }

    // The sidecar is resolved against the RAW's reservation; only a complete success keeps it.
    const QSet<QString> reservedBefore = reservedDestinations;
    reservedDestinations.insert(destination);
    auto sidecar = buildSidecar(filename, suggested);
    if (!sidecar) {
        reservedDestinations = reservedBefore;
        return tl::unexpected(std::move(sidecar).error());
    }

    RestoreTransfer transfer;
    transfer.id = {restoreRequestID, capability.libraryItemID, RestoreTransferArtifact::Raw};
    transfer.canonicalFilename = capability.canonicalFilename;
    transfer.destinationPath = destination;
    transfer.expectedByteCount = capability.byteCount;
    transfer.expectedContentHash = localItem.contentHash;
    transfer.transferURL = capability.transferURL;
    transfer.capabilityExpiresAt = capability.expiresAt;
    transfer.sidecar = std::move(*sidecar);
    return transfer;
}

Result<QString> RestoreTransferBuilder::resolveDestination(const QString &filename,
                                                           const QString &suggestedFilename) const
{
    auto resolved
        = destinationResolver.resolve(filename, destinationDirectory, reservedDestinations);
    if (!resolved) {
        return failure(RestoreRequestCoordinatorError{
            RestoreRequestCoordinatorError::DestinationFilenameConflict{
                capability.libraryItemID,
                std::get<RestoreDestinationResolverError::Conflict>(resolved.error().value).url,
                suggestedFilename}});
    }
    return *resolved;
}

Result<std::optional<RestoreTransferFile>>
RestoreTransferBuilder::buildSidecar(const QString &rawFilename, const QString &suggestedFilename)
{
    if (!capability.sidecar)
        return std::optional<RestoreTransferFile>();
    const RestoreTransferCapabilityFile &sidecar = *capability.sidecar;

    // Always named after the RAW original, which may no longer carry the card's name the
    // sidecar was stored under: an editor finds a sidecar only beside a RAW of the same stem.
    // Paired with the usable form of the backend's name, so that the name the user accepts after
    // a conflict over an unusable sidecar name is itself usable.
    const QString filename = RestoreDestinationResolver::pairedSidecarFilename(
        rawFilename, RestoreDestinationResolver::usableFilename(sidecar.canonicalFilename));
    const QString expectedPath
        = RestoreDestinationResolver::destinationPath(destinationDirectory, filename);

    std::optional<QString> destination
        = reusableDestination(completedSidecarManifest,
                              RestoreTransferArtifact::Sidecar,
                              sidecar.canonicalFilename,
                              sidecar.byteCount,
                              sidecar.contentHash,
                              selectedFilename ? std::optional(expectedPath) : std::nullopt);
    if (destination && resolvedPath(*destination) != resolvedPath(expectedPath))
        destination.reset();
    if (!destination) {
        PELLWICK_TRY_ASSIGN(destination, resolveDestination(filename, suggestedFilename));
    }
    reservedDestinations.insert(*destination);

    RestoreTransferFile file;
    file.id = {restoreRequestID, capability.libraryItemID, RestoreTransferArtifact::Sidecar};
    file.canonicalFilename = sidecar.canonicalFilename;
    file.destinationPath = *destination;
    file.expectedByteCount = sidecar.byteCount;
    file.expectedContentHash = sidecar.contentHash;
    file.transferURL = sidecar.transferURL;
    file.capabilityExpiresAt = sidecar.expiresAt;
    return std::optional(std::move(file));
}

std::optional<QString>
RestoreTransferBuilder::reusableDestination(const std::optional<RestoreTransferManifest> &manifest,
                                            RestoreTransferArtifact artifact,
                                            const QString &canonicalFilename,
                                            qint64 byteCount,
                                            const QString &contentHash,
                                            const std::optional<QString> &selectedPath) const
{
    if (!manifest || (selectedFilename && !selectedPath))
        return std::nullopt;
    const RestoreTransferIdentifier expectedID{
        restoreRequestID, capability.libraryItemID, artifact};
    if (manifest->id != expectedID || manifest->canonicalFilename != canonicalFilename
        || manifest->expectedByteCount != byteCount || manifest->expectedContentHash != contentHash)
        return std::nullopt;
    // A stored path is trusted no more than a name from the backend: it must name one file
    // directly inside the chosen folder.
    const QString &path = manifest->destinationPath;
    if (!path.startsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('/'))
        || !isSafePathComponent(lastPathComponent(path)))
        return std::nullopt;
    if (resolvedPath(parentPath(path)) != resolvedPath(destinationDirectory))
        return std::nullopt;
    // After the user chose a name, only a transfer that went to that very name is reused.
    if (selectedPath && resolvedPath(path) != resolvedPath(*selectedPath))
        return std::nullopt;
    // Installed but not yet recorded (a run cut short between the two): reused when the file
    // there is exactly the verified content, as the executor then takes it.
    if (!manifest->isComplete) {
        const Result<bool> installed = manifest->destinationHoldsExpectedContent(
            *destinationResolver.fileManager(), *destinationResolver.contentHasher());
        if (!installed || !*installed)
            return std::nullopt;
    }
    return path;
}

QString RestoreTransferBuilder::resolvedPath(const QString &path) const
{
    return resolvingSymlinksInPath(*destinationResolver.fileManager(), path);
}

} // namespace Pellwick
