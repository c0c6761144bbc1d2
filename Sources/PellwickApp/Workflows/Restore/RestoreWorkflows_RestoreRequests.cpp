#include "RestoreWorkflows_p.h"

#include <PellwickApp/Feedback/RestoreFeedback.h>

#include <algorithm>

namespace Pellwick {

namespace {

/// The outcome of `job`, or none when the workflows are gone or the session that started the job
/// has ended: a reply for an ended session must not show its request to whoever signs in next.
template<typename T>
QCoro::Task<std::optional<T>>
resumeForSession(QPointer<RestoreWorkflows> self, QString token, QFuture<T> job)
{
    const std::stop_token never;
    std::optional<T> outcome = co_await Workflow::resumeIn(self, never, job);
    if (!outcome || !self->sessionState().session()
        || self->sessionState().session()->token != token)
        co_return std::nullopt;
    co_return outcome;
}

/// Reads the backend's library items and rebuilds the Local Library Cache from them. The records
/// are read before the items are asked for: an import may link or verify one meanwhile, which the
/// rebuild then keeps as the import wrote it.
QFuture<Result<void>>
rebuildLibraryFromBackend(const std::shared_ptr<const LibrarySessionClient> &client,
                          const LocalLibraryCache &cache,
                          const QString &token,
                          std::stop_token stop)
{
    return Workflow::run(
        WorkflowPools::userInitiated(), [client, cache, token, stop]() -> Result<void> {
            PELLWICK_TRY_ASSIGN(const LocalLibraryCacheRecords whenListed, cache.cachedRecords());
            const Result<QList<RemoteLibraryItem>> items = client->libraryItems(token, stop);
            if (!items)
                return failure(items.error());
            return cache.rebuild(*items, whenListed);
        });
}

/// The request of `outcome`: the backend's reply, also when it could not be saved here (the
/// backend's change stands, so the request is shown all the same).
const RestoreRequest *returnedRestoreRequest(const Result<RestoreRequest> &outcome)
{
    return outcome ? &*outcome : unsavedRestoreRequest(outcome.error());
}

bool isFinished(const RestoreRequest &request)
{
    return request.status == RestoreRequestStatus::Downloaded
           || request.status == RestoreRequestStatus::Cancelled;
}

const QString restorePreparing
    = RestoreFeedback::restoreStatusMessage(RestoreRequestStatus::Preparing);
const QString restoreCancelled
    = RestoreFeedback::restoreStatusMessage(RestoreRequestStatus::Cancelled);

} // namespace

std::optional<QString>
RestoreWorkflows::restoreMessage(const std::optional<RestoreRequest> &request)
{
    if (!request)
        return std::nullopt;
    // A request with failed items keeps its last run's count beside their reason: it never
    // reads as merely ready.
    if (failsTransfers(*request))
        return RestoreFeedback::partlySavedMessage(*request);
    return RestoreFeedback::restoreStatusMessage(request->status, request->preparationEstimate);
}

void RestoreWorkflows::recordRestoreError(const Error &error,
                                          const std::optional<QString> &operation)
{
    const auto *coordinator = error.as<RestoreRequestCoordinatorError>();
    m_state.setNeedsLocalLibraryCacheRebuild(
        coordinator
        && std::holds_alternative<RestoreRequestCoordinatorError::LocalLibraryCacheConflict>(
            coordinator->value));
    const QString &library = m_services.localLibraryCache.rootURL();
    m_state.setRestoreErrorMessage(
        operation ? RestoreFeedback::operationMessage(error, *operation, library)
                  : RestoreFeedback::message(error, library));
}

QCoro::Task<> RestoreWorkflows::refreshActiveRestoreRequest()
{
    const QPointer<RestoreWorkflows> self(this);
    if (!m_session.session())
        co_return;
    const QString token = m_session.session()->token;
    const std::stop_token stop = m_requestWorkflows.token();
    const RestoreRequestCoordinator coordinator = m_services.restoreCoordinator;
    const QString operation = QStringLiteral("Restore refresh");
    // A failed library refresh stays shown until one succeeds: on the restore page this
    // refresh follows it at once.
    m_state.setRestoreErrorMessage(m_libraryRefreshFailure);
    m_state.setNeedsLocalLibraryCacheRebuild(false);
    const std::shared_ptr<RestoreTransferEngine> engine = m_services.restoreTransferEngine;
    if (const std::optional<RestoreRequest> held = m_state.activeRestoreRequest()) {
        QFuture<Result<RestoreRequest>> job = Workflow::run(
            WorkflowPools::userInitiated(), [coordinator, engine, token, id = held->id, stop] {
                Result<RestoreRequest> refreshed
                    = coordinator.refreshRestoreRequest(token, id, stop);
                if (refreshed)
                    *refreshed = withStoredRunOutcome(engine.get(), std::move(*refreshed));
                return refreshed;
            });
        const std::optional<Result<RestoreRequest>> outcome
            = co_await resumeForSession(self, token, job);
        if (!outcome)
            co_return;
        const RestoreRequest *request = returnedRestoreRequest(*outcome);
        if (!request) {
            recordRestoreError(outcome->error(), operation);
            co_return;
        }
        m_state.setActiveRestoreRequest(
            isFinished(*request) ? std::nullopt : std::optional<RestoreRequest>(*request));
        m_state.setRestoreMessage(restoreMessage(*request));
        if (!*outcome)
            recordRestoreError(outcome->error(), operation);
    } else {
        QFuture<Result<std::optional<RestoreRequest>>> job
            = Workflow::run(WorkflowPools::userInitiated(), [coordinator, engine, token, stop] {
                  Result<std::optional<RestoreRequest>> found
                      = coordinator.activeRestoreRequest(token, stop);
                  if (found && *found)
                      **found = withStoredRunOutcome(engine.get(), std::move(**found));
                  return found;
              });
        const std::optional<Result<std::optional<RestoreRequest>>> outcome
            = co_await resumeForSession(self, token, job);
        if (!outcome)
            co_return;
        const RestoreRequest *unsaved
            = *outcome ? nullptr : unsavedRestoreRequest(outcome->error());
        if (!*outcome && !unsaved) {
            recordRestoreError(outcome->error(), operation);
            co_return;
        }
        const std::optional<RestoreRequest> found = unsaved ? *unsaved : **outcome;
        m_state.setActiveRestoreRequest(found);
        // Finding none leaves the last outcome ("Restore complete: …") shown: only a request,
        // or the next restore operation, replaces it.
        if (found)
            m_state.setRestoreMessage(restoreMessage(found));
        if (unsaved)
            recordRestoreError(outcome->error(), operation);
    }
    updateRestorePolling(m_state.activeRestoreRequest());
    m_library.refreshVisibleLocalLibraryItems(true);
    co_await showUnfinishedRestoreTransfer(token);
}

QCoro::Task<> RestoreWorkflows::showUnfinishedRestoreTransfer(QString token)
{
    const QPointer<RestoreWorkflows> self(this);
    const std::optional<RestoreRequest> request = m_state.activeRestoreRequest();
    // Items that failed leave unfinished files too, but they need attention: a retry, not a
    // continuation.
    if (!request || request->status != RestoreRequestStatus::Ready || failsTransfers(*request)
        || m_state.isRestoreTransferActive() || !m_services.restoreTransferEngine)
        co_return;
    const quint64 runCount = m_restoreRunCount;
    QList<qint64> libraryItemIDs;
    for (const RestoreRequestItem &item : request->items)
        libraryItemIDs.append(item.libraryItemID);
    QFuture<Result<std::optional<UnfinishedRestoreTransfer>>> job = Workflow::run(
        WorkflowPools::userInitiated(),
        [engine = m_services.restoreTransferEngine, id = request->id, libraryItemIDs] {
            return engine->unfinishedTransfer(id, libraryItemIDs);
        });
    const std::optional<Result<std::optional<UnfinishedRestoreTransfer>>> found
        = co_await resumeForSession(self, token, job);
    // A manifest that cannot be read shows nothing here: the run that continues reads it too,
    // and reports it.
    if (!found || !*found || !**found)
        co_return;
    // A run started meanwhile has written, or still writes, what was read: its own outcome
    // stands.
    const std::optional<RestoreRequest> &current = m_state.activeRestoreRequest();
    if (!current || current->id != request->id || current->status != RestoreRequestStatus::Ready
        || failsTransfers(*current) || m_state.isRestoreTransferActive()
        || m_restoreRunCount != runCount)
        co_return;
    // The transfer was paused when the application last ended.
    const UnfinishedRestoreTransfer &unfinished = ***found;
    m_state.setUnfinishedRestoreDestination(unfinished.destinationDirectory);
    m_state.setHasPausedRestoreTransfer(true);
    m_state.setRestoreMessage(RestoreFeedback::unfinishedRestoreTransferMessage(
        unfinished.savedItemCount, request->items.size(), unfinished.destinationDirectory));
}

QCoro::Task<bool> RestoreWorkflows::rebuildLocalLibraryFromBackend(QString operation)
{
    const QPointer<RestoreWorkflows> self(this);
    const QString token = m_session.session()->token;
    QFuture<Result<void>> job = rebuildLibraryFromBackend(
        m_services.sessionClient, m_services.localLibraryCache, token, m_requestWorkflows.token());
    const std::optional<Result<void>> outcome = co_await resumeForSession(self, token, job);
    if (!outcome)
        co_return false;
    if (!*outcome) {
        recordRestoreError(outcome->error(), operation);
        m_libraryRefreshFailure = m_state.restoreErrorMessage();
        co_return false;
    }
    m_libraryRefreshFailure.reset();
    m_library.refreshVisibleLocalLibraryItems(true);
    co_return true;
}

QCoro::Task<> RestoreWorkflows::refreshLocalLibraryCacheForRestore()
{
    if (!m_session.session())
        co_return;
    const QString operation = QStringLiteral("Library refresh");
    co_await rebuildLocalLibraryFromBackend(operation);
}

QCoro::Task<> RestoreWorkflows::requestRestoreForSelection()
{
    const QPointer<RestoreWorkflows> self(this);
    if (!m_session.session())
        co_return;
    // One request at a time: the held one is finished or cancelled first.
    if (const std::optional<RestoreRequest> &held = m_state.activeRestoreRequest();
        held && !isFinished(*held))
        co_return;
    const QList<LocalLibraryItem> selected = selectedRestoreItems();
    if (selected.isEmpty()
        || std::any_of(selected.cbegin(), selected.cend(), [](const LocalLibraryItem &item) {
               return !item.archiveByteCount;
           }))
        co_return;
    const QString token = m_session.session()->token;
    m_state.setRestoreErrorMessage(std::nullopt);
    m_state.setNeedsLocalLibraryCacheRebuild(false);
    QSet<QUuid> ids;
    for (const LocalLibraryItem &item : selectedRestoreItems())
        ids.insert(item.id);
    QFuture<Result<RestoreRequest>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [coordinator = m_services.restoreCoordinator,
                         token,
                         ids,
                         stop = m_requestWorkflows.token()] {
                            return coordinator.createRestoreRequest(token, ids, stop);
                        });
    const std::optional<Result<RestoreRequest>> outcome
        = co_await resumeForSession(self, token, job);
    if (!outcome)
        co_return;
    const RestoreRequest *created = returnedRestoreRequest(*outcome);
    if (!created) {
        // A new restore that could not start replaces the last word of the one before.
        m_state.setRestoreMessage(std::nullopt);
        recordRestoreError(outcome->error(), std::nullopt);
        co_return;
    }
    m_state.setActiveRestoreRequest(*created);
    m_cancellingRestoreRequestID.reset();
    m_libraryState.setSelectedLibraryItemIDs({});
    // Whatever the backend answered: it has only just been asked to prepare.
    m_state.setRestoreMessage(restorePreparing);
    if (!*outcome)
        recordRestoreError(outcome->error(), std::nullopt);
    updateRestorePolling(m_state.activeRestoreRequest());
    m_library.refreshVisibleLocalLibraryItems(true);
}

