#pragma once

// The import that ImporterCrashChild runs and ImporterCrashTests kills: three cached packages
// (several parts with a sidecar, one part without, exactly two parts with a sidecar) carried to
// the test backend through the production client and uploader.

#include <PellwickCore/Backend/CurlFetch.h>
#include <PellwickCore/Backend/CurlPresignedURLUploader.h>
#include <PellwickCore/Backend/LibrarySessionClient.h>
#include <PellwickCore/Import/VerifiedBackupImporter.h>

#include <QUrl>

#include <Support/ImporterFakes.h>
#include <Support/TestFiles.h>

namespace Pellwick::Test {

constexpr qint64 crashPartSize = 1000;

struct CrashPackage
{
    QString name;
    qint64 rawSize;
    qint64 sidecarSize; ///< 0: none
};

inline QList<CrashPackage> crashPackages()
{
    return {{QStringLiteral("IMG_0001"), 3500, 300},
            {QStringLiteral("IMG_0002"), 800, 0},
            {QStringLiteral("IMG_0003"), 2 * crashPartSize, 250}};
}

inline QString crashLibraryRoot(const QString &root)
{
    return root + QStringLiteral("/library");
}

inline QString crashStagingRoot(const QString &root)
{
    return root + QStringLiteral("/staging");
}

inline QByteArray crashRawBytes(int index)
{
    return patternBytes(crashPackages().at(index).rawSize, 100 + index);
}

inline QByteArray crashSidecarBytes(int index)
{
    return patternBytes(crashPackages().at(index).sidecarSize, 200 + index);
}

/// Writes the cached packages and their library items under `root`.
inline void writeCrashFixture(const QString &root)
{
    QList<LocalLibraryItem> items;
    const QList<CrashPackage> packages = crashPackages();
    for (qsizetype i = 0; i < packages.size(); ++i) {
        const QString folder = root + QStringLiteral("/cache/2026-05-01/CARD/");
        LocalLibraryItem item;
        item.id = QUuid::createUuid();
        item.originalFilename = packages.at(i).name + QStringLiteral(".CR3");
        item.canonicalFilename = packages.at(i).name.toLower() + QStringLiteral(".cr3");
        item.contentHash = referenceSha256(crashRawBytes(int(i)));
        item.ingestCacheOriginalURL = folder + item.originalFilename;
        writeFile(*item.ingestCacheOriginalURL, crashRawBytes(int(i)));
        if (packages.at(i).sidecarSize > 0) {
            item.ingestCacheSidecarURL = folder + packages.at(i).name + QStringLiteral(".xmp");
            writeFile(*item.ingestCacheSidecarURL, crashSidecarBytes(int(i)));
        }
        item.ingestSourceName = QStringLiteral("CARD");
        item.preview = LocalPreviewState::failed(QStringLiteral("Generated when Import starts"));
        items.append(item);
    }
    (void) LocalLibraryCache(crashLibraryRoot(root), std::make_shared<LocalFileManager>())
        .writeItems(items);
}

inline VerifiedBackupImporter crashImporter(const QString &root,
                                            std::shared_ptr<const FileManager> fileManager,
                                            const QString &backendURL)
{
    return VerifiedBackupImporter(
        LocalLibraryCache(crashLibraryRoot(root), fileManager),
        StagingArea(crashStagingRoot(root), fileManager, std::make_shared<SHA256ContentHasher>()),
        std::make_shared<FixedMetadataExtractor>(PhotoMetadata()),
        StubPreviewGenerator::writing("\xFF\xD8 small preview \xFF\xD9"),
        std::make_shared<SHA256ContentHasher>(),
        std::make_shared<LibrarySessionClient>(QUrl(backendURL), CurlFetch()),
        std::make_shared<CurlPresignedURLUploader>(fileManager),
        std::make_shared<SystemImportClock>());
}

/// The items of the library still waiting for their import.
inline Result<QList<LocalLibraryItem>> readyItems(const VerifiedBackupImporter &importer)
{
    Result<QList<LocalLibraryItem>> items = importer.cache().readItems();
    PELLWICK_TRY(items);
    QList<LocalLibraryItem> ready;
    for (const LocalLibraryItem &item : *items)
        if (item.importStatus == LibraryItemImportStatus::LocalCacheReady)
            ready.append(item);
    return ready;
}

/// The first import of the application's road.
inline Result<void> runCrashImport(const VerifiedBackupImporter &importer, const QString &token)
{
    Result<QList<LocalLibraryItem>> items = readyItems(importer);
    PELLWICK_TRY(items);
    PELLWICK_TRY(
        importer.importVerifiedBackups(*items, token, std::nullopt, {}, {}, QUuid::createUuid()));
    return {};
}

/// What the application does after the next sign-in: recovery, then the items still waiting.
inline Result<void> runCrashRecovery(const VerifiedBackupImporter &importer, const QString &token)
{
    PELLWICK_TRY(importer.resumeInterruptedImports(token, {}, {}, QUuid::createUuid()));
    return runCrashImport(importer, token);
}

} // namespace Pellwick::Test
