#pragma once

#include <PellwickCore/Ingest/TransferProgress.h>

#include <QHash>
#include <QObject>
#include <QSet>
#include <QUuid>

#include <chrono>
#include <functional>

namespace Pellwick {

class ShellState;

/// The progress rows of `ShellState::transferProgresses`, shared by every workflow that copies,
/// imports, moves or restores. Main thread only, but for `sink()`.
class TransferProgressBoard final : public QObject
{
public:
    /// The monotonic clock of the throttle; replaceable in tests.
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    TransferProgressBoard(ShellState &state, SteadyClock steadyClock, QObject *parent = nullptr);

    /// Opens a row: only open ids are published.
    void open(const QUuid &id);
    /// Publishes `progress` as the row of its id when the id is open: at once for a new row, a
    /// new phase, current file or completed package count, or completion; other changes at most
    /// every 0.1 s per id (the rest are dropped).
    void update(const TransferProgress &progress);
    /// Closes the row: later updates for the id are ignored until it is opened again.
    void remove(const QUuid &id);
    /// A sink for Core's progress callbacks, callable from any thread: each report becomes one
    /// queued `update` on the main thread, dropped when this board is gone.
    TransferProgressSink sink();

    const QSet<QUuid> &openIDs() const { return m_openIDs; }

private:
    ShellState &m_state;
    SteadyClock m_steadyClock;
    QSet<QUuid> m_openIDs;
    QHash<QUuid, std::chrono::steady_clock::time_point> m_lastUpdateAt;
};

} // namespace Pellwick
