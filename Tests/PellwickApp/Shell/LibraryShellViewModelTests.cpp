#include "ShellViewModelFixture.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>
#include <PellwickApp/Workflows/Library/LibraryWorkflows.h>
#include <PellwickApp/Workflows/Restore/RestoreWorkflows.h>

#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <Support/FaultInjectingFileManager.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestErrors.h>
#include <Support/TestFiles.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

using Status = LibraryShellViewModel::Status;
using PendingMigration = IngestCacheLocationStoring::PendingMigration;

namespace {

MountedVolume volume(const QString &url, bool removable)
{
    MountedVolume mounted;
    mounted.name = url.section(u'/', -1);
    mounted.url = url;
    mounted.isRemovable = removable;
    mounted.isInternal = !removable;
    mounted.isLocal = true;
    return mounted;
}

/// A data folder whose first probe file is refused with `code`, and the line the check shows
/// (%1: the folder).
struct DataFolderCase
{
    QStringList folders;
    int code = EACCES;
    QString message; ///< %1: the folder that holds them
};

} // namespace

Q_DECLARE_METATYPE(std::optional<RestoreRequestStatus>)
Q_DECLARE_METATYPE(DataFolderCase)

class LibraryShellViewModelTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void startsSignedOutWithDefaults();
    void ingestCacheDefaultsToTheLibraryRoot_data();
    void ingestCacheDefaultsToTheLibraryRoot();
    void pendingMigrationAtLaunch_data();
    void pendingMigrationAtLaunch();
    void retainedCacheIsLoadedFromTheStore();
    void launchSnapshotHoldsStandardizedRemovableVolumes_data();
    void launchSnapshotHoldsStandardizedRemovableVolumes();
    void statusRawValuesMatchExactly_data();
    void statusRawValuesMatchExactly();
    void importNeedsTheActiveCacheAndNoPendingMove_data();
    void importNeedsTheActiveCacheAndNoPendingMove();
    void settersNotifyEveryAssignment();
    void damagedLibraryIsReportedUntilItReads();
    void unwritableDataFolderIsNamedUntilACheckPasses_data();
    void unwritableDataFolderIsNamedUntilACheckPasses();
    void restorePollingFollowsAPreparingRequest_data();
    void restorePollingFollowsAPreparingRequest();
    void destructionCancelsThePollingTask();
    void mainThreadTouchesNoFileAfterConstruction();

private:
    std::unique_ptr<ShellViewModelFixture> m_fixture;
};

void LibraryShellViewModelTests::init()
{
    m_fixture = std::make_unique<ShellViewModelFixture>();
    QVERIFY(m_fixture->dir.isValid());
}

void LibraryShellViewModelTests::startsSignedOutWithDefaults()
{
    const auto model = m_fixture->make();
    QCOMPARE(model->shellState().status(), Status::Checking);
    QVERIFY(!model->sessionState().session());
    QVERIFY(model->restoreWorkflows().isApplicationActive());
    QCOMPARE(model->libraryState().localLibraryItemsRevision(), 1);
    QVERIFY(model->libraryState().selectedLibraryItemIDs().isEmpty());
    QVERIFY(!model->libraryState().hasLocalLibraryRecords());
    QVERIFY(model->libraryState().localLibraryItems().isEmpty());
    QVERIFY(!model->ingestCacheState().ingestCacheMigrationMessage());
    QVERIFY(!model->shellState().mountProposal());
    QVERIFY(!model->restoreWorkflows().restorePollingTask());
    QCOMPARE(model->libraryState().localLibraryCaptureTimeFilter(),
             LocalLibraryCaptureTimeFilter::Any);
    QCOMPARE(model->libraryState().localLibraryDuplicateVisibility(),
             LocalLibraryDuplicateVisibility::Hidden);
    QCOMPARE(model->libraryState().localLibraryCaptureTimeEnd().secondsSinceReferenceDate
                 - model->libraryState().localLibraryCaptureTimeStart().secondsSinceReferenceDate,
             2'592'000.0);
    QVERIFY(qAbs(model->libraryState().localLibraryCaptureTimeEnd().secondsSinceReferenceDate
                 - Date::now().secondsSinceReferenceDate)
            < 60);
}

