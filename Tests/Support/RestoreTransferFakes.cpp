#include "RestoreTransferFakes.h"

#include <PellwickCore/Restore/RestoreTransferError.h>

namespace Pellwick::Test {

QList<RestoreByteRange> requestedRanges(const QList<RecordedRequest> &requests,
                                        const QString &targetFragment)
{
    QList<RestoreByteRange> ranges;
    for (const RecordedRequest &request : requests) {
        if (request.method != "GET" || !request.target.contains(targetFragment.toUtf8()))
            continue;
        const QByteArray header = request.headers.value("Range").value_or(QByteArray());
        const QList<QByteArray> bounds = header.mid(6).split('-');
        if (!header.startsWith("bytes=") || bounds.size() != 2)
            continue;
        ranges.append({bounds.at(0).toLongLong(), bounds.at(1).toLongLong()});
    }
    return ranges;
}

void ScriptedRangeFetcher::setObject(const QString &url, const QByteArray &bytes)
{
    const std::lock_guard lock(m_mutex);
    m_objects.insert(url, bytes);
}

void ScriptedRangeFetcher::setOverride(Override answer)
{
    const std::lock_guard lock(m_mutex);
    m_override = std::move(answer);
}

void ScriptedRangeFetcher::setGated(bool gated)
{
    {
        const std::lock_guard lock(m_mutex);
        m_gated = gated;
    }
    m_changed.notify_all();
}

void ScriptedRangeFetcher::release(std::optional<RestoreByteRange> range)
{
    {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::seconds(20), [&] {
                return range ? m_waiting.contains(*range) : !m_waiting.isEmpty();
            }))
            return;
        const RestoreByteRange chosen = range ? *range : m_waiting.first();
        m_waiting.removeOne(chosen);
        m_released.append(chosen);
    }
    m_changed.notify_all();
}

bool ScriptedRangeFetcher::waitForWaiting(int count) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(
        lock, std::chrono::seconds(20), [&] { return m_waiting.size() >= count; });
}

Result<QByteArray> ScriptedRangeFetcher::data(const QString &url,
                                              const RestoreByteRange &range,
                                              std::stop_token stop) const
{
    Override answer;
    std::optional<QByteArray> object;
    {
        std::unique_lock lock(m_mutex);
        m_calls.append({url, range});
        ++m_inFlight;
        m_maximumInFlight = std::max(m_maximumInFlight, m_inFlight);
        if (m_gated) {
            m_waiting.append(range);
            m_changed.notify_all();
            std::stop_callback wake(stop, [this] { m_changed.notify_all(); });
            m_changed.wait(lock, [&] {
                return m_released.contains(range) || stop.stop_requested() || !m_gated;
            });
            if (!m_released.removeOne(range))
                m_waiting.removeOne(range);
        }
        answer = m_override;
        if (m_objects.contains(url))
            object = m_objects.value(url);
    }
    auto finish = [this](Result<QByteArray> result) {
        const std::lock_guard lock(m_mutex);
        --m_inFlight;
        return result;
    };
    if (stop.stop_requested())
        return finish(failure(TransportError{42, true, false, QStringLiteral("Cancelled.")}));
    if (answer) {
        if (std::optional<Result<QByteArray>> scripted = answer(url, range))
            return finish(*scripted);
    }
    if (!object)
        return finish(
            failure(RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}}));
    if (range.start >= object->size())
        return finish(
            failure(RestoreTransferError{RestoreTransferError::UnexpectedRangeResponse{}}));
    return finish(object->mid(range.start, range.byteCount()));
}

QList<ScriptedRangeFetcher::Call> ScriptedRangeFetcher::calls() const
{
    const std::lock_guard lock(m_mutex);
    return m_calls;
}

QList<RestoreByteRange> ScriptedRangeFetcher::fetchedRanges() const
{
    QList<RestoreByteRange> ranges;
    for (const Call &call : calls())
        ranges.append(call.range);
    return ranges;
}

int ScriptedRangeFetcher::maximumInFlight() const
{
    const std::lock_guard lock(m_mutex);
    return m_maximumInFlight;
}

int ScriptedRangeFetcher::waitingCount() const
{
    const std::lock_guard lock(m_mutex);
    return static_cast<int>(m_waiting.size());
}

Date FixedRestoreTransferClock::now() const
{
    const std::lock_guard lock(m_mutex);
    return m_now;
}

void FixedRestoreTransferClock::setNow(Date now)
{
    const std::lock_guard lock(m_mutex);
    m_now = now;
}

RestoreTransferExecutor::ProgressCallback ProgressRecorder::callback()
{
    return [this](const TransferProgress &row) {
        const std::lock_guard lock(m_mutex);
        m_rows.append(row);
    };
}

QList<TransferProgress> ProgressRecorder::rows() const
{
    const std::lock_guard lock(m_mutex);
    return m_rows;
}

} // namespace Pellwick::Test
