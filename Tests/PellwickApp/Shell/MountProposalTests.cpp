#include "RemovableMediaFixture.h"

#include <QTest>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// A card session through the mount table. Each step is "<action> [<argument>] | <names the
/// banner shows after it>"; actions: "mount", "mount-usb", "mount-loop" and "mount-internal" a
/// medium, "eject" it, "notice" (a mount notice for a medium already mounted), "accept",
/// "dismiss", "scan-new", "scan-all", "fail on|off" (the view model's listings), "hold" (its
/// listings wait after reading the table) and "release", and "<work> on|off" for the busy
/// fields "import", "transfer", "request", "moving", "move" and "scan".
struct ProposalCase
{
    QStringList atLaunch = {};
    QStringList steps;
    /// The source names of the review the last scan published.
    std::optional<QStringList> scanned = std::nullopt;
};

void setWork(LibraryShellViewModel &model, const QString &work, bool on)
{
    if (work == u"import")
        model.importState().setIsImporting(on);
    else if (work == u"transfer")
        model.restoreState().setIsRestoreTransferActive(on);
    else if (work == u"request")
        model.restoreState().setActiveRestoreRequest(on ? std::optional(RestoreRequest{})
                                                        : std::nullopt);
    else if (work == u"moving")
        model.ingestCacheState().setIsMigratingIngestCache(on);
    else if (work == u"move")
        model.ingestCacheState().setPendingIngestCacheMigration(
            on ? std::optional(IngestCacheLocationStoring::PendingMigration{u"/a"_s, u"/b"_s})
               : std::nullopt);
    else
        model.importState().setIsScanningImportSources(on);
}

QStringList names(const QList<ImportScanVolume> &volumes)
{
    QStringList result;
    for (const ImportScanVolume &volume : volumes)
        result.append(volume.name);
    return result;
}

} // namespace

Q_DECLARE_METATYPE(ProposalCase)

class MountProposalTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void proposalFollowsMediaAndWork_data();
    void proposalFollowsMediaAndWork();
    void scansLeaveOutTheIngestCaches_data();
    void scansLeaveOutTheIngestCaches();
};

void MountProposalTests::proposalFollowsMediaAndWork_data()
{
    QTest::addColumn<ProposalCase>("c");
    QTest::newRow("media mounted at launch waits for its next mount")
        << ProposalCase{.atLaunch = {u"OLD"_s},
                        .steps = {u"notice OLD |"_s, u"eject OLD |"_s, u"mount OLD | OLD"_s}};
    QTest::newRow("a card inserted during an import, proposed when it ends")
        << ProposalCase{.steps = {u"import on |"_s, u"mount A |"_s, u"import off | A"_s}};
    for (const QString &work : {u"transfer"_s, u"request"_s, u"moving"_s, u"move"_s}) {
        QTest::addRow("none while %s", qPrintable(work)) << ProposalCase{
            .steps
            = {work + u" on |"_s, u"mount A |"_s, u"mount-usb B |"_s, work + u" off | A,B"_s}};
    }
    QTest::newRow("a running scan does not hold it back")
        << ProposalCase{.steps = {u"scan on |"_s, u"mount A | A"_s}};
    QTest::newRow("a second card replaces the banner, sorted, even during an import")
        << ProposalCase{.steps = {u"mount B | B"_s, u"import on | B"_s, u"mount-usb A | A,B"_s}};
    QTest::newRow("numbers by value, case ignored, locale C")
        << ProposalCase{.steps = {u"request on |"_s,
                                  u"mount CARD10 |"_s,
                                  u"mount card2 |"_s,
                                  u"mount Card1 |"_s,
                                  u"request off | Card1,card2,CARD10"_s}};
    QTest::newRow("ejecting one of two proposed cards")
        << ProposalCase{.steps = {u"mount A | A"_s, u"mount B | A,B"_s, u"eject A | B"_s}};
    QTest::newRow("a proposed card ejected during an import, the rest accepted after it")
        << ProposalCase{.steps = {u"mount A | A"_s,
                                  u"mount B | A,B"_s,
                                  u"import on | A,B"_s,
                                  u"eject A |"_s,
                                  u"import off | B"_s,
                                  u"accept |"_s},
                        .scanned = QStringList{u"B"_s}};
    QTest::newRow("a waiting card ejected during an import") << ProposalCase{
        .steps = {u"import on |"_s, u"mount A |"_s, u"eject A |"_s, u"import off |"_s}};
    QTest::newRow("dismissed until ejected") << ProposalCase{
        .steps
        = {u"mount A | A"_s, u"dismiss |"_s, u"notice A |"_s, u"eject A |"_s, u"mount A | A"_s}};
    QTest::newRow("accepting scans the proposed cards")
        << ProposalCase{.steps = {u"mount B | B"_s, u"mount-usb A | A,B"_s, u"accept |"_s},
                        .scanned = QStringList{u"A"_s, u"B"_s}};
    QTest::newRow("the scan of newly mounted media takes the waiting cards") << ProposalCase{
        .steps
        = {u"request on |"_s, u"mount B |"_s, u"mount A |"_s, u"scan-new |"_s, u"request off |"_s},
        .scanned = QStringList{u"A"_s, u"B"_s}};
    QTest::newRow("the scan of all removable volumes") << ProposalCase{
        .atLaunch = {u"OLD"_s},
        .steps = {u"mount-internal DISK |"_s, u"mount-loop IMAGE | IMAGE"_s, u"scan-all | IMAGE"_s},
        .scanned = QStringList{u"OLD"_s, u"IMAGE"_s}};
    QTest::newRow("a failing listing drops the notice") << ProposalCase{
        .steps
        = {u"fail on |"_s, u"mount A |"_s, u"fail off |"_s, u"eject A |"_s, u"mount A | A"_s}};
    QTest::newRow("an older listing does not overtake an unmount")
        << ProposalCase{.steps = {u"hold |"_s, u"mount A |"_s, u"eject A |"_s, u"release |"_s}};
}

