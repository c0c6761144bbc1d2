#include <PellwickCore/Library/LocalLibraryCache.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <cerrno>

#include <Support/ContentHasherFakes.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/ImporterFakes.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

Q_DECLARE_METATYPE(Pellwick::IngestCacheReconciliation)

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// What every file of a scenario's cache tells of its capture.
const PhotoMetadata capture{CaptureTimeMetadata::known(Date::fromDateTime(QDateTime(
                                QDate(2024, 5, 17), QTime(10, 30, 15), QTimeZone::utc()))),
                            CaptureLocationMetadata::unknown(),
                            CameraModelMetadata::known(QStringLiteral("Cam Z"))};
const FixedMetadataExtractor captureMetadata{capture};

/// The bytes of a RAW original or sidecar numbered `seed` in a scenario.
QByteArray rawBytes(int seed)
{
    return patternBytes(4096 + seed, static_cast<quint32>(seed));
}

QByteArray sidecarBytes(int seed)
{
    return patternBytes(200 + seed, static_cast<quint32>(1000 + seed));
}

} // namespace

/// A scenario: an Ingest Cache folder whose files are written from short layouts, library records
/// written from layouts, and results summarised as text.
///
/// A cache file is "path=seed": ".CR3" files are RAW originals (paired with the ".xmp" of the same
/// stem when there is one), a lone ".xmp" is an unpaired sidecar and ".JPG" an excluded target.
/// "path=seed gone" is listed by the review and deleted before the reconciliation.
/// A record is "label status seed path [sidecarPath=seed] [archive=name:seed|partial=name]
/// [id=N] [link]", path "-" for none, "link" naming the files through a symbolic link to the
/// cache. A summarised record is "label:status:path:sidecarPath=seed", new
/// records labelled "+<filename>".
class IngestCacheReconciliationTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void reconcile_data();
    void reconcile();
    void anotherWriterMeanwhileWritesNothing();
    void hashingFailureWritesNothing_data();
    void hashingFailureWritesNothing();
    void eachFileIsHashedOnce();
    void packageTheScanCouldNotSeeStays_data();
    void packageTheScanCouldNotSeeStays();

private:
    LocalLibraryCache store(std::shared_ptr<const FileManager> fileManager
                            = std::make_shared<LocalFileManager>()) const;
    void writeCache(const QStringList &files) const;
    ImportReview review() const;
    QList<LocalLibraryItem> records(const QStringList &layouts) const;
    QStringList summary(const QList<LocalLibraryItem> &items) const;
    QByteArray storedBytes() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_cache;
    QString m_library;
};

void IngestCacheReconciliationTests::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_cache = m_dir->filePath(QStringLiteral("cache"));
    m_library = m_dir->filePath(QStringLiteral("library"));
    QVERIFY(QDir().mkpath(m_cache));
    QVERIFY(QFile::link(m_cache, m_dir->filePath(QStringLiteral("link"))));
}

LocalLibraryCache
IngestCacheReconciliationTests::store(std::shared_ptr<const FileManager> fileManager) const
{
    return LocalLibraryCache(m_library, std::move(fileManager));
}

void IngestCacheReconciliationTests::writeCache(const QStringList &files) const
{
    for (const QString &file : files) {
        const QStringList parts = file.split(QLatin1Char('='));
        const int seed = parts.at(1).toInt();
        writeFile(m_cache + QLatin1Char('/') + parts.at(0),
                  parts.at(0).endsWith(QStringLiteral(".xmp")) ? sidecarBytes(seed)
                                                               : rawBytes(seed));
    }
}

