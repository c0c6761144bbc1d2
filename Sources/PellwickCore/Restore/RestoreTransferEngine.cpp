#include "RestoreTransferEngine.h"

#include <PellwickCore/Restore/RestoreTransferError.h>
#include <PellwickCore/Support/Executor.h>

#include <QHash>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <utility>

namespace Pellwick {

/// The tables shared by the engine and its running tasks.
struct RestoreTransferEngine::State
{
    std::mutex mutex;
    QHash<RestoreTransferIdentifier, std::shared_ptr<Task>> activeTasks;
    QSet<RestoreTransferIdentifier> pausedTransfers;
    QSet<RestoreTransferIdentifier> cancelledTransfers;
};

/// One running transfer: its own stop source and the outcome every waiting caller receives.
struct RestoreTransferEngine::Task
{
    std::stop_source stop;
    std::mutex mutex;
    std::condition_variable finished;
    std::optional<Result<RestoreTransferManifest>> outcome;

    void publish(Result<RestoreTransferManifest> result)
    {
        {
            const std::lock_guard lock(mutex);
            Q_ASSERT(!outcome); // a task ends once
            outcome = std::move(result);
        }
        finished.notify_all();
    }

    Result<RestoreTransferManifest> awaitOutcome()
    {
        std::unique_lock lock(mutex);
        finished.wait(lock, [this] { return outcome.has_value(); });
        return *outcome;
    }
};

namespace {

/// A stop of the task's own, whether the executor or the transport noticed it.
bool isTaskCancellation(const Error &error)
{
    if (error.is<CancellationError>())
        return true;
    const TransportError *transport = error.as<TransportError>();
    return transport && transport->cancelled;
}

} // namespace

RestoreTransferEngine::RestoreTransferEngine(
    QString rootPath,
    RestoreTransferConfiguration configuration,
    std::shared_ptr<const RestoreRangeFetching> rangeFetcher,
    std::shared_ptr<const ContentHashing> contentHasher,
    std::shared_ptr<const RestoreTransferClock> clock,
    std::shared_ptr<const FileManager> fileManager)
    : m_rootPath(std::move(rootPath))
    , m_configuration(configuration)
    , m_rangeFetcher(std::move(rangeFetcher))
    , m_contentHasher(std::move(contentHasher))
    , m_clock(std::move(clock))
    , m_fileManager(std::move(fileManager))
    , m_state(std::make_shared<State>())
{}

RestoreTransferEngine::~RestoreTransferEngine() = default;

RestoreTransferExecutor RestoreTransferEngine::executor() const
{
    return RestoreTransferExecutor(
        m_rootPath,
        m_configuration,
        m_rangeFetcher,
        m_contentHasher,
        m_clock,
        m_fileManager,
        [weakState = std::weak_ptr<State>(m_state)](const RestoreTransferIdentifier &id) {
            const std::shared_ptr<State> state = weakState.lock();
            if (!state)
                return false;
            const std::lock_guard lock(state->mutex);
            return state->pausedTransfers.contains(id);
        });
}

Result<RestoreTransferManifest> RestoreTransferEngine::continueTransfer(
    const RestoreTransfer &transfer,
    RestoreTransferExecutor::RefreshCapability refreshCapability,
    RestoreTransferExecutor::ProgressCallback progressDidChange,
    const QUuid &transferID)
{
    const RestoreTransferIdentifier id = transfer.id;
    std::shared_ptr<Task> task;
    bool started = false;
    {
        // Created and registered before it starts, so a pause or cancel arriving at once finds
        // it; a call for a transfer still running joins it rather than writing beside it.
        const std::lock_guard lock(m_state->mutex);
        task = m_state->activeTasks.value(id);
        if (!task) {
            m_state->pausedTransfers.remove(id);
            m_state->cancelledTransfers.remove(id);
            task = std::make_shared<Task>();
            m_state->activeTasks.insert(id, task);
            started = true;
        }
    }

    if (started) {
        // Everything the task touches is its own or shared with it: the engine may go away.
        auto body = [executor = executor(),
                     state = m_state,
                     task,
                     transfer,
                     refresh = std::move(refreshCapability),
                     progress = std::move(progressDidChange),
                     transferID] {
            Result<RestoreTransferManifest> result
                = executor.execute(transfer, refresh, progress, transferID, task->stop.get_token());
            if (!result) {
                bool wasCancelled = false;
                {
                    const std::lock_guard lock(state->mutex);
                    wasCancelled = state->cancelledTransfers.remove(transfer.id);
                }
                if (wasCancelled) {
                    // Both artifacts: a sidecar chunk or manifest written after a request's
                    // discard must not survive it.
                    (void) executor.discardIncompleteArtifacts(transfer.id);
                    if (transfer.sidecar)
                        (void) executor.discardIncompleteArtifacts(transfer.sidecar->id);
                    result = failure(RestoreTransferError{RestoreTransferError::Cancelled{}});
                } else {
                    bool wasPaused = false;
                    {
                        const std::lock_guard lock(state->mutex);
                        wasPaused = state->pausedTransfers.contains(transfer.id);
                    }
                    if (wasPaused || isTaskCancellation(result.error()))
                        result = failure(RestoreTransferError{RestoreTransferError::Paused{}});
                }
            }
            {
                const std::lock_guard lock(state->mutex);
                const auto found = state->activeTasks.constFind(transfer.id);
                // Only the running task takes itself off the table.
                Q_ASSERT(found != state->activeTasks.cend() && found.value() == task);
                if (found != state->activeTasks.cend() && found.value() == task)
                    state->activeTasks.erase(found);
            }
            task->publish(std::move(result));
        };
        // No thread to be had: the transfer runs on the caller's, which waits for it anyway.
        if (!Executor::systemThreadStarter()(body))
            body();
    }
    return task->awaitOutcome();
}

void RestoreTransferEngine::pause(const RestoreTransferIdentifier &id)
{
    std::shared_ptr<Task> task;
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->pausedTransfers.insert(id);
        task = m_state->activeTasks.value(id);
    }
    if (task)
        task->stop.request_stop();
}

