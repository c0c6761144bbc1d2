#include "ImportRoadFixture.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/UserManagedIngestCacheRefreshWorker.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

#include <Support/ContentHasherFakes.h>
#include <Support/ImporterFakes.h>
#include <Support/LibraryFixtures.h>
#include <Support/LoopDiskImage.h>
#include <unistd.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

using Status = LibraryItemImportStatus;

namespace {

/// Fails hashes of paths containing `fragment` while `failing` is set; hashes the rest.
class SwitchableHasher final : public ContentHashing
{
public:
    explicit SwitchableHasher(QString fragment)
        : m_fragment(std::move(fragment))
    {}

    Result<QString> contentHash(const QString &path, std::stop_token stop) const override
    {
        if (failing && path.contains(m_fragment))
            return failure(FileSystemError{u"open"_s, path, EACCES});
        return m_real.contentHash(path, stop);
    }

    std::atomic<bool> failing = true;

private:
    QString m_fragment;
    SHA256ContentHasher m_real;
};

const QString markerName = u".pellwick-copy-in-progress"_s;

} // namespace

class AddToIngestCacheTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addsEveryCopiedOriginal_data();
    void addsEveryCopiedOriginal();
    void guardsChangeNothing_data();
    void guardsChangeNothing();
    void failureKeepsTheReviewAndASecondAddCompletes_data();
    void failureKeepsTheReviewAndASecondAddCompletes();
    void addPressedTwiceCopiesOnce_data();
    void addPressedTwiceCopiesOnce();
    void reviewScannedDuringTheCopyIsKept();
    void refreshStartedJustBeforeAddIsNotApplied();
    void diskWorkStaysOffTheMainThread();
    void viewModelDestroyedDuringTheCopyLeavesTheBatchToResume();
};

struct AddCase
{
    int cards = 1;
    int raws = 2;
    /// Every card is named "EOS_DIGITAL".
    bool sameName = false;
    bool german = false;
    /// A cached original is written to after its copy was verified, before its record is made.
    bool changedAfterCopy = false;
    /// This many of the card's RAW originals were added and archived before, their copies
    /// cleaned up.
    int archived = 0;
    LibraryItemImportStatus archivedAs = LibraryItemImportStatus::VerifiedBackup;
    /// A byte copy of IMG_0000.DNG, which has a sidecar, at this path below the card, with a
    /// sidecar of `copySidecar`'s bytes (the original's when empty).
    QString byteCopy = {};
    QByteArray copySidecar = {};
    /// The byte copy was archived as a duplicate of IMG_0000.DNG, the archive holding its sidecar's
    /// bytes under the name IMG_0000.xmp.
    bool copyArchivedAsDuplicate = false;
    /// The other way round: IMG_0000.DNG, first in the library, was archived as a duplicate of the
    /// byte copy, the archive holding its sidecar's bytes under the copy's sidecar name.
    bool originalArchivedAsDuplicate = false;
    /// The card is added again this many times, each saying `message`; with `rebuilt`, the
    /// library is rebuilt from the backend's items before the last time.
    int addedAgain = 1;
    bool rebuilt = false;
    /// The card was added before with this many RAW originals, which still wait in the cache.
    int waiting = 0;
    /// Before the card is added again, the cached IMG_0000.xmp is edited and the cache refreshed.
    bool editedSidecar = false;
    /// While the card is added again, the earlier cached IMG_0000.xmp is edited once its bytes
    /// were checked; the cache is refreshed after the Add.
    bool editedDuringAdd = false;
    /// Instead of the waiting card, another card is added.
    bool newCard = false;
    /// The waiting records name the cache through a symbolic link, the cache in use its folder.
    bool recordsThroughLink = false;
    /// The reverse: the cache in use is named through a symbolic link, the records name its
    /// folder.
    bool cacheThroughLink = false;
    /// The removal of the earlier copy fails after its IMG_0000.DNG; the cache is refreshed
    /// after the Add.
    bool cutRemoval = false;
    QString message = u"Added 2 files to Ingest Cache"_s;
    /// The records the library holds at the end; none: one per RAW original of the cards.
    int records = 0;
};

Q_DECLARE_METATYPE(AddCase)