ImportReview IngestCacheReconciliationTests::review() const
{
    ImportReview review;
    review.volumes.append(ImportScanVolume{QStringLiteral("Ingest Cache"), m_cache, std::nullopt});
    const QMap<QString, QString> files = fileManifest(m_cache); // sorted by relative path
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString relative = it.key();
        const QString url = m_cache + QLatin1Char('/') + relative;
        const QString name = lastPathComponent(relative);
        const qint64 size = QFileInfo(url).size();
        const QString stem = relative.left(relative.lastIndexOf(QLatin1Char('.')));
        if (relative.endsWith(QStringLiteral(".CR3"))) {
            std::optional<ImportReviewSidecar> sidecar;
            if (files.contains(stem + QStringLiteral(".xmp"))) {
                const QString sidecarURL
                    = m_cache + QLatin1Char('/') + stem + QStringLiteral(".xmp");
                sidecar = ImportReviewSidecar{
                    sidecarURL, lastPathComponent(sidecarURL), QFileInfo(sidecarURL).size()};
            }
            review.items.append(ImportReviewItem(QStringLiteral("Ingest Cache"),
                                                 url,
                                                 name,
                                                 size,
                                                 ImportReviewItemStatus::supported(),
                                                 sidecar,
                                                 relative));
        } else if (relative.endsWith(QStringLiteral(".JPG"))) {
            review.items.append(
                ImportReviewItem(QStringLiteral("Ingest Cache"),
                                 url,
                                 name,
                                 size,
                                 ImportReviewItemStatus::unsupported(
                                     ImportReviewUnsupportedReason::ExcludedBackupTarget),
                                 std::nullopt,
                                 relative));
        } else if (!files.contains(stem + QStringLiteral(".CR3"))) {
            review.items.append(ImportReviewItem(
                QStringLiteral("Ingest Cache"),
                url,
                name,
                size,
                ImportReviewItemStatus::unsupported(ImportReviewUnsupportedReason::UnpairedSidecar),
                std::nullopt,
                std::nullopt));
        }
    }
    return review;
}

QList<LocalLibraryItem> IngestCacheReconciliationTests::records(const QStringList &layouts) const
{
    QList<LocalLibraryItem> items;
    for (qsizetype i = 0; i < layouts.size(); ++i) {
        const QStringList words = layouts.at(i).split(QLatin1Char(' '));
        LocalLibraryItem item = minimalLibraryItem(static_cast<int>(i));
        item.id = QUuid(static_cast<uint>(16 * (i + 1)), 0, 0x4000, 0x80, 0, 0, 0, 0, 0, 0, 0);
        item.originalFilename = words.at(0);
        item.importStatus = *libraryItemImportStatusFromRaw(words.at(1));
        item.contentHash = referenceSha256(rawBytes(words.at(2).toInt()));
        item.preview = LocalPreviewState::available(words.at(0) + QStringLiteral(".jpg"));
        if (words.at(3) != QStringLiteral("-")) {
            item.ingestCacheOriginalURL = m_cache + QLatin1Char('/') + words.at(3);
            item.cacheRelativePath = words.at(3);
        }
        for (const QString &word : words.mid(4)) {
            const QString key = word.section(QLatin1Char('='), 0, 0);
            const QString value = word.section(QLatin1Char('='), 1);
            if (key == QStringLiteral("archive")) {
                const int seed = value.section(QLatin1Char(':'), 1).toInt();
                item.archiveSidecarFilename = value.section(QLatin1Char(':'), 0, 0);
                item.archiveSidecarByteCount = sidecarBytes(seed).size();
                item.archiveSidecarContentHash = referenceSha256(sidecarBytes(seed));
            } else if (key == QStringLiteral("partial")) {
                item.archiveSidecarFilename = value;
            } else if (key == QStringLiteral("found")) {
                item.preview = LocalPreviewState::discoveredInIngestCache();
            } else if (key == QStringLiteral("id")) {
                item.id = QUuid(value.toUInt(), 0, 0x4000, 0x80, 0, 0, 0, 0, 0, 0, 0);
            } else if (key == QStringLiteral("link")) {
                item = item.relocatingIngestCacheURLs(
                    m_cache, m_dir->filePath(QStringLiteral("link")), LocalFileManager());
            } else {
                item.ingestCacheSidecarURL = m_cache + QLatin1Char('/') + key;
                item.ingestCacheSidecarContentHash = referenceSha256(sidecarBytes(value.toInt()));
            }
        }
        items.append(item);
    }
    return items;
}

