#include <PellwickCore/Ingest/ImportReviewBuilder.h>
#include <PellwickCore/Ingest/IngestCache.h>

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <Support/ChildProcess.h>
#include <Support/ContentHasherFakes.h>
#include <Support/FaultInjectingFileManager.h>
#include <Support/KillPoints.h>
#include <Support/StopAtCheckpoint.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <unistd.h>

using namespace Pellwick;
using namespace Pellwick::Test;

class IngestCacheCopyInTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void emptyReviewCreatesOnlyTheRoot();
    void capacityMustCoverTheTotal();
    void copiesSupportedItemsIntoDatedBatches();
    void sourcesAreCopiedInNameOrder();
    void sameNamedCardsGetOneBatchEach();
    void progressRowsFollowEachFile();
    void interruptedCopyInResumesInItsBatch();
    void changedCachedFileFailsTheResume();
    void cachedEntryThatIsNoCopyFailsTheResume_data();
    void cachedEntryThatIsNoCopyFailsTheResume();
    void markerHoldsTheSourceIdentity();
    void markerWithOnlySourceURLMatchesFolderSources();
    void folderIdentityIsAManifestOfContents();
    void incompleteFoldersAtAnyDepth();
    void injectedFailuresLeaveAResumableCache_data();
    void injectedFailuresLeaveAResumableCache();
    void systemCapacityOfAMissingRoot();
    void killedAtEachOperation();
    void killedAtRandomMoments();
    void sidecarSharedByRawOriginalsIsCopiedOnce_data();
    void sidecarSharedByRawOriginalsIsCopiedOnce();
    void stopLeavesAResumableCache_data();
    void stopLeavesAResumableCache();
};

namespace {

const QString cardUUID = QStringLiteral("3A21-0C5F");

Result<qint64> plentyOfSpace(const QString &)
{
    return qint64(1) << 50;
}

IngestCache cacheAt(const QString &root,
                    std::shared_ptr<const FileManager> files = std::make_shared<LocalFileManager>(),
                    std::shared_ptr<const ContentHashing> hasher
                    = std::make_shared<SHA256ContentHasher>(),
                    AvailableCapacityProbe probe = &plentyOfSpace)
{
    return IngestCache(root, std::move(files), std::move(hasher), std::move(probe));
}

ImportReview reviewOf(const QList<ImportScanVolume> &sources)
{
    Result<ImportReview> review
        = ImportReviewBuilder(std::make_shared<LocalFileManager>()).buildReview(sources);
    if (!review)
        qFatal("scan failed: %s", qPrintable(describe(review.error())));
    return *review;
}

/// Collects the progress rows of a copy-in.
struct ProgressLog
{
    QList<TransferProgress> rows;

    TransferProgressSink sink()
    {
        return [this](const TransferProgress &row) { rows.append(row); };
    }
};

/// Visible regular files below `folder`, as sorted relative paths.
QStringList visibleFiles(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

/// Every entry whose name begins with "." below `folder`, as relative paths.
QStringList hiddenEntries(const QString &folder)
{
    QStringList hidden;
    QDirIterator it(folder,
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).fileName().startsWith(QLatin1Char('.')))
            hidden.append(QDir(folder).relativeFilePath(path));
    }
    return hidden;
}

/// Batch folders (root/YYYY/MM/DD-<id>) below a cache root, sorted.
QStringList batchFolders(const QString &root)
{
    static const QRegularExpression layout(QStringLiteral("^\\d{4}/\\d{2}/\\d{2}-[0-9a-f]{12}$"));
    QStringList batches;
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (layout.match(QDir(root).relativeFilePath(path)).hasMatch())
            batches.append(path);
    }
    batches.sort();
    return batches;
}

QString markerIn(const QString &folder)
{
    return folder + QLatin1Char('/') + IngestCache::incompleteCopyMarkerName;
}

const IngestCacheError *cacheError(const Error &error)
{
    return error.as<IngestCacheError>();
}

/// A generated card of 20 files: fourteen RAW originals (one of them over 1 MiB), six with
/// sidecars, and JPEGs that are never copied.
struct CrashScene
{
    CrashScene()
        : dir(killTestDirectoryTemplate(QStringLiteral("IngestCacheCopyInTests")))
        , card(dir.filePath(QStringLiteral("card")))
        , cache(dir.filePath(QStringLiteral("cache")))
    {
        for (int i = 1; i <= 14; ++i) {
            const QString stem = QStringLiteral("DCIM/%1MEDIA/IMG_%2")
                                     .arg(100 + i % 2)
                                     .arg(i, 4, 10, QLatin1Char('0'));
            const qint64 size = i == 7 ? 1024 * 1024 + 4096 : 2000 + 977 * i;
            add(stem + QStringLiteral(".CR3"), patternBytes(size, quint32(i)));
            if (i % 7 == 0 || i % 3 == 0)
                add(stem + QStringLiteral(".xmp"), patternBytes(300 + i, quint32(100 + i)));
            if (i % 5 == 0)
                writeFile(card + QLatin1Char('/') + stem + QStringLiteral(".JPG"),
                          patternBytes(500));
        }
    }

    void add(const QString &relativePath, const QByteArray &bytes)
    {
        writeFile(card + QLatin1Char('/') + relativePath, bytes);
        sourceBytes.insert(relativePath, bytes);
    }

    /// Batches holding a visible file or a marker.
    QStringList usedBatches() const
    {
        QStringList used;
        for (const QString &batch : batchFolders(cache)) {
            if (!visibleFiles(batch).isEmpty() || QFileInfo::exists(markerIn(batch)))
                used.append(batch);
        }
        return used;
    }

    /// What a crash may leave: at most one batch in use; every visible file in it complete with
    /// its source's bytes; a marker whenever files are missing. Empty when so.
    QString problemAfterCrash() const
    {
        const QStringList used = usedBatches();
        if (used.size() > 1)
            return QStringLiteral("several batches: ") + used.join(QLatin1Char(' '));
        if (used.isEmpty())
            return {};
        const QStringList files = visibleFiles(used.first());
        for (const QString &file : files) {
            if (!sourceBytes.contains(file))
                return QStringLiteral("unexpected file ") + file;
            // Byte for byte: stronger than comparing hashes, and faster in a loop of hundreds.
            if (readFile(used.first() + QLatin1Char('/') + file) != sourceBytes.value(file))
                return QStringLiteral("wrong bytes in ") + file;
        }
        if (files.size() < sourceBytes.size() && !QFileInfo::exists(markerIn(used.first())))
            return QStringLiteral("unfinished batch without its marker");
        return {};
    }

