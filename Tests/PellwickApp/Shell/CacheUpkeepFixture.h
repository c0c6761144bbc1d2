#pragma once

#include "ImportRoadFixture.h"
#include "ManualTimers.h"

#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>

#include <thread>

#include <Support/LibraryFixtures.h>

namespace Pellwick::Test {

/// An Ingest Cache with archived packages "<batch>/P<n>.DNG" (and "P<n>.xmp"), their records
/// in a library that goes through the fault-injecting file manager, and timers moved by hand.
struct CacheUpkeepFixture : ImportRoadFixture
{
    CacheUpkeepFixture()
    {
        timers = manualTimers.factory();
        library = LocalLibraryCache(libraryRoot(), files);
        for (const FileOperation operation :
             {FileOperation::RemoveItem, FileOperation::Write, FileOperation::OpenForAppending})
            files->beforeOperation(operation, {}, [this](const QString &) {
                if (std::this_thread::get_id() == mainThread)
                    ++mainThreadDiskWork;
            });
    }

    /// Counts deletions and library writes on the main thread (from now on).
    std::atomic<int> mainThreadDiskWork = 0;

    /// Writes package `n` (its sidecar named `sidecar`, none when empty) and its record.
    LocalLibraryItem addPackage(int n,
                                LibraryItemImportStatus status,
                                const QString &sidecar = QStringLiteral("P%1.xmp"),
                                const QString &batch = QStringLiteral("b"))
    {
        const QString folder = cacheRoot() + u'/' + batch + u'/';
        LocalLibraryItem item = minimalLibraryItem(n);
        item.importStatus = status;
        item.ingestCacheOriginalURL = folder + QStringLiteral("P%1.DNG").arg(n);
        const QByteArray raw = patternBytes(4096, quint32(n + 1));
        writeFile(*item.ingestCacheOriginalURL, raw);
        item.contentHash = referenceSha256(raw);
        if (!sidecar.isEmpty()) {
            item.ingestCacheSidecarURL
                = folder + (sidecar.contains(u'%') ? sidecar.arg(n) : sidecar);
            const QByteArray xmp = "<x:xmpmeta>" + QByteArray::number(n) + "</x:xmpmeta>";
            if (!QFile::exists(*item.ingestCacheSidecarURL))
                writeFile(*item.ingestCacheSidecarURL, xmp);
            item.ingestCacheSidecarContentHash
                = referenceSha256(readFile(*item.ingestCacheSidecarURL));
            if (status != LibraryItemImportStatus::LocalCacheReady) // archived with its sidecar
                item = item.replacingArchiveSidecar(lastPathComponent(*item.ingestCacheSidecarURL),
                                                    QFileInfo(*item.ingestCacheSidecarURL).size(),
                                                    item.ingestCacheSidecarContentHash);
        }
        if (!library.appendItems({item}))
            qFatal("the library refused a record");
        return item;
    }

    std::optional<LocalLibraryItem> stored(const QUuid &id) const
    {
        for (const LocalLibraryItem &item : storedRecords(library))
            if (item.id == id)
                return item;
        return std::nullopt;
    }

    qsizetype recordsNamed(const QString &filename) const
    {
        const QList<LocalLibraryItem> records = storedRecords(library);
        return std::count_if(records.cbegin(), records.cend(), [&](const LocalLibraryItem &item) {
            return item.originalFilename == filename;
        });
    }

    /// A move of the cache to "/elsewhere" has started and not been finished.
    void pendMove(LibraryShellViewModel &model) const
    {
        model.ingestCacheState().setPendingIngestCacheMigration(
            IngestCacheLocationStoring::PendingMigration{cacheRoot(),
                                                         QStringLiteral("/elsewhere")});
    }

    static Result<IngestCacheWorkflows::ArchivedCacheCleanup>
    cleanup(LibraryShellViewModel &model,
            std::optional<QList<LocalLibraryItem>> items = std::nullopt)
    {
        return QCoro::waitFor(
            model.ingestCacheWorkflows().cleanupArchivedCachePackages(std::move(items)));
    }

    ManualTimers manualTimers;
    const std::thread::id mainThread = std::this_thread::get_id();
};

} // namespace Pellwick::Test