QStringList IngestCacheReconciliationTests::summary(const QList<LocalLibraryItem> &items) const
{
    const auto relative = [&](const std::optional<QString> &url) {
        return url ? QDir(m_cache).relativeFilePath(*url) : QStringLiteral("-");
    };
    QStringList lines;
    for (const LocalLibraryItem &item : items) {
        const bool discovered
            = item.preview
              == LocalPreviewState::failed(QStringLiteral("Discovered in Ingest Cache"));
        QString sidecar = relative(item.ingestCacheSidecarURL);
        for (int seed = 0; seed < 100 && item.ingestCacheSidecarContentHash; ++seed) {
            if (referenceSha256(sidecarBytes(seed)) == *item.ingestCacheSidecarContentHash)
                sidecar += QLatin1Char('=') + QString::number(seed);
        }
        lines.append(
            QStringList{(discovered ? QStringLiteral("+") : QString()) + item.originalFilename,
                        toRaw(item.importStatus),
                        relative(item.ingestCacheOriginalURL),
                        sidecar}
                .join(QLatin1Char(':')));
    }
    return lines;
}

QByteArray IngestCacheReconciliationTests::storedBytes() const
{
    QByteArray bytes;
    for (const QString &name :
         {LocalLibraryCache::libraryFileName(), LocalLibraryCache::journalFileName()}) {
        const QString path = m_library + QLatin1Char('/') + name;
        if (QFileInfo::exists(path))
            bytes += readFile(path);
    }
    return bytes;
}