    /// A complete, verified batch and nothing else. Empty when so.
    QString problemWhenComplete() const
    {
        const QStringList used = usedBatches();
        if (used.size() != 1)
            return QStringLiteral("%1 batches in use").arg(used.size());
        if (visibleFiles(used.first()) != QStringList(sourceBytes.keys()))
            return QStringLiteral("files: ") + visibleFiles(used.first()).join(QLatin1Char(' '));
        if (!hiddenEntries(used.first()).isEmpty())
            return QStringLiteral("left behind: ")
                   + hiddenEntries(used.first()).join(QLatin1Char(' '));
        return problemAfterCrash();
    }

    /// The review of the card, as the child makes it.
    ImportReview review() const
    {
        return reviewOf(
            {ImportScanVolume{QStringLiteral("CARD"), card, QStringLiteral("CRASH-TEST-UUID")}});
    }

    /// The next copy-in resumes the batch in use, if any, and completes it; the folder of every
    /// file it finds in place is flushed before the marker goes. Empty when so.
    QString problemWithNextCopyIn() const
    {
        const QStringList before = usedBatches();
        // Killed while the marker's removal was flushed: the batch is finished, and the next
        // copy-in is one of its own.
        if (!before.isEmpty() && !QFileInfo::exists(markerIn(before.first()))
            && problemWhenComplete().isEmpty())
            return {};
        const QStringList inPlace = before.isEmpty() ? QStringList() : visibleFiles(before.first());
        const auto files = std::make_shared<FaultInjectingFileManager>();
        const Result<QList<IngestCacheCopy>> copied
            = cacheAt(cache, files).copy(review(), {}, QUuid::createUuid());
        if (!copied)
            return QStringLiteral("next copy-in failed: ") + describe(copied.error());
        if (copied->size() != 1 || copied->first().copiedPackageCount != 14)
            return QStringLiteral("unexpected result of the next copy-in");
        if (!before.isEmpty() && copied->first().sourceFolderURL != before.first())
            return QStringLiteral("did not resume ") + before.first();
        const QStringList log = files->log();
        for (const QString &file : inPlace) {
            const QString folder = QFileInfo(before.first() + QLatin1Char('/') + file).path();
            const qsizetype flushed = log.indexOf(QStringLiteral("synchronizeDirectory ") + folder);
            if (flushed < 0
                || flushed > log.indexOf(QStringLiteral("removeItem ") + markerIn(before.first())))
                return QStringLiteral("not made durable: ") + file;
        }
        return problemWhenComplete();
    }

    QTemporaryDir dir;
    QString card;
    QString cache;
    QMap<QString, QByteArray> sourceBytes;
};

ChildRun runCopyInChild(const CrashScene &scene,
                        const QStringList &extraArguments = {},
                        std::optional<std::chrono::microseconds> killAfter = std::nullopt,
                        qint64 *runTime = nullptr)
{
    return runChildProcess(QStringLiteral(PELLWICK_COPY_IN_CRASH_CHILD),
                           QStringList{scene.card, scene.cache} + extraArguments,
                           killAfter,
                           runTime);
}

} // namespace

void IngestCacheCopyInTests::emptyReviewCreatesOnlyTheRoot()
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("cache/nested"));
    writeFile(dir.filePath(QStringLiteral("card/DCIM/PIC.JPG")), "jpeg");
    const ImportReview review
        = reviewOf({{QStringLiteral("CARD"), dir.filePath(QStringLiteral("card")), cardUUID}});
    ProgressLog progress;
    const QUuid transfer = QUuid::createUuid();
    const Result<QList<IngestCacheCopy>> copied
        = cacheAt(root).copy(review, progress.sink(), transfer);
    PELLWICK_VERIFY_SUCCESS(copied);
    QVERIFY(copied->isEmpty());
    QVERIFY(QFileInfo(root).isDir());
    QVERIFY(QDir(root).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QCOMPARE(progress.rows,
             QList<TransferProgress>({TransferProgress{transfer,
                                                       QStringLiteral("Add to Ingest Cache"),
                                                       TransferProgressPhase::Preparing,
                                                       std::nullopt,
                                                       std::nullopt,
                                                       std::nullopt,
                                                       std::nullopt,
                                                       0,
                                                       0,
                                                       0,
                                                       0}}));
}

void IngestCacheCopyInTests::capacityMustCoverTheTotal()
{
    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("card"));
    writeFile(card + QStringLiteral("/DCIM/IMG_0001.CR3"), patternBytes(1000));
    writeFile(card + QStringLiteral("/DCIM/IMG_0001.xmp"), patternBytes(24));
    writeFile(card + QStringLiteral("/DCIM/IMG_0002.NEF"), patternBytes(500));
    writeFile(card + QStringLiteral("/DCIM/IMG_0003.JPG"), patternBytes(7000));
    const ImportReview review = reviewOf({{QStringLiteral("CARD"), card, cardUUID}});
    const QString root = dir.filePath(QStringLiteral("cache"));

    QStringList probed;
    const auto probeWith = [&probed](qint64 free) {
        return [&probed, free](const QString &path) -> Result<qint64> {
            probed.append(path);
            return free;
        };
    };
    const Result<QList<IngestCacheCopy>> short_ = cacheAt(root,
                                                          std::make_shared<LocalFileManager>(),
                                                          std::make_shared<SHA256ContentHasher>(),
                                                          probeWith(1523))
                                                      .copy(review, {}, QUuid::createUuid());
    QVERIFY(!short_);
    QCOMPARE(short_.error(), Error(IngestCacheError::insufficientCapacity(1524, 1523, root)));
    QCOMPARE(probed, QStringList{root});
    QVERIFY(!QFileInfo::exists(root));

    const Error probeError = FileSystemError{QStringLiteral("statvfs"), root, EIO};
    const Result<QList<IngestCacheCopy>> unknown
        = cacheAt(root,
                  std::make_shared<LocalFileManager>(),
                  std::make_shared<SHA256ContentHasher>(),
                  [&](const QString &) -> Result<qint64> { return tl::unexpected(probeError); })
              .copy(review, {}, QUuid::createUuid());
    QVERIFY(!unknown);
    QCOMPARE(unknown.error(), probeError);
    QVERIFY(!QFileInfo::exists(root));

    const Result<QList<IngestCacheCopy>> exact = cacheAt(root,
                                                         std::make_shared<LocalFileManager>(),
                                                         std::make_shared<SHA256ContentHasher>(),
                                                         probeWith(1524))
                                                     .copy(review, {}, QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(exact);
    QCOMPARE(exact->first().copiedByteCount, 1524);
}

