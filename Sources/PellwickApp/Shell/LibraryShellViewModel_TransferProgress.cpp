#include "LibraryShellViewModel.h"

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
    m_activeTransferProgressIDs.insert(id);
}

void LibraryShellViewModel::updateTransferProgress(const TransferProgress &progress)
{
    if (!m_activeTransferProgressIDs.contains(progress.id))
        return;
    // Monotonic: a step of the wall clock must not hold a row back.
    const std::chrono::steady_clock::time_point now = m_steadyClock();
    const auto shown
        = std::find_if(m_transferProgresses.cbegin(),
                       m_transferProgresses.cend(),
                       [&progress](const TransferProgress &row) { return row.id == progress.id; });
    if (shown != m_transferProgresses.cend() && !isNoticeableChange(*shown, progress)) {
        const auto last = m_lastTransferProgressUpdateAt.constFind(progress.id);
        if (last != m_lastTransferProgressUpdateAt.cend() && now - *last < transferProgressInterval)
            return;
    }
    QList<TransferProgress> rows = m_transferProgresses;
    if (shown != m_transferProgresses.cend())
        rows[shown - m_transferProgresses.cbegin()] = progress;
    else
        rows.append(progress);
    setTransferProgresses(std::move(rows));
    m_lastTransferProgressUpdateAt.insert(progress.id, now);
}

void LibraryShellViewModel::removeTransferProgress(const QUuid &id)
{
    QList<TransferProgress> rows = m_transferProgresses;
    rows.removeIf([&id](const TransferProgress &row) { return row.id == id; });
    setTransferProgresses(std::move(rows));
    m_activeTransferProgressIDs.remove(id);
    m_lastTransferProgressUpdateAt.remove(id);
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
