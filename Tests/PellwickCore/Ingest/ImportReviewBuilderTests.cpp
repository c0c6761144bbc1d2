#include <PellwickCore/Ingest/ImportReviewBuilder.h>

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <filesystem>

#include <Support/FaultInjectingFileManager.h>
#include <Support/StopAtCheckpoint.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Pellwick;
using Pellwick::Test::FaultInjectingFileManager;
using Pellwick::Test::FileOperation;
using Pellwick::Test::StopAtCheckpoint;

class ImportReviewBuilderTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void extensionsMatchInAnyCase();
    void sidecarsPairByFolderAndStem();
    void sidecarsWithOneKey();
    void hiddenEntriesAreNeverListed();
    void itemsSortLikeAFileBrowser();
    void equalPathsKeepSourceOrder();
    void severalSourcesInterleaveByPath();
    void emptyAndMissingSources();
    void unreadableSubfolderFailsTheScan();
    void nameThatIsNotUtf8FailsTheScan();
    void deepTreeIsScannedOnASmallStack();
    void reviewStateConfirmation();
    void stoppedScanEndsAndTheNextOneIsComplete_data();
    void stoppedScanEndsAndTheNextOneIsComplete();
};

namespace {

void touch(const QString &path, qint64 size = 0)
{
    Test::writeFile(path, Test::patternBytes(size));
}

Result<ImportReview> scan(const QList<ImportScanVolume> &sources,
                          std::shared_ptr<const FileManager> files
                          = std::make_shared<LocalFileManager>())
{
    return ImportReviewBuilder(std::move(files)).buildReview(sources);
}

ImportReview scanned(const QList<ImportScanVolume> &sources)
{
    Result<ImportReview> review = scan(sources);
    if (!review)
        qFatal("scan failed: %s", qPrintable(describe(review.error())));
    return *review;
}

ImportScanVolume source(const QString &name, const QString &root)
{
    return ImportScanVolume{name, root, std::nullopt};
}

const ImportReviewItem *itemNamed(const ImportReview &review, const QString &filename)
{
    for (const ImportReviewItem &item : review.items) {
        if (item.filename == filename)
            return &item;
    }
    return nullptr;
}

QStringList filenames(const ImportReview &review)
{
    QStringList names;
    for (const ImportReviewItem &item : review.items)
        names.append(item.filename);
    return names;
}

const auto supported = ImportReviewItemStatus::supported();
const auto excluded
    = ImportReviewItemStatus::unsupported(ImportReviewUnsupportedReason::ExcludedBackupTarget);
const auto unpaired
    = ImportReviewItemStatus::unsupported(ImportReviewUnsupportedReason::UnpairedSidecar);

} // namespace

void ImportReviewBuilderTests::extensionsMatchInAnyCase()
{
    QTemporaryDir dir;
    const QString card = dir.path();
    touch(card + QStringLiteral("/DCIM/IMG_0001.CR2"), 100);
    touch(card + QStringLiteral("/DCIM/img_0002.cr2"), 200);
    touch(card + QStringLiteral("/DCIM/A.DnG"), 300);
    touch(card + QStringLiteral("/DCIM/PIC.JPEG"), 5000);
    touch(card + QStringLiteral("/DCIM/PIC.HEIC"), 6000);
    touch(card + QStringLiteral("/DCIM/clip.mov"), 10);
    touch(card + QStringLiteral("/DCIM/notes.txt"), 10);
    touch(card + QStringLiteral("/DCIM/CR2"), 10);

    const ImportReview review = scanned({source(QStringLiteral("CARD"), card)});
    QCOMPARE(filenames(review),
             QStringList({QStringLiteral("A.DnG"),
                          QStringLiteral("IMG_0001.CR2"),
                          QStringLiteral("img_0002.cr2"),
                          QStringLiteral("PIC.HEIC"),
                          QStringLiteral("PIC.JPEG")}));
    QCOMPARE(review.candidateCount(), 3);
    QCOMPARE(review.totalSupportedBytes(), 600);

    const ImportReviewItem *raw = itemNamed(review, QStringLiteral("IMG_0001.CR2"));
    QCOMPARE(*raw,
             ImportReviewItem(QStringLiteral("CARD"),
                              card + QStringLiteral("/DCIM/IMG_0001.CR2"),
                              QStringLiteral("IMG_0001.CR2"),
                              100,
                              supported,
                              std::nullopt,
                              QStringLiteral("DCIM/IMG_0001.CR2")));
    QCOMPARE(raw->id, raw->url);
    const ImportReviewItem *jpeg = itemNamed(review, QStringLiteral("PIC.JPEG"));
    QCOMPARE(jpeg->status, excluded);
    QCOMPARE(jpeg->byteCount, 5000);
    QCOMPARE(jpeg->supportedByteCount(), 0);
    QCOMPARE(jpeg->sourceRelativePath, QStringLiteral("DCIM/PIC.JPEG"));
}

