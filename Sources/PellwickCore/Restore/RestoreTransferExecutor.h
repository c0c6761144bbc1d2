#pragma once

#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Ingest/TransferProgress.h>
#include <PellwickCore/Restore/RestoreDownloads.h>
#include <PellwickCore/Restore/RestoreRangeFetching.h>
#include <PellwickCore/Restore/RestoreRunOutcome.h>
#include <PellwickCore/Restore/RestoreTransferClock.h>
#include <PellwickCore/Restore/RestoreTransferManifest.h>
#include <PellwickCore/Restore/RestoreTransferStateLayout.h>
#include <PellwickCore/Restore/RestoreTransferTypes.h>
#include <PellwickCore/Support/FileManager.h>
#include <PellwickCore/Support/Result.h>

#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace Pellwick {

/// What running one Restore Transfer still takes on disk, judged from its stored manifests. Bytes
/// count each file as its file system allocates it.
struct RestoreSpaceNeed
{
    /// The bytes of its files not yet installed at their destinations.
    qint64 destinationBytes = 0;
    /// The most its parts take in the state folder at once: the bytes of its larger file not yet
    /// downloaded. A file's parts all stay until it is installed, and the RAW original's are gone
    /// before the sidecar starts.
    qint64 stateBytes = 0;
    /// The files it still makes in the destination: one per file not yet installed.
    qint64 destinationFiles = 0;
    /// The most file entries its parts take in the state folder at once (with their folder).
    qint64 stateFiles = 0;
    /// The manifests it makes in the state folder; they stay after the run.
    qint64 manifestFiles = 0;

    bool operator==(const RestoreSpaceNeed &) const = default;
};

/// Does the work of one Restore Transfer: for the RAW original and then its optional sidecar, it
/// loads or creates the artifact's manifest, refreshes an expired capability, downloads the
/// missing ranges in parallel into part files, assembles them into a hidden file beside the
/// destination, checks size and content hash and moves the file into place without ever
/// replacing an existing one. The manifest and the part files are the only state, so every run
/// continues from what an earlier one left.
///
/// A range is recorded in the manifest only once its part file and the part's folder entry are
/// on storage, and parts are removed only once the manifest that no longer names them is; a
/// recorded range whose part is gone all the same is fetched again. The hidden assembly file is named in the manifest before it is created, so a run
/// cut short leaves nothing in the user's folder that the next run or a discard does not remove;
/// and a destination that already holds exactly the verified content (installed by a run that
/// did not live to record it) is accepted as installed. Any other existing file is never touched.
/// Once an artifact's complete manifest is on storage its part files are removed: the manifest
/// alone lets a later run verify the installed file again. A later run for another
/// destination (another folder, or a name chosen after a conflict) restores the artifact there
/// anew and leaves the file installed before alone.
///
/// A value; `execute` may run on any thread, and one artifact must not be run by two runs at once.
class RestoreTransferExecutor
{
public:
    using IsPaused = std::function<bool(const RestoreTransferIdentifier &)>;
    /// A fresh capability for the transfer's item; called when a stored one has expired.
    using RefreshCapability = std::function<Result<RestoreTransferCapability>(std::stop_token)>;
    using ProgressCallback = std::function<void(const TransferProgress &)>;

    RestoreTransferExecutor(QString rootPath,
                            RestoreTransferConfiguration configuration,
                            std::shared_ptr<const RestoreRangeFetching> rangeFetcher,
                            std::shared_ptr<const ContentHashing> contentHasher,
                            std::shared_ptr<const RestoreTransferClock> clock,
                            std::shared_ptr<const FileManager> fileManager,
                            IsPaused isPaused = {});

    /// Runs the RAW original, then the sidecar when there is one, and returns the RAW original's
    /// manifest. Rows of operation "Restore Transfer" go to `progressDidChange` under
    /// `transferID`. A stop through `stop` ends the run with `CancellationError`; a pause (asked
    /// through `isPaused` as each range arrives and before each new fetch) with
    /// `RestoreTransferError::Paused`. A sidecar failure leaves the installed RAW original and its
    /// complete manifest alone.
    [[nodiscard]] Result<RestoreTransferManifest>
    execute(const RestoreTransfer &transfer,
            const RefreshCapability &refreshCapability,
            const ProgressCallback &progressDidChange,
            const QUuid &transferID,
            std::stop_token stop = {}) const;