void AddToIngestCacheTests::addsEveryCopiedOriginal_data()
{
    QTest::addColumn<AddCase>("c");
    QTest::newRow("two packages from one card") << AddCase{};
    QTest::newRow("under a German locale") << AddCase{.german = true};
    QTest::newRow("two cards with one volume name")
        << AddCase{.cards = 2, .raws = 1, .sameName = true};
    QTest::newRow("a copy changed before its record") << AddCase{.changedAfterCopy = true};
    QTest::newRow("a card already archived") << AddCase{
        .archived = 2, .message = u"2 files already archived; nothing added to Ingest Cache"_s};
    QTest::newRow("a card archived as duplicates")
        << AddCase{.archived = 2,
                   .archivedAs = LibraryItemImportStatus::Duplicate,
                   .message = u"2 files already archived; nothing added to Ingest Cache"_s};
    QTest::newRow("a card partly archived, the rest waiting")
        << AddCase{.archived = 1,
                   .message = u"1 file already archived; nothing added to Ingest Cache; 1 was "
                              u"already there."_s};
    QTest::newRow("a card of one file already archived")
        << AddCase{.raws = 1,
                   .archived = 1,
                   .message = u"1 file already archived; nothing added to Ingest Cache"_s};
    QTest::newRow("a byte copy with a sidecar of its own")
        << AddCase{.byteCopy = u"DCIM/100TEST/IMG_0000_edit.DNG"_s,
                   .copySidecar = "<x:xmpmeta>edit</x:xmpmeta>",
                   .message = u"Added 3 files to Ingest Cache"_s,
                   .records = 3};
    QTest::newRow("a byte copy with an equal sidecar")
        << AddCase{.byteCopy = u"DCIM/101TEST/IMG_0000.DNG"_s,
                   .message = u"Added 2 files to Ingest Cache; 1 was already there."_s};
    QTest::newRow("an archived card added again, its byte copy a duplicate under other names")
        << AddCase{.archived = 3,
                   .byteCopy = u"DCIM/100TEST/IMG_0005.DNG"_s,
                   .copyArchivedAsDuplicate = true,
                   .message = u"3 files already archived; nothing added to Ingest Cache"_s,
                   .records = 3};
    QTest::newRow("an archived card with twins under other names added again, then rebuilt")
        << AddCase{.archived = 3,
                   .byteCopy = u"DCIM/100TEST/IMG_0005.DNG"_s,
                   .originalArchivedAsDuplicate = true,
                   .addedAgain = 4,
                   .rebuilt = true,
                   .message = u"3 files already archived; nothing added to Ingest Cache"_s,
                   .records = 2};
    QTest::newRow("a card added again while it waits")
        << AddCase{.raws = 3,
                   .waiting = 2,
                   .message = u"Added 1 file to Ingest Cache; 2 were already there."_s,
                   .records = 3};
    QTest::newRow("a card added again after a cached sidecar was edited")
        << AddCase{.waiting = 2,
                   .editedSidecar = true,
                   .message = u"Added 1 file to Ingest Cache; 1 was already there."_s,
                   .records = 3};
    QTest::newRow("a waiting sidecar edited while the card is added again") << AddCase{
        .waiting = 2,
        .editedDuringAdd = true,
        .message = u"2 files were already in Ingest Cache; their copies were replaced."_s,
        .records = 3};
    QTest::newRow("a new card while the waiting records name the cache through a link")
        << AddCase{.waiting = 2, .newCard = true, .recordsThroughLink = true, .records = 4};
    QTest::newRow("a new card while the cache in use is named through a link")
        << AddCase{.waiting = 2, .newCard = true, .cacheThroughLink = true, .records = 4};
    QTest::newRow("a waiting card added again, the earlier copy's removal cut before its sidecar")
        << AddCase{.waiting = 2,
                   .cutRemoval = true,
                   .message
                   = u"2 files were already in Ingest Cache; their copies were replaced."_s};
}

