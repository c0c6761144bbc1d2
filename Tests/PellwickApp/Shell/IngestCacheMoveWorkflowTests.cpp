#include "CacheMoveFixture.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>

#include <cerrno>
#include <thread>

#include <Support/ContentHasherFakes.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Status = LibraryItemImportStatus;
using PendingMigration = IngestCacheLocationStoring::PendingMigration;

class IngestCacheMoveWorkflowTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void texts_data();
    void texts();
    void failedCopyFreesTheCacheAndALaterMoveFinishes();
    void resumeAfterAFailedCompletionPublishesTheRetainedCache();
    void resumeDuringAMoveReturnsAtOnce();
    void scanCompletesWhileTheLibraryIsLocked();
    void relocatingManyRecordsIsOneStoreWrite();
};

enum class Act {
    Move,
    Resume,
    Launch,
    Synchronize,
    Delete,
    Remove
};

struct TextCase
{
    Act act = Act::Move;
    /// The texts assigned to the message fields by the act, in order; "<target>" stands for the
    /// target as the move was given it.
    QStringList texts;
    QString locale = u"C"_s;
    /// Appended to the active root as the view model is given it.
    QString rootSuffix = {};
    QString target = u"Moved"_s;
    Status status = Status::LocalCacheReady; ///< of package 0 (of three)
    /// A pending record stored before launch (names as `CacheMoveFixture::place`).
    QString pendingOld = {}, pendingNew = {};
    qint64 capacity = qint64(1) << 40;
    bool unwritableStore = false;
    bool targetInUse = false;
    /// After a move, before a retained-cache act: files changed in both caches (one file is
    /// always new in the old cache).
    int changedInBoth = 0;
    std::optional<FileOperation> fault = {};
    QString faultPath = {};
    int faultCode = EIO;
    /// Every copy in the target reads back different from its source.
    bool copiesDiffer = false;
    int removed = 1; ///< packages selected for removal
    bool importStartsDuringRemoval = false;
    bool pendingAfter = false;
    bool noCopy = false;
    /// The root the view model was given is still active and saved.
    bool keepsOldRoot = false;
};

Q_DECLARE_METATYPE(TextCase)

