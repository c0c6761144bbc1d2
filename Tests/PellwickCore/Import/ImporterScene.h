#pragma once

// A staged package with its written record, its library item in a real store, and an importer
// over scripted backend and uploader fakes that log every call in one event log.

#include "ImportFixtures.h"

#include <PellwickCore/Import/VerifiedBackupImporter.h>

#include <QDir>
#include <QTemporaryDir>

#include <Support/FaultInjectingFileManager.h>
#include <Support/ImporterFakes.h>
#include <Support/TestFiles.h>

namespace Pellwick::Test {

struct ImporterScene
{
    /// A package of `rawSize` RAW bytes and `sidecarSize` sidecar bytes (none when 0, unless
    /// `emptySidecar`).
    explicit ImporterScene(qint64 rawSize = 2500,
                           qint64 sidecarSize = 300,
                           bool emptySidecar = false)
    {
        const QString card = dir.filePath(QStringLiteral("card"));
        rawBytes = patternBytes(rawSize, 7);
        writeFile(card + QStringLiteral("/IMG_0001.CR3"), rawBytes);
        std::optional<ImportReviewSidecar> sidecar;
        if (sidecarSize > 0 || emptySidecar) {
            sidecarBytes = patternBytes(sidecarSize, 8);
            writeFile(card + QStringLiteral("/IMG_0001.xmp"), sidecarBytes);
            sidecar = ImportReviewSidecar{card + QStringLiteral("/IMG_0001.xmp"),
                                          QStringLiteral("IMG_0001.xmp"),
                                          sidecarSize};
        }
        const ImportReviewItem item(QStringLiteral("CARD"),
                                    card + QStringLiteral("/IMG_0001.CR3"),
                                    QStringLiteral("IMG_0001.CR3"),
                                    rawSize,
                                    ImportReviewItemStatus::supported(),
                                    sidecar,
                                    std::nullopt);
        staged = *stagingArea().stage(item);
        const QString folder = staged.relativePath.section(QLatin1Char('/'), 0, 0);
        record = preparedRecord(folder);
        record.byteCount = rawSize;
        record.contentHash = referenceSha256(rawBytes);
        if (sidecar) {
            record.sidecarByteCount = sidecarSize;
            record.sidecarContentHash = referenceSha256(sidecarBytes);
        } else {
            record.sidecarFilename.reset();
            record.sidecarContentHash.reset();
            record.sidecarByteCount = 0;
            record.stagedSidecarRelativePath.reset();
        }
        record.previewByteCount = previewBytes.size();
        writeFile(libraryRoot() + QStringLiteral("/previews/IMG_0001.CR3.jpg"), previewBytes);

        item0.id = record.localLibraryItemID;
        item0.originalFilename = record.originalFilename;
        item0.canonicalFilename = record.canonicalFilename;
        item0.contentHash = record.contentHash;
        item0.preview = LocalPreviewState::available(QStringLiteral("previews/IMG_0001.CR3.jpg"));
        (void) cache().appendItems({item0});
        (void) stagingArea().writeRecord(record);
        // Record and library writes join the log from here on.
        fileManager->beforeOperation(
            FileOperation::ReplaceItem, QStringLiteral("import-state"), [this](const QString &) {
                log->add(QStringLiteral("record"));
            });
        fileManager->beforeOperation(
            FileOperation::Write, QStringLiteral("library-items"), [this](const QString &) {
                log->add(QStringLiteral("library"));
            });
    }

    QString libraryRoot() const { return dir.filePath(QStringLiteral("library")); }

    StagingArea stagingArea() const
    {
        return StagingArea(dir.filePath(QStringLiteral("staging")),
                           fileManager,
                           std::make_shared<SHA256ContentHasher>());
    }

    LocalLibraryCache cache() const { return LocalLibraryCache(libraryRoot(), fileManager); }

    VerifiedBackupImporter importer() const
    {
        return VerifiedBackupImporter(cache(),
                                      stagingArea(),
                                      std::make_shared<FixedMetadataExtractor>(PhotoMetadata()),
                                      StubPreviewGenerator::writing(previewBytes),
                                      std::make_shared<SHA256ContentHasher>(),
                                      api,
                                      uploader,
                                      std::make_shared<FixedImportClock>(Date{}));
    }

    /// The record as it is on disk now.
    StagedImportRecord storedRecord() const
    {
        const Result<StagingRecoveryReport> report = stagingArea().readRecoverableRecords();
        return report && !report->records.isEmpty() ? report->records.first()
                                                    : StagedImportRecord();
    }

    LocalLibraryItem storedItem() const
    {
        const Result<QList<LocalLibraryItem>> items = cache().readItems();
        return items && !items->isEmpty() ? items->first() : LocalLibraryItem();
    }

    StatusDidChange callback()
    {
        return [this] { log->add(QStringLiteral("statusDidChange")); };
    }

    /// An authorization of the RAW original in `partSize` parts listed in `order`, and of the
    /// sidecar in one part when the package has one.
    VerifiedBackupUploadAuthorization authorizationFor(qint64 partSize, QList<qint64> order) const
    {
        VerifiedBackupUploadAuthorization a;
        a.libraryItemID = 41;
        a.rawOriginalUpload = multipartUpload(QStringLiteral("raw"), partSize, order);
        if (record.sidecarFilename)
            a.sidecarUpload = multipartUpload(QStringLiteral("xmp"), 1000, {1});
        a.previewUpload = PresignedPreviewUpload{signedURL(QStringLiteral("preview"))};
        return a;
    }

    QTemporaryDir dir;
    QByteArray rawBytes;
    QByteArray sidecarBytes;
    QByteArray previewBytes = "\xFF\xD8 preview \xFF\xD9";
    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    std::shared_ptr<FaultInjectingFileManager> fileManager
        = std::make_shared<FaultInjectingFileManager>();
    std::shared_ptr<ScriptedVerifiedBackupAPI> api
        = std::make_shared<ScriptedVerifiedBackupAPI>(log);
    std::shared_ptr<RecordingUploader> uploader = std::make_shared<RecordingUploader>(log);
    StagedRawOriginal staged;
    StagedImportRecord record;
    LocalLibraryItem item0;
};

} // namespace Pellwick::Test