QCoro::Task<> RestoreWorkflows::cancelActiveRestoreRequest()
{
    const QPointer<RestoreWorkflows> self(this);
    if (!m_session.session())
        co_return;
    const std::optional<RestoreRequest> request = m_state.activeRestoreRequest();
    if (!request || isFinished(*request) || m_state.isCancellingRestore())
        co_return;
    const QString token = m_session.session()->token;
    m_state.setRestoreErrorMessage(std::nullopt);
    m_state.setNeedsLocalLibraryCacheRebuild(false);
    m_state.setIsCancellingRestore(true);
    m_cancellingRestoreRequestID = request->id;

    // The engine first: no range of the request may start once the backend is asked.
    QList<qint64> libraryItemIDs;
    for (const RestoreRequestItem &item : request->items)
        libraryItemIDs.append(item.libraryItemID);
    QFuture<Result<void>> stopTransfers
        = Workflow::run(WorkflowPools::userInitiated(),
                        [engine = m_services.restoreTransferEngine,
                         id = request->id,
                         libraryItemIDs]() -> Result<void> {
                            engine->cancelRestoreRequest(id, libraryItemIDs);
                            return {};
                        });
    const std::stop_token never;
    if (!co_await Workflow::resumeIn(self, never, stopTransfers))
        co_return;

    QFuture<Result<RestoreRequest>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [coordinator = m_services.restoreCoordinator,
                         engine = m_services.restoreTransferEngine,
                         token,
                         id = request->id,
                         stop = m_requestWorkflows.token()] {
                            Result<RestoreRequest> cancelled
                                = coordinator.cancelRestoreRequest(token, id, stop);
                            // Nothing of a cancelled request needs attention any more.
                            if (engine && returnedRestoreRequest(cancelled))
                                (void) engine->removeRunOutcome(id);
                            return cancelled;
                        });
    const std::optional<Result<RestoreRequest>> outcome
        = co_await resumeForSession(self, token, job);
    if (!self)
        co_return;
    if (!outcome) {
        // The session ended meanwhile: nothing of the reply is shown, and no flag stays set.
        m_cancellingRestoreRequestID.reset();
        m_state.setIsCancellingRestore(false);
        co_return;
    }
    if (returnedRestoreRequest(*outcome)) {
        m_state.setActiveRestoreRequest(std::nullopt);
        m_state.setHasPausedRestoreTransfer(false);
        m_state.setUnfinishedRestoreDestination(std::nullopt);
        m_state.setRestoreMessage(restoreCancelled);
        if (!*outcome)
            recordRestoreError(outcome->error(), QStringLiteral("Restore cancellation"));
        updateRestorePolling(std::nullopt);
        m_library.refreshVisibleLocalLibraryItems(true);
        // The id stays until the next request is created: no transfer of it may start.
        m_state.setIsCancellingRestore(false);
        co_return;
    }
    const Error error = outcome->error();
    co_await refreshActiveRestoreRequest();
    if (!self)
        co_return;
    if (m_state.activeRestoreRequest()) {
        m_cancellingRestoreRequestID.reset();
        recordRestoreError(error, QStringLiteral("Restore cancellation"));
        m_state.setIsCancellingRestore(false);
        co_return;
    }
    // The request finished while the cancellation was under way.
    if (m_state.restoreMessage() != restoreCancelled)
        m_state.setRestoreMessage(RestoreFeedback::restoreCompletedBeforeCancellationMessage());
    m_state.setRestoreErrorMessage(std::nullopt);
    m_cancellingRestoreRequestID.reset();
    m_state.setIsCancellingRestore(false);
}

