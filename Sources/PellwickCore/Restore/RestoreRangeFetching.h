#pragma once

#include <PellwickCore/Restore/RestoreTransferTypes.h>
#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QString>

#include <stop_token>

namespace Pellwick {

class FileHandle;

/// Ranged GETs of presigned URLs. Thread-safe: the executor runs several calls at once. Each call
/// is one request without retry; `stop` cancels it.
class RestoreRangeFetching
{
public:
    RestoreRangeFetching() = default;
    RestoreRangeFetching(const RestoreRangeFetching &) = delete;
    RestoreRangeFetching &operator=(const RestoreRangeFetching &) = delete;
    virtual ~RestoreRangeFetching() = default;

    /// The body of a GET of `url` (unchanged) asking for `range`. Any 2xx status returns the
    /// body without a length check; another status or a reply that is not HTTP fails with
    /// `RestoreTransferError::UnexpectedRangeResponse`; transport failures pass through.
    [[nodiscard]] virtual Result<QByteArray>
    data(const QString &url, const RestoreByteRange &range, std::stop_token stop) const = 0;

    /// As `data`, but writes the body into `file` (open for writing at its start) as it arrives
    /// and returns its length. At most `range.byteCount() + 1` bytes are kept, so a body of the
    /// wrong length is still seen as wrong without holding a server's whole object. The default
    /// writes what `data` returns.
    [[nodiscard]] virtual Result<qint64> download(const QString &url,
                                                  const RestoreByteRange &range,
                                                  FileHandle &file,
                                                  std::stop_token stop) const;
};

/// The most bytes of a range's body worth keeping: one more than it should have, enough to see
/// that it is too long.
qint64 rangeBodyCap(const RestoreByteRange &range);

} // namespace Pellwick
