#include "ShellViewModelFixture.h"

#include <QSignalSpy>
#include <QTest>

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

} // namespace

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
    QCOMPARE(model->status(), Status::Checking);
    QVERIFY(!model->session());
    QVERIFY(model->isApplicationActive());
    QCOMPARE(model->localLibraryItemsRevision(), 1);
    QVERIFY(model->selectedLibraryItemIDs().isEmpty());
    QVERIFY(!model->hasLocalLibraryRecords());
    QVERIFY(model->localLibraryItems().isEmpty());
    QVERIFY(!model->ingestCacheMigrationMessage());
    QVERIFY(!model->mountProposal());
    QVERIFY(!model->restorePollingTask());
    QCOMPARE(model->localLibraryCaptureTimeFilter(), LocalLibraryCaptureTimeFilter::Any);
    QCOMPARE(model->localLibraryDuplicateVisibility(), LocalLibraryDuplicateVisibility::Hidden);
    QCOMPARE(model->localLibraryCaptureTimeEnd().secondsSinceReferenceDate
                 - model->localLibraryCaptureTimeStart().secondsSinceReferenceDate,
             2'592'000.0);
    QVERIFY(qAbs(model->localLibraryCaptureTimeEnd().secondsSinceReferenceDate
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
    QCOMPARE(model->ingestCache().rootURL(),
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
    m_fixture->locationStore->savePendingMigration(stored);
    const auto model = m_fixture->make();
    QCOMPARE(model->ingestCacheMigrationMessage(),
             stored ? std::optional(u"Ingest Cache migration needs attention. Resume it before "
                                    "changing cached files."_s)
                    : std::nullopt);
    QCOMPARE(model->isIngestCacheMigrationPending(), stillPending);
    QCOMPARE(model->pendingIngestCacheMigration(), stillPending ? stored : std::nullopt);
    QCOMPARE(m_fixture->locationStore->pendingMigration(), stillPending ? stored : std::nullopt);
    QCOMPARE(model->localLibraryItemsRevision(), 1);
}

void LibraryShellViewModelTests::retainedCacheIsLoadedFromTheStore()
{
    const QHash<QString, QString> manifest{{u"2026/A.NEF"_s, QString(64, u'a')}};
    m_fixture->locationStore->saveRetained(u"/old/Cache"_s);
    m_fixture->locationStore->saveRetainedManifest(manifest);
    const auto model = m_fixture->make();
    QCOMPARE(model->retainedIngestCacheURL(), std::optional(u"/old/Cache"_s));
    QCOMPARE(model->retainedIngestCacheManifest(), manifest);
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
    QCOMPARE(model->initialMountedImportSourceURLs(), snapshot);
    QVERIFY(!model->mountProposal());
    QCOMPARE(model->localLibraryItemsRevision(), 1);
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
        model->setPendingIngestCacheMigration(PendingMigration{u"/cache"_s, u"/new"_s});
    LocalLibraryItem item;
    item.ingestCacheOriginalURL = original;
    QCOMPARE(model->canStartImport(item), canStart);
}

void LibraryShellViewModelTests::settersNotifyEveryAssignment()
{
    const auto model = m_fixture->make();
    QSignalSpy email(model.get(), &LibraryShellViewModel::emailChanged);
    QSignalSpy selection(model.get(), &LibraryShellViewModel::selectedLibraryItemIDsChanged);
    model->setEmail(u"ana@example.test"_s);
    model->setEmail(u"ana@example.test"_s);
    model->setSelectedLibraryItemIDs({});
    QCOMPARE(email.count(), 2);
    QCOMPARE(selection.count(), 1);
    QCOMPARE(model->email(), u"ana@example.test"_s);
}

QTEST_GUILESS_MAIN(LibraryShellViewModelTests)
#include "LibraryShellViewModelTests.moc"