void AddToIngestCacheTests::addsEveryCopiedOriginal()
{
    QFETCH(AddCase, c);
    const QLocale previous;
    if (c.german)
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(previous); });
    ImportRoadFixture fixture;
    QList<ImportScanVolume> sources;
    QList<QMap<QString, QString>> before;
    for (int n = 0; n < c.cards; ++n) {
        writeCard(fixture.card(n), c.waiting > 0 ? c.waiting : c.raws, n + 1);
        sources.append(folderSource(fixture.card(n), c.sameName ? u"EOS_DIGITAL"_s : QString()));
        before.append(cardState(fixture.card(n)));
    }
    if (!c.byteCopy.isEmpty()) {
        const QString original = fixture.card(0) + u"/DCIM/100TEST/IMG_0000"_s;
        const QString copy = fixture.card(0) + u'/' + c.byteCopy.chopped(4);
        writeFile(copy + u".DNG"_s, readFile(original + u".DNG"_s));
        writeFile(copy + u".xmp"_s,
                  c.copySidecar.isEmpty() ? readFile(original + u".xmp"_s) : c.copySidecar);
        before[0] = cardState(fixture.card(0));
    }
    if (c.changedAfterCopy)
        fixture.files->beforeOperation(
            FileOperation::EntriesOfDirectory, u"/DCIM/100TEST"_s, [](const QString &folder) {
                QFile file(folder + u"/IMG_0000.DNG"_s);
                if (folder.contains(u"/IngestCache/"_s) && file.open(QIODevice::Append))
                    file.write("changed");
            });
    const QString link = fixture.filePath(u"CacheLink"_s);
    if (c.recordsThroughLink || c.cacheThroughLink)
        QVERIFY(QFile::link(fixture.cacheRoot(), link));
    if (c.cacheThroughLink)
        fixture.ingestCacheRoot = link;
    const auto model = fixture.make();
    QHash<QUuid, std::optional<QString>> archivedPlaces;
    if (c.archived > 0) {
        QVERIFY(scan(*model, sources));
        QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());
        QList<LocalLibraryItem> added = storedRecords(fixture.library);
        for (int n = 0; n < c.archived; ++n) {
            LocalLibraryItem &record = added[n];
            record.importStatus = c.archivedAs;
            archivedPlaces.insert(record.id, record.cacheRelativePath);
            if (record.ingestCacheSidecarURL) {
                record.archiveSidecarFilename = lastPathComponent(*record.ingestCacheSidecarURL);
                record.archiveSidecarByteCount = QFileInfo(*record.ingestCacheSidecarURL).size();
                record.archiveSidecarContentHash = record.ingestCacheSidecarContentHash;
            }
            record.backendLibraryItemID = 100 + n;
            if (c.copyArchivedAsDuplicate && record.originalFilename == u"IMG_0005.DNG"_s) {
                record.importStatus = LibraryItemImportStatus::Duplicate;
                record.archiveSidecarFilename = u"IMG_0000.xmp"_s;
                record.backendLibraryItemID = 100;
            }
        }
        if (c.originalArchivedAsDuplicate) {
            LocalLibraryItem &first = added[0];
            QCOMPARE(first.originalFilename, u"IMG_0000.DNG"_s);
            first.importStatus = LibraryItemImportStatus::Duplicate;
            first.archiveSidecarFilename = u"IMG_0005.xmp"_s;
            for (const LocalLibraryItem &record : std::as_const(added)) {
                if (record.originalFilename == u"IMG_0005.DNG"_s)
                    first.backendLibraryItemID = record.backendLibraryItemID;
            }
        }
        QVERIFY(fixture.library.writeItems(added));
        QVERIFY(QCoro::waitFor(
            model->ingestCacheWorkflows().cleanupArchivedCachePackages(std::nullopt)));
    }
    if (c.waiting > 0) {
        QVERIFY(scan(*model, sources));
        QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());
        if (c.editedSidecar) {
            const QStringList cached = filesNamed(fixture.cacheRoot(), u"IMG_0000.xmp"_s);
            QCOMPARE(cached.size(), 1);
            writeFile(cached.first(), "<x:xmpmeta>edited in the cache</x:xmpmeta>");
            model->ingestCacheWorkflows().scheduleUserManagedIngestCacheRefresh();
            QVERIFY(QTest::qWaitFor(
                [&] { return !model->ingestCacheWorkflows().isIngestCacheRefreshRunning(); }));
            // The way out the inspector names: the edited pair is a photo of its own, ready, and
            // adding the card again brings back the card's own sidecar.
            QList<Status> statuses;
            for (const LocalLibraryItem &record : storedRecords(fixture.library)) {
                statuses.append(record.importStatus);
                if (record.importStatus == Status::NeedsAttention)
                    QVERIFY(LibraryPresentation::importAttentionReason(record, {})
                                ->contains(u"add the card again"_s));
            }
            QCOMPARE(
                statuses,
                (QList{Status::NeedsAttention, Status::LocalCacheReady, Status::LocalCacheReady}));
        }
        if (c.editedDuringAdd) {
            const QString sidecar = filesNamed(fixture.cacheRoot(), u"IMG_0000.xmp"_s).value(0);
            fixture.files->beforeOperation(
                FileOperation::FileExists,
                filesNamed(fixture.cacheRoot(), u"IMG_0001.DNG"_s).value(0),
                [sidecar, once = std::make_shared<std::once_flag>()](const QString &) {
                    std::call_once(*once, [&] {
                        writeFile(sidecar, "<x:xmpmeta>edited in the cache</x:xmpmeta>");
                    });
                });
        }
        if (c.recordsThroughLink || c.cacheThroughLink) {
            const QString inUse = c.cacheThroughLink ? link : fixture.cacheRoot();
            QList<LocalLibraryItem> respelled = storedRecords(fixture.library);
            for (LocalLibraryItem &record : respelled) {
                for (std::optional<QString> *url :
                     {&record.ingestCacheOriginalURL, &record.ingestCacheSidecarURL}) {
                    if (*url)
                        (*url)->replace(inUse, c.cacheThroughLink ? fixture.cacheRoot() : link);
                }
            }
            QVERIFY(fixture.library.writeItems(respelled));
        }
        if (c.cutRemoval)
            fixture.files->failOperation(
                FileOperation::RemoveItem, EIO, u"100TEST/IMG_0000.xmp"_s, 1);
        if (c.newCard) {
            writeCard(fixture.card(1), c.raws, 2);
            sources = {folderSource(fixture.card(1))};
        } else {
            writeCard(fixture.card(0), c.raws, 1);
            before[0] = cardState(fixture.card(0));
        }
    }
    for (int n = 1; n < c.addedAgain; ++n) {
        QVERIFY(scan(*model, sources));
        QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());
        QCOMPARE(model->importState().importErrorMessage(), c.message);
    }
    if (c.rebuilt) {
        QList<RemoteLibraryItem> listed;
        for (const LocalLibraryItem &record : storedRecords(fixture.library)) {
            if (record.importStatus == LibraryItemImportStatus::VerifiedBackup)
                listed.append(backendItem(record));
        }
        QVERIFY(fixture.library.rebuild(listed));
    }
    QVERIFY(scan(*model, sources));
    QSignalSpy flag(&model->importState(), &ImportState::isImportMessageSuccessChanged);

    QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());

    QCOMPARE(model->importState().importErrorMessage(), c.message);
    QVERIFY(model->importState().isImportMessageSuccess());
    QCOMPARE(flag.count(), 1);
    QVERIFY(!model->importState().importReviewState().review);
    QVERIFY(!model->importState().isImporting());
    QVERIFY(model->shellState().transferProgresses().isEmpty());
    if (c.editedDuringAdd || c.cutRemoval) {
        model->ingestCacheWorkflows().scheduleUserManagedIngestCacheRefresh();
        QVERIFY(QTest::qWaitFor(
            [&] { return !model->ingestCacheWorkflows().isIngestCacheRefreshRunning(); }));
    }
    const QList<LocalLibraryItem> records = storedRecords(fixture.library);
    QCOMPARE(records.size(), c.records > 0 ? c.records : c.cards * c.raws);
    // Every cached file is one record's, a RAW original under that record's name, its sidecar
    // beside it: the cache holds each pair once.
    QSet<QString> cachedFiles;
    QDirIterator cached(
        fixture.cacheRoot(), {u"*.DNG"_s, u"*.xmp"_s}, QDir::Files, QDirIterator::Subdirectories);
    while (cached.hasNext())
        cachedFiles.insert(QFileInfo(cached.next()).canonicalFilePath());
    QSet<QString> named;
    for (const LocalLibraryItem &record : records) {
        if (!record.ingestCacheOriginalURL)
            continue;
        for (const std::optional<QString> &file :
             {record.ingestCacheOriginalURL, record.ingestCacheSidecarURL}) {
            if (file)
                named.insert(QFileInfo(*file).exists() ? QFileInfo(*file).canonicalFilePath()
                                                       : *file);
        }
        QCOMPARE(QFileInfo(*record.ingestCacheOriginalURL).fileName(), record.originalFilename);
        if (record.ingestCacheSidecarURL)
            QCOMPARE(QFileInfo(*record.ingestCacheSidecarURL).completeBaseName(),
                     QFileInfo(*record.ingestCacheOriginalURL).completeBaseName());
    }
    QCOMPARE(named, cachedFiles);
    int archived = 0;
    for (const LocalLibraryItem &record : records) {
        if ((c.editedSidecar || c.editedDuringAdd)
            && !record.sourceMediaEvidence) { // the pair edited in the cache
            QCOMPARE(record.importStatus, LibraryItemImportStatus::LocalCacheReady);
            QCOMPARE(readFile(*record.ingestCacheSidecarURL),
                     QByteArray("<x:xmpmeta>edited in the cache</x:xmpmeta>"));
            continue;
        }
        if (record.importStatus == c.archivedAs
            || record.importStatus == LibraryItemImportStatus::Duplicate) {
            QVERIFY(!record.ingestCacheOriginalURL);
            // The new copy was only attached for its cleanup: the record stays in its folder.
            QCOMPARE(record.cacheRelativePath, archivedPlaces.value(record.id));
            ++archived;
            continue;
        }
        QCOMPARE(record.importStatus, LibraryItemImportStatus::LocalCacheReady);
        // The evidence leads to the card the file came from: the cards' files differ.
        QVERIFY(record.sourceMediaEvidence);
        const SourceMediaEvidence &evidence = *record.sourceMediaEvidence;
        QCOMPARE(referenceSha256(readFile(*record.ingestCacheOriginalURL)), record.contentHash);
        QCOMPARE(referenceSha256(readFile(evidence.sourceRootURL + u'/' + evidence.rawRelativePath))
                     == record.contentHash,
                 !c.changedAfterCopy || record.originalFilename != u"IMG_0000.DNG"_s);
    }
    // The rebuild keeps one record per backend item: the duplicate's goes.
    QCOMPARE(archived, c.rebuilt ? c.archived - 1 : c.archived);
    for (int n = 0; n < c.cards; ++n)
        QCOMPARE(cardState(fixture.card(n)), before[n]);
}

