// pellwick-bench-package-upload prepare RAW SIDECAR WORK
//     Stages the package RAW + SIDECAR in a Staging Area under WORK/staging with a small preview,
//     its library item in WORK/library and its first import record written, as an import does
//     before its upload.
// pellwick-bench-package-upload upload BASE_URL TOKEN WORK
//     Carries the staged package through `continueImport` (authorization, RAW and sidecar parts
//     with the record written after every part, completions, preview, finalization) against
//     the backend at BASE_URL with the production client and uploader; fails unless the package
//     ends as a verified backup. Prints "peak RSS: <N> MiB" to standard error when
//     PELLWICK_BENCH_REPORT_RSS is set.

#include "PeakRss.h"

#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/CurlPresignedURLUploader.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Import/VerifiedBackupImporter.h>

#include <QString>

#include <cstdio>

#include <Support/ImporterFakes.h>

using namespace Pellwick;

namespace {

int fail(const Error &error)
{
    std::fprintf(stderr, "%s\n", qPrintable(describe(error)));
    return 1;
}

int usage()
{
    std::fputs("usage: pellwick-bench-package-upload prepare RAW SIDECAR WORK\n"
               "       pellwick-bench-package-upload upload BASE_URL TOKEN WORK\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5)
        return usage();
    const QByteArray mode = argv[1];
    const QString work = QString::fromLocal8Bit(argv[4]);
    auto fileManager = std::make_shared<LocalFileManager>();
    auto hasher = std::make_shared<SHA256ContentHasher>();
    const LocalLibraryCache cache(work + QStringLiteral("/library"), fileManager);
    const StagingArea stagingArea(work + QStringLiteral("/staging"), fileManager, hasher);
    std::shared_ptr<const VerifiedBackupAPI> api;
    std::shared_ptr<const PresignedURLUploading> uploader;
    if (mode == "upload") {
        CurlFetch::initializeGlobally();
        api = std::make_shared<LibrarySessionClient>(QUrl(QString::fromLocal8Bit(argv[2])),
                                                     CurlFetch());
        uploader = std::make_shared<CurlPresignedURLUploader>(fileManager);
    } else if (mode != "prepare") {
        return usage();
    }
    const VerifiedBackupImporter importer(
        cache,
        stagingArea,
        std::make_shared<Test::FixedMetadataExtractor>(PhotoMetadata::unknown()),
        Test::StubPreviewGenerator::writing(QByteArray(24 * 1024, '\x5a')),
        hasher,
        api,
        uploader,
        std::make_shared<SystemImportClock>());

    if (mode == "prepare") {
        LocalLibraryItem cached;
        cached.id = QUuid::createUuid();
        cached.originalFilename = QStringLiteral("IMG_0001.CR3");
        cached.canonicalFilename = cached.originalFilename;
        cached.ingestCacheOriginalURL = QString::fromLocal8Bit(argv[2]);
        cached.ingestCacheSidecarURL = QString::fromLocal8Bit(argv[3]);
        const Result<ImportReviewItem> review = importer.cacheReviewItem(cached);
        if (!review)
            return fail(review.error());
        QSet<QString> used;
        const Result<PreparedBackup> prepared
            = importer.prepareBackup(*review, std::nullopt, used, std::nullopt);
        if (!prepared)
            return fail(prepared.error());
        if (Result<void> appended = cache.appendItems({prepared->item}); !appended)
            return fail(appended.error());
        if (Result<void> written = stagingArea.writeRecord(prepared->record); !written)
            return fail(written.error());
        return 0;
    }

    const Result<StagingRecoveryReport> report = stagingArea.readRecoverableRecords();
    if (!report)
        return fail(report.error());
    if (report->records.size() != 1) {
        std::fputs("expected one staged package\n", stderr);
        return 1;
    }
    const StagedImportRecord &record = report->records.first();
    const Result<LocalLibraryItem> item
        = importer.continueImport(record,
                                  stagingArea.stagedOriginalURL(record),
                                  stagingArea.stagedSidecarURL(record),
                                  QString::fromLocal8Bit(argv[3]),
                                  {},
                                  nullptr);
    if (!item)
        return fail(item.error());
    if (item->importStatus != LibraryItemImportStatus::VerifiedBackup) {
        std::fprintf(stderr, "the package ended as %s\n", qPrintable(toRaw(item->importStatus)));
        return 1;
    }
    Bench::reportPeakRss();
    return 0;
}
