// pellwick-bench-library-tree build LIBRARY INGEST_CACHE
//     Loads the library in the folder LIBRARY and builds its folder tree over the Ingest Cache
//     folder INGEST_CACHE, with the physical entries and the default folder counts, as the
//     library page does with no filter; prints the number of rows.
// pellwick-bench-library-tree rebuild LIBRARY INGEST_CACHE
//     Loads the library once, then prints "library-tree rebuild: <ms> ms", the median of 10
//     builds (the walk included, caches warm).
// Both print "peak RSS: <N> MiB" to standard error when PELLWICK_BENCH_REPORT_RSS is set.

#include "PeakRss.h"

#include <PellwickApp/Shell/State/LocalLibraryTree.h>
#include <PellwickCore/Library/LocalLibraryCache.h>

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace Pellwick;

namespace {

qsizetype rowCount(const QList<LocalLibraryTreeNode> &rows)
{
    qsizetype count = rows.size();
    for (const LocalLibraryTreeNode &row : rows)
        count += row.children ? rowCount(*row.children) : 0;
    return count;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fputs("usage: pellwick-bench-library-tree build|rebuild LIBRARY INGEST_CACHE\n",
                   stderr);
        return 2;
    }
    const QByteArray mode = argv[1];
    const auto files = std::make_shared<LocalFileManager>();
    const LocalLibraryCache cache(QString::fromLocal8Bit(argv[2]), files);
    const QString ingestCache = QString::fromLocal8Bit(argv[3]);
    Result<LocalLibraryCacheRecords> records = cache.cachedRecords();
    if (!records) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(records.error())));
        return 1;
    }
    const QList<LocalLibraryItem> items = records->items();
    const auto build
        = [&] { return LocalLibraryTree::build(items, ingestCache, true, {}, *files); };
    if (mode == "build") {
        std::printf("%lld rows\n", static_cast<long long>(rowCount(build())));
    } else if (mode == "rebuild") {
        std::vector<double> milliseconds;
        for (int run = 0; run < 10; ++run) {
            QElapsedTimer timer;
            timer.start();
            const QList<LocalLibraryTreeNode> tree = build();
            milliseconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        std::sort(milliseconds.begin(), milliseconds.end());
        std::printf("library-tree rebuild: %.0f ms\n", milliseconds[milliseconds.size() / 2]);
    } else {
        std::fputs("usage: pellwick-bench-library-tree build|rebuild LIBRARY INGEST_CACHE\n",
                   stderr);
        return 2;
    }
    Bench::reportPeakRss();
    // Like any command-line tool, leave without taking the loaded library apart.
    std::fflush(stdout);
    std::_Exit(0);
}