void IngestCacheReconciliationTests::reconcile_data()
{
    QTest::addColumn<QStringList>("cacheFiles");
    QTest::addColumn<QStringList>("recordSpecs");
    QTest::addColumn<QStringList>("blocked");
    QTest::addColumn<IngestCacheReconciliation>("expected");
    QTest::addColumn<QStringList>("expectedRecords");

    const IngestCacheReconciliation none{0, 0, true};
    QTest::newRow("files and records agree")
        << texts({"b/1.CR3=1", "b/1.xmp=11", "b/2.CR3=2"})
        << texts(
               {"r1 staging 1 b/1.CR3 b/1.xmp=11", "r2 staging 2 b/2.CR3", "v verifiedBackup 3 -"})
        << QStringList{} << none
        << texts({"r1:staging:b/1.CR3:b/1.xmp=11", "r2:staging:b/2.CR3:-", "v:verifiedBackup:-:-"});
    QTest::newRow("package moved to another folder")
        << texts({"c/d/1.CR3=1", "c/d/1.xmp=11"})
        << texts({"r1 uploading 5 -", "r2 staging 1 b/1.CR3 b/1.xmp=11"}) << QStringList{} << none
        << texts({"r1:uploading:-:-", "r2:staging:c/d/1.CR3:c/d/1.xmp=11"});
    QTest::newRow("file overwritten in place")
        << texts({"b/1.CR3=5"}) << texts({"r1 staging 1 b/1.CR3"}) << QStringList{}
        << IngestCacheReconciliation{1, 1, true}
        << texts({"r1:needsAttention:b/1.CR3:-", "+1.CR3:staging:b/1.CR3:-"});
    QTest::newRow("deleted package drops only a ready record")
        << texts({"b/5.CR3=5"})
        << texts({"r1 staging 1 b/1.CR3",
                  "r2 uploading 2 b/2.CR3",
                  "r3 needsAttention 3 b/3.CR3",
                  "r4 verifiedBackup 4 b/4.CR3",
                  "r5 staging 5 b/5.CR3"})
        << QStringList{} << none
        << texts({"r2:uploading:b/2.CR3:-",
                  "r3:needsAttention:b/3.CR3:-",
                  "r4:verifiedBackup:b/4.CR3:-",
                  "r5:staging:b/5.CR3:-"});
    QTest::newRow("a cache holding no ready record's package is away, not emptied")
        << texts({"n/9.CR3=9"}) << texts({"r1 staging 1 b/1.CR3", "r2 staging 2 c/2.CR3"})
        << QStringList{} << IngestCacheReconciliation{0, 0, true, true}
        << texts({"r1:staging:b/1.CR3:-", "r2:staging:c/2.CR3:-"});
    QTest::newRow("sidecar edited in place: the edited pair is a photo of its own")
        << texts({"b/1.CR3=1", "b/1.xmp=12"}) << texts({"r1 staging 1 b/1.CR3 b/1.xmp=11"})
        << QStringList{} << IngestCacheReconciliation{1, 1, true}
        << texts({"r1:needsAttention:b/1.CR3:-", "+1.CR3:staging:b/1.CR3:b/1.xmp=12"});
    QTest::newRow("sidecar edited beside a record found in the cache: it takes the edit")
        << texts({"b/1.CR3=1", "b/1.xmp=12"}) << texts({"r1 staging 1 b/1.CR3 b/1.xmp=11 found"})
        << QStringList{} << none << texts({"+r1:staging:b/1.CR3:b/1.xmp=12"});
    QTest::newRow("record with sidecar, package without")
        << texts({"b/1.CR3=1"}) << texts({"r1 staging 1 b/1.CR3 b/1.xmp=11"}) << QStringList{}
        << IngestCacheReconciliation{0, 1, true} << texts({"r1:needsAttention:b/1.CR3:-"});
    QTest::newRow("blocked folder and its prefix-sharing sibling")
        << texts({"b/1.CR3=1", "bb/2.CR3=2", "b/x/3.CR3=3"}) << QStringList{} << texts({"b"})
        << IngestCacheReconciliation{3, 0, true}
        << texts({"+1.CR3:needsAttention:b/1.CR3:-",
                  "+3.CR3:needsAttention:b/x/3.CR3:-",
                  "+2.CR3:staging:bb/2.CR3:-"});
    QTest::newRow("new packages merge into ready, uploading and needs-attention records")
        << texts({"n/1.CR3=1", "n/2.CR3=2", "n/3.CR3=3", "n/3.xmp=33"})
        << texts({"r1 staging 1 -", "r2 uploading 2 b/old.CR3", "r3 needsAttention 3 -"})
        << QStringList{} << none
        << texts({"r1:staging:n/1.CR3:-",
                  "r2:uploading:n/2.CR3:-",
                  "r3:needsAttention:n/3.CR3:n/3.xmp=33"});
    QTest::newRow("one record's bytes twice in the cache")
        << texts({"a/1.CR3=1", "z/1.CR3=1"}) << texts({"r1 staging 1 z/1.CR3"}) << QStringList{}
        << none << texts({"r1:staging:z/1.CR3:-"});
    QTest::newRow("bytes twice in the cache, their record needing attention")
        << texts({"a/1.CR3=1", "z/1.CR3=1"}) << texts({"r1 needsAttention 1 z/1.CR3"})
        << QStringList{} << none << texts({"r1:needsAttention:z/1.CR3:-"});
    QTest::newRow("archived record takes a ready record's package with sidecar")
        << texts({"b/1.CR3=1", "b/1.xmp=11"})
        << texts({"v verifiedBackup 1 - archive=1.xmp:11", "r staging 1 b/1.CR3 b/1.xmp=11"})
        << QStringList{} << none << texts({"v:verifiedBackup:b/1.CR3:b/1.xmp=11"});
    QTest::newRow("archived record takes a ready record's package without sidecar")
        << texts({"b/1.CR3=1"})
        << texts({"r staging 1 b/1.CR3", "v duplicate 1 -", "w staging 2 -"}) << QStringList{}
        << none << texts({"v:duplicate:b/1.CR3:-", "w:staging:-:-"});
    QTest::newRow("archived record with sidecar, new package without")
        << texts({"b/1.CR3=1"}) << texts({"v verifiedBackup 1 - archive=1.xmp:11"}) << QStringList{}
        << IngestCacheReconciliation{1, 0, true}
        << texts({"v:verifiedBackup:-:-", "+1.CR3:staging:b/1.CR3:-"});
    QTest::newRow("new package attached to a matching archived record")
        << texts({"b/1.CR3=1", "b/1.xmp=11"}) << texts({"v verifiedBackup 1 - archive=1.xmp:11"})
        << QStringList{} << none << texts({"v:verifiedBackup:b/1.CR3:b/1.xmp=11"});
    QTest::newRow("smallest id wins the archived record")
        << texts({"a/1.CR3=1", "z/1.CR3=1"})
        << texts({"v verifiedBackup 1 -", "r1 staging 1 a/1.CR3 id=9", "r2 staging 1 z/1.CR3 id=2"})
        << QStringList{} << none << texts({"v:verifiedBackup:z/1.CR3:-", "r1:staging:a/1.CR3:-"});
    QTest::newRow("partial archive sidecar facts never match")
        << texts({"b/1.CR3=1", "b/1.xmp=11"})
        << texts({"v verifiedBackup 1 - partial=1.xmp", "r staging 1 b/1.CR3 b/1.xmp=11"})
        << QStringList{} << none << texts({"v:verifiedBackup:-:-", "r:staging:b/1.CR3:b/1.xmp=11"});
    QTest::newRow("a duplicate's own package, its sidecar not the archive's")
        << texts({"b/1.CR3=1", "b/1.xmp=12"})
        << texts({"v verifiedBackup 1 - archive=1.xmp:11",
                  "d duplicate 1 b/1.CR3 b/1.xmp=12 archive=1.xmp:11"})
        << QStringList{} << none
        << texts({"v:verifiedBackup:-:-", "d:duplicate:b/1.CR3:b/1.xmp=12"});
    QTest::newRow("new package attached to the second archived record of its bytes")
        << texts({"b/1.CR3=1", "b/1.xmp=11"})
        << texts({"w duplicate 1 - archive=1.xmp:12", "v verifiedBackup 1 - archive=1.xmp:11"})
        << QStringList{} << none
        << texts({"w:duplicate:-:-", "v:verifiedBackup:b/1.CR3:b/1.xmp=11"});
    QTest::newRow("records of every status naming their files through a link take the scan's")
        << texts({"b/1.CR3=1", "b/1.xmp=12", "b/2.CR3=2"})
        << texts({"a needsAttention 1 b/1.CR3 link",
                  "r staging 1 b/1.CR3 b/1.xmp=12 link",
                  "v verifiedBackup 2 b/2.CR3 link"})
        << QStringList{} << none
        << texts({"a:needsAttention:b/1.CR3:-",
                  "r:staging:b/1.CR3:b/1.xmp=12",
                  "v:verifiedBackup:b/2.CR3:-"});
    QTest::newRow("unsupported items are no packages")
        << texts({"b/1.JPG=1", "b/2.xmp=2"}) << texts({"r staging 1 b/1.JPG"}) << QStringList{}
        << none << QStringList{};
    QTest::newRow("two new identical packages")
        << texts({"a/1.CR3=1", "b/1.CR3=1"}) << QStringList{} << QStringList{}
        << IngestCacheReconciliation{1, 0, true} << texts({"+1.CR3:staging:b/1.CR3:-"});
    QTest::newRow("a record's RAW original deleted since the listing")
        << texts({"b/1.CR3=1", "b/2.CR3=2 gone"})
        << texts({"r1 staging 1 b/1.CR3", "r2 staging 2 b/2.CR3"}) << QStringList{} << none
        << texts({"r1:staging:b/1.CR3:-"});
    QTest::newRow("a new RAW original deleted since the listing")
        << texts({"b/1.CR3=1", "z/9.CR3=9 gone"}) << texts({"r1 staging 1 b/1.CR3"})
        << QStringList{} << none << texts({"r1:staging:b/1.CR3:-"});
    QTest::newRow("a sidecar deleted since the listing")
        << texts({"b/1.CR3=1", "b/1.xmp=11 gone"}) << texts({"r1 staging 1 b/1.CR3 b/1.xmp=11"})
        << QStringList{} << IngestCacheReconciliation{0, 1, true}
        << texts({"r1:needsAttention:b/1.CR3:-"});
}

