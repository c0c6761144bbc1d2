#include "ImportRoadFixture.h"

#include <PellwickCore/Ingest/IngestCache.h>

#include <QTest>

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
}

void CachedLibraryItemTests::recordFromTheCachedCopy()
{
    QFETCH(RecordCase, c);
    ImportRoadFixture fixture;
    const QString batch = fixture.cacheRoot() + u"/2024/05/17-batch"_s;
    const QString raw = batch + u"/DCIM/IMG_0001.DNG"_s;
    const QString xmp = batch + u"/DCIM/IMG_0001.xmp"_s;
    writeFile(raw, rawBytes);
    writeFile(xmp, sidecarBytes);
    if (c.unreadableSidecar)
        fixture.workflowHasher = std::make_shared<FailingContentHasher>(
            u".xmp"_s, FileSystemError{u"open"_s, xmp, EACCES});
    const auto model = fixture.make();
    const ImportReviewItem item(
        u"EOS_DIGITAL"_s,
        raw,
        u"IMG_0001.DNG"_s,
        rawBytes.size(),
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
                               rawBytes.size(),
                               {}};

    const Date before = Date::now();
    const Result<LocalLibraryItem> made = model->cachedLibraryItem(item, c.copy ? &copy : nullptr);

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
                                  referenceSha256(rawBytes),
                                  c.sidecar ? std::optional(u"DCIM/IMG_0001.xmp"_s) : std::nullopt,
                                  sidecarHash,
                                  SourceMediaSafety::Current};
    QVERIFY(!record.id.isNull());
    QVERIFY(record.importDate.secondsSinceReferenceDate >= before.secondsSinceReferenceDate);
    const LocalLibraryItem expected{
        .id = record.id,
        .originalFilename = u"IMG_0001.DNG"_s,
        .canonicalFilename = u"IMG_0001.DNG"_s,
        .contentHash = referenceSha256(rawBytes),
        .archiveByteCount = rawBytes.size() + (c.sidecar ? sidecarBytes.size() : 0),
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
        .metadata = PhotoMetadata::unknown(),
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

    const ImportReview review = model->importReview({kept, deleted});

    QCOMPARE(review.items.size(), 1);
    QCOMPARE(review.items[0].volumeName, u"Ingest Cache"_s);
    QCOMPARE(review.items[0].byteCount, rawBytes.size() + 5);
    QCOMPARE(review.items[0].sidecar->byteCount, sidecarBytes.size());
    QCOMPARE(review.volumes.size(), 2);
}

QTEST_GUILESS_MAIN(CachedLibraryItemTests)
#include "CachedLibraryItemTests.moc"
