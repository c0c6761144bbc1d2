#include "LibraryShellViewModel_p.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>

namespace Pellwick {

namespace {

constexpr std::chrono::milliseconds transferProgressInterval(100);

/// Changes a user notices at once: they bypass the throttle.
bool isNoticeableChange(const TransferProgress &shown, const TransferProgress &progress)
{
    return shown.phase != progress.phase || shown.currentFilename != progress.currentFilename
           || shown.completedPackageCount != progress.completedPackageCount
           || progress.completedByteCount >= progress.totalByteCount;
}

} // namespace

void LibraryShellViewModel::openTransferProgress(const QUuid &id)
{
    m_d->shell.activeTransferProgressIDs.insert(id);
}

void LibraryShellViewModel::updateTransferProgress(const TransferProgress &progress)
{
    if (!m_d->shell.activeTransferProgressIDs.contains(progress.id))
        return;
    // Monotonic: a step of the wall clock must not hold a row back.
    const std::chrono::steady_clock::time_point now = m_d->services.steadyClock();
    const auto shown
        = std::find_if(m_shellState->transferProgresses().cbegin(),
                       m_shellState->transferProgresses().cend(),
                       [&progress](const TransferProgress &row) { return row.id == progress.id; });
    if (shown != m_shellState->transferProgresses().cend()
        && !isNoticeableChange(*shown, progress)) {
        const auto last = m_d->shell.lastTransferProgressUpdateAt.constFind(progress.id);
        if (last != m_d->shell.lastTransferProgressUpdateAt.cend()
            && now - *last < transferProgressInterval)
            return;
    }
    QList<TransferProgress> rows = m_shellState->transferProgresses();
    if (shown != m_shellState->transferProgresses().cend())
        rows[shown - m_shellState->transferProgresses().cbegin()] = progress;
    else
        rows.append(progress);
    m_shellState->setTransferProgresses(std::move(rows));
    m_d->shell.lastTransferProgressUpdateAt.insert(progress.id, now);
}

void LibraryShellViewModel::removeTransferProgress(const QUuid &id)
{
    QList<TransferProgress> rows = m_shellState->transferProgresses();
    rows.removeIf([&id](const TransferProgress &row) { return row.id == id; });
    m_shellState->setTransferProgresses(std::move(rows));
    m_d->shell.activeTransferProgressIDs.remove(id);
    m_d->shell.lastTransferProgressUpdateAt.remove(id);
}

TransferProgressSink LibraryShellViewModel::transferProgressSink()
{
    // The weak pointer is made here, on the main thread, and only read there.
    return [self = QPointer<LibraryShellViewModel>(this)](const TransferProgress &progress) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, progress] {
                if (self)
                    self->updateTransferProgress(progress);
            },
            Qt::QueuedConnection);
    };
}

} // namespace Pellwick
