#include <PellwickApp/Views/ImportReview/ImportReviewStatusStrip.h>
#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>

#include <QScrollArea>
#include <QTest>

#include <Support/ImportReviewSamples.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

using Tone = LibraryPresentationTone;
using Alert = ImportReviewStatusAlert;

struct StripCase
{
    ImportReviewStatusInputs inputs{};
    QStringList values{u"Idle"_s, u"Idle"_s, u"Idle"_s, u"None"_s};
    Tone attentionTone = Tone::Secondary;
    QList<Alert> alerts{};
};

ImportReview unpaired(int count)
{
    QList<ImportReviewItem> items;
    for (int index = 0; index < count; ++index)
        items.append(sampleItem(SampleKind::UnpairedSidecar, QString::number(index) + u".xmp"_s));
    return sampleReview(items);
}

const QString triangle = u"exclamationmark.triangle"_s;

} // namespace

class ImportReviewStatusStripTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void presentation_data()
    {
        QTest::addColumn<StripCase>("row");
        QTest::newRow("idle") << StripCase{};
        QTest::newRow("one unpaired sidecar")
            << StripCase{.inputs = {.review = unpaired(1)},
                         .values = {u"Idle"_s, u"Idle"_s, u"Idle"_s, u"1 item"_s},
                         .attentionTone = Tone::Attention,
                         .alerts = {{u"Needs Attention: 1 item has an unpaired Sidecar. Review "
                                     u"before confirming Import."_s,
                                     triangle,
                                     Tone::Attention}}};
        QTest::newRow("all three strips in order") << StripCase{
            .inputs = {.review = unpaired(3),
                       .isRecovering = true,
                       .recoveryMessage = u"Resuming 2 imports"_s,
                       .importErrorMessage = u""_s},
            .values = {u"Idle"_s, u"Idle"_s, u"Recovering interrupted Import"_s, u"3 items"_s},
            .attentionTone = Tone::Attention,
            .alerts = {{u"Needs Attention: 3 items have unpaired Sidecars. Review "
                        u"before confirming Import."_s,
                        triangle,
                        Tone::Attention},
                       {u"Resuming 2 imports"_s, u"arrow.triangle.2.circlepath"_s, Tone::Active},
                       {u""_s, triangle, Tone::Danger}}};
        QTest::newRow("recovery ended")
            << StripCase{.inputs = {.recoveryMessage = u"Recovery stopped"_s},
                         .alerts = {{u"Recovery stopped"_s, triangle, Tone::Danger}}};
        QTest::newRow("success text is positive") << StripCase{
            .inputs = {.importErrorMessage = u"Added 3 files to Ingest Cache"_s,
                       .isImportMessageSuccess = true},
            .alerts
            = {{u"Added 3 files to Ingest Cache"_s, u"checkmark.circle"_s, Tone::Positive}}};
    }

    void presentation()
    {
        QFETCH(StripCase, row);
        const ImportReviewStatusPresentation shown = importReviewStatusPresentation(row.inputs);
        for (int index = 0; index < 3; ++index) {
            QCOMPARE(shown.items[index].value, row.values[index]);
            QCOMPARE(shown.items[index].isActive, row.values[index] != u"Idle"_s);
        }
        QCOMPARE(shown.items[3].value, row.values[3]);
        QCOMPARE(shown.items[3].tone, row.attentionTone);
        QCOMPARE(shown.alerts, row.alerts);

        ImportReviewStatusStrip strip;
        strip.setInputs(row.inputs);
        QStringList texts;
        for (AlertStrip *alert : strip.shownAlerts())
            texts.append(alert->text());
        QCOMPARE(texts.size(), row.alerts.size());
        for (qsizetype index = 0; index < texts.size(); ++index)
            QCOMPARE(texts[index], row.alerts[index].text);
        // The region is as tall as its strips, up to its maximum, and absent without any.
        strip.setFixedWidth(420);
        strip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&strip));
        QCOMPARE(strip.alertRegion()->isVisible(), !row.alerts.isEmpty());
        if (!row.alerts.isEmpty()) {
            const int content = strip.shownAlerts().constLast()->geometry().bottom() + 1;
            QCOMPARE(strip.alertRegion()->height(),
                     std::min(content, ImportReviewStatusStrip::alertRegionMaximumHeight));
        }
    }
};

QTEST_MAIN(ImportReviewStatusStripTests)
#include "ImportReviewStatusStripTests.moc"