void IngestCacheCopyInTests::copiesSupportedItemsIntoDatedBatches()
{
    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("card"));
    writeFile(card + QStringLiteral("/DCIM/100MEDIA/IMG_0001.CR3"), patternBytes(3000, 1));
    writeFile(card + QStringLiteral("/DCIM/100MEDIA/IMG_0001.XMP"), patternBytes(40, 2));
    writeFile(card + QStringLiteral("/DCIM/101MEDIA/IMG_0002.DNG"), patternBytes(2000, 3));
    writeFile(card + QStringLiteral("/DCIM/101MEDIA/IMG_0002.JPG"), patternBytes(900, 4));
    writeFile(card + QStringLiteral("/DCIM/101MEDIA/orphan.xmp"), patternBytes(10, 5));
    const ImportScanVolume source{QStringLiteral("EOS DIGITAL"), card, cardUUID};
    const ImportReview review = reviewOf({source});
    const QString root = dir.filePath(QStringLiteral("cache"));
    const IngestCache cache = cacheAt(root);

    const Result<QList<IngestCacheCopy>> first = cache.copy(review, {}, QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(first);
    QCOMPARE(first->size(), 1);
    const IngestCacheCopy &copy = first->first();
    const QString datePrefix
        = root + QLatin1Char('/') + QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd-"));
    QVERIFY2(copy.sourceFolderURL.startsWith(datePrefix), qPrintable(copy.sourceFolderURL));
    QCOMPARE(batchFolders(root), QStringList{copy.sourceFolderURL});
    QCOMPARE(copy,
             (IngestCacheCopy{QStringLiteral("EOS DIGITAL"),
                              copy.sourceFolderURL,
                              card,
                              ImportSourceIdentity::volume(cardUUID),
                              2,
                              5040,
                              copy.verifiedFiles}));
    // Each copy with the SHA-256 it was verified with, which its record takes.
    QCOMPARE(copy.verifiedFiles.size(), 3);
    for (auto file = copy.verifiedFiles.cbegin(); file != copy.verifiedFiles.cend(); ++file)
        QCOMPARE(file->contentHash, referenceSha256(readFile(file.key())));
    QCOMPARE(visibleFiles(copy.sourceFolderURL),
             QStringList({QStringLiteral("DCIM/100MEDIA/IMG_0001.CR3"),
                          QStringLiteral("DCIM/100MEDIA/IMG_0001.XMP"),
                          QStringLiteral("DCIM/101MEDIA/IMG_0002.DNG")}));
    QCOMPARE(readFile(copy.sourceFolderURL + QStringLiteral("/DCIM/100MEDIA/IMG_0001.CR3")),
             patternBytes(3000, 1));
    QVERIFY(hiddenEntries(root).isEmpty());
    QCOMPARE(*cache.incompleteSourceFolderURLs(), QSet<QString>());

    // A finished card copied again the same day gets a batch of its own, differing only in id.
    const Result<QList<IngestCacheCopy>> second = cache.copy(review, {}, QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(second);
    const QString other = second->first().sourceFolderURL;
    QVERIFY(other != copy.sourceFolderURL);
    QCOMPARE(other.size(), copy.sourceFolderURL.size());
    QCOMPARE(other.left(other.size() - 12), copy.sourceFolderURL.left(other.size() - 12));
    QCOMPARE(batchFolders(root).size(), 2);
}

void IngestCacheCopyInTests::sourcesAreCopiedInNameOrder()
{
    QTemporaryDir dir;
    QList<ImportScanVolume> sources;
    for (const QString &name : {QStringLiteral("B"), QStringLiteral("a"), QStringLiteral("A")}) {
        const QString root = dir.filePath(QStringLiteral("cards/") + name + QStringLiteral("x"));
        writeFile(root + QStringLiteral("/IMG_1.ARW"), patternBytes(10));
        sources.append({name, root, std::nullopt});
    }
    ImportReview review = reviewOf(sources);
    // An item whose volume is not part of the review is left alone.
    review.items.append(review.items.first());
    review.items.last().volumeName = QStringLiteral("Unknown");

    const Result<QList<IngestCacheCopy>> copied
        = cacheAt(dir.filePath(QStringLiteral("cache"))).copy(review, {}, QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(copied);
    QStringList order;
    for (const IngestCacheCopy &copy : *copied)
        order.append(copy.sourceName);
    QCOMPARE(order, QStringList({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("a")}));
}

void IngestCacheCopyInTests::sameNamedCardsGetOneBatchEach()
{
    // Two bodies of one model: both cards are labelled "CARD"; the second is mounted at CARD1.
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("media/CARD"));
    const QString second = dir.filePath(QStringLiteral("media/CARD1"));
    writeFile(first + QStringLiteral("/DCIM/100EOS/IMG_0001.CR3"), patternBytes(100, 1));
    writeFile(second + QStringLiteral("/DCIM/100EOS/IMG_0001.CR3"), patternBytes(200, 2));
    writeFile(second + QStringLiteral("/DCIM/100EOS/IMG_0002.CR3"), patternBytes(300, 3));
    const ImportReview review = reviewOf({{QStringLiteral("CARD"), first, QStringLiteral("U1")},
                                          {QStringLiteral("CARD"), second, QStringLiteral("U2")}});

    const Result<QList<IngestCacheCopy>> copied
        = cacheAt(dir.filePath(QStringLiteral("cache"))).copy(review, {}, QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(copied);
    QCOMPARE(copied->size(), 2);
    QCOMPARE(copied->at(0).sourceRootURL, first);
    QCOMPARE(copied->at(0).sourceIdentity, ImportSourceIdentity::volume(QStringLiteral("U1")));
    QCOMPARE(copied->at(0).copiedPackageCount, 1);
    QCOMPARE(copied->at(1).sourceRootURL, second);
    QCOMPARE(copied->at(1).sourceIdentity, ImportSourceIdentity::volume(QStringLiteral("U2")));
    QCOMPARE(copied->at(1).copiedByteCount, 500);
    QCOMPARE(readFile(copied->at(0).sourceFolderURL + QStringLiteral("/DCIM/100EOS/IMG_0001.CR3")),
             patternBytes(100, 1));
    QCOMPARE(readFile(copied->at(1).sourceFolderURL + QStringLiteral("/DCIM/100EOS/IMG_0001.CR3")),
             patternBytes(200, 2));
    QCOMPARE(visibleFiles(copied->at(1).sourceFolderURL).size(), 2);
}

void IngestCacheCopyInTests::progressRowsFollowEachFile()
{
    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("card"));
    writeFile(card + QStringLiteral("/IMG_1.RAF"), patternBytes(10));
    writeFile(card + QStringLiteral("/IMG_1.xmp"), patternBytes(3));
    ProgressLog progress;
    const QUuid transfer = QUuid::createUuid();
    PELLWICK_VERIFY_SUCCESS(
        cacheAt(dir.filePath(QStringLiteral("cache")))
            .copy(reviewOf({{QStringLiteral("CARD"), card, cardUUID}}), progress.sink(), transfer));

    using P = TransferProgressPhase;
    const auto row = [&](P phase,
                         std::optional<QString> file,
                         std::optional<qint64> done,
                         std::optional<qint64> size,
                         qint64 completed,
                         qint64 packages) {
        return TransferProgress{transfer,
                                QStringLiteral("Add to Ingest Cache"),
                                phase,
                                std::nullopt,
                                std::move(file),
                                done,
                                size,
                                completed,
                                13,
                                packages,
                                1};
    };
    const QString raw = QStringLiteral("IMG_1.RAF");
    const QString xmp = QStringLiteral("IMG_1.xmp");
    const QList<TransferProgress> expected{
        row(P::Preparing, std::nullopt, std::nullopt, std::nullopt, 0, 0),
        row(P::Copying, raw, 0, 10, 0, 0),
        row(P::Copying, raw, 10, 10, 10, 0),
        row(P::Verifying, raw, std::nullopt, std::nullopt, 10, 0),
        row(P::Copying, raw, 10, 10, 10, 0),
        row(P::Copying, xmp, 0, 3, 10, 0),
        row(P::Copying, xmp, 3, 3, 13, 0),
        row(P::Verifying, xmp, std::nullopt, std::nullopt, 13, 0),
        row(P::Copying, xmp, 3, 3, 13, 0),
        row(P::Copying, std::nullopt, std::nullopt, std::nullopt, 13, 1),
    };
    QCOMPARE(progress.rows.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        QVERIFY2(progress.rows.at(i) == expected.at(i), qPrintable(QString::number(i)));
}

void IngestCacheCopyInTests::interruptedCopyInResumesInItsBatch()
{
    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("card"));
    for (int i = 1; i <= 5; ++i)
        writeFile(card + QStringLiteral("/DCIM/IMG_000%1.CR3").arg(i), patternBytes(1000 * i, i));
    const ImportReview review = reviewOf({{QStringLiteral("CARD"), card, cardUUID}});
    const QString root = dir.filePath(QStringLiteral("cache"));

    auto failing = std::make_shared<FaultInjectingFileManager>();
    failing->failOperation(
        FileOperation::OpenForReading, EIO, QStringLiteral("card/DCIM/IMG_0004"));
    const Result<QList<IngestCacheCopy>> interrupted
        = cacheAt(root, failing).copy(review, {}, QUuid::createUuid());
    QVERIFY(!interrupted);
    QCOMPARE(interrupted.error(),
             Error(IngestCacheError::verificationFailed(QStringLiteral("DCIM/IMG_0004.CR3"))));
    const QStringList batches = batchFolders(root);
    QCOMPARE(batches.size(), 1);
    const QString batch = batches.first();
    // The file after the failing one may have been copied alongside it.
    QVERIFY(!QFileInfo::exists(batch + QStringLiteral("/DCIM/IMG_0004.CR3")));
    QVERIFY(visibleFiles(batch).size() == 3 || visibleFiles(batch).size() == 4);
    QCOMPARE(hiddenEntries(batch), QStringList{IngestCache::incompleteCopyMarkerName});
    QCOMPARE(*cacheAt(root).incompleteSourceFolderURLs(), QSet<QString>{batch});

    auto hasher = std::make_shared<CountingContentHasher>();
    ProgressLog progress;
    const Result<QList<IngestCacheCopy>> resumed
        = cacheAt(root, std::make_shared<LocalFileManager>(), hasher)
              .copy(review, progress.sink(), QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(resumed);
    QCOMPARE(resumed->first().sourceFolderURL, batch);
    QCOMPARE(resumed->first().copiedPackageCount, 5);
    QCOMPARE(resumed->first().copiedByteCount, 15000);
    QCOMPARE(batchFolders(root), QStringList{batch});
    QCOMPARE(visibleFiles(batch).size(), 5);
    QVERIFY(hiddenEntries(root).isEmpty());
    QVERIFY(cacheAt(root).incompleteSourceFolderURLs()->isEmpty());

    // The three copies already there are verified, source before copy, and counted as done.
    const QStringList hashed = hasher->hashedPaths();
    for (int i = 1; i <= 3; ++i) {
        const QString name = QStringLiteral("/DCIM/IMG_000%1.CR3").arg(i);
        QVERIFY(hashed.contains(card + name));
        QVERIFY(hashed.indexOf(card + name) < hashed.indexOf(batch + name));
    }
    const TransferProgress &verifying = progress.rows.at(1);
    QCOMPARE(verifying.phase, TransferProgressPhase::Verifying);
    QCOMPARE(verifying.currentFilename, QStringLiteral("IMG_0001.CR3"));
    QCOMPARE(verifying.currentFileTotalByteCount, std::nullopt);
    const TransferProgress &counted = progress.rows.at(2);
    QCOMPARE(counted.phase, TransferProgressPhase::Copying);
    QCOMPARE(counted.currentFileCompletedByteCount, 1000);
    QCOMPARE(counted.currentFileTotalByteCount, 1000);
    QCOMPARE(counted.completedByteCount, 1000);
}

void IngestCacheCopyInTests::changedCachedFileFailsTheResume()
{
    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("card"));
    for (int i = 1; i <= 3; ++i)
        writeFile(card + QStringLiteral("/DCIM/IMG_000%1.NEF").arg(i), patternBytes(500, i));
    const ImportReview review = reviewOf({{QStringLiteral("CARD"), card, cardUUID}});
    const QString root = dir.filePath(QStringLiteral("cache"));
    auto failing = std::make_shared<FaultInjectingFileManager>();
    failing->failOperation(FileOperation::CreateFile, ENOSPC, QStringLiteral("IMG_0003"));
    QVERIFY(!cacheAt(root, failing).copy(review, {}, QUuid::createUuid()));
    const QString batch = batchFolders(root).first();

    const QString changed = batch + QStringLiteral("/DCIM/IMG_0002.NEF");
    writeFile(changed, "edited meanwhile");
    const Result<QList<IngestCacheCopy>> resumed
        = cacheAt(root).copy(review, {}, QUuid::createUuid());
    QVERIFY(!resumed);
    QCOMPARE(resumed.error(),
             Error(IngestCacheError::verificationFailed(QStringLiteral("DCIM/IMG_0002.NEF"))));
    QCOMPARE(readFile(changed), QByteArray("edited meanwhile"));
    QVERIFY(QFileInfo::exists(markerIn(batch)));
    // The next file may have been copied alongside; if it is there, it is complete.
    const QString next = batch + QStringLiteral("/DCIM/IMG_0003.NEF");
    QVERIFY(!QFileInfo::exists(next) || readFile(next) == patternBytes(500, 3));
}

void IngestCacheCopyInTests::cachedEntryThatIsNoCopyFailsTheResume_data()
{
    // What stands in an interrupted batch where the copy of IMG_0002.NEF belongs.
    QTest::addColumn<QString>("entry");
    QTest::newRow("link to the card's file") << QStringLiteral("link to source");
    QTest::newRow("link to a copy outside the cache") << QStringLiteral("link to copy");
    QTest::newRow("folder") << QStringLiteral("folder");
}

void IngestCacheCopyInTests::cachedEntryThatIsNoCopyFailsTheResume()
{
    QFETCH(QString, entry);
    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("card"));
    for (int i = 1; i <= 3; ++i)
        writeFile(card + QStringLiteral("/DCIM/IMG_000%1.NEF").arg(i), patternBytes(500, i));
    const ImportReview review = reviewOf({{QStringLiteral("CARD"), card, cardUUID}});
    const QString root = dir.filePath(QStringLiteral("cache"));
    auto failing = std::make_shared<FaultInjectingFileManager>();
    failing->failOperation(FileOperation::CreateFile, ENOSPC, QStringLiteral("IMG_0003"));
    QVERIFY(!cacheAt(root, failing).copy(review, {}, QUuid::createUuid()));
    const QString batch = batchFolders(root).first();

    const QString cached = batch + QStringLiteral("/DCIM/IMG_0002.NEF");
    const QString source = card + QStringLiteral("/DCIM/IMG_0002.NEF");
    QVERIFY(QFile::remove(cached));
    if (entry == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(cached));
    } else {
        const QString copy = dir.filePath(QStringLiteral("elsewhere.NEF"));
        QVERIFY(QFile::copy(source, copy));
        QVERIFY(QFile::link(entry == QLatin1String("link to source") ? source : copy, cached));
    }

    const Result<QList<IngestCacheCopy>> resumed
        = cacheAt(root).copy(review, {}, QUuid::createUuid());
    QVERIFY(!resumed);
    QCOMPARE(resumed.error(),
             Error(IngestCacheError::verificationFailed(QStringLiteral("DCIM/IMG_0002.NEF"))));
    QVERIFY(QFileInfo(cached).isSymLink() || QFileInfo(cached).isDir());
    QCOMPARE(readFile(source), patternBytes(500, 2));
    QVERIFY(QFileInfo::exists(markerIn(batch)));
}

