// pellwick-bench-cache-cleanup generate ROOT LIBRARY [COUNT]
//     Writes COUNT (default 200) archived packages (a 5 MiB RAW original and a 4 KiB sidecar each) to
//     ROOT/cache-original and a copy of the library in LIBRARY with their Verified Backup records
//     added to ROOT/library-original; the records name the packages below ROOT/cache.
// pellwick-bench-cache-cleanup run ROOT RUNS
//     RUNS times: puts fresh copies of both at ROOT/cache and ROOT/library, builds the shell view
//     model over them and times one cleanup pass over the packages' records (as an import hands
//     them over) up to the published refresh of the visible items. Prints the mean in seconds;
//     fails unless the pass removed every package.

#include <PellwickApp/Shell/ShellViewModelFixture.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>

#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;

namespace {

constexpr int defaultPackageCount = 200;

bool copyFolder(const QString &from, const QString &to)
{
    return QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), to}) == 0
           && QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), from, to}) == 0;
}

int generate(const QString &root, const QString &libraryFolder, int packageCount)
{
    const QString library = root + QStringLiteral("/library-original");
    if (!copyFolder(libraryFolder, library))
        return 1;
    QList<LocalLibraryItem> records;
    for (int n = 0; n < packageCount; ++n) {
        const QString name = QStringLiteral("/2026/CARD/P%1.").arg(n, 3, 10, QLatin1Char('0'));
        const QByteArray raw = patternBytes(qint64(5) * 1024 * 1024, quint32(n));
        const QByteArray sidecar = patternBytes(4096, quint32(n) + 1000);
        writeFile(root + QStringLiteral("/cache-original") + name + QStringLiteral("DNG"), raw);
        writeFile(root + QStringLiteral("/cache-original") + name + QStringLiteral("xmp"), sidecar);
        LocalLibraryItem item;
        item.id = QUuid::createUuid();
        item.originalFilename = QStringLiteral("P%1.DNG").arg(n, 3, 10, QLatin1Char('0'));
        item.canonicalFilename = item.originalFilename;
        item.contentHash = SHA256ContentHasher::contentHash(raw);
        // The archive's facts, as the import that archived the package records them.
        item.archiveByteCount = raw.size() + sidecar.size();
        item.archiveSidecarFilename = QStringLiteral("P%1.xmp").arg(n, 3, 10, QLatin1Char('0'));
        item.archiveSidecarByteCount = sidecar.size();
        item.archiveSidecarContentHash = SHA256ContentHasher::contentHash(sidecar);
        item.importStatus = LibraryItemImportStatus::VerifiedBackup;
        item.ingestCacheOriginalURL
            = root + QStringLiteral("/cache") + name + QStringLiteral("DNG");
        item.ingestCacheSidecarURL = root + QStringLiteral("/cache") + name + QStringLiteral("xmp");
        item.ingestCacheSidecarContentHash = SHA256ContentHasher::contentHash(sidecar);
        item.preview = LocalPreviewState::failed(QStringLiteral("Generated when Import starts"));
        records.append(item);
    }
    return LocalLibraryCache(library, std::make_shared<LocalFileManager>()).appendItems(records)
               ? 0
               : 1;
}

int run(const QString &root, int runs)
{
    double seconds = 0;
    for (int run = 0; run < runs; ++run) {
        if (!copyFolder(root + QStringLiteral("/cache-original"), root + QStringLiteral("/cache"))
            || !copyFolder(root + QStringLiteral("/library-original"),
                           root + QStringLiteral("/library")))
            return 1;
        ShellViewModelFixture fixture(root);
        fixture.ingestCacheRoot = root + QStringLiteral("/cache");
        fixture.library = LocalLibraryCache(root + QStringLiteral("/library"),
                                            std::make_shared<LocalFileManager>());
        const auto model = fixture.make();
        // The records of the packages just archived, as an import hands them over.
        QList<LocalLibraryItem> archived;
        for (const LocalLibraryItem &item :
             fixture.library.readItems().value_or(QList<LocalLibraryItem>()))
            if (item.ingestCacheOriginalURL
                && item.ingestCacheOriginalURL->startsWith(*fixture.ingestCacheRoot + u'/'))
                archived.append(item);
        const std::optional<QList<LocalLibraryItem>> packages = archived;
        QElapsedTimer timer;
        timer.start();
        const Result<IngestCacheWorkflows::ArchivedCacheCleanup> cleanup
            = QCoro::waitFor(model->ingestCacheWorkflows().cleanupArchivedCachePackages(packages));
        model->libraryWorkflows().refreshVisibleLocalLibraryItems(true);
        seconds += static_cast<double>(timer.nsecsElapsed()) / 1e9;
        if (!cleanup || archived.isEmpty() || cleanup->removedItemIDs.size() != archived.size()) {
            std::fputs("the cleanup did not remove every package\n", stderr);
            return 1;
        }
    }
    std::printf("%.6f\n", seconds / runs);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if ((arguments.size() == 4 || arguments.size() == 5)
        && arguments[1] == QLatin1String("generate")) {
        const int count = arguments.size() == 5 ? arguments[4].toInt() : defaultPackageCount;
        return count > 0 ? generate(arguments[2], arguments[3], count) : 2;
    }
    if (arguments.size() == 4 && arguments[1] == QLatin1String("run"))
        return run(arguments[2], arguments[3].toInt());
    std::fputs(
        "usage: pellwick-bench-cache-cleanup generate ROOT LIBRARY [COUNT] | run ROOT RUNS\n",
        stderr);
    return 2;
}