void IngestCacheReconciliationTests::reconcile()
{
    QFETCH(QStringList, cacheFiles);
    QFETCH(QStringList, recordSpecs);
    QFETCH(QStringList, blocked);
    QFETCH(IngestCacheReconciliation, expected);
    QFETCH(QStringList, expectedRecords);

    QStringList gone;
    for (QString &file : cacheFiles) {
        if (file.endsWith(u" gone"_s)) {
            file.chop(5);
            gone.append(m_cache + QLatin1Char('/') + file.section(QLatin1Char('='), 0, 0));
        }
    }
    writeCache(cacheFiles);
    const ImportReview listed = review();
    for (const QString &path : std::as_const(gone))
        QVERIFY(QFile::remove(path));
    const QList<LocalLibraryItem> before = records(recordSpecs);
    PELLWICK_VERIFY_SUCCESS(store().writeItems(before));
    const QByteArray storedBefore = storedBytes();
    QSet<QString> blockedFolders;
    for (const QString &folder : blocked)
        blockedFolders.insert(m_cache + QLatin1Char('/') + folder);

    const auto recording = std::make_shared<FaultInjectingFileManager>();
    const LocalLibraryCache cache = store(recording);
    const SHA256ContentHasher hasher;
    const Date now{8.1e8};
    const Result<IngestCacheReconciliation> outcome = cache.withExclusiveAccess([&] {
        return cache.reconcileIngestCache(listed, blockedFolders, hasher, captureMetadata, now);
    });
    PELLWICK_VERIFY_SUCCESS(outcome);
    QCOMPARE(*outcome, expected);

    const QList<LocalLibraryItem> after = store().readItems().value();
    QCOMPARE(summary(after), expectedRecords);
    QCOMPARE(storedBytes() == storedBefore, after == before);
    for (const LocalLibraryItem &item : after) {
        const auto old = std::find_if(
            before.cbegin(), before.cend(), [&](const auto &b) { return b.id == item.id; });
        if (old != before.cend()) {
            // A record keeps what only this machine knows of it.
            QCOMPARE(item.preview, old->preview);
            QCOMPARE(item.importDate, old->importDate);
            if (item.ingestCacheOriginalURL != old->ingestCacheOriginalURL
                && item.importStatus == LibraryItemImportStatus::LocalCacheReady) {
                QCOMPARE(item.cacheRelativePath,
                         QDir(m_cache).relativeFilePath(*item.ingestCacheOriginalURL));
            }
            continue;
        }
        QCOMPARE(item.importDate, now);
        QVERIFY2(item.canonicalFilename.startsWith(u"20240517-103015_cam-z_"_s)
                     && item.canonicalFilename.contains(item.contentHash.left(12)),
                 qPrintable(item.canonicalFilename));
        QCOMPARE(item.ingestSourceName, std::optional(QStringLiteral("Ingest Cache")));
        QCOMPARE(item.metadata, capture);
    }
    // Reconciling again finds everything in place and writes nothing.
    const qsizetype changed = recording->changes().size();
    QCOMPARE(
        cache.reconcileIngestCache(review(), blockedFolders, hasher, captureMetadata, now).value(),
        (IngestCacheReconciliation{0, 0, true, expected.cacheUnavailable}));
    QCOMPARE(recording->changes().mid(changed), QStringList());
}