void IngestCacheCopyInTests::markerHoldsTheSourceIdentity()
{
    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("card"));
    writeFile(card + QStringLiteral("/a.cr3"), patternBytes(64, 1));
    writeFile(card + QStringLiteral("/a.xmp"), patternBytes(8, 2));
    const QString root = dir.filePath(QStringLiteral("cache"));

    // Read the marker while the first file is being copied.
    const auto markerDuringCopy = [&](const ImportScanVolume &source) {
        QByteArray marker;
        ProgressLog progress;
        const IngestCache cache = cacheAt(root);
        const Result<QList<IngestCacheCopy>> copied = cache.copy(
            reviewOf({source}),
            [&](const TransferProgress &row) {
                if (marker.isEmpty() && row.currentFilename) {
                    for (const QString &batch : batchFolders(root)) {
                        if (QFileInfo::exists(markerIn(batch)))
                            marker = readFile(markerIn(batch));
                    }
                }
            },
            QUuid::createUuid());
        if (!copied)
            qFatal("copy-in failed");
        return marker;
    };

    QCOMPARE(markerDuringCopy({QStringLiteral("CARD"), card, cardUUID}),
             QByteArray("{\"sourceIdentity\":{\"volume\":{\"uuid\":\"3A21-0C5F\"}}}"));

    const QString manifest
        = referenceSha256("a.cr3:" + referenceSha256(patternBytes(64, 1)).toLatin1()
                          + "\na.xmp:" + referenceSha256(patternBytes(8, 2)).toLatin1());
    QCOMPARE(markerDuringCopy({QStringLiteral("card"), card, std::nullopt}),
             QByteArray("{\"sourceIdentity\":{\"folder\":{\"canonicalPath\":\"")
                 + QFile::encodeName(QFileInfo(card).canonicalFilePath()) + "\",\"manifestHash\":\""
                 + manifest.toLatin1() + "\"}}}");
}