void ImportReviewBuilderTests::sidecarsPairByFolderAndStem()
{
    QTemporaryDir dir;
    const QString media = dir.path() + QStringLiteral("/DCIM/100MEDIA");
    touch(media + QStringLiteral("/IMG_0001.CR2"), 1000);
    touch(media + QStringLiteral("/img_0001.XMP"), 40);
    touch(media + QStringLiteral("/IMG_0002.CR2"), 1000);
    touch(media + QStringLiteral("/IMG_0002.CR2.xmp"), 41);
    touch(media + QStringLiteral("/IMG_0003.CR2"), 1000);
    touch(media + QStringLiteral("/IMG_0003.DNG"), 2000);
    touch(media + QStringLiteral("/IMG_0003.xmp"), 42);
    touch(dir.path() + QStringLiteral("/DCIM/101MEDIA/IMG_0004.xmp"), 43);
    touch(media + QStringLiteral("/IMG_0004.NEF"), 1000);

    const ImportReview review = scanned({source(QStringLiteral("CARD"), dir.path())});
    QCOMPARE(filenames(review),
             QStringList({QStringLiteral("IMG_0001.CR2"),
                          QStringLiteral("IMG_0002.CR2"),
                          QStringLiteral("IMG_0002.CR2.xmp"),
                          QStringLiteral("IMG_0003.CR2"),
                          QStringLiteral("IMG_0003.DNG"),
                          QStringLiteral("IMG_0004.NEF"),
                          QStringLiteral("IMG_0004.xmp")}));

    const ImportReviewSidecar first{
        media + QStringLiteral("/img_0001.XMP"), QStringLiteral("img_0001.XMP"), 40};
    QCOMPARE(itemNamed(review, QStringLiteral("IMG_0001.CR2"))->sidecar, first);
    QCOMPARE(itemNamed(review, QStringLiteral("IMG_0001.CR2"))->supportedByteCount(), 1040);

    // "IMG_0002.CR2.xmp" has the key of "IMG_0002.CR2", not of the RAW original.
    QCOMPARE(itemNamed(review, QStringLiteral("IMG_0002.CR2"))->sidecar, std::nullopt);
    const ImportReviewItem *orphan = itemNamed(review, QStringLiteral("IMG_0002.CR2.xmp"));
    QCOMPARE(orphan->status, unpaired);
    QCOMPARE(orphan->sourceRelativePath, std::nullopt);
    QCOMPARE(orphan->byteCount, 41);

    // Two RAW originals with one stem share the sidecar.
    const ImportReviewSidecar shared{
        media + QStringLiteral("/IMG_0003.xmp"), QStringLiteral("IMG_0003.xmp"), 42};
    QCOMPARE(itemNamed(review, QStringLiteral("IMG_0003.CR2"))->sidecar, shared);
    QCOMPARE(itemNamed(review, QStringLiteral("IMG_0003.DNG"))->sidecar, shared);
    QCOMPARE(review.totalSupportedBytes(), 1040 + 1000 + 1042 + 2042 + 1000);

    // A sidecar in another folder never pairs.
    QCOMPARE(itemNamed(review, QStringLiteral("IMG_0004.NEF"))->sidecar, std::nullopt);
    QCOMPARE(itemNamed(review, QStringLiteral("IMG_0004.xmp"))->status, unpaired);
}

