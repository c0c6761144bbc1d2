#include "TransferProgressBoard.h"

#include <PellwickApp/Shell/State/ShellState.h>

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>
#include <utility>

namespace Pellwick {

namespace {

constexpr std::chrono::milliseconds transferProgressInterval(100);

/// Changes a user notices at once: they bypass the throttle.
bool isNoticeableChange(const TransferProgress &shown, const TransferProgress &progress)
{
    return shown.phase != progress.phase || shown.currentFilename != progress.currentFilename
           || shown.currentFileIsPreview != progress.currentFileIsPreview
           || shown.completedPackageCount != progress.completedPackageCount
           || progress.completedByteCount >= progress.totalByteCount;
}

} // namespace

TransferProgressBoard::TransferProgressBoard(ShellState &state,
                                             SteadyClock steadyClock,
                                             QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_steadyClock(std::move(steadyClock))
{}

void TransferProgressBoard::open(const QUuid &id)
{
    m_openIDs.insert(id);
}

void TransferProgressBoard::update(const TransferProgress &progress)
{
    if (!m_openIDs.contains(progress.id))
        return;
    // Monotonic: a step of the wall clock must not hold a row back.
    const std::chrono::steady_clock::time_point now = m_steadyClock();
    const QList<TransferProgress> &shownRows = m_state.transferProgresses();
    const auto shown
        = std::find_if(shownRows.cbegin(),
                       shownRows.cend(),
                       [&progress](const TransferProgress &row) { return row.id == progress.id; });
    if (shown != shownRows.cend() && !isNoticeableChange(*shown, progress)) {
        const auto last = m_lastUpdateAt.constFind(progress.id);
        if (last != m_lastUpdateAt.cend() && now - *last < transferProgressInterval)
            return;
    }
    QList<TransferProgress> rows = shownRows;
    if (shown != shownRows.cend())
        rows[shown - shownRows.cbegin()] = progress;
    else
        rows.append(progress);
    m_state.setTransferProgresses(std::move(rows));
    m_lastUpdateAt.insert(progress.id, now);
}

void TransferProgressBoard::remove(const QUuid &id)
{
    QList<TransferProgress> rows = m_state.transferProgresses();
    rows.removeIf([&id](const TransferProgress &row) { return row.id == id; });
    m_state.setTransferProgresses(std::move(rows));
    m_openIDs.remove(id);
    m_lastUpdateAt.remove(id);
}

TransferProgressSink TransferProgressBoard::sink()
{
    // The weak pointer is made here, on the main thread, and only read there.
    return [self = QPointer<TransferProgressBoard>(this)](const TransferProgress &progress) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, progress] {
                if (self)
                    self->update(progress);
            },
            Qt::QueuedConnection);
    };
}

} // namespace Pellwick