void RestoreTransferEngine::cancel(const RestoreTransferIdentifier &id)
{
    std::shared_ptr<Task> task;
    {
        const std::lock_guard lock(m_state->mutex);
        task = m_state->activeTasks.value(id);
        if (task)
            m_state->cancelledTransfers.insert(id);
    }
    if (task)
        task->stop.request_stop();
}

void RestoreTransferEngine::cancelRestoreRequest(qint64 restoreRequestID,
                                                 const QList<qint64> &libraryItemIDs)
{
    const RestoreTransferExecutor files = executor();
    for (const qint64 libraryItemID : libraryItemIDs) {
        for (const RestoreTransferArtifact artifact :
             {RestoreTransferArtifact::Raw, RestoreTransferArtifact::Sidecar}) {
            const RestoreTransferIdentifier id{restoreRequestID, libraryItemID, artifact};
            cancel(id);
            (void) files.discardIncompleteArtifacts(id);
        }
    }
}

void RestoreTransferEngine::removeCompletedManifests(const RestoreRequest &request) const
{
    const RestoreTransferExecutor files = executor();
    for (const RestoreRequestItem &item : request.items) {
        const RestoreTransferIdentifier rawID{
            request.id, item.libraryItemID, RestoreTransferArtifact::Raw};
        {
            const std::lock_guard lock(m_state->mutex);
            if (m_state->activeTasks.contains(rawID))
                continue;
        }
        for (const RestoreTransferArtifact artifact :
             {RestoreTransferArtifact::Raw, RestoreTransferArtifact::Sidecar}) {
            const RestoreTransferIdentifier id{request.id, item.libraryItemID, artifact};
            // Read first: only a manifest that records its artifact complete goes.
            const Result<std::optional<RestoreTransferManifest>> stored = files.loadManifest(id);
            if (stored && *stored && (*stored)->isComplete)
                (void) m_fileManager->removeItem(files.layout().manifestPath(id));
        }
    }
}

Result<std::optional<RestoreTransferManifest>>
RestoreTransferEngine::manifest(const RestoreTransferIdentifier &id) const
{
    return executor().loadManifest(id);
}