void IngestCacheMoveWorkflowTests::texts_data()
{
    QTest::addColumn<TextCase>("c");
    const QString ready = u"Ingest Cache move is ready to resume until verification completes."_s;
    const QString moved
        = u"Ingest Cache moved and verified. Keep the old cache until cleanup is available."_s;
    const QString outside = u"Choose an Ingest Cache location outside the current cache."_s;
    const QString attention = u"Ingest Cache migration needs attention."_s;
    const QString wait
        = u"Wait for active archive packages to finish before moving Ingest Cache."_s;
    const QList<std::pair<const char *, TextCase>> rows{
        {"root written with a slash",
         {.texts = {outside}, .rootSuffix = u"/"_s, .target = u"@"_s, .noCopy = true}},
        {"root written with a dot",
         {.texts = {outside}, .rootSuffix = u"/."_s, .target = u"@"_s, .noCopy = true}},
        {"root written with dot-dot",
         {.texts = {outside},
          .rootSuffix = u"/../IngestCache"_s,
          .target = u"@"_s,
          .noCopy = true}},
        {"a package uploading", {.texts = {wait}, .status = Status::Uploading, .noCopy = true}},
        {"moved", {.texts = {ready, moved}}},
        {"pending record unwritable",
         {.texts = {attention}, .unwritableStore = true, .noCopy = true}},
        {"too little space",
         {.texts = {ready,
                    u"<target> needs 12.1 KB; 1 KB available. Free space or choose another "
                    u"folder, then move again. The current Ingest Cache stays in use."_s},
          .capacity = 1024}},
        {"target not empty",
         {.texts = {ready, u"Choose an empty folder for Ingest Cache."_s}, .targetInUse = true}},
        {"target inside the root", {.texts = {ready, outside}, .target = u"@/inner"_s}},
        {"target fills mid-copy",
         {.texts = {ready,
                    u"No space left in <target>. Free space or choose another folder, then move "
                    u"again. The current Ingest Cache stays in use."_s},
          .fault = FileOperation::Write,
          .faultPath = u"Moved/b/.P1"_s,
          .faultCode = ENOSPC,
          .keepsOldRoot = true}},
        {"target read-only",
         {.texts = {ready,
                    u"<target> cannot be written (read-only). Choose another folder, then move "
                    u"again. The current Ingest Cache stays in use."_s},
          .fault = FileOperation::CreateDirectory,
          .faultPath = u"Moved"_s,
          .faultCode = EROFS,
          .keepsOldRoot = true}},
        {"copies differ",
         {.texts
          = {ready, u"Ingest Cache files kept changing; retry migration when editing stops."_s},
          .copiesDiffer = true,
          .keepsOldRoot = true}},
        {"completion fails after the new root was saved",
         {.texts = {ready, attention},
          .fault = FileOperation::RemoveItem,
          .faultPath = u"Moved/.pellwick-migration-in-progress"_s,
          .pendingAfter = true}},
        {"launch with a move under way",
         {.act = Act::Launch,
          .texts = {u"Ingest Cache migration needs attention. Resume it before changing cached "
                    "files."_s},
          .pendingOld = u"@"_s,
          .pendingNew = u"Moved"_s,
          .pendingAfter = true}},
        {"launch finalizes a record naming the root with a slash",
         {.act = Act::Launch, .texts = {moved}, .pendingOld = u"Old"_s, .pendingNew = u"@/"_s}},
        {"launch discards a record of one folder",
         {.act = Act::Launch,
          .texts = {outside},
          .pendingOld = u"Moved"_s,
          .pendingNew = u"Moved/."_s}},
        {"resume from the root written with a slash",
         {.act = Act::Resume, .texts = {moved}, .pendingOld = u"@/"_s, .pendingNew = u"Moved"_s}},
        {"resume after the location changed",
         {.act = Act::Resume,
          .texts = {u"Ingest Cache move cannot resume because the active cache location changed. "
                    "Start a new move."_s},
          .pendingOld = u"Elsewhere"_s,
          .pendingNew = u"Moved"_s,
          .pendingAfter = true}},
        {"resume while a package is verifying",
         {.act = Act::Resume,
          .texts = {wait},
          .status = Status::Verifying,
          .pendingOld = u"@"_s,
          .pendingNew = u"Moved"_s}},
        {"synchronization fails",
         {.act = Act::Synchronize,
          .texts = {u"Old cache synchronization needs attention."_s},
          .fault = FileOperation::CreateDirectory,
          .faultPath = u"Moved/b"_s}},
        {"two conflicts",
         {.act = Act::Synchronize,
          .texts = {u"Resolve 2 old-cache conflicts before deletion."_s},
          .changedInBoth = 2}},
        {"synchronized",
         {.act = Act::Synchronize,
          .texts = {u"Old cache is synchronized and ready for deletion confirmation."_s}}},
        {"deletion fails",
         {.act = Act::Delete,
          .texts = {u"Old Ingest Cache deletion needs attention."_s},
          .fault = FileOperation::RemoveItem,
          .faultPath = u"@"_s}},
        {"deleted",
         {.act = Act::Delete, .texts = {u"Old Ingest Cache deleted after verification."_s}}},
        {"one package removed", {.act = Act::Remove, .texts = {u"Removed 1 cache package"_s}}},
        {"three packages removed",
         {.act = Act::Remove, .texts = {u"Removed 3 cache packages"_s}, .removed = 3}},
        {"none removed",
         {.act = Act::Remove,
          .texts = {u"Removed 0 cache packages"_s},
          .importStartsDuringRemoval = true}},
    };
    for (const QString &locale : {u"C"_s, u"de_DE"_s}) {
        for (auto [name, c] : rows) {
            c.locale = locale;
            QTest::addRow("%s (%s)", name, qPrintable(locale)) << c;
        }
    }
}

