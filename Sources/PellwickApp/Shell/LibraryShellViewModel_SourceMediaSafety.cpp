#include "LibraryShellViewModel_p.h"

#include <QScopeGuard>

namespace Pellwick {

namespace {

constexpr std::chrono::seconds sourceMediaSafetySpacing{60};

} // namespace

void LibraryShellViewModel::scheduleSourceMediaSafetyRefresh()
{
    LibraryShellViewModelPrivate::SourceMediaSafety &safety = m_d->sourceMediaSafety;
    const std::chrono::steady_clock::time_point now = m_d->services.steadyClock();
    if (safety.lastSourceMediaSafetyCheckAt
        && now - *safety.lastSourceMediaSafetyCheckAt < sourceMediaSafetySpacing)
        return;
    if (safety.sourceMediaSafetyTask)
        return;
    safety.lastSourceMediaSafetyCheckAt = now;
    QPromise<void> finished;
    finished.start();
    safety.sourceMediaSafetyTask = finished.future();
    runThrottledSourceMediaSafetyCheck(std::move(finished));
}

QCoro::Task<> LibraryShellViewModel::runThrottledSourceMediaSafetyCheck(QPromise<void> finished)
{
    // Whatever happens, an immediate check waiting for this one goes on.
    const auto finish = qScopeGuard([&finished] { finished.finish(); });
    const QPointer<LibraryShellViewModel> self(this);
    const std::stop_token stop = m_d->sourceMediaSafety.checks.token();
    QFuture<Result<qsizetype>> check = startSourceMediaSafetyCheck();
    const std::optional<Result<qsizetype>> changed = co_await Workflow::resumeIn(self, stop, check);
    if (!changed)
        co_return;
    m_d->sourceMediaSafety.sourceMediaSafetyTask.reset();
    publishSourceMediaSafetyResult(*changed);
}

QCoro::Task<> LibraryShellViewModel::refreshSourceMediaSafetyNow()
{
    if (m_d->sourceMediaSafety.sourceMediaSafetyTask) {
        QFuture<void> running = *m_d->sourceMediaSafety.sourceMediaSafetyTask;
        co_await running;
        co_return;
    }
    const QPointer<LibraryShellViewModel> self(this);
    m_d->sourceMediaSafety.lastSourceMediaSafetyCheckAt = m_d->services.steadyClock();
    const std::stop_token stop = m_d->sourceMediaSafety.checks.token();
    QFuture<Result<qsizetype>> check = startSourceMediaSafetyCheck();
    const std::optional<Result<qsizetype>> changed = co_await Workflow::resumeIn(self, stop, check);
    if (changed)
        publishSourceMediaSafetyResult(*changed);
}

QFuture<Result<qsizetype>> LibraryShellViewModel::startSourceMediaSafetyCheck() const
{
    return Workflow::run(WorkflowPools::utility(),
                         [detector = m_d->services.volumeDetector,
                          library = m_d->services.localLibraryCache,
                          files = m_d->services.fileManager,
                          hasher = m_d->services.contentHasher,
                          stop = m_d->sourceMediaSafety.checks.token()]() -> Result<qsizetype> {
                             PELLWICK_TRY_ASSIGN(QList<ImportScanVolume> volumes,
                                                 detector.removableVolumes());
                             return library.revalidateSourceMedia(volumes, *files, *hasher, stop);
                         });
}

void LibraryShellViewModel::publishSourceMediaSafetyResult(const Result<qsizetype> &changed)
{
    // A failure is dropped: the next request after the spacing tries again.
    if (!changed || *changed == 0)
        return;
    m_importState->setImportRecoveryMessage(QStringLiteral(
        "Source media changed; do not erase it until it is copied and archived again"));
    m_library->refreshVisibleLocalLibraryItems(true);
}

} // namespace Pellwick