void MountProposalTests::proposalFollowsMediaAndWork()
{
    QFETCH(ProposalCase, c);
    QLocale::setDefault(QLocale::c());
    RemovableMediaFixture fixture;
    for (const QString &name : std::as_const(c.atLaunch))
        fixture.mount(name);
    const auto model = fixture.make();
    fixture.connect(*model);
    std::shared_ptr<Gate> gate;

    for (const QString &step : std::as_const(c.steps)) {
        const QString action = step.section(u'|', 0, 0).trimmed();
        const QString verb = action.section(u' ', 0, 0);
        const QString argument = action.section(u' ', 1);
        const int listed = gate ? gate->arrived() : 0;
        if (verb == u"mount")
            fixture.mount(argument);
        else if (verb == u"mount-usb")
            fixture.mount(argument, Medium::UsbStick);
        else if (verb == u"mount-loop")
            fixture.mount(argument, Medium::LoopImage);
        else if (verb == u"mount-internal")
            fixture.mount(argument, Medium::InternalDisk);
        else if (verb == u"eject")
            fixture.unmount(argument);
        else if (verb == u"notice")
            model->receiveMountedImportSource(fixture.mountPoint(argument));
        else if (verb == u"accept")
            model->acceptMountProposal();
        else if (verb == u"dismiss")
            model->dismissMountProposal();
        else if (verb == u"scan-new")
            model->scanNewlyMountedImportSources();
        else if (verb == u"scan-all")
            model->scanAllRemovableVolumes();
        else if (verb == u"fail")
            fixture.observed->setFailing(argument == u"on");
        else if (verb == u"hold")
            fixture.observed->setGate(gate = std::make_shared<Gate>());
        else if (verb == u"release")
            std::exchange(gate, {})->release();
        else
            setWork(*model, verb, argument == u"on");
        if (gate && verb.startsWith(u"mount"))
            QVERIFY(QTest::qWaitFor([&] { return gate->arrived() > listed; }));
        if (!gate)
            settleUtilityWork();
        const std::optional<MountProposal> &proposal = model->shellState().mountProposal();
        QVERIFY2(names(proposal.value_or(MountProposal{}).sources).join(u',')
                     == step.section(u'|', 1).trimmed(),
                 qPrintable(step));
    }
    QCOMPARE(fixture.observed->callsOnMainThread(), 1); // the snapshot at launch
    if (c.scanned) {
        QVERIFY(QTest::qWaitFor([&] { return !model->importState().isScanningImportSources(); }));
        QCOMPARE(
            names(model->importState().importReviewState().review.value_or(ImportReview{}).volumes),
            *c.scanned);
    }
}

enum class CacheScan {
    Folder,
    AllVolumes,
    Proposal
};

Q_DECLARE_METATYPE(CacheScan)

void MountProposalTests::scansLeaveOutTheIngestCaches_data()
{
    QTest::addColumn<CacheScan>("scan");
    QTest::newRow("a folder scan of the caches' parent") << CacheScan::Folder;
    QTest::newRow("all removable volumes, one holding both caches") << CacheScan::AllVolumes;
    QTest::newRow("an accepted proposal of the volume holding both caches") << CacheScan::Proposal;
}

void MountProposalTests::scansLeaveOutTheIngestCaches()
{
    QFETCH(CacheScan, scan);
    RemovableMediaFixture fixture;
    const QString parent = scan == CacheScan::Folder ? fixture.dir.filePath(u"Pictures"_s)
                                                     : fixture.mountPoint(u"EXT"_s);
    const QString active = parent + u"/Pellwick Ingest Cache"_s;
    const QString retained = parent + u"/Old Cache/"_s; // as a user might have typed it
    writeCard(parent, 2);
    writeCard(active + u"/batch"_s, 1, 2);
    writeCard(retained + u"batch"_s, 1, 3);
    fixture.ingestCacheRoot = active;
    fixture.locationStore->save(active);
    fixture.locationStore->saveRetained(retained);
    if (scan == CacheScan::AllVolumes)
        fixture.mount(u"EXT"_s, Medium::UsbStick);
    const auto model = fixture.make();
    fixture.connect(*model);

    if (scan == CacheScan::Folder) {
        model->scanFolder(parent);
    } else if (scan == CacheScan::AllVolumes) {
        model->scanAllRemovableVolumes();
    } else {
        fixture.mount(u"EXT"_s, Medium::UsbStick);
        settleUtilityWork();
        model->acceptMountProposal();
    }
    QVERIFY(QTest::qWaitFor([&] { return !model->importState().isScanningImportSources(); }));
    const ImportReview review
        = model->importState().importReviewState().review.value_or(ImportReview{});
    QCOMPARE(review.candidateCount(), 2);
    for (const ImportReviewItem &item : review.items)
        QVERIFY2(item.url.startsWith(parent + u"/DCIM/"_s), qPrintable(item.url));
}

QTEST_GUILESS_MAIN(MountProposalTests)
#include "MountProposalTests.moc"