    /// Unless the artifact's manifest records it complete, removes its manifest, its part files
    /// and an assembly file an interrupted run left beside the destination (failures to remove
    /// are ignored). An installed file is never touched. An unreadable manifest, or a parts
    /// folder reached through a symbolic link (ELOOP, naming the link), is returned and nothing
    /// removed; a failed flush of the assembly file's folder is returned and the manifest kept;
    /// a failed flush of the manifests folder after the manifest's removal is returned and the
    /// parts kept.
    [[nodiscard]] Result<void>
    discardIncompleteArtifacts(const RestoreTransferIdentifier &id) const;

    /// The artifact's manifest, or no value when none has been written. Anything but a regular
    /// file is refused as `requireRegularFile` does; a file too large for a manifest, one that
    /// does not decode or that holds another artifact's manifest gives a `DecodingError` naming
    /// the file. A manifests folder, or a parts folder, that is a symbolic link is refused here
    /// and wherever state is written (`FileSystemError` ELOOP naming it).
    [[nodiscard]] Result<std::optional<RestoreTransferManifest>>
    loadManifest(const RestoreTransferIdentifier &id) const;
    /// Writes the manifest atomically, creating the manifests folder when needed.
    [[nodiscard]] Result<void> saveManifest(const RestoreTransferManifest &manifest) const;
    /// The outcome of the request's last settled run, or no value when none is stored; read as
    /// `loadManifest` reads a manifest.
    [[nodiscard]] Result<std::optional<RestoreRunOutcome>>
    loadRunOutcome(qint64 restoreRequestID) const;
    /// Keeps `byteCount` bytes of room for the request's outcome: a file of that size beside the
    /// outcomes, written whole under another name first; one at least that large is kept as it
    /// is. Fails as writing a file there fails.
    [[nodiscard]] Result<void> reserveRunOutcome(qint64 restoreRequestID, qint64 byteCount) const;
    /// Writes the outcome atomically, creating its folder when needed. Where room was kept for it,
    /// the outcome is written over that room, cut to its length and renamed into place, so that
    /// a disk filled meanwhile still takes it (as `RestoreRunOutcome::encodedWithin` that room).
    [[nodiscard]] Result<void> saveRunOutcome(const RestoreRunOutcome &outcome) const;
    /// After the outcome of a run that left items unsaved could not be stored: keeps word of it,
    /// by renaming the room kept for the outcome (which takes no new room) or, without one, by
    /// making an empty file. The next outcome stored takes it back.
    [[nodiscard]] Result<void> markRunOutcomeUnsaved(qint64 restoreRequestID) const;
    /// Whether `markRunOutcomeUnsaved` left word for the request.
    bool isRunOutcomeUnsaved(qint64 restoreRequestID) const;
    /// Removes the request's stored outcome, the room kept for one and any word of one unsaved;
    /// none stored is no failure.
    [[nodiscard]] Result<void> removeRunOutcome(qint64 restoreRequestID) const;
    /// What `execute` would still write for `transfer`, each file rounded up to the block size of
    /// the file system it goes to: a file whose complete manifest names its destination needs
    /// nothing, and recorded ranges whose parts are there are not fetched again. Manifest read
    /// failures are returned as `loadManifest` gives them.
    [[nodiscard]] Result<RestoreSpaceNeed> spaceNeeded(const RestoreTransfer &transfer,
                                                       const FileSystemSpace &destination = {},
                                                       const FileSystemSpace &state = {}) const;

    const RestoreTransferStateLayout &layout() const { return m_layout; }

private:
    struct ProgressContext;
    class RangeDownload;
    class PartsPrefixHash;
    struct HashedPrefix;