void IngestCacheReconciliationTests::anotherWriterMeanwhileWritesNothing()
{
    writeCache(texts({"b/1.CR3=1", "c/2.CR3=2", "c/3.CR3=3"}));
    const QList<LocalLibraryItem> before
        = records(texts({"r1 staging 1 b/1.CR3", "r2 staging 2 b/2.CR3", "r3 uploading 9 -"}));
    PELLWICK_VERIFY_SUCCESS(store().writeItems(before));
    const LocalLibraryCache cache = store();

    ScriptedContentHasher hasher;
    bool changed = false;
    hasher.setBeforeEachCall([&](const QString &) {
        if (!std::exchange(changed, true)) {
            QVERIFY(cache.removeItems({before.at(2).id}).has_value());
        }
    });
    const Result<IngestCacheReconciliation> outcome = cache.withExclusiveAccess(
        [&] { return cache.reconcileIngestCache(review(), {}, hasher, captureMetadata, Date{1}); });
    PELLWICK_VERIFY_SUCCESS(outcome);
    QCOMPARE(*outcome, (IngestCacheReconciliation{1, 0, false}));
    // Only the other writer's change is in the library: the removed record stays removed.
    QCOMPARE(store().readItems().value(), before.mid(0, 2));
}

void IngestCacheReconciliationTests::hashingFailureWritesNothing_data()
{
    QTest::addColumn<QString>("failingFile");
    QTest::addColumn<QStringList>("expectedCalls");

    // Calls in the order reconciliation first needs each file.
    QTest::newRow("RAW original in the content search")
        << u"a/2.CR3"_s << texts({"a/1.CR3", "a/1.xmp", "a/2.CR3"});
    QTest::newRow("sidecar in the content search") << u"a/1.xmp"_s << texts({"a/1.CR3", "a/1.xmp"});
    QTest::newRow("RAW original in discovery")
        << u"z/9.CR3"_s << texts({"a/1.CR3", "a/1.xmp", "a/2.CR3", "z/9.CR3"});
    QTest::newRow("sidecar in discovery")
        << u"z/9.xmp"_s << texts({"a/1.CR3", "a/1.xmp", "a/2.CR3", "z/9.CR3", "z/9.xmp"});
}

