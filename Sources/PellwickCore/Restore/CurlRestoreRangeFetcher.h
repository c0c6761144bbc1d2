#pragma once

#include <PellwickCore/Restore/RestoreRangeFetching.h>

#include <chrono>

namespace Pellwick {

/// Ranged GETs over the program's curl transfer layer. Each call sends one GET of the URL exactly
/// as given with one added header, "Range: bytes=<start>-<endInclusive>". Only http and https are
/// fetched, also on redirects; any other URL fails with `UnexpectedRangeResponse` without any I/O.
/// A reply that does not answer the range asked also fails with `UnexpectedRangeResponse`: a 206
/// whose "Content-Range" starts elsewhere or reaches past the range, or any other 2xx (a whole
/// object) for a range that does not start at 0 or that its "Content-Length" exceeds.
/// The time limit is an idle limit (connecting, or no byte moving). Successive calls from one
/// thread reuse its kept-alive connection. Thread-safe; holds no state.
class CurlRestoreRangeFetcher final : public RestoreRangeFetching
{
public:
    struct Options
    {
        std::chrono::milliseconds idleLimit = std::chrono::seconds(60);
    };

    CurlRestoreRangeFetcher() = default;

    explicit CurlRestoreRangeFetcher(Options options)
        : m_options(options)
    {}

    Result<QByteArray>
    data(const QString &url, const RestoreByteRange &range, std::stop_token stop) const override;
    /// Streams the body into `file`, keeping at most one byte more than the range holds.
    Result<qint64> download(const QString &url,
                            const RestoreByteRange &range,
                            FileHandle &file,
                            std::stop_token stop) const override;

private:
    Options m_options;
};

} // namespace Pellwick