void IngestCacheCopyInTests::markerWithOnlySourceURLMatchesFolderSources()
{
    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("card"));
    writeFile(card + QStringLiteral("/DCIM/IMG_0001.CR2"), patternBytes(100, 1));
    writeFile(card + QStringLiteral("/DCIM/IMG_0002.CR2"), patternBytes(100, 2));
    QVERIFY(QFile::link(card, dir.filePath(QStringLiteral("card-link"))));
    const QString root = dir.filePath(QStringLiteral("cache"));
    const QString older = root + QStringLiteral("/2024/02/29-0123456789ab");
    writeFile(older + QStringLiteral("/DCIM/IMG_0001.CR2"), patternBytes(100, 1));
    writeFile(markerIn(older),
              "{\"sourceURL\":\""
                  + QUrl::fromLocalFile(dir.filePath(QStringLiteral("card-link")))
                        .toString(QUrl::FullyEncoded)
                        .toUtf8()
                  + "\"}");
    const QString broken = root + QStringLiteral("/2024/03/01-ba9876543210");
    writeFile(markerIn(broken), "{not json");
    // Grown far past any marker by another program: passed over, not read whole.
    const QString grown = root + QStringLiteral("/2024/03/02-0a0b0c0d0e0f");
    writeFile(markerIn(grown), "{}");
    QCOMPARE(::truncate(QFile::encodeName(markerIn(grown)).constData(), qint64(16) << 30), 0);

    // A card with a UUID never matches a marker without an identity.
    const Result<QList<IngestCacheCopy>> asCard = cacheAt(root).copy(
        reviewOf({{QStringLiteral("CARD"), card, cardUUID}}), {}, QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(asCard);
    QVERIFY(asCard->first().sourceFolderURL != older);
    QVERIFY(QFileInfo::exists(markerIn(older)));

    const Result<QList<IngestCacheCopy>> asFolder = cacheAt(root).copy(
        reviewOf({{QStringLiteral("card"), card, std::nullopt}}), {}, QUuid::createUuid());
    PELLWICK_VERIFY_SUCCESS(asFolder);
    QCOMPARE(asFolder->first().sourceFolderURL, older);
    QCOMPARE(visibleFiles(older).size(), 2);
    QVERIFY(!QFileInfo::exists(markerIn(older)));
    QCOMPARE(*cacheAt(root).incompleteSourceFolderURLs(), (QSet<QString>{broken, grown}));
}