void LibraryShellViewModelTests::ingestCacheDefaultsToTheLibraryRoot_data()
{
    QTest::addColumn<std::optional<QString>>("given");
    QTest::newRow("none given") << std::optional<QString>();
    QTest::newRow("given") << std::optional(u"/media/Cache Disk/Ingest"_s);
}

void LibraryShellViewModelTests::ingestCacheDefaultsToTheLibraryRoot()
{
    QFETCH(std::optional<QString>, given);
    m_fixture->ingestCacheRoot = given;
    const auto model = m_fixture->make();
    QCOMPARE(model->ingestCacheWorkflows().ingestCache().rootURL(),
             given.value_or(m_fixture->libraryRoot() + u"/IngestCache"_s));
    // Construction creates no cache folder.
    QVERIFY(!QFileInfo::exists(m_fixture->libraryRoot() + u"/IngestCache"_s));
}

void LibraryShellViewModelTests::pendingMigrationAtLaunch_data()
{
    QTest::addColumn<std::optional<PendingMigration>>("stored");
    QTest::addColumn<bool>("stillPending");
    QTest::newRow("none") << std::optional<PendingMigration>() << false;
    QTest::newRow("to another folder")
        << std::optional(PendingMigration{u"/old/Cache"_s, u"/new/Cache"_s}) << true;
    QTest::newRow("to the same folder")
        << std::optional(PendingMigration{u"/same/Cache"_s, u"/same/./Cache/"_s}) << false;
}

void LibraryShellViewModelTests::pendingMigrationAtLaunch()
{
    QFETCH(std::optional<PendingMigration>, stored);
    QFETCH(bool, stillPending);
    QVERIFY(m_fixture->locationStore->savePendingMigration(stored));
    const auto model = m_fixture->make();
    const std::optional<QString> message
        = !stored ? std::nullopt
          : stillPending
              ? std::optional(u"Ingest Cache migration needs attention. Resume it "
                              "before changing cached files."_s)
              : std::optional(u"Choose an Ingest Cache location outside the current cache."_s);
    QCOMPARE(model->ingestCacheState().ingestCacheMigrationMessage(), message);
    QCOMPARE(model->ingestCacheWorkflows().isIngestCacheMigrationPending(), stillPending);
    QCOMPARE(model->ingestCacheState().pendingIngestCacheMigration(),
             stillPending ? stored : std::nullopt);
    QCOMPARE(m_fixture->locationStore->pendingMigration(), stillPending ? stored : std::nullopt);
    QCOMPARE(model->libraryState().localLibraryItemsRevision(), 1);
}

void LibraryShellViewModelTests::retainedCacheIsLoadedFromTheStore()
{
    const QHash<QString, QString> manifest{{u"2026/A.NEF"_s, QString(64, u'a')}};
    QVERIFY(m_fixture->locationStore->saveRetained(u"/old/Cache"_s));
    QVERIFY(m_fixture->locationStore->saveRetainedManifest(manifest));
    const auto model = m_fixture->make();
    QCOMPARE(model->ingestCacheState().retainedIngestCacheURL(), std::optional(u"/old/Cache"_s));
    QCOMPARE(model->ingestCacheWorkflows().retainedIngestCacheManifest(), manifest);
}

void LibraryShellViewModelTests::launchSnapshotHoldsStandardizedRemovableVolumes_data()
{
    QTest::addColumn<std::optional<QList<MountedVolume>>>("listed");
    QTest::addColumn<QSet<QString>>("snapshot");
    QTest::newRow("nothing mounted") << std::optional(QList<MountedVolume>()) << QSet<QString>();
    QTest::newRow("cards and a system disk")
        << std::optional(QList{volume(u"/media/ana/CARD_A/"_s, true),
                               volume(u"/media/ana/./CARD B"_s, true),
                               volume(u"/media/ana/x/../CARD_C"_s, true),
                               volume(u"/home"_s, false)})
        << QSet<QString>{u"/media/ana/CARD_A"_s, u"/media/ana/CARD B"_s, u"/media/ana/CARD_C"_s};
    QTest::newRow("listing fails") << std::optional<QList<MountedVolume>>() << QSet<QString>();
}

