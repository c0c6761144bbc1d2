#include "LibraryShellViewModel_p.h"

#include <QCoreApplication>
#include <QtNumeric>

#include <coroutine>
#include <functional>
#include <limits>
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

const std::optional<WorkflowTaskHandle> &LibraryShellViewModel::restorePollingTask() const
{
    return m_d->restore.restorePollingTask;
}

const RestoreRequestCoordinator &LibraryShellViewModel::restoreCoordinator() const
{
    return m_d->services.restoreCoordinator;
}

const std::shared_ptr<RestoreTransferEngine> &LibraryShellViewModel::restoreTransferEngine() const
{
    return m_d->services.restoreTransferEngine;
}

const SingleShotTimerFactory &LibraryShellViewModel::singleShotTimers() const
{
    return m_d->services.timers;
}

const QString &LibraryShellViewModel::restoreDestinationDirectory() const
{
    return m_d->services.restoreDestinationDirectory;
}

const std::optional<RestoreTransferIdentifier> &
LibraryShellViewModel::activeRestoreTransferID() const
{
    return m_d->restore.activeRestoreTransferID;
}

const std::optional<std::chrono::steady_clock::time_point> &
LibraryShellViewModel::restorePreparingStartedAt() const
{
    return m_d->restore.restorePreparingStartedAt;
}

void LibraryShellViewModel::updateRestorePolling(const std::optional<RestoreRequest> &request)
{
    if (!request || request->status != RestoreRequestStatus::Preparing) {
        cancelRestorePolling();
        m_d->restore.restorePreparingStartedAt.reset();
        if (m_d->restore.restorePreparationProgressID) {
            m_board->remove(*m_d->restore.restorePreparationProgressID);
            m_d->restore.restorePreparationProgressID.reset();
        }
        return;
    }
    if (!m_d->shell.isApplicationActive) {
        // Start time and row stay: the 900 s keep counting from the first start.
        cancelRestorePolling();
        return;
    }
    if (!m_d->restore.restorePreparationProgressID)
        m_d->restore.restorePreparationProgressID = QUuid::createUuid();
    const QUuid id = *m_d->restore.restorePreparationProgressID;
    m_board->open(id);
    m_board->update(TransferProgress{
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
    if (!m_d->restore.restorePreparingStartedAt)
        m_d->restore.restorePreparingStartedAt = m_d->services.steadyClock();
    if (m_d->restore.restorePollingTask)
        return;
    const std::stop_token stop = m_d->restore.restorePollingTask.emplace().token();
    pollRestorePreparation(QPointer<LibraryShellViewModel>(this), stop, m_d->services.timers);
}

QCoro::Task<> LibraryShellViewModel::pollRestorePreparation(QPointer<LibraryShellViewModel> self,
                                                            std::stop_token stop,
                                                            SingleShotTimerFactory timers)
{
    using namespace std::chrono_literals;
    // The retries have no limit: a failed refresh leaves the request preparing, and the next
    // interval tries again.
    for (;;) {
        if (stop.stop_requested() || !self || !self->m_d->restore.restorePreparingStartedAt)
            co_return;
        const std::chrono::steady_clock::duration elapsed
            = self->m_d->services.steadyClock() - *self->m_d->restore.restorePreparingStartedAt;
        co_await TimerSleep(timers, elapsed >= 900s ? 180s : 60s, stop);
        if (stop.stop_requested() || !self)
            co_return;
        co_await self->refreshActiveRestoreRequest();
        if (!self || stop.stop_requested())
            co_return;
        const std::optional<RestoreRequest> &request = self->m_restoreState->activeRestoreRequest();
        if (!request || request->status != RestoreRequestStatus::Preparing)
            co_return;
    }
}

QList<LocalLibraryItem> LibraryShellViewModel::selectedRestoreItems() const
{
    if (m_libraryState->selectedLibraryItemIDs().isEmpty())
        return {};
    const LocalLibraryCacheRecords records = m_library->allLocalLibraryRecords();
    return LibrarySelection::memoised(
        m_d->restore.selectedRestoreItemsMemo,
        records,
        m_libraryState->selectedLibraryItemIDs(),
        [&] {
            return LibrarySelection::selectedRecords(
                records,
                m_libraryState->selectedLibraryItemIDs(),
                [](const LocalLibraryItem &item) {
                    return item.importStatus == LibraryItemImportStatus::VerifiedBackup
                           && item.backendLibraryItemID.has_value();
                });
        });
}

RestoreSelectionSummary LibraryShellViewModel::restoreSelectionSummary() const
{
    const LocalLibraryCacheRecords records = m_library->allLocalLibraryRecords();
    return LibrarySelection::memoised(
        m_d->restore.restoreSelectionSummaryMemo,
        records,
        m_libraryState->selectedLibraryItemIDs(),
        [this] {
            const QList<LocalLibraryItem> items = selectedRestoreItems();
            RestoreSelectionSummary summary;
            summary.itemCount = static_cast<int>(items.size());
            summary.filenames.reserve(items.size());
            for (const LocalLibraryItem &item : items) {
                const qint64 bytes = item.archiveByteCount.value_or(0);
                // Stored sizes are not trusted to add up: the sum saturates instead of wrapping.
                if (qAddOverflow(summary.byteCount, bytes, &summary.byteCount)) {
                    summary.byteCount = bytes > 0 ? std::numeric_limits<qint64>::max()
                                                  : std::numeric_limits<qint64>::min();
                }
                summary.filenames.append(item.originalFilename);
            }
            return summary;
        });
}

QList<LocalLibraryItem> LibraryShellViewModel::restoreWorkflowItems() const
{
    if (!m_restoreState->activeRestoreRequest())
        return selectedRestoreItems();
    if (m_restoreState->activeRestoreRequest()->items.isEmpty())
        return {};
    const LocalLibraryCacheRecords records = m_library->allLocalLibraryRecords();
    return LibrarySelection::memoised(
        m_d->restore.restoreWorkflowItemsMemo,
        records,
        m_restoreState->activeRestoreRequest()->items,
        [&] {
            QSet<qint64> requested;
            for (const RestoreRequestItem &item : m_restoreState->activeRestoreRequest()->items)
                requested.insert(item.libraryItemID);
            QList<LocalLibraryItem> result;
            result.reserve(std::min(records.size(), requested.size()));
            records.forEach([&](const LocalLibraryItem &item) {
                if (item.backendLibraryItemID && requested.contains(*item.backendLibraryItemID))
                    result.append(item);
            });
            return result;
        });
}

} // namespace Pellwick
