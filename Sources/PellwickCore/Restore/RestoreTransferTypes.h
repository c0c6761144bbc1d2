#pragma once

#include <PellwickCore/Support/Date.h>

#include <QHashFunctions>
#include <QString>

#include <functional>
#include <optional>

namespace Pellwick {

/// The two files a restore can save for one library item. Raw values "raw" and "sidecar".
enum class RestoreTransferArtifact {
    Raw,
    Sidecar,
};

QString toRaw(RestoreTransferArtifact artifact);
/// Exact, case-sensitive match against the raw values.
std::optional<RestoreTransferArtifact> restoreTransferArtifactFromRaw(const QString &raw);

/// One artifact of one item of one Restore Request: the key of the engine's tables and of every
/// state file name.
struct RestoreTransferIdentifier
{
    qint64 restoreRequestID = 0;
    qint64 libraryItemID = 0;
    RestoreTransferArtifact artifact = RestoreTransferArtifact::Raw;

    /// "restore-request-<request>-item-<item>", with "-sidecar" appended for the sidecar.
    QString fileStem() const;

    bool operator==(const RestoreTransferIdentifier &) const = default;
};

size_t qHash(const RestoreTransferIdentifier &id, size_t seed = 0) noexcept;

/// An inclusive range of byte offsets of an artifact.
struct RestoreByteRange
{
    qint64 start = 0;
    qint64 endInclusive = 0;

    /// endInclusive - start + 1. A range whose count does not fit 64 bits (only a damaged
    /// manifest holds one) counts 0; a range ending before its start counts 0 or less.
    qint64 byteCount() const;

    bool operator==(const RestoreByteRange &) const = default;
};

/// `a + b` for byte counts of 0 or more, held at the largest 64-bit value instead of overflowing;
/// negative counts add as 0.
qint64 saturatingByteSum(qint64 a, qint64 b);

/// One artifact to download and save. No checks at construction.
struct RestoreTransferFile
{
    RestoreTransferIdentifier id;
    QString canonicalFilename;
    QString destinationPath; ///< absolute path where the finished file is installed
    qint64 expectedByteCount = 0;
    QString expectedContentHash; ///< compared as text with the content hasher's result
    QString transferURL;         ///< presigned download URL, the exact text received
    Date capabilityExpiresAt;

    bool operator==(const RestoreTransferFile &) const = default;
};

/// One planned restore of one library item: its RAW original and its optional sidecar.
struct RestoreTransfer
{
    RestoreTransferIdentifier id;
    QString canonicalFilename;
    QString destinationPath;
    qint64 expectedByteCount = 0;
    QString expectedContentHash;
    QString transferURL;
    Date capabilityExpiresAt;
    std::optional<RestoreTransferFile> sidecar;

    /// The RAW original as a file of its own.
    RestoreTransferFile rawFile() const;

    bool operator==(const RestoreTransfer &) const = default;
};

/// Tuning of the transfer, taken unchanged.
struct RestoreTransferConfiguration
{
    qint64 chunkSizeBytes = 16'777'216;
    int maximumParallelChunks = 4;

    /// 16 MiB chunks, 4 in parallel: what the application uses.
    static RestoreTransferConfiguration defaultConfiguration() { return {}; }

    bool operator==(const RestoreTransferConfiguration &) const = default;
};

/// A folder with less free space, or fewer free file entries, than a restore run needs in it.
struct RestoreSpaceShortfall
{
    QString folder;
    qint64 neededBytes = 0;
    qint64 availableBytes = 0;
    /// Of `neededBytes`, the working room of the restore state folder when it shares the folder's
    /// file system; 0 otherwise.
    qint64 stateBytes = 0;
    /// The file entries the run makes there and those free: short when the first is larger.
    qint64 neededFileEntries = 0;
    qint64 availableFileEntries = 0;

    bool isShortOfFileEntries() const { return neededFileEntries > availableFileEntries; }

    bool operator==(const RestoreSpaceShortfall &) const = default;
};

} // namespace Pellwick

template<>
struct std::hash<Pellwick::RestoreTransferIdentifier>
{
    size_t operator()(const Pellwick::RestoreTransferIdentifier &id) const noexcept
    {
        return Pellwick::qHash(id);
    }
};