void ImportReviewBuilderTests::sidecarsWithOneKey()
{
    QTemporaryDir dir;
    const QString paired = dir.path() + QStringLiteral("/paired");
    touch(paired + QStringLiteral("/IMG_1.ARW"), 10);
    touch(paired + QStringLiteral("/IMG_1.xmp"), 1);
    touch(paired + QStringLiteral("/img_1.XMP"), 2);
    const QString alone = dir.path() + QStringLiteral("/alone");
    touch(alone + QStringLiteral("/IMG_1.xmp"), 1);
    touch(alone + QStringLiteral("/img_1.XMP"), 2);

    const ImportReview review = scanned({source(QStringLiteral("A"), dir.path())});
    QCOMPARE(review.items.size(), 3);
    const ImportReviewItem &raw = review.items.at(2);
    QCOMPARE(raw.filename, QStringLiteral("IMG_1.ARW"));
    QVERIFY(raw.sidecar);
    QVERIFY(raw.sidecar->filename == QStringLiteral("IMG_1.xmp")
            || raw.sidecar->filename == QStringLiteral("img_1.XMP"));
    QCOMPARE(review.items.at(0).status, unpaired);
    QCOMPARE(review.items.at(1).status, unpaired);
    QCOMPARE(QSet<QString>({review.items.at(0).filename, review.items.at(1).filename}),
             QSet<QString>({QStringLiteral("IMG_1.xmp"), QStringLiteral("img_1.XMP")}));
}

void ImportReviewBuilderTests::hiddenEntriesAreNeverListed()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    touch(root + QStringLiteral("/DCIM/IMG_0001.CR3"), 10);
    touch(root + QStringLiteral("/DCIM/.IMG_0002.CR3"), 10);
    touch(root + QStringLiteral("/DCIM/.IMG_0003.CR3.pellwick-partial"), 10);
    touch(root + QStringLiteral("/DCIM/.pellwick-copy-in-progress"), 10);
    touch(root + QStringLiteral("/.Trashes/501/IMG_0004.CR3"), 10);
    touch(root + QStringLiteral("/DCIM/.thumbs/deep/IMG_0005.JPG"), 10);
    touch(root + QStringLiteral("/Package.app/Contents/IMG_0006.DNG"), 10);
    QVERIFY(QFile::link(root + QStringLiteral("/DCIM/IMG_0001.CR3"),
                        root + QStringLiteral("/DCIM/IMG_0007.CR3")));
    QVERIFY(QFile::link(root + QStringLiteral("/DCIM"), root + QStringLiteral("/Linked")));

    const ImportReview review = scanned({source(QStringLiteral("Ingest Cache"), root)});
    // Symbolic links are neither files nor descended into.
    QCOMPARE(filenames(review),
             QStringList({QStringLiteral("IMG_0001.CR3"), QStringLiteral("IMG_0006.DNG")}));
}

void ImportReviewBuilderTests::itemsSortLikeAFileBrowser()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    const QStringList created{QStringLiteral("DCIM/100MEDIA/IMG_10.CR2"),
                              QStringLiteral("DCIM/100MEDIA/img_2.cr2"),
                              QStringLiteral("DCIM/100MEDIA/IMG_010.CR2"),
                              QStringLiteral("DCIM/100MEDIA/IMG_1.CR2"),
                              QStringLiteral("DCIM/100MEDIA/Img_1b.CR2"),
                              QStringLiteral("DCIM/100MEDIA/IMG_9.JPG"),
                              QStringLiteral("DCIM/99MEDIA/IMG_99999999999999999999.CR2"),
                              QStringLiteral("DCIM/99MEDIA/IMG_100000000000000000000.CR2"),
                              QStringLiteral("DCIM/99MEDIA/IMG_A.CR2"),
                              QStringLiteral("dcim/a.CR2"),
                              QStringLiteral("DCIM 2/a.CR2")};
    for (const QString &path : created)
        touch(root + QLatin1Char('/') + path);

    // The order must not depend on the process locale.
    const QByteArray savedLocale = qgetenv("LC_ALL");
    qputenv("LC_ALL", "C");
    const ImportReview review = scanned({source(QStringLiteral("CARD"), root)});
    qputenv("LC_ALL", savedLocale);

    QStringList relative;
    for (const ImportReviewItem &item : review.items)
        relative.append(*item.sourceRelativePath);
    const QStringList expected{QStringLiteral("DCIM 2/a.CR2"),
                               QStringLiteral("DCIM/99MEDIA/IMG_99999999999999999999.CR2"),
                               QStringLiteral("DCIM/99MEDIA/IMG_100000000000000000000.CR2"),
                               QStringLiteral("DCIM/99MEDIA/IMG_A.CR2"),
                               QStringLiteral("DCIM/100MEDIA/IMG_1.CR2"),
                               QStringLiteral("DCIM/100MEDIA/Img_1b.CR2"),
                               QStringLiteral("DCIM/100MEDIA/img_2.cr2"),
                               QStringLiteral("DCIM/100MEDIA/IMG_9.JPG"),
                               QStringLiteral("DCIM/100MEDIA/IMG_10.CR2"),
                               QStringLiteral("DCIM/100MEDIA/IMG_010.CR2"),
                               QStringLiteral("dcim/a.CR2")};
    QCOMPARE(relative, expected);
}