struct GuardCase
{
    bool review = true;
    bool movePending = false;
    bool moveRunning = false;
    /// No cache root and no saved location: the first-run gate asks.
    bool firstRun = false;
};

Q_DECLARE_METATYPE(GuardCase)

void AddToIngestCacheTests::guardsChangeNothing_data()
{
    QTest::addColumn<GuardCase>("c");
    QTest::newRow("no review") << GuardCase{.review = false};
    QTest::newRow("a move pending") << GuardCase{.movePending = true};
    QTest::newRow("a move running") << GuardCase{.moveRunning = true};
    QTest::newRow("the first-run gate asks") << GuardCase{.firstRun = true};
}

void AddToIngestCacheTests::guardsChangeNothing()
{
    QFETCH(GuardCase, c);
    ImportRoadFixture fixture;
    writeCard(fixture.card(0), 1);
    if (c.firstRun) {
        QDir(fixture.cacheRoot()).removeRecursively();
        fixture.locationStore = std::make_shared<InMemoryIngestCacheLocationStore>();
    }
    const auto model = fixture.make();
    if (c.review)
        QVERIFY(scan(*model, {folderSource(fixture.card(0))}));
    if (c.movePending)
        model->ingestCacheState().setPendingIngestCacheMigration(
            IngestCacheLocationStoring::PendingMigration{fixture.cacheRoot(), u"/elsewhere"_s});
    model->ingestCacheState().setIsMigratingIngestCache(c.moveRunning);
    QSignalSpy importing(&model->importState(), &ImportState::isImportingChanged);
    QSignalSpy message(&model->importState(), &ImportState::importErrorMessageChanged);

    QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());

    QCOMPARE(importing.count(), 0);
    QCOMPARE(message.count(), 0);
    QCOMPARE(model->importState().importReviewState().review.has_value(), c.review);
    QCOMPARE(model->importState().initialIngestCacheCreation().has_value(), c.firstRun);
    QVERIFY(storedRecords(fixture.library).isEmpty());
    QVERIFY(fileManifest(fixture.cacheRoot()).isEmpty());
}