void IngestCacheReconciliationTests::hashingFailureWritesNothing()
{
    QFETCH(QString, failingFile);
    QFETCH(QStringList, expectedCalls);

    writeCache(texts({"a/1.CR3=1", "a/1.xmp=11", "a/2.CR3=2", "z/9.CR3=9", "z/9.xmp=19"}));
    const QList<LocalLibraryItem> before
        = records(texts({"r1 staging 1 b/1.CR3 b/1.xmp=11", "r2 staging 2 a/2.CR3"}));
    PELLWICK_VERIFY_SUCCESS(store().writeItems(before));
    const QByteArray storedBefore = storedBytes();

    const Error error = FileSystemError{QStringLiteral("read"), failingFile, EIO};
    const FailingContentHasher hasher(failingFile, error);
    const LocalLibraryCache cache = store();
    const Result<IngestCacheReconciliation> outcome = cache.withExclusiveAccess(
        [&] { return cache.reconcileIngestCache(review(), {}, hasher, captureMetadata, Date{1}); });
    QVERIFY(!outcome);
    QCOMPARE(outcome.error(), error);
    QStringList calls;
    for (const QString &path : hasher.hashedPaths())
        calls.append(QDir(m_cache).relativeFilePath(path));
    QCOMPARE(calls, expectedCalls);
    QCOMPARE(storedBytes(), storedBefore);
    QCOMPARE(store().readItems().value(), before);
}

void IngestCacheReconciliationTests::eachFileIsHashedOnce()
{
    // Moved, overwritten, twice-held, sidecar-edited and new packages together.
    writeCache(texts({"a/1.CR3=1",
                      "a/1.xmp=11",
                      "c/2.CR3=2",
                      "b/3.CR3=7",
                      "d/4.CR3=4",
                      "d/4.xmp=45",
                      "e/5.CR3=5",
                      "f/5.CR3=5",
                      "g/8.CR3=8",
                      "g/8.xmp=18",
                      "x/1.JPG=3"}));
    const QList<LocalLibraryItem> before = records(texts({"r1 staging 1 a/1.CR3 a/1.xmp=11",
                                                          "r2 staging 2 b/2.CR3",
                                                          "r3 staging 3 b/3.CR3",
                                                          "r4 staging 4 d/4.CR3 d/4.xmp=44",
                                                          "r5 staging 5 e/5.CR3",
                                                          "r6 staging 6 gone/6.CR3",
                                                          "v verifiedBackup 8 -"}));
    PELLWICK_VERIFY_SUCCESS(store().writeItems(before));

    const CountingContentHasher counting;
    const LocalLibraryCache cache = store();
    const Result<IngestCacheReconciliation> outcome = cache.withExclusiveAccess([&] {
        return cache.reconcileIngestCache(review(), {}, counting, captureMetadata, Date{1});
    });
    PELLWICK_VERIFY_SUCCESS(outcome);
    QCOMPARE(*outcome, (IngestCacheReconciliation{3, 2, true}));
    QStringList hashed = counting.hashedPaths();
    QCOMPARE(hashed.size(), 10);
    hashed.removeDuplicates();
    QCOMPARE(hashed.size(), 10);

    // The production hasher, taking the hashes in parallel, gives the same library.
    const QList<LocalLibraryItem> sequential = store().readItems().value();
    PELLWICK_VERIFY_SUCCESS(store().writeItems(before));
    const LocalLibraryCache again = store();
    const SHA256ContentHasher production;
    QCOMPARE(again.reconcileIngestCache(review(), {}, production, captureMetadata, Date{1}).value(),
             *outcome);
    const QList<LocalLibraryItem> parallel = again.readItems().value();
    QCOMPARE(summary(parallel), summary(sequential));
}

