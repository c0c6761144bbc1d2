// pellwick-bench-reconcile generate ROOT [COUNT]
//     Writes a generated Ingest Cache of COUNT (default 1,000) packages (a 4 MiB RAW original and
//     a small sidecar each) to ROOT/cache and a library of one ready record per package to ROOT/library-original,
//     then changes the cache as a user's other tools would: a quarter of the packages moved to
//     other folders, a tenth of the RAW originals overwritten in place, a tenth more new packages.
// pellwick-bench-reconcile run ROOT
//     Reviews ROOT/cache and reconciles the library in ROOT/library with it (a fresh copy of
//     ROOT/library-original, made by the caller before each run).

#include <PellwickCore/Ingest/Exiv2PhotoMetadataExtractor.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Library/LocalLibraryCache.h>

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <Support/TestFiles.h>

using namespace Pellwick;

namespace {

constexpr int defaultPackageCount = 1000;
constexpr qint64 rawBytes = qint64(4) * 1024 * 1024;

int fail(const Error &error)
{
    std::fprintf(stderr, "%s\n", qPrintable(describe(error)));
    return 1;
}

QString packagePath(const QString &cache, const QString &folder, int n, const char *extension)
{
    return cache + QLatin1Char('/') + folder
           + QStringLiteral("/IMG_%1.").arg(n, 4, 10, QLatin1Char('0')) + QLatin1String(extension);
}

int generate(const QString &root, int packageCount)
{
    const QString cache = root + QStringLiteral("/cache");
    QDir(cache).removeRecursively();
    QList<LocalLibraryItem> records;
    for (int n = 0; n < packageCount; ++n) {
        const QString folder
            = QStringLiteral("2026/12/%1-batch/DCIM").arg(n % 10 + 1, 2, 10, QLatin1Char('0'));
        const QString raw = packagePath(cache, folder, n, "CR3");
        const QString sidecar = packagePath(cache, folder, n, "xmp");
        const QByteArray rawContent = Test::patternBytes(rawBytes, static_cast<quint32>(n));
        const QByteArray sidecarContent
            = Test::patternBytes(2048 + n, static_cast<quint32>(n) + 50000);
        Test::writeFile(raw, rawContent);
        Test::writeFile(sidecar, sidecarContent);
        LocalLibraryItem item;
        item.id = QUuid::createUuid();
        item.originalFilename = lastPathComponent(raw);
        item.canonicalFilename = item.originalFilename;
        item.contentHash = SHA256ContentHasher::contentHash(rawContent);
        item.importDate = Date{8e8 + n};
        item.ingestCacheOriginalURL = raw;
        item.ingestCacheSidecarURL = sidecar;
        item.ingestCacheSidecarContentHash = SHA256ContentHasher::contentHash(sidecarContent);
        item.ingestSourceName = QStringLiteral("CARD");
        item.cacheRelativePath = QDir(cache).relativeFilePath(raw);
        item.sourceRelativePath = item.cacheRelativePath;
        item.preview = LocalPreviewState::available(
            QStringLiteral("previews/") + item.originalFilename + QStringLiteral(".jpg"));
        records.append(item);
    }
    const LocalLibraryCache library(root + QStringLiteral("/library-original"),
                                    std::make_shared<LocalFileManager>());
    if (Result<void> written = library.writeItems(records); !written)
        return fail(written.error());

    for (int n = 0; n < packageCount; ++n) {
        const QString &raw = *records.at(n).ingestCacheOriginalURL;
        const QString &sidecar = *records.at(n).ingestCacheSidecarURL;
        if (n % 4 == 0) {
            const QString folder = QStringLiteral("moved/%1").arg(n % 7);
            QDir().mkpath(cache + QLatin1Char('/') + folder);
            QFile::rename(raw, packagePath(cache, folder, n, "CR3"));
            QFile::rename(sidecar, packagePath(cache, folder, n, "xmp"));
        } else if (n % 10 == 1) {
            Test::writeFile(raw, Test::patternBytes(rawBytes, static_cast<quint32>(n) + 100000));
        }
    }
    for (int n = packageCount; n < packageCount + packageCount / 10; ++n) {
        Test::writeFile(packagePath(cache, QStringLiteral("new"), n, "CR3"),
                        Test::patternBytes(rawBytes, static_cast<quint32>(n)));
        Test::writeFile(packagePath(cache, QStringLiteral("new"), n, "xmp"),
                        Test::patternBytes(2048, static_cast<quint32>(n) + 50000));
    }
    return 0;
}

int run(const QString &root)
{
    const auto fileManager = std::make_shared<LocalFileManager>();
    const QString cache = root + QStringLiteral("/cache");
    const Result<ImportReview> review
        = ImportReviewBuilder(fileManager)
              .buildReview({ImportScanVolume{QStringLiteral("Ingest Cache"), cache, std::nullopt}});
    if (!review)
        return fail(review.error());
    const LocalLibraryCache library(root + QStringLiteral("/library"), fileManager);
    const SHA256ContentHasher hasher;
    const Exiv2PhotoMetadataExtractor extractor;
    const Result<IngestCacheReconciliation> outcome = library.withExclusiveAccess(
        [&] { return library.reconcileIngestCache(*review, {}, hasher, extractor, Date::now()); });
    if (!outcome)
        return fail(outcome.error());
    std::fprintf(stderr,
                 "added %d, needs attention %d, applied %d\n",
                 outcome->addedCount,
                 outcome->needsAttentionCount,
                 int(outcome->didApply));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *usage = "usage: pellwick-bench-reconcile generate ROOT [COUNT] | run ROOT\n";
    if (argc != 3 && argc != 4) {
        std::fputs(usage, stderr);
        return 2;
    }
    const QByteArray mode = argv[1];
    const QString root = QString::fromLocal8Bit(argv[2]);
    const int count = argc == 4 ? std::atoi(argv[3]) : defaultPackageCount;
    if (mode == "generate" && count > 0)
        return generate(root, count);
    if (mode == "run" && argc == 3)
        return run(root);
    std::fputs(usage, stderr);
    return 2;
}
