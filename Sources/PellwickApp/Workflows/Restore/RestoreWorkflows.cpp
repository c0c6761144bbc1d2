#include "RestoreWorkflows_p.h"

#include <PellwickCore/Library/LibraryPresentation.h>

#include <QCoreApplication>

#include <coroutine>
#include <functional>
#include <utility>

namespace Pellwick {

namespace {

/// Suspends a main-thread coroutine for `interval` on a timer of `timers`. A stop request ends
/// the sleep early: the timer stops at once and the coroutine resumes from the event loop, never
/// inside the call that requested the stop.
class TimerSleep
{
public:
    TimerSleep(SingleShotTimerFactory timers,
               std::chrono::milliseconds interval,
               std::stop_token stop)
        : m_timers(std::move(timers))
        , m_interval(interval)
        , m_stop(std::move(stop))
    {}

    // The awaiter protocol names these three.
    // NOLINTNEXTLINE(readability-identifier-naming)
    bool await_ready() const { return m_stop.stop_requested(); }

    // NOLINTNEXTLINE(readability-identifier-naming)
    void await_suspend(std::coroutine_handle<> awaiting)
    {
        m_pending = std::make_unique<Pending>();
        m_pending->timer = m_timers([awaiting] { awaiting.resume(); });
        m_pending->timer->start(m_interval);
        m_pending->stopCallback.emplace(m_stop, [timer = m_pending->timer.get(), awaiting] {
            timer->stop();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [awaiting] { awaiting.resume(); },
                Qt::QueuedConnection);
        });
    }

    // NOLINTNEXTLINE(readability-identifier-naming)
    void await_resume() const {}

private:
    // Apart, so the awaiter itself can move.
    struct Pending
    {
        std::unique_ptr<SingleShotTimer> timer;
        std::optional<std::stop_callback<std::function<void()>>> stopCallback;
    };

    SingleShotTimerFactory m_timers;
    std::chrono::milliseconds m_interval;
    std::stop_token m_stop;
    std::unique_ptr<Pending> m_pending;
};

} // namespace