struct FaultCase
{
    std::optional<FileOperation> operation = {};
    int code = 0;
    /// Matched below the fixture's directory.
    QString pathFragment = {};
    /// The matching call that fails, from 1.
    int occurrence = 1;
    int raws = 2;
    /// The card was added before and waits in the cache: the failing Add is its second.
    bool waiting = false;
    /// A refresh of the cache runs between the two Adds.
    bool refreshed = false;
    /// That refresh takes the message back.
    bool refreshClears = false;
    /// That refresh leaves one copy of each pair in the cache.
    bool refreshRemovesCopies = false;
    bool tooLittleSpace = false;
    bool unreadableCachedSidecar = false;
    /// The first copy hashes unlike its source.
    bool hashMismatch = false;
    /// The cache's folder is the mount point of a drive, away for the failing Add and back for
    /// the second.
    bool driveAway = false;
    /// What the Ingest Cache's file system reports as free.
    std::optional<FileSystemSpace> space = {};
    /// "<cache>" and "<library>" stand for the fixture's folders.
    QString message = u"Ingest Cache copy verification failed."_s;
    /// The second Add's; none: both files added.
    QString addedMessage = {};
};

Q_DECLARE_METATYPE(FaultCase)

void AddToIngestCacheTests::failureKeepsTheReviewAndASecondAddCompletes_data()
{
    QTest::addColumn<FaultCase>("c");
    const QString unsavedLibrary = u"Pellwick could not save the library in <library>: no space "
                                   u"left. The copies stay in the Ingest Cache; Refresh Cache "
                                   u"finds them again."_s;
    QTest::newRow("too little space") << FaultCase{
        .tooLittleSpace = true, .message = u"Ingest Cache needs 1 KB; 1 KB available."_s};
    QTest::newRow("EIO reading a source")
        << FaultCase{.operation = FileOperation::Read, .code = EIO, .pathFragment = u"/card0/"_s};
    QTest::newRow("ENOSPC writing a copy") << FaultCase{
        .operation = FileOperation::Write,
        .code = ENOSPC,
        .pathFragment = u"IMG_0000.DNG"_s,
        .message
        = u"No space left in <cache>. Free space there, then add to Ingest Cache again."_s};
    QTest::newRow("an immutable Ingest Cache")
        << FaultCase{.operation = FileOperation::CreateDirectory,
                     .code = EPERM,
                     .pathFragment = u"/IngestCache/"_s,
                     .message = u"<cache> cannot be written (not permitted). Ingest Cache "
                                u"location needs to be writable."_s};
    QTest::newRow("a copy's partial file refused")
        << FaultCase{.operation = FileOperation::CreateFile,
                     .code = EROFS,
                     .pathFragment = u".pellwick-partial"_s,
                     .message = u"<cache> cannot be written (read-only). Ingest Cache location "
                                u"needs to be writable."_s};
    QTest::newRow("a copy's partial file refused for want of file entries")
        << FaultCase{.operation = FileOperation::CreateFile,
                     .code = ENOSPC,
                     .pathFragment = u".pellwick-partial"_s,
                     .space = FileSystemSpace{196 << 20, 0, 4096},
                     .message = u"<cache> can hold no more files: its file system has no free file "
                                u"entries left (196 MB are free). Remove files there or choose "
                                u"another folder, then add to Ingest Cache again."_s};
    QTest::newRow("a copy hashing unlike its source") << FaultCase{.hashMismatch = true};
    QTest::newRow("ENOSPC after three files, a refresh between") << FaultCase{
        .operation = FileOperation::CreateFile,
        .code = ENOSPC,
        .pathFragment = u".pellwick-partial"_s,
        .occurrence = 4,
        .raws = 8,
        .refreshed = true,
        .message
        = u"No space left in <cache>. Free space there, then add to Ingest Cache again."_s};
    QTest::newRow("a failed library write") << FaultCase{.operation = FileOperation::Write,
                                                         .code = ENOSPC,
                                                         .pathFragment = u"/LocalLibraryCache/"_s,
                                                         .message = unsavedLibrary};
    QTest::newRow("a failed library write, then Refresh Cache") << FaultCase{
        .operation = FileOperation::Write,
        .code = ENOSPC,
        .pathFragment = u"/LocalLibraryCache/"_s,
        .refreshed = true,
        .refreshClears = true,
        .message = unsavedLibrary,
        // Refresh Cache made records of the copies: they were held already.
        .addedMessage = u"2 files were already in Ingest Cache; their copies were replaced."_s};
    QTest::newRow("a failed library write while the card is added again") << FaultCase{
        .operation = FileOperation::Write,
        .code = ENOSPC,
        .pathFragment = u"/LocalLibraryCache/"_s,
        .occurrence = 3,
        .waiting = true,
        .message = unsavedLibrary,
        .addedMessage = u"2 files were already in Ingest Cache; their copies were replaced."_s};
    QTest::newRow("a failed library write while the card is added again, then Refresh Cache")
        << FaultCase{.operation = FileOperation::Write,
                     .code = ENOSPC,
                     .pathFragment = u"/LocalLibraryCache/"_s,
                     .occurrence = 3,
                     .waiting = true,
                     .refreshed = true,
                     .refreshClears = true,
                     .refreshRemovesCopies = true,
                     .message = unsavedLibrary,
                     .addedMessage
                     = u"2 files were already in Ingest Cache; their copies were replaced."_s};
    QTest::newRow("a waiting card added again, cut between a RAW and its sidecar, then Refresh")
        << FaultCase{.operation = FileOperation::MoveItem,
                     .code = EIO,
                     .pathFragment = u"IMG_0000.xmp"_s,
                     .occurrence = 2,
                     .waiting = true,
                     .refreshed = true,
                     .addedMessage
                     = u"2 files were already in Ingest Cache; their copies were replaced."_s};
    QTest::newRow("a cache whose drive is away, then back") << FaultCase{
        .waiting = true,
        .refreshed = true,
        .driveAway = true,
        .message = u"Ingest Cache folder <cache> is not available: its drive may "
                   u"need connecting. Its photos stay in the library, and nothing "
                   u"is added to it until it is back."_s,
        .addedMessage = u"2 files were already in Ingest Cache; their copies were replaced."_s};
    QTest::newRow("an unreadable cached sidecar") << FaultCase{
        .unreadableCachedSidecar = true, .message = u"Ingest Cache copy needs attention"_s};
}