void ImportReviewBuilderTests::equalPathsKeepSourceOrder()
{
    // Paths that differ only in letter case tie, and a tie keeps the gathering order: sources
    // in the order given.
    QTemporaryDir dir;
    touch(dir.path() + QStringLiteral("/Card/IMG_1.CR2"));
    touch(dir.path() + QStringLiteral("/card/img_1.cr2"));
    const ImportScanVolume upper
        = source(QStringLiteral("upper"), dir.path() + QStringLiteral("/Card"));
    const ImportScanVolume lower
        = source(QStringLiteral("lower"), dir.path() + QStringLiteral("/card"));
    QCOMPARE(filenames(scanned({upper, lower})),
             QStringList({QStringLiteral("IMG_1.CR2"), QStringLiteral("img_1.cr2")}));
    QCOMPARE(filenames(scanned({lower, upper})),
             QStringList({QStringLiteral("img_1.cr2"), QStringLiteral("IMG_1.CR2")}));

    // A file reachable under two sources is listed once per source, with equal ids.
    const ImportScanVolume whole = source(QStringLiteral("whole"), dir.path());
    const ImportReview twice = scanned({upper, whole});
    QCOMPARE(twice.items.size(), 3);
    QCOMPARE(twice.items.at(0).volumeName, QStringLiteral("upper"));
    QCOMPARE(twice.items.at(0).sourceRelativePath, QStringLiteral("IMG_1.CR2"));
    QCOMPARE(twice.items.at(1).volumeName, QStringLiteral("whole"));
    QCOMPARE(twice.items.at(1).sourceRelativePath, QStringLiteral("Card/IMG_1.CR2"));
    QCOMPARE(twice.items.at(0).id, twice.items.at(1).id);
}

void ImportReviewBuilderTests::severalSourcesInterleaveByPath()
{
    QTemporaryDir dir;
    const QString cardA = dir.path() + QStringLiteral("/A");
    const QString cardB = dir.path() + QStringLiteral("/B");
    touch(cardA + QStringLiteral("/DCIM/100MEDIA/IMG_0002.RAF"), 7);
    touch(cardB + QStringLiteral("/DCIM/100MEDIA/IMG_0001.RAF"), 8);
    touch(cardA + QStringLiteral("/DCIM/100MEDIA/IMG_0003.ORF"), 9);
    touch(cardB + QStringLiteral("/notes.xmp"), 1);

    const QList<ImportScanVolume> sources{
        {QStringLiteral("Second"), cardB + QStringLiteral("/"), QStringLiteral("UUID-B")},
        {QStringLiteral("First"), cardA, std::nullopt}};
    const ImportReview review = scanned(sources);
    QCOMPARE(review.volumes, sources);
    QStringList seen;
    for (const ImportReviewItem &item : review.items)
        seen.append(item.volumeName + QLatin1Char(':')
                    + item.sourceRelativePath.value_or(QStringLiteral("-")));
    QCOMPARE(seen,
             QStringList({QStringLiteral("First:DCIM/100MEDIA/IMG_0002.RAF"),
                          QStringLiteral("First:DCIM/100MEDIA/IMG_0003.ORF"),
                          QStringLiteral("Second:DCIM/100MEDIA/IMG_0001.RAF"),
                          QStringLiteral("Second:-")}));
    QCOMPARE(review.totalSupportedBytes(), 24);
}

void ImportReviewBuilderTests::emptyAndMissingSources()
{
    const ImportReview empty = scanned({});
    QVERIFY(empty.volumes.isEmpty());
    QVERIFY(empty.items.isEmpty());

    QTemporaryDir dir;
    touch(dir.path() + QStringLiteral("/only/PIC.JPG"), 4096);
    const QList<ImportScanVolume> sources{
        source(QStringLiteral("Gone"), dir.path() + QStringLiteral("/missing")),
        source(QStringLiteral("Photos"), dir.path() + QStringLiteral("/only")),
        source(QStringLiteral("A file"), dir.path() + QStringLiteral("/only/PIC.JPG"))};
    const ImportReview review = scanned(sources);
    QCOMPARE(review.volumes, sources);
    QCOMPARE(review.items.size(), 1);
    QCOMPARE(review.candidateCount(), 0);
    QCOMPARE(review.totalSupportedBytes(), 0);

    // A root that cannot be listed contributes nothing, as a missing one does.
    auto files = std::make_shared<FaultInjectingFileManager>();
    files->failOperation(
        FileOperation::EntriesOfDirectory, EACCES, dir.path() + QStringLiteral("/only"));
    Result<ImportReview> unreadable = scan({sources.at(1)}, files);
    QVERIFY(unreadable);
    QVERIFY(unreadable->items.isEmpty());
}

