#pragma once

// Cached packages (three unless told) in an Ingest Cache with their library items, an empty Staging Area, and
// an importer over scripted backend and uploader fakes logging into one event log.

#include "ImportFixtures.h"

#include <PellwickCore/Import/VerifiedBackupImporter.h>

#include <QDir>
#include <QTemporaryDir>

#include <Support/FaultInjectingFileManager.h>
#include <Support/ImporterFakes.h>
#include <Support/TestFiles.h>

namespace Pellwick::Test {

struct ImporterRunScene
{
    explicit ImporterRunScene(int count = 3)
    {
        for (int n = 1; n <= count; ++n) {
            const QString folder = dir.filePath(QStringLiteral("cache/2026-05-01/CARD"));
            const QByteArray raw = patternBytes(1500 + n * 100, n);
            LocalLibraryItem item;
            item.id = QUuid::createUuid();
            item.originalFilename = QStringLiteral("IMG_000%1.CR3").arg(n);
            item.canonicalFilename = QStringLiteral("img_000%1.cr3").arg(n);
            item.contentHash = referenceSha256(raw);
            item.ingestCacheOriginalURL = folder + u'/' + item.originalFilename;
            writeFile(*item.ingestCacheOriginalURL, raw);
            if (n != 2) {
                item.ingestCacheSidecarURL = folder + QStringLiteral("/IMG_000%1.xmp").arg(n);
                writeFile(*item.ingestCacheSidecarURL, patternBytes(200, 10 + n));
            }
            item.ingestSourceName = QStringLiteral("CARD");
            item.preview
                = LocalPreviewState::failed(QStringLiteral("Generated when Import starts"));
            items.append(item);
        }
        (void) cache().appendItems(items);
        for (int n = 1; n <= count; ++n)
            scriptPackage(n);
        api->completions = {Result<void>()};
        for (int n = 1; n <= count; ++n)
            api->finalizations.append(VerifiedBackupFinalization{
                40 + n, LibraryItemImportStatus::VerifiedBackup, std::nullopt});
        fileManager->beforeOperation(
            FileOperation::ReplaceItem, QStringLiteral("import-state"), [this](const QString &) {
                log->add(QStringLiteral("record"));
            });
    }

    /// The authorization of package `n`, with upload ids of its own.
    void scriptPackage(int n)
    {
        VerifiedBackupUploadAuthorization a;
        a.libraryItemID = 40 + n;
        a.rawOriginalUpload = multipartUpload(QStringLiteral("raw-%1").arg(n), 1000, {1, 2});
        if (n != 2)
            a.sidecarUpload = multipartUpload(QStringLiteral("xmp-%1").arg(n), 1000, {1});
        a.previewUpload = PresignedPreviewUpload{signedURL(QStringLiteral("preview-%1").arg(n))};
        api->decisions.append(
            VerifiedBackupUploadDecision{VerifiedBackupUploadDecision::Upload{a}});
    }

    QString libraryRoot() const { return dir.filePath(QStringLiteral("library")); }

    QString stagingRoot() const { return dir.filePath(QStringLiteral("staging")); }

    StagingArea stagingArea() const
    {
        return StagingArea(stagingRoot(), fileManager, std::make_shared<SHA256ContentHasher>());
    }

    LocalLibraryCache cache() const { return LocalLibraryCache(libraryRoot(), fileManager); }

    VerifiedBackupImporter importer() const
    {
        return VerifiedBackupImporter(cache(),
                                      stagingArea(),
                                      metadata,
                                      previews,
                                      std::make_shared<SHA256ContentHasher>(),
                                      api,
                                      uploader,
                                      std::make_shared<FixedImportClock>(Date{}));
    }

    StatusDidChange callback()
    {
        return [this] { log->add(QStringLiteral("statusDidChange")); };
    }

    TransferProgressSink rowSink()
    {
        return [this](const TransferProgress &row) {
            rows.append(row);
            log->add(QStringLiteral("row ") + toRaw(row.phase));
        };
    }

    LocalLibraryItem storedItem(const QUuid &id) const
    {
        const Result<QList<LocalLibraryItem>> stored = cache().readItems();
        for (const LocalLibraryItem &item : stored.value_or(QList<LocalLibraryItem>()))
            if (item.id == id)
                return item;
        return {};
    }

    QStringList stagedFolders() const
    {
        return QDir(stagingRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    QList<LocalLibraryItem> items;
    QList<TransferProgress> rows;
    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    std::shared_ptr<FaultInjectingFileManager> fileManager
        = std::make_shared<FaultInjectingFileManager>();
    std::shared_ptr<ScriptedVerifiedBackupAPI> api
        = std::make_shared<ScriptedVerifiedBackupAPI>(log);
    std::shared_ptr<RecordingUploader> uploader = std::make_shared<RecordingUploader>(log);
    std::shared_ptr<const PreviewGenerating> previews
        = StubPreviewGenerator::writing("\xFF\xD8 preview \xFF\xD9");
    std::shared_ptr<const PhotoMetadataExtracting> metadata
        = std::make_shared<FixedMetadataExtractor>(PhotoMetadata());
};

} // namespace Pellwick::Test