void IngestCacheMoveWorkflowTests::texts()
{
    QFETCH(TextCase, c);
    QLocale::setDefault(QLocale(c.locale));
    const auto restoreLocale = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
    CacheMoveFixture f;
    f.capacity->store(c.capacity);
    if (c.unwritableStore)
        f.locationStore = f.settingsStore(false);
    f.ingestCacheRoot = f.cacheRoot() + c.rootSuffix;
    QList<QUuid> ids{f.addPackage(0, c.status).id};
    for (int n = 1; n < 3; ++n)
        ids.append(f.addPackage(n, Status::LocalCacheReady).id);
    if (c.targetInUse)
        writeFile(f.target() + u"/other.txt"_s, "x");
    if (c.copiesDiffer)
        f.contentHasher = std::make_shared<MismatchingContentHasher>(f.target() + u"/b/"_s);
    if (!c.pendingNew.isEmpty())
        QVERIFY(f.locationStore->savePendingMigration(
            PendingMigration{f.place(c.pendingOld), f.place(c.pendingNew)}));
    const auto model = f.make();
    const std::shared_ptr<QStringList> texts = f.recordMessages(*model);
    if (c.act == Act::Synchronize || c.act == Act::Delete) {
        f.move(*model);
        for (int n = 0; n < c.changedInBoth; ++n) {
            writeFile(f.cacheRoot() + u"/b/P%1.DNG"_s.arg(n), "old");
            writeFile(f.target() + u"/b/P%1.DNG"_s.arg(n), "new");
        }
        writeFile(f.cacheRoot() + u"/b/NEW.DNG"_s, "new in the old cache");
        texts->clear();
    }
    if (c.fault)
        f.files->failOperation(*c.fault, c.faultCode, f.place(c.faultPath));

    if (c.act == Act::Move) {
        const QString to = f.place(c.target);
        QCoro::waitFor(model->ingestCacheWorkflows().beginIngestCacheMigration(to));
    } else if (c.act == Act::Resume) {
        QCoro::waitFor(model->ingestCacheWorkflows().resumeIngestCacheMigration());
    } else if (c.act == Act::Launch) {
        texts->append(model->ingestCacheState().ingestCacheMigrationMessage().value_or(QString()));
    } else if (c.act == Act::Synchronize) {
        QCoro::waitFor(model->ingestCacheWorkflows().synchronizeRetainedIngestCache());
    } else if (c.act == Act::Delete) {
        QCoro::waitFor(model->ingestCacheWorkflows().deleteRetainedIngestCache());
    } else {
        f.signIn(*model);
        model->libraryState().setSelectedLibraryItemIDs(
            QSet(ids.cbegin(), ids.cbegin() + c.removed));
        QCoro::waitFor(
            model->ingestCacheWorkflows().requestSelectedIngestCacheRemovalConfirmation());
        const IngestCacheRemovalConfirmation confirmed
            = model->ingestCacheState().ingestCacheRemovalConfirmation().value();
        if (c.importStartsDuringRemoval) {
            // The record starts uploading as the removal begins: the remover finds nothing.
            QObject::connect(&model->importState(), &ImportState::isImportingChanged, [&] {
                if (model->importState().isImporting())
                    QVERIFY(f.library.updateImportStatus(ids.first(), Status::Uploading));
            });
        }
        QCoro::waitFor(model->ingestCacheWorkflows().removeSelectedIngestCachePackages(confirmed));
    }

    QStringList expected = c.texts;
    expected.replaceInStrings(u"<target>"_s, f.place(c.target));
    QCOMPARE(*texts, expected);
    if (c.keepsOldRoot) {
        const QString oldRoot = f.ingestCacheRoot.value();
        QCOMPARE(model->ingestCacheWorkflows().ingestCache().rootURL(), oldRoot);
        QCOMPARE(f.locationStore->load(oldRoot), oldRoot);
    }
    QCOMPARE(model->ingestCacheState().pendingIngestCacheMigration().has_value(), c.pendingAfter);
    QCOMPARE(f.locationStore->pendingMigration().has_value(), c.pendingAfter);
    if (c.noCopy)
        QVERIFY(!QFileInfo::exists(f.target()));
}

void IngestCacheMoveWorkflowTests::failedCopyFreesTheCacheAndALaterMoveFinishes()
{
    CacheMoveFixture f;
    f.addPackage(0, Status::LocalCacheReady);
    f.capacity->store(1024);
    const auto model = f.make();
    f.move(*model);
    QVERIFY(!model->ingestCacheWorkflows().isIngestCacheMigrationPending());

    f.capacity->store(qint64(1) << 40);
    writeCard(f.card(1), 2);
    QVERIFY(scan(*model, {folderSource(f.card(1))}));
    QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());
    QCOMPARE(model->importState().importErrorMessage(), u"Added 2 files to Ingest Cache"_s);

    const QMap<QString, QString> cache = fileManifest(f.cacheRoot());
    f.countsMainThreadWork = true;
    f.move(*model);
    f.countsMainThreadWork = false;
    QCOMPARE(model->ingestCacheWorkflows().ingestCache().rootURL(), f.target());
    QCOMPARE(fileManifest(f.target()), cache);
    for (const LocalLibraryItem &item : storedRecords(f.library))
        QVERIFY(QFileInfo::exists(item.ingestCacheOriginalURL.value()));
    QCOMPARE(f.mainThreadWork.load(), 0);
}

