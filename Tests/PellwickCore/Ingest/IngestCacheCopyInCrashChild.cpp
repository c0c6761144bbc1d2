// The process that IngestCacheCopyInTests ends at chosen or random moments.
//
// Usage: IngestCacheCopyInCrashChild CARD CACHE [KILL_AT_OPERATION]
// Scans CARD as a card with a volume UUID and copies its review into the Ingest Cache at CACHE.
// With KILL_AT_OPERATION the cache works through a fault-injecting file manager that sends this
// process SIGKILL as its KILL_AT_OPERATION-th operation begins. Prints "ready" just before the
// copy-in starts; exits 0 after a successful copy-in, 1 after a failed one, 2 on bad arguments.

#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/IngestCache.h>

#include <cstdio>

#include <Support/FaultInjectingFileManager.h>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        std::fputs("usage: IngestCacheCopyInCrashChild CARD CACHE [KILL_AT_OPERATION]\n", stderr);
        return 2;
    }
    const QString card = QString::fromLocal8Bit(argv[1]);
    const QString cache = QString::fromLocal8Bit(argv[2]);

    std::shared_ptr<const FileManager> fileManager = std::make_shared<LocalFileManager>();
    const Result<ImportReview> review
        = ImportReviewBuilder(fileManager)
              .buildReview({ImportScanVolume{
                  QStringLiteral("CARD"), card, QStringLiteral("CRASH-TEST-UUID")}});
    if (!review) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(review.error())));
        return 1;
    }
    if (argc == 4) {
        fileManager = Test::fileManagerKilledAtOperation(argv[3]);
        if (!fileManager)
            return 2;
    }

    const IngestCache ingestCache(cache, fileManager, std::make_shared<SHA256ContentHasher>());
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    const Result<QList<IngestCacheCopy>> copied
        = ingestCache.copy(*review, {}, QUuid::createUuid());
    if (!copied) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(copied.error())));
        return 1;
    }
    return 0;
}
