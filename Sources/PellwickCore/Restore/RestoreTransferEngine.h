#pragma once

#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Restore/RestoreTransferExecutor.h>

#include <QList>
#include <QUuid>

#include <memory>
#include <optional>

namespace Pellwick {

/// Where the stored transfer state of a Restore Request that stopped short of its end left off.
struct UnfinishedRestoreTransfer
{
    /// The folder that holds most of the request's RAW original manifests.
    QString destinationDirectory;
    /// The items saved into that folder: the RAW original and any sidecar complete.
    qint64 savedItemCount = 0;

    bool operator==(const UnfinishedRestoreTransfer &) const = default;
};

/// Runs resumable restore transfers, each on a thread of its own, with pause and cancel.
///
/// A running transfer is keyed by the RAW original's identifier; its sidecar runs inside the same
/// task. One plain mutex guards the running tasks, the paused set and the cancelled set; it is
/// held for one table operation at a time and never across a stop request, a file operation or a
/// network call. Held by `std::shared_ptr`. Destroying the engine neither blocks nor stops a
/// running transfer: each task owns what it uses. Thread-safe.
class RestoreTransferEngine
{
public:
    RestoreTransferEngine(QString rootPath,
                          RestoreTransferConfiguration configuration,
                          std::shared_ptr<const RestoreRangeFetching> rangeFetcher,
                          std::shared_ptr<const ContentHashing> contentHasher,
                          std::shared_ptr<const RestoreTransferClock> clock,
                          std::shared_ptr<const FileManager> fileManager);
    RestoreTransferEngine(const RestoreTransferEngine &) = delete;
    RestoreTransferEngine &operator=(const RestoreTransferEngine &) = delete;
    ~RestoreTransferEngine();

    /// The folder of the manifests and part files.
    const QString &rootPath() const { return m_rootPath; }

    /// Runs `transfer` (RAW original, then its sidecar) on a thread of its own and blocks the
    /// calling thread until it ends; returns the RAW original's manifest. Clears earlier pause and
    /// cancel marks of the transfer. Nothing the caller does stops the transfer except `pause`,
    /// `cancel` and `cancelRestoreRequest`: it then fails with `RestoreTransferError::Paused`
    /// (its parts and manifest kept) or `RestoreTransferError::Cancelled` (its unfinished state
    /// removed). Every other failure is returned unchanged. A call for a transfer that is still
    /// running joins it and returns its outcome.
    [[nodiscard]] Result<RestoreTransferManifest>
    continueTransfer(const RestoreTransfer &transfer,
                     RestoreTransferExecutor::RefreshCapability refreshCapability,
                     RestoreTransferExecutor::ProgressCallback progressDidChange,
                     const QUuid &transferID);

    /// Marks `id` paused and stops its running transfer, if any. Never waits.
    void pause(const RestoreTransferIdentifier &id);
    /// Stops the running transfer of `id` as cancelled; nothing happens when none runs. Never
    /// waits.
    void cancel(const RestoreTransferIdentifier &id);
    /// Cancels the running transfers of the listed items and removes the unfinished state of
    /// their RAW originals and sidecars at once; finished artifacts keep their manifests and
    /// files. Never waits, never fails.
    void cancelRestoreRequest(qint64 restoreRequestID, const QList<qint64> &libraryItemIDs);

    /// Removes the complete manifests of the RAW originals and sidecars of `request`'s items, for
    /// a request that nothing is left to restore of. A manifest that is not complete or cannot be
    /// read, one of another request and the manifests of an item whose transfer runs stay.
    /// Never waits, never fails.
    void removeCompletedManifests(const RestoreRequest &request) const;

    /// The artifact's manifest as last written, or no value when none exists; read and decoding
    /// failures are returned unchanged.
    [[nodiscard]] Result<std::optional<RestoreTransferManifest>>
    manifest(const RestoreTransferIdentifier &id) const;
    /// The stored transfer of `restoreRequestID` when manifests of some of `libraryItemIDs` exist
    /// and not every item is saved; no value otherwise. Read failures are returned unchanged.
    [[nodiscard]] Result<std::optional<UnfinishedRestoreTransfer>>
    unfinishedTransfer(qint64 restoreRequestID, const QList<qint64> &libraryItemIDs) const;
    /// Before a run of `transfers` into `destinationDirectory`, both folders existing: when both
    /// share a file system and the destination has files still to install, the destination when
    /// its free space is less than those bytes plus the most the run keeps in the state folder at
    /// once (the parts of its largest file still to download; the shortfall names that share);
    /// else the state folder when its free space is less than those parts; else, on another file
    /// system, the destination when its free space is less than the bytes still to be installed
    /// there. Each file counts as its file system
    /// allocates it, in whole blocks. Where a file system counts its free file entries, a folder
    /// is short too when they are fewer than the files the run makes there (manifests, parts and
    /// their folder in the state folder, one per file in the destination). No value when both
    /// have room, or a file system reports no figure. Read failures are returned unchanged.
    [[nodiscard]] Result<std::optional<RestoreSpaceShortfall>>
    spaceShortfall(const QList<RestoreTransfer> &transfers,
                   const QString &destinationDirectory) const;
    /// Writes `manifest` atomically to its place, creating the manifests folder when needed.
    [[nodiscard]] Result<void> persistManifest(const RestoreTransferManifest &manifest) const;

    /// The stored outcome of the request's last settled run, or no value when none is stored;
    /// read and decoding failures are returned unchanged.
    [[nodiscard]] Result<std::optional<RestoreRunOutcome>>
    runOutcome(qint64 restoreRequestID) const;
    /// Before a run of the request's `itemCount` items writes anything else: keeps room in the
    /// state folder for the outcome of that run, so that it can still be stored when the disk has
    /// filled meanwhile (a full disk takes writes over bytes a file holds, not new files). Fails
    /// as writing a file into the state folder fails.
    [[nodiscard]] Result<void> reserveRunOutcome(qint64 restoreRequestID, qint64 itemCount) const;
    /// Writes `outcome` atomically beside the manifests, replacing the request's stored one, into
    /// the room `reserveRunOutcome` kept when there is some.
    [[nodiscard]] Result<void> persistRunOutcome(const RestoreRunOutcome &outcome) const;
    /// After `persistRunOutcome` failed for a run that left items unsaved: keeps word that the
    /// request's outcome could not be stored, taking no new room where some was kept for it.
    [[nodiscard]] Result<void> markRunOutcomeUnsaved(qint64 restoreRequestID) const;
    /// Whether the request's last settled run left items unsaved and its outcome could not be
    /// stored (and none was stored since).
    bool isRunOutcomeUnsaved(qint64 restoreRequestID) const;
    /// Forgets the request's stored outcome, the room kept for one and any word of one unsaved,
    /// once nothing of it needs attention any more.
    [[nodiscard]] Result<void> removeRunOutcome(qint64 restoreRequestID) const;

private:
    struct State;
    struct Task;

    RestoreTransferExecutor executor() const;

    QString m_rootPath;
    RestoreTransferConfiguration m_configuration;
    std::shared_ptr<const RestoreRangeFetching> m_rangeFetcher;
    std::shared_ptr<const ContentHashing> m_contentHasher;
    std::shared_ptr<const RestoreTransferClock> m_clock;
    std::shared_ptr<const FileManager> m_fileManager;
    std::shared_ptr<State> m_state;
};

} // namespace Pellwick