void LibraryShellViewModelTests::launchSnapshotHoldsStandardizedRemovableVolumes()
{
    QFETCH(std::optional<QList<MountedVolume>>, listed);
    QFETCH(QSet<QString>, snapshot);
    if (listed)
        m_fixture->volumes = *listed;
    else
        m_fixture->volumes = failure(FileSystemError{u"open"_s, u"/proc/self/mountinfo"_s, EIO});
    const auto model = m_fixture->make();
    QCOMPARE(model->importWorkflows().initialMountedImportSourceURLs(), snapshot);
    QVERIFY(!model->shellState().mountProposal());
    QCOMPARE(model->libraryState().localLibraryItemsRevision(), 1);
}

void LibraryShellViewModelTests::statusRawValuesMatchExactly_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<std::optional<Status>>("status");
    QTest::newRow("checking") << u"Checking backend"_s << std::optional(Status::Checking);
    QTest::newRow("reachable") << u"Backend reachable"_s << std::optional(Status::Reachable);
    QTest::newRow("unreachable") << u"Backend unreachable"_s << std::optional(Status::Unreachable);
    QTest::newRow("lower case") << u"backend reachable"_s << std::optional<Status>();
    QTest::newRow("trailing space") << u"Backend reachable "_s << std::optional<Status>();
    QTest::newRow("case name") << u"reachable"_s << std::optional<Status>();
    QTest::newRow("empty") << QString() << std::optional<Status>();
}

void LibraryShellViewModelTests::statusRawValuesMatchExactly()
{
    QFETCH(QString, raw);
    QFETCH(std::optional<Status>, status);
    QCOMPARE(LibraryShellViewModel::statusFromRaw(raw), status);
    if (status)
        QCOMPARE(LibraryShellViewModel::toRaw(*status), raw);
}

void LibraryShellViewModelTests::importNeedsTheActiveCacheAndNoPendingMove_data()
{
    QTest::addColumn<std::optional<QString>>("original");
    QTest::addColumn<bool>("pendingMove");
    QTest::addColumn<bool>("canStart");
    QTest::newRow("in the cache") << std::optional(u"/cache/2026/A.NEF"_s) << false << true;
    QTest::newRow("in the cache, move pending")
        << std::optional(u"/cache/2026/A.NEF"_s) << true << false;
    QTest::newRow("elsewhere") << std::optional(u"/old/2026/A.NEF"_s) << false << false;
    QTest::newRow("sibling folder with the same prefix")
        << std::optional(u"/cache-old/A.NEF"_s) << false << false;
    QTest::newRow("escaping with ..") << std::optional(u"/cache/../etc/A.NEF"_s) << false << false;
    QTest::newRow("the root itself") << std::optional(u"/cache"_s) << false << false;
    QTest::newRow("not cached") << std::optional<QString>() << false << false;
}

void LibraryShellViewModelTests::importNeedsTheActiveCacheAndNoPendingMove()
{
    QFETCH(std::optional<QString>, original);
    QFETCH(bool, pendingMove);
    QFETCH(bool, canStart);
    m_fixture->ingestCacheRoot = u"/cache"_s;
    const auto model = m_fixture->make();
    if (pendingMove)
        model->ingestCacheState().setPendingIngestCacheMigration(
            PendingMigration{u"/cache"_s, u"/new"_s});
    LocalLibraryItem item;
    item.ingestCacheOriginalURL = original;
    QCOMPARE(model->importWorkflows().canStartImport(item), canStart);
}

void LibraryShellViewModelTests::settersNotifyEveryAssignment()
{
    const auto model = m_fixture->make();
    QSignalSpy email(&model->sessionState(), &SessionState::emailChanged);
    QSignalSpy selection(&model->libraryState(), &LibraryState::selectedLibraryItemIDsChanged);
    model->sessionState().setEmail(u"ana@example.test"_s);
    model->sessionState().setEmail(u"ana@example.test"_s);
    model->libraryState().setSelectedLibraryItemIDs({});
    QCOMPARE(email.count(), 2);
    QCOMPARE(selection.count(), 1);
    QCOMPARE(model->sessionState().email(), u"ana@example.test"_s);
}

