#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Restore/RestoreTransferTypes.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QList>
#include <QString>

namespace Pellwick {

/// The persisted state of one artifact's transfer, one file per artifact. The executor rewrites
/// the whole manifest after every change.
struct RestoreTransferManifest
{
    RestoreTransferIdentifier id;
    QString canonicalFilename;
    QString destinationPath;
    qint64 expectedByteCount = 0;
    QString expectedContentHash;
    QString transferURL; ///< the download URL last used, the exact text received
    Date capabilityExpiresAt;
    /// Ranges whose part files are complete on disk, kept sorted by start.
    QList<RestoreByteRange> completedRanges;
    /// The file has been assembled, verified and installed.
    bool isComplete = false;
    /// The hidden file this transfer assembles beside the destination, recorded before it is
    /// created so that a run cut short can remove it; empty when no assembly is under way.
    /// Written as "assemblyURL" only when set.
    QString assemblyPath;

    /// True when a regular file (not a link) of exactly `expectedByteCount` bytes whose content
    /// hash is `expectedContentHash` lies at `destinationPath`: the verified content is installed.
    /// A missing or different file gives false; only a failure to hash the file is returned.
    [[nodiscard]] Result<bool> destinationHoldsExpectedContent(const FileManager &fileManager,
                                                               const ContentHashing &hasher) const;

    /// The file's JSON form: pretty-printed, keys sorted, every key written. Fails only for a
    /// non-finite expiry.
    [[nodiscard]] Result<QByteArray> encoded() const;

    /// Reads the JSON form. All nine keys and both keys of each range are required with their
    /// JSON types; a missing "artifact" reads as the RAW original; "assemblyURL" is optional;
    /// other keys are ignored and nothing else is checked. Failures are `DecodingError`s naming the key path.
    [[nodiscard]] static Result<RestoreTransferManifest> decode(const QByteArray &data);

    bool operator==(const RestoreTransferManifest &) const = default;
};

} // namespace Pellwick
