#include <PellwickCore/Ingest/TransferProgress.h>

#include <QTest>

using namespace Pellwick;

class TransferProgressTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void phasesRoundTripThroughExactRawValues();
    void onlyWaitingPhasesAreIndeterminate();
    void equalityComparesEveryField();
};

void TransferProgressTests::phasesRoundTripThroughExactRawValues()
{
    const QStringList raw{QStringLiteral("preparing"),
                          QStringLiteral("staging"),
                          QStringLiteral("copying"),
                          QStringLiteral("uploading"),
                          QStringLiteral("downloading"),
                          QStringLiteral("assembling"),
                          QStringLiteral("verifying")};
    for (int i = 0; i < raw.size(); ++i) {
        const auto phase = transferProgressPhaseFromRaw(raw.at(i));
        QVERIFY(phase);
        QCOMPARE(static_cast<int>(*phase), i);
        QCOMPARE(toRaw(*phase), raw.at(i));
    }
    QCOMPARE(transferProgressPhaseFromRaw(QStringLiteral("Copying")), std::nullopt);
    QCOMPARE(transferProgressPhaseFromRaw(QString()), std::nullopt);
    QCOMPARE(transferProgressPhaseFromRaw(QStringLiteral("copying ")), std::nullopt);
}

void TransferProgressTests::onlyWaitingPhasesAreIndeterminate()
{
    QVERIFY(isIndeterminate(TransferProgressPhase::Preparing));
    QVERIFY(isIndeterminate(TransferProgressPhase::Staging));
    QVERIFY(!isIndeterminate(TransferProgressPhase::Copying));
    QVERIFY(!isIndeterminate(TransferProgressPhase::Uploading));
    QVERIFY(!isIndeterminate(TransferProgressPhase::Downloading));
    QVERIFY(isIndeterminate(TransferProgressPhase::Assembling));
    QVERIFY(isIndeterminate(TransferProgressPhase::Verifying));
}

void TransferProgressTests::equalityComparesEveryField()
{
    const TransferProgress base{QUuid::createUuid(),
                                QStringLiteral("Move Ingest Cache"),
                                TransferProgressPhase::Copying,
                                std::nullopt,
                                QStringLiteral("2026/IMG_0001.CR3"),
                                10,
                                20,
                                100,
                                200,
                                0,
                                0};
    TransferProgress emptyDetail = base;
    emptyDetail.detail = QString();
    QVERIFY(base != emptyDetail);

    TransferProgress moreBytes = base;
    moreBytes.completedByteCount = 150;
    QVERIFY(base != moreBytes);
    QCOMPARE(moreBytes.id, base.id);

    // No validation: a file that grew during a move may report more than its total.
    TransferProgress overflow = base;
    overflow.completedByteCount = 300;
    QCOMPARE(overflow.completedByteCount, 300);
    QCOMPARE(TransferProgress(base), base);
}

QTEST_GUILESS_MAIN(TransferProgressTests)
#include "TransferProgressTests.moc"