void LibraryShellViewModelTests::damagedLibraryIsReportedUntilItReads()
{
    const QString file = m_fixture->libraryRoot() + u"/library-items.json"_s;
    writeFile(file, QByteArray());
    const auto model = m_fixture->make();
    QCOMPARE(model->libraryState().libraryReadErrorMessage(),
             u"The library could not be read: "_s + file
                 + u" (library-items.json: The library file is empty)"_s);
    QVERIFY(!model->libraryState().hasLocalLibraryRecords());

    PELLWICK_VERIFY_SUCCESS(m_fixture->library.writeItems({minimalLibraryItem(1)}));
    QSignalSpy cleared(&model->libraryState(), &LibraryState::libraryReadErrorMessageChanged);
    model->libraryState().setLocalLibrarySearchText(u"IMG"_s);
    QCOMPARE(model->libraryState().libraryReadErrorMessage(), QString());
    QCOMPARE(cleared.count(), 1);
}

void LibraryShellViewModelTests::unwritableDataFolderIsNamedUntilACheckPasses_data()
{
    QTest::addColumn<DataFolderCase>("row");
    QTest::newRow("library folder denied")
        << DataFolderCase{.folders = {u"LocalLibraryCache"_s},
                          .message = u"The Local Library Cache (%1/LocalLibraryCache) cannot be "
                                     "written (permission denied). Make it writable, then choose "
                                     "Refresh Library."_s};
    QTest::newRow("every folder read-only, named at once") << DataFolderCase{
        .folders = {u"LocalLibraryCache"_s, u"StagingArea"_s, u"RestoreTransfers"_s},
        .code = EROFS,
        .message = u"The Local Library Cache (%1/LocalLibraryCache), the Staging Area "
                   "(%1/StagingArea) and Pellwick's restore state folder (%1/RestoreTransfers) "
                   "cannot be written (read-only). Make them writable, then choose Refresh "
                   "Library."_s};
    QTest::newRow("a chosen Ingest Cache read-only with the library") << DataFolderCase{
        .folders = {u"LocalLibraryCache"_s, u"IngestCache"_s},
        .code = EROFS,
        .message = u"The Local Library Cache (%1/LocalLibraryCache) and the Ingest Cache "
                   "(%1/IngestCache) cannot be written (read-only). Make them writable, then "
                   "choose Refresh Library."_s};
}

void LibraryShellViewModelTests::unwritableDataFolderIsNamedUntilACheckPasses()
{
    QFETCH(DataFolderCase, row);
    const auto files = std::make_shared<FaultInjectingFileManager>();
    m_fixture->fileManager = files;
    for (const QString &name : std::as_const(row.folders)) {
        QVERIFY(QDir().mkpath(m_fixture->filePath(name)));
        files->failOperation(
            FileOperation::CreateFile, row.code, m_fixture->filePath(name) + u'/', 1);
    }
    const QString folder = m_fixture->filePath(row.folders.constFirst());
    if (row.folders.contains(u"IngestCache"_s)) {
        m_fixture->ingestCacheRoot = m_fixture->filePath(u"IngestCache"_s);
        QVERIFY(m_fixture->locationStore->save(*m_fixture->ingestCacheRoot));
    }
    const auto model = m_fixture->make();
    const auto left = [&] {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };

    QCoro::waitFor(model->libraryWorkflows().checkDataFolders());
    QCOMPARE(model->libraryState().dataFolderErrorMessage(), row.message.arg(m_fixture->root));
    QCOMPARE(left(), QStringList());
    QCoro::waitFor(model->libraryWorkflows().checkDataFolders());
    QCOMPARE(model->libraryState().dataFolderErrorMessage(), QString());
    QCOMPARE(left(), QStringList());
}

void LibraryShellViewModelTests::restorePollingFollowsAPreparingRequest_data()
{
    QTest::addColumn<std::optional<RestoreRequestStatus>>("status"); // none: no request
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("polling");
    QTest::addColumn<bool>("startKept");
    QTest::addColumn<bool>("rowKept");

    using S = std::optional<RestoreRequestStatus>;
    QTest::newRow("preparing: the running task goes on")
        << S(RestoreRequestStatus::Preparing) << true << true << true << true;
    QTest::newRow("preparing, inactive")
        << S(RestoreRequestStatus::Preparing) << false << false << true << true;
    QTest::newRow("ready") << S(RestoreRequestStatus::Ready) << true << false << false << false;
    QTest::newRow("no request") << S() << true << false << false << false;
}