void AddToIngestCacheTests::failureKeepsTheReviewAndASecondAddCompletes()
{
    QFETCH(FaultCase, c);
    ImportRoadFixture fixture;
    writeCard(fixture.card(0), c.raws);
    const QMap<QString, QString> before = cardState(fixture.card(0));
    if (c.operation) {
        fixture.files->failOperation(*c.operation, c.code, c.pathFragment, c.occurrence);
        fixture.library = LocalLibraryCache(fixture.libraryRoot(), fixture.files);
    }
    if (c.space)
        fixture.files->setAvailableSpace(u"/IngestCache/"_s, c.space);
    const auto spaceShort = std::make_shared<std::atomic<bool>>(c.tooLittleSpace);
    fixture.availableCapacity = [spaceShort](const QString &path) -> Result<qint64> {
        return *spaceShort ? Result<qint64>(1024) : IngestCache::systemAvailableCapacity(path);
    };
    const auto hasher = std::make_shared<SwitchableHasher>(u"/IngestCache/"_s);
    hasher->failing = c.unreadableCachedSidecar;
    fixture.workflowHasher = hasher;
    if (c.hashMismatch) // the source, then its copy
        fixture.contentHasher
            = std::make_shared<ScriptedContentHasher>(QList<Result<QString>>{u"a"_s, u"b"_s});
    c.message.replace(u"<cache>"_s, fixture.cacheRoot())
        .replace(u"<library>"_s, fixture.libraryRoot());
    std::unique_ptr<LoopDiskImage> drive;
    if (c.driveAway) {
        drive = ::geteuid() == 0 ? LoopDiskImage::create(fixture.dir.filePath(u"drive.img"_s))
                                 : nullptr;
        if (!drive || !drive->mountAt(fixture.cacheRoot()))
            QSKIP("a drive needs the administrator and a loop device");
    }
    const auto unmount = qScopeGuard([&] {
        if (drive)
            LoopDiskImage::unmountFrom(fixture.cacheRoot());
    });
    const auto model = fixture.make();
    if (c.waiting) {
        QVERIFY(scan(*model, {folderSource(fixture.card(0))}));
        QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());
    }
    const QList<LocalLibraryItem> waiting = storedRecords(fixture.library);
    if (drive)
        QVERIFY(LoopDiskImage::unmountFrom(fixture.cacheRoot()));
    QCOMPARE(waiting.size(), c.waiting ? c.raws : 0);
    QVERIFY(scan(*model, {folderSource(fixture.card(0))}));
    const ImportReview review = *model->importState().importReviewState().review;
    if (c.tooLittleSpace)
        c.message = u"Ingest Cache ("_s + fixture.cacheRoot() + u") needs "_s
                    + LibraryPresentation::byteText(review.totalSupportedBytes())
                    + u"; 1 KB available. Free space there, then add to Ingest Cache again."_s;

    QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());

    QCOMPARE(model->importState().importErrorMessage(), c.message);
    QVERIFY(!model->importState().isImportMessageSuccess());
    QCOMPARE(model->importState().importReviewState().review, review);
    QVERIFY(!model->importState().isImporting());
    QVERIFY(model->shellState().transferProgresses().isEmpty());
    QCOMPARE(storedRecords(fixture.library), waiting);
    QCOMPARE(cardState(fixture.card(0)), before);
    if (drive) // nothing beneath the mount point
        QCOMPARE(fileManifest(fixture.cacheRoot()), (QMap<QString, QString>()));
    if (c.refreshed) {
        model->ingestCacheWorkflows().scheduleUserManagedIngestCacheRefresh();
        QVERIFY(QTest::qWaitFor(
            [&] { return !model->ingestCacheWorkflows().isIngestCacheRefreshRunning(); }));
        QCOMPARE(model->importState().importErrorMessage(),
                 c.refreshClears ? std::nullopt : std::optional(c.message));
        if (drive)
            QCOMPARE(model->importState().importRecoveryMessage(), c.message);
        if (c.refreshRemovesCopies)
            QCOMPARE(filesNamed(fixture.cacheRoot(), u"*.DNG"_s).size(), c.raws);
    }

    *spaceShort = false;
    hasher->failing = false;
    if (drive) { // back: every record as it was, its card's evidence included
        QVERIFY(drive->mountAt(fixture.cacheRoot()));
        model->ingestCacheWorkflows().scheduleUserManagedIngestCacheRefresh();
        QVERIFY(QTest::qWaitFor(
            [&] { return !model->ingestCacheWorkflows().isIngestCacheRefreshRunning(); }));
        QCOMPARE(storedRecords(fixture.library), waiting);
        QCOMPARE(model->importState().importRecoveryMessage(), std::nullopt);
    }
    QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());

    QCOMPARE(model->importState().importErrorMessage(),
             c.addedMessage.isEmpty() ? u"Added %1 files to Ingest Cache"_s.arg(c.raws)
                                      : c.addedMessage);
    // Files copied by the failed Add may be copied again; their records are merged.
    const QList<LocalLibraryItem> records = storedRecords(fixture.library);
    QCOMPARE(records.size(), c.raws);
    QCOMPARE(cardState(fixture.card(0)), before);
    // The resumed batch kept what it held; a finished one was copied anew, and its earlier copy
    // went.
    QCOMPARE(filesNamed(fixture.cacheRoot(), u"*.DNG"_s).size(), c.raws);
    QSet<QUuid> ids;
    QSet<QString> named;
    for (const LocalLibraryItem &record : records) {
        QCOMPARE(record.importStatus, LibraryItemImportStatus::LocalCacheReady);
        ids.insert(record.id);
        // Each record names files of its own, there.
        QVERIFY(record.ingestCacheOriginalURL);
        for (const std::optional<QString> &file :
             {record.ingestCacheOriginalURL, record.ingestCacheSidecarURL}) {
            if (!file)
                continue;
            QVERIFY(QFileInfo::exists(*file) && !named.contains(*file));
            named.insert(*file);
        }
    }
    model->sessionState().setSession(
        AuthenticatedLibrarySession{u"token"_s, LibraryUser{1, u"ana@example.test"_s, {}}, {}});
    model->libraryState().setSelectedLibraryItemIDs(ids);
    const std::optional<ImportWorkflows::SelectedImportPlan> plan
        = QCoro::waitFor(model->importWorkflows().selectedImportPlan());
    QVERIFY(plan);
    QCOMPARE(plan->items.size(), c.raws);
}

