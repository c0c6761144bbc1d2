#include "RestoreRangeFetching.h"

#include <PellwickCore/Support/FileManager.h>

#include <limits>

namespace Pellwick {

qint64 rangeBodyCap(const RestoreByteRange &range)
{
    return saturatingByteSum(range.byteCount(), 1);
}

Result<qint64> RestoreRangeFetching::download(const QString &url,
                                              const RestoreByteRange &range,
                                              FileHandle &file,
                                              std::stop_token stop) const
{
    PELLWICK_TRY_ASSIGN(QByteArray body, data(url, range, std::move(stop)));
    const qint64 kept = std::min<qint64>(body.size(), rangeBodyCap(range));
    PELLWICK_TRY(file.write(body.constData(), kept));
    return kept;
}

} // namespace Pellwick
