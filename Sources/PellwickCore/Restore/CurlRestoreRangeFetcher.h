#pragma once

#include <PellwickCore/Restore/RestoreRangeFetching.h>

#include <chrono>
#include <memory>

namespace Pellwick {

/// Ranged GETs over libcurl. Each call sends one GET of the URL exactly as given with one added
/// header, "Range: bytes=<start>-<endInclusive>". Only http and https are fetched, also on
/// redirects; any other URL fails with `UnexpectedRangeResponse` without any I/O. The time limit
/// is an idle limit (connecting, or no byte moving). Connections are kept alive in a cache shared
/// by every call of one fetcher, so successive ranges to one host reuse them. Thread-safe.
class CurlRestoreRangeFetcher final : public RestoreRangeFetching
{
public:
    struct Options
    {
        std::chrono::milliseconds idleLimit = std::chrono::seconds(60);
    };

    CurlRestoreRangeFetcher();
    explicit CurlRestoreRangeFetcher(Options options);
    ~CurlRestoreRangeFetcher() override;

    Result<QByteArray>
    data(const QString &url, const RestoreByteRange &range, std::stop_token stop) const override;
    /// Streams the body into `file`, keeping at most one byte more than the range holds.
    Result<qint64> download(const QString &url,
                            const RestoreByteRange &range,
                            FileHandle &file,
                            std::stop_token stop) const override;

private:
    struct Shared;

    Options m_options;
    std::shared_ptr<Shared> m_shared;
};

} // namespace Pellwick
