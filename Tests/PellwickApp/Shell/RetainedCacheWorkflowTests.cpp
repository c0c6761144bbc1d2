#include "CacheMoveFixture.h"

#include <PellwickApp/Workflows/IngestCache/IngestCacheWorkflows.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;
using Status = LibraryItemImportStatus;
using Resolution = IngestCacheMigrationConflictResolution;

class RetainedCacheWorkflowTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void synchronizeSettleAndDelete_data();
    void synchronizeSettleAndDelete();
};

struct RetainedCase
{
    /// Packages whose RAW changed in both caches after the move.
    int changedInBoth = 0;
    /// How the first conflict is settled before deleting.
    std::optional<Resolution> keeping = {};
    /// Package 0 is archived and cleaned up, package 1 removed, after the move.
    bool cleanUpAndRemove = false;
    qsizetype conflicts = 0;
    bool deleted = true;
    /// Relative paths in the active cache at the end, and paths gone from it.
    QStringList present = {}, absent = {};
};

Q_DECLARE_METATYPE(RetainedCase)

void RetainedCacheWorkflowTests::synchronizeSettleAndDelete_data()
{
    QTest::addColumn<RetainedCase>("c");
    QTest::newRow("two conflicts hold the deletion")
        << RetainedCase{.changedInBoth = 2, .conflicts = 2, .deleted = false};
    QTest::newRow("both kept") << RetainedCase{.changedInBoth = 1,
                                               .keeping = Resolution::KeepBoth,
                                               .present = {u"b/P0.old-cache-conflict.DNG"_s}};
    QTest::newRow("a cleaned-up and a removed package stay gone")
        << RetainedCase{.cleanUpAndRemove = true,
                        .absent = {u"b/P0.DNG"_s, u"b/P0.xmp"_s, u"b/P1.DNG"_s, u"b/P1.xmp"_s}};
}

void RetainedCacheWorkflowTests::synchronizeSettleAndDelete()
{
    QFETCH(RetainedCase, c);
    CacheMoveFixture f;
    f.addPackage(0, c.cleanUpAndRemove ? Status::VerifiedBackup : Status::LocalCacheReady);
    const QUuid removed = f.addPackage(1, Status::LocalCacheReady).id;
    f.addPackage(2, Status::LocalCacheReady);
    const auto model = f.make();
    f.move(*model);
    for (int n = 0; n < c.changedInBoth; ++n) {
        writeFile(f.cacheRoot() + u"/b/P%1.DNG"_s.arg(n), "old");
        writeFile(f.target() + u"/b/P%1.DNG"_s.arg(n), "new");
    }
    writeFile(f.cacheRoot() + u"/b/P2.DNG"_s, "changed in the old cache");
    writeFile(f.cacheRoot() + u"/b/NEW.DNG"_s, "new in the old cache");
    if (c.cleanUpAndRemove) {
        QVERIFY(CacheMoveFixture::cleanup(*model));
        f.signIn(*model);
        model->libraryState().setSelectedLibraryItemIDs({removed});
        QCoro::waitFor(
            model->ingestCacheWorkflows().requestSelectedIngestCacheRemovalConfirmation());
        const IngestCacheRemovalConfirmation confirmed
            = model->ingestCacheState().ingestCacheRemovalConfirmation().value();
        QCoro::waitFor(model->ingestCacheWorkflows().removeSelectedIngestCachePackages(confirmed));
    }

    QCoro::waitFor(model->ingestCacheWorkflows().synchronizeRetainedIngestCache());
    if (c.keeping) {
        const IngestCacheMigrationConflict conflict
            = model->ingestCacheState().retainedIngestCacheConflicts().value(0);
        const Resolution keeping = *c.keeping;
        QCoro::waitFor(
            model->ingestCacheWorkflows().resolveRetainedIngestCacheConflict(conflict, keeping));
    }
    const std::optional<QString> message = model->ingestCacheState().ingestCacheMigrationMessage();
    QCoro::waitFor(model->ingestCacheWorkflows().deleteRetainedIngestCache());

    QCOMPARE(model->ingestCacheState().retainedIngestCacheConflicts().size(), c.conflicts);
    QCOMPARE(QFileInfo::exists(f.cacheRoot()), !c.deleted);
    QCOMPARE(model->ingestCacheState().retainedIngestCacheURL().has_value(), !c.deleted);
    if (!c.deleted)
        QCOMPARE(model->ingestCacheState().ingestCacheMigrationMessage(), message);
    QCOMPARE(readFile(f.target() + u"/b/P2.DNG"_s), "changed in the old cache");
    QCOMPARE(readFile(f.target() + u"/b/NEW.DNG"_s), "new in the old cache");
    for (const QString &path : std::as_const(c.present))
        QVERIFY2(QFileInfo::exists(f.target() + u'/' + path), qPrintable(path));
    for (const QString &path : std::as_const(c.absent))
        QVERIFY2(!QFileInfo::exists(f.target() + u'/' + path), qPrintable(path));
}

QTEST_GUILESS_MAIN(RetainedCacheWorkflowTests)
#include "RetainedCacheWorkflowTests.moc"
