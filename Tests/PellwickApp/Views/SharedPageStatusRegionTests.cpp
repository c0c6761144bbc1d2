#include "ShellWindowFixture.h"

#include <PellwickApp/Views/Kit/TransferProgressRows.h>
#include <PellwickApp/Views/Shell/MountProposalBanner.h>
#include <PellwickApp/Views/Shell/SharedPageStatusRegion.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;
using namespace Pellwick::Test;

namespace {

QList<ImportScanVolume> volumes(int count)
{
    QList<ImportScanVolume> list;
    for (int index = 1; index <= count; ++index) {
        list.append({QStringLiteral("CARD %1").arg(index),
                     QStringLiteral("/media/card%1").arg(index),
                     QStringLiteral("UUID-%1").arg(index)});
    }
    return list;
}

QList<TransferProgress> progresses(int count)
{
    QList<TransferProgress> list;
    for (int index = 0; index < count; ++index) {
        TransferProgress progress;
        progress.id = QUuid::createUuid();
        progress.operationName = QStringLiteral("Import %1").arg(index + 1);
        progress.phase
            = index == 0 ? TransferProgressPhase::Uploading : TransferProgressPhase::Verifying;
        progress.completedByteCount = 25;
        progress.totalByteCount = 100;
        list.append(progress);
    }
    return list;
}

} // namespace

class SharedPageStatusRegionTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bannerMessage_data();
    void bannerMessage();
    void bannerButtonsAskTheirAction();
    void regionByState_data();
    void regionByState();
    void progressBarsShowBusyForUnmeasuredPhases();
    void outsideNamesAreShownAsTheyAre_data();
    void outsideNamesAreShownAsTheyAre();
};

void SharedPageStatusRegionTests::bannerMessage_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("message");

    QTest::newRow("one volume") << 1 << u"New media detected: CARD 1"_s;
    QTest::newRow("two volumes") << 2 << u"2 new media sources detected"_s;
    QTest::newRow("three volumes") << 3 << u"3 new media sources detected"_s;
}

void SharedPageStatusRegionTests::bannerMessage()
{
    QFETCH(int, count);
    QFETCH(QString, message);

    MountProposalBanner banner;
    banner.setSources(volumes(count));
    QCOMPARE(banner.message(), message);
    QCOMPARE(banner.findChild<QLabel *>(QStringLiteral("mount-proposal.message"))->text(), message);
    QCOMPARE(banner.objectName(), QStringLiteral("mount-proposal"));
    banner.resize(700, 56);
    saveGrab(banner, QStringLiteral("banner-%1-volumes").arg(count));
}

void SharedPageStatusRegionTests::bannerButtonsAskTheirAction()
{
    MountProposalBanner banner;
    QSignalSpy review(&banner, &MountProposalBanner::reviewRequested);
    QSignalSpy dismiss(&banner, &MountProposalBanner::dismissRequested);
    auto *notNow = banner.findChild<QPushButton *>(QStringLiteral("mount-proposal.not-now"));
    auto *reviewFiles = banner.findChild<QPushButton *>(QStringLiteral("mount-proposal.review"));
    QCOMPARE(notNow->text(), QStringLiteral("Not Now"));
    QCOMPARE(reviewFiles->text(), QStringLiteral("Review Files"));
    notNow->click();
    QCOMPARE(dismiss.size(), 1);
    QCOMPARE(review.size(), 0);
    reviewFiles->click();
    QCOMPARE(review.size(), 1);
    QCOMPARE(dismiss.size(), 1);
}

void SharedPageStatusRegionTests::regionByState_data()
{
    QTest::addColumn<int>("volumeCount");
    QTest::addColumn<int>("progressCount");
    QTest::addColumn<QString>("identifier");

    QTest::newRow("empty") << -1 << 0 << u"shared-page-status"_s;
    QTest::newRow("banner only") << 1 << 0 << u"shared-page-status"_s;
    QTest::newRow("progress only") << -1 << 2 << u"shared-transfer-progress"_s;
    QTest::newRow("banner above two progress rows") << 3 << 2 << u"shared-transfer-progress"_s;
}