void AddToIngestCacheTests::addPressedTwiceCopiesOnce_data()
{
    QTest::addColumn<bool>("duringTheCopy");
    QTest::newRow("during the gate") << false;
    QTest::newRow("during the copy") << true;
}

void AddToIngestCacheTests::addPressedTwiceCopiesOnce()
{
    QFETCH(bool, duringTheCopy);
    ImportRoadFixture fixture;
    writeCard(fixture.card(0), 2);
    Gate copying;
    if (duringTheCopy)
        fixture.files->beforeOperation(FileOperation::CreateDirectory,
                                       u"/IngestCache/"_s,
                                       [&](const QString &) { copying.wait(); });
    else
        copying.release();
    const auto model = fixture.make();
    QVERIFY(scan(*model, {folderSource(fixture.card(0))}));

    QCoro::Task<> first = model->importWorkflows().addReviewToIngestCache();
    if (duringTheCopy)
        QVERIFY(QTest::qWaitFor([&] { return copying.arrived() > 0; }));
    QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());
    copying.release();
    QCoro::waitFor(std::move(first));

    QCOMPARE(model->importState().importErrorMessage(), u"Added 2 files to Ingest Cache"_s);
    QCOMPARE(filesNamed(fixture.cacheRoot(), u"*.DNG"_s).size(), 2);
    QCOMPARE(storedRecords(fixture.library).size(), 2);
}

