// Scans a folder as a card (a scan source with a volume UUID) and copies its review into an
// Ingest Cache, as "Add to Ingest Cache" does.
#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/IngestCache.h>

#include <QTextStream>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (argc != 3) {
        QTextStream(stderr) << "usage: pellwick-bench-copy-in CARD CACHE\n";
        return 2;
    }
    const QString card = QString::fromLocal8Bit(argv[1]);
    const QString cacheRoot = QString::fromLocal8Bit(argv[2]);
    const auto fileManager = std::make_shared<LocalFileManager>();
    const Result<ImportReview> review
        = ImportReviewBuilder(fileManager)
              .buildReview(
                  {ImportScanVolume{QStringLiteral("CARD"), card, QStringLiteral("0B5E-C0DE")}});
    if (!review) {
        QTextStream(stderr) << describe(review.error()) << '\n';
        return 1;
    }
    const IngestCache cache(cacheRoot, fileManager, std::make_shared<SHA256ContentHasher>());
    const Result<QList<IngestCacheCopy>> copied = cache.copy(*review, {}, QUuid::createUuid());
    if (!copied) {
        QTextStream(stderr) << describe(copied.error()) << '\n';
        return 1;
    }
    qint64 packages = 0;
    for (const IngestCacheCopy &copy : *copied)
        packages += copy.copiedPackageCount;
    QTextStream(stdout) << packages << " packages copied\n";
    return 0;
}