    [[nodiscard]] Result<RestoreTransferManifest>
    executeArtifact(const RestoreTransferFile &file,
                    const ProgressContext &progress,
                    const std::function<Result<std::pair<QString, Date>>(std::stop_token)> &refresh,
                    const std::stop_token &stop) const;
    [[nodiscard]] Result<RestoreTransferManifest> preparedManifest(
        const RestoreTransferFile &file,
        const std::function<Result<std::pair<QString, Date>>(std::stop_token)> &refresh,
        const std::stop_token &stop) const;
    [[nodiscard]] Result<void> downloadMissingRanges(RestoreTransferManifest &manifest,
                                                     const RestoreTransferFile &file,
                                                     const ProgressContext &progress,
                                                     const std::stop_token &stop,
                                                     PartsPrefixHash *prefix) const;
    [[nodiscard]] Result<void> finalize(RestoreTransferManifest &manifest,
                                        const RestoreTransferFile &file,
                                        const ProgressContext &progress,
                                        const std::stop_token &stop,
                                        PartsPrefixHash *prefix) const;
    [[nodiscard]] Result<QString>
    assembleTemporaryFile(const RestoreTransferManifest &manifest) const;
    /// Checks size, then content hash; with `prefix`, the hash of the file's first bytes is
    /// taken from it and only the rest of the file is read.
    [[nodiscard]] Result<void> verify(const QString &path,
                                      const RestoreTransferManifest &manifest,
                                      HashedPrefix *prefix = nullptr) const;
    [[nodiscard]] Result<QString> hashAfterPrefix(const QString &path, HashedPrefix &prefix) const;
    /// Creates a state folder, refusing one that is a symbolic link (ELOOP, naming it).
    [[nodiscard]] Result<void> createStateFolder(const QString &path) const;
    /// Records the artifact complete and drops its parts.
    [[nodiscard]] Result<void> markComplete(RestoreTransferManifest &manifest) const;
    /// Removes the artifact's parts folder, ignoring a failure to remove it, once the manifests
    /// folder is flushed (a failed flush is returned and the parts kept). Refuses, removing
    /// nothing, when it or a folder between the state folder and it is a symbolic link (ELOOP,
    /// naming the link).
    [[nodiscard]] Result<void> removeParts(const RestoreTransferIdentifier &id) const;
    /// Takes the file's destination, byte count and hash (the stored ones are not compared) and
    /// keeps only the completed ranges that are chunks of that byte count, each once, by start.
    void adoptFile(RestoreTransferManifest &manifest, const RestoreTransferFile &file) const;
    /// Drops the completed ranges whose part file is not there, so that they are fetched again.
    void forgetMissingParts(RestoreTransferManifest &manifest) const;
    /// The bytes of the completed ranges `adoptFile` would keep: never more than the file.
    qint64 countedByteCount(const RestoreTransferManifest &manifest) const;
    /// Turns the complete manifest of a file installed at another destination into one that
    /// starts the artifact anew.
    static void restartForNewDestination(RestoreTransferManifest &manifest);
    /// Clears the record of the assembly file once it is known to be gone and its folder flushed
    /// and saves the manifest, ignoring a failure (a record kept is only tried again by the next
    /// run).
    void forgetAssembly(RestoreTransferManifest &manifest) const;
    /// Removes the assembly file an earlier run recorded, if it is still there, is one the
    /// executor made and lies directly in the folder of the manifest's destination or of
    /// `replacedDestination` (the one it had before `adoptFile`), flushing its folder; clears the
    /// record (the caller saves the manifest). Fails, the record kept, when the file cannot be
    /// examined or removed or the flush fails.
    [[nodiscard]] Result<void> removeLeftoverAssembly(RestoreTransferManifest &manifest,
                                                      const QString &replacedDestination
                                                      = {}) const;
    [[nodiscard]] Result<void> installVerifiedFile(const QString &temporaryPath,
                                                   const RestoreTransferManifest &manifest) const;
    void report(const ProgressContext &progress,
                TransferProgressPhase phase,
                const RestoreTransferFile &file,
                const RestoreTransferManifest &manifest) const;

    RestoreTransferStateLayout m_layout;
    RestoreTransferConfiguration m_configuration;
    std::shared_ptr<const RestoreRangeFetching> m_rangeFetcher;
    std::shared_ptr<const ContentHashing> m_contentHasher;
    std::shared_ptr<const RestoreTransferClock> m_clock;
    std::shared_ptr<const FileManager> m_fileManager;
    IsPaused m_isPaused;
};

} // namespace Pellwick