void IngestCacheCopyInTests::folderIdentityIsAManifestOfContents()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("photos"));
    writeFile(folder + QStringLiteral("/a.cr3"), patternBytes(64, 1));
    writeFile(folder + QStringLiteral("/a.xmp"), patternBytes(8, 2));
    QVERIFY(QFile::link(folder, dir.filePath(QStringLiteral("alias"))));
    const QString root = dir.filePath(QStringLiteral("cache"));
    auto hasher = std::make_shared<CountingContentHasher>();

    const auto identityOf = [&](const QString &sourceRoot) {
        const Result<QList<IngestCacheCopy>> copied
            = cacheAt(root, std::make_shared<LocalFileManager>(), hasher)
                  .copy(reviewOf({{QStringLiteral("photos"), sourceRoot, std::nullopt}}),
                        {},
                        QUuid::createUuid());
        if (!copied)
            qFatal("copy-in failed");
        return copied->first().sourceIdentity;
    };

    const QString lines = QStringLiteral("a.cr3:") + referenceSha256(patternBytes(64, 1))
                          + QStringLiteral("\na.xmp:") + referenceSha256(patternBytes(8, 2));
    const ImportSourceIdentity expected = ImportSourceIdentity::folder(
        QFileInfo(folder).canonicalFilePath(), referenceSha256(lines.toUtf8()));
    QCOMPARE(identityOf(dir.filePath(QStringLiteral("alias"))), expected);
    // The manifest is hashed with SHA-256 directly; the cache's hasher only verifies copies.
    QCOMPARE(hasher->callCount(), 4);

    QVERIFY(QFile::rename(folder + QStringLiteral("/a.xmp"), folder + QStringLiteral("/A.xmp")));
    QVERIFY(identityOf(folder) != expected);
}

void IngestCacheCopyInTests::incompleteFoldersAtAnyDepth()
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("cache"));
    QVERIFY(cacheAt(root).incompleteSourceFolderURLs()->isEmpty());

    writeFile(markerIn(root), "{}");
    writeFile(markerIn(root + QStringLiteral("/2026/03/07-3f9a1c0b2d4e")), "{}");
    writeFile(markerIn(root + QStringLiteral("/2026/03/07-3f9a1c0b2d4e/DCIM/.hidden")), "{}");
    writeFile(markerIn(root + QStringLiteral("/2026/04/01-000000000000/unreadable")), "{}");
    writeFile(root + QStringLiteral("/2026/03/07-3f9a1c0b2d4e/DCIM/IMG.CR3"), "raw");
    auto files = std::make_shared<FaultInjectingFileManager>();
    files->failOperation(FileOperation::EntriesOfDirectory, EACCES, QStringLiteral("/unreadable"));
    const Result<QSet<QString>> found = cacheAt(root, files).incompleteSourceFolderURLs();
    PELLWICK_VERIFY_SUCCESS(found);
    QCOMPARE(*found,
             QSet<QString>({root,
                            root + QStringLiteral("/2026/03/07-3f9a1c0b2d4e"),
                            root + QStringLiteral("/2026/03/07-3f9a1c0b2d4e/DCIM/.hidden")}));
}