RestoreWorkflows::RestoreWorkflows(RestoreState &state,
                                   const SessionState &session,
                                   LibraryState &libraryState,
                                   const IngestCacheState &ingestCache,
                                   LibraryWorkflows &library,
                                   TransferProgressBoard &board,
                                   Services services,
                                   QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_session(session)
    , m_libraryState(libraryState)
    , m_ingestCache(ingestCache)
    , m_library(library)
    , m_board(board)
    , m_services(std::move(services))
{
    // Filenames chosen after conflicts belong to one request.
    connect(&m_state, &RestoreState::activeRestoreRequestChanged, this, [this] {
        const std::optional<RestoreRequest> &request = m_state.activeRestoreRequest();
        if (!request || m_chosenRestoreFilenamesRequestID != request->id) {
            m_chosenRestoreFilenames.clear();
            m_chosenRestoreFilenamesRequestID.reset();
        }
        // "Saved to" names only a folder this request's files went into; a finished request's
        // folder stays until another request follows it.
        if (request && m_lastCompletedRestoreRequestID != request->id
            && m_state.lastCompletedRestoreDestination()) {
            m_state.setLastCompletedRestoreDestination(std::nullopt);
        }
    });
}

RestoreWorkflows::~RestoreWorkflows()
{
    if (m_restorePollingTask)
        m_restorePollingTask->cancel();
    m_requestWorkflows.cancel();
}

void RestoreWorkflows::updateRestorePolling(const std::optional<RestoreRequest> &request)
{
    if (!request || request->status != RestoreRequestStatus::Preparing) {
        cancelRestorePolling();
        m_restorePreparingStartedAt.reset();
        if (m_restorePreparationProgressID) {
            m_board.remove(*m_restorePreparationProgressID);
            m_restorePreparationProgressID.reset();
        }
        return;
    }
    if (!m_isApplicationActive) {
        // Start time and row stay: the 900 s keep counting from the first start.
        cancelRestorePolling();
        return;
    }
    if (!m_restorePreparationProgressID)
        m_restorePreparationProgressID = QUuid::createUuid();
    const QUuid id = *m_restorePreparationProgressID;
    m_board.open(id);
    m_board.update(TransferProgress{
        .id = id,
        .operationName = QStringLiteral("Restore Preparation"),
        .phase = TransferProgressPhase::Preparing,
        .detail = request->preparationEstimate,
        .currentFilename = std::nullopt,
        .currentFileCompletedByteCount = std::nullopt,
        .currentFileTotalByteCount = std::nullopt,
        .completedByteCount = 0,
        .totalByteCount = request->byteCount,
        .completedPackageCount = 0,
        .totalPackageCount = request->items.size(),
    });
    if (!m_restorePreparingStartedAt)
        m_restorePreparingStartedAt = m_services.steadyClock();
    if (m_restorePollingTask)
        return;
    const std::stop_token stop = m_restorePollingTask.emplace().token();
    pollRestorePreparation(QPointer<RestoreWorkflows>(this), stop, m_services.timers);
}

QCoro::Task<> RestoreWorkflows::pollRestorePreparation(QPointer<RestoreWorkflows> self,
                                                       std::stop_token stop,
                                                       SingleShotTimerFactory timers)
{
    using namespace std::chrono_literals;
    // The retries have no limit: a failed refresh leaves the request preparing, and the next
    // interval tries again.
    for (;;) {
        if (stop.stop_requested() || !self || !self->m_restorePreparingStartedAt)
            co_return;
        const std::chrono::steady_clock::duration elapsed
            = self->m_services.steadyClock() - *self->m_restorePreparingStartedAt;
        co_await TimerSleep(timers, elapsed >= 900s ? 180s : 60s, stop);
        if (stop.stop_requested() || !self)
            co_return;
        co_await self->refreshActiveRestoreRequest();
        if (!self || stop.stop_requested())
            co_return;
        const std::optional<RestoreRequest> &request = self->m_state.activeRestoreRequest();
        if (!request || request->status != RestoreRequestStatus::Preparing)
            co_return;
    }
}

QList<LocalLibraryItem> RestoreWorkflows::selectedRestoreItems() const
{
    if (m_libraryState.selectedLibraryItemIDs().isEmpty())
        return {};
    const LocalLibraryCacheRecords records = m_library.allLocalLibraryRecords();
    return LibrarySelection::memoised(
        m_selectedRestoreItemsMemo, records, m_libraryState.selectedLibraryItemIDs(), [&] {
            return LibrarySelection::selectedRecords(
                records, m_libraryState.selectedLibraryItemIDs(), [](const LocalLibraryItem &item) {
                    return item.importStatus == LibraryItemImportStatus::VerifiedBackup
                           && item.backendLibraryItemID.has_value();
                });
        });
}

RestoreSelectionSummary RestoreWorkflows::restoreSelectionSummary() const
{
    const LocalLibraryCacheRecords records = m_library.allLocalLibraryRecords();
    return LibrarySelection::memoised(
        m_restoreSelectionSummaryMemo, records, m_libraryState.selectedLibraryItemIDs(), [this] {
            const QList<LocalLibraryItem> items = selectedRestoreItems();
            RestoreSelectionSummary summary;
            summary.itemCount = static_cast<int>(items.size());
            // The figure the Restore page shows once the request is held.
            summary.byteCount = LibraryPresentation::restoreByteCount(items);
            summary.filenames.reserve(items.size());
            for (const LocalLibraryItem &item : items)
                summary.filenames.append(item.originalFilename);
            return summary;
        });
}

QList<LocalLibraryItem> RestoreWorkflows::restoreWorkflowItems() const
{
    if (!m_state.activeRestoreRequest())
        return selectedRestoreItems();
    if (m_state.activeRestoreRequest()->items.isEmpty())
        return {};
    const LocalLibraryCacheRecords records = m_library.allLocalLibraryRecords();
    return LibrarySelection::memoised(
        m_restoreWorkflowItemsMemo, records, m_state.activeRestoreRequest()->items, [&] {
            QSet<qint64> requested;
            for (const RestoreRequestItem &item : m_state.activeRestoreRequest()->items)
                requested.insert(item.libraryItemID);
            QList<LocalLibraryItem> result;
            result.reserve(std::min(records.size(), requested.size()));
            records.forEach([&](const LocalLibraryItem &item) {
                const std::optional<qint64> backendID = item.restoreLibraryItemID();
                if (backendID && requested.contains(*backendID))
                    result.append(item);
            });
            return result;
        });
}

void RestoreWorkflows::cancelRestorePolling()
{
    if (m_restorePollingTask)
        m_restorePollingTask->cancel();
    m_restorePollingTask.reset();
}

void RestoreWorkflows::pauseActiveRestoreTransfer()
{
    // Also while the run plans or is between transfers, when no transfer is on the engine.
    if (m_state.isRestoreTransferActive())
        m_isRestorePauseRequested = true;
    if (m_activeRestoreTransferID && m_services.restoreTransferEngine)
        m_services.restoreTransferEngine->pause(*m_activeRestoreTransferID);
}

} // namespace Pellwick