void AddToIngestCacheTests::reviewScannedDuringTheCopyIsKept()
{
    ImportRoadFixture fixture;
    writeCard(fixture.card(0), 2);
    writeCard(fixture.card(1), 1, 2);
    Gate copying;
    fixture.files->beforeOperation(FileOperation::CreateDirectory,
                                   u"/IngestCache/"_s,
                                   [&](const QString &) { copying.wait(); });
    const auto model = fixture.make();
    QVERIFY(scan(*model, {folderSource(fixture.card(0))}));

    QCoro::Task<> adding = model->importWorkflows().addReviewToIngestCache();
    QVERIFY(QTest::qWaitFor([&] { return copying.arrived() > 0; }));
    QVERIFY(scan(*model, {folderSource(fixture.card(1))}));
    const std::optional<ImportReview> scanned = model->importState().importReviewState().review;
    copying.release();
    QCoro::waitFor(std::move(adding));

    QCOMPARE(model->importState().importErrorMessage(), u"Added 2 files to Ingest Cache"_s);
    QVERIFY(scanned);
    QCOMPARE(model->importState().importReviewState().review, scanned);
}

void AddToIngestCacheTests::refreshStartedJustBeforeAddIsNotApplied()
{
    ImportRoadFixture fixture;
    writeCard(fixture.card(0), 2);
    const auto model = fixture.make();
    QVERIFY(scan(*model, {folderSource(fixture.card(0))}));
    const UserManagedIngestCacheRefreshWorker refresh(
        model->ingestCacheWorkflows().ingestCache(),
        fixture.library,
        ImportReviewBuilder(std::make_shared<LocalFileManager>()),
        std::make_shared<FixedMetadataExtractor>(PhotoMetadata{}),
        model->ingestCacheWorkflows().ingestCacheRefreshGeneration(),
        model->ingestCacheWorkflows().ingestCacheRefreshGeneration()->value());

    QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());
    const Result<IngestCacheReconciliation> reconciled = refresh.reconcile();

    QVERIFY(reconciled);
    QVERIFY(!reconciled->didApply);
    const QList<LocalLibraryItem> records = storedRecords(fixture.library);
    QCOMPARE(records.size(), 2);
    for (const LocalLibraryItem &record : records)
        QCOMPARE(record.importStatus, LibraryItemImportStatus::LocalCacheReady);
}

void AddToIngestCacheTests::diskWorkStaysOffTheMainThread()
{
    ImportRoadFixture fixture;
    writeCard(fixture.card(0), 2);
    QDir(fixture.cacheRoot()).removeRecursively();
    QMutex mutex;
    QList<std::thread::id> threads;
    for (int operation = 0; operation <= int(FileOperation::Truncate); ++operation)
        fixture.files->beforeOperation(FileOperation(operation), {}, [&](const QString &) {
            const QMutexLocker locker(&mutex);
            threads.append(std::this_thread::get_id());
        });
    const auto hasher = std::make_shared<CountingContentHasher>();
    fixture.contentHasher = hasher;
    const auto model = fixture.make();
    model->importWorkflows().scanFolder(fixture.card(0));
    QVERIFY(QTest::qWaitFor([&] { return !model->importState().isScanningImportSources(); }));

    QCoro::waitFor(model->importWorkflows().createInitialIngestCache(fixture.cacheRoot()));

    QCOMPARE(model->importState().importErrorMessage(), u"Added 2 files to Ingest Cache"_s);
    QVERIFY(!threads.isEmpty());
    QVERIFY(!threads.contains(std::this_thread::get_id()));
    QVERIFY(hasher->callCount() > 0);
    QVERIFY(!hasher->callingThreads().contains(std::this_thread::get_id()));
}

void AddToIngestCacheTests::viewModelDestroyedDuringTheCopyLeavesTheBatchToResume()
{
    ImportRoadFixture fixture;
    writeCard(fixture.card(0), 8);
    Gate copying;
    fixture.files->beforeOperation(FileOperation::CreateDirectory,
                                   u"/IngestCache/"_s,
                                   [&](const QString &) { copying.wait(); });
    auto model = fixture.make();
    QVERIFY(scan(*model, {folderSource(fixture.card(0))}));
    QCoro::Task<> adding = model->importWorkflows().addReviewToIngestCache();
    QVERIFY(QTest::qWaitFor([&] { return copying.arrived() > 0; }));

    model.reset();
    copying.release();
    QCoro::waitFor(std::move(adding));
    WorkflowPools::userInitiated().waitForDone();

    QCOMPARE(filesNamed(fixture.cacheRoot(), markerName).size(), 1);
    QVERIFY(storedRecords(fixture.library).isEmpty());

    model = fixture.make();
    QVERIFY(scan(*model, {folderSource(fixture.card(0))}));
    QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());

    QCOMPARE(model->importState().importErrorMessage(), u"Added 8 files to Ingest Cache"_s);
    QVERIFY(filesNamed(fixture.cacheRoot(), markerName).isEmpty());
    QCOMPARE(filesNamed(fixture.cacheRoot(), u"*.DNG"_s).size(), 8);
    QCOMPARE(storedRecords(fixture.library).size(), 8);
}

QTEST_GUILESS_MAIN(AddToIngestCacheTests)
#include "AddToIngestCacheTests.moc"