void IngestCacheCopyInTests::injectedFailuresLeaveAResumableCache_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("pathFragment");
    QTest::addColumn<bool>("isVerificationFailure");
    const QString year = QDate::currentDate().toString(QStringLiteral("/yyyy/"));
    QTest::newRow("create the root")
        << int(FileOperation::CreateDirectory) << EACCES << QStringLiteral("/cache") << false;
    QTest::newRow("create the batch folder")
        << int(FileOperation::CreateDirectory) << EIO << year << false;
    QTest::newRow("write the marker") << int(FileOperation::Synchronize) << EIO
                                      << QStringLiteral(".pellwick-copy-in-progress") << false;
    QTest::newRow("read a source")
        << int(FileOperation::Read) << EIO << QStringLiteral("/IMG_0003.CR3") << true;
    QTest::newRow("disk full") << int(FileOperation::Write) << ENOSPC
                               << QStringLiteral(".IMG_0002.CR3.pellwick-partial") << true;
    QTest::newRow("move into place")
        << int(FileOperation::MoveItem) << EIO << QStringLiteral("IMG_0003.xmp") << true;
    QTest::newRow("flush the folder after a move")
        << int(FileOperation::SynchronizeDirectory) << EIO << QStringLiteral("/101MEDIA") << true;
    QTest::newRow("remove the marker") << int(FileOperation::RemoveItem) << EIO
                                       << QStringLiteral("/.pellwick-copy-in-progress") << false;
}

void IngestCacheCopyInTests::injectedFailuresLeaveAResumableCache()
{
    QFETCH(int, operation);
    QFETCH(int, code);
    QFETCH(QString, pathFragment);
    QFETCH(bool, isVerificationFailure);
    CrashScene scene;
    const ImportReview review
        = reviewOf({{QStringLiteral("CARD"), scene.card, QStringLiteral("CRASH-TEST-UUID")}});
    auto failing = std::make_shared<FaultInjectingFileManager>();
    failing->failOperation(FileOperation(operation), code, pathFragment);

    const Result<QList<IngestCacheCopy>> failed
        = cacheAt(scene.cache, failing).copy(review, {}, QUuid::createUuid());
    QVERIFY(!failed);
    if (isVerificationFailure) {
        QVERIFY2(cacheError(failed.error()), qPrintable(describe(failed.error())));
        QVERIFY(std::holds_alternative<IngestCacheError::VerificationFailed>(
            cacheError(failed.error())->value));
        // The copy's own failure stays with it, for diagnostics to name.
        const Error *cause = failed.error().cause();
        QVERIFY2(cause && cause->as<FileSystemError>(), qPrintable(describe(failed.error())));
        QCOMPARE(cause->as<FileSystemError>()->code, code);
        QVERIFY(describe(failed.error()).endsWith(QStringLiteral("(errno %1))").arg(code)));
    } else {
        const FileSystemError *error = failed.error().as<FileSystemError>();
        QVERIFY2(error, qPrintable(describe(failed.error())));
        QCOMPARE(error->code, code);
    }
    const QString afterFailure = scene.problemAfterCrash();
    QVERIFY2(afterFailure.isEmpty(), qPrintable(afterFailure));
    const QString nextCopyIn = scene.problemWithNextCopyIn();
    QVERIFY2(nextCopyIn.isEmpty(), qPrintable(nextCopyIn));
}

void IngestCacheCopyInTests::systemCapacityOfAMissingRoot()
{
    QTemporaryDir dir;
    const Result<qint64> existing = IngestCache::systemAvailableCapacity(dir.path());
    PELLWICK_VERIFY_SUCCESS(existing);
    QVERIFY(*existing > 0);
    const QString missing = dir.filePath(QStringLiteral("Pellwick/Ingest Cache"));
    const Result<qint64> firstUse = IngestCache::systemAvailableCapacity(missing);
    PELLWICK_VERIFY_SUCCESS(firstUse);
    QVERIFY(*firstUse > 0);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("Pellwick"))));
}

void IngestCacheCopyInTests::killedAtEachOperation()
{
    const CrashScene scene;
    QCOMPARE(scene.sourceBytes.size(), 20);
    // The operations of an undisturbed copy-in, to spread the kills over; one more completes it.
    const auto counting = std::make_shared<FaultInjectingFileManager>();
    PELLWICK_VERIFY_SUCCESS(
        cacheAt(scene.cache, counting).copy(scene.review(), {}, QUuid::createUuid()));
    const int operations = counting->operationCount();
    const QList<int> operationsToKill = killPoints(operations) << operations + 1;
    int killedRuns = 0;
    bool completed = false;
    for (const int operation : operationsToKill) {
        QDir(scene.cache).removeRecursively();
        const ChildRun run = runCopyInChild(scene, {QString::number(operation)});
        const QString context = QStringLiteral("killed at operation %1: ").arg(operation);
        if (run.killed) {
            ++killedRuns;
        } else {
            QCOMPARE(run.exitCode, 0);
            completed = true;
            const QString complete = scene.problemWhenComplete();
            QVERIFY2(complete.isEmpty(), qPrintable(context + complete));
            break;
        }
        const QString afterCrash = scene.problemAfterCrash();
        QVERIFY2(afterCrash.isEmpty(), qPrintable(context + afterCrash));
        const QString nextCopyIn = scene.problemWithNextCopyIn();
        QVERIFY2(nextCopyIn.isEmpty(), qPrintable(context + nextCopyIn));
    }
    QVERIFY(completed);
    QCOMPARE(killedRuns, operationsToKill.size() - 1);
    qInfo("%d copy-ins killed at one of %d operations", killedRuns, operations);
}

void IngestCacheCopyInTests::killedAtRandomMoments()
{
    const CrashScene scene;
    QList<qint64> runTimes;
    for (int i = 0; i < 3; ++i) {
        QDir(scene.cache).removeRecursively();
        qint64 runTime = 0;
        const ChildRun run = runCopyInChild(scene, {}, std::nullopt, &runTime);
        QVERIFY(!run.killed);
        QCOMPARE(run.exitCode, 0);
        runTimes.append(runTime);
    }
    std::sort(runTimes.begin(), runTimes.end());
    const qint64 window = runTimes.at(1);
    QDir(scene.cache).removeRecursively();

    // Kills follow one another on the same cache: each run resumes what the last one left.
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    int killedRuns = 0;
    const int runs = randomKillCount();
    for (int i = 0; i < runs; ++i) {
        const std::chrono::microseconds delay(random.bounded(window + 1));
        const ChildRun run = runCopyInChild(scene, {}, delay);
        const QString context = QStringLiteral("seed %1, run %2, killed after %3 us: ")
                                    .arg(seed)
                                    .arg(i)
                                    .arg(delay.count());
        if (run.killed) {
            ++killedRuns;
            const QString afterCrash = scene.problemAfterCrash();
            QVERIFY2(afterCrash.isEmpty(), qPrintable(context + afterCrash));
            // Killed after its marker was removed: the copy-in had finished, and the next one
            // would be a new import of the card.
            if (scene.problemWhenComplete().isEmpty())
                QDir(scene.cache).removeRecursively();
        } else {
            QCOMPARE(run.exitCode, 0);
            const QString complete = scene.problemWhenComplete();
            QVERIFY2(complete.isEmpty(), qPrintable(context + complete));
            QDir(scene.cache).removeRecursively();
        }
    }
    const QString nextCopyIn = scene.problemWithNextCopyIn();
    QVERIFY2(nextCopyIn.isEmpty(), qPrintable(nextCopyIn));
    qInfo("%d of %d copy-ins killed midway (seed %u, window %lld us)",
          killedRuns,
          runs,
          seed,
          window);
}