void LibraryShellViewModelTests::restorePollingFollowsAPreparingRequest()
{
    QFETCH(std::optional<RestoreRequestStatus>, status);
    QFETCH(bool, active);
    QFETCH(bool, polling);
    QFETCH(bool, startKept);
    QFETCH(bool, rowKept);

    const auto model = m_fixture->make();
    RestoreRequest preparing;
    preparing.status = RestoreRequestStatus::Preparing;
    model->restoreWorkflows().updateRestorePolling(preparing);
    QVERIFY(model->restoreWorkflows().restorePollingTask());
    const std::stop_token earlier = model->restoreWorkflows().restorePollingTask()->token();
    const auto startedAt = model->restoreWorkflows().restorePreparingStartedAt();
    QVERIFY(startedAt);
    QCOMPARE(model->shellState().transferProgresses().size(), 1);

    model->restoreWorkflows().setApplicationActive(active);
    std::optional<RestoreRequest> request;
    if (status) {
        request = preparing;
        request->status = *status;
    }
    model->restoreWorkflows().updateRestorePolling(request);
    QCOMPARE(earlier.stop_requested(), !polling);
    QCOMPARE(model->restoreWorkflows().restorePollingTask().has_value(), polling);
    if (polling)
        QVERIFY(model->restoreWorkflows().restorePollingTask()->token() == earlier);
    QCOMPARE(model->restoreWorkflows().restorePreparingStartedAt(),
             startKept ? startedAt : std::nullopt);
    QCOMPARE(model->shellState().transferProgresses().size(), rowKept ? 1 : 0);
}

void LibraryShellViewModelTests::destructionCancelsThePollingTask()
{
    auto model = m_fixture->make();
    RestoreRequest preparing;
    preparing.status = RestoreRequestStatus::Preparing;
    model->restoreWorkflows().updateRestorePolling(preparing);
    const std::stop_token polling = model->restoreWorkflows().restorePollingTask()->token();
    QVERIFY(!polling.stop_requested());
    model.reset();
    QVERIFY(polling.stop_requested());
}

void LibraryShellViewModelTests::mainThreadTouchesNoFileAfterConstruction()
{
    const auto files = std::make_shared<FaultInjectingFileManager>();
    m_fixture->fileManager = files;
    QList<LocalLibraryItem> items{minimalLibraryItem(1), minimalLibraryItem(2)};
    items[1].importStatus = LibraryItemImportStatus::VerifiedBackup;
    items[1].backendLibraryItemID = 42;
    QVERIFY(LocalLibraryCache(m_fixture->libraryRoot(), files).writeItems(items));
    const auto model = m_fixture->make();
    QCOMPARE(model->libraryState().localLibraryItems().size(), 2);
    QVERIFY(files->operationCount() > 0); // construction read the library through the recorder

    QStringList onMainThread;
    const QThread *mainThread = QThread::currentThread();
    for (int op = 0; op <= int(FileOperation::Truncate); ++op) {
        files->beforeOperation(FileOperation(op), {}, [&, op](const QString &path) {
            if (QThread::currentThread() == mainThread)
                onMainThread.append(operationName(FileOperation(op)) + u' ' + path);
        });
    }
    model->libraryState().setSelectedLibraryItemIDs({items[0].id, items[1].id});
    model->libraryWorkflows().refreshVisibleLocalLibraryItems(true);
    model->libraryState().setLocalLibrarySearchText(u"IMG"_s);
    model->libraryState().setLocalLibraryImportStatusFilter(
        LibraryItemImportStatus::VerifiedBackup);
    QCOMPARE(model->restoreWorkflows().selectedRestoreItems().size(), 1);
    QCOMPARE(model->restoreWorkflows().restoreSelectionSummary().itemCount, 1);
    model->restoreWorkflows().updateRestorePolling(std::nullopt);
    QCOMPARE(onMainThread, QStringList());
}

QTEST_GUILESS_MAIN(LibraryShellViewModelTests)
#include "LibraryShellViewModelTests.moc"
