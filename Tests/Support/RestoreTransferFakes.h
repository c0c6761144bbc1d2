#pragma once

#include <PellwickCore/Restore/RestoreRangeFetching.h>
#include <PellwickCore/Restore/RestoreTransferClock.h>
#include <PellwickCore/Restore/RestoreTransferExecutor.h>

#include <QByteArray>
#include <QList>
#include <QMap>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

#include <Support/TestBackend/TestBackend.h>

namespace Pellwick::Test {

/// A range fetcher over in-memory objects keyed by URL, implementing only `data` (so the seam's
/// default streaming path is what runs). Records every call; can hold fetches at a gate until the
/// test lets them go, one at a time or all, and answer chosen ranges otherwise. Thread-safe.
class ScriptedRangeFetcher final : public RestoreRangeFetching
{
public:
    struct Call
    {
        QString url;
        RestoreByteRange range;
    };

    /// What to answer instead of the object's bytes for one range; no value fetches normally.
    using Override = std::function<std::optional<Result<QByteArray>>(
        const QString &url, const RestoreByteRange &range)>;

    void setObject(const QString &url, const QByteArray &bytes);
    void setOverride(Override answer);
    /// While closed, each fetch waits (after being recorded) until `release` lets it through.
    void setGated(bool gated);
    /// Lets the earliest waiting fetch of `range` through (any waiting fetch without a range).
    void release(std::optional<RestoreByteRange> range = std::nullopt);
    /// Blocks until `count` fetches wait at the gate; false when that took longer than 20 s.
    [[nodiscard]] bool waitForWaiting(int count) const;

    Result<QByteArray>
    data(const QString &url, const RestoreByteRange &range, std::stop_token stop) const override;

    QList<Call> calls() const;
    QList<RestoreByteRange> fetchedRanges() const;
    int maximumInFlight() const;
    int waitingCount() const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    QMap<QString, QByteArray> m_objects;
    Override m_override;
    bool m_gated = false;
    mutable QList<RestoreByteRange> m_waiting;
    mutable QList<RestoreByteRange> m_released;
    mutable QList<Call> m_calls;
    mutable int m_inFlight = 0;
    mutable int m_maximumInFlight = 0;
};

/// The byte ranges asked for by the GETs among `requests` whose target contains `targetFragment`,
/// in the order they arrived (a GET without a readable "Range" header counts as no range).
QList<RestoreByteRange> requestedRanges(const QList<RecordedRequest> &requests,
                                        const QString &targetFragment);

/// A clock the test sets.
class FixedRestoreTransferClock final : public RestoreTransferClock
{
public:
    explicit FixedRestoreTransferClock(Date now)
        : m_now(now)
    {}

    Date now() const override;
    void setNow(Date now);

private:
    mutable std::mutex m_mutex;
    Date m_now;
};

/// Collects progress rows from any thread.
class ProgressRecorder
{
public:
    RestoreTransferExecutor::ProgressCallback callback();
    QList<TransferProgress> rows() const;

private:
    mutable std::mutex m_mutex;
    QList<TransferProgress> m_rows;
};

} // namespace Pellwick::Test
