#include "ImportRoadFixture.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickCore/Ingest/Exiv2PhotoMetadataExtractor.h>
#include <PellwickCore/Ingest/IngestCache.h>

#include <QTest>
#include <QTimeZone>

#include <cerrno>

#include <Support/ContentHasherFakes.h>
#include <Support/LibraryFixtures.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray rawBytes = "raw bytes of the original";
const QByteArray sidecarBytes = "<x:xmpmeta/>";

} // namespace

class CachedLibraryItemTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recordFromTheCachedCopy_data();
    void recordFromTheCachedCopy();
    void importReviewOfRecordsReadsTheCacheNow();
};

struct RecordCase
{
    bool sidecar = true;
    bool copy = true;
    /// The copy's batch folder does not hold the file.
    bool otherBatch = false;
    bool unreadableSidecar = false;
    /// The RAW original is a DNG with a capture time, a position and a camera model.
    bool dng = false;
};

Q_DECLARE_METATYPE(RecordCase)

void CachedLibraryItemTests::recordFromTheCachedCopy_data()
{
    QTest::addColumn<RecordCase>("c");
    QTest::newRow("with sidecar and copy") << RecordCase{};
    QTest::newRow("without sidecar") << RecordCase{.sidecar = false};
    QTest::newRow("without copy") << RecordCase{.copy = false};
    QTest::newRow("file outside the copy's batch") << RecordCase{.otherBatch = true};
    QTest::newRow("unreadable sidecar") << RecordCase{.unreadableSidecar = true};
    QTest::newRow("DNG with capture metadata") << RecordCase{.dng = true};
}

