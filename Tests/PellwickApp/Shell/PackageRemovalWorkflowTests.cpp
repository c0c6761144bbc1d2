#include "CacheMoveFixture.h"

#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>

#include <cerrno>
#include <utility>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Status = LibraryItemImportStatus;

class PackageRemovalWorkflowTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void confirmAndRemove_data();
    void confirmAndRemove();
};

struct RemovalCase
{
    Status second = Status::LocalCacheReady; ///< package 1 at the confirmation
    std::optional<Status> secondLater = {};  ///< package 1 after the confirmation
    bool sharedSidecar = false;              ///< packages 0 and 1 name one "S.xmp"
    /// Fails once, for package 1: `fault` on a path with `faultPath`, armed as package 0's
    /// sidecar goes (or package 1's, for its library write).
    std::optional<FileOperation> fault = {};
    QString faultPath = {}, armedBy = u"b/P0.xmp"_s;
    bool importing = false;
    bool changedFilesTold = false; ///< "Changed Ingest Cache files need attention" was shown
    int confirmed = 3;             ///< packages in the confirmation; none published when 0
    /// Texts of the removal, and of a second one after a failure.
    QStringList texts = {u"Removed 3 cache packages"_s};
    QList<int> kept = {};
};

Q_DECLARE_METATYPE(RemovalCase)

void PackageRemovalWorkflowTests::confirmAndRemove_data()
{
    QTest::addColumn<RemovalCase>("c");
    const QStringList retried{u"Cache package removal needs attention"_s,
                              u"Removed 2 cache packages"_s};
    QTest::newRow("a record failing after the confirmation is left")
        << RemovalCase{.second = Status::Uploading,
                       .secondLater = Status::NeedsAttention,
                       .confirmed = 2,
                       .texts = {u"Removed 2 cache packages"_s},
                       .kept = {1}};
    QTest::newRow("a verified backup and its shared sidecar stay")
        << RemovalCase{.second = Status::VerifiedBackup,
                       .sharedSidecar = true,
                       .confirmed = 2,
                       .texts = {u"Removed 2 cache packages"_s},
                       .kept = {1}};
    QTest::newRow("staging folder fails") << RemovalCase{.fault = FileOperation::EntriesOfDirectory,
                                                         .faultPath = u"StagingArea"_s,
                                                         .texts = retried};
    QTest::newRow("cache file fails") << RemovalCase{
        .fault = FileOperation::RemoveItem, .faultPath = u"b/P1.DNG"_s, .texts = retried};
    QTest::newRow("library write fails") << RemovalCase{.fault = FileOperation::Write,
                                                        .faultPath = u"LocalLibraryCache"_s,
                                                        .armedBy = u"b/P1.xmp"_s,
                                                        .texts = retried};
    QTest::newRow("the changed package removed: nothing needs attention")
        << RemovalCase{.second = Status::NeedsAttention, .changedFilesTold = true};
    QTest::newRow("nothing published during an import")
        << RemovalCase{.importing = true, .confirmed = 0, .texts = {}, .kept = {0, 1, 2}};
}

void PackageRemovalWorkflowTests::confirmAndRemove()
{
    QFETCH(RemovalCase, c);
    CacheMoveFixture f;
    const QString sidecar = c.sharedSidecar ? u"S.xmp"_s : u"P%1.xmp"_s;
    const QList<LocalLibraryItem> items{f.addPackage(0, Status::LocalCacheReady, sidecar),
                                        f.addPackage(1, c.second, sidecar),
                                        f.addPackage(2, Status::LocalCacheReady)};
    QDir().mkpath(f.dir.filePath(u"StagingArea"_s));
    const auto model = f.make();
    f.signIn(*model);
    model->libraryState().setSelectedLibraryItemIDs(
        {items.at(0).id, items.at(1).id, items.at(2).id});
    model->importState().setIsImporting(c.importing);
    if (c.changedFilesTold)
        model->importState().setImportRecoveryMessage(
            u"Changed Ingest Cache files need attention"_s);
    const std::shared_ptr<QStringList> texts = f.recordMessages(*model);
    f.countsMainThreadWork = true;

    QCoro::waitFor(model->ingestCacheWorkflows().requestSelectedIngestCacheRemovalConfirmation());
    QCOMPARE(model->ingestCacheState().ingestCacheRemovalConfirmation().has_value(),
             c.confirmed > 0);
    f.countsMainThreadWork = false;
    if (c.secondLater)
        QVERIFY(f.library.updateImportStatus(items.at(1).id, *c.secondLater));
    f.countsMainThreadWork = true;
    bool armed = false;
    f.files->beforeOperation(FileOperation::RemoveItem, c.armedBy, [&](const QString &) {
        if (c.fault && !std::exchange(armed, true))
            f.files->failOperation(*c.fault, EIO, c.faultPath, 1);
    });
    for (int round = 0; round < c.texts.size(); ++round) {
        if (round > 0)
            QCoro::waitFor(
                model->ingestCacheWorkflows().requestSelectedIngestCacheRemovalConfirmation());
        const IngestCacheRemovalConfirmation confirmed
            = model->ingestCacheState().ingestCacheRemovalConfirmation().value();
        QCOMPARE(confirmed.packageCount, round == 0 ? c.confirmed : 2);
        if (round == 0)
            QCOMPARE(confirmed.byteCount, c.confirmed * (4096 + 24));
        QCoro::waitFor(model->ingestCacheWorkflows().removeSelectedIngestCachePackages(confirmed));
        QVERIFY(!model->importState().isImporting());
    }

    QCOMPARE(*texts, c.texts);
    QCOMPARE(model->importState().importRecoveryMessage(), std::nullopt);
    for (int n = 0; n < items.size(); ++n) {
        QCOMPARE(f.stored(items.at(n).id).has_value(), c.kept.contains(n));
        QCOMPARE(QFileInfo::exists(*items.at(n).ingestCacheOriginalURL), c.kept.contains(n));
        if (c.kept.contains(n))
            QVERIFY(QFileInfo::exists(*items.at(n).ingestCacheSidecarURL));
    }
    QCOMPARE(model->libraryState().selectedLibraryItemIDs().size(), c.kept.size());
    QCOMPARE(f.mainThreadWork.load(), 0);
}

QTEST_GUILESS_MAIN(PackageRemovalWorkflowTests)
#include "PackageRemovalWorkflowTests.moc"