QCoro::Task<> RestoreWorkflows::retryActiveRestorePreparation()
{
    const QPointer<RestoreWorkflows> self(this);
    if (!m_session.session() || !m_state.activeRestoreRequest())
        co_return;
    const QString token = m_session.session()->token;
    m_state.setRestoreErrorMessage(std::nullopt);
    m_state.setNeedsLocalLibraryCacheRebuild(false);
    QFuture<Result<RestoreRequest>> job
        = Workflow::run(WorkflowPools::userInitiated(),
                        [coordinator = m_services.restoreCoordinator,
                         token,
                         id = m_state.activeRestoreRequest()->id,
                         stop = m_requestWorkflows.token()] {
                            return coordinator.retryRestoreRequest(token, id, stop);
                        });
    const std::optional<Result<RestoreRequest>> outcome
        = co_await resumeForSession(self, token, job);
    if (!outcome)
        co_return;
    const RestoreRequest *request = returnedRestoreRequest(*outcome);
    if (!request) {
        recordRestoreError(outcome->error(), QStringLiteral("Restore retry"));
        co_return;
    }
    m_state.setActiveRestoreRequest(*request);
    m_state.setRestoreMessage(restorePreparing);
    if (!*outcome)
        recordRestoreError(outcome->error(), QStringLiteral("Restore retry"));
    updateRestorePolling(*request);
    m_library.refreshVisibleLocalLibraryItems(true);
}