Result<std::optional<RestoreSpaceShortfall>>
RestoreTransferEngine::spaceShortfall(const QList<RestoreTransfer> &transfers,
                                      const QString &destinationDirectory) const
{
    if (transfers.isEmpty())
        return std::optional<RestoreSpaceShortfall>();
    PELLWICK_TRY_ASSIGN(const std::optional<FileSystemSpace> stateSpace,
                        m_fileManager->availableSpace(m_rootPath));
    PELLWICK_TRY_ASSIGN(const std::optional<FileSystemSpace> destinationSpace,
                        m_fileManager->availableSpace(destinationDirectory));
    const RestoreTransferExecutor executor = this->executor();
    RestoreSpaceNeed run;
    for (const RestoreTransfer &transfer : transfers) {
        PELLWICK_TRY_ASSIGN(const RestoreSpaceNeed need,
                            executor.spaceNeeded(transfer,
                                                 destinationSpace.value_or(FileSystemSpace{}),
                                                 stateSpace.value_or(FileSystemSpace{})));
        run.destinationBytes = saturatingByteSum(run.destinationBytes, need.destinationBytes);
        run.destinationFiles += need.destinationFiles;
        run.stateBytes = std::max(run.stateBytes, need.stateBytes);
        run.stateFiles = std::max(run.stateFiles, need.stateFiles);
        run.manifestFiles += need.manifestFiles;
    }
    const qint64 stateFiles = run.stateFiles + run.manifestFiles;
    const auto shortfall = [](const QString &folder,
                              const std::optional<FileSystemSpace> &space,
                              qint64 bytes,
                              qint64 files,
                              qint64 stateShare) -> std::optional<RestoreSpaceShortfall> {
        if (!space || (bytes <= 0 && files <= 0))
            return std::nullopt;
        RestoreSpaceShortfall found{folder, bytes, space->availableBytes, stateShare};
        if (space->availableFileEntries) {
            found.neededFileEntries = files;
            found.availableFileEntries = *space->availableFileEntries;
        }
        if (found.availableBytes < bytes || found.isShortOfFileEntries())
            return found;
        return std::nullopt;
    };
    const bool destinationTakesFiles = run.destinationBytes > 0 || run.destinationFiles > 0;
    // On one file system a file's assembled copy and its parts take room at once: a shortfall
    // there names both shares, whichever alone would not fit.
    bool oneFileSystem = false;
    if (destinationTakesFiles) {
        const auto device = [this](const QString &folder) -> Result<quint64> {
            PELLWICK_TRY_ASSIGN(
                const FileAttributes attributes,
                m_fileManager->attributesOfItem(resolvingSymlinksInPath(*m_fileManager, folder)));
            return attributes.device;
        };
        PELLWICK_TRY_ASSIGN(const quint64 destinationDevice, device(destinationDirectory));
        PELLWICK_TRY_ASSIGN(const quint64 stateDevice, device(m_rootPath));
        oneFileSystem = destinationDevice == stateDevice;
    }
    if (oneFileSystem) {
        if (std::optional<RestoreSpaceShortfall> both
            = shortfall(destinationDirectory,
                        destinationSpace,
                        saturatingByteSum(run.destinationBytes, run.stateBytes),
                        run.destinationFiles + stateFiles,
                        run.stateBytes))
            return both;
    }
    if (std::optional<RestoreSpaceShortfall> state
        = shortfall(m_rootPath, stateSpace, run.stateBytes, stateFiles, 0))
        return state;
    if (!destinationTakesFiles || oneFileSystem)
        return std::optional<RestoreSpaceShortfall>();
    return shortfall(
        destinationDirectory, destinationSpace, run.destinationBytes, run.destinationFiles, 0);
}

Result<std::optional<UnfinishedRestoreTransfer>>
RestoreTransferEngine::unfinishedTransfer(qint64 restoreRequestID,
                                          const QList<qint64> &libraryItemIDs) const
{
    QStringList folders; // in the order first met
    QHash<QString, qint64> manifestCounts;
    QHash<QString, qint64> savedCounts;
    qint64 savedCount = 0;
    for (const qint64 libraryItemID : libraryItemIDs) {
        PELLWICK_TRY_ASSIGN(
            const std::optional<RestoreTransferManifest> raw,
            manifest({restoreRequestID, libraryItemID, RestoreTransferArtifact::Raw}));
        // A stored path is shown and offered to the user: only an absolute one is taken.
        if (!raw || !raw->destinationPath.startsWith(QLatin1Char('/')))
            continue;
        PELLWICK_TRY_ASSIGN(
            const std::optional<RestoreTransferManifest> sidecar,
            manifest({restoreRequestID, libraryItemID, RestoreTransferArtifact::Sidecar}));
        const QString folder = parentPath(raw->destinationPath);
        if (!manifestCounts.contains(folder))
            folders.append(folder);
        ++manifestCounts[folder];
        if (raw->isComplete && (!sidecar || sidecar->isComplete)) {
            ++savedCounts[folder];
            ++savedCount;
        }
    }
    if (folders.isEmpty() || savedCount == libraryItemIDs.size())
        return std::optional<UnfinishedRestoreTransfer>();
    QString mostUsed = folders.first();
    for (const QString &folder : std::as_const(folders)) {
        if (manifestCounts.value(folder) > manifestCounts.value(mostUsed))
            mostUsed = folder;
    }
    return std::optional(UnfinishedRestoreTransfer{mostUsed, savedCounts.value(mostUsed)});
}

Result<void> RestoreTransferEngine::persistManifest(const RestoreTransferManifest &manifest) const
{
    return executor().saveManifest(manifest);
}

Result<std::optional<RestoreRunOutcome>>
RestoreTransferEngine::runOutcome(qint64 restoreRequestID) const
{
    return executor().loadRunOutcome(restoreRequestID);
}

Result<void> RestoreTransferEngine::reserveRunOutcome(qint64 restoreRequestID,
                                                      qint64 itemCount) const
{
    return executor().reserveRunOutcome(restoreRequestID,
                                        RestoreRunOutcome::reservedByteCount(itemCount));
}

Result<void> RestoreTransferEngine::persistRunOutcome(const RestoreRunOutcome &outcome) const
{
    return executor().saveRunOutcome(outcome);
}

Result<void> RestoreTransferEngine::markRunOutcomeUnsaved(qint64 restoreRequestID) const
{
    return executor().markRunOutcomeUnsaved(restoreRequestID);
}

bool RestoreTransferEngine::isRunOutcomeUnsaved(qint64 restoreRequestID) const
{
    return executor().isRunOutcomeUnsaved(restoreRequestID);
}

Result<void> RestoreTransferEngine::removeRunOutcome(qint64 restoreRequestID) const
{
    return executor().removeRunOutcome(restoreRequestID);
}

} // namespace Pellwick