void IngestCacheMoveWorkflowTests::resumeAfterAFailedCompletionPublishesTheRetainedCache()
{
    CacheMoveFixture f;
    f.addPackage(0, Status::LocalCacheReady);
    const auto model = f.make();
    f.files->failOperation(FileOperation::RemoveItem, EIO, f.marker(), 1);
    f.move(*model);
    QCOMPARE(f.locationStore->load({}), f.target());
    QCOMPARE(model->ingestCacheState().retainedIngestCacheURL(), std::nullopt);

    QCoro::waitFor(model->ingestCacheWorkflows().resumeIngestCacheMigration());
    QVERIFY(!model->ingestCacheWorkflows().isIngestCacheMigrationPending());
    QVERIFY(!QFileInfo::exists(f.marker()));
    QCOMPARE(model->ingestCacheState().retainedIngestCacheURL(), f.cacheRoot());
    QCOMPARE(model->ingestCacheWorkflows().retainedIngestCacheManifest().size(), 2);
}

void IngestCacheMoveWorkflowTests::resumeDuringAMoveReturnsAtOnce()
{
    CacheMoveFixture f;
    f.addPackage(0, Status::LocalCacheReady);
    Gate copying;
    f.files->beforeOperation(
        FileOperation::Write, f.target(), [&](const QString &) { copying.wait(); });
    const auto model = f.make();
    const QString to = f.target();
    QCoro::Task<> move = model->ingestCacheWorkflows().beginIngestCacheMigration(to);
    QTRY_VERIFY(copying.arrived() > 0);
    QCoro::waitFor(model->ingestCacheWorkflows().resumeIngestCacheMigration());
    QCoro::waitFor(model->ingestCacheWorkflows().beginIngestCacheMigration(to));
    QCOMPARE(copying.arrived(), 1);
    QVERIFY(model->ingestCacheState().isMigratingIngestCache());
    copying.release();
    QCoro::waitFor(std::move(move));
    QCOMPARE(model->ingestCacheWorkflows().ingestCache().rootURL(), f.target());
    QVERIFY(!model->ingestCacheWorkflows().isIngestCacheMigrationPending());
}

void IngestCacheMoveWorkflowTests::scanCompletesWhileTheLibraryIsLocked()
{
    CacheMoveFixture f;
    const auto model = f.make();
    Gate held;
    std::thread holder([&] {
        static_cast<void>(f.library.withExclusiveAccess([&] {
            held.wait();
            return Result<void>();
        }));
    });
    QTRY_VERIFY(held.arrived() == 1);
    writeCard(f.card(1), 1);
    const bool scanned = scan(*model, {folderSource(f.card(1))});
    held.release();
    holder.join();
    QVERIFY(scanned);
    QVERIFY(model->importState().importReviewState().review.has_value());
}

void IngestCacheMoveWorkflowTests::relocatingManyRecordsIsOneStoreWrite()
{
    CacheMoveFixture f;
    QList<LocalLibraryItem> items;
    for (int n = 0; n < 100'000; ++n) {
        LocalLibraryItem item = minimalLibraryItem(n);
        item.ingestCacheOriginalURL = f.cacheRoot() + u"/b/P%1.DNG"_s.arg(n);
        items.append(item);
    }
    QVERIFY(f.library.appendItems(items));
    const int before = f.files->log().size();
    QVERIFY(f.library.relocateIngestCacheItems(f.cacheRoot(), f.target()));
    // A snapshot (with its new journal) or a journal entry is one write.
    const QRegularExpression write(u"^(openForAppending|openForWriting .*library-items\\.json)"_s);
    QCOMPARE(f.files->log().mid(before).filter(write).size(), 1);
    QCOMPARE(storedRecords(f.library).last().ingestCacheOriginalURL,
             f.target() + u"/b/P99999.DNG"_s);
}

QTEST_GUILESS_MAIN(IngestCacheMoveWorkflowTests)
#include "IngestCacheMoveWorkflowTests.moc"