void ImportReviewBuilderTests::unreadableSubfolderFailsTheScan()
{
    QTemporaryDir dir;
    touch(dir.path() + QStringLiteral("/DCIM/100MEDIA/IMG_0001.CR3"));
    touch(dir.path() + QStringLiteral("/DCIM/101MEDIA/IMG_0002.CR3"));
    QDir().mkpath(dir.path() + QStringLiteral("/lost+found"));
    QDir().mkpath(dir.path() + QStringLiteral("/DCIM/lost+found"));

    // lost+found directly under the root is never read; anywhere else it is a folder like any.
    auto files = std::make_shared<FaultInjectingFileManager>();
    files->failOperation(FileOperation::EntriesOfDirectory, EACCES, QStringLiteral("/lost+found"));
    Result<ImportReview> review = scan({source(QStringLiteral("CARD"), dir.path())}, files);
    QVERIFY(!review);
    QCOMPARE(review.error(),
             Error(FileSystemError{QStringLiteral("opendir"),
                                   dir.path() + QStringLiteral("/DCIM/lost+found"),
                                   EACCES}));
    QVERIFY(!files->log().contains(QStringLiteral("entriesOfDirectory ") + dir.path()
                                   + QStringLiteral("/lost+found")));

    QVERIFY(QDir(dir.path() + QStringLiteral("/DCIM/lost+found")).removeRecursively());
    Result<ImportReview> withoutIt = scan({source(QStringLiteral("CARD"), dir.path())}, files);
    QVERIFY(withoutIt);
    QCOMPARE(withoutIt->items.size(), 2);

    // A folder of a failing card that cannot be read must not vanish from the review.
    files->failOperation(FileOperation::EntriesOfDirectory, EIO, QStringLiteral("/101MEDIA"));
    Result<ImportReview> failing = scan({source(QStringLiteral("CARD"), dir.path())}, files);
    QVERIFY(!failing);
    QCOMPARE(failing.error(),
             Error(FileSystemError{
                 QStringLiteral("opendir"), dir.path() + QStringLiteral("/DCIM/101MEDIA"), EIO}));
}

