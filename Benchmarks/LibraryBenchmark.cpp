// pellwick-bench-library generate ROOT COUNT
//     Writes a deterministic library of COUNT fully filled records to ROOT/library-items.json.
// pellwick-bench-library load ROOT
//     Loads the library and prints its record count.
// pellwick-bench-library update ROOT UPDATES
//     Loads the library, then makes one durable import-status change per line "<id> <status>" of
//     the file UPDATES.
// pellwick-bench-library search ROOT QUERIES
//     Loads the library, runs every query of the file QUERIES (one a line, tab-separated: text,
//     import status, source, capture-time start and end, capture time known, import-date start
//     and end, duplicates hidden/included/only; empty fields are absent) and prints the total
//     number of records found.
// pellwick-bench-library ingest-cache ROOT COUNT
//     Writes the Ingest Cache folder the generated records name, below ROOT: each record's RAW
//     original as an empty file, the sidecars of every second record, a hidden copy marker in
//     every batch folder and a few empty folders.
// Every mode prints "peak RSS: <N> MiB" to standard error when PELLWICK_BENCH_REPORT_RSS is set.

#include "PeakRss.h"

#include <PellwickCore/Library/LocalLibraryCache.h>

#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <Support/LibraryFixtures.h>

using namespace Pellwick;

namespace {

int fail(const Error &error)
{
    std::fprintf(stderr, "%s\n", qPrintable(describe(error)));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fputs("usage: pellwick-bench-library generate|load|update ROOT [COUNT [SEED]]\n",
                   stderr);
        return 2;
    }
    const QByteArray mode = argv[1];
    const LocalLibraryCache cache(QString::fromLocal8Bit(argv[2]),
                                  std::make_shared<LocalFileManager>());
    if (mode == "generate" && argc == 4) {
        const int count = std::atoi(argv[3]);
        QList<LocalLibraryItem> items;
        items.reserve(count);
        for (int n = 0; n < count; ++n)
            items.append(Test::filledLibraryItem(n));
        if (Result<void> written = cache.writeItems(items); !written)
            return fail(written.error());
    } else if (mode == "ingest-cache" && argc == 4) {
        const QString root = QString::fromLocal8Bit(argv[2]);
        const LocalFileManager files;
        const auto createFile = [&files](const QString &path) {
            return files.createDirectory(parentPath(path)).has_value() && files.createFile(path);
        };
        for (int n = 0; n < std::atoi(argv[3]); ++n) {
            const LocalLibraryItem item = Test::filledLibraryItem(n, root);
            const QString batch
                = root + QLatin1Char('/') + item.cacheRelativePath->section(u'/', 0, 2);
            if (!createFile(*item.ingestCacheOriginalURL)
                || (n % 2 == 0 && !createFile(*item.ingestCacheSidecarURL))
                || (n % 500 == 0
                    && !createFile(batch + QStringLiteral("/.pellwick-copy-in-progress")))) {
                std::fputs("cannot write the Ingest Cache\n", stderr);
                return 1;
            }
        }
        for (int n = 0; n < 5; ++n) {
            if (!files.createDirectory(root + QStringLiteral("/Imported later/empty %1").arg(n))) {
                std::fputs("cannot write the Ingest Cache\n", stderr);
                return 1;
            }
        }
    } else if (mode == "load" && argc == 3) {
        Result<LocalLibraryCacheRecords> records = cache.cachedRecords();
        if (!records)
            return fail(records.error());
        std::printf("%lld records\n", static_cast<long long>(records->size()));
    } else if (mode == "update" && argc == 4) {
        QFile updates(QString::fromLocal8Bit(argv[3]));
        if (!updates.open(QIODevice::ReadOnly)) {
            std::fputs("cannot read the updates\n", stderr);
            return 2;
        }
        Result<LocalLibraryCacheRecords> records = cache.cachedRecords();
        if (!records)
            return fail(records.error());
        for (const QByteArray &line : updates.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() != 2)
                continue;
            const auto status = libraryItemImportStatusFromRaw(QString::fromLatin1(fields[1]));
            Result<std::optional<LocalLibraryItem>> updated = cache.updateImportStatus(
                QUuid::fromString(QLatin1String(fields[0])), status.value());
            if (!updated)
                return fail(updated.error());
        }
    } else if (mode == "search" && argc == 4) {
        QFile queries(QString::fromLocal8Bit(argv[3]));
        if (!queries.open(QIODevice::ReadOnly)) {
            std::fputs("cannot read the queries\n", stderr);
            return 2;
        }
        qint64 total = 0;
        for (const QByteArray &line : queries.readAll().split('\n')) {
            const QList<QByteArray> f = line.split('\t');
            if (f.size() != 9)
                continue;
            const auto text = [&](int i) {
                return f[i].isEmpty() ? std::nullopt : std::optional(QString::fromUtf8(f[i]));
            };
            const auto range = [&](int i) -> std::optional<LocalLibraryDateRange> {
                if (f[i].isEmpty())
                    return std::nullopt;
                return LocalLibraryDateRange{Date{f[i].toDouble()}, Date{f[i + 1].toDouble()}};
            };
            LocalLibrarySearchQuery query;
            query.text = text(0);
            if (!f[1].isEmpty())
                query.importStatus = libraryItemImportStatusFromRaw(QString::fromLatin1(f[1]));
            query.ingestSourceName = text(2);
            query.captureTime = range(3);
            if (!f[5].isEmpty())
                query.captureTimeKnown = f[5] == "1";
            query.importDate = range(6);
            query.duplicateVisibility = f[8] == "included"
                                            ? LocalLibraryDuplicateVisibility::Included
                                        : f[8] == "only" ? LocalLibraryDuplicateVisibility::Only
                                                         : LocalLibraryDuplicateVisibility::Hidden;
            Result<LocalLibrarySearchResult> found = cache.search(query);
            if (!found)
                return fail(found.error());
            total += found->size();
        }
        std::printf("%lld records found\n", static_cast<long long>(total));
    } else {
        std::fputs("usage: pellwick-bench-library generate|load|update ROOT [COUNT [SEED]]\n",
                   stderr);
        return 2;
    }
    Bench::reportPeakRss();
    // Like any command-line tool, leave without taking the loaded library apart.
    std::fflush(stdout);
    std::_Exit(0);
}