QCoro::Task<> RestoreWorkflows::rebuildLocalLibraryCache()
{
    const QPointer<RestoreWorkflows> self(this);
    if (!m_session.session())
        co_return;
    // The conflict flag stays until the rebuild has succeeded.
    m_state.setRestoreErrorMessage(std::nullopt);
    const QString operation = QStringLiteral("Local Library Cache rebuild");
    if (!co_await rebuildLocalLibraryFromBackend(operation))
        co_return;
    m_libraryState.setSelectedLibraryItemIDs({});
    m_state.setNeedsLocalLibraryCacheRebuild(false);
    co_await refreshActiveRestoreRequest();
    if (!self)
        co_return;
    // Also over a failed refresh's state: the rebuild itself succeeded.
    m_state.setRestoreMessage(QStringLiteral("Local Library Cache rebuilt"));
}

QCoro::Task<std::optional<QString>> RestoreWorkflows::defaultRestoreDestination()
{
    const QPointer<RestoreWorkflows> self(this);
    const QString folder = m_services.restoreDestinationDirectory;
    if (folder.isEmpty())
        co_return std::nullopt;
    QFuture<Result<void>> job
        = Workflow::run(WorkflowPools::userInitiated(), [files = m_services.fileManager, folder] {
              return files->createDirectory(folder);
          });
    const std::stop_token never;
    const std::optional<Result<void>> created = co_await Workflow::resumeIn(self, never, job);
    if (!created || !*created)
        co_return std::nullopt;
    co_return folder;
}

} // namespace Pellwick