void IngestCacheCopyInTests::sidecarSharedByRawOriginalsIsCopiedOnce_data()
{
    QTest::addColumn<QStringList>("rawExtensions");
    QTest::addColumn<int>("stems");
    const QStringList two = QStringLiteral("CR2 DNG").split(QLatin1Char(' '));
    QTest::newRow("two originals, one sidecar") << two << 1;
    // More sharers than files in flight: copies of one destination queue behind the first.
    QTest::newRow("six originals, one sidecar")
        << QStringLiteral("CR2 CR3 NEF ARW RAF DNG").split(QLatin1Char(' ')) << 1;
    QTest::newRow("three names, two originals each") << two << 3;
}

void IngestCacheCopyInTests::sidecarSharedByRawOriginalsIsCopiedOnce()
{
    QFETCH(QStringList, rawExtensions);
    QFETCH(int, stems);
    QTemporaryDir dir(killTestDirectoryTemplate(QStringLiteral("IngestCacheCopyInTests")));
    const QString card = dir.filePath(QStringLiteral("card"));
    QMap<QString, QByteArray> sourceBytes;
    quint32 seed = 1;
    for (int stem = 1; stem <= stems; ++stem) {
        const QString name = QStringLiteral("DCIM/IMG_%1.").arg(stem, 4, 10, QLatin1Char('0'));
        for (const QString &extension : rawExtensions) {
            sourceBytes.insert(name + extension, patternBytes(200'000 + 1000 * seed, seed));
            ++seed;
        }
        sourceBytes.insert(name + QStringLiteral("xmp"), patternBytes(64 * 1024, seed));
        ++seed;
    }
    for (auto file = sourceBytes.cbegin(); file != sourceBytes.cend(); ++file)
        writeFile(card + QLatin1Char('/') + file.key(), file.value());
    const ImportReview review = reviewOf({{QStringLiteral("CARD"), card, cardUUID}});
    QCOMPARE(review.items.size(), rawExtensions.size() * stems);

    // Two copies to one destination at once fail often, not always: repeat to catch them.
    for (int round = 0; round < 25; ++round) {
        const QString cache = dir.filePath(QStringLiteral("cache-%1").arg(round));
        ProgressLog progress;
        const Result<QList<IngestCacheCopy>> copied
            = cacheAt(cache).copy(review, progress.sink(), QUuid::createUuid());
        PELLWICK_VERIFY_SUCCESS(copied);
        QCOMPARE(copied->size(), 1);
        QCOMPARE(copied->first().copiedPackageCount, rawExtensions.size() * stems);
        const QString batch = copied->first().sourceFolderURL;
        QCOMPARE(visibleFiles(batch), QStringList(sourceBytes.keys()));
        for (auto file = sourceBytes.cbegin(); file != sourceBytes.cend(); ++file)
            QCOMPARE(readFile(batch + QLatin1Char('/') + file.key()), file.value());
        QCOMPARE(hiddenEntries(batch), QStringList());
        // Each sharer counts the sidecar, as the totals do.
        QCOMPARE(progress.rows.last().completedByteCount, progress.rows.last().totalByteCount);
    }
}

void IngestCacheCopyInTests::stopLeavesAResumableCache_data()
{
    // Checkpoints are the progress rows: 1 is the first, before anything is written.
    QTest::addColumn<int>("stopAt");
    QTest::addColumn<bool>("concurrentHasher");
    for (const int stopAt : {0, 1, 2, 9, 30, 60}) {
        QTest::addRow("at row %d, files in flight", stopAt) << stopAt << true;
        QTest::addRow("at row %d, one file at a time", stopAt) << stopAt << false;
    }
}

void IngestCacheCopyInTests::stopLeavesAResumableCache()
{
    QFETCH(int, stopAt);
    QFETCH(bool, concurrentHasher);
    CrashScene scene;
    const ImportReview review
        = reviewOf({{QStringLiteral("CARD"), scene.card, QStringLiteral("CRASH-TEST-UUID")}});
    const IngestCache cache = cacheAt(scene.cache,
                                      std::make_shared<LocalFileManager>(),
                                      std::make_shared<CountingContentHasher>(concurrentHasher));
    StopAtCheckpoint stop(stopAt);

    const Result<QList<IngestCacheCopy>> stopped = stop.run([&] {
        return cache.copy(
            review,
            [&](const TransferProgress &) { stop.checkpoint(); },
            QUuid::createUuid(),
            stop.token());
    });

    QVERIFY(stop.stopped());
    QVERIFY(!stopped);
    QCOMPARE(stopped.error(), Error(CancellationError{}));
    // What an interruption leaves: the marker, verified files, and no partial file.
    const QString afterStop = scene.problemAfterCrash();
    QVERIFY2(afterStop.isEmpty(), qPrintable(afterStop));
    for (const QString &batch : scene.usedBatches()) {
        for (const QString &hidden : hiddenEntries(batch))
            QVERIFY2(!hidden.endsWith(QLatin1String(".pellwick-partial")), qPrintable(hidden));
    }
    const QString nextCopyIn = scene.problemWithNextCopyIn();
    QVERIFY2(nextCopyIn.isEmpty(), qPrintable(nextCopyIn));
}

QTEST_GUILESS_MAIN(IngestCacheCopyInTests)
#include "IngestCacheCopyInTests.moc"