void CachedLibraryItemTests::recordFromTheCachedCopy()
{
    QFETCH(RecordCase, c);
    ImportRoadFixture fixture;
    const QString batch = fixture.cacheRoot() + u"/2024/05/17-batch"_s;
    const QString raw = batch + u"/DCIM/IMG_0001.DNG"_s;
    const QString xmp = batch + u"/DCIM/IMG_0001.xmp"_s;
    if (c.dng)
        DngWriter::write(raw, {.width = 16, .height = 16, .embeddedPreview = false});
    else
        writeFile(raw, rawBytes);
    const QByteArray rawContent = readFile(raw);
    writeFile(xmp, sidecarBytes);
    fixture.metadataExtractor = std::make_shared<Exiv2PhotoMetadataExtractor>();
    if (c.unreadableSidecar)
        fixture.workflowHasher = std::make_shared<FailingContentHasher>(
            u".xmp"_s, FileSystemError{u"open"_s, xmp, EACCES});
    const ImportReviewItem item(
        u"EOS_DIGITAL"_s,
        raw,
        u"IMG_0001.DNG"_s,
        rawContent.size(),
        ImportReviewItemStatus::supported(),
        c.sidecar ? std::optional(ImportReviewSidecar{xmp, u"IMG_0001.xmp"_s, sidecarBytes.size()})
                  : std::nullopt,
        u"DCIM/IMG_0001.DNG"_s);
    const ImportSourceIdentity identity = ImportSourceIdentity::volume(u"UUID-1"_s);
    const IngestCacheCopy copy{u"EOS_DIGITAL"_s,
                               c.otherBatch ? fixture.cacheRoot() + u"/2024/05/17-other"_s : batch,
                               u"/media/EOS_DIGITAL"_s,
                               identity,
                               1,
                               rawContent.size(),
                               {}};

    const Date before = Date::now();
    const Result<LocalLibraryItem> made = fixture.library.ingestCacheRecord(
        item,
        c.copy ? &copy : nullptr,
        fixture.cacheRoot(),
        fixture.workflowHasher ? *fixture.workflowHasher : *fixture.contentHasher,
        *fixture.metadataExtractor);

    QCOMPARE(made.has_value(), !c.unreadableSidecar);
    if (!made) {
        QVERIFY(made.error().is<FileSystemError>());
        return;
    }
    const LocalLibraryItem &record = *made;
    const std::optional<QString> sidecarHash
        = c.sidecar ? std::optional(referenceSha256(sidecarBytes)) : std::nullopt;
    std::optional<SourceMediaEvidence> evidence;
    if (c.copy && !c.otherBatch)
        evidence
            = SourceMediaEvidence{u"/media/EOS_DIGITAL"_s,
                                  identity,
                                  u"DCIM/IMG_0001.DNG"_s,
                                  referenceSha256(rawContent),
                                  c.sidecar ? std::optional(u"DCIM/IMG_0001.xmp"_s) : std::nullopt,
                                  sidecarHash,
                                  SourceMediaSafety::Current};
    QVERIFY(!record.id.isNull());
    QVERIFY(record.importDate.secondsSinceReferenceDate >= before.secondsSinceReferenceDate);
    // An unreadable RAW original is all unknown, and so named.
    PhotoMetadata metadata;
    QString canonical = u"unknown-date_unknown-camera_img_0001_"_s;
    if (c.dng) {
        const std::optional<CaptureLocation> at = record.metadata.captureLocation.knownLocation();
        QVERIFY(at && qAbs(at->latitude - 48.858222) < 1e-5 && qAbs(at->longitude - 2.2945) < 1e-5);
        metadata = {CaptureTimeMetadata::known(Date::fromDateTime(
                        QDateTime(QDate(2024, 5, 17), QTime(10, 30, 15), QTimeZone::utc()))),
                    CaptureLocationMetadata::known(*at),
                    CameraModelMetadata::known(u"PW-1"_s)};
        canonical = u"20240517-103015_pw-1_img_0001_"_s;
    }
    const LocalLibraryItem expected{
        .id = record.id,
        .originalFilename = u"IMG_0001.DNG"_s,
        .canonicalFilename = canonical + referenceSha256(rawContent).left(12) + u".dng"_s,
        .contentHash = referenceSha256(rawContent),
        .archiveByteCount = rawContent.size() + (c.sidecar ? sidecarBytes.size() : 0),
        .archiveSidecarFilename = std::nullopt,
        .archiveSidecarByteCount = std::nullopt,
        .archiveSidecarContentHash = std::nullopt,
        .importDate = record.importDate,
        .importStatus = LibraryItemImportStatus::LocalCacheReady,
        .backendLibraryItemID = std::nullopt,
        .restoreStatus = std::nullopt,
        .restoreAttentionReason = std::nullopt,
        .ingestCacheOriginalURL = raw,
        .ingestCacheSidecarURL = c.sidecar ? std::optional(xmp) : std::nullopt,
        .ingestCacheSidecarContentHash = sidecarHash,
        .ingestSourceName = u"EOS_DIGITAL"_s,
        .sourceRelativePath = u"DCIM/IMG_0001.DNG"_s,
        .sourceMediaEvidence = evidence,
        .cacheRelativePath = u"2024/05/17-batch/DCIM/IMG_0001.DNG"_s,
        .metadata = metadata,
        .preview = LocalPreviewState::failed(u"Generated when Import starts"_s),
    };
    QCOMPARE(record, expected);
}

void CachedLibraryItemTests::importReviewOfRecordsReadsTheCacheNow()
{
    ImportRoadFixture fixture;
    const QString raw = fixture.cacheRoot() + u"/b/IMG_0001.DNG"_s;
    writeFile(raw, rawBytes + "grown");
    writeFile(fixture.cacheRoot() + u"/b/IMG_0001.xmp"_s, sidecarBytes);
    const auto model = fixture.make();
    LocalLibraryItem kept = minimalLibraryItem(1);
    kept.ingestCacheOriginalURL = raw;
    kept.ingestCacheSidecarURL = fixture.cacheRoot() + u"/b/IMG_0001.xmp"_s;
    kept.ingestSourceName = std::nullopt;
    LocalLibraryItem deleted = minimalLibraryItem(2);
    deleted.ingestCacheOriginalURL = fixture.cacheRoot() + u"/b/gone.DNG"_s;
    deleted.ingestSourceName = u"Card"_s;

    const ImportReview review = model->importWorkflows().importReview({kept, deleted});

    QCOMPARE(review.items.size(), 1);
    QCOMPARE(review.items[0].volumeName, u"Ingest Cache"_s);
    QCOMPARE(review.items[0].byteCount, rawBytes.size() + 5);
    QCOMPARE(review.items[0].sidecar->byteCount, sidecarBytes.size());
    QCOMPARE(review.volumes.size(), 2);
}

QTEST_GUILESS_MAIN(CachedLibraryItemTests)
#include "CachedLibraryItemTests.moc"
