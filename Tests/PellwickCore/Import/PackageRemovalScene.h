#pragma once

#include <PellwickCore/Import/IngestCachePackageRemover.h>
#include <PellwickCore/Support/UuidText.h>

#include <Support/LibraryFixtures.h>
#include <Support/TestFiles.h>

namespace Pellwick::Test {

/// An Ingest Cache, Staging Area and library under one root for removal crash tests: three
/// selected packages (one of them an old record sharing its RAW original with a kept ready
/// record) and two kept ones.
struct PackageRemovalScene
{
    QString root;

    QString cache() const { return root + QStringLiteral("/cache"); }

    QString staging() const { return root + QStringLiteral("/staging"); }

    QString library() const { return root + QStringLiteral("/library"); }

    /// Labels "selN" are removed, "keepN" stay.
    static QStringList labels()
    {
        return {QStringLiteral("sel1"),
                QStringLiteral("keep1"),
                QStringLiteral("sel2"),
                QStringLiteral("sel3"),
                QStringLiteral("keep2")};
    }

    static LocalLibraryItem record(int n)
    {
        LocalLibraryItem item = minimalLibraryItem(n);
        item.originalFilename = labels().at(n);
        item.importStatus = n == 3 ? LibraryItemImportStatus::NeedsAttention
                                   : LibraryItemImportStatus::LocalCacheReady;
        return item;
    }

    QList<LocalLibraryItem> records() const
    {
        QList<LocalLibraryItem> items;
        for (int n = 0; n < labels().size(); ++n) {
            LocalLibraryItem item = record(n);
            const QString label = item.originalFilename;
            // sel3 is the old record of keep2's file, overwritten in place.
            const QString base
                = cache() + QStringLiteral("/b/")
                  + (label == QStringLiteral("sel3") ? QStringLiteral("keep2") : label);
            item.ingestCacheOriginalURL = base + QStringLiteral(".CR3");
            item.ingestCacheSidecarURL = base + QStringLiteral(".xmp");
            items.append(item);
        }
        return items;
    }

    void write() const
    {
        for (const LocalLibraryItem &item : records()) {
            writeFile(*item.ingestCacheOriginalURL, patternBytes(300, 1));
            writeFile(*item.ingestCacheSidecarURL, patternBytes(30, 2));
            const QString folder = staging() + QLatin1Char('/') + uuidText(item.id);
            writeFile(folder + QStringLiteral("/") + item.originalFilename + QStringLiteral(".CR3"),
                      patternBytes(300, 1));
            writeFile(folder + QStringLiteral("/import-state.json"),
                      "{\"localLibraryItemID\":\"" + uuidText(item.id).toUtf8() + "\"}");
        }
        const LocalLibraryCache cache(library(), std::make_shared<LocalFileManager>());
        if (!cache.writeItems(records()))
            qFatal("cannot write the library");
    }

    static QSet<QUuid> selectedIDs() { return {record(0).id, record(2).id, record(3).id}; }
};

} // namespace Pellwick::Test
