#include "RemovableMediaFixture.h"

#include <PellwickApp/Workflows/Import/ImportWorkflows.h>

#include <QTest>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

/// A card session through the mount table: steps "<action> | <names proposed after it>", split
/// by ";", with the actions of `RemovableMediaFixture::perform`.
struct ProposalCase
{
    QStringList atLaunch = {};
    QString steps;
    /// The source names of the review the last scan published.
    std::optional<QString> scanned = std::nullopt;
};

QString names(const QList<ImportScanVolume> &volumes)
{
    QStringList result;
    for (const ImportScanVolume &volume : volumes)
        result.append(volume.name);
    return result.join(u',');
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
    QTest::newRow("media mounted at launch waits for its next mount") << ProposalCase{
        .atLaunch = {u"OLD"_s}, .steps = u"notice OLD |; eject OLD |; mount OLD | OLD"_s};
    QTest::newRow("a card inserted during an import, proposed when it ends")
        << ProposalCase{.steps = u"import on |; mount A |; import off | A"_s};
    for (const QString &work : {u"transfer"_s, u"request"_s, u"moving"_s, u"move"_s})
        QTest::addRow("none while %s", qPrintable(work)) << ProposalCase{
            .steps = work + u" on |; mount A |; mount-usb B |;"_s + work + u" off | A,B"_s};
    QTest::newRow("a running scan does not hold it back")
        << ProposalCase{.steps = u"scan on |; mount A | A"_s};
    QTest::newRow("a second card replaces the banner, sorted, even during an import")
        << ProposalCase{.steps = u"mount B | B; import on | B; mount-usb A | A,B"_s};
    QTest::newRow("numbers by value, case ignored, locale C")
        << ProposalCase{.steps = u"request on |; mount CARD10 |; mount card2 |; mount Card1 |;"
                                 u"request off | Card1,card2,CARD10"_s};
    QTest::newRow("ejecting one of two proposed cards")
        << ProposalCase{.steps = u"mount A | A; mount B | A,B; eject A | B"_s};
    QTest::newRow("a proposed card ejected during an import, the other accepted after it")
        << ProposalCase{.steps = u"mount A | A; mount B | A,B; import on | A,B; eject A |;"
                                 u"import off | B; accept |"_s,
                        .scanned = u"B"_s};
    QTest::newRow("a waiting card ejected during an import")
        << ProposalCase{.steps = u"import on |; mount A |; eject A |; import off |"_s};
    QTest::newRow("dismissed until ejected")
        << ProposalCase{.steps = u"mount A | A; dismiss |; notice A |; eject A |; mount A | A"_s};
    QTest::newRow("accepting scans the proposed cards") << ProposalCase{
        .steps = u"mount B | B; mount-usb A | A,B; accept |"_s, .scanned = u"A,B"_s};
    QTest::newRow("the scan of newly mounted media takes the waiting cards")
        << ProposalCase{.steps = u"request on |; mount B |; mount A |; scan-new |; request off |"_s,
                        .scanned = u"A,B"_s};
    QTest::newRow("the scan of all removable volumes") << ProposalCase{
        .atLaunch = {u"OLD"_s},
        .steps = u"mount-internal DISK |; mount-loop IMAGE | IMAGE; scan-all | IMAGE"_s,
        .scanned = u"OLD,IMAGE"_s};
    QTest::newRow("a failing listing drops the notice")
        << ProposalCase{.steps = u"fail on |; mount A |; fail off |; eject A |; mount A | A"_s};
    QTest::newRow("an older listing does not overtake an unmount")
        << ProposalCase{.steps = u"hold |; mount A |; eject A |; release |"_s};
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

    for (const QString &step : c.steps.split(u';')) {
        QVERIFY(fixture.perform(*model, step.section(u'|', 0, 0).trimmed()));
        QVERIFY2(names(model->shellState().mountProposal().value_or(MountProposal{}).sources)
                     == step.section(u'|', 1).trimmed(),
                 qPrintable(step));
    }
    QCOMPARE(fixture.observed->callsOnMainThread(), 1); // the snapshot at launch
    if (c.scanned) {
        QVERIFY(QTest::qWaitFor([&] { return !model->importState().isScanningImportSources(); }));
        QCOMPARE(names(model->importState().importReviewState().review->volumes), *c.scanned);
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
    QVERIFY(fixture.locationStore->save(active));
    QVERIFY(fixture.locationStore->saveRetained(retained));
    if (scan == CacheScan::AllVolumes)
        fixture.mount(u"EXT"_s, Medium::UsbStick);
    const auto model = fixture.make();
    fixture.connect(*model);

    if (scan == CacheScan::Folder)
        model->importWorkflows().scanFolder(parent);
    else if (scan == CacheScan::AllVolumes)
        model->importWorkflows().scanAllRemovableVolumes();
    else if (fixture.perform(*model, u"mount-usb EXT"_s))
        model->importWorkflows().acceptMountProposal();
    QVERIFY(QTest::qWaitFor([&] { return !model->importState().isScanningImportSources(); }));
    const ImportReview review = *model->importState().importReviewState().review;
    QCOMPARE(review.candidateCount(), 2);
    for (const ImportReviewItem &item : review.items)
        QVERIFY2(item.url.startsWith(parent + u"/DCIM/"_s), qPrintable(item.url));
}

QTEST_GUILESS_MAIN(MountProposalTests)
#include "MountProposalTests.moc"