void ImportReviewBuilderTests::nameThatIsNotUtf8FailsTheScan()
{
    QTemporaryDir dir;
    // QTemporaryDir cannot remove names that are not valid in the file name encoding.
    const auto removeByBytes = qScopeGuard([&dir] {
        std::error_code ignored;
        std::filesystem::remove_all(QFile::encodeName(dir.path()).toStdString(), ignored);
    });
    const QByteArray folder = QFile::encodeName(dir.path()) + "/DCIM";
    QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
    const auto create = [](const QByteArray &path) {
        const int fd = ::open(QByteArray(path).constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    };
    touch(dir.path() + QStringLiteral("/DCIM/IMG_0001.CR2"));
    // Latin-1 names that are not UTF-8 and are not listed are ignored.
    create(folder + "/notes-\xe9t\xe9.txt");
    create(folder + "/IMG_0002.\xff");
    Result<ImportReview> fine = scan({source(QStringLiteral("CARD"), dir.path())});
    QVERIFY(fine);
    QCOMPARE(fine->items.size(), 1);

    create(folder + "/caf\xe9-\xc3\xa9.CR2");
    Result<ImportReview> review = scan({source(QStringLiteral("CARD"), dir.path())});
    QVERIFY(!review);
    QCOMPARE(review.error(),
             Error(FileSystemError{QStringLiteral("read name"),
                                   dir.path() + QStringLiteral("/DCIM/caf\\xE9-\u00e9.CR2"),
                                   EILSEQ}));

    // A folder whose name is not UTF-8 cannot be read, so its files would be missed.
    QVERIFY(::unlink(QByteArray(folder + "/caf\xe9-\xc3\xa9.CR2").constData()) == 0);
    QVERIFY(::mkdir(QByteArray(folder + "/\xff").constData(), 0755) == 0);
    Result<ImportReview> badFolder = scan({source(QStringLiteral("CARD"), dir.path())});
    QVERIFY(!badFolder);
    QCOMPARE(badFolder.error().as<FileSystemError>()->code, EILSEQ);
    QCOMPARE(badFolder.error().as<FileSystemError>()->path,
             dir.path() + QStringLiteral("/DCIM/\\xFF"));
}

void ImportReviewBuilderTests::deepTreeIsScannedOnASmallStack()
{
    // Folders named "d" four hundred levels deep, one in the other, a RAW original in each of the
    // deepest; the scan runs on a worker thread with a small stack.
    QTemporaryDir dir;
    QString folder = dir.path();
    QStringList expected;
    for (int depth = 1; depth <= 400; ++depth) {
        folder += QStringLiteral("/d");
        QVERIFY(QDir().mkdir(folder));
        if (depth > 397) {
            touch(folder + QStringLiteral("/IMG.CR2"), 3);
            expected.append(QStringLiteral("IMG.CR2"));
        }
    }
    std::optional<Result<ImportReview>> review;
    QThread *worker
        = QThread::create([&] { review = scan({source(QStringLiteral("CARD"), dir.path())}); });
    worker->setStackSize(64 * 1024);
    worker->start();
    QVERIFY(worker->wait());
    delete worker;

    QVERIFY(review && *review);
    QCOMPARE(filenames(**review), expected);
    QCOMPARE((*review)->items.first().url, folder + QStringLiteral("/IMG.CR2"));
}

void ImportReviewBuilderTests::reviewStateConfirmation()
{
    ImportReviewState state;
    QCOMPARE(state.review, std::nullopt);
    state.confirmReview();
    QVERIFY(!state.isConfirmed);

    const ImportReview review{{source(QStringLiteral("CARD"), QStringLiteral("/media/CARD"))}, {}};
    state.replaceReview(review);
    state.confirmReview();
    QVERIFY(state.isConfirmed);
    state.replaceReview(review);
    QVERIFY(!state.isConfirmed);
    QCOMPARE(state.review, review);
    state.confirmReview();
    state.clearReview();
    QCOMPARE(state, ImportReviewState{});
}

void ImportReviewBuilderTests::stoppedScanEndsAndTheNextOneIsComplete_data()
{
    // Checkpoints are the folder listings: the first root, then its folders, then the second.
    QTest::addColumn<int>("stopAt");
    QTest::newRow("before the scan") << 0;
    QTest::newRow("listing the first root") << 1;
    QTest::newRow("inside the first source") << 3;
    QTest::newRow("last folder of the first source") << 5;
    QTest::newRow("listing the second root") << 6;
    QTest::newRow("inside the second source") << 7;
}

void ImportReviewBuilderTests::stoppedScanEndsAndTheNextOneIsComplete()
{
    QFETCH(int, stopAt);
    QTemporaryDir dir;
    for (int folder = 100; folder < 104; ++folder) {
        touch(dir.path() + QStringLiteral("/card/DCIM/%1MEDIA/IMG_0001.CR3").arg(folder), 10);
        touch(dir.path() + QStringLiteral("/card/DCIM/%1MEDIA/IMG_0001.xmp").arg(folder), 3);
    }
    touch(dir.path() + QStringLiteral("/folder/Day 1/DSC_0001.NEF"), 20);
    touch(dir.path() + QStringLiteral("/folder/Day 2/DSC_0002.NEF"), 20);
    const QList<ImportScanVolume> sources{
        source(QStringLiteral("CARD"), dir.path() + QStringLiteral("/card")),
        source(QStringLiteral("Folder"), dir.path() + QStringLiteral("/folder"))};
    auto files = std::make_shared<FaultInjectingFileManager>();
    StopAtCheckpoint stop(stopAt);
    files->beforeOperation(
        FileOperation::EntriesOfDirectory, QString(), [&](const QString &) { stop.checkpoint(); });
    const ImportReviewBuilder builder(files);

    const Result<ImportReview> stopped
        = stop.run([&] { return builder.buildReview(sources, stop.token()); });

    QVERIFY(stop.stopped());
    QVERIFY(!stopped);
    QCOMPARE(stopped.error(), Error(CancellationError{}));
    // Nothing of a stopped scan remains: the next one lists everything.
    const Result<ImportReview> again = builder.buildReview(sources);
    PELLWICK_VERIFY_SUCCESS(again);
    QCOMPARE(*again, scanned(sources));
    QCOMPARE(again->items.size(), 6);
}

QTEST_GUILESS_MAIN(ImportReviewBuilderTests)
#include "ImportReviewBuilderTests.moc"