void IngestCacheReconciliationTests::packageTheScanCouldNotSeeStays_data()
{
    QTest::addColumn<QStringList>("cacheFiles");
    QTest::addColumn<QStringList>("recordSpecs");
    // The scan passed over this folder of the cache ("" for the whole cache).
    QTest::addColumn<QString>("unseenFolder");
    // Examining a path in that folder fails with this errno (0: it succeeds).
    QTest::addColumn<int>("statError");
    QTest::addColumn<QStringList>("expectedRecords");

    const QStringList files = texts({"b/1.CR3=1", "c/2.CR3=2"});
    const QStringList specs = texts({"r1 staging 1 b/1.CR3", "r2 staging 2 c/2.CR3"});
    const QStringList unchanged = texts({"r1:staging:b/1.CR3:-", "r2:staging:c/2.CR3:-"});
    QTest::newRow("unreadable folder") << files << specs << "b/" << EACCES << unchanged;
    QTest::newRow("unreadable cache") << files << specs << "" << EACCES << unchanged;
    QTest::newRow("failing drive") << files << specs << "" << EIO << unchanged;
    QTest::newRow("file still there") << files << specs << "b/" << 0 << unchanged;
    QTest::newRow("file gone") << texts({"c/2.CR3=2"}) << specs << "b/" << 0
                               << texts({"r2:staging:c/2.CR3:-"});
    QTest::newRow("folder gone") << texts({"c/2.CR3=2"}) << specs << "b/" << ENOENT
                                 << texts({"r2:staging:c/2.CR3:-"});
}

void IngestCacheReconciliationTests::packageTheScanCouldNotSeeStays()
{
    QFETCH(QStringList, cacheFiles);
    QFETCH(QStringList, recordSpecs);
    QFETCH(QString, unseenFolder);
    QFETCH(int, statError);
    QFETCH(QStringList, expectedRecords);

    writeCache(cacheFiles);
    const QList<LocalLibraryItem> before = records(recordSpecs);
    PELLWICK_VERIFY_SUCCESS(store().writeItems(before));
    const QString unseen = m_cache + QLatin1Char('/') + unseenFolder;
    ImportReview seen = review();
    seen.items.removeIf([&](const ImportReviewItem &item) { return item.url.startsWith(unseen); });
    auto files = std::make_shared<FaultInjectingFileManager>();
    if (statError != 0)
        files->failOperation(FileOperation::AttributesOfItem, statError, unseen);

    const LocalLibraryCache cache(m_library, files);
    const Result<IngestCacheReconciliation> outcome = cache.withExclusiveAccess([&] {
        return cache.reconcileIngestCache(
            seen, {}, SHA256ContentHasher(), captureMetadata, Date{8.1e8});
    });
    PELLWICK_VERIFY_SUCCESS(outcome);
    QCOMPARE(*outcome, (IngestCacheReconciliation{0, 0, true}));
    QCOMPARE(summary(store().readItems().value()), expectedRecords);
}

QTEST_GUILESS_MAIN(IngestCacheReconciliationTests)
#include "IngestCacheReconciliationTests.moc"
