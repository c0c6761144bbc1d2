#include "ImportWorkflows.h"

#include <PellwickApp/Feedback/ImportFeedback.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickCore/Ingest/ContentHashing.h>
#include <PellwickCore/Support/FileManager.h>

#include <QScopeGuard>

namespace Pellwick {

namespace {

constexpr std::chrono::seconds sourceMediaSafetySpacing{60};

} // namespace

void ImportWorkflows::scheduleSourceMediaSafetyRefresh()
{
    const std::chrono::steady_clock::time_point now = m_services.steadyClock();
    if (m_lastSourceMediaSafetyCheckAt
        && now - *m_lastSourceMediaSafetyCheckAt < sourceMediaSafetySpacing)
        return;
    if (m_sourceMediaSafetyTask)
        return;
    m_lastSourceMediaSafetyCheckAt = now;
    QPromise<void> finished;
    finished.start();
    m_sourceMediaSafetyTask = finished.future();
    runThrottledSourceMediaSafetyCheck(std::move(finished));
}

QCoro::Task<> ImportWorkflows::runThrottledSourceMediaSafetyCheck(QPromise<void> finished)
{
    // Whatever happens, an immediate check waiting for this one goes on.
    const auto finish = qScopeGuard([&finished] { finished.finish(); });
    const QPointer<ImportWorkflows> self(this);
    const std::stop_token stop = m_sourceMediaChecks.token();
    QFuture<Result<qsizetype>> check = startSourceMediaSafetyCheck();
    const std::optional<Result<qsizetype>> changed = co_await Workflow::resumeIn(self, stop, check);
    if (!changed)
        co_return;
    m_sourceMediaSafetyTask.reset();
    publishSourceMediaSafetyResult(*changed);
}

QCoro::Task<> ImportWorkflows::refreshSourceMediaSafetyNow()
{
    if (m_sourceMediaSafetyTask) {
        QFuture<void> running = *m_sourceMediaSafetyTask;
        co_await running;
        co_return;
    }
    const QPointer<ImportWorkflows> self(this);
    m_lastSourceMediaSafetyCheckAt = m_services.steadyClock();
    const std::stop_token stop = m_sourceMediaChecks.token();
    QFuture<Result<qsizetype>> check = startSourceMediaSafetyCheck();
    const std::optional<Result<qsizetype>> changed = co_await Workflow::resumeIn(self, stop, check);
    if (changed)
        publishSourceMediaSafetyResult(*changed);
}

QFuture<Result<qsizetype>> ImportWorkflows::startSourceMediaSafetyCheck() const
{
    return Workflow::run(WorkflowPools::utility(),
                         [detector = m_services.volumeDetector,
                          library = m_services.localLibraryCache,
                          files = m_services.fileManager,
                          hasher = m_services.contentHasher,
                          stop = m_sourceMediaChecks.token()]() -> Result<qsizetype> {
                             PELLWICK_TRY_ASSIGN(QList<ImportScanVolume> volumes,
                                                 detector.removableVolumes());
                             return library.revalidateSourceMedia(volumes, *files, *hasher, stop);
                         });
}

void ImportWorkflows::publishSourceMediaSafetyResult(const Result<qsizetype> &changed)
{
    // A failure is dropped: the next request after the spacing tries again.
    if (!changed || *changed == 0)
        return;
    m_state.setImportRecoveryMessage(ImportFeedback::sourceMediaChangedMessage());
    m_libraryWorkflows.refreshVisibleLocalLibraryItems(true);
}

} // namespace Pellwick