void SharedPageStatusRegionTests::regionByState()
{
    QFETCH(int, volumeCount);
    QFETCH(int, progressCount);
    QFETCH(QString, identifier);

    SharedPageStatusRegion region;
    region.resize(900, SharedPageStatusRegion::fixedHeight);
    // A row that closes again must leave the identifier as it was.
    region.setProgresses(progresses(1));
    region.setProgresses({});
    if (volumeCount >= 0)
        region.setProposal(MountProposal{volumes(volumeCount)});
    region.setProgresses(progresses(progressCount));

    QCOMPARE(region.objectName(), identifier);
    // Named, and never a Tab stop itself: only the banner's buttons are.
    QCOMPARE(region.accessibleName(), u"Status"_s);
    QCOMPARE(region.focusPolicy(), Qt::NoFocus);
    QCOMPARE(region.height(), 72);
    QCOMPARE(region.minimumHeight(), 72);
    QCOMPARE(region.maximumHeight(), 72);
    QCOMPARE(region.banner()->isVisibleTo(&region), volumeCount >= 0);
    QCOMPARE(region.progressRows()->isVisibleTo(&region), progressCount > 0);
    const QList<QLabel *> titles
        = region.findChildren<QLabel *>(QStringLiteral("transfer-progress-title"));
    const QList<QLabel *> lines
        = region.findChildren<QLabel *>(QStringLiteral("transfer-progress-line"));
    QCOMPARE(titles.size(), progressCount);
    QCOMPARE(lines.size(), progressCount);
    for (int index = 0; index < progressCount; ++index) {
        QCOMPARE(titles[index]->text(), QStringLiteral("Import %1").arg(index + 1));
        QCOMPARE(lines[index]->text(),
                 index == 0 ? u"Uploading files — 25 B of 100 B"_s : u"Verifying files"_s);
    }
    if (volumeCount >= 0 && progressCount > 0) {
        region.show();
        QVERIFY(QTest::qWaitForWindowExposed(&region));
        // The banner sits above the rows.
        QTRY_VERIFY(region.banner()->geometry().bottom() < region.progressRows()->geometry().top());
    }
    saveGrab(region, QStringLiteral("region-") + QString::fromLatin1(QTest::currentDataTag()));
}

void SharedPageStatusRegionTests::progressBarsShowBusyForUnmeasuredPhases()
{
    TransferProgressRows rows;
    QList<TransferProgress> list = progresses(2);
    TransferProgress noTotal = list.first();
    noTotal.id = QUuid::createUuid();
    noTotal.totalByteCount = 0;
    list.append(noTotal);
    rows.setProgresses(list);
    const QList<QProgressBar *> bars
        = rows.findChildren<QProgressBar *>(QStringLiteral("transfer-progress-bar"));
    QCOMPARE(bars.size(), 3);
    QCOMPARE(bars[0]->maximum(), 10000);
    QCOMPARE(bars[0]->value(), 2500);
    QVERIFY(!bars[0]->isHidden());
    // Verifying, and a row without a byte total, show the spinner instead.
    QVERIFY(bars[1]->isHidden());
    QVERIFY(bars[2]->isHidden());
    // Fewer rows drop the extra widgets.
    rows.setProgresses(list.mid(0, 1));
    QCOMPARE(rows.findChildren<QProgressBar *>(QStringLiteral("transfer-progress-bar")).size(), 1);
}

void SharedPageStatusRegionTests::outsideNamesAreShownAsTheyAre_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("markup") << u"<b>CARD</b><img src=\"file:///etc/hosts\">"_s;
    QTest::newRow("link") << u"<a href=\"https://example.test/\">Click</a>"_s;
    QTest::newRow("entity") << u"R&amp;D &lt;1&gt;"_s;
    QTest::newRow("very long") << QString(5000, u'W');
}

void SharedPageStatusRegionTests::outsideNamesAreShownAsTheyAre()
{
    QFETCH(QString, name);

    MountProposalBanner banner;
    QList<ImportScanVolume> one = volumes(1);
    one.first().name = name;
    banner.setSources(one);
    auto *message = banner.findChild<QLabel *>(QStringLiteral("mount-proposal.message"));
    QCOMPARE(message->textFormat(), Qt::PlainText);
    QCOMPARE(message->text(), u"New media detected: "_s + name);
    QVERIFY(banner.minimumSizeHint().width() < 1000);

    TransferProgressRows rows;
    QList<TransferProgress> list = progresses(1);
    list.first().currentFilename = name;
    rows.setProgresses(list);
    auto *line = rows.findChild<QLabel *>(QStringLiteral("transfer-progress-line"));
    QCOMPARE(line->textFormat(), Qt::PlainText);
    QCOMPARE(line->text(), u"Uploading "_s + name + u" — 25 B of 100 B"_s);
    QVERIFY(rows.minimumSizeHint().width() < 1000);
}

QTEST_MAIN(SharedPageStatusRegionTests)
#include "SharedPageStatusRegionTests.moc"
